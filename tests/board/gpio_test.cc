// Module GPIO lines: single reads and writes with every failure, the delay
// before a write, and the line table.
#include "board/gpio.h"
#include "platform/clock.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;

class GpioTest : public ::testing::Test {
protected:
    void SetUp() override { clock_set_source(&clock); }
    void TearDown() override { clock_set_source(nullptr); }

    // Every line requested was closed and freed again.
    void expect_released(const char *name)
    {
        EXPECT_EQ(hw.pins.line(name).requested, 0) << name;
        EXPECT_EQ(hw.pins.line(name).open_count, 0) << name;
    }

    VirtualClock clock;
    FakeHardware hw;
    LogCapture log;
};

TEST_F(GpioTest, ReadStoresTheLevelAndReleasesTheLine)
{
    hw.pins.line("imc_power_good").value = 1;
    int v = -1;
    EXPECT_EQ(gpio_read("imc_power_good", &v), 0);
    EXPECT_EQ(v, 1);
    const std::vector<std::string> expected = {"request imc_power_good", "open imc_power_good", "get imc_power_good",
                                               "close imc_power_good", "free imc_power_good"};
    EXPECT_EQ(hw.pins.calls(), expected) << "the direction is not touched";
    expect_released("imc_power_good");
}

TEST_F(GpioTest, FailedReadLeavesThePresetValue)
{
    struct Case {
        int test::FakeLine::*flag;
        const char *message;
    } cases[] = {
        {&test::FakeLine::fail_request,
         "19 - (No such device) ERROR:optad:power_control - Not possible to request GPIO imc_init_done!\n"},
        {&test::FakeLine::fail_open,
         "19 - (No such device) ERROR:optad:power_control - Not possible to full open GPIO imc_init_done!\n"},
        {&test::FakeLine::fail_get,
         "19 - (No such device) ERROR:optad:power_control - Not possible to get value of GPIO imc_init_done!\n"},
    };
    for (const Case &c : cases) {
        log.clear();
        test::FakeLine &l = hw.pins.line("imc_init_done");
        l = test::FakeLine{};
        l.name = "imc_init_done";
        l.value = 1;
        l.*c.flag = ENODEV;
        for (int preset : {-1, 1}) {
            int v = preset;
            EXPECT_EQ(gpio_read("imc_init_done", &v), -1);
            EXPECT_EQ(v, preset);
        }
        EXPECT_EQ(log.count(c.message), 2) << c.message;
        expect_released("imc_init_done");
    }
}

TEST_F(GpioTest, WriteMakesAnOutputAtZeroThenDrivesTheValue)
{
    EXPECT_EQ(gpio_write("imc_dcdc_en", 1, 0), 0);
    const std::vector<std::string> expected = {"request imc_dcdc_en", "open imc_dcdc_en", "alterable imc_dcdc_en",
                                               "output imc_dcdc_en 0", "set imc_dcdc_en 1", "close imc_dcdc_en",
                                               "free imc_dcdc_en"};
    EXPECT_EQ(hw.pins.calls(), expected);
    EXPECT_EQ(hw.pins.line("imc_dcdc_en").value, 1);
    EXPECT_EQ(clock.slept_us(), 0) << "no delay, no sleep";
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(GpioTest, DelayIsSleptBeforeTheLineIsRequested)
{
    // The request fails, so a sleep that happened must have come first.
    hw.pins.line("imc_i2c_pmic_tristate").fail_request = EBUSY;
    EXPECT_EQ(gpio_write("imc_i2c_pmic_tristate", 1, 100'000), -1);
    EXPECT_EQ(clock.slept_us(), 100'000);
    EXPECT_EQ(log.count("16 - (Device or resource busy) ERROR:optad:power_control - Not possible to request GPIO "
                        "imc_i2c_pmic_tristate!\n"),
              1);
}

TEST_F(GpioTest, NotAlterableDirectionIsLoggedAndTheValueStillWritten)
{
    hw.pins.line("fpga_reset").alterable = false;
    EXPECT_EQ(gpio_write("fpga_reset", 1, 0), 0);
    EXPECT_EQ(hw.pins.line("fpga_reset").value, 1);
    EXPECT_TRUE(hw.pins.calls_starting("output").empty());
    EXPECT_EQ(log.count("1 - (Operation not permitted) ERROR:optad:power_control - Not possible to alter direction "
                        "on GPIO fpga_reset!\n"),
              1);
    expect_released("fpga_reset");
}

TEST_F(GpioTest, WriteFailures)
{
    struct Case {
        int test::FakeLine::*flag;
        const char *message;
        bool value_set_attempted;
    } cases[] = {
        {&test::FakeLine::fail_open,
         "5 - (Input/output error) ERROR:optad:power_control - Not possible to full open GPIO imc_perst!\n", false},
        {&test::FakeLine::fail_direction_output,
         "5 - (Input/output error) ERROR:optad:power_control - Not possible to set output on GPIO imc_perst!\n", false},
        {&test::FakeLine::fail_set,
         "5 - (Input/output error) ERROR:optad:power_control - Not possible to set value of GPIO imc_perst to 1!\n",
         true},
    };
    for (const Case &c : cases) {
        log.clear();
        hw.pins.clear_calls();
        test::FakeLine &l = hw.pins.line("imc_perst");
        l = test::FakeLine{};
        l.name = "imc_perst";
        l.*c.flag = EIO;
        EXPECT_EQ(gpio_write("imc_perst", 1, 0), -1) << c.message;
        EXPECT_EQ(log.count(c.message), 1) << c.message;
        EXPECT_EQ(hw.pins.calls_starting("set ").size(), c.value_set_attempted ? 1u : 0u) << c.message;
        expect_released("imc_perst");
    }
}

TEST(GpioLines, TableNamesAndSignals)
{
    std::set<std::string> names;
    for (size_t i = 0; i < MODULE_GPIO_LINE_COUNT; ++i)
        names.insert(module_gpio_lines[i].name);
    EXPECT_EQ(names.size(), MODULE_GPIO_LINE_COUNT);
    EXPECT_STREQ(module_gpio_lines[MODULE_GPIO_LINE_COUNT - 1].name, "dc_off");
    EXPECT_STREQ(module_gpio_lines[0].name, "imc_power_good");
    EXPECT_STREQ(module_gpio_lines[MODULE_GPIO_LISTED_COUNT - 1].name, "imc_fwup_cmplt");

    struct Pair {
        const char *line, *signal;
    } pairs[] = {
        {"imc_power_good", "POWER_GOOD"},
        {"imc_spi_front_tristate", "SPI_FRONT_TRISTATE"},
        {"imc_i2c_pmic_tristate", "I2C_PMIC_TRISTATE"},
        {"imc_pcie_clk_enable", "PCIE_CLK_ENABLE"},
        {"imc_1_8v_rst_buffer_enable", "RST_BUFFER_ENABLE_1V8"},
        {"imc_12v_enable", "ENABLE_12V"},
        {"fpga_reset", "FPGA_RESET"},
        {"imc_front_reset", "RESET_FRONT"},
        {"imc_perst", "PERST"},
        {"imc_safe_boot", "SAFE_BOOT"},
        {"imc_dcdc_en", "DCDC_EN"},
        {"imc_init_done", "INIT_DONE"},
    };
    for (const Pair &p : pairs)
        EXPECT_STREQ(gpio_signal_name(p.line), p.signal) << p.line;
    EXPECT_EQ(gpio_signal_name("imc_req"), nullptr);
    EXPECT_EQ(gpio_signal_name("no_such_line"), nullptr);
}

}  // namespace
}  // namespace optad
