// Parameter control on the rig: the unmodified optad pushes the whole image
// configuration into the simulated IMC after every power-up, sends each
// property change as its set command, and confirms every command against the
// IMC's status block. The expected frames are built from the frame layout
// and the value rules of each command (params_rig.h), not taken from the
// daemon.
#include "tests/system/params_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace optad::test {
namespace {

uint32_t float_bits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// A field of view of the 22.4 x 15.0 mm sensor behind a lens of focal
// length f mm: 2 atan(size / 2f) in degrees (quotient in single precision).
float field_of_view(float size, float f)
{
    const float q = size / (2.0f * f);
    return static_cast<float>(std::atan(static_cast<double>(q)) * 114.591559026);
}

void expect_every_job_confirmed_once(DaemonRig &rig, const std::vector<JobFrame> &jobs, int times = 1)
{
    for (const JobFrame &j : jobs) {
        if (j.confirmed != nullptr) {
            EXPECT_EQ(optad_log_count(rig, j.confirmed), times) << "job " << j.job << ": " << j.confirmed;
        }
    }
    EXPECT_EQ(optad_log_count(rig, "No feedback from Image Chip! Resend param"), 0);
    EXPECT_EQ(optad_log_count(rig, "Got no feedback from Image Chip"), 0);
}

TEST(StartUpPush, ColdStartSendsEveryParameterInOrderAndPublishesTheModule)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();

    // The lens is attached and the protector closed: the push opens it.
    const std::vector<JobFrame> push = startup_push(true);
    EXPECT_EQ(command_frames(sim), frames_of(push));
    expect_every_job_confirmed_once(rig, push);
    EXPECT_EQ(optad_log_count(rig, "Done updating params!"), 1);
    EXPECT_EQ(optad_log_count(rig, STARTUP_DONE), 1);
    EXPECT_EQ(sim.ctl("show status 0x15 1"), "01\n") << "protector open";
    EXPECT_EQ(imc_get_text(rig, "SensorProtector"), "b'open'");

    // Black video off once the stream is there.
    EXPECT_NE(sim.ctl("show cam0").find("black_video 0\n"), std::string::npos) << sim.ctl("show cam0");

    // The module's limits, exposure and lens in the data caches: limits
    // iris 0-28 (f/1.0 to f/11.3), shutter 0-51 (1 s to 1/8000 s), gain
    // 0-40 (0 to 60 dB, ISO 100 to 102400); exposure iris 8 (f/2.0), shutter
    // 19 (1/30 s), gain 0; a 50 mm lens with second optics value 10.
    const std::vector<std::string> limits = datacache_entries(sim, "sensor_data_limits");
    ASSERT_FALSE(limits.empty());
    EXPECT_EQ(limits.back(), hex_words({0, 60, 100, 102400, 10, 113, 1000000, 125}));
    // The exposure moves to where the new settings put it and settles; the
    // newest entry is that exposure.
    const std::string settled = settled_sensor_entry(rig, sim);
    ASSERT_NE(settled, "") << "the exposure keeps moving";
    const auto newest_sensor = [&] {
        const std::vector<std::string> entries = datacache_entries(sim, "sensor_data");
        return entries.empty() ? std::string() : entries.back();
    };
    EXPECT_TRUE(rig.iterate_until([&] { return newest_sensor() == settled; }, scaled_ms(3000)))
        << newest_sensor() << " for " << sim.ctl("show status 0x42 3");
    const std::vector<std::string> optics = datacache_entries(sim, "optics");
    ASSERT_FALSE(optics.empty());
    EXPECT_EQ(optics.back(), hex_words({float_bits(field_of_view(22.4f, 50.0f)), float_bits(field_of_view(15.0f, 50.0f)),
                                        float_bits(5.0f), float_bits(50.0f), 0xFFFFFFFFu}));
    // The lens name in the status cache.
    EXPECT_EQ(lens_cache_info(rig), "Canon EF 50mm f/1.4 USM");

    // The exposure window was fitted to the IMC's 1/256 grid and stored.
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "CustomExposureWindow.C0.Left"), "3320");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "CustomExposureWindow.C0.Right"), "6679");
    EXPECT_EQ(sim.violations(), "");
}

