// Parameter control as the rig shows it: the set-parameter frames the
// simulated IMC received, the frames a parameter job must put on the wire
// (built here from the frame layout and the encoders' value rules, never
// from the daemon's own encoders), the start-up push of a module with the
// rig's configuration, and the daemon's announcements.
#pragma once

#include "tests/system/daemon_rig.h"
#include "tests/system/module_trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace optad::test {

// The camera status request (checksum 0x00F8, length 8, type 0x00F8, no
// body) and the IMC system reset command, as the imc log prints them.
constexpr const char STATUS_REQUEST_FRAME[] = "00f8000800f80000";
constexpr const char SYSTEM_RESET_FRAME[] = "0023000e00100006050008000000";

// Daemon log lines of the start-up states.
constexpr const char STARTUP_DONE[] =
    "DEBUG:optad:main_loop:JT_WAIT_STREAM - OPTAD state changed to OPTAD_STARTUP_DONE";
constexpr const char UPDATE_PARAMS[] =
    "DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - OPTAD state changed to OPTAD_STARTUP_UPDATE_PARAMS";

// A set-parameter frame: checksum (16-bit sum of bytes 4 to the end), length
// 12 + N, type 0x0010, body length N + 4, command length N + 3, 0x00,
// group, item, the N value bytes; lower-case hex as the imc log prints it.
std::string set_frame(uint8_t group, uint8_t item, const std::vector<uint8_t> &values);

// One parameter job's command as the IMC must receive it, and the verbose
// line (a fragment of it) the daemon logs when the status confirms it
// (nullptr: the job has no confirmation).
struct JobFrame {
    int job;
    uint8_t group;
    uint8_t item;
    std::vector<uint8_t> values;
    const char *confirmed;

    std::string frame() const { return set_frame(group, item, values); }
};

// The start-up push for the rig's configuration (a fresh configuration
// file: every parameter at its default) on the simulator's factory module
// (capture mode 0x72 at 8 fps, limits iris 0-28, shutter 0-51, gain 0-40),
// in the order the jobs are queued. with_protector_job: the lens is
// attached and the protector closed, so the push opens it (job 40).
std::vector<JobFrame> startup_push(bool with_protector_job);
// The frames of a list of jobs.
std::vector<std::string> frames_of(const std::vector<JobFrame> &jobs);

// The frames of the imc log other than status requests (set commands,
// system resets, firmware messages), in order.
std::vector<std::string> command_frames(Simulator &sim);
// The same with the simulator's time stamps.
std::vector<SimEvent> stamped_command_frames(Simulator &sim);

// Waits until the daemon logged fragment at least n times (bounded, scaled).
bool optad_logged_times(Rig &rig, const std::string &fragment, int n, int timeout_ms);

// A rig on a DC board (no power budget needed) with the given peers (all
// four with their defaults unless told), optionally with simulator commands
// before optad starts, that has reached
// OPTAD_STARTUP_DONE once. ready() tells whether it did.
class RunningModule {
public:
    explicit RunningModule(const ModuleSetup &module = {}, const std::vector<PeerStart> &peers = all_peers());
    bool ready() const { return ready_; }
    DaemonRig &rig() { return rig_; }
    Simulator &sim() { return rig_.sim(); }

private:
    DaemonRig rig_;
    bool ready_ = false;
};

// The entries of PropertiesChanged signals, each as (name, value printed
// with its type annotations: "70", "b'iris'"), in the order they came.
std::vector<std::pair<std::string, std::string>> changed_entries(const SignalRecorder &changed);
// Iterates until an entry (name, value) has arrived; false after timeout_ms.
bool wait_for_change(Rig &rig, SignalRecorder &changed, const std::string &name, const std::string &value,
                     int timeout_ms);

// The lens name the status cache publishes (group "LENS", parameter
// "INFO"), "" when the group file or the parameter does not exist.
std::string lens_cache_info(Rig &rig);

// The entries of one data cache as the simulator prints them (32-bit hex
// words), oldest first.
std::vector<std::string> datacache_entries(Simulator &sim, const std::string &name);

// The "sensor_data" entry for the current exposure indices the IMC shows
// (iris, shutter, gain: status bytes 0x42-0x44), as the simulator prints
// it: gain in dB, ISO, f-number x 10, exposure time in microseconds.
std::string sensor_entry(int iris, int shutter, int gain);
// The same for the indices the simulator's block holds now, once they have
// stopped moving (bounded wait); "" when they keep moving.
std::string settled_sensor_entry(Rig &rig, Simulator &sim);
// 32-bit words as the simulator prints data cache entries.
std::string hex_words(const std::vector<uint32_t> &words);

// The lines of the host event library's log (declarations, events).
std::vector<std::string> herald_events(Rig &rig);

}  // namespace optad::test
