// Sending parameter jobs and confirming them against the IMC's status
// reply: which bytes confirm which job, the shared bytes, the masked IR
// focus byte, the resend every 5 s (60 s for the focus mode) up to ten
// sends and the give-up, and the follow-ups of the capture mode, the
// one-shot focus, the image stabilizer and the day/night state.
#include "params/confirm.h"

#include "config/param_settings.h"
#include "daemon/jobs.h"
#include "daemon/ops.h"
#include "daemon/process_state.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/send_param.h"
#include "params/status_check.h"
#include "platform/clock.h"
#include "platform/kernel_abi.h"
#include "tests/imc/fake_hw.h"
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

// Which status bytes confirm each job, as the IMC's status block lays them
// out. Jobs 34 (focus drive) and 47 (exposure priority) have none.
struct Confirms {
    int job;
    std::vector<size_t> offsets;
};
const std::vector<Confirms> confirm_bytes = {
    {12, {0x40}},       {13, {0x45}},       {14, {0x52}},       {15, {0x53}},
    {16, {0x54}},       {17, {0x4E}},       {18, {0x4E}},       {19, {0x4E}},
    {20, {0x41}},       {21, {0x56, 0x57}}, {22, {0x5C, 0x5D}}, {23, {0x4F}},
    {24, {0x70}},       {25, {0x70}},       {26, {0x6C, 0x6D, 0x6E, 0x6F}},
    {27, {0x80}},       {28, {0x84}},       {29, {0x82}},       {32, {0x2B, 0x2C}},
    {33, {0x2D, 0x2E}}, {35, {0x67}},       {36, {0x60}},       {38, {0x62}},
    {39, {0x63}},       {41, {0x9E}},       {43, {0x86}},       {44, {0x87}},
    {45, {0x8A}},       {46, {0x8B}},
};

class ConfirmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        process_state_reset_for_tests();
        sync_objects_create();  // the job list's lock
        g_mkdir_with_parents(root.path("/etc/optad").c_str(), 0755);
        g_mkdir_with_parents(root.path("/etc/legacyconfig/legacymappings.d").c_str(), 0755);
        param_reset_for_tests();
        param_init();
        // Every exchange finds a fresh REQ rise, as from an IMC that runs:
        // REQ falls during the transfer (the link's wait after the exchange
        // sees it), is low when the next exchange looks, then rises.
        hw.pins.line("imc_req").value = 1;
        hw.dev.after_imc_transfer = [this] {
            hw.pins.req_edge(0);
            hw.pins.req_edge(0);
            hw.pins.req_edge(1);
        };
        ASSERT_EQ(spi_open_and_init(nullptr, nullptr), 0);
        hw.pins.req_edge(0);
        hw.pins.req_edge(1);
        std::memset(scam_sts, 0, sizeof scam_sts);
        daemon_state.state = OPTAD_STARTUP_DONE;
        daemon_state.imc_ready.store(1);
        recv = spi_recv_buffer();
    }
    void TearDown() override
    {
        spi_close();
        param_reset_for_tests();
        process_state_reset_for_tests();
        clock_set_source(nullptr);
    }

    void set_pending(int job)
    {
        job_records[job].pending = 1;
        job_records[job].tries = 1;
        job_records[job].sent_at = clock_now_us();
    }

    // What the main loop does for a parameter job taken off the list.
    int send(int job)
    {
        std::memset(spi_send_buffer(), 0, SPI_BUFFER_SIZE);
        std::memset(spi_recv_buffer(), 0, SPI_BUFFER_SIZE);
        return send_param(job);
    }

    // One status poll: the reply, then the confirmation check.
    void poll(const std::vector<std::pair<size_t, uint8_t>> &bytes)
    {
        std::memset(recv, 0, SPI_BUFFER_SIZE);
        for (auto [off, value] : bytes)
            recv[off] = value;
        check_sent_param();
    }

    std::vector<int> queued() const
    {
        std::vector<int> ids;
        for (size_t i = 0; i < job_list.size(); i++)
            ids.push_back(job_list.at(i));
        return ids;
    }

    size_t imc_frames_of(int group, int item) const
    {
        size_t n = 0;
        for (const test::SpiTransfer &t : hw.dev.imc_transfers) {
            std::vector<uint8_t> wire = test::unreversed(t.tx);
            if (wire.size() > 11 && wire[4] == 0x00 && wire[5] == 0x10 && wire[10] == group && wire[11] == item)
                n++;
        }
        return n;
    }

    std::vector<unsigned long> cam0_values(unsigned long request) const
    {
        std::vector<unsigned long> values;
        for (const test::Cam0Request &r : hw.dev.cam0_log)
            if (r.request == request)
                values.push_back(r.value);
        return values;
    }

    test::SandboxRoot root;
    VirtualClock clock;
    FakeHardware hw;
    LogCapture log;
    uint8_t *recv = nullptr;
};

