#include "params/limits.h"

#include "config/param_settings.h"
#include "dbus/legacy_generator.h"
#include "tests/support/test_support.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace optad {
namespace {

std::vector<int> changed_ids;

void record_change(int id, const char *, GVariant *)
{
    changed_ids.push_back(id);
}

class LimitsTest : public ::testing::Test {
protected:
    test::SandboxRoot root;
    test::LogCapture log;

    void SetUp() override
    {
        g_mkdir_with_parents(root.path("/etc/optad").c_str(), 0755);
        g_mkdir_with_parents(root.path("/etc/legacyconfig/legacymappings.d").c_str(), 0755);
        param_reset_for_tests();
        param_init();
        param_register_changed_cb(record_change);
        changed_ids.clear();
        s_sdl = {};
    }
    void TearDown() override
    {
        param_reset_for_tests();
        s_sdl = {};
    }

    void set_rotation(int rotation) { param_set_int_value(PARAM_IMAGE_ROTATION, rotation); }
};

TEST_F(LimitsTest, ClampWindowEdges)
{
    struct {
        int rotation;
        float p, q;
        const window_limits *limits;
        float expected_p, expected_q;
    } const cases[] = {
        // Too small: grows at the near edge, then moves up to the lower edge.
        {0, 0.0f, 0.05f, &focus_window_limits, 11 / 256.0f, 37 / 256.0f},
        // Rotated: grows at the far edge (hi 13, lo -13), then the same.
        {1, 0.0f, 0.05f, &focus_window_limits, 11 / 256.0f, 37 / 256.0f},
        // Reverse order comes back sorted (a = 154, b = 102).
        {0, 0.6f, 0.4f, &focus_window_limits, 0.3984375f, 0.6015625f},
        // Too large for the focus window (179), near edge kept, within bounds.
        {0, 0.1f, 0.9f, &focus_window_limits, 26 / 256.0f, 205 / 256.0f},
        {1, 0.1f, 0.9f, &focus_window_limits, 51 / 256.0f, 230 / 256.0f},
        // Beyond the upper edge limit 244: moved down, size kept.
        {0, 0.9f, 1.0f, &exposure_window_limits, 218 / 256.0f, 244 / 256.0f},
        // Exactly on the bounds: unchanged.
        {0, 11 / 256.0f, 241 / 256.0f, &exposure_window_limits, 11 / 256.0f, 241 / 256.0f},
        // Half a grid step rounds away from zero: 0.5/256 -> 1, 40.5/256 -> 41.
        {0, 20.5f / 256.0f, 40.5f / 256.0f, &exposure_window_limits, 21 / 256.0f, 47 / 256.0f},
    };
    for (const auto &c : cases) {
        set_rotation(c.rotation);
        float p = c.p;
        float q = c.q;
        clamp_window_edges(&p, &q, *c.limits);
        EXPECT_FLOAT_EQ(p, c.expected_p) << c.p << " " << c.q << " rotation " << c.rotation;
        EXPECT_FLOAT_EQ(q, c.expected_q) << c.p << " " << c.q << " rotation " << c.rotation;
    }
}

TEST_F(LimitsTest, FocusWindowDefaultIsNormalised)
{
    g_autofree char *w =
        adjust_focus_window_coordinates("0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555");
    EXPECT_STREQ(w, "0.449219,0.449219:0.554688,0.449219:0.554688,0.554688:0.449219,0.554688");
}

TEST_F(LimitsTest, FocusWindowUsesCornersZeroAndTwo)
{
    // Corners 1 and 3 are ignored; the result runs clockwise from top-left.
    g_autofree char *w = adjust_focus_window_coordinates("0.5,0.25:9,9:0.25,0.5:-3,-3");
    EXPECT_STREQ(w, "0.250000,0.250000:0.500000,0.250000:0.500000,0.500000:0.250000,0.500000");
}

TEST_F(LimitsTest, FocusWindowThatDoesNotParse)
{
    const char *bad[] = {"0.1,0.1:0.2,0.1:0.2,0.2:0.1", "", "a,b:c,d:e,f:g,h", nullptr,
                         "nan,0.1:0.2,0.1:0.2,0.2:0.1,0.2", "0.1,0.1:0.2,0.1:inf,0.2:0.1,0.2"};
    for (const char *s : bad) {
        log.clear();
        EXPECT_EQ(adjust_focus_window_coordinates(s), nullptr) << (s ? s : "null");
        EXPECT_EQ(log.count("ERROR:optad:optad:adjust_focus_window_coordinates - invalid window "
                            "co-ords format!\n"),
                  1);
    }
}

TEST_F(LimitsTest, FocusWindowFarOutsideTheImageIsPulledIn)
{
    g_autofree char *w = adjust_focus_window_coordinates("-1e30,0.1:0,0:1e30,0.9:0,0");
    // Too large (179 max), near edge kept, then moved up to the lower edge.
    EXPECT_STREQ(w, "0.042969,0.101562:0.742188,0.101562:0.742188,0.800781:0.042969,0.800781");
}

TEST_F(LimitsTest, ExposureWindowShrinksToMaximumSize)
{
    param_set_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 0);
    param_set_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 9999);
    adjust_exposure_window();
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT), 430);   // 11/256
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT), 9413);  // 241/256
    // Defaults 3333 and 6666 lie on 85 and 171 (x/256): onto the grid.
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP), 3320);
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM), 6679);

    std::string conf = root.read("/etc/optad/optad.conf");
    EXPECT_NE(conf.find("CustomExposureWindow.C0.Left=430\n"), std::string::npos);
    EXPECT_NE(conf.find("CustomExposureWindow.C0.Right=9413\n"), std::string::npos);
    EXPECT_NE(conf.find("CustomExposureWindow.C0.Top=3320\n"), std::string::npos);

    // Already fitted: nothing is stored again.
    changed_ids.clear();
    adjust_exposure_window();
    EXPECT_TRUE(changed_ids.empty());
}

