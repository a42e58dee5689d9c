// The set handlers behind the parameter service: which parameter jobs a
// write queues for the IMC, what else it changes, and what it refuses.
// Writes go through handle_set_property as the bus would make them; the IMC
// counts as started (the ready gate open) unless a case says otherwise.
#include "config/param_settings.h"
#include "daemon/jobs.h"
#include "dbus/legacy_generator.h"
#include "dbus/property_handlers.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/settle_watch.h"
#include "params/status_monitor.h"
#include "tests/dbus/service_fixture.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace optad {
namespace {

using test::bytes;
using test::Change;
using test::num;
using Jobs = std::vector<int>;
using Changes = std::vector<Change>;

constexpr const char SENSOR[] = "ImageSource.I0.Sensor";
constexpr const char DAY_NIGHT[] = "ImageSource.I0.DayNight";

TEST(PropertyHandlerTable, RowsInServiceOrderForEveryParameterButThree)
{
    const int order[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                         17, 18, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 31, 33, 34, 35, 36};
    ASSERT_EQ(PROPERTY_HANDLER_COUNT, 34);
    for (int i = 0; i < PROPERTY_HANDLER_COUNT; i++)
        EXPECT_EQ(property_handlers[i].param_id, order[i]) << "row " << i;
    // The capture settings belong to the image pipeline service and the
    // rotation to the rotation service: not exposed here.
    for (int id = 0; id < PARAM_COUNT; id++) {
        const bool exposed = id != PARAM_CAPTURE_MODE && id != PARAM_CAPTURE_FREQUENCY && id != PARAM_IMAGE_ROTATION;
        const property_handler_row *row = property_handler_find(id);
        EXPECT_EQ(row != nullptr, exposed) << param_get_name(id);
        if (row != nullptr) {
            EXPECT_EQ(row->param_id, id);
        }
    }
}

class PropertyHandlers : public test::ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        imc_ready(true);
    }

    // A write that must succeed, what it queued and announced; both are
    // cleared for the next step.
    void expect_write(const char *property, GVariant *value, const Jobs &queued, const Changes &announced)
    {
        SCOPED_TRACE(property);
        EXPECT_TRUE(set(property, value).ok);
        EXPECT_EQ(jobs(), queued);
        EXPECT_EQ(changes(), announced);
        clear_jobs();
        clear_changes();
    }

    // A refusal: the error, its WARNING line naming the handler, and
    // nothing stored, queued or announced.
    void expect_refusal(const char *property, GVariant *value, const char *handler, const std::string &message)
    {
        SCOPED_TRACE(property);
        log.clear();
        EXPECT_EQ(set(property, value).error, message);
        EXPECT_EQ(log.count("WARNING:optad:imc_control_dbus:" + std::string(handler) + " - " + message + "\n"), 1)
            << log.text();
        EXPECT_TRUE(jobs().empty());
        EXPECT_TRUE(changes().empty());
    }
};

TEST_F(PropertyHandlers, CommonRowsStoreAndQueueTheirOwnJob)
{
    struct Row {
        const char *property;
        GVariant *value;
        const char *group;
        const char *stored;
        Jobs queued;
    } rows[] = {
        {"Brightness", num(500), SENSOR, "500", {13}},  // advisory range only: not checked
        {"Iris", num(12), SENSOR, "12", {14}},
        {"Shutter", num(10000), SENSOR, "10000", {15}},
        {"Gain", num(20), SENSOR, "20", {16}},
        {"ExposureWindow", bytes("spot"), SENSOR, "spot", {20}},
        {"MaxGain", num(30), SENSOR, "30", {23}},
        {"WhiteBalanceManualR", num(100), SENSOR, "100", {26}},
        {"WhiteBalanceManualB", num(101), SENSOR, "101", {26}},
        {"Sharpness", num(41), SENSOR, "41", {27}},
        {"NoiseReductionTuning", num(51), SENSOR, "51", {28}},
        {"ColorLevel", num(52), SENSOR, "52", {29}},
        {"Stabilizer", bytes("on"), SENSOR, "on", {35}},
        {"FocusTraceCurve", bytes("850nm"), SENSOR, "850nm", {42}},
        {"DynamicContrastEnabled", bytes("yes"), SENSOR, "yes", {43}},
        {"DynamicContrastLevel", num(7), SENSOR, "7", {44}},
        {"ShiftLevel", num(60), DAY_NIGHT, "60", {38}},
        {"AutoIrCutFilterHysteresis", num(3), DAY_NIGHT, "3", {39}},
        {"SensorProtector", bytes("closed"), SENSOR, "closed", {40}},
        {"VignettingCorrection", bytes("no"), SENSOR, "no", {45}},
        {"AberrationCorrection", bytes("no"), SENSOR, "no", {46}},
        // The IMC reports exposure progress; there is no command for it, and
        // the row's job would be the power-up sequence of a running module.
        {"ExposureProgress", num(1), SENSOR, "1", {}},
    };
    for (const Row &r : rows) {
        const std::string shown = g_variant_is_of_type(r.value, G_VARIANT_TYPE_INT32)
                                      ? std::string(r.stored)
                                      : std::string("b'") + r.stored + "'";
        g_autoptr(GVariant) value = g_variant_take_ref(r.value);
        expect_write(r.property, g_variant_ref(value), r.queued, {{r.property, shown}});
        EXPECT_EQ(conf(r.group, r.property), r.stored) << r.property;
        // The same value again: nothing to send.
        expect_write(r.property, g_variant_ref(value), {}, {});
    }
}

