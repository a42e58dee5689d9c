// The module's power-up sequence.
//
// Order: supplies on with the FPGA held in reset; the PMIC programmed while
// its I2C path is released; the DC/DC converters enabled and POWER_GOOD
// awaited; the PCIe clock, then (for a safe-mode start) SAFE_BOOT, then the
// IMC released from reset and INIT_DONE awaited; PCIe and FPGA resets
// released and the SPI front opened; finally the FPGA's video link checked.
#include "board/fpga.h"
#include "board/gpio.h"
#include "board/pmic.h"
#include "board/poe_client.h"
#include "board/power_sequence.h"
#include "board/power_steps.h"
#include "dbus/optad_event.h"
#include "platform/clock.h"
#include "platform/devio.h"
#include "platform/log.h"
#include "platform/run_script.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

namespace optad {

namespace {

constexpr int MS = 1000;
constexpr const char I2C_BUS[] = "/dev/i2c-4";

constexpr int64_t TEMPERATURE_RETRY_US = 1'000'000;
// After INIT_DONE failed in safe boot: time for the IMC to settle before the
// caller goes on to rewrite its firmware.
constexpr int64_t SAFE_BOOT_SETTLE_US = 15'000'000;
constexpr int FPGA_ROUNDS = 100;
constexpr int64_t FPGA_PAUSE_US = 100'000;

// Supplies on, the FPGA held in reset, the PMIC's I2C path released.
constexpr LineStep supplies_on[] = {
    {GPIO_FPGA_RESET, 0, 0, "ERROR:optad:power_up - Failed to reset FPGA_RESET (not set to LOW)!\n"},
    {GPIO_RST_BUFFER_ENABLE_1V8, 1, 0,
     "ERROR:optad:power_up - Failed to start RST_BUFFER_ENABLE_1V8 (not set to HIGH)!\n"},
    {GPIO_ENABLE_12V, 1, 0, "ERROR:optad:power_up - Failed to start ENABLE_12V (not set to HIGH)!\n"},
    {GPIO_I2C_PMIC_TRISTATE, 1, 100 * MS,
     "ERROR:optad:power_up - Failed to release I2C_PMIC_TRISTATE (not set to HIGH)!\n"},
};

// The PMIC isolated again, then the converters it has set up switched on.
constexpr LineStep converters_on[] = {
    {GPIO_I2C_PMIC_TRISTATE, 0, 100 * MS,
     "ERROR:optad:power_up - Failed to activate I2C_PMIC_TRISTATE (not set to LOW)!\n"},
    {GPIO_DCDC_EN, 1, 100 * MS, "ERROR:optad:power_up - Failed to start DCDC_EN (not set to HIGH)!\n"},
};

// The PCIe clock, the boot mode, and the IMC out of reset.
constexpr LineStep imc_started[] = {
    {GPIO_PCIE_CLK_ENABLE, 1, 50 * MS, "ERROR:optad:power_up - Failed to start PCIE_CLK_ENABLE (not set to HIGH)!\n"},
    {GPIO_SAFE_BOOT, 1, 0, "ERROR:optad:power_up - Failed to activate SAFE_BOOT (not set to HIGH)!\n", true,
     "DEBUG:optad:power_up - Activated SAFE_BOOT (set to HIGH)\n"},
    {GPIO_FRONT_RESET, 1, 50 * MS, "ERROR:optad:power_up - Failed to release RESET_FRONT (not set to HIGH)!\n"},
};

// Once the IMC has started: PCIe and the FPGA out of reset, the SPI front
// towards the IMC opened.
constexpr LineStep link_released[] = {
    {GPIO_PERST, 1, 100 * MS, "ERROR:optad:power_up - Failed to release PERST (not set to HIGH)!\n"},
    {GPIO_FPGA_RESET, 1, 100 * MS, "ERROR:optad:power_up - Failed to release FPGA_RESET (not set to HIGH)!\n"},
    {GPIO_SPI_FRONT_TRISTATE, 0, 0,
     "ERROR:optad:power_up - Failed to release SPI_FRONT_TRISTATE (not set to LOW)!\n"},
};

constexpr LevelWait power_good_high = {GPIO_POWER_GOOD, 1, true, nullptr};
// A failed read of INIT_DONE (logged by gpio_read) counts as a read without
// it, and the wait goes on.
constexpr LevelWait init_done_high = {GPIO_INIT_DONE, 1, false, nullptr};

constexpr BlockMessages blocks = {
    "ERROR:optad:power_up - Power up of IMC blocked by IMC Heart Beat 0xffff!\n",
    "ERROR:optad:power_up - Power up of IMC blocked by enable_imc_debug!\n",
};

// The I2C bus for the whole sequence; closed on every way out.
class I2cBus {
public:
    I2cBus() : fd_(dev_open(I2C_BUS, O_RDWR)) {}
    ~I2cBus()
    {
        if (fd_ >= 0)
            dev_close(fd_);
    }
    I2cBus(const I2cBus &) = delete;
    I2cBus &operator=(const I2cBus &) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// What a failed run of the temperature script is called in the log, by the
// status run_script() gives: the shell's own statuses for a script it could
// not run, -1 when there was no shell or a signal ended the script (which
// run_script() has logged); any other status is the script's own answer.
struct ScriptFailure {
    int status;
    const char *what;
};
constexpr ScriptFailure script_failures[] = {
    {127, "is missing"},
    {126, "is not executable"},
    {-1, "did not run to its end"},
};

const char *script_failure(int status)
{
    for (const ScriptFailure &f : script_failures) {
        if (f.status == status)
            return f.what;
    }
    return "failed";
}

// Runs the temperature script until it lets the module be powered; the
// user sees the warming overlay meanwhile. A failure is logged when the
// script starts failing and again only when its status changes, not at
// every run.
void wait_until_warm()
{
    int last_status = 0;
    for (int status; (status = run_script(TEMPERATURE_SCRIPT)) != 0;) {
        if (status != last_status) {
            OPTAD_LOG_ERROR("ERROR:optad:power_up - %s %s (exit status %d), power-up waits until it succeeds!\n",
                            TEMPERATURE_SCRIPT, script_failure(status), status);
            last_status = status;
        }
        overlay_set_condition(OVERLAY_TEMPERATURE_WARMING, 1);
        clock_sleep_us(TEMPERATURE_RETRY_US);
    }
    if (last_status != 0)
        overlay_set_condition(OVERLAY_TEMPERATURE_WARMING, 0);
}

// Programs the PMIC from the command file of the board's phase.
int program_pmic(int i2c_fd)
{
    int power_type = -1;
    (void)gpio_read(GPIO_POWER_TYPE, &power_type);
    const char *file = PMIC_FILE_DC;
    if (power_type == 1) {
        OPTAD_LOG_DEBUG("DEBUG:optad:power_up - DE phase IMC board detected!\n");
        file = PMIC_FILE_DE;
    } else {
        OPTAD_LOG_DEBUG("DEBUG:optad:power_up - DC phase IMC board detected!\n");
    }
    if (pmic_init_from_file(i2c_fd, file) < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:power_up - I2C communication failed!\n");
        return -1;
    }
    return 0;
}

// Waits for the FPGA to report its video link up on both lanes.
int check_fpga_link()
{
    int io_exp = -1;
    for (int round = 0; round < FPGA_ROUNDS; ++round) {
        io_exp = fpga_read_io_exp();
        if (io_exp >= 0 && (io_exp & IO_EXP_NOT_INITIALIZED) == 0) {
            if (io_exp & IO_EXP_LINK_UP)
                OPTAD_LOG_DEBUG("DEBUG:optad:power_up - FPGA link_up is up!!!, io_exp=0x%02X\n", io_exp);
            if ((io_exp & IO_EXP_LINK_UP) && (io_exp & IO_EXP_TWO_LANE)) {
                OPTAD_LOG_DEBUG("DEBUG:optad:power_up - FPGA two_lane is up!!!, io_exp=0x%02X\n", io_exp);
                OPTAD_LOG_DEBUG("DEBUG:optad:power_up - IMC power up succeeded!!!\n");
                return 0;
            }
        }
        clock_sleep_us(FPGA_PAUSE_US);
    }
    // A failed read prints as 0xFFFFFFFF.
    const unsigned shown = static_cast<unsigned>(io_exp);
    if (io_exp < 0)
        OPTAD_LOG_ERROR("ERROR:optad:power_up - FPGA error!!!, io_exp=0x%02X\n", shown);
    else if (io_exp & IO_EXP_NOT_INITIALIZED)
        OPTAD_LOG_ERROR("ERROR:optad:power_up - FPGA not initialized!!!, io_exp=0x%02X\n", shown);
    else
        OPTAD_LOG_ERROR("ERROR:optad:power_up - Didn't receive HIGH on two_lane and link_up!!!, io_exp=0x%02X\n",
                        shown);
    return -1;
}

}  // namespace

int module_is_powered()
{
    int level = 0;
    return gpio_read(GPIO_POWER_GOOD, &level) >= 0 && level == 1 ? 1 : 0;
}

int power_up(int safe_boot, int skip_checks)
{
    if (!skip_checks && sequence_blocked(blocks))
        return POWER_UP_OK;
    if (!has_enough_power())
        return POWER_UP_NOT_ENOUGH_POWER;
    wait_until_warm();

    if (drive_lines_until_failure(supplies_on, safe_boot) < 0)
        return POWER_UP_FAILED;
    I2cBus bus;
    if (bus.fd() < 0) {
        const int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_up - Failed to open the i2c bus!\n", e, strerror(e));
        return POWER_UP_FAILED;
    }
    if (program_pmic(bus.fd()) < 0)
        return POWER_UP_FAILED;
    if (drive_lines_until_failure(converters_on, safe_boot) < 0)
        return POWER_UP_FAILED;
    const WaitResult power_good = wait_for_level(power_good_high);
    if (power_good == WaitResult::READ_FAILED)
        return POWER_UP_FAILED;
    if (power_good == WaitResult::NEVER) {
        OPTAD_LOG_ERROR("ERROR:optad:power_up - POWER_GOOD not set HIGH!\n");
        return POWER_UP_FAILED;
    }

    if (drive_lines_until_failure(imc_started, safe_boot) < 0)
        return POWER_UP_FAILED;
    if (wait_for_level(init_done_high) != WaitResult::REACHED) {
        OPTAD_LOG_ERROR("ERROR:optad:power_up - INIT_DONE not set HIGH!\n");
        if (!safe_boot)
            return POWER_UP_NO_INIT_DONE;
        // Open the SPI front anyway: the firmware upgrade that follows
        // needs the link.
        if (gpio_write(GPIO_SPI_FRONT_TRISTATE, 0, 0) < 0)
            OPTAD_LOG_ERROR("ERROR:optad:power_up - Failed to release SPI_FRONT_TRISTATE (not set to LOW)!\n");
        clock_sleep_us(SAFE_BOOT_SETTLE_US);
        return POWER_UP_SAFE_BOOT;
    }

    if (drive_lines_until_failure(link_released, safe_boot) < 0)
        return POWER_UP_FAILED;
    // A safe-mode start only brings the IMC up far enough to take new
    // firmware; the video link is not checked.
    if (safe_boot)
        return POWER_UP_SAFE_BOOT;
    return check_fpga_link() < 0 ? POWER_UP_FAILED : POWER_UP_OK;
}

}  // namespace optad
