// The module's power physics through the real seam: POWER_GOOD needs the
// PMIC's rails for the board's phase, 12 V off clears the PMIC, resets and
// the SPI front released out of order are violations while the module's
// own power-up and shutdown orders (whole, halfway, in safe boot) are not,
// and the control interface's drive refuses the module's own lines.
//
#include "platform/devio.h"
#include "tests/sim/module_power.h"
#include "tests/sim/sim_helpers.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <span>
#include <string>
#include <vector>

namespace optad::test {
namespace {

class SimPower : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.running()); }
    SandboxRoot root;
    Simulator sim{root};
};

TEST_F(SimPower, TheModulesPowerUpAndShutdownOrdersAreClean)
{
    ASSERT_EQ(power_up({}), 0);
    EXPECT_EQ(read_line("imc_power_good"), 1);
    EXPECT_EQ(read_line("imc_init_done"), 1);
    EXPECT_TRUE(sim.wait_for("show fpga", "io_exp 0x00000030"));
    shutdown();
    EXPECT_EQ(read_line("imc_power_good"), 0);
    EXPECT_EQ(sim.violations(), "");

    // And a DC-phase board with its own PMIC writes.
    ASSERT_TRUE(sim.ok("drive imc_power_type 0"));
    ASSERT_EQ(power_up({.pmic = DC_PMIC}), 0);
    EXPECT_EQ(read_line("imc_init_done"), 1);
    shutdown();
    EXPECT_EQ(sim.violations(), "");
}