TEST_F(PropertyHandlers, CommonRowsTakeAValueOfTheOtherTypeWithoutStoringIt)
{
    expect_write("Brightness", bytes("bright"), {}, {});
    expect_write("SensorProtector", num(1), {}, {});
    EXPECT_EQ(param(PARAM_BRIGHTNESS), "50");
    EXPECT_EQ(param(PARAM_SENSOR_PROTECTOR), "b'open'");
}

TEST_F(PropertyHandlers, NewExposureModeFollowsTheMaxShutterMap)
{
    expect_write("Exposure", bytes("flickerfree"), {12},
                 {{"Exposure", "b'flickerfree'"}, {"MaxExposureTime", "20000"}, {"ExposureProgress", "1"}});
    // Flicker-free at 50 Hz offers the one time 1/50 s.
    EXPECT_NE(root.read(LEGACY_MAXSHUTTER_PATH).find("value=\"enum:20000|1/50 sec\""), std::string::npos)
        << root.read(LEGACY_MAXSHUTTER_PATH);
    EXPECT_EQ(conf(SENSOR, "Exposure"), "flickerfree");
}

TEST_F(PropertyHandlers, SameExposureModeRestartsTheSettleWatchWithoutAJob)
{
    s_capture.settle_in_progress = 0;
    s_capture.settle_deadline_ms = 123456;
    expect_write("Exposure", bytes("auto"), {}, {{"ExposureProgress", "1"}});
    // The D-Bus thread only asks; the main loop's next poll of the watch
    // restarts it.
    EXPECT_EQ(s_capture.settle_in_progress, 0);
    exposure_settle_watch();
    EXPECT_EQ(s_capture.settle_in_progress, 1);
    EXPECT_FALSE(take_exposure_settle_request()) << "taken once";
    bool rewritten = true;
    root.read(LEGACY_MAXSHUTTER_PATH, &rewritten);
    EXPECT_FALSE(rewritten) << "the max-shutter map did not change";
}

TEST_F(PropertyHandlers, ExposureRowsTellTheirParameterByTheValueType)
{
    // An int for either row is the normal exposure priority, sent also when
    // it did not change.
    expect_write("Exposure", num(0), {47}, {{"OnvifExposurePriorityNormal", "0"}});
    expect_write("OnvifExposurePriorityNormal", num(0), {47}, {});
    // A string for either row is the exposure mode.
    expect_write("OnvifExposurePriorityNormal", bytes("iris"), {12},
                 {{"Exposure", "b'iris'"}, {"MaxExposureTime", "33333"}, {"ExposureProgress", "1"}});
    expect_refusal("Exposure", bytes("sunny"), "handle_exposure",
                   "Invalid exposure value: sunny. Valid values are auto, iris, shutter, flickerfree, "
                   "flickerreduced and manual");
    EXPECT_EQ(param(PARAM_EXPOSURE), "b'iris'");
}

TEST_F(PropertyHandlers, MaxExposureTimeQueuesTheSlowShutterOfTheMode)
{
    param_set_string_value(PARAM_EXPOSURE, "flickerreduced");
    clear_changes();
    expect_write("MaxExposureTime", num(20000), {18}, {{"MaxExposureTime", "20000"}});
    // 1/60 s is not offered at 50 Hz.
    expect_refusal("MaxExposureTime", num(16666), "handle_max_exposure_time", "Invalid max exposure time!");
    EXPECT_EQ(param(PARAM_MAX_EXPOSURE_TIME), "20000");

    param_set_string_value(PARAM_CAPTURE_FREQUENCY, "60Hz");
    clear_changes();
    expect_write("MaxExposureTime", num(16666), {19}, {{"MaxExposureTime", "16666"}});

    for (const char *mode : {"auto", "iris"}) {
        param_set_string_value(PARAM_EXPOSURE, mode);
        param_set_int_value(PARAM_MAX_EXPOSURE_TIME, 33333);
        clear_changes();
        expect_write("MaxExposureTime", num(80000), {17}, {{"MaxExposureTime", "80000"}});
        expect_write("MaxExposureTime", num(80000), {}, {});
    }
    param_set_string_value(PARAM_EXPOSURE, "flickerfree");  // 60 Hz: 1/60 s only
    clear_changes();
    expect_write("MaxExposureTime", num(16666), {17}, {{"MaxExposureTime", "16666"}});

    expect_refusal("MaxExposureTime", bytes("40000"), "handle_max_exposure_time",
                   "Missing int value for MaxExposureTime!");
}

