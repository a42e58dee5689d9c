// The daemon's start-up state and the main loop's flags and counters.
//
// The state takes the module from waiting for power through power-up,
// firmware check and parameter synchronisation to running. The flags steer
// the recovery paths: restarts, the safe-mode power-up, the firmware upgrade
// and giving up after five IMC errors.
#pragma once

#include <atomic>
#include <cstdint>

namespace optad {

enum OptadState : int {
    OPTAD_STARTUP_WAIT_POWER = 0,     // initial: waiting until the power budget allows power-up
    OPTAD_STARTUP_POWERUP = 1,        // power-up sequence running or being retried
    OPTAD_STARTUP_WAIT_INT = 2,       // module powered; waiting for the IMC's first interrupt
    OPTAD_STARTUP_CHECK_FIRM = 3,     // firmware check queued or running
    OPTAD_STARTUP_UPDATE_PARAMS = 4,  // firmware up to date; next status poll starts the sync
    OPTAD_STARTUP_WAIT_UPDATE = 5,    // all parameter jobs queued; waiting for confirmations
    // 6 is not used.
    OPTAD_STARTUP_DONE = 7,           // running
};

// Everything here belongs to the main loop's thread, except imc_ready,
// power_ups and module_generation: the GPIO listener threads read them, so
// they are atomic (and a shutdown clears imc_ready under the job-list mutex, see
// job_queue.h).
struct DaemonState {
    int state = OPTAD_STARTUP_WAIT_POWER;
    // 1 from a successful power-up until the next shutdown or power-up
    // attempt; parameter jobs are sent and the status block polled only
    // while it is set.
    std::atomic<int> imc_ready{0};
    // Successful power-ups since the process started (set with imc_ready).
    // A GPIO listener notes it when it reads a drop; if it has changed by
    // the time the listener holds the job list, the module was restarted
    // and powered up again meanwhile, and the drop is old news.
    std::atomic<unsigned> power_ups{0};
    // Changed, under the job-list mutex, when a shutdown begins (as it
    // empties the job list) and when it has taken the module's power. The
    // interrupt listener notes it before it reads its line; an interrupt
    // read before a shutdown, or while one ran, is old news. Unlike
    // power_ups it does not change when a power-up succeeds: the IMC's
    // first interrupt comes while its power-up is still running, and counts.
    std::atomic<unsigned> module_generation{0};
    // Poll the camera status block whenever the job list is empty (set once
    // the firmware is known to be current).
    int status_polling = 0;
    // The first power-up attempt of the process skips the IMC's heart-beat
    // and debug-marker checks.
    int first_power_up = 1;
    // Request a safe-mode boot of the IMC (after a normal boot failed).
    int safe_mode = 0;
    // Failed power-up attempts since the last success; at 5 power-up is not
    // tried again.
    int power_up_retry_count = 0;
    // The IMC is being restarted on purpose (firmware upgrade, capture-mode
    // change): the power sequences skip their heart-beat checks.
    int imc_restart = 0;
    // Leave the IMC system reset command out of the next restart's shutdown
    // (after a firmware upgrade the IMC restarts by itself).
    int skip_reset = 0;
    // JT_ERROR jobs over the life of the process; the fifth stops the module
    // for good.
    int imc_error_count = 0;
    // Refusals of JT_CHECK_POWER counted while DEBUG logging is on; every
    // hundredth is logged.
    int check_power_refusals = 0;
    // Exchanges with the IMC (parameter sends and status polls of the main
    // loop) that failed in a row since the last one that worked or the last
    // power-up; at FAILED_EXCHANGE_LIMIT the IMC counts as hung.
    int failed_exchanges = 0;
    // When the IMC's first interrupt after a power-up is given up on
    // (monotonic µs; meaningful in OPTAD_STARTUP_WAIT_INT).
    int64_t first_interrupt_deadline_us = 0;
    // The start-up sync found the IMC already running the configured
    // capture mode: the capture-mode job's confirmation then needs no
    // restart (it only clears the flag).
    int same_capture_mode = 0;
    // The image stabilizer runs (confirmed on); since when, in whole
    // seconds of the monotonic clock. Its running time is added to a
    // persistent total when it is switched off and once an hour.
    int stabilizer_active = 0;
    int64_t stabilizer_start_s = 0;

    // Back to the values at process start.
    void reset();
};

}  // namespace optad
