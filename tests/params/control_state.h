// Parameter control's process-wide state as the daemon starts, for the
// status-check tests: the sandbox's directories, the parameter table from
// its defaults, the fault timers, the saved and received status blocks, the
// capture settings, the limits and the preferred day/night string.
#pragma once

#include "config/param_settings.h"
#include "daemon/process_state.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/day_night.h"
#include "params/sdl.h"
#include "params/status_check.h"
#include "tests/support/test_support.h"

#include <glib.h>

#include <cstring>

namespace optad::test {

inline void reset_parameter_control(const SandboxRoot &root)
{
    g_mkdir_with_parents(root.path("/etc/optad").c_str(), 0755);
    g_mkdir_with_parents(root.path("/etc/legacyconfig/legacymappings.d").c_str(), 0755);
    g_mkdir_with_parents(root.path("/var/run/optad").c_str(), 0755);
    process_state_reset_for_tests();
    sync_objects_create();  // the job list's lock
    param_reset_for_tests();
    param_init();
    status_check_reset_for_tests();
    std::memset(scam_sts, 0, sizeof scam_sts);
    std::memset(spi_recv_buffer(), 0, SPI_BUFFER_SIZE);
    s_capture = capture_settings_initial();
    s_sdl = {};
    set_preferred_day_night(nullptr);
}

// What the tests leave behind: the parameter table, the process state.
inline void clear_parameter_control()
{
    set_preferred_day_night(nullptr);
    param_reset_for_tests();
    process_state_reset_for_tests();
}

}  // namespace optad::test