TEST_F(PropertyHandlers, MaxExposureTimeWithoutSlowShutterIsStoredThenRefused)
{
    for (const char *mode : {"manual", "shutter"}) {
        SCOPED_TRACE(mode);
        param_set_string_value(PARAM_EXPOSURE, mode);
        param_set_int_value(PARAM_MAX_EXPOSURE_TIME, 33333);
        clear_changes();
        log.clear();
        EXPECT_EQ(set("MaxExposureTime", num(40000)).error, "Invalid exposure mode!");
        EXPECT_EQ(log.count("WARNING:optad:imc_control_dbus:handle_max_exposure_time - Invalid exposure mode!\n"),
                  1);
        EXPECT_EQ(param(PARAM_MAX_EXPOSURE_TIME), "40000");
        EXPECT_EQ(conf(SENSOR, "MaxExposureTime"), "40000");
        EXPECT_EQ(changes(), (Changes{{"MaxExposureTime", "40000"}}));
        EXPECT_TRUE(jobs().empty());
    }
}

TEST_F(PropertyHandlers, CustomExposureWindowEdges)
{
    for (int bad : {10000, -1}) {
        expect_refusal("CustomExposureWindow.C0.Left", num(bad), "handle_cust_exposure_window",
                       "Invalid exposure window value!");
    }
    EXPECT_EQ(param(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT), "3333");

    // The far edges change only the size; the near edges also move the
    // window.
    expect_write("CustomExposureWindow.C0.Right", num(5000), {22}, {{"CustomExposureWindow.C0.Right", "5000"}});
    expect_write("CustomExposureWindow.C0.Bottom", num(9999), {22}, {{"CustomExposureWindow.C0.Bottom", "9999"}});
    expect_write("CustomExposureWindow.C0.Top", num(0), {21, 22}, {{"CustomExposureWindow.C0.Top", "0"}});
    expect_write("CustomExposureWindow.C0.Left", num(9999), {21, 22}, {{"CustomExposureWindow.C0.Left", "9999"}});
    expect_write("CustomExposureWindow.C0.Left", num(9999), {}, {});

    log.clear();
    const test::Reply r = set("CustomExposureWindow.C0.Top", bytes("10"));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("CustomExposureWindow.C0.Top"), std::string::npos) << r.error;
    EXPECT_EQ(log.count_containing("WARNING:optad:imc_control_dbus:handle_cust_exposure_window - "), 1);
    EXPECT_EQ(param(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP), "0");
}

TEST_F(PropertyHandlers, WhiteBalanceModeEndsManualWhiteBalance)
{
    param_set_string_value(PARAM_WHITE_BALANCE_MANUAL, "yes");
    clear_changes();
    expect_write("WhiteBalance", bytes("sodium"), {24},
                 {{"WhiteBalance", "b'sodium'"}, {"WhiteBalanceManual", "b'no'"}});
    EXPECT_EQ(conf(SENSOR, "WhiteBalanceManual"), "no");
    // Not checked against the advisory list.
    expect_write("WhiteBalance", bytes("candlelight"), {24}, {{"WhiteBalance", "b'candlelight'"}});
    expect_write("WhiteBalance", bytes("candlelight"), {}, {});
    expect_refusal("WhiteBalance", num(1), "handle_white_balance", "WhiteBalance is NULL!");

    expect_write("WhiteBalanceManual", bytes("yes"), {25}, {{"WhiteBalanceManual", "b'yes'"}});
    expect_write("WhiteBalanceManual", bytes("yes"), {}, {});
    expect_write("WhiteBalanceManual", bytes("no"), {24}, {{"WhiteBalanceManual", "b'no'"}});
    expect_refusal("WhiteBalanceManual", num(1), "handle_white_balance_manual", "WhiteBalanceManual is NULL!");
}

