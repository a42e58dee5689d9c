// The IMC link, its frames and decoders against the module simulator: the
// simulator checks the bus settings, the bit order, lengths and checksums
// independently and logs every frame it received.
#include "imc/buffer.h"
#include "imc/decoders.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>

namespace optad {
namespace {

class SimLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.running());
        ASSERT_TRUE(sim.ok("power on"));
        ASSERT_TRUE(sim.wait_for("show state", "imc running"));
        ASSERT_EQ(spi_open_and_init(&send, &recv), 0);
        ASSERT_TRUE(sim.ok("clear all"));
    }
    void TearDown() override { spi_close(); }

    test::SandboxRoot root;
    test::Simulator sim{root, {"--set", "req_period_ms=5", "--set", "req_high_ms=3"}};
    uint8_t *send = nullptr;
    uint8_t *recv = nullptr;
};

TEST_F(SimLink, StatusRequestRoundTrip)
{
    ASSERT_EQ(buffer_send_camera_status_cmd(10'000'000), 0);
    EXPECT_EQ(recv[STS_LENS_ATTACHED], 1);
    EXPECT_STREQ(lens_get_name(recv), "Canon EF 50mm f/1.4 USM");
    EXPECT_EQ(firmware_get_imc_revision(recv), 300);
    EXPECT_EQ(sim.ctl("log imc"), "00f8000800f80000\n00f8000800f80000\n");
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimLink, CommandFrameWithItsChecksumIsApplied)
{
    // Sharpness 5: group 0x07, item 0x00.
    std::memset(send, 0, SPI_BUFFER_SIZE);
    const uint8_t frame[] = {0, 0, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x00, 0x05};
    std::memcpy(send, frame, sizeof frame);
    ASSERT_EQ(calculate_checksum(), 0);
    ASSERT_EQ(spi_send_buffers(10'000'000), 0);
    ASSERT_EQ(buffer_send_camera_status_cmd(10'000'000), 0);
    EXPECT_EQ(recv[STS_SHARPNESS], 5);
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimLink, EmptyRepliesAreRetriedTwice)
{
    ASSERT_TRUE(sim.ok("fault empty_status 2"));
    EXPECT_EQ(buffer_send_camera_status_cmd(10'000'000), 0);
    ASSERT_TRUE(sim.ok("fault empty_status 3"));
    EXPECT_EQ(buffer_send_camera_status_cmd(10'000'000), -1);
    std::string frames = sim.ctl("log imc");
    EXPECT_EQ(std::count(frames.begin(), frames.end(), '\n'), 6);
}

TEST_F(SimLink, VersionUpStartAndFirmwareStream)
{
    // An image of 3 messages whose head carries the revision text.
    std::vector<uint8_t> image(2 * 4092 + 100, 0x5A);
    const char rev[] = "Rev.0301";
    std::memcpy(image.data() + 16, rev, sizeof rev - 1);
    char path[] = "/tmp/optad-sim-fw-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    unlink(path);
    ASSERT_EQ(write(fd, image.data(), image.size()), static_cast<ssize_t>(image.size()));
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);

    ASSERT_EQ(firmware_version_up_start(static_cast<uint32_t>(image.size())), 0);
    EXPECT_EQ(sim.ctl("log imc"), "027900110010000908995599550000205c\n");
    EXPECT_EQ(spi_send_firmware_file(fd, static_cast<int>(image.size())), 0);
    close(fd);
    EXPECT_TRUE(sim.wait_for("show state", "fw_received 8284"));
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimLink, SystemResetFrame)
{
    ASSERT_EQ(system_reset(), 0);
    EXPECT_EQ(sim.ctl("log imc"), "0023000e00100006050008000000\n");
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimLink, NoReqMeansATimeout)
{
    ASSERT_TRUE(sim.ok("fault req_never on"));
    test::LogCapture log;
    EXPECT_EQ(buffer_send_camera_status_cmd(200'000), -1);
    EXPECT_EQ(log.count("/* Timeout (10s) occurred while waiting for GPIO REQ! */\n"), 1);
    EXPECT_EQ(sim.ctl("log imc"), "");
}

}  // namespace
}  // namespace optad
