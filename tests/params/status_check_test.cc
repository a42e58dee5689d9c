// The checks every status reply goes through: the empty reply, the module's
// faults with their timers on virtual time, the poll rate, the
// exposure-settle watch and the work done by daemon state.
#include "params/status_check.h"

#include "board/fpga.h"
#include "config/param_settings.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/day_night.h"
#include "params/sdl.h"
#include "params/settle_watch.h"
#include "params/status_monitor.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "tests/imc/fake_hw.h"
#include "tests/params/control_state.h"
#include "tests/support/test_support.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;
using test::SandboxRoot;

const std::string HEARTBEAT_ERROR =
    "ERROR:optad:main_loop:check_for_errors - IMC system stopped unexpectedly (Heartbeat ERROR)!\n";
const std::string PROTECTOR_ERROR =
    "ERROR:optad:main_loop:check_for_errors - Sunlight protector stuck in Moving state!\n";
const std::string IR_CUT_ERROR = "ERROR:optad:main_loop:check_for_errors - IR Cut Filter responds error!\n";
const std::string EMPTY_REPLY = "optad:check_camera_status - Received empty Camera Status!";

class StatusCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        test::reset_parameter_control(root);
        log.clear();
    }
    void TearDown() override
    {
        test::clear_parameter_control();
        clock_set_source(nullptr);
    }

    static uint8_t *recv() { return spi_recv_buffer(); }

    // A reply that is not empty and raises no fault: a live heart beat
    // (changing at every call) unless asked to hold it.
    void live_reply()
    {
        recv()[STS_HEART_BEAT] = static_cast<uint8_t>(++beat);
        recv()[STS_HEART_BEAT + 1] = 0x01;
    }

    std::vector<int> jobs() const
    {
        std::vector<int> out;
        for (size_t i = 0; i < job_list.size(); ++i)
            out.push_back(job_list.at(i));
        return out;
    }
    int queued(int id) const
    {
        int n = 0;
        for (int j : jobs())
            n += j == id;
        return n;
    }

    SandboxRoot root;
    VirtualClock clock;
    FakeHardware hw;
    LogCapture log;
    int beat = 0;
};

// ---- the empty reply ----

TEST_F(StatusCheckTest, EmptyReplyIsSkippedWhole)
{
    // Everything that would act on a real reply is primed: a confirmable
    // pending job, the parameter-sync state, a settle watch.
    daemon_state.state = OPTAD_STARTUP_UPDATE_PARAMS;
    job_records[JOB_EXP_COMP].pending = 1;
    scam_sts[STS_EXPOSURE_COMP] = 0;  // the reply's 0 would confirm it
    scam_sts[STS_HEART_BEAT] = 0x12;
    scam_sts[STS_HEART_BEAT + 1] = 0x34;
    scam_sts[STS_SHUTTER_INDEX] = 0;  // 1 s: the poll rule would give 500 ms
    start_exposure_settle_watch();

    EXPECT_EQ(check_camera_status(), 0);

    EXPECT_EQ(log.count(EMPTY_REPLY), 1);
    EXPECT_TRUE(jobs().empty());
    EXPECT_EQ(job_records[JOB_EXP_COMP].pending, 1);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_UPDATE_PARAMS);
    EXPECT_EQ(s_capture.poll_interval_ms, 250);
    EXPECT_EQ(s_capture.settle_deadline_ms, -1);
    EXPECT_EQ(scam_sts[STS_HEART_BEAT], 0x12);
}

TEST_F(StatusCheckTest, EmptyReplyMessageOnlyWhenVerbose)
{
    log_set_verbose(false);
    EXPECT_EQ(check_camera_status(), 0);
    EXPECT_EQ(log.count(EMPTY_REPLY), 0);
    log_set_verbose(true);
    EXPECT_EQ(check_camera_status(), 0);
    ASSERT_EQ(log.count(EMPTY_REPLY), 1);
    EXPECT_EQ(log.lines()[0].priority, LOG_WARNING);
}

// ---- heart beat ----