TEST(StartUpPush, AnotherCaptureModeIsSetAloneAndTheModuleRestartedInIt)
{
    ModuleSetup setup;
    setup.before_optad = {"set capture 0x60 25"};
    RunningModule module(setup);
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();

    // Job 30 alone, the restart (with the IMC's system reset), then the
    // whole push in the right mode.
    const JobFrame capture{30, 0x08, 0x04, {0x00, 0x72, 0x08}, nullptr};
    std::vector<std::string> expected = {capture.frame(), SYSTEM_RESET_FRAME};
    const std::vector<JobFrame> push = startup_push(true);
    for (const std::string &f : frames_of(push))
        expected.push_back(f);
    EXPECT_EQ(command_frames(sim), expected);

    EXPECT_EQ(optad_log_count(rig, "Requesting new Capture Mode 1!!"), 1);
    EXPECT_EQ(optad_log_count(rig, "Sleep 2s, so that IMC can update capture mode"), 1);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 1);
    EXPECT_EQ(optad_log_count(rig, UPDATE_PARAMS), 2);
    EXPECT_EQ(optad_log_count(rig, STARTUP_DONE), 1);
    // The capture-mode job was confirmed twice: once before the restart, once
    // in the push; the other jobs once.
    EXPECT_EQ(optad_log_count(rig, push.back().confirmed), 2);
    expect_every_job_confirmed_once(rig, std::vector<JobFrame>(push.begin(), push.end() - 1));

    // The restart waited 2 s after the mode was confirmed.
    const std::vector<SimEvent> stamped = stamped_command_frames(sim);
    ASSERT_GE(stamped.size(), 2u);
    EXPECT_GE(stamped[1].us - stamped[0].us, 2'000'000);
    EXPECT_EQ(sim.ctl("show status 0x16 2"), "72 08\n");
    EXPECT_EQ(sim.violations(), "");
}

// The push follows the configuration: flicker reduction on 60 Hz mains
// (exposure code 7, the 60 Hz slow shutter item 0x0B with 1/30 s = code 9),
// manual white balance (job 25 instead of 24), and a fixed night setting
// (auto day/night off, then night: job 37 joins the push).
TEST(StartUpPush, ThePushFollowsTheConfiguration)
{
    ModuleSetup setup;
    setup.files = {{"/etc/optad/optad.conf", "[General]\nVersion=1\n"
                                             "[ImageSource.I0.Sensor]\nExposure=flickerreduced\n"
                                             "MaxExposureTime=33333\nWhiteBalanceManual=yes\n"
                                             "[ImageSource.I0.DayNight]\nIrCutFilter=no\n"
                                             "[ImageSource.I0]\nCaptureFrequency=60Hz\n"}};
    RunningModule module(setup, all_peers({{Peer::Framerd, R"({"CaptureFrequency": "60Hz"})"}}));
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();

    std::vector<JobFrame> expected;
    for (const JobFrame &j : startup_push(true)) {
        switch (j.job) {
        case 12:
            expected.push_back({12, 0x03, 0x00, {0x07}, "Confirmed Exposure change: scam_sts[0x40]=0x07, recv_buf[0x40]=0x07"});
            break;
        case 24:
            expected.push_back({25, 0x04, 0x00, {0x02},
                                "Confirmed White Balance Mode set to Manual: scam_sts[0x70]=0x02, recv_buf[0x70]=0x02"});
            break;
        case 36:
            expected.push_back({36, 0x05, 0x00, {0x00}, "Confirmed Auto Day/Night mode: scam_sts[0x60]=0x00, recv_buf[0x60]=0x00"});
            expected.push_back({37, 0x05, 0x01, {0x01}, "Confirmed Day/Night mode: scam_sts[0x66]=0x01, recv_buf[0x66]=0x01"});
            break;
        case 17:
            expected.push_back({19, 0x03, 0x0B, {0x09},
                                "Confirmed slow shutter speed 60Hz change: scam_sts[0x4e]=0x09, recv_buf[0x4e]=0x09"});
            break;
        default:
            expected.push_back(j);
        }
    }
    EXPECT_EQ(command_frames(sim), frames_of(expected));
    expect_every_job_confirmed_once(rig, expected);
    EXPECT_EQ(imc_get_text(rig, "MaxExposureTime"), "33333");
    EXPECT_EQ(sim.ctl("show status 0x66 1"), "01\n") << "night";
    EXPECT_EQ(sim.violations(), "");
}

// framerd switches the capture mode of a running camera: the IMC gets the
// new mode, is restarted in it, and gets the whole push again.
TEST(StartUpPush, ACaptureModeChangeOfTheRunningCameraRestartsTheModuleInIt)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    ASSERT_TRUE(sim.ok("clear imc"));

    g_autoptr(GVariant) reply = rig.peer(Peer::Framerd).control("SetCaptureMode", g_variant_new("(i)", 3));
    ASSERT_NE(reply, nullptr);
    ASSERT_TRUE(optad_logged_times(rig, STARTUP_DONE, 2, 60000));

    // Mode 3: 3840 x 2880, code 0x61 at 15 fps.
    const JobFrame mode3{30, 0x08, 0x04, {0x00, 0x61, 0x0F},
                         "Confirmed Capture Mode change: scam_sts[0x16]=0x61, scam_sts[0x17]=0x0F"};
    std::vector<JobFrame> push = startup_push(false);
    push.back() = mode3;
    std::vector<std::string> expected = {mode3.frame(), SYSTEM_RESET_FRAME};
    for (const std::string &f : frames_of(push))
        expected.push_back(f);
    EXPECT_EQ(command_frames(sim), expected);
    EXPECT_EQ(optad_log_count(rig, mode3.confirmed), 2) << "before the restart and in the push";
    EXPECT_EQ(optad_log_count(rig, "Sleep 2s, so that IMC can update capture mode"), 1);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 1);
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "CaptureMode"), "3");
    EXPECT_EQ(sim.ctl("show status 0x16 2"), "61 0f\n");
    EXPECT_EQ(sim.violations(), "");
}