TEST_F(PropertyHandlers, IrCutFilterLeavesAutomaticDayNightFirst)
{
    // The default is "auto".
    expect_write("IrCutFilter", bytes("no"), {36, 37}, {{"IrCutFilter", "b'no'"}});
    expect_write("IrCutFilter", bytes("yes"), {37}, {{"IrCutFilter", "b'yes'"}});
    expect_write("IrCutFilter", bytes("no"), {37}, {{"IrCutFilter", "b'no'"}});
    expect_write("IrCutFilter", bytes("auto"), {36}, {{"IrCutFilter", "b'auto'"}});
    expect_write("IrCutFilter", bytes("auto"), {}, {});
    expect_refusal("IrCutFilter", num(0), "handle_ir_cut_filter", "IrCutFilter is NULL!");
}

TEST_F(PropertyHandlers, OneShotFocusNeedsAutoFocusAndAShortExposure)
{
    // Only 5 asks for anything; other values are taken and ignored.
    expect_write("FocusMode", num(3), {}, {});
    EXPECT_EQ(param(PARAM_FOCUS_MODE), "1");

    set_lens_focus_switch(1);
    publish_current_shutter_index(11);  // 125000 us, the longest exposure allowed
    expect_write("FocusMode", num(5), {31}, {{"FocusMode", "5"}});
    expect_write("FocusMode", num(5), {31}, {});  // every request focuses

    publish_current_shutter_index(10);  // 166666 us
    expect_write("FocusMode", num(5), {}, {{"FocusMode", "1"}});

    param_set_int_value(PARAM_FOCUS_MODE, 5);
    clear_changes();
    set_lens_focus_switch(0);  // manual focus
    publish_current_shutter_index(22);
    expect_write("FocusMode", num(5), {}, {{"FocusMode", "1"}});

    expect_refusal("FocusMode", bytes("5"), "handle_focus_mode", "Focus Mode is NULL!");
}

TEST_F(PropertyHandlers, EveryFocusDriveRequestIsAStep)
{
    set_lens_focus_switch(1);
    // The stored value is already "+minstep": each request still moves the
    // lens.
    EXPECT_TRUE(set("FocusDrive", bytes("+minstep")).ok);
    EXPECT_TRUE(set("FocusDrive", bytes("+minstep")).ok);
    EXPECT_EQ(jobs(), (Jobs{34, 34}));
    EXPECT_TRUE(changes().empty());
    clear_jobs();
    expect_write("FocusDrive", bytes("-bigstep"), {34}, {{"FocusDrive", "b'-bigstep'"}});
    expect_refusal("FocusDrive", bytes("sideways"), "handle_focus_drive", "Invalid FocusDrive value!");

    set_lens_focus_switch(0);
    expect_refusal("FocusDrive", bytes("+bigstep"), "handle_focus_drive", "The lens is in manual focus mode!");
    EXPECT_EQ(param(PARAM_FOCUS_DRIVE), "b'-bigstep'");

    set_lens_focus_switch(1);
    log.clear();
    const test::Reply r = set("FocusDrive", num(1));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("FocusDrive"), std::string::npos) << r.error;
    EXPECT_EQ(log.count_containing("WARNING:optad:imc_control_dbus:handle_focus_drive - "), 1);
}

TEST_F(PropertyHandlers, FocusWindowIsStoredInItsNormalisedForm)
{
    // The default text lies off the 1/256 grid the IMC works on.
    constexpr const char normalised[] = "0.449219,0.449219:0.554688,0.449219:0.554688,0.554688:0.449219,0.554688";
    expect_write("FocusW0", bytes("0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555"), {32, 33},
                 {{"FocusW0", std::string("b'") + normalised + "'"}});
    EXPECT_EQ(conf(SENSOR, "FocusW0"), normalised);
    // Fewer decimals, the same window: nothing to store or send, but the
    // caller is told the stored form.
    expect_write("FocusW0", bytes("0.4492,0.4492:0.5547,0.4492:0.5547,0.5547:0.4492,0.5547"), {},
                 {{"FocusW0", std::string("b'") + normalised + "'"}});
    expect_write("FocusW0", bytes(normalised), {}, {});

    log.clear();
    EXPECT_EQ(set("FocusW0", bytes("0.1,0.1:0.2,0.1:0.2,0.2:0.1")).error,
              "Invalid window format: 0.1,0.1:0.2,0.1:0.2,0.2:0.1!");
    EXPECT_EQ(log.count("WARNING:optad:imc_control_dbus:handle_w0 - Invalid window format: "
                        "0.1,0.1:0.2,0.1:0.2,0.2:0.1!\n"),
              1)
        << log.text();
    EXPECT_EQ(param(PARAM_FOCUS_W0), std::string("b'") + normalised + "'");
    EXPECT_TRUE(jobs().empty());
}

}  // namespace
}  // namespace optad
