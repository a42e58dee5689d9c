// The rig of a system test: what the real programs of the build run against.
//
//   test::Rig rig(test::RigOptions()
//                     .with_simulator()
//                     .with_peer(test::Peer::Framerd)
//                     .with_peer(test::Peer::Wattd, R"({"grant": 10.0})")
//                     .with_peer(test::Peer::Captiond)
//                     .with_optad());
//   ASSERT_TRUE(rig.ok());
//   rig.sim().ok("power on");
//   g_autoptr(GVariant) v = rig.get_property("com.tavik.ImcControl", "/com/tavik/ImcControl",
//                                            "com.tavik.Configuration.Legacy", "Brightness");
//   EXPECT_EQ(rig.peer(test::Peer::Captiond).calls_text(), "...");
//   EXPECT_TRUE(rig.optad()->wait_for_line(test::Program::Stream::Err, "...", test::scaled_ms(5000)));
//
// In the order it comes up (and goes down again in reverse in the
// destructor): a sandbox root (with the camera's writable directories,
// unless told otherwise, and its board data when asked for), the module
// simulator, a private bus configured
// like the camera's system bus with the daemon's own policy (bus.h), the
// test's own connection to it, the chosen mocked peers (mock_peer.h), and
// the real optad of the build with OPTAD_ROOT, DBUS_SYSTEM_BUS_ADDRESS and
// OPTAD_VERBOSE=1. Nothing of it reaches the machine's own buses: every
// child gets an explicit environment without the machine's bus addresses,
// and without a private bus DBUS_SYSTEM_BUS_ADDRESS names a socket that
// does not exist.
//
// The rig's connection dispatches in a main context of its own, the
// thread-default context of the test's thread while the rig lives: signal
// subscriptions and objects the test registers on it are served while a
// wait of the rig (iterate_until, SignalRecorder::wait_for) iterates it.
// Every wait is bounded and scaled for slow builds (scaled_ms). After a
// failed test the destructor prints the last lines of every program's
// stderr.
#pragma once

#include "tests/support/board_data.h"
#include "tests/support/bus.h"
#include "tests/support/mock_peer.h"
#include "tests/support/program.h"
#include "tests/support/signal_recorder.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_support.h"

#include <gio/gio.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace optad::test {

// The daemon's service on the bus.
constexpr const char IMC_CONTROL_NAME[] = "com.tavik.ImcControl";
constexpr const char IMC_CONTROL_PATH[] = "/com/tavik/ImcControl";
constexpr const char IMC_CONTROL_INTERFACE[] = "com.tavik.Configuration.Legacy";

struct PeerStart {
    Peer peer;
    std::string parameters;  // the template's JSON parameters, "" for its defaults
};

// What a rig runs; by default the private bus and the camera's directories
// only. Chained: RigOptions().with_simulator().with_peer(Peer::Framerd).with_optad().
struct RigOptions {
    // The module simulator, with these arguments (for example {"--set",
    // "req_period_ms=5"}).
    bool simulator = false;
    std::vector<std::string> simulator_args;
    // Control commands for the simulator once it is up, before anything
    // else starts; each must answer "ok" (for example "drive dc_off 1": a
    // board on Power over Ethernet, which needs the power budget).
    std::vector<std::string> simulator_setup;
    // The private bus and the test's connection to it.
    bool bus = true;
    // The mocked peers to start, in this order (needs the bus).
    std::vector<PeerStart> peers;
    // optad, started last; the rig is ok() once it owns its bus name.
    bool optad = false;
    // The directories the camera's root file system has and optad writes
    // into: /etc/optad, /var/run/optad, /etc/legacyconfig/legacymappings.d,
    // /lib/persistent/var/lib/optics.
    bool camera_directories = true;
    // The board data of the camera's image (PMIC command files, temperature
    // script, firmware image; board_data.h), installed with the camera's
    // directories when asked for (a rig whose optad powers the module).
    bool board_data = false;
    BoardData board;

