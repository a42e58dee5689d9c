// The IMC link against a fake SPI bus and REQ line: open and close, the REQ
// handshake's timing rules, the exchange itself and the firmware stream.
#include "imc/bitrev.h"
#include "imc/spi.h"
#include "platform/clock.h"
#include "platform/kernel_abi.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <syslog.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <string>
#include <thread>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;

const char *const BANNER_RULE = "/******************************************************/\n";
const char *const BANNER_TIMEOUT = "/* Timeout (10s) occurred while waiting for GPIO REQ! */\n";
const char *const BANNER_ERROR = "/* Error occurred while waiting for GPIO REQ!         */\n";
const char *const FIRST_TIME = "DEBUG:optad:spi_check_req_timer - Always fail first time to learn IMC REQ cycle!\n";

// A short REQ time-out that a missing edge runs into (real time: select()).
constexpr int64_t SHORT_T = 30'000;

class SpiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        hw.pins.line("imc_req").value = 1;
    }
    void TearDown() override
    {
        spi_close();
        clock_set_source(nullptr);
    }

    // Opens the link and performs the first exchange (which always waits
    // for a rising edge), so the REQ reference time is set.
    void open_and_learn()
    {
        ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
        hw.pins.req_edge(0);
        hw.pins.req_edge(1);
        ASSERT_EQ(spi_send_buffers(SHORT_T), 0);
        ASSERT_EQ(hw.pins.req_edges_pending(), 0u);
    }

    int warnings_equal(const char *text) const
    {
        int n = 0;
        for (const auto &l : log.lines())
            n += l.priority == LOG_WARNING && l.text == text;
        return n;
    }

    VirtualClock clock;
    FakeHardware hw;
    LogCapture log;
    uint8_t *send = nullptr;
    uint8_t *recv = nullptr;
};

// ---------------- open and close ----------------

TEST_F(SpiTest, OpenSetsModeSpeedAndRequestLine)
{
    ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
    EXPECT_EQ(send, spi_send_buffer());
    EXPECT_EQ(recv, spi_recv_buffer());
    EXPECT_EQ(hw.dev.imc_mode, SPI_MODE_1);
    EXPECT_EQ(hw.dev.imc_speed, 3'000'000u);
    EXPECT_EQ(hw.dev.opened, std::vector<std::string>{"/dev/spidev2.0"});
    const std::vector<std::string> expected = {"request imc_req", "open imc_req", "edge imc_req 12", "fd imc_req"};
    EXPECT_EQ(hw.pins.calls(), expected);
}

TEST_F(SpiTest, OpenWithReceivePointerOnlyClearsBothBuffers)
{
    std::memset(spi_send_buffer(), 0xAB, SPI_BUFFER_SIZE);
    std::memset(spi_recv_buffer(), 0xCD, SPI_BUFFER_SIZE);
    ASSERT_EQ(spi_open_and_init(nullptr, &recv), 0);
    EXPECT_EQ(recv, spi_recv_buffer());
    for (size_t i = 0; i < SPI_BUFFER_SIZE; ++i) {
        ASSERT_EQ(spi_send_buffer()[i], 0) << i;
        ASSERT_EQ(spi_recv_buffer()[i], 0) << i;
    }
}

TEST_F(SpiTest, OpenFailureOfTheDeviceLogsErrnoAndPath)
{
    hw.dev.fail_open["/dev/spidev2.0"] = ENOENT;
    send = reinterpret_cast<uint8_t *>(1);
    EXPECT_EQ(spi_open_and_init(&send, &recv), -1);
    EXPECT_EQ(log.count("2 (No such file or directory) ERROR:optad:spi_open_and_init - Failed to open "
                        "/dev/spidev2.0\n"),
              1);
    EXPECT_EQ(send, reinterpret_cast<uint8_t *>(1)) << "pointers are stored only on success";
    EXPECT_TRUE(hw.pins.calls().empty());
}