TEST(SimPowerGood, NeedsThePmicRailsOfTheBoard)
{
    constexpr RegWrite NO_LDO1_VSEL[] = {{0x10, 0x5A}, {0x11, 0x3C}, {0x12, 0x28}, {0x20, 0x0F}};
    constexpr RegWrite LDO1_NOT_ENABLED[] = {{0x10, 0x5A}, {0x11, 0x3C}, {0x12, 0x28}, {0x13, 0x19}, {0x20, 0x07}};
    constexpr RegWrite BUCK2_NOT_ENABLED[] = {{0x10, 0x5A}, {0x11, 0x3C}, {0x12, 0x28}, {0x20, 0x05}};
    struct Case {
        const char *what;
        int power_type;
        std::span<const RegWrite> pmic;
        bool power_good;
        const char *violation;  // nullptr: none
    };
    const Case cases[] = {
        {"DE board, DE writes", 1, DE_PMIC, true, nullptr},
        {"DC board, DC writes", 0, DC_PMIC, true, nullptr},
        {"DE board, nothing written", 1, {}, false, nullptr},
        {"DE board, the DC file", 1, DC_PMIC, false, nullptr},
        {"DE board, LDO1 enabled without its voltage", 1, NO_LDO1_VSEL, false, nullptr},
        {"DE board, LDO1 set but not enabled", 1, LDO1_NOT_ENABLED, false, nullptr},
        {"DC board, BUCK2 not enabled", 0, BUCK2_NOT_ENABLED, false, nullptr},
        {"DC board, the DE file", 0, DE_PMIC, false, "LDO1 enabled on a DC-phase board"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SandboxRoot root;
        Simulator sim(root);
        ASSERT_TRUE(sim.running());
        ASSERT_TRUE(sim.ok(std::string("drive imc_power_type ") + std::to_string(c.power_type)));
        EXPECT_EQ(power_up({.pmic = c.pmic, .stop_after = 12, .wait_ms = 200}), c.power_good ? 0 : -1);
        EXPECT_EQ(read_line("imc_power_good"), c.power_good ? 1 : 0);
        shutdown();
        std::string v = sim.violations();
        if (c.violation == nullptr) {
            EXPECT_EQ(v, "");
        } else {
            EXPECT_NE(v.find(c.violation), std::string::npos) << v;
        }
    }
}

TEST_F(SimPower, PowerGoodFallsWhenARailGoesAndTwelveVoltsClearsThePmic)
{
    ASSERT_EQ(power_up({.stop_after = 12}), 0);
    // The bucks' enables taken back: the supplies are no longer good.
    ASSERT_EQ(write_line("imc_i2c_pmic_tristate", 1), 0);
    int fd = open_pmic();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pmic_write(fd, 0x20, 0x00), 2);
    EXPECT_TRUE(wait_line("imc_power_good", 0, 1000));
    ASSERT_EQ(pmic_write(fd, 0x20, 0x0F), 2);
    EXPECT_TRUE(wait_line("imc_power_good", 1, 1000));
    dev_close(fd);
    ASSERT_EQ(write_line("imc_i2c_pmic_tristate", 0), 0);
    shutdown();

    // After 12 V was off the PMIC has forgotten its setting: a power-up
    // that does not program it gets no POWER_GOOD.
    EXPECT_EQ(sim.ctl("show pmic"), "");
    EXPECT_EQ(power_up({.pmic = {}, .stop_after = 12, .wait_ms = 200}), -1);
    shutdown();
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimPower, OnlyThePmicAnswersOnItsBus)
{
    ASSERT_EQ(power_up({.stop_after = 7}), 0);
    int fd = dev_open("/dev/i2c-4", O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(dev_ioctl_value(fd, I2C_SLAVE, 0x49), 0);
    EXPECT_EQ(pmic_write(fd, 0x10, 0x01), -1);
    EXPECT_EQ(errno, EREMOTEIO);
    dev_close(fd);
    EXPECT_NE(sim.violations().find("0x49"), std::string::npos);
}

// Each rule of the power order, broken once after a prefix of the
// power-up order that is itself clean.
TEST(SimPowerOrder, ReleasesOutOfOrderAreViolations)
{
    struct LineWrite {
        const char *line;
        int value;
    };
    struct Case {
        int prefix;  // power-up steps run first (0: none)
        std::vector<LineWrite> writes;  // the last one breaks the order
        const char *line;   // the violation names the line
        const char *needs;  // and what was missing
    };
    const Case cases[] = {
        {0, {{"imc_pcie_clk_enable", 1}, {"imc_front_reset", 1}}, "imc_front_reset", "POWER_GOOD"},
        {12, {{"imc_front_reset", 1}}, "imc_front_reset", "imc_pcie_clk_enable"},
        {13, {{"imc_perst", 1}}, "imc_perst", "imc_front_reset 0"},
        {0, {{"fpga_reset", 1}}, "fpga_reset", "POWER_GOOD"},
        {0, {{"imc_spi_front_tristate", 0}}, "imc_spi_front_tristate", "POWER_GOOD"},
        {13, {{"imc_spi_front_tristate", 0}}, "imc_spi_front_tristate", "imc_front_reset 0"},
        {19, {{"imc_safe_boot", 1}}, "imc_safe_boot", "imc_front_reset 1"},
        {0, {{"imc_1_8v_rst_buffer_enable", 1}, {"imc_dcdc_en", 1}}, "imc_dcdc_en", "12 V"},
        {12, {{"imc_12v_enable", 0}}, "imc_12v_enable", "imc_dcdc_en"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.writes.back().line) + " " + std::to_string(c.writes.back().value) +
                     " after step " + std::to_string(c.prefix));
        SandboxRoot root;
        Simulator sim(root);
        ASSERT_TRUE(sim.running());
        if (c.prefix > 0) {
            ASSERT_EQ(power_up({.stop_after = c.prefix}), 0);
        }
        for (size_t i = 0; i + 1 < c.writes.size(); ++i)
            ASSERT_EQ(write_line(c.writes[i].line, c.writes[i].value), 0);
        ASSERT_EQ(sim.violations(), "");
        EXPECT_EQ(write_line(c.writes.back().line, c.writes.back().value), 0);
        std::string v = sim.violations();
        EXPECT_NE(v.find(std::string("power order: ") + c.line), std::string::npos) << v;
        EXPECT_NE(v.find(c.needs), std::string::npos) << v;
    }
}

