// The start-up parameter sync: the capture-mode set-up and the video path,
// the first status poll after the firmware check (gate, day/night event,
// limits and data cache, lens, protector, the parameter push in its order,
// the same-capture-mode flag and the state change), the completion check,
// and how the capture-mode job's confirmation follows from the flag.
#include "params/startup_sync.h"

#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "dbus/optad_event.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/confirm.h"
#include "params/sdl.h"
#include "params/status_monitor.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"
#include "video/datacache.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;
using Jobs = std::vector<int>;

// The parameter push as the module's start-up needs it, for the defaults
// (WhiteBalanceManual "no", IrCutFilter "auto", Exposure "auto"):
// exposure mode, compensation, iris, gain, metering, window position and
// size, AGC, white balance mode, R/B gains, auto day/night, switching
// brightness, day/night time, sharpness, noise reduction, colour level,
// stabilizer, IR focus correction, rotation, focus window and its size, WDR
// level and mode, aberration and vignetting correction.
const Jobs push_defaults = {12, 13, 14, 16, 20, 21, 22, 23, 24, 26, 36, 38, 39, 27,
                            28, 29, 35, 42, 41, 32, 33, 44, 43, 46, 45};

Jobs concat(std::initializer_list<Jobs> parts)
{
    Jobs all;
    for (const Jobs &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class StartupSyncTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_mkdir_with_parents(root.path("/etc/optad").c_str(), 0755);
        g_mkdir_with_parents(root.path("/etc/legacyconfig/legacymappings.d").c_str(), 0755);
        clock_set_source(&clock);
        process_state_reset_for_tests();
        ASSERT_EQ(sync_objects_create(), 0);
        imc_gate_close();
        param_reset_for_tests();
        param_init();
        events_free();
        events_init();
        open_datacache();
        ASSERT_EQ(hw.dev.caches.size(), 3u);
        s_capture = capture_settings_initial();
        s_sdl = {};
        set_lens_focus_switch(0);
        daemon_state.state = OPTAD_STARTUP_UPDATE_PARAMS;
        log.clear();
    }
    void TearDown() override
    {
        events_free();
        process_state_reset_for_tests();
        param_reset_for_tests();
        s_capture = capture_settings_initial();
        s_sdl = {};
        clock_set_source(nullptr);
    }

    // The first confirmed status: the reply in recv_buf and, as the status
    // request leaves it in this state, the same bytes in scam_sts. The IMC
    // runs mode 1 with a lens attached and the protector open unless the
    // bytes say otherwise.
    void reply(std::initializer_list<std::pair<size_t, uint8_t>> bytes)
    {
        uint8_t *r = spi_recv_buffer();
        std::memset(r, 0, SPI_BUFFER_SIZE);
        r[0x16] = 0x72;
        r[0x17] = 8;
        r[0x12] = 1;
        r[0x15] = 1;
        for (const auto &[off, v] : bytes)
            r[off] = v;
        std::memcpy(scam_sts, r, CAMERA_STATUS_SIZE);
    }

    Jobs queued() const
    {
        Jobs out;
        for (size_t i = 0; i < job_list.size(); ++i)
            out.push_back(job_list.at(i));
        return out;
    }

    std::string events() const { return root.read("/var/run/herald/events.log"); }

    const std::vector<uint8_t> &last_entry(size_t cache) const
    {
        static const std::vector<uint8_t> none;
        const auto &w = hw.dev.caches[cache].written;
        return w.empty() ? none : w.back();
    }

    test::SandboxRoot root;
    VirtualClock clock;
    FakeHardware hw;
    LogCapture log;
};

uint32_t word(const std::vector<uint8_t> &entry, size_t i)
{
    uint32_t v = 0;
    std::memcpy(&v, entry.data() + 4 * i, 4);
    return v;
}

float real(const std::vector<uint8_t> &entry, size_t i)
{
    float v = 0;
    std::memcpy(&v, entry.data() + 4 * i, 4);
    return v;
}

// ---- the capture-mode set-up and the video path ----

