// The wait for the video bridge to report the module's stream: the stages
// link, lanes, stream, a lost bit sending it back to the start, readings
// that say nothing (failed, not initialized) and the time-out after 100
// readings 100 ms apart.
#include "params/stream_wait.h"

#include "platform/clock.h"
#include "platform/log.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;

constexpr uint32_t IO_EXP_REG = 0x20;
constexpr int FAILED_READ = -1;

// A virtual clock that hands the FPGA its next status byte at every pause,
// so that reading n of the wait sees script[n]. The last entry stays.
class ScriptedFpga : public VirtualClock {
public:
    ScriptedFpga(test::FakeDevices &dev, std::vector<int> script) : dev_(dev), script_(std::move(script))
    {
        apply();
    }
    void sleep_us(int64_t us) override
    {
        VirtualClock::sleep_us(us);
        ++sleeps_;
        if (next_ + 1 < script_.size())
            ++next_;
        apply();
    }
    int sleeps() const { return sleeps_; }

private:
    void apply()
    {
        const int v = script_[next_];
        if (v == FAILED_READ) {
            dev_.fpga_fail_read[IO_EXP_REG] = EIO;
        } else {
            dev_.fpga_fail_read.erase(IO_EXP_REG);
            dev_.fpga_regs[IO_EXP_REG] = static_cast<uint32_t>(v);
        }
    }
    test::FakeDevices &dev_;
    std::vector<int> script_;
    size_t next_ = 0;
    int sleeps_ = 0;
};

class StreamWaitTest : public ::testing::Test {
protected:
    void TearDown() override { clock_set_source(nullptr); }

    // Runs the wait over the readings; returns its result.
    int run(std::vector<int> readings)
    {
        clock = std::make_unique<ScriptedFpga>(hw.dev, std::move(readings));
        clock_set_source(clock.get());
        return wait_for_dtct_strm();
    }
    int readings_taken() const
    {
        int n = 0;
        for (const std::string &op : hw.dev.fpga_log)
            n += op == "R 0x20";
        return n;
    }
    // The lines of the wait, in order.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (const auto &l : log.lines())
            if (l.text.find("wait_for_dtct_strm") != std::string::npos)
                out.push_back(l.text);
        return out;
    }

    FakeHardware hw;
    LogCapture log;
    std::unique_ptr<ScriptedFpga> clock;
};

const std::string status = "DEBUG:optad:main:wait_for_dtct_strm - Status FPGA: io_exp=";
const std::string link_up = "DEBUG:optad:main:wait_for_dtct_strm - FPGA: link_up is up!!!, io_exp=";
const std::string two_lane = "DEBUG:optad:main:wait_for_dtct_strm - FPGA: two_lane is up!!!, io_exp=";
const std::string dtct_strm = "DEBUG:optad:main:wait_for_dtct_strm - FPGA: dtct_strm is up!!!, io_exp=";
const std::string lost_link = "ERROR:optad:main:wait_for_dtct_strm - Lost link_up!!!, io_exp=";
const std::string lost_lanes = "ERROR:optad:main:wait_for_dtct_strm - Lost two_lane!!!, io_exp=";
const std::string lost_stream = "ERROR:optad:main:wait_for_dtct_strm - Lost dtct_strm!!!, io_exp=";
const std::string timeout = "ERROR:optad:main:wait_for_dtct_strm - FPGA:Timeout - Didn't get dtct_strm!!!, io_exp=";

using Lines = std::vector<std::string>;

