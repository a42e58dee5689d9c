// Fakes for the daemon's outside operations: every entry of DaemonOps
// records its call and answers as the test asks.
#pragma once

#include "daemon/ops.h"

#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace optad::test {

struct FakeOps {
    // Every call in order, by operation name (D-Bus and listener threads
    // record too, so the list is guarded).
    std::vector<std::string> calls;

    // Results, taken from the front; the default once a queue runs dry.
    std::deque<int> has_enough_power;  // default 1
    std::deque<int> power_up;          // default 0
    std::deque<int> request_camera_status;  // default 0
    std::deque<int> send_param;        // default SEND_PARAM_SENT
    int shutdown_result = 0;
    int module_powered = 0;
    int check_firmware_version_result = -2;
    int firmware_upgrade_result = 0;
    int wait_for_dtct_strm_result = 0;
    int spi_open_result = 0;
    // Time-outs of the wait for the image pipeline service before it comes.
    int image_control_wait_start_timeouts = 0;
    int poe_client_start_result = 1;
    // Like the real shutdown: empty the job list and clear the IMC-ready flag.
    bool shutdown_like_real = true;

    // Arguments seen.
    std::vector<std::pair<int, int>> power_up_args;  // (safe_boot, skip_checks)
    std::vector<std::pair<int, int>> shutdown_args;  // (skip_checks, skip_reset)
    std::vector<std::pair<int, int>> overlay_args;   // (kind, value)
    std::vector<int> sent;                           // jobs handed to send_param
    std::vector<bool> buffers_clear_at_send;         // both link buffers zero at send_param
    std::vector<int> black_video_args;
    std::vector<int> stream_args;
    std::vector<std::vector<int>> datacache_args;    // sensor, then optics
    std::vector<std::string> thread_names;           // of the threads that ran a listener body
    std::string dbus_thread_name;                    // of the thread that started the service

    // Link buffers handed out by the fake spi_open_and_init.
    uint8_t send_buf[512] = {};
    uint8_t recv_buf[512] = {};

    int count(const std::string &name) const;
};

// The fakes in use; reset and installed into daemon_ops by install_fake_ops().
FakeOps &fakes();
std::mutex &fakes_mutex();

// Resets the fakes and makes daemon_ops point at them.
void install_fake_ops();

// The name of the calling thread as the kernel keeps it (at most 15
// characters).
std::string current_thread_name();

}  // namespace optad::test