    RigOptions &with_simulator(std::vector<std::string> args = {})
    {
        simulator = true;
        simulator_args = std::move(args);
        return *this;
    }
    RigOptions &with_simulator_setup(std::vector<std::string> commands)
    {
        simulator_setup = std::move(commands);
        return *this;
    }
    RigOptions &without_bus()
    {
        bus = false;
        return *this;
    }
    RigOptions &with_peer(Peer peer, std::string parameters = "")
    {
        peers.push_back({peer, std::move(parameters)});
        return *this;
    }
    RigOptions &with_optad()
    {
        optad = true;
        return *this;
    }
    RigOptions &with_board_data(BoardData data)
    {
        board_data = true;
        board = data;
        return *this;
    }
    RigOptions &without_board_data()
    {
        board_data = false;
        return *this;
    }
    RigOptions &without_camera_directories()
    {
        camera_directories = false;
        return *this;
    }
};

class Rig {
public:
    explicit Rig(const RigOptions &options = {});
    ~Rig();
    Rig(const Rig &) = delete;
    Rig &operator=(const Rig &) = delete;

    // Everything the options asked for came up (each part that did not has
    // failed the test already).
    bool ok() const { return ok_; }

    SandboxRoot &root() { return root_; }
    // The rig's directory of generated files and program outputs.
    const std::string &dir() const { return dir_; }
    // The simulator (fails the test and aborts it if none was asked for).
    Simulator &sim();
    bool has_sim() const { return sim_ != nullptr; }

    // The bus address given to the programs (a socket where nothing listens
    // when the rig runs no bus).
    const std::string &bus_address() const { return bus_address_; }
    // The test's own connection (null without a bus).
    GDBusConnection *bus() const { return connection_; }
    GMainContext *context() const { return context_; }
    // The bus's dbus-daemon (null without a bus): a test that takes the bus
    // away under its clients ends it.
    Program *bus_program() { return private_bus_ != nullptr && private_bus_->running() ? &private_bus_->program() : nullptr; }

    // A peer; started or not (start(), stop(), restart(), calls...).
    MockPeer &peer(Peer peer);

    // Starts optad of the build (after a previous run has ended or been
    // stopped) with OPTAD_ROOT, DBUS_SYSTEM_BUS_ADDRESS, OPTAD_VERBOSE=1 and
    // extra_env ("NAME=value"). Its stderr carries every log line. Null, with
    // a test failure, when it cannot be started.
    Program *start_optad(const std::vector<std::string> &extra_env = {});
    // Waits until optad owns com.tavik.ImcControl; false, with a test failure
    // naming its last lines, when it does not within timeout_ms or ends.
    bool wait_for_optad_on_bus(int timeout_ms);
    // The last optad started (null before).
    Program *optad() { return optad_.get(); }
    // Ends it (SIGTERM, then SIGKILL) and waits until its name is released;
    // its status (as Program::stop()).
    int stop_optad();

    // A program run as a client of the bus, as root or (as_nobody) as the
    // unprivileged user nobody:nogroup without supplementary groups
    // (setpriv), with DBUS_SYSTEM_BUS_ADDRESS: its status (as Program::wait,
    // killed after timeout_ms), stdout and stderr.
    // The same, left running (a monitor, a name holder): the caller waits
    // for it or ends it.
    std::unique_ptr<Program> start_client(const std::vector<std::string> &argv, bool as_nobody);
    struct ClientRun {
        int status = -1;
        std::string out;
        std::string err;
    };
    ClientRun run_client(const std::vector<std::string> &argv, bool as_nobody, int timeout_ms);

    // D-Bus on the test's connection, bounded (see bus.h; timeout_ms < 0:
    // bus_call_timeout_ms()).
    GVariant *call(const char *destination, const char *path, const char *interface, const char *method,
                   GVariant *args, GError **error = nullptr, int timeout_ms = -1);
    // Properties.Get: the property's value (the reply's variant unpacked), or
    // null.
    GVariant *get_property(const char *destination, const char *path, const char *interface, const char *name,
                           GError **error = nullptr);
    bool has_owner(const char *name);
    bool wait_for_owner(const char *name, bool owned, int timeout_ms, Program *watched = nullptr);
    // Iterates the rig's context until done() or timeout_ms (bus.h).
    bool iterate_until(const std::function<bool()> &done, int timeout_ms);

private:
    SandboxRoot root_;
    std::string dir_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<PrivateBus> private_bus_;
    std::string bus_address_;
    GMainContext *context_ = nullptr;
    GDBusConnection *connection_ = nullptr;
    std::array<std::unique_ptr<MockPeer>, std::size(ALL_PEERS)> peers_;
    std::unique_ptr<Program> optad_;
    int clients_ = 0;
    bool ok_ = true;

    void report_failure_context();
};

}  // namespace optad::test