TEST_F(SpiTest, ModeOrSpeedFailureClosesEverything)
{
    struct Case {
        int *flag;
        const char *message;
    } cases[] = {
        {&hw.dev.fail_imc_mode, "ERROR:optad:spi_open_and_init - Can't set SPI mode!\n"},
        {&hw.dev.fail_imc_speed, "ERROR:optad:spi_open_and_init - Can't set SPI speed!\n"},
    };
    for (const Case &c : cases) {
        log.clear();
        *c.flag = EINVAL;
        EXPECT_EQ(spi_open_and_init(&send, &recv), -1);
        EXPECT_EQ(log.count(c.message), 1) << c.message;
        EXPECT_EQ(hw.dev.open_count(), 0) << c.message;
        EXPECT_TRUE(hw.pins.calls().empty()) << "REQ is set up only after the bus settings";
        *c.flag = 0;
    }
}

TEST_F(SpiTest, RequestLineFailuresReleaseWhatWasSetUp)
{
    test::FakeLine &req = hw.pins.line("imc_req");
    struct Case {
        int *flag;
        const char *message;
    } cases[] = {
        {&req.fail_request, "5 - (Input/output error) ERROR:optad:spi_setup_req - Not possible to request GPIO imc_req!\n"},
        {&req.fail_open, "5 - (Input/output error) ERROR:optad:spi_setup_req - Not possible to full open GPIO imc_req!\n"},
        {&req.fail_set_edge, "5 - (Input/output error) ERROR:optad:spi_setup_req - Not possible to set edge on GPIO imc_req!\n"},
        {&req.fail_fd, "5 - (Input/output error) ERROR:optad:spi_setup_req - Not possible to get fd on GPIO imc_req!\n"},
    };
    for (const Case &c : cases) {
        log.clear();
        *c.flag = EIO;
        EXPECT_EQ(spi_open_and_init(&send, &recv), -1);
        EXPECT_EQ(log.count(c.message), 1) << c.message;
        EXPECT_EQ(log.count("ERROR:optad:spi_open_and_init - Can't setup GPIO REQ!\n"), 1) << c.message;
        EXPECT_EQ(hw.dev.open_count(), 0) << c.message;
        EXPECT_EQ(req.requested, 0) << c.message;
        EXPECT_EQ(req.open_count, 0) << c.message;
        *c.flag = 0;
    }
}

TEST_F(SpiTest, CloseReleasesLineAndDeviceAndIsIdempotent)
{
    ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
    spi_close();
    EXPECT_EQ(hw.dev.open_count(), 0);
    EXPECT_EQ(hw.pins.line("imc_req").requested, 0);
    EXPECT_EQ(hw.pins.line("imc_req").open_count, 0);
    hw.pins.clear_calls();
    spi_close();
    EXPECT_TRUE(hw.pins.calls().empty());
    // The REQ descriptor belongs to the line: still usable by its owner.
    EXPECT_NE(fcntl(hw.pins.req_fd(), F_GETFD), -1);
}

// ---------------- REQ handshake ----------------

TEST_F(SpiTest, FirstExchangeWaitsForRisingEdgeEvenWithReqHigh)
{
    ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
    // REQ already high, no edge: the first exchange must still wait.
    EXPECT_EQ(spi_send_buffers(SHORT_T), -1);
    EXPECT_EQ(log.count(FIRST_TIME), 1);
    EXPECT_TRUE(hw.dev.imc_transfers.empty());
    EXPECT_EQ(warnings_equal(BANNER_TIMEOUT), 1);

    // A falling then a rising edge: the exchange goes out.
    log.clear();
    hw.pins.req_edge(0);
    hw.pins.req_edge(1);
    EXPECT_EQ(spi_send_buffers(SHORT_T), 0);
    EXPECT_EQ(log.count(FIRST_TIME), 1) << "still never ready: the failed wait set no reference time";
    EXPECT_EQ(hw.dev.imc_transfers.size(), 1u);
}

TEST_F(SpiTest, ReopeningForgetsTheReqCycle)
{
    open_and_learn();
    spi_close();
    log.clear();
    ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
    EXPECT_EQ(spi_send_buffers(SHORT_T), -1);
    EXPECT_EQ(log.count(FIRST_TIME), 1);
}

