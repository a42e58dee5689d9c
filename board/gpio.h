// The image module's GPIO lines and the two helpers through which the power
// sequences and the power budget check touch them.
//
// Every line is addressed by name through the GPIO library (platform/pinio.h);
// no handle survives from one operation to the next, so gpio_read and
// gpio_write may run on any thread.
#pragma once

#include <cstddef>

namespace optad {

// Line names.
inline constexpr const char *GPIO_POWER_GOOD = "imc_power_good";
inline constexpr const char *GPIO_SPI_FRONT_TRISTATE = "imc_spi_front_tristate";
inline constexpr const char *GPIO_I2C_PMIC_TRISTATE = "imc_i2c_pmic_tristate";
inline constexpr const char *GPIO_PCIE_CLK_ENABLE = "imc_pcie_clk_enable";
inline constexpr const char *GPIO_RST_BUFFER_ENABLE_1V8 = "imc_1_8v_rst_buffer_enable";
inline constexpr const char *GPIO_ENABLE_12V = "imc_12v_enable";
inline constexpr const char *GPIO_FPGA_RESET = "fpga_reset";
inline constexpr const char *GPIO_FRONT_RESET = "imc_front_reset";
inline constexpr const char *GPIO_PERST = "imc_perst";
inline constexpr const char *GPIO_SAFE_BOOT = "imc_safe_boot";
inline constexpr const char *GPIO_DCDC_EN = "imc_dcdc_en";
inline constexpr const char *GPIO_POWER_TYPE = "imc_power_type";
inline constexpr const char *GPIO_I2N_INT = "imc_i2n_int";
inline constexpr const char *GPIO_REQ = "imc_req";
inline constexpr const char *GPIO_INIT_DONE = "imc_init_done";
inline constexpr const char *GPIO_FWUP_CMPLT = "imc_fwup_cmplt";
inline constexpr const char *GPIO_DC_OFF = "dc_off";

// The firmware-complete signal as the upgrade reads it: by number and label.
inline constexpr int GPIO_FWUP_CMPLT_NUMBER = 438;
inline constexpr const char *GPIO_FWUP_CMPLT_LABEL = "FWUP_CMPLT";

// One module line: its name for the GPIO library, the upper-case signal
// name the messages use (null where the messages never name the line), and
// whether the NWC side drives it.
struct ModuleGpioLine {
    const char *name;
    const char *signal;
    bool output;
};

// Every module line, in the order the diagnostic tool lists them, dc_off
// last (the tool does not list it).
inline constexpr size_t MODULE_GPIO_LINE_COUNT = 17;
extern const ModuleGpioLine module_gpio_lines[MODULE_GPIO_LINE_COUNT];
// The lines the diagnostic tool lists: the first 16 of the table.
inline constexpr size_t MODULE_GPIO_LISTED_COUNT = 16;

// The signal name of a line ("DCDC_EN" for "imc_dcdc_en"), or null.
const char *gpio_signal_name(const char *line);

// Reads a line's level into *value. 0, or -1 (logged) with *value unchanged.
int gpio_read(const char *line, int *value);

// Sleeps delay_us first (0: no sleep), then drives the line to value,
// making it an output (initial level 0) where the library allows. 0 or -1
// (logged).
int gpio_write(const char *line, int value, int delay_us);

}  // namespace optad