TEST_F(StartupSyncTest, CaptureModeInitCopiesTheRowOfTheMode)
{
    struct Case {
        int mode;
        int width, height, code, fps, poll_ms;
        bool error;
    } const cases[] = {
        {2, 3840, 2160, 0x60, 25, 80, false},
        {3, 3840, 2880, 0x61, 15, 133, false},
        {1, 5472, 3648, 0x72, 8, 250, false},
        // Unknown modes fall back to mode 1 even after another mode was in
        // use: the capture-mode job encodes mode 1 for them.
        {0, 5472, 3648, 0x72, 8, 250, true},
        {4, 5472, 3648, 0x72, 8, 250, true},
        {-7, 5472, 3648, 0x72, 8, 250, true},
    };
    const std::string error = "ERROR:optad:main:capture_mode_init - Received an invalid parameter. Using the default "
                              "mode 20MP!\n";
    for (const Case &c : cases) {
        // Start from mode 2, with a settle watch running.
        s_capture = capture_settings_initial();
        s_capture.width = 3840;
        s_capture.height = 2160;
        s_capture.resolution_code = 0x60;
        s_capture.frame_rate = 25;
        s_capture.poll_interval_ms = 80;
        s_capture.settle_in_progress = 1;
        s_capture.settle_deadline_ms = 1234;
        log.clear();
        param_set_int_value(PARAM_CAPTURE_MODE, c.mode);

        capture_mode_init();

        EXPECT_EQ(s_capture.width, c.width) << c.mode;
        EXPECT_EQ(s_capture.height, c.height) << c.mode;
        EXPECT_EQ(s_capture.resolution_code, c.code) << c.mode;
        EXPECT_EQ(s_capture.frame_rate, c.fps) << c.mode;
        EXPECT_EQ(s_capture.poll_interval_ms, c.poll_ms) << c.mode;
        EXPECT_EQ(s_capture.settle_in_progress, 1) << "the settle watch is not the mode's";
        EXPECT_EQ(s_capture.settle_deadline_ms, 1234);
        EXPECT_EQ(log.count(error), c.error ? 1 : 0) << c.mode;
        if (c.error) {
            ASSERT_FALSE(log.lines().empty());
            EXPECT_EQ(log.lines()[0].priority, LOG_ERR);
        }
    }
}

TEST_F(StartupSyncTest, VideoPathIsSetUpForTheModesSize)
{
    param_set_int_value(PARAM_CAPTURE_MODE, 2);
    hw.dev.fpga_regs[0x08] = 0;
    EXPECT_EQ(startup_init_nwc_params(), 0);

    EXPECT_EQ(log.count("DEBUG:optad:main_loop:startup_init_nwc_params - Setup Morvel6 and FPGA: width=3840, "
                        "height=2160\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:startup_init_nwc_params - After setup Morvel6\n"), 1);
    // The video input got the size record (width at 0x10, height at 0x14).
    bool size_record = false;
    for (const test::Cam0Request &r : hw.dev.cam0_log) {
        if (r.request == 0x42CC2B04) {
            ASSERT_EQ(r.record.size(), 716u);
            uint32_t w = 0, h = 0;
            std::memcpy(&w, r.record.data() + 0x10, 4);
            std::memcpy(&h, r.record.data() + 0x14, 4);
            EXPECT_EQ(w, 3840u);
            EXPECT_EQ(h, 2160u);
            size_record = true;
        }
    }
    EXPECT_TRUE(size_record);
    // The FPGA window after it: 3840 x 2160 is 0x10E0F00, 4147200 words.
    const std::vector<std::string> fpga = {"R 0x08", "W 0x08=0x00000000", "W 0x00=0x010E0F00",
                                           "W 0x04=0x003F4800", "W 0x08=0x00000002"};
    EXPECT_EQ(hw.dev.fpga_log, fpga);
}

TEST_F(StartupSyncTest, VideoPathReturnsTheFpgaFailure)
{
    hw.dev.fpga_fail_read[0x08] = EIO;
    EXPECT_EQ(startup_init_nwc_params(), -1);
}

// ---- the first status poll ----