// Power-ups that stop at a failed step, followed by the shutdown the
// daemon runs before it retries, and the safe-boot paths: none breaks the
// order.
TEST(SimPowerOrder, HalfwayPowerUpsAndSafeBootThenShutdownAreClean)
{
    struct Case {
        const char *what;
        const char *fault;  // before the power-up, or nullptr
        PowerUp up;
        int result;
    };
    const Case cases[] = {
        {"stopped after 12 V", nullptr, {.stop_after = 6}, 0},
        {"stopped with the PMIC path released", nullptr, {.stop_after = 7}, 0},
        {"the PMIC not programmed: no POWER_GOOD", nullptr, {.pmic = {}, .wait_ms = 200}, -1},
        {"stopped after the DC/DC enable", nullptr, {.stop_after = 11}, 0},
        {"INIT_DONE never rises", "fault init_done_never on", {.wait_ms = 200}, -2},
        {"stopped before the SPI front", nullptr, {.stop_after = 18}, 0},
        {"safe boot that starts", "fault init_done_never on", {.safe = true}, 0},
        {"safe boot into the boot loader", "fault init_done_never all", {.safe = true, .wait_ms = 200}, -3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SandboxRoot root;
        Simulator sim(root);
        ASSERT_TRUE(sim.running());
        if (c.fault != nullptr) {
            ASSERT_TRUE(sim.ok(c.fault));
        }
        EXPECT_EQ(power_up(c.up), c.result);
        shutdown();
        EXPECT_EQ(read_line("imc_power_good"), 0);
        EXPECT_EQ(sim.violations(), "");
    }
}

TEST_F(SimPower, DriveRefusesTheModulesLinesUnlessForced)
{
    struct Case {
        const char *line;
        const char *command;  // what the error names instead
    };
    const Case cases[] = {
        {"imc_power_good", "fault power_good"}, {"imc_init_done", "fault init_done"},
        {"imc_i2n_int", "irq"},                  {"imc_req", "fault req_never"},
        {"imc_fwup_cmplt", "fault fwup_cmplt_never"},
    };
    for (const Case &c : cases) {
        std::string answer = sim.ctl(std::string("drive ") + c.line + " 1");
        EXPECT_EQ(answer.rfind("error:", 0), 0u) << answer;
        EXPECT_NE(answer.find(c.command), std::string::npos) << answer;
        EXPECT_EQ(read_line(c.line), 0) << c.line;
    }

    EXPECT_EQ(sim.ctl("drive --force imc_fwup_cmplt 1"), "ok: fault override\n");
    EXPECT_EQ(read_line("imc_fwup_cmplt"), 1);
    EXPECT_NE(sim.ctl("log gpio").find("--force imc_fwup_cmplt 1"), std::string::npos);

    // The board's straps and the programs' outputs.
    ASSERT_TRUE(sim.ok("drive dc_off 1"));
    EXPECT_EQ(read_line("dc_off"), 1);
    ASSERT_TRUE(sim.ok("drive imc_pcie_clk_enable 1"));
    EXPECT_EQ(read_line("imc_pcie_clk_enable"), 1);
    EXPECT_NE(sim.ctl("log gpio").find("ctl imc_pcie_clk_enable 1\n"), std::string::npos);
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimPower, ControlPowerOnProgramsThePmicForTheBoard)
{
    ASSERT_TRUE(sim.ok("power on"));
    std::string i2c = sim.ctl("log i2c");
    for (const char *reg : {"ctl 0x48 10 ", "ctl 0x48 11 ", "ctl 0x48 12 ", "ctl 0x48 13 "}) {
        size_t at = i2c.find(reg);
        ASSERT_NE(at, std::string::npos) << reg << " in " << i2c;
        EXPECT_NE(i2c.substr(at + 12, 2), "00") << reg;
    }
    EXPECT_NE(i2c.find("ctl 0x48 20 0f\n"), std::string::npos) << i2c;
    ASSERT_TRUE(sim.ok("power off"));

    ASSERT_TRUE(sim.ok("drive imc_power_type 0"));
    ASSERT_TRUE(sim.ok("clear i2c"));
    ASSERT_TRUE(sim.ok("power on"));
    i2c = sim.ctl("log i2c");
    EXPECT_NE(i2c.find("ctl 0x48 20 07\n"), std::string::npos) << i2c;
    EXPECT_EQ(i2c.find("ctl 0x48 13 "), std::string::npos) << i2c;
    EXPECT_EQ(sim.violations(), "");
}

}  // namespace
}  // namespace optad::test