TEST_F(StatusCheckTest, HeartBeatFFFFNeverFails)
{
    recv()[STS_HEART_BEAT] = 0xFF;
    recv()[STS_HEART_BEAT + 1] = 0xFF;
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(check_for_errors(), 0) << i;
        clock.advance(250'000);
    }
    EXPECT_EQ(log.count(HEARTBEAT_ERROR), 0);
    EXPECT_TRUE(jobs().empty());
}

TEST_F(StatusCheckTest, HeartBeatStuckForMoreThanFiveSecondsFailsOnceThenStartsAnew)
{
    recv()[STS_HEART_BEAT] = 0x12;
    recv()[STS_HEART_BEAT + 1] = 0x34;
    // First sight of the word (it differs from the saved one): timer set.
    EXPECT_EQ(check_for_errors(), 0);
    EXPECT_EQ(scam_sts[STS_HEART_BEAT], 0x12);
    EXPECT_EQ(scam_sts[STS_HEART_BEAT + 1], 0x34);

    clock.advance(5'000'000);  // exactly 5 s: not yet
    EXPECT_EQ(check_for_errors(), 0);
    EXPECT_EQ(log.count(HEARTBEAT_ERROR), 0);

    clock.advance(1);  // just over
    EXPECT_LT(check_for_errors(), 0);
    EXPECT_EQ(log.count(HEARTBEAT_ERROR), 1);
    EXPECT_EQ(jobs(), std::vector<int>({JT_ERROR}));

    // The timer starts anew at the next poll: another 5 s pass quietly.
    clock.advance(250'000);
    EXPECT_EQ(check_for_errors(), 0);
    clock.advance(5'000'000);
    EXPECT_EQ(check_for_errors(), 0);
    EXPECT_EQ(log.count(HEARTBEAT_ERROR), 1);
    clock.advance(1);
    EXPECT_LT(check_for_errors(), 0);
    EXPECT_EQ(log.count(HEARTBEAT_ERROR), 2);
    EXPECT_EQ(queued(JT_ERROR), 2);
}

TEST_F(StatusCheckTest, HeartBeatThatChangesNeverFails)
{
    for (int i = 0; i < 40; ++i) {
        // Changes every 4.9 s; either byte changing counts.
        recv()[i % 2 == 0 ? STS_HEART_BEAT : STS_HEART_BEAT + 1] = static_cast<uint8_t>(i + 1);
        EXPECT_EQ(check_for_errors(), 0) << i;
        clock.advance(4'900'000);
    }
    EXPECT_EQ(log.count(HEARTBEAT_ERROR), 0);
}

TEST_F(StatusCheckTest, HeartBeatWatchResetRestartsTheCount)
{
    recv()[STS_HEART_BEAT] = 0x12;
    recv()[STS_HEART_BEAT + 1] = 0x34;
    EXPECT_EQ(check_for_errors(), 0);
    clock.advance(4'000'000);
    reset_heart_beat_watch();
    EXPECT_EQ(check_for_errors(), 0);  // starts the timer again here
    clock.advance(4'000'000);
    EXPECT_EQ(check_for_errors(), 0);
    clock.advance(1'000'001);
    EXPECT_LT(check_for_errors(), 0);
}

// ---- lens ----

TEST_F(StatusCheckTest, LensErrorOnTheChangeTo0x80Only)
{
    live_reply();
    recv()[STS_LENS_ATTACHED] = 0x07;  // the error code while 0x13 is 0x80
    recv()[STS_LENS_STATUS] = 0x80;
    EXPECT_LT(check_for_errors(), 0);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:check_for_errors - Lens Error! (Code: 0x07)!\n"), 1);
    EXPECT_EQ(jobs(), std::vector<int>({JT_ERROR}));
    EXPECT_EQ(scam_sts[STS_LENS_STATUS], 0x80);
    EXPECT_EQ(scam_sts[STS_LENS_ATTACHED], 0x07);

    for (int i = 0; i < 5; ++i) {
        live_reply();
        EXPECT_EQ(check_for_errors(), 0);
    }
    EXPECT_EQ(log.count_containing("Lens Error!"), 1);

    // Back to normal and into the error again: a new error.
    live_reply();
    recv()[STS_LENS_STATUS] = 0x00;
    EXPECT_EQ(check_for_errors(), 0);
    live_reply();
    recv()[STS_LENS_STATUS] = 0x80;
    EXPECT_LT(check_for_errors(), 0);
    EXPECT_EQ(log.count_containing("Lens Error!"), 2);
}

TEST_F(StatusCheckTest, OtherLensStatusChangesAreOnlyCopied)
{
    live_reply();
    recv()[STS_LENS_ATTACHED] = 1;
    recv()[STS_LENS_STATUS] = 0x01;
    EXPECT_EQ(check_for_errors(), 0);
    EXPECT_EQ(scam_sts[STS_LENS_STATUS], 0x01);
    EXPECT_EQ(scam_sts[STS_LENS_ATTACHED], 1);
    EXPECT_TRUE(jobs().empty());
}

// ---- sunlight protector ----

TEST_F(StatusCheckTest, ProtectorMovingUpToTwoSecondsIsFineLongerIsStuck)
{
    live_reply();
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_MOVING;
    EXPECT_EQ(check_for_errors(), 0);  // first poll that saw it moving
    clock.advance(1'900'000);
    live_reply();
    EXPECT_EQ(check_for_errors(), 0);
    clock.advance(100'000);  // exactly 2 s
    live_reply();
    EXPECT_EQ(check_for_errors(), 0);
    EXPECT_EQ(log.count(PROTECTOR_ERROR), 0);
    clock.advance(1);
    live_reply();
    EXPECT_LT(check_for_errors(), 0);
    EXPECT_EQ(log.count(PROTECTOR_ERROR), 1);
    EXPECT_EQ(jobs(), std::vector<int>({JT_ERROR}));
    // The timer was set back: the next poll starts it again.
    live_reply();
    EXPECT_EQ(check_for_errors(), 0);
}

TEST_F(StatusCheckTest, ProtectorTimerTimesOneTravel)
{
    live_reply();
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_MOVING;
    EXPECT_EQ(check_for_errors(), 0);
    // At rest for a while: that travel is over.
    clock.advance(1'000'000);
    live_reply();
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_OPEN;
    EXPECT_EQ(check_for_errors(), 0);
    // The next travel, 2.5 s after the first one started, is timed on its
    // own: fine up to 2 s, stuck after.
    clock.advance(1'500'000);
    live_reply();
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_MOVING;
    EXPECT_EQ(check_for_errors(), 0);
    clock.advance(2'000'000);
    live_reply();
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_MOVING;
    EXPECT_EQ(check_for_errors(), 0);
    EXPECT_EQ(log.count(PROTECTOR_ERROR), 0);
    clock.advance(1);
    live_reply();
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_MOVING;
    EXPECT_LT(check_for_errors(), 0);
    EXPECT_EQ(log.count(PROTECTOR_ERROR), 1);
}

TEST_F(StatusCheckTest, ProtectorTimerIsClearedByAConfirmedCommand)
{
    live_reply();
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_MOVING;
    EXPECT_EQ(check_for_errors(), 0);
    clock.advance(1'500'000);
    reset_protector_moving_timer();
    live_reply();
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_MOVING;
    EXPECT_EQ(check_for_errors(), 0);  // starts the count again
    clock.advance(1'500'000);
    live_reply();
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_MOVING;
    EXPECT_EQ(check_for_errors(), 0);
    EXPECT_EQ(log.count(PROTECTOR_ERROR), 0);
}

// ---- IR-cut filter ----

TEST_F(StatusCheckTest, IrCutErrorAtEveryPoll)
{
    for (int i = 0; i < 3; ++i) {
        live_reply();
        recv()[STS_DAY_NIGHT_STATE] = 0x80;
        EXPECT_LT(check_for_errors(), 0);
    }
    EXPECT_EQ(log.count(IR_CUT_ERROR), 3);
    EXPECT_EQ(queued(JT_ERROR), 3);
    for (uint8_t state : {0x00, 0x01}) {
        live_reply();
        recv()[STS_DAY_NIGHT_STATE] = state;
        EXPECT_EQ(check_for_errors(), 0);
    }
}

TEST_F(StatusCheckTest, FirstFaultStopsTheChecks)
{
    // Lens error and IR-cut error in the same reply: only the lens error.
    live_reply();
    recv()[STS_LENS_STATUS] = 0x80;
    recv()[STS_DAY_NIGHT_STATE] = 0x80;
    EXPECT_LT(check_for_errors(), 0);
    EXPECT_EQ(log.count_containing("Lens Error!"), 1);
    EXPECT_EQ(log.count(IR_CUT_ERROR), 0);
    EXPECT_EQ(queued(JT_ERROR), 1);
}

// ---- FPGA ----

TEST_F(StatusCheckTest, FpgaCheckedEverySixtySecondsWhileRunning)
{
    struct Case {
        int io_exp;  // -1: the read fails
        const char *error;  // nullptr: no fault
    } cases[] = {
        {0x70, nullptr},
        {0x7F, nullptr},
        {-1, "ERROR:optad:main_loop:check_for_errors - FPGA error!!!, io_exp=0xFFFFFFFF\n"},
        {0xF0, "ERROR:optad:main_loop:check_for_errors - FPGA not initialized!!!, io_exp=0xF0\n"},
        {0x80, "ERROR:optad:main_loop:check_for_errors - FPGA not initialized!!!, io_exp=0x80\n"},
        {0x60, "ERROR:optad:main_loop:check_for_errors - Lost link in FPGA!!!, io_exp=0x60\n"},
        {0x50, "ERROR:optad:main_loop:check_for_errors - Lost link in FPGA!!!, io_exp=0x50\n"},
        {0x30, "ERROR:optad:main_loop:check_for_errors - Lost link in FPGA!!!, io_exp=0x30\n"},
        {0x00, "ERROR:optad:main_loop:check_for_errors - Lost link in FPGA!!!, io_exp=0x00\n"},
    };
    daemon_state.state = OPTAD_STARTUP_DONE;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.io_exp);
        status_check_reset_for_tests();
        job_list.clear();
        log.clear();
        hw.dev.fpga_log.clear();
        hw.dev.fpga_fail_read.clear();
        if (c.io_exp < 0)
            hw.dev.fpga_fail_read[FPGA_REG_IO_EXP] = EIO;
        else
            hw.dev.fpga_regs[FPGA_REG_IO_EXP] = 0xA500 | static_cast<uint32_t>(c.io_exp);

        live_reply();
        EXPECT_EQ(check_for_errors(), 0);  // starts the period
        clock.advance(60'000'000);         // exactly 60 s: not yet
        live_reply();
        EXPECT_EQ(check_for_errors(), 0);
        EXPECT_TRUE(hw.dev.fpga_log.empty());
        clock.advance(1);
        live_reply();
        int rc = check_for_errors();
        EXPECT_EQ(hw.dev.fpga_log, std::vector<std::string>({"R 0x20"}));
        char debug[128];
        std::snprintf(debug, sizeof debug,
                      "DEBUG:optad:main_loop:check_for_errors - Current FPGA status: io_exp=0x%02X\n", c.io_exp);
        EXPECT_EQ(log.count(debug), 1);
        if (c.error == nullptr) {
            EXPECT_EQ(rc, 0);
            EXPECT_TRUE(jobs().empty());
            EXPECT_EQ(log.count_containing("ERROR:"), 0);
        } else {
            EXPECT_LT(rc, 0);
            EXPECT_EQ(log.count(c.error), 1);
            EXPECT_EQ(jobs(), std::vector<int>({JT_FPGA_ERROR}));
        }
        // A new period begins at the next poll.
        hw.dev.fpga_log.clear();
        clock.advance(30'000'000);
        live_reply();
        EXPECT_EQ(check_for_errors(), 0);
        EXPECT_TRUE(hw.dev.fpga_log.empty());
    }
}