TEST_F(ConfirmTest, EachJobIsConfirmedByItsOwnBytesAndNoOthers)
{
    for (const Confirms &c : confirm_bytes) {
        SCOPED_TRACE("job " + std::to_string(c.job));
        process_state_reset_for_tests();
        sync_objects_create();  // the job list's lock
        daemon_state.state = OPTAD_STARTUP_DONE;
        std::memset(scam_sts, 0, sizeof scam_sts);
        std::vector<std::pair<size_t, uint8_t>> reply;
        for (size_t i = 0; i < c.offsets.size(); i++) {
            scam_sts[c.offsets[i]] = static_cast<uint8_t>(0x11 + i);
            reply.emplace_back(c.offsets[i], static_cast<uint8_t>(0x11 + i));
        }

        // Any one of its bytes different: not confirmed, still waiting.
        for (size_t i = 0; i < c.offsets.size(); i++) {
            set_pending(c.job);
            auto wrong = reply;
            wrong[i].second ^= 0x01;
            poll(wrong);
            EXPECT_EQ(job_records[c.job].pending, 1) << "byte " << c.offsets[i] << " differs";
        }
        EXPECT_TRUE(job_list.empty()) << "nothing resent before the time-out";

        // All equal: confirmed, the try count back to 0, the send time kept.
        int64_t sent_at = job_records[c.job].sent_at;
        poll(reply);
        EXPECT_EQ(job_records[c.job].pending, 0);
        EXPECT_EQ(job_records[c.job].tries, 0);
        EXPECT_EQ(job_records[c.job].sent_at, sent_at);
    }
}

TEST_F(ConfirmTest, SharedBytesConfirmEveryPendingJobAtTheSamePoll)
{
    scam_sts[0x4E] = 9;
    set_pending(JOB_SLOW_SHUTTER);
    set_pending(JOB_SLOW_SHUTTER_50HZ);
    scam_sts[0x70] = 2;
    set_pending(JOB_WB_MODE);
    set_pending(JOB_WB_MAN);
    poll({{0x4E, 9}, {0x70, 2}});
    for (int job : {JOB_SLOW_SHUTTER, JOB_SLOW_SHUTTER_50HZ, JOB_WB_MODE, JOB_WB_MAN})
        EXPECT_EQ(job_records[job].pending, 0) << job;
    EXPECT_EQ(job_records[JOB_SLOW_SHUTTER_60HZ].pending, 0);
    EXPECT_TRUE(log.contains("Confirmed slow shutter speed change: scam_sts[0x4e]=0x09, recv_buf[0x4e]=0x09"));
    EXPECT_TRUE(log.contains("Confirmed slow shutter speed 50Hz change: scam_sts[0x4e]=0x09, recv_buf[0x4e]=0x09"));
}

TEST_F(ConfirmTest, IrFocusCorrectionIgnoresTheLowNibble)
{
    scam_sts[0x2F] = 0x30;
    set_pending(JOB_FOCUS_TRACE_CURVE);
    poll({{0x2F, 0x45}});
    EXPECT_EQ(job_records[JOB_FOCUS_TRACE_CURVE].pending, 1);
    poll({{0x2F, 0x35}});
    EXPECT_EQ(job_records[JOB_FOCUS_TRACE_CURVE].pending, 0);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:check_sent_param - Confirmed IR Focus Correction: "
                        "scam_sts[0x2F]=0x30,recv_buf[0x2F]=0x35\n"),
              1);
}

