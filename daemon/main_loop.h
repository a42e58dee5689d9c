// The main loop: the one thread that works on the image module.
//
// All work on the IMC link, the module's power lines, the video input, the
// data cache and the IMC firmware happens here, one job at a time. It takes
// jobs from the head of the job list under the job-list mutex (repeated
// requests for one parameter collapse into one send) and runs each to
// completion without it, so other threads queue jobs and read or set
// parameters whatever the job is waiting for. Whenever the list is empty
// and the IMC is up it fetches the IMC's camera status block and has the
// status monitor react to it. An exchange with the IMC that fails ends the
// pass, so the loop pauses before it tries again; three in a row count as
// an IMC error.
//
// It also owns the daemon's start-up state machine (waiting for power,
// power-up, firmware check, parameter sync, running) and the recovery paths:
// IMC restart, safe-mode power-up, firmware upgrade, and giving up after the
// fifth IMC error.
#pragma once

namespace optad {

// The loop itself: never returns. Called once by start-up on the main
// thread, with JT_CHECK_POWER already queued.
[[noreturn]] void main_loop_run();

// One pass of the loop: run the queued jobs until the list is empty (or an
// exchange with the IMC failed), poll the camera status when the IMC is up
// and polling is on, then wait for more work (100 ms after a failed
// exchange, at most one poll interval while polling, else until signalled).
void main_loop_run_once();

// The parts of a pass. main_loop_work() runs the jobs and the status poll
// and returns whether a poll was made; main_loop_wait() is the wait that
// ends the pass.
bool main_loop_work();
void main_loop_wait(bool polled);

// Runs one job that has already been taken off the list.
void main_loop_run_job(int id);

}  // namespace optad