TEST_F(StatusCheckTest, FpgaNotCheckedBeforeStartUpIsDone)
{
    hw.dev.fpga_regs[FPGA_REG_IO_EXP] = 0x00;  // would be a lost link
    for (int state : {OPTAD_STARTUP_WAIT_INT, OPTAD_STARTUP_CHECK_FIRM, OPTAD_STARTUP_UPDATE_PARAMS,
                      OPTAD_STARTUP_WAIT_UPDATE}) {
        daemon_state.state = state;
        for (int i = 0; i < 3; ++i) {
            live_reply();
            EXPECT_EQ(check_for_errors(), 0);
            clock.advance(61'000'000);
        }
    }
    EXPECT_TRUE(hw.dev.fpga_log.empty());
    EXPECT_TRUE(jobs().empty());
}

// ---- poll rate ----

TEST_F(StatusCheckTest, PollIntervalFollowsLongExposuresElseTwoFrames)
{
    struct Case {
        int capture_mode;
        uint8_t shutter_index;
        int interval_ms;
    } cases[] = {
        {1, 0, 500},    // 1 s: half the exposure
        {1, 11, 250},   // 1/8 s at 8 fps: two frames
        {2, 0, 500},
        {2, 11, 80},    // 25 fps
        {3, 51, 133},   // 1/8000 s at 15 fps
        {1, 200, 250},  // no such index: two frames
    };
    daemon_state.state = OPTAD_STARTUP_CHECK_FIRM;
    for (const Case &c : cases) {
        capture_settings_apply(s_capture, *capture_mode_find(c.capture_mode));
        s_capture.poll_interval_ms = 1;
        scam_sts[STS_SHUTTER_INDEX] = c.shutter_index;
        live_reply();
        EXPECT_EQ(check_camera_status(), 0);
        EXPECT_EQ(s_capture.poll_interval_ms, c.interval_ms) << c.capture_mode << " " << int(c.shutter_index);
    }
}

