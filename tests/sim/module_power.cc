#include "tests/sim/module_power.h"

#include "platform/devio.h"
#include "tests/sim/sim_helpers.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace optad::test {

namespace {

enum class Act { Write, SafeBoot, Pmic, WaitPowerGood, WaitInitDone, WaitPowerGoodLow };

struct Step {
    int number;
    Act act;
    const char *line;
    int value;
};

constexpr Step POWER_UP[] = {
    {4, Act::Write, "fpga_reset", 0},
    {5, Act::Write, "imc_1_8v_rst_buffer_enable", 1},
    {6, Act::Write, "imc_12v_enable", 1},
    {7, Act::Write, "imc_i2c_pmic_tristate", 1},
    {9, Act::Pmic, nullptr, 0},
    {10, Act::Write, "imc_i2c_pmic_tristate", 0},
    {11, Act::Write, "imc_dcdc_en", 1},
    {12, Act::WaitPowerGood, nullptr, 0},
    {13, Act::Write, "imc_pcie_clk_enable", 1},
    {14, Act::SafeBoot, "imc_safe_boot", 1},
    {15, Act::Write, "imc_front_reset", 1},
    {16, Act::WaitInitDone, nullptr, 0},
    {17, Act::Write, "imc_perst", 1},
    {18, Act::Write, "fpga_reset", 1},
    {19, Act::Write, "imc_spi_front_tristate", 0},
};

constexpr Step SHUTDOWN[] = {
    {5, Act::Write, "imc_spi_front_tristate", 1},
    {6, Act::Write, "imc_perst", 0},
    {7, Act::Write, "fpga_reset", 0},
    {8, Act::Write, "imc_front_reset", 0},
    {9, Act::Write, "imc_pcie_clk_enable", 0},
    {10, Act::Write, "imc_safe_boot", 0},
    {11, Act::Write, "imc_dcdc_en", 0},
    {12, Act::WaitPowerGoodLow, nullptr, 0},
    {13, Act::Write, "imc_12v_enable", 0},
    {14, Act::Write, "imc_1_8v_rst_buffer_enable", 0},
};

}  // namespace

bool wait_line(const char *name, int level, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 2) {
        if (read_line(name) == level)
            return true;
        usleep(2000);
    }
    return false;
}

int power_up(const PowerUp &p)
{
    for (const Step &s : POWER_UP) {
        if (s.number > p.stop_after)
            return 0;
        switch (s.act) {
        case Act::SafeBoot:
            if (p.safe && write_line(s.line, s.value) != 0)
                return -1;
            break;
        case Act::Write:
            if (write_line(s.line, s.value) != 0)
                return -1;
            break;
        case Act::Pmic: {
            int fd = open_pmic();
            if (fd < 0)
                return -1;
            for (const RegWrite &w : p.pmic) {
                if (pmic_write(fd, w.reg, w.value) != 2) {
                    dev_close(fd);
                    return -1;
                }
            }
            dev_close(fd);
            break;
        }
        case Act::WaitPowerGood:
            if (!wait_line("imc_power_good", 1, p.wait_ms))
                return -1;
            break;
        case Act::WaitInitDone:
            if (!wait_line("imc_init_done", 1, p.wait_ms)) {
                if (!p.safe)
                    return -2;
                write_line("imc_spi_front_tristate", 0);
                return -3;
            }
            break;
        case Act::WaitPowerGoodLow:
            break;
        }
    }
    return 0;
}

void shutdown()
{
    for (const Step &s : SHUTDOWN) {
        if (s.act == Act::WaitPowerGoodLow)
            wait_line("imc_power_good", 0, 1000);
        else
            EXPECT_EQ(write_line(s.line, s.value), 0) << s.line;
    }
}

}  // namespace optad::test