TEST_F(StartupSyncTest, SameModePushesEverythingInOrder)
{
    // Lens attached, protector closed: it is opened.
    param_set_string_value(PARAM_SENSOR_PROTECTOR, "close");
    reply({{0x15, 0}});
    daemon_state.same_capture_mode = 0;

    init_imc_params();

    EXPECT_EQ(queued(), concat({push_defaults, {40, 17, 15, 30}}));
    EXPECT_EQ(daemon_state.same_capture_mode, 1);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_UPDATE);
    EXPECT_FALSE(imc_gate_is_closed());
    EXPECT_STREQ(param_get_string_value(PARAM_SENSOR_PROTECTOR), "open");
    EXPECT_EQ(scam_sts[0x15], 1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - Capture Mode: recv_buf[0x16]=0x72, "
                        "recv_buf[0x17]=0x08\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - Lens Status: recv_buf[0x12-13-15]=0x01-00-00\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - Detected Lens Attached => Open Sunlight "
                        "Protector!\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - Sending same Capture Mode 1!!\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - OPTAD state changed to "
                        "OPTAD_STARTUP_WAIT_UPDATE\n"),
              1);
    EXPECT_EQ(log.count_containing("Requesting new Capture Mode"), 0);

    // The capture-mode job confirmed while the flag is set: no restart.
    job_list.clear();
    job_records[JOB_RESOLUTION].pending = 1;
    job_records[JOB_RESOLUTION].sent_at = clock_now_us();
    const int64_t before = clock.slept_us();
    check_sent_param();
    EXPECT_EQ(job_records[JOB_RESOLUTION].pending, 0);
    EXPECT_EQ(daemon_state.same_capture_mode, 0);
    EXPECT_EQ(daemon_state.imc_restart, 0);
    EXPECT_EQ(queued(), Jobs{});
    EXPECT_EQ(clock.slept_us(), before);
}

TEST_F(StartupSyncTest, OtherModeQueuesOnlyTheCaptureModeJob)
{
    reply({{0x16, 0x60}, {0x17, 25}, {0x46, 3}, {0x47, 9}, {0x9C, 1}, {0x15, 0}});
    daemon_state.same_capture_mode = 1;
    s_sdl = {1, 2, 3, 4, 5, 6};

    init_imc_params();

    EXPECT_EQ(queued(), Jobs{30});
    EXPECT_EQ(daemon_state.same_capture_mode, 0);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_UPDATE);
    EXPECT_FALSE(imc_gate_is_closed());
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - Requesting new Capture Mode 1!!\n"), 1);
    EXPECT_EQ(log.count_containing("Sending same Capture Mode"), 0);
    // Nothing of the lens, limits or protector is taken from a module that
    // is about to restart.
    EXPECT_EQ(s_sdl.diaphragm_min, 1);
    EXPECT_EQ(s_sdl.gain_max, 6);
    EXPECT_TRUE(hw.dev.caches[1].written.empty());
    EXPECT_EQ(get_lens_focus_switch(), 0);
    EXPECT_EQ(scam_sts[0x15], 0);
    // The video path is set up for the configured mode all the same.
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:startup_init_nwc_params - Setup Morvel6 and FPGA: width=5472, "
                        "height=3648\n"),
              1);

    // The IMC reports the new mode: the confirmation pauses 2 s and
    // restarts it.
    job_list.clear();
    scam_sts[0x16] = 0x72;  // what the capture-mode encoder expects
    scam_sts[0x17] = 8;
    spi_recv_buffer()[0x16] = 0x72;
    spi_recv_buffer()[0x17] = 8;
    job_records[JOB_RESOLUTION].pending = 1;
    job_records[JOB_RESOLUTION].sent_at = clock_now_us();
    const int64_t before = clock.slept_us();
    check_sent_param();
    EXPECT_EQ(clock.slept_us() - before, 2'000'000);
    EXPECT_EQ(daemon_state.imc_restart, 1);
    EXPECT_EQ(queued(), Jobs{JT_RESTART_IMC});
}

TEST_F(StartupSyncTest, SlowShutterJobFollowsTheExposureMode)
{
    struct Case {
        const char *exposure;
        const char *frequency;
        int job;
    } const cases[] = {
        {"flickerreduced", "60Hz", 19}, {"flickerreduced", "50Hz", 18}, {"flickerfree", "50Hz", 17},
        {"flickerfree", "60Hz", 17},    {"auto", "50Hz", 17},           {"manual", "60Hz", 17},
    };
    for (const Case &c : cases) {
        job_list.clear();
        param_set_string_value(PARAM_EXPOSURE, c.exposure);
        param_set_string_value(PARAM_CAPTURE_FREQUENCY, c.frequency);
        reply({});
        daemon_state.state = OPTAD_STARTUP_UPDATE_PARAMS;
        init_imc_params();
        EXPECT_EQ(queued(), concat({push_defaults, {c.job, 15, 30}})) << c.exposure << " " << c.frequency;
    }
}