// An IMC that never takes the capture mode: the mode is sent ten times, 5 s
// apart, and given up; the video is then let through (black video off,
// stream on) and start-up completes without a restart.
TEST(StartUpPush, ACaptureModeTheImcNeverTakesIsGivenUpAndStartUpCompletes)
{
    OPTAD_HOST_ONLY_LONG_SCENARIO();
    ModuleSetup setup;
    setup.before_optad = {"set capture 0x60 25", "fault ignore 0x08 0x04 on"};
    DaemonRig rig(all_peers(), Board::DC, setup);
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, STARTUP_DONE, 90000));
    Simulator &sim = rig.sim();

    const std::string mode1 = set_frame(0x08, 0x04, {0x00, 0x72, 0x08});
    EXPECT_EQ(command_frames(sim), std::vector<std::string>(10, mode1));
    EXPECT_EQ(optad_log_count(rig, "Got no feedback from Image Chip for job type 30! Tried sending 10 times!"), 1);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 0);
    EXPECT_EQ(optad_log_count(rig, "Done updating params!"), 1);
    const std::string cam0 = sim.ctl("show cam0");
    EXPECT_NE(cam0.find("stream 1\n"), std::string::npos) << cam0;
    EXPECT_NE(cam0.find("black_video 0\n"), std::string::npos) << cam0;
    EXPECT_EQ(sim.ctl("show status 0x16 2"), "60 19\n");
    EXPECT_EQ(sim.violations(), "");
}

// Changes made before the module is up are stored and announced but not
// sent: the start-up push brings them to the IMC, each once.
TEST(StartUpPush, ChangesBeforePowerUpArriveWithThePush)
{
    DaemonRig rig(peers_without_grant(), Board::PoE);
    ASSERT_TRUE(rig.ok());
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    ASSERT_EQ(imc_set_properties(rig, "[('Brightness', <70>), ('Sharpness', <100>)]"), "(true,)");
    EXPECT_TRUE(wait_for_change(rig, changed, "Sharpness", "100", 5000));
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "Brightness"), "70");

    // Grant only once the daemon has registered with the power budget and
    // checks its power (a slow build may still be starting up after its
    // D-Bus service answers): a grant before that reaches nobody.
    ASSERT_TRUE(optad_logged(rig, "JT_CHECK_POWER: Still not enough power...", 60000));
    g_autoptr(GVariant) granted = rig.peer(Peer::Wattd).control("Grant", g_variant_new("(d)", 25.0));
    ASSERT_NE(granted, nullptr);
    ASSERT_TRUE(optad_logged(rig, STARTUP_DONE, 60000));
    std::vector<JobFrame> expected = startup_push(true);
    for (JobFrame &j : expected) {
        if (j.job == 13)
            j = {13, 0x03, 0x01, {0x03}, "Confirmed Exposure Compensation change: scam_sts[0x45]=0x03, recv_buf[0x45]=0x03"};
        if (j.job == 27)
            j = {27, 0x07, 0x00, {0x06}, "Confirmed Sharpness: scam_sts[0x80]=0x06, recv_buf[0x80]=0x06"};
    }
    EXPECT_EQ(command_frames(rig.sim()), frames_of(expected));
    expect_every_job_confirmed_once(rig, expected);
    EXPECT_EQ(rig.sim().violations(), "");
}

// ExposureProgress has no command: a write on a running module is stored
// and announced, and sends nothing (least of all a power-up).
TEST(PropertyControl, WritingExposureProgressSendsNothing)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    ASSERT_TRUE(sim.ok("clear imc"));
    ASSERT_TRUE(sim.ok("clear gpio"));
    ASSERT_EQ(imc_set_properties(rig, "[('ExposureProgress', <1>)]"), "(true,)");
    EXPECT_TRUE(wait_for_change(rig, changed, "ExposureProgress", "1", 5000));
    // Several polling periods.
    g_usleep(static_cast<gulong>(scaled_ms(1500)) * 1000);
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{});
    EXPECT_EQ(program_gpio_writes(sim).size(), 0u);
    EXPECT_EQ(optad_log_count(rig, "OPTAD state changed to OPTAD_STARTUP_POWERUP"), 1);
    EXPECT_EQ(optad_log_count(rig, "Received a request for parameter Type=0"), 0);
    EXPECT_EQ(sim.violations(), "");
}

// One property set through SetProperties: the set commands it must put on
// the wire, in order, and the announcements it must make.
struct PropertyCase {
    const char *list;
    std::vector<JobFrame> jobs;
    std::vector<std::pair<std::string, std::string>> changes;
};

