// The real optad on the rig, as the system tests of its D-Bus side use it:
// the simulated module (unpowered), the private system bus with the daemon's
// policy, the four mocked services, and the daemon once it owns its name.
#pragma once

#include "tests/support/rig.h"

#include <gio/gio.h>

#include <string>
#include <utility>
#include <vector>

namespace optad::test {

// The interface's 38 properties, in its document order.
extern const std::vector<std::string> interface_property_names;

// All four peers with their default parameters, some of them replaced.
std::vector<PeerStart> all_peers(const std::vector<PeerStart> &replaced = {});

// The same, but the power budget service never grants power: the daemon
// serves its parameters and never tries to power the module up.
std::vector<PeerStart> peers_without_grant(const std::vector<PeerStart> &replaced = {});

// The simulator's board straps: a PoE board (dc_off 1) needs the power
// budget service's grant, a DC board (dc_off 0) does not.
enum class Board { PoE, DC };

// What the simulated module and the board data look like when optad starts.
struct ModuleSetup {
    // optad-sim arguments (for example {"--set", "req_period_ms=5"}).
    std::vector<std::string> simulator_args;
    // Simulator commands run before optad starts, each answering "ok" (for
    // example "drive imc_power_type 0": a DC-phase module board).
    std::vector<std::string> before_optad;
    // The board data installed in the sandbox root.
    BoardData board;
    // Files written (fixed path, content) after the board data, before
    // optad starts: damaged board data, for instance.
    std::vector<std::pair<std::string, std::string>> files;
};

// For a scenario that spends most of a minute in the daemon's real-time
// waits (power-up retries, safe-boot recovery, restarts): it runs in the
// host build only, since the sanitizer and emulated builds would spend the
// same wall time on it without exercising different code.
#define OPTAD_HOST_ONLY_LONG_SCENARIO()                                                     \
    do {                                                                                    \
        if (::optad::test::time_scale() > 1)                                                \
            GTEST_SKIP() << "a long real-time scenario: host build only";                   \
    } while (0)

// A rig with the simulator (for the given board), the given peers and optad
// on the bus.
class DaemonRig : public Rig {
public:
    explicit DaemonRig(const std::vector<PeerStart> &peers, Board board = Board::PoE,
                       const ModuleSetup &module = {});
    bool ok() const { return Rig::ok() && daemon_ok_; }

private:
    bool daemon_ok_ = false;
};

// Waits until optad logged a line containing fragment (bounded, scaled).
bool optad_logged(Rig &rig, const std::string &fragment, int timeout_ms = 10000);
// Lines of optad's log containing fragment.
int optad_log_count(Rig &rig, const std::string &fragment);

// The service's property (null with *error set on a refusal).
GVariant *imc_get(Rig &rig, const char *name, GError **error = nullptr);
// The value printed with its type annotations, "" when the read failed.
std::string imc_get_text(Rig &rig, const char *name);
// Properties.Set on the service; the error text, "" on success.
std::string imc_set(Rig &rig, const char *name, GVariant *value);
// SetProperties with a list "a(sv)" given in GVariant text form, for
// example "[('Brightness', <70>)]": the reply printed ("(true,)"), or
// "error: <message>".
std::string imc_set_properties(Rig &rig, const std::string &list_text,
                               const char *interface = "com.tavik.Configuration.Legacy");
// GetRanges of names: the reply printed, or "error: <message>".
std::string imc_get_ranges(Rig &rig, const std::vector<std::string> &names,
                           const char *interface = "com.tavik.Configuration.Legacy");

// A key of the configuration file as it is on disk now ("" if missing).
std::string conf_value(Rig &rig, const char *group, const char *key);

// Kills the rig's dbus-daemon (found by its configuration file): the bus
// goes away under every client. False when it was not found.
bool kill_bus(Rig &rig);

// The message of a D-Bus error without GDBus's "GDBus.Error:name: " prefix.
std::string error_text(const GError *error);

}  // namespace optad::test
