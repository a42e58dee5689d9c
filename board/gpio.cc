// The module's GPIO lines: the line table and single reads and writes.
#include "board/gpio.h"

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/pinio.h"

#include <cerrno>
#include <cstring>

namespace optad {

// The lines without a signal name are never named by a message of the
// power sequences; they keep null there.
const ModuleGpioLine module_gpio_lines[MODULE_GPIO_LINE_COUNT] = {
    {GPIO_POWER_GOOD, "POWER_GOOD", false},
    {GPIO_SPI_FRONT_TRISTATE, "SPI_FRONT_TRISTATE", true},
    {GPIO_I2C_PMIC_TRISTATE, "I2C_PMIC_TRISTATE", true},
    {GPIO_PCIE_CLK_ENABLE, "PCIE_CLK_ENABLE", true},
    {GPIO_RST_BUFFER_ENABLE_1V8, "RST_BUFFER_ENABLE_1V8", true},
    {GPIO_ENABLE_12V, "ENABLE_12V", true},
    {GPIO_FPGA_RESET, "FPGA_RESET", true},
    {GPIO_FRONT_RESET, "RESET_FRONT", true},
    {GPIO_PERST, "PERST", true},
    {GPIO_SAFE_BOOT, "SAFE_BOOT", true},
    {GPIO_DCDC_EN, "DCDC_EN", true},
    {GPIO_POWER_TYPE, nullptr, false},
    {GPIO_I2N_INT, nullptr, false},
    {GPIO_REQ, nullptr, false},
    {GPIO_INIT_DONE, "INIT_DONE", false},
    {GPIO_FWUP_CMPLT, nullptr, false},
    {GPIO_DC_OFF, nullptr, false},
};

const char *gpio_signal_name(const char *line)
{
    for (const ModuleGpioLine &l : module_gpio_lines)
        if (std::strcmp(l.name, line) == 0)
            return l.signal;
    return nullptr;
}

namespace {

// Requests and opens a line by name; null (logged) on failure.
pinio_line *open_line(const char *name)
{
    pinio_line *line = pinio_request_named(name);
    if (line == nullptr) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - Not possible to request GPIO %s!\n", e, strerror(e),
                        name);
        return nullptr;
    }
    if (pinio_full_open(line) < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - Not possible to full open GPIO %s!\n", e, strerror(e),
                        name);
        pinio_free(line);
        return nullptr;
    }
    return line;
}

void release_line(pinio_line *line)
{
    pinio_close(line);
    pinio_free(line);
}

}  // namespace

int gpio_read(const char *name, int *value)
{
    pinio_line *line = open_line(name);
    if (line == nullptr)
        return -1;
    int v = pinio_get_value(line);
    if (v < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - Not possible to get value of GPIO %s!\n", e,
                        strerror(e), name);
        release_line(line);
        return -1;
    }
    *value = v;
    release_line(line);
    return 0;
}

int gpio_write(const char *name, int value, int delay_us)
{
    if (delay_us > 0)
        clock_sleep_us(delay_us);
    pinio_line *line = open_line(name);
    if (line == nullptr)
        return -1;
    if (pinio_alterable_direction(line)) {
        if (pinio_direction_output(line, 0) != 0) {
            int e = errno;
            OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - Not possible to set output on GPIO %s!\n", e,
                            strerror(e), name);
            release_line(line);
            return -1;
        }
    } else {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - Not possible to alter direction on GPIO %s!\n", e,
                        strerror(e), name);
    }
    if (pinio_set_value(line, value) < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - Not possible to set value of GPIO %s to %d!\n", e,
                        strerror(e), name, value);
        release_line(line);
        return -1;
    }
    release_line(line);
    return 0;
}

}  // namespace optad
