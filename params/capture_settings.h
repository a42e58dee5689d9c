// The capture mode the IMC is run in, and the values derived from it.
//
// One record per daemon, used on the main-loop thread: the parameter
// encoders read the size and the codes the IMC reports back at status bytes
// 0x16 and 0x17, the main loop waits poll_interval_ms between camera status
// polls (two frame periods of the video), and the status monitor keeps its
// exposure-settle watch here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace optad {

struct capture_settings {
    int width;            // image width in pixels
    int height;           // image height in pixels
    int resolution_code;  // IMC resolution code, also expected at status byte 0x16
    int frame_rate;       // frames per second, also expected at status byte 0x17
    int poll_interval_ms; // time between camera status polls

    // Exposure-settle watch: after an exposure change, how long the gain
    // (status byte 0x44) and shutter (0x43) indices have stayed unchanged.
    int gain_index;             // last value of status byte 0x44
    int gain_unchanged;         // consecutive polls it stayed the same
    int gain_settle_count;      // count at which it counts as settled
    int shutter_index;          // last value of status byte 0x43
    int shutter_unchanged;      // consecutive polls it stayed the same
    int shutter_settle_count;   // count at which it counts as settled
    int settle_in_progress;     // the watch is running
    int64_t settle_deadline_ms; // monotonic milliseconds; -1 = not started
};

// One row of the capture mode table: what a CaptureMode value selects.
struct capture_mode_row {
    int capture_mode;
    int width;
    int height;
    int resolution_code;
    int frame_rate;
    int poll_interval_ms;  // 2000 / frame_rate, rounded down
};

// Poll interval: two frame periods, so that every poll sees a status block
// the IMC has refreshed at least once.
inline constexpr size_t CAPTURE_MODE_COUNT = 3;
inline constexpr capture_mode_row capture_mode_table[CAPTURE_MODE_COUNT] = {
    // mode  width  height  code  fps  poll ms
    {1, 5472, 3648, 0x72, 8, 250},   // 20 MP
    {2, 3840, 2160, 0x60, 25, 80},   // 4K UHD
    {3, 3840, 2880, 0x61, 15, 133},  // 4:3
};

// The row of a CaptureMode value (1, 2 or 3); nullptr for any other value.
const capture_mode_row *capture_mode_find(int capture_mode);

// Copies a row's size, codes and poll interval into the record; the
// exposure-settle fields stay as they are.
constexpr void capture_settings_apply(capture_settings &settings, const capture_mode_row &row)
{
    settings.width = row.width;
    settings.height = row.height;
    settings.resolution_code = row.resolution_code;
    settings.frame_rate = row.frame_rate;
    settings.poll_interval_ms = row.poll_interval_ms;
}

// The record as the daemon starts: the 20-megapixel mode 1, no settle watch.
constexpr capture_settings capture_settings_initial()
{
    capture_settings s{};
    capture_settings_apply(s, capture_mode_table[0]);
    s.settle_in_progress = 0;
    s.settle_deadline_ms = -1;
    return s;
}

// The daemon's record.
extern capture_settings s_capture;

}  // namespace optad
