// The IMC started in safe boot: with its application not starting it runs
// its boot loader, which raises REQ and answers the status request and the
// whole firmware upgrade without INIT_DONE; and the daemon's recovery path
// (normal start fails, safe boot, upgrade, restart, normal start) through
// the real seam.
#include "platform/devio.h"
#include "tests/sim/module_power.h"
#include "tests/sim/sim_helpers.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

namespace optad::test {
namespace {

class SimSafeBoot : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.running()); }
    void TearDown() override
    {
        if (fd >= 0)
            dev_close(fd);
    }
    void open_link()
    {
        fd = open_imc();
        ASSERT_GE(fd, 0);
    }
    static unsigned revision(const std::vector<uint8_t> &s) { return s[0x08] | s[0x09] << 8; }

    // The firmware upgrade as the daemon runs it: start, status (0x1A),
    // the image, status (0x1B), FWUP_CMPLT.
    void upgrade(const std::string &head)
    {
        std::vector<uint8_t> img = firmware_image(9000, head);
        ASSERT_EQ(imc_exchange(fd, req, version_up_start(static_cast<uint32_t>(img.size())), nullptr), 512);
        std::vector<uint8_t> s = imc_status(fd, req);
        ASSERT_EQ(s.size(), 512u);
        ASSERT_EQ(s[0x1A], 0x01);
        stream_firmware(fd, req, img);
        s = imc_status(fd, req);
        ASSERT_EQ(s.size(), 512u);
        ASSERT_EQ(s[0x1B], 0x01);
        TestLine done(438, "FWUP_CMPLT");
        EXPECT_TRUE(wait_line("imc_fwup_cmplt", 1, scaled_ms(2000)));
    }

    SandboxRoot root;
    Simulator sim{root, {"--set", "req_period_ms=5", "--set", "fwup_write_ms=10", "--set", "fwup_cmplt_ms=10"}};
    TestLine req{"imc_req", PINIO_TRIG_BOTH};
    int fd = -1;
};

TEST_F(SimSafeBoot, TheBootLoaderAnswersStatusAndUpgradeWithoutInitDone)
{
    ASSERT_TRUE(sim.ok("fault init_done_never all"));
    ASSERT_EQ(power_up({.safe = true, .wait_ms = 200}), -3);
    EXPECT_EQ(read_line("imc_init_done"), 0);
    open_link();
    std::vector<uint8_t> s = imc_status(fd, req);
    ASSERT_EQ(s.size(), 512u);
    EXPECT_EQ(revision(s), 300u);
    // Settings need the application: the loader drops them.
    EXPECT_EQ(imc_exchange(fd, req, command_frame(0x07, 0x00, {9}), nullptr), 512);
    EXPECT_EQ(imc_status(fd, req)[0x80], 3);

    upgrade("IMC application Rev.305 for the rig");
    EXPECT_EQ(read_line("imc_init_done"), 0);
    EXPECT_NE(sim.ctl("show state").find("flash_revision 305"), std::string::npos);
    shutdown();
    // "all" is not cleared by an upgrade: a normal start still fails.
    EXPECT_EQ(power_up({.wait_ms = 200}), -2);
    shutdown();
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimSafeBoot, TheRecoveryPathRunsEndToEnd)
{
    // A firmware that only starts in safe boot until it is written again.
    ASSERT_TRUE(sim.ok("fault init_done_never until_upgrade"));
    EXPECT_EQ(power_up({.wait_ms = 200}), -2);
    shutdown();

    EXPECT_EQ(power_up({.safe = true}), 0);
    open_link();
    EXPECT_EQ(revision(imc_status(fd, req)), 300u);
    upgrade("IMC application Rev.310 for the rig");
    EXPECT_NE(sim.ctl("show faults").find("init_done_never off\n"), std::string::npos);
    shutdown();

    ASSERT_EQ(power_up({}), 0);
    EXPECT_EQ(read_line("imc_init_done"), 1);
    EXPECT_EQ(revision(imc_status(fd, req)), 310u);
    EXPECT_EQ(read_line("imc_fwup_cmplt"), 0);
    shutdown();
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimSafeBoot, ControlPowerOnSafeStopsAtTheBootLoader)
{
    ASSERT_TRUE(sim.ok("fault init_done_never all"));
    EXPECT_EQ(sim.ctl("power on safe"), "ok: boot loader\n");
    EXPECT_EQ(read_line("imc_spi_front_tristate"), 0);
    open_link();
    EXPECT_EQ(imc_status(fd, req).size(), 512u);
    ASSERT_TRUE(sim.ok("power off"));
    EXPECT_EQ(sim.violations(), "");
}

}  // namespace
}  // namespace optad::test