// In this order on a module fresh from its start-up push (each case sees
// the values the cases before it left). Values by the command rules:
// Brightness 70 -> +3; Shutter 10000 us -> index 26; MaxExposureTime 80000
// with Exposure "iris" -> slow shutter 6; the exposure window edges are fitted
// to the 1/256 grid (Top 2000 -> 51/256 stored as 1992, Bottom 8000 -> 205
// as 8007, Left 1000 -> 26 as 1016, Right 9000 -> 230 as 8983), position
// round(edge x 256 / 9999), size round(width x 256 / 9999); MaxGain 30 ->
// 5; R 255 -> 1023, B 100 -> 401, high bytes first on the wire and low
// bytes first in the status; Sharpness 100 -> 6; NoiseReductionTuning 100
// -> 2; the focus window 0.2..0.5 -> corner 51, size 128 - 51 = 77;
// "850nm" -> enable 1, wavelength 3, expected 0x30 (the IMC shows 0x31,
// its low nibble not compared); ShiftLevel 81 -> 0; a correction "no" ->
// 1 sent, 0 expected; OnvifExposurePriorityNormal 0 -> exposure mode 5.
const std::vector<PropertyCase> &property_cases()
{
    static const std::vector<PropertyCase> cases = {
        {"[('Exposure', <b'iris'>)]",
         {{12, 0x03, 0x00, {0x04}, "Confirmed Exposure change: scam_sts[0x40]=0x04, recv_buf[0x40]=0x04"}},
         {{"Exposure", "b'iris'"}, {"ExposureProgress", "1"}}},
        {"[('Brightness', <70>)]",
         {{13, 0x03, 0x01, {0x03}, "Confirmed Exposure Compensation change: scam_sts[0x45]=0x03, recv_buf[0x45]=0x03"}},
         {{"Brightness", "70"}}},
        {"[('Iris', <12>)]",
         {{14, 0x03, 0x02, {0x0C}, "Confirmed Diaphragm change: scam_sts[0x52]=0x0C, recv_buf[0x52]=0x0C"}},
         {{"Iris", "12"}}},
        {"[('Shutter', <10000>)]",
         {{15, 0x03, 0x03, {0x1A}, "Confirmed shutter speed change: scam_sts[0x53]=0x1A, recv_buf[0x53]=0x1A"}},
         {{"Shutter", "10000"}}},
        {"[('Gain', <20>)]",
         {{16, 0x03, 0x04, {0x14}, "Confirmed Gain change: scam_sts[0x54]=0x14, recv_buf[0x54]=0x14"}},
         {{"Gain", "20"}}},
        {"[('MaxExposureTime', <80000>)]",
         {{17, 0x03, 0x05, {0x06}, "Confirmed slow shutter speed change: scam_sts[0x4e]=0x06, recv_buf[0x4e]=0x06"}},
         {{"MaxExposureTime", "80000"}}},
        {"[('ExposureWindow', <b'spot'>)]",
         {{20, 0x03, 0x06, {0x02}, "Confirmed metering mode change: scam_sts[0x41]=0x02, recv_buf[0x41]=0x02"}},
         {{"ExposureWindow", "b'spot'"}}},
        {"[('CustomExposureWindow.C0.Top', <2000>)]",
         {{21, 0x03, 0x11, {0x55, 0x33}, "Confirmed exposure window position change:scam_sts[0x56]=0x55, recv_buf[0x56]=0x55, scam_sts[0x57]=0x33"},
          {22, 0x03, 0x12, {0x56, 0x78}, "Confirmed exposure window size change:scam_sts[0x5C]=0x56, recv_buf[0x5C]=0x56, scam_sts[0x5D]=0x78"}},
         {{"CustomExposureWindow.C0.Top", "2000"}, {"CustomExposureWindow.C0.Top", "1992"}}},
        {"[('CustomExposureWindow.C0.Bottom', <8000>)]",
         {{22, 0x03, 0x12, {0x56, 0x9A}, "Confirmed exposure window size change:scam_sts[0x5C]=0x56, recv_buf[0x5C]=0x56, scam_sts[0x5D]=0x9A"}},
         {{"CustomExposureWindow.C0.Bottom", "8000"}, {"CustomExposureWindow.C0.Bottom", "8007"}}},
        {"[('CustomExposureWindow.C0.Left', <1000>)]",
         {{21, 0x03, 0x11, {0x1A, 0x33}, "Confirmed exposure window position change:scam_sts[0x56]=0x1A, recv_buf[0x56]=0x1A, scam_sts[0x57]=0x33"},
          {22, 0x03, 0x12, {0x91, 0x9A}, "Confirmed exposure window size change:scam_sts[0x5C]=0x91, recv_buf[0x5C]=0x91, scam_sts[0x5D]=0x9A"}},
         {{"CustomExposureWindow.C0.Left", "1000"}, {"CustomExposureWindow.C0.Left", "1016"}}},
        {"[('CustomExposureWindow.C0.Right', <9000>)]",
         {{22, 0x03, 0x12, {0xCC, 0x9A}, "Confirmed exposure window size change:scam_sts[0x5C]=0xCC, recv_buf[0x5C]=0xCC, scam_sts[0x5D]=0x9A"}},
         {{"CustomExposureWindow.C0.Right", "9000"}, {"CustomExposureWindow.C0.Right", "8983"}}},
        {"[('MaxGain', <30>)]",
         {{23, 0x03, 0x07, {0x05}, "Confirmed AGC limit / Max Gain: scam_sts[0x4f]=0x05, recv_buf[0x4f]=0x05"}},
         {{"MaxGain", "30"}}},
        {"[('WhiteBalance', <b'sodium'>)]",
         {{24, 0x04, 0x00, {0x04}, "Confirmed White Balance Mode: scam_sts[0x70]=0x04, recv_buf[0x70]=0x04"}},
         {{"WhiteBalance", "b'sodium'"}}},
        {"[('WhiteBalanceManual', <b'yes'>)]",
         {{25, 0x04, 0x00, {0x02}, "Confirmed White Balance Mode set to Manual: scam_sts[0x70]=0x02, recv_buf[0x70]=0x02"}},
         {{"WhiteBalanceManual", "b'yes'"}}},
        {"[('WhiteBalanceManualR', <255>)]",
         {{26, 0x04, 0x02, {0x03, 0xFF, 0x00, 0xE4}, "Confirmed White Balance R Gain: scam_sts[0x6C6D]=0xFF03, recv_buf[0x6C6D]=0xFF03"}},
         {{"WhiteBalanceManualR", "255"}}},
        {"[('WhiteBalanceManualB', <100>)]",
         {{26, 0x04, 0x02, {0x03, 0xFF, 0x01, 0x91}, "Confirmed White Balance B Gain: scam_sts[0x6E6F]=0x9101, recv_buf[0x6E6F]=0x9101"}},
         {{"WhiteBalanceManualB", "100"}}},
        // A white balance mode ends manual white balance.
        {"[('WhiteBalance', <b'mercury'>)]",
         {{24, 0x04, 0x00, {0x09}, "Confirmed White Balance Mode: scam_sts[0x70]=0x09, recv_buf[0x70]=0x09"}},
         {{"WhiteBalance", "b'mercury'"}, {"WhiteBalanceManual", "b'no'"}}},
        {"[('Sharpness', <100>)]",
         {{27, 0x07, 0x00, {0x06}, "Confirmed Sharpness: scam_sts[0x80]=0x06, recv_buf[0x80]=0x06"}},
         {{"Sharpness", "100"}}},
        {"[('NoiseReductionTuning', <100>)]",
         {{28, 0x07, 0x01, {0x02}, "Confirmed Noise Reduction: scam_sts[0x84]=0x02, recv_buf[0x84]=0x02"}},
         {{"NoiseReductionTuning", "100"}}},
        {"[('ColorLevel', <0>)]",
         {{29, 0x07, 0x03, {0x00}, "Confirmed Color Level: scam_sts[0x82]=0x00, recv_buf[0x82]=0x00"}},
         {{"ColorLevel", "0"}}},
        // A one-shot focus: the IMC shows 5 while it runs and 1 after it;
        // confirmed at 1, and FocusMode goes back to 1.
        {"[('FocusMode', <5>)]",
         {{31, 0x01, 0x00, {0x05}, "Confirmed Focus mode change: scam_sts[0x20]=0x01, recv_buf[0x20]=0x01"}},
         {{"FocusMode", "5"}, {"FocusMode", "1"}}},
        {"[('FocusW0', <b'0.2,0.2:0.5,0.2:0.5,0.5:0.2,0.5'>)]",
         {{32, 0x01, 0x05, {0x33, 0x33}, "Confirmed FocusWindow: scam_sts[0x2B]=0x33,recv_buf[0x2B]=0x33"},
          {33, 0x01, 0x09, {0x4D, 0x4D}, "Confirmed FocusWindowSize: scam_sts[0x2D]=0x4D,recv_buf[0x2D]=0x4D"}},
         {{"FocusW0", "b'0.199219,0.199219:0.500000,0.199219:0.500000,0.500000:0.199219,0.500000'"}}},
        // A focus step has nothing in the status to confirm it.
        {"[('FocusDrive', <b'-bigstep'>)]", {{34, 0x01, 0x06, {0xFF, 0xF8}, nullptr}}, {{"FocusDrive", "b'-bigstep'"}}},
        // Every focus step is a command of its own, also the same step again.
        {"[('FocusDrive', <b'+minstep'>), ('FocusDrive', <b'+minstep'>), ('FocusDrive', <b'+minstep'>)]",
         {{34, 0x01, 0x06, {0x00, 0x01}, nullptr}, {34, 0x01, 0x06, {0x00, 0x01}, nullptr},
          {34, 0x01, 0x06, {0x00, 0x01}, nullptr}},
         {{"FocusDrive", "b'+minstep'"}}},
        {"[('Stabilizer', <b'on'>)]",
         {{35, 0x08, 0x07, {0x01}, "Confirmed Image Stabilizer Mode: scam_sts[0x67]=0x01, recv_buf[0x67]=0x01"}},
         {{"Stabilizer", "b'on'"}}},
        {"[('FocusTraceCurve', <b'850nm'>)]",
         {{42, 0x01, 0x07, {0x01, 0x03}, "Confirmed IR Focus Correction: scam_sts[0x2F]=0x30,recv_buf[0x2F]=0x31"}},
         {{"FocusTraceCurve", "b'850nm'"}}},
        {"[('DynamicContrastEnabled', <b'yes'>)]",
         {{43, 0x07, 0x14, {0x01}, "Confirmed WDR Mode: scam_sts[0x86]=0x01, recv_buf[0x86]=0x01"}},
         {{"DynamicContrastEnabled", "b'yes'"}}},
        {"[('DynamicContrastLevel', <7>)]",
         {{44, 0x07, 0x15, {0x07}, "Confirmed WDR Level: scam_sts[0x87]=0x07, recv_buf[0x87]=0x07"}},
         {{"DynamicContrastLevel", "7"}}},
        // From "auto" to night: auto day/night off, then the night setting.
        {"[('IrCutFilter', <b'no'>)]",
         {{36, 0x05, 0x00, {0x00}, "Confirmed Auto Day/Night mode: scam_sts[0x60]=0x00, recv_buf[0x60]=0x00"},
          {37, 0x05, 0x01, {0x01}, "Confirmed Day/Night mode: scam_sts[0x66]=0x01, recv_buf[0x66]=0x01"}},
         {{"IrCutFilter", "b'no'"}}},
        // From night to day: the day setting alone; back to auto: auto
        // day/night alone.
        {"[('IrCutFilter', <b'yes'>)]",
         {{37, 0x05, 0x01, {0x00}, "Confirmed Day/Night mode: scam_sts[0x66]=0x00, recv_buf[0x66]=0x00"}},
         {{"IrCutFilter", "b'yes'"}}},
        {"[('IrCutFilter', <b'auto'>)]",
         {{36, 0x05, 0x00, {0x01}, "Confirmed Auto Day/Night mode: scam_sts[0x60]=0x01, recv_buf[0x60]=0x01"}},
         {{"IrCutFilter", "b'auto'"}}},
        {"[('ShiftLevel', <81>)]",
         {{38, 0x05, 0x02, {0x00}, "Confirmed Switching brightness: scam_sts[0x62]=0x00, recv_buf[0x62]=0x00"}},
         {{"ShiftLevel", "81"}}},
        {"[('AutoIrCutFilterHysteresis', <4>)]",
         {{39, 0x05, 0x03, {0x04}, "Confirmed Time of Day/Night filter: scam_sts[0x63]=0x04, recv_buf[0x63]=0x04"}},
         {{"AutoIrCutFilterHysteresis", "4"}}},
        {"[('VignettingCorrection', <b'no'>)]",
         {{45, 0x0B, 0x00, {0x01}, "Confirmed Vignetting Correction: scam_sts[0x8A]=0x00, recv_buf[0x8A]=0x00"}},
         {{"VignettingCorrection", "b'no'"}}},
        {"[('AberrationCorrection', <b'no'>)]",
         {{46, 0x0B, 0x01, {0x01}, "Confirmed Aberration Correction: scam_sts[0x8B]=0x00, recv_buf[0x8B]=0x00"}},
         {{"AberrationCorrection", "b'no'"}}},
        // The exposure priority uses the exposure-mode command and has no
        // confirmation of its own.
        {"[('OnvifExposurePriorityNormal', <0>)]", {{47, 0x03, 0x00, {0x05}, nullptr}},
         {{"OnvifExposurePriorityNormal", "0"}}},
    };
    return cases;
}