TEST_F(StatusCheckTest, FaultSkipsTheRestOfThePoll)
{
    daemon_state.state = OPTAD_STARTUP_DONE;
    scam_sts[STS_SHUTTER_INDEX] = 0;
    job_records[JOB_EXP_COMP].pending = 1;
    scam_sts[STS_EXPOSURE_COMP] = 0x05;
    live_reply();
    recv()[STS_EXPOSURE_COMP] = 0x05;
    recv()[STS_TEMPERATURE] = 0x2A;
    recv()[STS_DAY_NIGHT_STATE] = 0x80;
    EXPECT_EQ(check_camera_status(), 0);
    EXPECT_EQ(log.count(IR_CUT_ERROR), 1);
    EXPECT_EQ(s_capture.poll_interval_ms, 250);
    EXPECT_EQ(job_records[JOB_EXP_COMP].pending, 1);
    EXPECT_EQ(scam_sts[STS_TEMPERATURE], 0);
    bool exists = true;
    root.read("/var/run/optad/imc_temperature", &exists);
    EXPECT_FALSE(exists);
}

// ---- what runs by daemon state ----

TEST_F(StatusCheckTest, ConfirmationsRunInEveryState)
{
    for (int state : {OPTAD_STARTUP_CHECK_FIRM, OPTAD_STARTUP_WAIT_UPDATE, OPTAD_STARTUP_DONE}) {
        daemon_state.state = state;
        job_records[JOB_EXP_COMP].pending = 1;
        job_records[JOB_EXP_COMP].sent_at = clock_now_us();
        scam_sts[STS_EXPOSURE_COMP] = 0x05;
        live_reply();
        recv()[STS_EXPOSURE_COMP] = 0x05;
        EXPECT_EQ(check_camera_status(), 0);
        EXPECT_EQ(job_records[JOB_EXP_COMP].pending, 0) << state;
    }
}

