// The exposure-settle watch: after an exposure change the IMC's automatic
// exposure takes a while to find its new gain and shutter. While it does,
// ExposureProgress stays 1; the watch sets it back to 0 once the gain
// (status byte 0x44) and shutter (0x43) indices have stayed unchanged for
// long enough, or after 5 s at the latest.
//
// The state lives in the capture settings record. start_exposure_settle_watch
// (status_monitor.h) and the exposure mode encoder start it; the status
// check runs it at every poll. Main-loop thread; other threads ask with
// request_exposure_settle_watch().
#pragma once

namespace optad {

// Polls, per CaptureMode, that each index must have stayed the same for it
// to count as settled: the slower the frame rate, the fewer polls.
struct settle_count_row {
    int capture_mode;
    int gain_count;     // status byte 0x44
    int shutter_count;  // status byte 0x43
};

// The row of a CaptureMode; any mode the table does not list gets the last
// row's counts (capture_mode 0).
const settle_count_row &settle_counts_for(int capture_mode);

// One poll of the watch (recv_buf holds the reply). Does nothing unless the
// watch is in progress and the exposure job is not waiting for its
// confirmation.
void exposure_settle_watch();

}  // namespace optad