// Whether want occurs in entries in order (other entries may come between).
::testing::AssertionResult has_in_order(const std::vector<std::pair<std::string, std::string>> &entries,
                                        const std::vector<std::pair<std::string, std::string>> &want)
{
    size_t w = 0;
    for (const auto &e : entries) {
        if (w < want.size() && e == want[w])
            ++w;
    }
    if (w == want.size())
        return ::testing::AssertionSuccess();
    std::string got;
    for (const auto &[n, v] : entries)
        got += " " + n + "=" + v;
    return ::testing::AssertionFailure() << "missing " << want[w].first << "=" << want[w].second << "; got" << got;
}

TEST(PropertyControl, EveryPropertySendsItsCommandAndTheStatusConfirmsIt)
{
    // A one-shot focus run of 1 s: the IMC shows it running for several
    // polls even when a slow build's main loop takes its time to poll.
    ModuleSetup setup;
    setup.simulator_args = {"--set", "focus_oneshot_ms=1000"};
    RunningModule module(setup);
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");

    for (const PropertyCase &c : property_cases()) {
        SCOPED_TRACE(c.list);
        std::vector<int> confirmed_before;
        for (const JobFrame &j : c.jobs)
            confirmed_before.push_back(j.confirmed != nullptr ? optad_log_count(rig, j.confirmed) : 0);
        ASSERT_TRUE(sim.ok("clear imc"));
        changed.clear();

        ASSERT_EQ(imc_set_properties(rig, c.list), "(true,)");
        const std::vector<std::string> want = frames_of(c.jobs);
        EXPECT_TRUE(rig.iterate_until([&] { return command_frames(sim).size() >= want.size(); }, scaled_ms(5000)));
        for (size_t i = 0; i < c.jobs.size(); ++i) {
            const JobFrame &j = c.jobs[i];
            if (j.confirmed == nullptr)
                continue;
            EXPECT_TRUE(optad_logged_times(rig, j.confirmed, confirmed_before[i] + 1, 5000))
                << "job " << j.job << " not confirmed: " << j.confirmed;
        }
        EXPECT_TRUE(rig.iterate_until([&] { return has_in_order(changed_entries(changed), c.changes); },
                                      scaled_ms(5000)));
        EXPECT_TRUE(has_in_order(changed_entries(changed), c.changes));
        // Exactly these commands, nothing sent twice.
        EXPECT_EQ(command_frames(sim), want);
    }
    EXPECT_EQ(optad_log_count(rig, "No feedback from Image Chip! Resend param"), 0);
    EXPECT_EQ(optad_log_count(rig, "Got no feedback from Image Chip"), 0);
    // Stored as set.
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "Brightness"), "70");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.DayNight", "IrCutFilter"), "auto");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "WhiteBalanceManual"), "no");
    EXPECT_EQ(sim.violations(), "");
}