TEST_F(StatusCheckTest, RunningStateFollowsTheModulesChanges)
{
    daemon_state.state = OPTAD_STARTUP_DONE;
    live_reply();
    recv()[STS_TEMPERATURE] = 0x2A;
    EXPECT_EQ(check_camera_status(), 0);
    EXPECT_EQ(scam_sts[STS_TEMPERATURE], 0x2A);
    EXPECT_EQ(root.read("/var/run/optad/imc_temperature"), "42");
}

TEST_F(StatusCheckTest, OtherStatesLeaveTheModulesChangesAlone)
{
    for (int state : {OPTAD_STARTUP_WAIT_POWER, OPTAD_STARTUP_POWERUP, OPTAD_STARTUP_WAIT_INT,
                      OPTAD_STARTUP_CHECK_FIRM}) {
        daemon_state.state = state;
        live_reply();
        recv()[STS_TEMPERATURE] = 0x2A;
        recv()[STS_RESOLUTION] = 0x72;
        recv()[STS_FRAME_RATE] = 8;
        EXPECT_EQ(check_camera_status(), 0);
        EXPECT_EQ(daemon_state.state, state);
        EXPECT_EQ(scam_sts[STS_TEMPERATURE], 0);
        EXPECT_TRUE(jobs().empty()) << state;
    }
    bool exists = true;
    root.read("/var/run/optad/imc_temperature", &exists);
    EXPECT_FALSE(exists);
}