TEST_F(StartupSyncTest, PushDependsOnIrCutFilterAndManualWhiteBalance)
{
    // Auto day/night with manual white balance; then the day/night command
    // for a fixed filter, at its place after the auto day/night job.
    const Jobs manual_wb = {12, 13, 14, 16, 20, 21, 22, 23, 25, 26, 36, 38, 39, 27,
                            28, 29, 35, 42, 41, 32, 33, 44, 43, 46, 45};
    const Jobs fixed_filter = {12, 13, 14, 16, 20, 21, 22, 23, 24, 26, 36, 37, 38, 39,
                               27, 28, 29, 35, 42, 41, 32, 33, 44, 43, 46, 45};
    struct Case {
        const char *ir_cut;
        const char *wb_manual;
        const Jobs *push;
    } const cases[] = {
        {"auto", "no", &push_defaults},
        {"auto", "yes", &manual_wb},
        {"yes", "no", &fixed_filter},
        {"no", "no", &fixed_filter},
    };
    for (const Case &c : cases) {
        job_list.clear();
        param_set_string_value(PARAM_IR_CUT_FILTER, c.ir_cut);
        param_set_string_value(PARAM_WHITE_BALANCE_MANUAL, c.wb_manual);
        reply({});
        init_imc_params();
        EXPECT_EQ(queued(), concat({*c.push, {17, 15, 30}})) << c.ir_cut << " " << c.wb_manual;
    }
}

TEST_F(StartupSyncTest, SunlightProtectorFollowsTheLens)
{
    struct Case {
        uint8_t attached, protector;
        bool queued;
        const char *setting;    // SensorProtector afterwards
        uint8_t expected_15;    // scam_sts[0x15] afterwards
        const char *line;
    } const cases[] = {
        {1, 0, true, "open", 1, "Detected Lens Attached => Open Sunlight Protector!\n"},
        {0, 1, true, "close", 0, "Detected Lens Detached => Close Sunlight Protector!\n"},
        {1, 1, false, "unchanged", 1, "No need to update Sunlight Protector!"},
        {0, 0, false, "unchanged", 0, "No need to update Sunlight Protector!"},
        {1, 2, false, "unchanged", 2, "No need to update Sunlight Protector!"},
        {0, 0x80, false, "unchanged", 0x80, "No need to update Sunlight Protector!"},
    };
    for (const Case &c : cases) {
        job_list.clear();
        log.clear();
        param_set_string_value(PARAM_SENSOR_PROTECTOR, "unchanged");
        // A protector job left pending from before the restart.
        job_records[JOB_SUNLIGHT].pending = 1;
        job_records[JOB_SUNLIGHT].tries = 3;
        job_records[JOB_SUNLIGHT].sent_at = 77;
        reply({{0x12, c.attached}, {0x15, c.protector}});

        init_imc_params();

        Jobs expected = concat({push_defaults, {40, 17, 15, 30}});
        if (!c.queued)
            expected = concat({push_defaults, {17, 15, 30}});
        EXPECT_EQ(queued(), expected) << int(c.attached) << "/" << int(c.protector);
        EXPECT_STREQ(param_get_string_value(PARAM_SENSOR_PROTECTOR), c.setting);
        EXPECT_EQ(scam_sts[0x15], c.expected_15);
        EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - " + std::string(c.line)), 1) << c.line;
        if (!c.queued) {
            EXPECT_EQ(job_records[JOB_SUNLIGHT].pending, 0);
            EXPECT_EQ(job_records[JOB_SUNLIGHT].tries, 0);
        } else {
            EXPECT_EQ(job_records[JOB_SUNLIGHT].pending, 1) << "left to its send";
        }
    }
}