TEST_F(ConfirmTest, LinesShowTheBytesInTheirOrder)
{
    scam_sts[0x6C] = 0xFF;
    scam_sts[0x6D] = 0x03;
    scam_sts[0x6E] = 0xFC;
    scam_sts[0x6F] = 0x00;
    set_pending(JOB_RB_GAIN);
    scam_sts[0x12] = 1;
    scam_sts[0x13] = 0;
    scam_sts[0x15] = 1;
    set_pending(JOB_SUNLIGHT);
    scam_sts[0x16] = 0x60;
    scam_sts[0x17] = 25;
    set_pending(JOB_RESOLUTION);

    poll({{0x6C, 0xFF}, {0x6D, 0x03}, {0x6E, 0xFC}, {0x6F, 0x01}, {0x12, 1}, {0x15, 2}, {0x16, 0x72}, {0x17, 8}});
    EXPECT_EQ(log.count("DEBUG:optad:main_loop - Couldn't confirm - White Balance R Gain: "
                        "scam_sts[0x6C6D]=0xFF03, recv_buf[0x6C6D]=0xFF03\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop - Couldn't confirm - White Balance B Gain: "
                        "scam_sts[0x6E6F]=0xFC00, recv_buf[0x6E6F]=0xFC01\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:check_sent_param - Couldn't confirm Sunlight Protection: "
                        "scam_sts[0x12-13-15]=0x01-00-01, recv_buf[0x12-13-15]=0x01-00-02\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop - Couldn't confirm Capture Mode: scam_sts[0x16]=0x60, "
                        "scam_sts[0x17]=0x19, recv_buf[0x16]=0x72, recv_buf[0x17]=0x08\n"),
              1);

    daemon_state.same_capture_mode = 1;
    poll({{0x6C, 0xFF}, {0x6D, 0x03}, {0x6E, 0xFC}, {0x6F, 0x00}, {0x12, 1}, {0x15, 1}, {0x16, 0x60}, {0x17, 25}});
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:check_sent_param - Confirmed White Balance R Gain: "
                        "scam_sts[0x6C6D]=0xFF03, recv_buf[0x6C6D]=0xFF03\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:check_sent_param - Confirmed White Balance B Gain: "
                        "scam_sts[0x6E6F]=0xFC00, recv_buf[0x6E6F]=0xFC00\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:check_sent_param - Confirmed Sunlight Protection change: "
                        "scam_sts[0x12-13-15]=0x01-00-01, recv_buf[0x12-13-15]=0x01-00-01\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:check_sent_param - Confirmed Capture Mode change: "
                        "scam_sts[0x16]=0x60, scam_sts[0x17]=0x19\n"),
              1);
}

