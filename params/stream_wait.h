// Waiting for the video bridge to report the module's video stream.
#pragma once

#include <cstdint>

namespace optad {

// Readings of the FPGA status and the pause after each (about 10 s in all).
inline constexpr int STREAM_WAIT_ROUNDS = 100;
inline constexpr int64_t STREAM_WAIT_PAUSE_US = 100'000;

// Polls the FPGA's io_exp until link_up, two_lane and dtct_strm are all
// set, following the stages link, lanes, stream (a bit lost sends it back
// to the start). 0 when the stream was detected, -1 after the last round.
// Main-loop thread; blocks it for up to about 10 s.
int wait_for_dtct_strm();

}  // namespace optad
