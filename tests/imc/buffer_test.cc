// Command frames: the checksum rule, the three fixed frames byte for byte,
// the status request's retries and the hex dump.
#include "imc/buffer.h"
#include "imc/spi.h"
#include "platform/clock.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include <syslog.h>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;

// Puts a frame into the send buffer with its checksum bytes zeroed.
void put_frame(std::initializer_list<uint8_t> bytes)
{
    uint8_t *b = spi_send_buffer();
    std::memset(b, 0, SPI_BUFFER_SIZE);
    size_t i = 0;
    for (uint8_t v : bytes)
        b[i++] = v;
    b[0] = b[1] = 0;
}

uint16_t stored_checksum()
{
    return static_cast<uint16_t>(spi_send_buffer()[0] << 8 | spi_send_buffer()[1]);
}

// ---------------- checksum ----------------

TEST(Checksum, FixedFramesGiveTheirKnownSums)
{
    put_frame({0x00, 0xF8, 0x00, 0x08, 0x00, 0xF8, 0x00, 0x00});
    ASSERT_EQ(calculate_checksum(), 0);
    EXPECT_EQ(stored_checksum(), 0x00F8);

    put_frame({0x00, 0x23, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x08, 0x00, 0x00, 0x00});
    ASSERT_EQ(buffer_calculate_checksum(), 0);
    EXPECT_EQ(stored_checksum(), 0x0023);
}

TEST(Checksum, SumsOnlyBytesFourToLengthMinusOne)
{
    uint8_t *b = spi_send_buffer();
    std::memset(b, 0x01, SPI_BUFFER_SIZE);
    b[2] = 0x00;
    b[3] = 0x0A;  // length 10: bytes 4..9
    ASSERT_EQ(calculate_checksum(), 0);
    EXPECT_EQ(stored_checksum(), 6);
}

TEST(Checksum, LengthOfFourOrLessSumsToZero)
{
    for (uint8_t len : {0, 3, 4}) {
        uint8_t *b = spi_send_buffer();
        std::memset(b, 0x77, SPI_BUFFER_SIZE);
        b[2] = 0;
        b[3] = len;
        ASSERT_EQ(calculate_checksum(), 0);
        EXPECT_EQ(stored_checksum(), 0) << int(len);
    }
}

TEST(Checksum, LengthOf512IsAcceptedAndCarriesAboveBit15AreDropped)
{
    uint8_t *b = spi_send_buffer();
    std::memset(b, 0xFF, SPI_BUFFER_SIZE);
    b[2] = 0x02;
    b[3] = 0x00;
    ASSERT_EQ(calculate_checksum(), 0);
    // 508 x 0xFF = 0x1FA04.
    EXPECT_EQ(stored_checksum(), 0xFA04);
}

TEST(Checksum, OversizedFramesAreRefusedUnchanged)
{
    LogCapture log;
    struct Case {
        uint8_t hi, lo;
    } cases[] = {{0x02, 0x01}, {0x03, 0x00}, {0xFF, 0xFF}};
    for (const Case &c : cases) {
        log.clear();
        uint8_t *b = spi_send_buffer();
        std::memset(b, 0, SPI_BUFFER_SIZE);
        b[0] = 0xAB;
        b[1] = 0xCD;
        b[2] = c.hi;
        b[3] = c.lo;
        EXPECT_EQ(calculate_checksum(), -1);
        EXPECT_EQ(stored_checksum(), 0xABCD);
        EXPECT_EQ(log.count("ERROR:optad:main_loop:calculate_checksum - We have more than 512 bytes"), 1);
        EXPECT_EQ(buffer_calculate_checksum(), -1);
        EXPECT_EQ(log.count("ERROR:optad:buffer_calculate_checksum - We have more than 512 bytes"), 1);
        EXPECT_EQ(stored_checksum(), 0xABCD);
    }
}

// ---------------- frames on the link ----------------

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        hw.pins.line("imc_req").value = 1;
        // The IMC raises REQ after every exchange.
        hw.dev.after_imc_transfer = [this] { hw.pins.req_edge(1); };
        ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
        hw.pins.req_edge(0);
        hw.pins.req_edge(1);
    }
    void TearDown() override
    {
        spi_close();
        clock_set_source(nullptr);
    }

    std::vector<uint8_t> frame(size_t i) { return test::unreversed(hw.dev.imc_transfers.at(i).tx); }

    // The frame's bytes up to `len`, and a check that the rest is zero.
    std::vector<uint8_t> head(size_t i, size_t len)
    {
        std::vector<uint8_t> f = frame(i);
        for (size_t k = len; k < f.size(); ++k)
            EXPECT_EQ(f[k], 0) << "byte " << k;
        return std::vector<uint8_t>(f.begin(), f.begin() + len);
    }

    VirtualClock clock;
    FakeHardware hw;
    LogCapture log;
    uint8_t *send = nullptr;
    uint8_t *recv = nullptr;
};

TEST_F(FrameTest, SystemResetFrame)
{
    std::memset(send, 0x5A, SPI_BUFFER_SIZE);  // leftovers of an earlier frame
    ASSERT_EQ(system_reset(), 0);
    EXPECT_EQ(head(0, 14), (std::vector<uint8_t>{0x00, 0x23, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x08,
                                                 0x00, 0x00, 0x00}));
    EXPECT_EQ(log.count("DEBUG:optad:buffer:system_reset - Going to send System Reset command\n"), 1);
}