TEST_F(StartupSyncTest, DayNightStateAtStartUp)
{
    struct Case {
        uint8_t state;
        const char *declared;  // the "day" value declared, or nullptr
    } const cases[] = {{0, "day:2=1"}, {1, "day:2=0"}, {0x80, nullptr}, {2, nullptr}};
    for (const Case &c : cases) {
        events_free();
        root.write("/var/run/herald/events.log", "");
        events_init();
        log.clear();
        reply({{0x66, c.state}});
        init_imc_params();
        const std::string published = events();
        const std::string warning = "WARNING:optad:main_loop:init_imc_params - Not possible to init System Event for "
                                    "current Day/Night status (status is " +
                                    std::to_string(c.state) + ")\n";
        if (c.declared != nullptr) {
            EXPECT_NE(published.find(c.declared), std::string::npos) << published;
            EXPECT_EQ(log.count(warning), 0);
        } else {
            EXPECT_EQ(published, "") << int(c.state);
            ASSERT_EQ(log.count(warning), 1) << log.text();
            for (const auto &l : log.lines()) {
                if (l.text == warning) {
                    EXPECT_EQ(l.priority, LOG_WARNING);
                }
            }
        }
    }
    EXPECT_EQ(log.count("WARNING:optad:main_loop:init_imc_params - Not possible to init System Event for current "
                        "Day/Night status (status is 2)\n"),
              1);
}

TEST_F(StartupSyncTest, DayNightEventIsInitialisedBeforeAModeChange)
{
    reply({{0x16, 0x61}, {0x17, 15}, {0x66, 1}});
    init_imc_params();
    EXPECT_NE(events().find("day:2=0"), std::string::npos) << events();
}

TEST_F(StartupSyncTest, LimitsLensAndExposureArePublished)
{
    param_set_int_value(PARAM_IRIS, 3);  // below the iris range: pulled up
    reply({{0x46, 5},
           {0x47, 20},
           {0x48, 10},
           {0x49, 40},
           {0x4A, 2},
           {0x4B, 30},
           {0x43, 27},
           {0x44, 4},
           {0x42, 7},
           {0x32, 50},
           {0x33, 0},
           {0x34, 10},
           {0x36, 0x34},
           {0x37, 0x12},
           {0x9C, 1},
           {0x12, 1},
           {0xC0, 'Z'},
           {0xC1, 'x'}});
    // The reply and the saved copy differ where the IMC moved on: limits
    // come from the reply, the current exposure and optics from the copy.
    spi_recv_buffer()[0x43] = 0;
    spi_recv_buffer()[0x32] = 0;

    init_imc_params();

    EXPECT_EQ(s_sdl.diaphragm_min, 5);
    EXPECT_EQ(s_sdl.diaphragm_max, 20);
    EXPECT_EQ(s_sdl.shutter_speed_min, 10);
    EXPECT_EQ(s_sdl.shutter_speed_max, 40);
    EXPECT_EQ(s_sdl.gain_min, 2);
    EXPECT_EQ(s_sdl.gain_max, 30);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - Updated Diaphragm to Min[0x46]=0x05, "
                        "Max[0x47]=0x14!\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - Updated Shutter Speed to Min[0x48]=0x0A, "
                        "Max[0x49]=0x28!\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - Updated Gain to Min[0x4A]=0x02, "
                        "Max[0x4B]=0x1E!\n"),
              1);
    // The configuration is pulled into the new limits.
    EXPECT_EQ(param_get_int_value(PARAM_IRIS), 5);

    // Limits entry: gain dB 3 and 45, ISO 140 and 19200, f-number x10 15
    // and 56, exposure 166667 and 833 us.
    const auto &limits = last_entry(1);
    ASSERT_EQ(limits.size(), 32u);
    const uint32_t expected_limits[] = {3, 45, 140, 19200, 15, 56, 166667, 833};
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(word(limits, i), expected_limits[i]) << "limits field " << i;
    // Sensor entry from the saved copy: gain index 4 = 6 dB and ISO 200,
    // iris index 7 = f/1.8, shutter index 27 = 8333 us.
    const auto &sensor = last_entry(0);
    ASSERT_EQ(sensor.size(), 16u);
    EXPECT_EQ(word(sensor, 0), 6u);
    EXPECT_EQ(word(sensor, 1), 200u);
    EXPECT_EQ(word(sensor, 2), 18u);
    EXPECT_EQ(word(sensor, 3), 8333u);
    // Optics entry: a 50 mm lens, second value 10.
    const auto &optics = last_entry(2);
    ASSERT_EQ(optics.size(), 20u);
    EXPECT_NEAR(real(optics, 0), 25.25f, 0.01f);
    EXPECT_NEAR(real(optics, 1), 17.06f, 0.01f);
    EXPECT_FLOAT_EQ(real(optics, 2), 5.0f);
    EXPECT_FLOAT_EQ(real(optics, 3), 50.0f);
    EXPECT_EQ(static_cast<int32_t>(word(optics, 4)), -1);

    // A lens the decoder does not know is published as such.
    EXPECT_NE(root.read("/var/run/valuepool/LENS").find("INFO=Unknown\n"), std::string::npos)
        << root.read("/var/run/valuepool/LENS");
    EXPECT_EQ(get_lens_focus_switch(), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:init_imc_params - Updated lens focus switch to =0x01!\n"), 1);
}

