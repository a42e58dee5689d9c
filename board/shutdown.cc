// The module's shutdown sequence: nothing more is sent to the IMC, the
// video goes black, the IMC is told to reset, then every line the power-up
// raised is taken down in the opposite order, with the SPI front isolated
// first. Nothing stops it: a line that cannot be driven is logged and the
// rest still goes down.
#include "board/gpio.h"
#include "board/power_sequence.h"
#include "board/power_steps.h"
#include "daemon/job_queue.h"
#include "daemon/process_state.h"
#include "imc/buffer.h"
#include "platform/log.h"
#include "video/morvel6.h"

namespace optad {

namespace {

constexpr int MS = 1000;

// Time the IMC gets to act on its system reset before the SPI front is
// isolated.
constexpr int RESET_GRACE_US = 5000 * MS;

constexpr LineStep lines_down[] = {
    {GPIO_SPI_FRONT_TRISTATE, 1, RESET_GRACE_US,
     "WARNING:optad:shutdown - Failed to activate SPI_FRONT_TRISTATE (not set to HIGH)!\n"},
    {GPIO_PERST, 0, 10 * MS, "WARNING:optad:shutdown - Failed to reset PERST (not set to LOW)!\n"},
    {GPIO_FPGA_RESET, 0, 10 * MS, "WARNING:optad:shutdown - Failed to reset FPGA_RESET (not set to LOW)!\n"},
    {GPIO_FRONT_RESET, 0, 50 * MS, "WARNING:optad:shutdown - Failed to reset RESET_FRONT (not set to LOW)!\n"},
    {GPIO_PCIE_CLK_ENABLE, 0, 50 * MS,
     "WARNING:optad:shutdown - Failed to stop PCIE_CLK_ENABLE (not set to LOW)!\n"},
    {GPIO_SAFE_BOOT, 0, 0, "WARNING:optad:shutdown - Failed to deactivate SAFE_BOOT (not set to LOW)!\n"},
    {GPIO_DCDC_EN, 0, 50 * MS, "WARNING:optad:shutdown - Failed to stop DCDC_EN (not set to LOW)!\n"},
};

// After POWER_GOOD has fallen (or not): the supplies off.
constexpr LineStep supplies_off[] = {
    {GPIO_ENABLE_12V, 0, 300 * MS, "WARNING:optad:shutdown - Failed to stop ENABLE_12V (not set to LOW)!\n"},
    {GPIO_RST_BUFFER_ENABLE_1V8, 0, 0,
     "WARNING:optad:shutdown - Failed to stop RST_BUFFER_ENABLE_1V8 (not set to LOW)!\n"},
};

constexpr LevelWait power_good_low = {GPIO_POWER_GOOD, 0, false,
                                      "WARNING:optad:shutdown - Failed to get value of POWER_GOOD!\n"};

constexpr BlockMessages blocks = {
    "ERROR:optad:shutdown - Shutdown of IMC blocked by IMC Heart Beat 0xffff\n",
    "ERROR:optad:shutdown - Shutdown of IMC blocked by enable_imc_debug!\n",
};

}  // namespace

int shutdown(int skip_checks, int skip_reset)
{
    OPTAD_LOG_DEBUG("DEBUG:optad:shutdown - Start\n");
    // Whatever was queued for the running IMC is void now; the IMC-ready
    // flag is cleared in the same step, so that no listener can queue a job
    // for the module that is going away after the list was emptied.
    job_list_clear_for_shutdown();
    set_black_video_morvel6(1);
    if (!skip_checks && sequence_blocked(blocks))
        return 0;

    if (!skip_reset && system_reset() != 0)
        OPTAD_LOG_WARNING("WARNING:optad:shutdown - Not possible to send the Reset command to Image chip! Will "
                          "continue with GPIO Front Reset!\n");
    drive_every_line(lines_down);
    if (wait_for_level(power_good_low) != WaitResult::REACHED)
        OPTAD_LOG_WARNING("WARNING:optad:shutdown - POWER_GOOD not set to LOW!\n");
    drive_every_line(supplies_off);
    // Off now: what the IMC raised while it went down is old news.
    job_list_module_off();
    OPTAD_LOG_DEBUG("DEBUG:optad:shutdown - IMC shutdown Completed!!!\n");
    return 0;
}

}  // namespace optad
