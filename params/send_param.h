// Sending a parameter job's frame and resending it until the IMC shows it.
//
// The main loop hands every parameter job it takes to send_param (after it
// has checked that the IMC is ready and cleared both link buffers). After
// each status poll the confirmation check (confirm.h) looks at the pending
// jobs; one the IMC has not applied within its time-out goes back on the
// job list through wait_or_retry_command, up to ten sends in all. Main-loop
// thread; the encoder runs under the parameter table's lock.
#pragma once

#include <cstdint>

namespace optad {

// How long a sent frame may wait for its confirmation before it is sent
// again: 5 s, and 60 s for the focus mode (a one-shot focus run takes long).
inline constexpr int64_t CONFIRM_TIMEOUT_US = 5'000'000;
inline constexpr int64_t FOCUS_MODE_CONFIRM_TIMEOUT_US = 60'000'000;
// Sends of one job without a confirmation before it is given up.
inline constexpr int SEND_TRIES_LIMIT = 10;
// How long a parameter frame waits for the IMC's REQ.
inline constexpr int64_t SEND_PARAM_REQ_TIMEOUT_US = 10'000'000;

// Encodes and sends parameter job `job` (12..47); returns a SEND_PARAM_
// value (daemon/ops.h). On success the job's send time is now and, for a
// job the status block confirms, its record is pending with its try count
// one higher; jobs 34 and 47 go idle at once (their try count 0).
int send_param(int job);

// For a pending job the last status reply did not confirm: 1 while it may
// still wait (or it was just queued again), 0 when it was given up.
int wait_or_retry_command(int job);

}  // namespace optad
