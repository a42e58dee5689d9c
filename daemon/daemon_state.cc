#include "daemon/daemon_state.h"

namespace optad {

void DaemonState::reset()
{
    state = OPTAD_STARTUP_WAIT_POWER;
    imc_ready.store(0);
    power_ups.store(0);
    module_generation.store(0);
    status_polling = 0;
    first_power_up = 1;
    safe_mode = 0;
    power_up_retry_count = 0;
    imc_restart = 0;
    skip_reset = 0;
    imc_error_count = 0;
    check_power_refusals = 0;
    failed_exchanges = 0;
    first_interrupt_deadline_us = 0;
    same_capture_mode = 0;
    stabilizer_active = 0;
    stabilizer_start_s = 0;
}

}  // namespace optad