TEST_F(SpiTest, ReqHighWithinTheWindowNeedsNoEdge)
{
    open_and_learn();
    log.clear();
    clock.advance(500'000);
    EXPECT_EQ(spi_send_buffers(SHORT_T), 0);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 2u);
    EXPECT_FALSE(log.contains("Too late"));
    EXPECT_FALSE(log.contains("Always fail"));

    // Exactly 0.8 s is still inside the window.
    clock.advance(800'000);
    EXPECT_EQ(spi_send_buffers(SHORT_T), 0);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 3u);
}

TEST_F(SpiTest, ReqHighButTooLateWaitsForTheNextRisingEdge)
{
    open_and_learn();
    log.clear();
    clock.advance(900'000);
    EXPECT_EQ(spi_send_buffers(SHORT_T), -1);
    EXPECT_EQ(log.count("DEBUG:optad:spi_check_req_timer - Too late, try next rising edge! Difference=900000\n"), 1);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 1u);

    log.clear();
    hw.pins.req_edge(0);
    hw.pins.req_edge(1);
    EXPECT_EQ(spi_send_buffers(SHORT_T), 0);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 2u);
}

TEST_F(SpiTest, TooLateDifferenceIsPrintedWhole)
{
    open_and_learn();
    log.clear();
    clock.advance(5'000'000'000LL);  // more than 2^32 microseconds
    EXPECT_EQ(spi_check_req_timer(SHORT_T), -1);
    EXPECT_EQ(log.count("DEBUG:optad:spi_check_req_timer - Too late, try next rising edge! Difference=5000000000\n"),
              1);
}

TEST_F(SpiTest, ReqLowWithinTheWindowWaitsForAnEdge)
{
    open_and_learn();
    hw.pins.line("imc_req").value = 0;
    clock.advance(100'000);
    EXPECT_EQ(spi_check_req_timer(SHORT_T), -1);
    hw.pins.req_edge(1);
    EXPECT_EQ(spi_check_req_timer(SHORT_T), 0);
}

TEST_F(SpiTest, StuckHighLineTimesOut)
{
    open_and_learn();
    clock.advance(900'000);
    log.clear();
    // Edges arrive, but every reading is high: never a low followed by high.
    hw.pins.req_edge(1);
    hw.pins.req_edge(1);
    hw.pins.req_edge(1);
    EXPECT_EQ(spi_check_req_timer(SHORT_T), -1);
    EXPECT_EQ(hw.pins.req_edges_pending(), 0u);
    // Three warning lines; the middle one says 10s whatever the time-out.
    std::vector<std::string> warnings;
    for (const auto &l : log.lines())
        if (l.priority == LOG_WARNING)
            warnings.push_back(l.text);
    const std::vector<std::string> expected = {BANNER_RULE, BANNER_TIMEOUT, BANNER_RULE};
    EXPECT_EQ(warnings, expected);
}

TEST_F(SpiTest, AbandonedReqWaitsEndAtOnceUntilResumed)
{
    open_and_learn();
    clock.advance(900'000);
    hw.pins.line("imc_req").value = 0;
    const char *abandoned = "ERROR:optad:spi_check_req_timer - POWER_GOOD or INIT_DONE is gone: the IMC cannot "
                            "raise REQ, exchange given up!\n";
    // A wait in progress: another thread abandons it while no edge comes.
    // A 20 s REQ time-out must not be waited out.
    const auto start = std::chrono::steady_clock::now();
    std::thread listener([] {
        g_usleep(50'000);
        spi_abandon_req_waits();
    });
    EXPECT_EQ(spi_send_buffers(20'000'000), -1);
    listener.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(log.count(abandoned), 1);
    EXPECT_EQ(warnings_equal(BANNER_TIMEOUT), 0);
    // Later waits fail at once, also with REQ up, until a power-up resumes
    // them; then REQ counts again.
    hw.pins.req_edge(0);
    hw.pins.req_edge(1);
    EXPECT_TRUE(spi_req_waits_abandoned());
    EXPECT_EQ(spi_send_buffers(20'000'000), -1);
    EXPECT_EQ(log.count(abandoned), 2);
    spi_resume_req_waits();
    EXPECT_FALSE(spi_req_waits_abandoned());
    EXPECT_EQ(spi_send_buffers(SHORT_T), 0);
}

TEST_F(SpiTest, TimeLeftRunsOutBeforeAnyEdge)
{
    open_and_learn();
    hw.pins.line("imc_req").value = 0;
    // A clock that jumps past the time-out at the first look.
    struct JumpingClock : VirtualClock {
        int64_t now_us() override
        {
            calls++;
            return calls > 1 ? 10'000'000'000LL : 1'000'000;
        }
        int calls = 0;
    } jumping;
    clock_set_source(&jumping);
    EXPECT_EQ(spi_check_req_timer(1'000'000), -1);
    EXPECT_EQ(warnings_equal(BANNER_TIMEOUT), 1);
    clock_set_source(&clock);
}

TEST_F(SpiTest, FailedWaitIsAnError)
{
    open_and_learn();
    clock.advance(900'000);
    log.clear();
    hw.pins.break_req_fd();
    EXPECT_EQ(spi_wait_req_edge(1000), -2);
    EXPECT_EQ(spi_check_req_timer(SHORT_T), -1);
    EXPECT_EQ(warnings_equal(BANNER_ERROR), 1);
    EXPECT_EQ(warnings_equal(BANNER_TIMEOUT), 0);
}

TEST_F(SpiTest, GpioErrorBelowMinusOneIsAnError)
{
    open_and_learn();
    clock.advance(900'000);
    log.clear();
    // The first reading (of the level before waiting) takes the first edge.
    hw.pins.req_edge(0);
    hw.pins.req_edge(1);
    hw.pins.line("imc_req").get_result = -5;
    EXPECT_EQ(spi_check_req_timer(SHORT_T), -1);
    EXPECT_EQ(warnings_equal(BANNER_ERROR), 1);
}

TEST_F(SpiTest, WaitReturnsTheLevelAfterAnEdgeAndMinusOneOnTimeout)
{
    ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
    EXPECT_EQ(spi_wait_req_edge(0), -1);
    hw.pins.req_edge(0);
    EXPECT_EQ(spi_wait_req_edge(0), 0);
    hw.pins.req_edge(1);
    EXPECT_EQ(spi_wait_req_edge(0), 1);
    // Time-outs above a second are valid select() time-outs.
    hw.pins.req_edge(1);
    EXPECT_EQ(spi_wait_req_edge(2'500'000), 1);
}

TEST_F(SpiTest, ReadyDrainsStaleHighEdgesOnly)
{
    ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
    for (int level : {0, 1, 1, 1})
        hw.pins.req_edge(level);
    EXPECT_EQ(spi_check_req_timer(SHORT_T), 0);
    EXPECT_EQ(hw.pins.req_edges_pending(), 0u);

    // Draining stops at a low reading.
    clock.advance(900'000);
    for (int level : {0, 1, 0, 1})
        hw.pins.req_edge(level);
    EXPECT_EQ(spi_check_req_timer(SHORT_T), 0);
    EXPECT_EQ(hw.pins.req_edges_pending(), 1u);
}

// ---------------- exchange ----------------

TEST_F(SpiTest, ExchangeReversesBitsBothWaysWithTheBusSettings)
{
    ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
    for (size_t i = 0; i < SPI_BUFFER_SIZE; ++i)
        send[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> reply(512);
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<uint8_t>(255 - i);
    hw.dev.imc_replies.push_back(reply);
    hw.pins.req_edge(0);
    hw.pins.req_edge(1);
    ASSERT_EQ(spi_send_buffers(SHORT_T), 0);

    ASSERT_EQ(hw.dev.imc_transfers.size(), 1u);
    const test::SpiTransfer &t = hw.dev.imc_transfers[0];
    EXPECT_EQ(t.len, 512u);
    EXPECT_TRUE(t.has_rx);
    EXPECT_EQ(t.speed_hz, 3'000'000u);
    EXPECT_EQ(t.delay_usecs, 1);
    EXPECT_EQ(t.bits_per_word, 8);
    EXPECT_EQ(t.cs_change, 0);
    EXPECT_EQ(t.other_fields, 0u);
    for (size_t i = 0; i < SPI_BUFFER_SIZE; ++i) {
        ASSERT_EQ(t.tx[i], bitrev(static_cast<uint8_t>(i * 7))) << i;
        ASSERT_EQ(send[i], t.tx[i]) << "the send buffer stays in wire order";
        ASSERT_EQ(recv[i], reply[i]) << i;
    }
}

TEST_F(SpiTest, FailedOrEmptyTransferIsLogged)
{
    open_and_learn();
    for (int result : {-1, 0}) {
        log.clear();
        hw.dev.imc_results.push_back(result);
        hw.dev.imc_errno = EIO;
        EXPECT_EQ(spi_send_buffers(SHORT_T), -1);
        EXPECT_EQ(log.count_containing(" ERROR:optad:spi_send_buffers - SPI_IOC_MESSAGE failed\n"), 1) << result;
    }
}

TEST_F(SpiTest, AfterAnExchangeWaitsUpTo25msForReq)
{
    open_and_learn();
    using namespace std::chrono;
    auto t0 = steady_clock::now();
    ASSERT_EQ(spi_send_buffers(SHORT_T), 0);
    auto quiet = steady_clock::now() - t0;
    EXPECT_GE(duration_cast<microseconds>(quiet).count(), 24'000);

    // An edge right after the exchange ends the wait at once.
    hw.dev.after_imc_transfer = [this] { hw.pins.req_edge(1); };
    t0 = steady_clock::now();
    ASSERT_EQ(spi_send_buffers(SHORT_T), 0);
    auto busy = steady_clock::now() - t0;
    EXPECT_LT(duration_cast<microseconds>(busy).count(), 20'000);
    EXPECT_EQ(hw.pins.req_edges_pending(), 0u);
}

// ---------------- firmware stream ----------------

class FirmwareStreamTest : public SpiTest {
protected:
    void SetUp() override
    {
        SpiTest::SetUp();
        // The IMC raises REQ again after every message.
        hw.dev.after_imc_transfer = [this] { hw.pins.req_edge(1); };
        ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
        hw.pins.req_edge(0);
        hw.pins.req_edge(1);
    }
    void TearDown() override
    {
        if (fd >= 0)
            ::close(fd);
        SpiTest::TearDown();
    }

    // A temporary firmware file of n bytes of a known pattern.
    void make_file(size_t n)
    {
        char tmpl[] = "/tmp/optad-fw-XXXXXX";
        fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        unlink(tmpl);
        content.resize(n);
        for (size_t i = 0; i < n; ++i)
            content[i] = static_cast<uint8_t>((i * 31 + 7) ^ (i >> 8));
        ASSERT_EQ(::write(fd, content.data(), n), static_cast<ssize_t>(n));
        ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    }

    std::vector<uint8_t> message(size_t i) const { return test::unreversed(hw.dev.imc_transfers.at(i).tx); }

    int fd = -1;
    std::vector<uint8_t> content;
};

TEST_F(FirmwareStreamTest, FileOf4092BytesIsOneLastMessage)
{
    make_file(4092);
    ASSERT_EQ(spi_send_firmware_file(fd, 4092), 0);
    ASSERT_EQ(hw.dev.imc_transfers.size(), 1u);
    const test::SpiTransfer &t = hw.dev.imc_transfers[0];
    EXPECT_EQ(t.len, 4096u);
    EXPECT_FALSE(t.has_rx);
    EXPECT_EQ(t.speed_hz, 3'000'000u);
    EXPECT_EQ(t.delay_usecs, 1);
    EXPECT_EQ(t.bits_per_word, 8);
    std::vector<uint8_t> m = message(0);
    EXPECT_EQ(std::vector<uint8_t>(m.begin(), m.begin() + 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(std::vector<uint8_t>(m.begin() + 4, m.end()), content);
}

TEST_F(FirmwareStreamTest, FileOf4093BytesIsTwoMessages)
{
    make_file(4093);
    ASSERT_EQ(spi_send_firmware_file(fd, 4093), 0);
    ASSERT_EQ(hw.dev.imc_transfers.size(), 2u);
    std::vector<uint8_t> m0 = message(0);
    std::vector<uint8_t> m1 = message(1);
    ASSERT_EQ(m0.size(), 4096u);
    ASSERT_EQ(m1.size(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(m0.begin(), m0.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(m0.begin() + 4, m0.end()),
              std::vector<uint8_t>(content.begin(), content.begin() + 4092));
    EXPECT_EQ(m1, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, content[4092]}));
    EXPECT_EQ(log.count("DEBUG:optad:spi_send_firmware_file - bytes left of firmware file=4093\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:spi_send_firmware_file - Total bytes sent (including headers)=4101, Total "
                        "messages sent=2\n"),
              1);
}

TEST_F(FirmwareStreamTest, EveryMessageWaitsForReq)
{
    make_file(3 * 4092 + 10);
    // A clock that can be made to race: each look moves it on by `step`.
    struct StepClock : VirtualClock {
        int64_t now_us() override { return t += step; }
        int64_t t = 1'000'000;
        int64_t step = 0;
    } steps;
    clock_set_source(&steps);
    // Each message comes 0.9 s after the previous one, so none finds REQ
    // recent enough. The IMC raises REQ for the first two; before the third
    // time runs out.
    int n = 0;
    hw.dev.after_imc_transfer = [&] {
        steps.t += 900'000;
        if (++n < 2) {
            hw.pins.req_edge(0);
            hw.pins.req_edge(1);
        } else {
            steps.step = 20'000'000;
        }
    };
    EXPECT_EQ(spi_send_firmware_file(fd, 3 * 4092 + 10), -1);
    clock_set_source(&clock);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 2u);
    EXPECT_EQ(hw.pins.req_edges_pending(), 0u);
    EXPECT_EQ(log.count_containing("Too late, try next rising edge! Difference=900000"), 1);
    EXPECT_EQ(warnings_equal(BANNER_TIMEOUT), 1);
}

TEST_F(FirmwareStreamTest, ShortTransferFailsTheStream)
{
    make_file(5000);
    hw.dev.imc_results.push_back(100);
    EXPECT_EQ(spi_send_firmware_file(fd, 5000), -1);
    EXPECT_EQ(log.count("ERROR:optad:spi_send_firmware_file - SPI_IOC_MESSAGE transferred 100 bytes, (expected 4096)\n"),
              1);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 1u);
}

TEST_F(FirmwareStreamTest, FailedTransferFailsTheStream)
{
    make_file(100);
    hw.dev.imc_results.push_back(-1);
    hw.dev.imc_errno = EIO;
    EXPECT_EQ(spi_send_firmware_file(fd, 100), -1);
    EXPECT_EQ(log.count("5 - (Input/output error) ERROR:optad:spi_send_firmware_file - SPI_IOC_MESSAGE failed\n"), 1);
}

TEST_F(FirmwareStreamTest, FileShorterThanAnnouncedEndsWithoutALastMessage)
{
    make_file(4500);
    EXPECT_EQ(spi_send_firmware_file(fd, 5000), -1);
    ASSERT_EQ(hw.dev.imc_transfers.size(), 1u) << "the short final message is never sent";
    EXPECT_EQ(message(0)[0], 0x00);
    EXPECT_EQ(
        log.count("ERROR:optad:spi_send_firmware_file - Firmware file ended 500 bytes short of the announced 5000 bytes\n"),
        1);
}

TEST_F(FirmwareStreamTest, EmptyOrUnreadableFileEndsTheStream)
{
    make_file(0);
    EXPECT_EQ(spi_send_firmware_file(fd, 10), -1);
    EXPECT_TRUE(hw.dev.imc_transfers.empty());
    EXPECT_TRUE(log.contains("Firmware file ended 10 bytes short of the announced 10 bytes"));

    log.clear();
    int wr = open("/dev/null", O_WRONLY);
    EXPECT_EQ(spi_send_firmware_file(wr, 10), -1);
    ::close(wr);
    EXPECT_EQ(log.count("9 - (Bad file descriptor) ERROR:optad:spi_send_firmware_file - Failed to read the firmware "
                        "file\n"),
              1);
    EXPECT_TRUE(hw.dev.imc_transfers.empty());
}

TEST_F(FirmwareStreamTest, FileLongerThanAnnouncedSendsOnlyTheAnnouncedBytes)
{
    make_file(6000);
    ASSERT_EQ(spi_send_firmware_file(fd, 4093), 0);
    ASSERT_EQ(hw.dev.imc_transfers.size(), 2u);
    EXPECT_EQ(hw.dev.imc_transfers[1].len, 5u);
}

TEST_F(FirmwareStreamTest, DebugDumpsTheFirstAndLastMessageBeforeReversal)
{
    make_file(4093);
    ASSERT_EQ(spi_send_firmware_file(fd, 4093), 0);
    const std::string first = "DEBUG:optad:spi_send_firmware_file - (printing 4096 bytes of the first buffer printed "
                              "in MSB) send_buf=";
    const std::string last = "DEBUG:optad:spi_send_firmware_file - (printing 4096 bytes of the last buffer printed "
                             "in MSB) send_buf=";
    EXPECT_EQ(log.count(first), 1);
    EXPECT_EQ(log.count(last), 1);
    std::vector<std::string> dumps;
    for (const auto &l : log.lines())
        if (l.text.size() == 8193)
            dumps.push_back(l.text);
    ASSERT_EQ(dumps.size(), 2u);
    char expect[16];
    std::snprintf(expect, sizeof expect, "00000000%02x%02x", content[0], content[1]);
    EXPECT_EQ(dumps[0].substr(0, 12), expect);
    std::snprintf(expect, sizeof expect, "ffffffff%02x", content[4092]);
    EXPECT_EQ(dumps[1].substr(0, 10), expect);
    EXPECT_EQ(dumps[1].back(), '\n');

    // Without DEBUG logging nothing of it is written.
    LogCapture quiet(false);
    ::close(fd);
    make_file(4093);
    ASSERT_EQ(spi_send_firmware_file(fd, 4093), 0);
    EXPECT_TRUE(quiet.lines().empty());
}

TEST_F(FirmwareStreamTest, OneMessageFileIsDumpedAsFirstAndLast)
{
    make_file(10);
    ASSERT_EQ(spi_send_firmware_file(fd, 10), 0);
    EXPECT_EQ(log.count_containing("of the first buffer"), 1);
    EXPECT_EQ(log.count_containing("of the last buffer"), 1);
}

// ---------------- bit reversal ----------------

TEST(BitReversal, MapsBitIToBitSevenMinusI)
{
    EXPECT_EQ(bitrev(0x01), 0x80);
    EXPECT_EQ(bitrev(0x12), 0x48);
    EXPECT_EQ(bitrev(0xF0), 0x0F);
    EXPECT_EQ(bitrev(0x00), 0x00);
    EXPECT_EQ(bitrev(0xFF), 0xFF);
    EXPECT_EQ(bitrev(0xA5), 0xA5);
    EXPECT_EQ(bitrev(0x2C), 0x34);
    for (unsigned v = 0; v < 256; ++v) {
        ASSERT_EQ(bitrev(bitrev(static_cast<uint8_t>(v))), v);
        for (unsigned bit = 0; bit < 8; ++bit)
            ASSERT_EQ((bitrev(static_cast<uint8_t>(v)) >> (7 - bit)) & 1u, (v >> bit) & 1u) << v;
    }
    uint8_t buf[3] = {0x01, 0x02, 0x03};
    bitrev_in_place(buf, 3);
    EXPECT_EQ(buf[0], 0x80);
    EXPECT_EQ(buf[1], 0x40);
    EXPECT_EQ(buf[2], 0xC0);
}

}  // namespace
}  // namespace optad