// The protector set over the bus against the lens: the command goes out
// and the IMC carries it out, but the position is the lens's to decide, so
// nothing confirms it. It is resent every 5 s, given up after ten sends, and
// the lens rule then moves the protector back and announces it: never open
// over a bare sensor, never closed in front of a lens. Ten sends 5 s apart:
// close to a minute each.
struct ProtectorAgainstLens {
    const char *name;
    const char *lens_command;  // before the set; nullptr: the lens stays on
    const char *set;           // SensorProtector over the bus
    uint8_t sent;
    const char *ends;          // SensorProtector in the end
    uint8_t ends_at;
};

class ProtectorAgainstTheLens : public ::testing::TestWithParam<ProtectorAgainstLens> {};

TEST_P(ProtectorAgainstTheLens, IsGivenUpAndTheLensRuleMovesItBack)
{
    OPTAD_HOST_ONLY_LONG_SCENARIO();
    const ProtectorAgainstLens &c = GetParam();
    constexpr const char *CONFIRMED = "Confirmed Sunlight Protection change";
    constexpr const char *GAVE_UP = "ERROR:optad:main_loop:wait_or_retry_command - Got no feedback from Image Chip "
                                    "for job type 40! Tried sending 10 times!";
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    int confirmed = optad_log_count(rig, CONFIRMED);
    if (c.lens_command != nullptr) {
        ASSERT_TRUE(sim.ok(c.lens_command));
        ASSERT_TRUE(optad_logged_times(rig, CONFIRMED, ++confirmed, 5000));
    }
    ASSERT_TRUE(sim.wait_for("show status 0x15 1", c.ends_at == 0 ? "00" : "01", scaled_ms(2000)));
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    ASSERT_TRUE(sim.ok("clear imc"));

    ASSERT_EQ(imc_set_properties(rig, std::string("[('SensorProtector', <b'") + c.set + "'>)]"), "(true,)");
    EXPECT_TRUE(wait_for_change(rig, changed, "SensorProtector", std::string("b'") + c.set + "'", 5000));
    ASSERT_TRUE(optad_logged(rig, GAVE_UP, 75000));
    EXPECT_TRUE(wait_for_change(rig, changed, "SensorProtector", std::string("b'") + c.ends + "'", 5000));
    EXPECT_TRUE(optad_logged_times(rig, CONFIRMED, confirmed + 1, 5000));

    std::vector<std::string> want(10, set_frame(0x08, 0x09, {c.sent}));
    want.push_back(set_frame(0x08, 0x09, {c.ends_at}));
    EXPECT_EQ(command_frames(sim), want);
    EXPECT_EQ(sim.ctl("show status 0x15 1"), c.ends_at == 0 ? "00\n" : "01\n");
    EXPECT_EQ(imc_get_text(rig, "SensorProtector"), std::string("b'") + c.ends + "'");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "SensorProtector"), c.ends);
    EXPECT_EQ(optad_log_count(rig, GAVE_UP), 1);
    EXPECT_EQ(optad_log_count(rig, "Sunlight protector stuck in Moving state!"), 0);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 0);
    EXPECT_EQ(sim.violations(), "");
}