TEST_F(FrameTest, VersionUpStartCarriesTheSizeBigEndian)
{
    ASSERT_EQ(firmware_version_up_start(1'048'576), 0);
    EXPECT_EQ(head(0, 17), (std::vector<uint8_t>{0x02, 0x0D, 0x00, 0x11, 0x00, 0x10, 0x00, 0x09, 0x08, 0x99, 0x55,
                                                 0x99, 0x55, 0x00, 0x10, 0x00, 0x00}));
    EXPECT_EQ(log.count("DEBUG:optad:buffer:firmware_version_up_start - Going to send Firmware version up start "
                        "command\n"),
              1);

    ASSERT_EQ(firmware_version_up_start(0x12345678), 0);
    std::vector<uint8_t> f = head(1, 17);
    EXPECT_EQ(f[13], 0x12);
    EXPECT_EQ(f[16], 0x78);
    // 0x01FD + 0x12 + 0x34 + 0x56 + 0x78
    EXPECT_EQ(f[0] << 8 | f[1], 0x01FD + 0x12 + 0x34 + 0x56 + 0x78);
}

TEST_F(FrameTest, FailedSendsReportMinusOne)
{
    hw.dev.imc_results = {-1, -1};
    EXPECT_EQ(system_reset(), -1);
    EXPECT_EQ(firmware_version_up_start(10), -1);
}

TEST_F(FrameTest, StatusRequestFrameAndReply)
{
    std::vector<uint8_t> reply = test::status_reply({{0x12, 1}, {0x1FF, 0x42}});
    hw.dev.imc_replies.push_back(reply);
    std::memset(recv, 0x33, SPI_BUFFER_SIZE);
    ASSERT_EQ(buffer_send_camera_status_cmd(10'000'000), 0);
    EXPECT_EQ(head(0, 8), (std::vector<uint8_t>{0x00, 0xF8, 0x00, 0x08, 0x00, 0xF8, 0x00, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(recv, recv + SPI_BUFFER_SIZE), reply);
}

TEST_F(FrameTest, ReplyWhoseOnlyNonZeroByteIsTheLastCounts)
{
    hw.dev.imc_replies.push_back(test::status_reply({{511, 0x01}}));
    EXPECT_EQ(buffer_send_camera_status_cmd(10'000'000), 0);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 1u);
}

TEST_F(FrameTest, ThreeEmptyRepliesAreThreeExchangesAndFail)
{
    EXPECT_EQ(buffer_send_camera_status_cmd(10'000'000), -1);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(head(i, 8), (std::vector<uint8_t>{0x00, 0xF8, 0x00, 0x08, 0x00, 0xF8, 0x00, 0x00}));
    int warnings = 0;
    for (const auto &l : log.lines())
        warnings += l.priority == LOG_WARNING &&
                    l.text == "optad:buffer_send_camera_status_cmd - Failed to get camera status - retrying";
    EXPECT_EQ(warnings, 2) << "a warning before each retry";
}

TEST_F(FrameTest, RetryWarningOnlyWithDebugLogging)
{
    LogCapture quiet(false);
    hw.dev.imc_replies = {std::vector<uint8_t>(512, 0), test::status_reply({{0x08, 1}})};
    EXPECT_EQ(buffer_send_camera_status_cmd(10'000'000), 0);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 2u);
    EXPECT_TRUE(quiet.lines().empty());
}

TEST_F(FrameTest, LinkFailureIsNotRetried)
{
    hw.dev.imc_results = {-1};
    EXPECT_EQ(buffer_send_camera_status_cmd(10'000'000), -1);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 1u);
    EXPECT_FALSE(log.contains("retrying"));
}

TEST_F(FrameTest, StatusRequestTimesOutWithoutReq)
{
    hw.pins.line("imc_req").value = 1;
    while (hw.pins.req_edges_pending() > 0)
        (void)spi_wait_req_edge(0);
    EXPECT_EQ(buffer_send_camera_status_cmd(20'000), -1);
    EXPECT_TRUE(hw.dev.imc_transfers.empty());
}

// ---------------- hex dump ----------------

TEST(CameraStatusDump, FirstSixteenRowsWhateverTheVerboseFlag)
{
    LogCapture log(false);
    uint8_t *r = spi_recv_buffer();
    for (size_t i = 0; i < SPI_BUFFER_SIZE; ++i)
        r[i] = static_cast<uint8_t>(i);
    buffer_print_camera_status();
    std::vector<LogCapture::Line> lines = log.lines();
    ASSERT_EQ(lines.size(), 17u);
    for (const auto &l : lines)
        EXPECT_EQ(l.priority, LOG_DEBUG);
    EXPECT_EQ(lines[0].text, "   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n");
    EXPECT_EQ(lines[1].text, "00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n");
    EXPECT_EQ(lines[11].text, "0A A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF\n");
    EXPECT_EQ(lines[16].text, "0F F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF\n");
}

}  // namespace
}  // namespace optad
