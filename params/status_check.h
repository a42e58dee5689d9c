// What every camera status reply goes through: the module's faults, the
// poll rate, the confirmations, the exposure-settle watch and, by daemon
// state, the module's own changes or the start-up sync.
#pragma once

#include <cstdint>

namespace optad {

// Heart beat, protector and FPGA check time-outs.
inline constexpr int64_t HEARTBEAT_TIMEOUT_US = 5'000'000;
inline constexpr int64_t PROTECTOR_MOVING_TIMEOUT_US = 2'000'000;
inline constexpr int64_t FPGA_CHECK_PERIOD_US = 60'000'000;

// After each successful status request (recv_buf holds the reply). Always 0.
// Main-loop thread.
int check_camera_status();

// The fault checks; 0 when there is none, negative when a fault was found
// and its job (JT_ERROR or JT_FPGA_ERROR) queued.
int check_for_errors();

// Follows the module's own changes while running (OPTAD_STARTUP_DONE).
void check_new_values();

// The heart-beat timer back to "not started" (before a restart).
void reset_heart_beat_watch();

// The protector-moving timer back to "not started" (a protector command
// was confirmed).
void reset_protector_moving_timer();

// For tests only: the heart-beat, protector and FPGA timers back to "not
// started", as at process start.
void status_check_reset_for_tests();

}  // namespace optad
