// The image module's power-up and shutdown sequences.
//
// The module is powered, released from reset and shut down by the daemon
// itself: supplies, resets, the PCIe clock and two tristate buffers are GPIO
// lines (board/gpio.h), and the PMIC's rails are programmed over I2C from
// the board's command file (board/pmic.h) while its I2C path is released.
// Both sequences run on the main-loop thread, holding no lock that another
// thread needs.
//
// Two things block either sequence unless the caller skips the checks: a
// status reply whose heart-beat word is 0xFFFF (the IMC runs without
// heart-beat supervision), and the debug marker file. A blocked sequence
// sleeps 10 s and reports success with every line untouched, so that a
// module someone is working on is not power-cycled under them.
#pragma once

namespace optad {

// Run before every power-up until it exits 0: the module may not be powered
// while it is too cold.
inline constexpr const char TEMPERATURE_SCRIPT[] = "/usr/bin/optad_temperature.sh";
// Present while someone debugs the IMC.
inline constexpr const char IMC_DEBUG_MARKER[] = "/mnt/flash/root/enable_imc_debug";

// Results of power_up.
enum : int {
    POWER_UP_OK = 0,              // powered, FPGA link up (or blocked, nothing done)
    POWER_UP_FAILED = -1,         // a GPIO, I2C, POWER_GOOD or FPGA step failed
    POWER_UP_NO_INIT_DONE = -2,   // INIT_DONE never rose in a normal start
    POWER_UP_SAFE_BOOT = -3,      // safe boot: completed without the FPGA check, or INIT_DONE never rose
    POWER_UP_NOT_ENOUGH_POWER = -4,  // the power budget refused; no line touched
};

// Powers the module up. safe_boot starts the IMC in safe boot mode;
// skip_checks leaves out the heart-beat and debug-marker blocks. Lines
// already driven stay as they are when a step fails.
int power_up(int safe_boot, int skip_checks);

// 1 when POWER_GOOD reads high: the module is powered, for instance still
// running from an earlier run of the daemon that ended without shutting it
// down. 0 when it reads low or cannot be read.
int module_is_powered();

// Shuts the module down: empties the job list, clears the IMC-ready flag,
// turns black video on, then (unless blocked) sends the IMC its system
// reset (unless skip_reset) and takes every line down in order. A failed
// step is logged and the sequence goes on. Always returns 0.
int shutdown(int skip_checks, int skip_reset);

}  // namespace optad