INSTANTIATE_TEST_SUITE_P(Directions, ProtectorAgainstTheLens,
                         ::testing::Values(ProtectorAgainstLens{"OpenWithNoLensEndsClosed", "lens detach", "open",
                                                                0x01, "close", 0x00},
                                           ProtectorAgainstLens{"CloseWithALensEndsOpen", nullptr, "close", 0x00,
                                                                "open", 0x01}),
                         [](const ::testing::TestParamInfo<ProtectorAgainstLens> &info) { return info.param.name; });

// The rotation service turns the image: the IMC is told at every turn
// (stored as 1 for 180 degrees), also a turn to where it already is.
TEST(PropertyControl, TheRotationServiceTellsTheImcOfEveryTurn)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    const char *rotated = "Confirmed Notify Rotate Image: scam_sts[0x9E]=0x01, recv_buf[0x9E]=0x01";
    const char *upright = "Confirmed Notify Rotate Image: scam_sts[0x9E]=0x00, recv_buf[0x9E]=0x00";
    const int upright_before = optad_log_count(rig, upright);
    ASSERT_TRUE(sim.ok("clear imc"));
    MockPeer &rotation = rig.peer(Peer::Rotation);

    for (int n = 1; n <= 2; ++n) {
        g_autoptr(GVariant) r = rotation.control("SetRotation", g_variant_new("(i)", 180));
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(optad_logged_times(rig, rotated, n, 5000)) << n;
    }
    g_autoptr(GVariant) back = rotation.control("SetRotation", g_variant_new("(i)", 0));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(optad_logged_times(rig, upright, upright_before + 1, 5000));
    const std::string turned = set_frame(0x08, 0x0A, {0x01});
    EXPECT_EQ(command_frames(sim), (std::vector<std::string>{turned, turned, set_frame(0x08, 0x0A, {0x00})}));
    EXPECT_EQ(conf_value(rig, "Rotation1", "ImageRotation"), "0");
    EXPECT_EQ(sim.violations(), "");
}