TEST_F(StartupSyncTest, DetachedLensIsPublished)
{
    set_lens_focus_switch(1);
    reply({{0x12, 0}, {0x15, 0}, {0x9C, 0}});
    init_imc_params();
    EXPECT_NE(root.read("/var/run/valuepool/LENS").find("INFO=Detached\n"), std::string::npos)
        << root.read("/var/run/valuepool/LENS");
    EXPECT_EQ(get_lens_focus_switch(), 0);
}

TEST_F(StartupSyncTest, OpensTheGateForOtherThreads)
{
    ASSERT_TRUE(imc_gate_is_closed());
    reply({});
    init_imc_params();
    EXPECT_FALSE(imc_gate_is_closed());
    // Another thread's test of the gate now succeeds.
    bool started = false;
    GThread *t = g_thread_new(
        "gate", [](gpointer p) -> gpointer {
            *static_cast<bool *>(p) = imc_is_started();
            return nullptr;
        },
        &started);
    g_thread_join(t);
    EXPECT_TRUE(started);
}

// ---- the completion check ----

TEST_F(StartupSyncTest, CompletionWaitsForEveryPendingParameterJob)
{
    const std::string done = "DEBUG:optad:main_loop:startup_check_confirmations - Done updating params!";
    struct Case {
        const char *what;
        int job;      // record changed, or -1 for none
        int pending;
        int tries;
        bool done;
    } const cases[] = {
        {"all idle", -1, 0, 0, true},
        {"exposure mode pending", 12, 1, 1, false},
        {"capture mode pending", 30, 1, 4, false},
        {"last parameter job pending", 47, 1, 1, false},
        {"given up after ten sends", 24, 0, 10, true},
        {"confirmed", 40, 0, 0, true},
        {"a job type's record is not a parameter", JT_WAIT_STREAM, 1, 1, true},
    };
    for (const Case &c : cases) {
        job_records_clear(job_records);
        job_list.clear();
        log.clear();
        if (c.job >= 0) {
            job_records[c.job].pending = c.pending;
            job_records[c.job].tries = c.tries;
            job_records[c.job].sent_at = 5;
        }
        startup_check_confirmations();
        EXPECT_EQ(queued(), c.done ? Jobs{JT_WAIT_STREAM} : Jobs{}) << c.what;
        EXPECT_EQ(log.count(done), c.done ? 1 : 0) << c.what;
    }
}

TEST_F(StartupSyncTest, CompletionAfterThePushIsConfirmed)
{
    reply({});
    init_imc_params();
    // Every queued job sent and waiting.
    const Jobs sent = queued();
    job_list.clear();
    for (int job : sent)
        job_records[job].pending = 1;
    startup_check_confirmations();
    EXPECT_TRUE(job_list.empty());
    // Confirmed one by one; the last one releases the stream wait.
    for (size_t i = 0; i < sent.size(); ++i) {
        job_records[sent[i]].pending = 0;
        startup_check_confirmations();
        if (i + 1 < sent.size()) {
            ASSERT_TRUE(job_list.empty()) << "after " << sent[i];
        }
    }
    EXPECT_EQ(queued(), Jobs{JT_WAIT_STREAM});
}

}  // namespace
}  // namespace optad