TEST_F(ConfirmTest, FirstPollMatchConfirmsWithOneSend)
{
    param_set_int_value(PARAM_SHARPNESS, 50);  // 50 x 6 / 100 = 3
    ASSERT_EQ(send(JOB_SHARPNESS), SEND_PARAM_SENT);
    EXPECT_EQ(job_records[JOB_SHARPNESS].pending, 1);
    EXPECT_EQ(job_records[JOB_SHARPNESS].tries, 1);
    EXPECT_EQ(job_records[JOB_SHARPNESS].sent_at, clock_now_us());
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:send_param - Successfully sent command for Sharpness\n"), 1);

    clock.advance(250'000);
    poll({{0x80, 3}});
    EXPECT_EQ(job_records[JOB_SHARPNESS].pending, 0);
    EXPECT_EQ(job_records[JOB_SHARPNESS].tries, 0);
    EXPECT_EQ(imc_frames_of(0x07, 0x00), 1u);
}

TEST_F(ConfirmTest, NeverAppliedIsSentTenTimesFiveSecondsApartThenGivenUp)
{
    param_set_int_value(PARAM_COLOR_LEVEL, 100);  // 6, never reported
    std::vector<int64_t> send_times;
    ASSERT_EQ(send(JOB_COLOR_LEVEL), SEND_PARAM_SENT);
    send_times.push_back(clock_now_us());

    // Polls every 250 ms; a queued resend is sent right after the poll, as
    // the main loop takes it off the list.
    for (int i = 0; i < 400; i++) {
        clock.advance(250'000);
        poll({{0x82, 0}});
        while (!job_list.empty()) {
            int job = job_list.front();
            job_list.pop_front();
            ASSERT_EQ(job, JOB_COLOR_LEVEL);
            ASSERT_EQ(send(job), SEND_PARAM_SENT);
            send_times.push_back(clock_now_us());
        }
    }
    ASSERT_EQ(send_times.size(), 10u);
    for (size_t i = 1; i < send_times.size(); i++) {
        // The first poll more than 5 s after the send: 5.25 s later.
        EXPECT_EQ(send_times[i] - send_times[i - 1], 5'250'000) << "send " << i;
    }
    EXPECT_EQ(imc_frames_of(0x07, 0x03), 10u);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:wait_or_retry_command - Got no feedback from Image Chip for job "
                        "type 29! Tried sending 10 times!\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:wait_or_retry_command - No feedback from Image Chip! Resend param "
                        "29...\n"),
              9);
    EXPECT_EQ(job_records[JOB_COLOR_LEVEL].pending, 0);
    EXPECT_EQ(job_records[JOB_COLOR_LEVEL].tries, 10);

    // A new request after the give-up: one send, and at its time-out it is
    // given up at once.
    ASSERT_EQ(send(JOB_COLOR_LEVEL), SEND_PARAM_SENT);
    for (int i = 0; i < 40; i++) {
        clock.advance(250'000);
        poll({{0x82, 0}});
        EXPECT_TRUE(job_list.empty());
    }
    EXPECT_EQ(imc_frames_of(0x07, 0x03), 11u);
    EXPECT_EQ(log.count_containing("Got no feedback from Image Chip for job type 29!"), 2);

    // Once confirmed, the count starts over.
    ASSERT_EQ(send(JOB_COLOR_LEVEL), SEND_PARAM_SENT);
    poll({{0x82, 6}});
    EXPECT_EQ(job_records[JOB_COLOR_LEVEL].tries, 0);
}

TEST_F(ConfirmTest, TimeOutIsStrictlyMoreThanFiveSeconds)
{
    set_pending(JOB_GAIN);
    scam_sts[0x54] = 4;
    clock.advance(CONFIRM_TIMEOUT_US);
    poll({{0x54, 0}});
    EXPECT_TRUE(job_list.empty());
    clock.advance(1);
    poll({{0x54, 0}});
    EXPECT_EQ(queued(), std::vector<int>{JOB_GAIN});
    EXPECT_EQ(job_records[JOB_GAIN].pending, 1) << "a resend keeps the job waiting";
}

TEST_F(ConfirmTest, DayNightGiveUpShowsTheStatusBytes)
{
    scam_sts[0x60] = 0x01;
    scam_sts[0x66] = 0x01;
    set_pending(JOB_DN);
    job_records[JOB_DN].tries = 10;
    clock.advance(CONFIRM_TIMEOUT_US + 1);
    poll({{0x60, 0x01}, {0x61, 0x10}, {0x66, 0x00}});
    EXPECT_EQ(log.count("ERROR:optad:main_loop:wait_or_retry_command - Got no feedback from Image Chip for job type "
                        "37! Tried sending 10 times! Status: 01:01(10) 01:00\n"),
              1);
    EXPECT_EQ(job_records[JOB_DN].pending, 0);
}

TEST_F(ConfirmTest, CaptureModeGiveUpShowsTheVideo)
{
    scam_sts[0x16] = 0x60;
    scam_sts[0x17] = 25;
    set_pending(JOB_RESOLUTION);
    job_records[JOB_RESOLUTION].tries = 10;
    clock.advance(CONFIRM_TIMEOUT_US + 1);
    poll({{0x16, 0x72}, {0x17, 8}});
    EXPECT_EQ(cam0_values(CAM0_BLACK_VIDEO), std::vector<unsigned long>{0});
    EXPECT_EQ(cam0_values(CAM0_STREAM), std::vector<unsigned long>{1});
    EXPECT_TRUE(job_list.empty()) << "no restart for a mode never confirmed";
}

TEST_F(ConfirmTest, CaptureModeConfirmationRestartsUnlessTheModeWasAlreadyRight)
{
    scam_sts[0x16] = 0x72;
    scam_sts[0x17] = 8;

    daemon_state.same_capture_mode = 1;
    set_pending(JOB_RESOLUTION);
    int64_t before = clock_now_us();
    poll({{0x16, 0x72}, {0x17, 8}});
    EXPECT_EQ(clock_now_us(), before) << "no pause";
    EXPECT_TRUE(job_list.empty());
    EXPECT_EQ(daemon_state.same_capture_mode, 0);
    EXPECT_EQ(daemon_state.imc_restart, 0);

    set_pending(JOB_RESOLUTION);
    poll({{0x16, 0x72}, {0x17, 8}});
    EXPECT_EQ(clock_now_us() - before, 2'000'000);
    EXPECT_EQ(queued(), std::vector<int>{JT_RESTART_IMC});
    EXPECT_EQ(daemon_state.imc_restart, 1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop - Sleep 2s, so that IMC can update capture mode\n"), 1);
}

TEST_F(ConfirmTest, OneShotFocusIsDoneOnlyWhenTheImcReportsRestAgain)
{
    param_set_int_value(PARAM_FOCUS_MODE, 5);
    ASSERT_EQ(send(JOB_FOCUS), SEND_PARAM_SENT);
    EXPECT_EQ(scam_sts[0x20], 5);
    int64_t sent_at = job_records[JOB_FOCUS].sent_at;

    clock.advance(250'000);
    poll({{0x20, 5}});  // the focus run
    EXPECT_EQ(job_records[JOB_FOCUS].pending, 1);
    EXPECT_EQ(job_records[JOB_FOCUS].tries, 1);
    EXPECT_EQ(job_records[JOB_FOCUS].sent_at, sent_at);
    EXPECT_EQ(scam_sts[0x20], 1);
    EXPECT_EQ(param_get_int_value(PARAM_FOCUS_MODE), 5);

    clock.advance(250'000);
    poll({{0x20, 1}});
    EXPECT_EQ(job_records[JOB_FOCUS].pending, 0);
    EXPECT_EQ(param_get_int_value(PARAM_FOCUS_MODE), 1);
}

TEST_F(ConfirmTest, FocusModeStuckAtFiveIsResentAfterSixtySeconds)
{
    param_set_int_value(PARAM_FOCUS_MODE, 5);
    ASSERT_EQ(send(JOB_FOCUS), SEND_PARAM_SENT);
    int64_t sent_at = clock_now_us();
    clock.advance(250'000);
    poll({{0x20, 5}});  // now waits for 1
    while (clock_now_us() - sent_at <= FOCUS_MODE_CONFIRM_TIMEOUT_US) {
        EXPECT_TRUE(job_list.empty()) << "at " << clock_now_us() - sent_at;
        clock.advance(250'000);
        poll({{0x20, 5}});
    }
    EXPECT_EQ(queued(), std::vector<int>{JOB_FOCUS});
}

TEST_F(ConfirmTest, FocusModeGiveUpReturnsItToRest)
{
    param_set_int_value(PARAM_FOCUS_MODE, 5);
    scam_sts[0x20] = 1;
    set_pending(JOB_FOCUS);
    job_records[JOB_FOCUS].tries = 10;
    clock.advance(FOCUS_MODE_CONFIRM_TIMEOUT_US + 1);
    poll({{0x20, 5}});
    EXPECT_EQ(job_records[JOB_FOCUS].pending, 0);
    EXPECT_EQ(param_get_int_value(PARAM_FOCUS_MODE), 1);
}

TEST_F(ConfirmTest, StabilizerRunningTimeIsAddedWhenItStops)
{
    const std::string total = "/lib/persistent/var/lib/optics/image_stabilization_total_time";
    root.write(total, "100");
    scam_sts[0x67] = 1;
    set_pending(JOB_STABILIZER);
    poll({{0x67, 1}});
    EXPECT_EQ(daemon_state.stabilizer_active, 1);
    EXPECT_EQ(daemon_state.stabilizer_start_s, clock_now_us() / 1'000'000);

    // Confirmed on again while it runs (the push after a restart): the
    // seconds so far still count.
    int64_t started = daemon_state.stabilizer_start_s;
    clock.advance(20'000'000);
    set_pending(JOB_STABILIZER);
    poll({{0x67, 1}});
    EXPECT_EQ(daemon_state.stabilizer_start_s, started);

    clock.advance(22'000'000);
    scam_sts[0x67] = 0;
    set_pending(JOB_STABILIZER);
    poll({{0x67, 0}});
    EXPECT_EQ(daemon_state.stabilizer_active, 0);
    EXPECT_EQ(root.read(total), "142");

    // Off again while not running: nothing to add.
    set_pending(JOB_STABILIZER);
    poll({{0x67, 0}});
    EXPECT_EQ(root.read(total), "142");
}

TEST_F(ConfirmTest, StabilizerTimeThatCannotBeSavedIsLogged)
{
    // A plain file where the directory should be: nothing can be written.
    root.write("/lib/persistent/var/lib/optics", "not a directory");
    daemon_state.stabilizer_active = 1;
    daemon_state.stabilizer_start_s = clock_now_us() / 1'000'000 - 10;
    set_pending(JOB_STABILIZER);
    poll({{0x67, 0}});
    EXPECT_EQ(log.count("ERROR:optad:main_loop:check_sent_param - Failed to save lib/persistant/optics\n"), 1);
    EXPECT_EQ(daemon_state.stabilizer_active, 0);
}

// A protector position set over the bus against the lens (open over a
// bare sensor, closed in front of a lens) is not what 0x15 is expected to
// show: the command stays unconfirmed while the IMC carries it out, is
// resent every 5 s and given up after ten sends; the lens rule then moves
// the protector back, and that command is confirmed. Run as the main loop
// runs it: the queued jobs are sent, then each poll confirms and follows
// the module's changes. The IMC's protector travels 0.4 s to each position
// it is sent.
struct ProtectorAgainstLens {
    const char *name;
    uint8_t lens;        // 0x12
    uint8_t at_start;    // 0x15 as the lens rule left it
    const char *set;     // SensorProtector over the bus
    uint8_t sent;        // its command byte
    const char *ends;    // SensorProtector in the end
    uint8_t ends_at;     // the position the lens rule sends and confirms
    const char *lens_rule_line;
};

const ProtectorAgainstLens protector_cases[] = {
    {"open with no lens ends closed", 0, 0, "open", 0x01, "close", 0x00,
     "DEBUG:optad:main_loop:check_new_values - Detected Lens Detached => Close Sunlight Protector!\n"},
    {"close with a lens ends open", 1, 1, "close", 0x00, "open", 0x01,
     "DEBUG:optad:main_loop:check_new_values - Detected Lens Attached => Open Sunlight Protector!\n"},
};

TEST_F(ConfirmTest, AProtectorSetAgainstTheLensIsGivenUpAndTheLensRuleMovesItBack)
{
    constexpr int64_t POLL_US = 250'000;
    constexpr int64_t TRAVEL_US = 400'000;
    for (const ProtectorAgainstLens &c : protector_cases) {
        SCOPED_TRACE(c.name);
        hw.dev.imc_transfers.clear();
        log.clear();
        job_list.clear();
        job_records[JOB_SUNLIGHT] = {};
        std::memset(scam_sts, 0, sizeof scam_sts);
        scam_sts[0x12] = c.lens;
        scam_sts[0x15] = c.at_start;
        uint8_t position = c.at_start;
        uint8_t target = c.at_start;
        int64_t arrives_at = 0;
        std::vector<uint8_t> sent;            // protector command bytes, in order
        std::vector<int64_t> sent_at;

        ASSERT_NE(param_set_string_value(PARAM_SENSOR_PROTECTOR, c.set), PARAM_SET_ERROR);
        job_list.append(JOB_SUNLIGHT);
        for (int64_t end = clock_now_us() + 70'000'000; clock_now_us() < end;) {
            while (!job_list.empty()) {
                const int job = job_list.front();
                job_list.pop_front();
                ASSERT_EQ(send(job), SEND_PARAM_SENT) << job;
                const std::vector<uint8_t> wire = test::unreversed(hw.dev.imc_transfers.back().tx);
                ASSERT_EQ(wire[10], 0x08);
                ASSERT_EQ(wire[11], 0x09);
                sent.push_back(wire[12]);
                sent_at.push_back(clock_now_us());
                target = wire[12];
                arrives_at = clock_now_us() + TRAVEL_US;
            }
            clock.advance(POLL_US);
            if (position != target)
                position = clock_now_us() >= arrives_at ? target : STS_SUNLIGHT_MOVING;
            poll({{0x12, c.lens}, {0x15, position}});
            check_new_values();
        }

        // Ten sends of the position asked for, at the first poll more than
        // 5 s after the one before; then the lens rule's one command.
        std::vector<uint8_t> want(10, c.sent);
        want.push_back(c.ends_at);
        EXPECT_EQ(sent, want);
        for (size_t i = 1; i < 10 && i < sent_at.size(); ++i) {
            EXPECT_GT(sent_at[i] - sent_at[i - 1], 5'000'000) << i;
            EXPECT_LE(sent_at[i] - sent_at[i - 1], 5'000'000 + POLL_US) << i;
        }
        EXPECT_EQ(log.count("ERROR:optad:main_loop:wait_or_retry_command - Got no feedback from Image Chip for job "
                            "type 40! Tried sending 10 times!\n"),
                  1);
        EXPECT_EQ(log.count("DEBUG:optad:main_loop:check_new_values - Averted race condition!\n"), 1);
        EXPECT_EQ(log.count(c.lens_rule_line), 1);
        EXPECT_EQ(log.count_containing("Confirmed Sunlight Protection change"), 1);
        EXPECT_EQ(position, c.ends_at);
        EXPECT_STREQ(param_get_string_value(PARAM_SENSOR_PROTECTOR), c.ends);
        EXPECT_EQ(job_records[JOB_SUNLIGHT].pending, 0);
        EXPECT_EQ(job_records[JOB_SUNLIGHT].tries, 0);
    }
}

TEST_F(ConfirmTest, JobsWithoutConfirmationDoNotStayPending)
{
    param_set_string_value(PARAM_FOCUS_DRIVE, "+minstep");
    ASSERT_EQ(send(JOB_FOCUSDRIVE), SEND_PARAM_SENT);
    param_set_int_value(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, 0);
    ASSERT_EQ(send(JOB_ONVIF_EXPOSURE_PRIORITY_NORMAL), SEND_PARAM_SENT);
    for (int job : {JOB_FOCUSDRIVE, JOB_ONVIF_EXPOSURE_PRIORITY_NORMAL}) {
        EXPECT_EQ(job_records[job].pending, 0) << job;
        EXPECT_EQ(job_records[job].sent_at, clock_now_us()) << job;
    }
    EXPECT_EQ(imc_frames_of(0x01, 0x06), 1u);
    EXPECT_EQ(imc_frames_of(0x03, 0x00), 1u);
}

TEST_F(ConfirmTest, FailuresBeforeAndDuringTheSend)
{
    // An encoder that refuses its value: no frame, not pending.
    param_set_string_value(PARAM_FOCUS_DRIVE, "sideways");
    EXPECT_EQ(send(JOB_FOCUSDRIVE), SEND_PARAM_DROPPED);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:send_param - Failed to send SPI command=34\n"), 1);
    EXPECT_TRUE(hw.dev.imc_transfers.empty());

    // No encoder for the identifier.
    EXPECT_EQ(send(JOB_COUNT), SEND_PARAM_DROPPED);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:send_param - Received unknown parameter=48\n"), 1);

    // The link fails: the main loop is told, the record is untouched.
    hw.dev.imc_results.push_back(-1);
    EXPECT_EQ(send(JOB_SHARPNESS), SEND_PARAM_LINK_FAILED);
    EXPECT_EQ(job_records[JOB_SHARPNESS].pending, 0);
    EXPECT_EQ(job_records[JOB_SHARPNESS].tries, 0);
}

}  // namespace
}  // namespace optad