TEST_F(StatusCheckTest, UpdateParamsStateStartsTheSync)
{
    daemon_state.state = OPTAD_STARTUP_UPDATE_PARAMS;
    live_reply();
    // Another capture mode than the configured one: only the capture-mode
    // job goes out.
    recv()[STS_RESOLUTION] = 0x60;
    recv()[STS_FRAME_RATE] = 25;
    EXPECT_EQ(check_camera_status(), 0);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_UPDATE);
    EXPECT_EQ(queued(JOB_RESOLUTION), 1);
    // Not the running state's work.
    EXPECT_EQ(scam_sts[STS_TEMPERATURE], 0);
}

TEST_F(StatusCheckTest, WaitUpdateStateWaitsForEveryConfirmation)
{
    daemon_state.state = OPTAD_STARTUP_WAIT_UPDATE;
    job_records[JOB_SHARPNESS].pending = 1;
    job_records[JOB_SHARPNESS].sent_at = clock_now_us();
    scam_sts[STS_SHARPNESS] = 0x09;  // not confirmed by the reply's 0
    live_reply();
    EXPECT_EQ(check_camera_status(), 0);
    EXPECT_EQ(queued(JT_WAIT_STREAM), 0);

    job_records[JOB_SHARPNESS].pending = 0;
    live_reply();
    EXPECT_EQ(check_camera_status(), 0);
    EXPECT_EQ(queued(JT_WAIT_STREAM), 1);
}

// ---- the exposure-settle watch ----

class SettleWatchTest : public StatusCheckTest {
protected:
    // One poll at t0 + at_ms with the given gain and shutter indices.
    void poll(int64_t at_ms, uint8_t gain, uint8_t shutter)
    {
        int64_t target_us = t0_us + at_ms * 1000;
        ASSERT_GE(target_us, clock.now_us());
        clock.advance(target_us - clock.now_us());
        recv()[STS_GAIN_INDEX] = gain;
        recv()[STS_SHUTTER_INDEX] = shutter;
        exposure_settle_watch();
    }
    bool settled() const
    {
        return s_capture.settle_in_progress == 0 && param_get_int_value(PARAM_EXPOSURE_PROGRESS) == 0;
    }
    void start(int capture_mode)
    {
        param_set_int_value(PARAM_CAPTURE_MODE, capture_mode);
        param_set_int_value(PARAM_EXPOSURE_PROGRESS, 1);
        s_capture.gain_index = 0xEE;
        s_capture.shutter_index = 0xEE;
        start_exposure_settle_watch();
        t0_us = clock.now_us();
    }

    int64_t t0_us = 0;
};

TEST_F(SettleWatchTest, SettleCountsByCaptureMode)
{
    struct Row {
        int mode, gain, shutter;
    } rows[] = {{1, 1, 4}, {2, 3, 12}, {3, 2, 7}, {0, 1, 4}, {4, 1, 4}, {-1, 1, 4}};
    for (const Row &r : rows) {
        EXPECT_EQ(settle_counts_for(r.mode).gain_count, r.gain) << r.mode;
        EXPECT_EQ(settle_counts_for(r.mode).shutter_count, r.shutter) << r.mode;
    }
}

