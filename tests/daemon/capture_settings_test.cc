// The capture settings record and the capture mode table.
#include "params/capture_settings.h"

#include <gtest/gtest.h>

namespace optad {
namespace {

TEST(CaptureSettings, StartsInTheTwentyMegapixelModeWithoutSettleWatch)
{
    capture_settings s = capture_settings_initial();
    EXPECT_EQ(s.width, 5472);
    EXPECT_EQ(s.poll_interval_ms, 250);
    EXPECT_EQ(s.settle_in_progress, 0);
    EXPECT_EQ(s.settle_deadline_ms, -1);
}

TEST(CaptureSettings, ModeTable)
{
    struct Expect {
        int mode, width, height, code, fps, poll;
    };
    for (Expect e : {Expect{1, 5472, 3648, 0x72, 8, 250}, Expect{2, 3840, 2160, 0x60, 25, 80},
                     Expect{3, 3840, 2880, 0x61, 15, 133}}) {
        const capture_mode_row *row = capture_mode_find(e.mode);
        ASSERT_NE(row, nullptr) << e.mode;
        capture_settings s = capture_settings_initial();
        s.settle_in_progress = 1;
        capture_settings_apply(s, *row);
        EXPECT_EQ(s.width, e.width);
        EXPECT_EQ(s.height, e.height);
        EXPECT_EQ(s.resolution_code, e.code);
        EXPECT_EQ(s.frame_rate, e.fps);
        EXPECT_EQ(s.poll_interval_ms, e.poll);
        // Two frame periods, rounded down.
        EXPECT_EQ(s.poll_interval_ms, 2000 / s.frame_rate);
        EXPECT_EQ(s.settle_in_progress, 1);  // the settle watch is not touched
    }
    for (int mode : {0, 4, -1, 20})
        EXPECT_EQ(capture_mode_find(mode), nullptr) << mode;
}

}  // namespace
}  // namespace optad
