// The host seam without and with a simulator: missing hardware, unknown
// devices and lines, a simulator that died.
#include "platform/devio.h"
#include "platform/pinio.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <sstream>
#include <string>

namespace optad::test {
namespace {

TEST(SimSeam, NoSimulatorLooksLikeMissingHardware)
{
    SandboxRoot root;
    errno = 0;
    EXPECT_EQ(dev_open("/dev/spidev2.0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(pinio_request_named("imc_req"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(pinio_request(438, "FWUP_CMPLT"), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(SimSeam, UnknownDevicesAndLinesAreMissing)
{
    SandboxRoot root;
    Simulator sim(root);
    ASSERT_TRUE(sim.running());

    EXPECT_EQ(dev_open("/dev/spidev9.9", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(pinio_request_named("imc_nothing"), nullptr);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(pinio_request(437, "nothing"), nullptr);
    EXPECT_EQ(errno, ENODEV);

    int fd = dev_open("/dev/cam0", O_RDWR);
    EXPECT_GE(fd, 0);
    dev_close(fd);
    ASSERT_TRUE(sim.ok("fault device /dev/cam0 missing"));
    EXPECT_EQ(dev_open("/dev/cam0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    ASSERT_TRUE(sim.ok("fault device /dev/cam0 present"));
    fd = dev_open("/dev/cam0", O_RDWR);
    EXPECT_GE(fd, 0);
    dev_close(fd);
}

TEST(SimSeam, DeadSimulatorLeavesNoDevices)
{
    SandboxRoot root;
    Simulator sim(root);
    ASSERT_TRUE(sim.running());
    int fd = dev_open("/dev/cam0", O_RDWR);
    ASSERT_GE(fd, 0);

    // Killed: its socket file stays behind without a listener.
    kill(sim.pid(), SIGKILL);
    sim.stop();
    EXPECT_EQ(dev_open("/dev/cam0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    // The open descriptor's requests fail instead of hanging.
    EXPECT_EQ(dev_ioctl_value(fd, 0x40042A01, 1), -1);
    EXPECT_EQ(errno, EIO);
    dev_close(fd);
}

TEST(SimSeam, ControlAnswersAndRefuses)
{
    SandboxRoot root;
    Simulator sim(root);
    ASSERT_TRUE(sim.running());
    EXPECT_EQ(sim.ctl("ping"), "pong\n");
    EXPECT_EQ(sim.ctl("frobnicate").rfind("error: unknown command", 0), 0u);
    EXPECT_EQ(sim.ctl("set temperature 200").rfind("error:", 0), 0u);
    EXPECT_EQ(sim.ctl("config req_period_ms 0").rfind("error:", 0), 0u);
    EXPECT_TRUE(sim.ok("config req_period_ms 10"));
    EXPECT_NE(sim.ctl("config").find("req_period_ms 10\n"), std::string::npos);
}

// Help is made from the command tables: every line names a command and a
// sub-command the dispatcher knows.
TEST(SimSeam, HelpListsOnlyCommandsThatExist)
{
    SandboxRoot root;
    Simulator sim(root);
    ASSERT_TRUE(sim.running());
    std::istringstream help(sim.ctl("help"));
    int lines = 0;
    for (std::string line; std::getline(help, line); ++lines) {
        std::istringstream words(line);
        std::string command;
        std::string sub;
        words >> command >> sub;
        if (command == "quit" || command == "power" || command == "irq" || command == "drive")
            continue;  // they act; their arguments are tested where they matter
        std::string answer = sim.ctl(command + " " + sub);
        EXPECT_EQ(answer.find("unknown"), std::string::npos) << line << ": " << answer;
        EXPECT_EQ(answer.find("(try help)"), std::string::npos) << line << ": " << answer;
    }
    EXPECT_GE(lines, 60);
    EXPECT_EQ(sim.ctl("fail nothing").rfind("error: unknown failure: nothing", 0), 0u);
}

}  // namespace
}  // namespace optad::test