TEST_F(SettleWatchTest, EndsEarlyWhenBothCountsAreExactAtOnePoll)
{
    struct Row {
        int mode, gain_count, shutter_count;
    } rows[] = {{1, 1, 4}, {2, 3, 12}, {3, 2, 7}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.mode);
        start(r.mode);
        poll(0, 1, 1);  // starts the deadline at t0 + 1000 ms
        EXPECT_EQ(s_capture.settle_deadline_ms, t0_us / 1000 + 1000);
        // Past the deadline, the shutter steady from poll P on and the gain
        // from poll P + shutter_count - gain_count on: both counts are
        // exact at poll P + shutter_count.
        const int p = 20;
        int64_t t = 1100;
        for (int i = 0; i <= p + r.shutter_count; ++i, t += 10) {
            uint8_t shutter = i < p ? static_cast<uint8_t>(10 + i) : 0x30;
            uint8_t gain = i < p + r.shutter_count - r.gain_count ? static_cast<uint8_t>(100 + i) : 0x40;
            poll(t, gain, shutter);
            if (i < p + r.shutter_count) {
                ASSERT_FALSE(settled()) << "poll " << i;
            }
        }
        EXPECT_TRUE(settled());
        EXPECT_EQ(s_capture.settle_deadline_ms, -1);
    }
}

TEST_F(SettleWatchTest, CountsMustMatchAtTheSamePoll)
{
    // Mode 1: both indices stop changing at the same poll. The gain's count
    // is exactly 1 one poll, the shutter's exactly 4 three polls later:
    // never both, so the watch runs its full 5 s.
    start(1);
    poll(0, 1, 1);
    int64_t t = 100;
    for (; t < 5000; t += 100) {
        poll(t, 2, 2);
        ASSERT_FALSE(settled()) << t;
    }
    poll(4999, 2, 2);
    EXPECT_FALSE(settled());
    poll(5000, 2, 2);
    EXPECT_TRUE(settled());
}

TEST_F(SettleWatchTest, NotBeforeOneMillisecondPastTheDeadline)
{
    struct Case {
        int64_t last_poll_ms;
        bool ends;
    } cases[] = {{1000, false}, {1001, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.last_poll_ms);
        start(1);
        poll(0, 1, 1);
        // Shutter steady over the next four polls, gain steady over the last.
        poll(c.last_poll_ms - 3, 2, 1);
        poll(c.last_poll_ms - 2, 3, 1);
        poll(c.last_poll_ms - 1, 4, 1);
        poll(c.last_poll_ms, 4, 1);
        EXPECT_EQ(settled(), c.ends);
        if (!c.ends) {
            // Counts have passed their settle counts: only the 5 s end
            // remains.
            poll(4999, 4, 1);
            EXPECT_FALSE(settled());
            poll(5000, 4, 1);
            EXPECT_TRUE(settled());
        }
    }
}

TEST_F(SettleWatchTest, WaitsWhileTheExposureJobIsPending)
{
    start(1);
    job_records[JOB_EXP_MODE].pending = 1;
    poll(0, 1, 1);
    EXPECT_EQ(s_capture.settle_deadline_ms, -1);
    poll(6000, 1, 1);
    EXPECT_FALSE(settled());
    job_records[JOB_EXP_MODE].pending = 0;
    poll(6100, 1, 1);  // the deadline starts now
    EXPECT_EQ(s_capture.settle_deadline_ms, t0_us / 1000 + 6100 + 1000);
    EXPECT_FALSE(settled());
    poll(11100, 1, 1);
    EXPECT_TRUE(settled());
}

TEST_F(SettleWatchTest, IdleWatchDoesNothing)
{
    param_set_int_value(PARAM_EXPOSURE_PROGRESS, 1);
    EXPECT_EQ(s_capture.settle_in_progress, 0);
    t0_us = clock.now_us();
    poll(0, 1, 1);
    poll(10000, 1, 1);
    EXPECT_EQ(s_capture.settle_deadline_ms, -1);
    EXPECT_EQ(param_get_int_value(PARAM_EXPOSURE_PROGRESS), 1);
}

TEST_F(SettleWatchTest, RunsFromTheStatusCheck)
{
    daemon_state.state = OPTAD_STARTUP_CHECK_FIRM;
    start(1);
    live_reply();
    EXPECT_EQ(check_camera_status(), 0);
    EXPECT_EQ(s_capture.settle_deadline_ms, t0_us / 1000 + 1000);
    clock.advance(5'000'000);
    live_reply();
    EXPECT_EQ(check_camera_status(), 0);
    EXPECT_TRUE(settled());
}

}  // namespace
}  // namespace optad