TEST_F(StreamWaitTest, LinkThenLanesThenStreamSucceedsAtTheThirdReading)
{
    EXPECT_EQ(run({0x10, 0x30, 0x70}), 0);
    EXPECT_EQ(readings_taken(), 3);
    EXPECT_EQ(clock->sleeps(), 2) << "no pause after the reading that succeeded";
    EXPECT_EQ(clock->slept_us(), 200'000);
    EXPECT_EQ(lines(), (Lines{status + "0x10\n", link_up + "0x10\n", status + "0x30\n", two_lane + "0x30\n",
                              status + "0x70\n", dtct_strm + "0x70\n"}));
}

TEST_F(StreamWaitTest, OneReadingWithEverythingUpSucceedsAtOnce)
{
    EXPECT_EQ(run({0x70}), 0);
    EXPECT_EQ(readings_taken(), 1);
    EXPECT_EQ(clock->slept_us(), 0);
    EXPECT_EQ(lines(), (Lines{status + "0x70\n", link_up + "0x70\n", two_lane + "0x70\n", dtct_strm + "0x70\n"}));
    // The unused low bits do not matter.
    log.clear();
    hw.dev.fpga_log.clear();
    EXPECT_EQ(run({0x7F}), 0);
    EXPECT_EQ(readings_taken(), 1);
}

TEST_F(StreamWaitTest, LostLanesStartsAgainAtTheLink)
{
    // Third reading: lanes gone while the stream was awaited. The fourth
    // reading (0x30) must be judged from the start again: link_up first.
    EXPECT_EQ(run({0x10, 0x30, 0x10, 0x30, 0x70}), 0);
    EXPECT_EQ(readings_taken(), 5);
    EXPECT_EQ(lines(), (Lines{status + "0x10\n", link_up + "0x10\n", status + "0x30\n", two_lane + "0x30\n",
                              status + "0x10\n", lost_lanes + "0x10\n", status + "0x30\n", link_up + "0x30\n",
                              two_lane + "0x30\n", status + "0x70\n", dtct_strm + "0x70\n"}));
    for (const auto &l : log.lines()) {
        if (l.text.rfind(lost_lanes, 0) == 0) {
            EXPECT_EQ(l.priority, LOG_ERR);
        }
    }
}

TEST_F(StreamWaitTest, LossesInEachStage)
{
    struct Case {
        const char *what;
        std::vector<int> readings;
        int result;
        Lines expected;
    } const cases[] = {
        {"link lost while the lanes were awaited",
         {0x10, 0x00, 0x70},
         0,
         {status + "0x10\n", link_up + "0x10\n", status + "0x00\n", lost_link + "0x00\n", status + "0x70\n",
          link_up + "0x70\n", two_lane + "0x70\n", dtct_strm + "0x70\n"}},
        {"link lost while the stream was awaited",
         {0x30, 0x20, 0x70},
         0,
         {status + "0x30\n", link_up + "0x30\n", two_lane + "0x30\n", status + "0x20\n", lost_lanes + "0x20\n",
          status + "0x70\n", link_up + "0x70\n", two_lane + "0x70\n", dtct_strm + "0x70\n"}},
        {"stream seen without the lanes",
         {0x30, 0x50, 0x70},
         0,
         {status + "0x30\n", link_up + "0x30\n", two_lane + "0x30\n", status + "0x50\n", dtct_strm + "0x50\n",
          lost_stream + "0x50\n", status + "0x70\n", link_up + "0x70\n", two_lane + "0x70\n", dtct_strm + "0x70\n"}},
        {"lanes without the link wait for the link",
         {0x20, 0x60, 0x70},
         0,
         {status + "0x20\n", status + "0x60\n", status + "0x70\n", link_up + "0x70\n", two_lane + "0x70\n",
          dtct_strm + "0x70\n"}},
        {"link without lanes keeps waiting quietly",
         {0x10, 0x10, 0x50, 0x70},
         0,
         {status + "0x10\n", link_up + "0x10\n", status + "0x10\n", status + "0x50\n", status + "0x70\n",
          two_lane + "0x70\n", dtct_strm + "0x70\n"}},
    };
    for (const Case &c : cases) {
        log.clear();
        hw.dev.fpga_log.clear();
        EXPECT_EQ(run(c.readings), c.result) << c.what;
        EXPECT_EQ(lines(), c.expected) << c.what;
        EXPECT_EQ(readings_taken(), static_cast<int>(c.readings.size())) << c.what;
    }
}

TEST_F(StreamWaitTest, NotInitializedAndFailedReadingsAreIgnored)
{
    // 0x90 and 0xF0 carry the link bits but the bridge has not finished its
    // own start: they neither advance nor reset the stages.
    EXPECT_EQ(run({0x90, 0xF0, 0x10, FAILED_READ, 0xB0, 0x30, 0xF0, FAILED_READ, 0x70}), 0);
    EXPECT_EQ(readings_taken(), 9);
    EXPECT_EQ(clock->slept_us(), 800'000);
    EXPECT_EQ(lines(), (Lines{status + "0x10\n", link_up + "0x10\n", status + "0x30\n", two_lane + "0x30\n",
                              status + "0x70\n", dtct_strm + "0x70\n"}));
}

TEST_F(StreamWaitTest, TimesOutAfterAHundredReadingsWithTheLastValue)
{
    // Link and lanes up, the stream never comes.
    EXPECT_EQ(run({0x10, 0x30}), -1);
    EXPECT_EQ(readings_taken(), 100);
    EXPECT_EQ(clock->sleeps(), 100);
    EXPECT_EQ(clock->slept_us(), 10'000'000) << "about ten seconds";
    const Lines got = lines();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), timeout + "0x30\n");
    EXPECT_EQ(log.count(timeout + "0x30\n"), 1);

    // Never readable: the time-out still comes after 100 tries.
    log.clear();
    hw.dev.fpga_log.clear();
    EXPECT_EQ(run({FAILED_READ}), -1);
    EXPECT_EQ(readings_taken(), 100);
    EXPECT_EQ(log.count_containing(status), 0);
    EXPECT_EQ(log.count(timeout + "0xFFFFFFFF\n"), 1) << "the failed read's -1";

    // Never initialized: the last value read is shown.
    log.clear();
    EXPECT_EQ(run({0x90}), -1);
    EXPECT_EQ(log.count(timeout + "0x90\n"), 1);
}

TEST_F(StreamWaitTest, WithoutVerboseOnlyTheErrorsAreLogged)
{
    log_set_verbose(false);
    EXPECT_EQ(run({0x10, 0x30, 0x10, 0x70}), 0);
    log_set_verbose(true);
    const auto got = log.lines();
    ASSERT_EQ(got.size(), 1u) << log.text();
    EXPECT_EQ(got[0].text, lost_lanes + "0x10\n");
}

}  // namespace
}  // namespace optad