TEST_F(LimitsTest, ExposureWindowRotatedKeepsTheFarEdge)
{
    set_rotation(1);
    param_set_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 0);
    param_set_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 9999);
    adjust_exposure_window();
    // 26..256 then moved down to 14..244.
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT), 547);
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT), 9530);
}

TEST_F(LimitsTest, ValuesOutsideTheLimitsFallToTheLowerLimit)
{
    s_sdl = {5, 20, 0, 51, 3, 30};
    struct {
        int iris, gain;
        int expected_iris, expected_gain;
    } const cases[] = {
        {3, 2, 5, 3}, {25, 31, 5, 3}, {5, 3, 5, 3}, {20, 30, 20, 30}, {12, 10, 12, 10},
    };
    for (const auto &c : cases) {
        param_set_int_value(PARAM_IRIS, c.iris);
        param_set_int_value(PARAM_GAIN, c.gain);
        update_shutter_gain_iris_config();
        EXPECT_EQ(param_get_int_value(PARAM_IRIS), c.expected_iris) << c.iris;
        EXPECT_EQ(param_get_int_value(PARAM_GAIN), c.expected_gain) << c.gain;
    }
    EXPECT_EQ(param_get_int_value(PARAM_SHUTTER), 20000);  // inside 125..1000000
}

TEST_F(LimitsTest, ShutterOutsideFallsToTheLongestExposure)
{
    s_sdl = {0, 28, 11, 30, 0, 40};  // 125000 µs down to 4761 µs
    struct {
        int shutter, expected;
    } const cases[] = {
        {20000, 20000}, {125000, 125000}, {4761, 4761}, {4000, 125000}, {200000, 125000},
    };
    for (const auto &c : cases) {
        param_set_int_value(PARAM_SHUTTER, c.shutter);
        update_shutter_gain_iris_config();
        EXPECT_EQ(param_get_int_value(PARAM_SHUTTER), c.expected) << c.shutter;
    }
    EXPECT_EQ(log.count_containing("invalid value"), 0);

    // The mapping file offers exactly the allowed rows.
    std::string file = root.read(LEGACY_SHUTTER_GAIN_IRIS_PATH);
    EXPECT_NE(file.find("value=\"enum:4761|1/210,"), std::string::npos);
    EXPECT_NE(file.find(",111111|1/9,125000|1/8\" />"), std::string::npos);
}

TEST_F(LimitsTest, InvalidLongestShutterIsReplacedByOneSecond)
{
    s_sdl = {0, 28, 60, 51, 0, 40};
    update_shutter_gain_iris_config();
    EXPECT_EQ(log.count("WARNING:optad:optad:update_shutter_gain_iris_config - "
                        "s_sdl.shutter_speed_min invalid value: 60\n"),
              1);
    EXPECT_EQ(param_get_int_value(PARAM_SHUTTER), 1000000);
    // The file is written with the replaced bound: every shutter row.
    std::string file = root.read(LEGACY_SHUTTER_GAIN_IRIS_PATH);
    EXPECT_NE(file.find("value=\"enum:125|1/8000,"), std::string::npos);
    EXPECT_NE(file.find(",833333|1/1.2,1000000|1\" />"), std::string::npos);
}

}  // namespace
}  // namespace optad
