// Module GPIO lines and FPGA registers against the module simulator, which
// logs every line write and every register access.
#include "board/fpga.h"
#include "board/gpio.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace optad {
namespace {

class SimBoard : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.running());
        ASSERT_TRUE(sim.ok("power on"));
        ASSERT_TRUE(sim.wait_for("show state", "imc running"));
        ASSERT_TRUE(sim.ok("clear all"));
    }
    test::SandboxRoot root;
    test::Simulator sim{root};
};

TEST_F(SimBoard, GpioWriteMakesAnOutputThenDrives)
{
    ASSERT_EQ(gpio_write(GPIO_SAFE_BOOT, 1, 0), 0);
    EXPECT_EQ(sim.ctl("log gpio"), "imc_safe_boot out 0\nimc_safe_boot 1\n");
    int v = -1;
    ASSERT_EQ(gpio_read(GPIO_POWER_GOOD, &v), 0);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(gpio_read(GPIO_SAFE_BOOT, &v), 0);
    EXPECT_EQ(v, 1);
}

TEST_F(SimBoard, MissingLineKeepsThePreset)
{
    test::LogCapture log;
    int v = -1;
    EXPECT_EQ(gpio_read("no_such_line", &v), -1);
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(log.contains("ERROR:optad:power_control - Not possible to request GPIO no_such_line!\n"));
}

TEST_F(SimBoard, FpgaLinkBitsAndWindow)
{
    EXPECT_EQ(fpga_read_io_exp() & (IO_EXP_NOT_INITIALIZED | IO_EXP_LINK_UP | IO_EXP_TWO_LANE),
              IO_EXP_LINK_UP | IO_EXP_TWO_LANE);
    ASSERT_TRUE(sim.ok("clear all"));
    ASSERT_EQ(fpga_set_window(3840, 2160), 0);
    std::string log = sim.ctl("log fpga");
    EXPECT_NE(log.find("write 0x00 0x010E0F00\nwrite 0x04 0x003F4800\n"), std::string::npos) << log;
    fpga_status st = {};
    ASSERT_EQ(get_all_fpga_regs(&st), 0);
    EXPECT_EQ(fpga_capt_width(st.rw_capt), 3840);
    EXPECT_EQ(fpga_capt_height(st.rw_capt), 2160);
    EXPECT_EQ(st.pci_rx & 0xFFFFFF, 4147200u);
    EXPECT_NE(st.ctrl & FPGA_CTRL_STRM_EN, 0u);
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimBoard, FpgaNotInitialisedAfterPowerOff)
{
    ASSERT_TRUE(sim.ok("power off"));
    int v = fpga_read_io_exp();
    EXPECT_TRUE(v < 0 || (v & IO_EXP_NOT_INITIALIZED) || !(v & IO_EXP_LINK_UP)) << v;
}

}  // namespace
}  // namespace optad
