// The main loop's camera status request: the frame on the wire, the first
// confirmed status copied only in the parameter-sync state, and a failed
// exchange.
#include "params/status_request.h"

#include "daemon/process_state.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "platform/clock.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;

// The status request as the IMC's protocol defines it: checksum 0x00F8,
// length 8, type 0x00F8, body length 0; the rest of the 512 bytes zero.
const std::vector<uint8_t> status_request_frame = {0x00, 0xF8, 0x00, 0x08, 0x00, 0xF8, 0x00, 0x00};

class StatusRequestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        process_state_reset_for_tests();
        hw.pins.line("imc_req").value = 1;
        hw.dev.after_imc_transfer = [this] { hw.pins.req_edge(1); };
        ASSERT_EQ(spi_open_and_init(nullptr, nullptr), 0);
        hw.pins.req_edge(0);
        hw.pins.req_edge(1);
        std::memset(scam_sts, 0x5A, sizeof(scam_sts));
    }
    void TearDown() override
    {
        spi_close();
        process_state_reset_for_tests();
        clock_set_source(nullptr);
    }

    VirtualClock clock;
    FakeHardware hw;
    LogCapture log;
};

TEST_F(StatusRequestTest, SendsTheStatusFrameAndKeepsTheReply)
{
    // Leftovers of an earlier frame must not reach the wire.
    std::memset(spi_send_buffer(), 0xEE, SPI_BUFFER_SIZE);
    hw.dev.imc_replies.push_back(test::status_reply({{0x08, 0x2C}, {0x09, 0x01}, {0xA0, 0x12}}));
    daemon_state.state = OPTAD_STARTUP_DONE;

    EXPECT_EQ(request_camera_status(), 0);

    ASSERT_EQ(hw.dev.imc_transfers.size(), 1u);
    std::vector<uint8_t> wire = test::unreversed(hw.dev.imc_transfers[0].tx);
    ASSERT_EQ(wire.size(), SPI_BUFFER_SIZE);
    EXPECT_EQ(std::vector<uint8_t>(wire.begin(), wire.begin() + 8), status_request_frame);
    for (size_t i = 8; i < wire.size(); ++i)
        ASSERT_EQ(wire[i], 0) << "byte " << i;
    EXPECT_EQ(spi_recv_buffer()[0x08], 0x2C);
    EXPECT_EQ(spi_recv_buffer()[0xA0], 0x12);
    // Outside the parameter sync the baseline stays as it was.
    EXPECT_EQ(scam_sts[0x08], 0x5A);
    EXPECT_EQ(scam_sts[0xA0], 0x5A);
}

TEST_F(StatusRequestTest, FirstConfirmedStatusIsCopiedOnlyWhileSyncStarts)
{
    struct Case {
        int state;
        bool copied;
    } cases[] = {
        {OPTAD_STARTUP_WAIT_POWER, false}, {OPTAD_STARTUP_POWERUP, false},     {OPTAD_STARTUP_WAIT_INT, false},
        {OPTAD_STARTUP_CHECK_FIRM, false}, {OPTAD_STARTUP_UPDATE_PARAMS, true}, {OPTAD_STARTUP_WAIT_UPDATE, false},
        {OPTAD_STARTUP_DONE, false},
    };
    for (const Case &c : cases) {
        std::memset(scam_sts, 0x5A, sizeof(scam_sts));
        hw.dev.imc_replies.push_back(test::status_reply({{0x16, 0x72}, {0x1FF, 0x01}}));
        daemon_state.state = c.state;
        EXPECT_EQ(request_camera_status(), 0) << c.state;
        if (c.copied) {
            EXPECT_EQ(std::memcmp(scam_sts, spi_recv_buffer(), sizeof(scam_sts)), 0);
            EXPECT_EQ(scam_sts[0x16], 0x72);
            EXPECT_EQ(scam_sts[0x1FF], 0x01);
            EXPECT_EQ(scam_sts[0x00], 0x00);
        } else {
            EXPECT_EQ(scam_sts[0x16], 0x5A) << c.state;
        }
    }
}

TEST_F(StatusRequestTest, VerboseSyncPollDumpsTheReply)
{
    hw.dev.imc_replies.push_back(test::status_reply({{0x00, 0xAB}}));
    daemon_state.state = OPTAD_STARTUP_UPDATE_PARAMS;
    EXPECT_EQ(request_camera_status(), 0);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:request_camera_status - Saving First Confirmed Camera Status!\n"),
              1);
    EXPECT_TRUE(log.contains("00 AB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n")) << "the hex dump of the reply follows";
}

TEST_F(StatusRequestTest, FailedExchangeIsLoggedAndStillTakenAsBaseline)
{
    hw.dev.imc_results = {-1};
    std::memset(spi_recv_buffer(), 0x77, SPI_BUFFER_SIZE);
    daemon_state.state = OPTAD_STARTUP_UPDATE_PARAMS;

    EXPECT_EQ(request_camera_status(), -1);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:request_camera_status - Couldn't send buffers!\n"), 1);
    // recv_buf was cleared before the exchange and the failed transfer
    // brought nothing: the baseline is all zero, not the stale 0x77 bytes.
    for (size_t i = 0; i < sizeof(scam_sts); ++i)
        ASSERT_EQ(scam_sts[i], 0) << "byte " << i;
}

}  // namespace
}  // namespace optad