// A command the IMC accepts but never applies is sent ten times, 5 s apart,
// and then given up; a later request for it is sent once.
TEST(PropertyControl, ACommandTheImcNeverAppliesIsSentTenTimesThenGivenUp)
{
    OPTAD_HOST_ONLY_LONG_SCENARIO();
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    ASSERT_TRUE(sim.ok("fault ignore 0x07 0x00 on"));
    ASSERT_TRUE(sim.ok("clear imc"));

    const char *gave_up = "ERROR:optad:main_loop:wait_or_retry_command - Got no feedback from Image Chip for job "
                          "type 27! Tried sending 10 times!";
    ASSERT_EQ(imc_set_properties(rig, "[('Sharpness', <100>)]"), "(true,)");
    ASSERT_TRUE(optad_logged(rig, gave_up, 75000));
    const std::string frame = set_frame(0x07, 0x00, {0x06});
    std::vector<SimEvent> sent = stamped_command_frames(sim);
    ASSERT_EQ(sent.size(), 10u);
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].text, frame) << i;
        if (i > 0) {
            // Resent at the first status poll more than 5 s after the send.
            const int64_t gap = sent[i].us - sent[i - 1].us;
            EXPECT_GT(gap, 5'000'000) << i;
            EXPECT_LT(gap, 5'000'000 + static_cast<int64_t>(scaled_ms(1500)) * 1000) << i;
        }
    }
    EXPECT_EQ(optad_log_count(rig, gave_up), 1);
    EXPECT_EQ(optad_log_count(rig, "No feedback from Image Chip! Resend param 27..."), 9);
    // Given up: no eleventh send, and the value is stored all the same.
    g_usleep(static_cast<gulong>(scaled_ms(6000)) * 1000);
    EXPECT_EQ(stamped_command_frames(sim).size(), 10u);
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "Sharpness"), "100");

    // After a give-up, a new value is sent once and given up at its first
    // time-out, as long as the IMC ignores it.
    ASSERT_TRUE(sim.ok("clear imc"));
    ASSERT_EQ(imc_set_properties(rig, "[('Sharpness', <90>)]"), "(true,)");
    ASSERT_TRUE(optad_logged_times(rig, gave_up, 2, 15000));
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{set_frame(0x07, 0x00, {0x05})});

    // Applied again, the next value is confirmed at once.
    ASSERT_TRUE(sim.ok("fault ignore 0x07 0x00 off"));
    ASSERT_TRUE(sim.ok("clear imc"));
    ASSERT_EQ(imc_set_properties(rig, "[('Sharpness', <70>)]"), "(true,)");
    EXPECT_TRUE(optad_logged(rig, "Confirmed Sharpness: scam_sts[0x80]=0x04, recv_buf[0x80]=0x04", 5000));
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{set_frame(0x07, 0x00, {0x04})});
    EXPECT_EQ(optad_log_count(rig, "Got no feedback from Image Chip for job type 27!"), 2);
    EXPECT_EQ(sim.violations(), "");
}

}  // namespace
}  // namespace optad::test
