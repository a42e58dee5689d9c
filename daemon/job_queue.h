// How the threads hand work to the main loop, and the IMC-ready gate.
//
// The job-list mutex is a short lock: it guards the job list (and the
// IMC-ready flag's clearing at shutdown, so that a listener's check and
// append cannot straddle it) and nothing else. Nobody holds it while
// waiting for the module, a peer, a script or a timer, and nothing is
// locked while it is held: it is the innermost lock of the daemon. The main
// loop takes one job under it and runs the job without it; so a producer
// never waits for a job, however long the job takes.
//
// Every thread locks and waits through these helpers instead of calling
// g_mutex_lock()/g_cond_wait() on the shared objects itself. Besides keeping
// the rules in one place, this tells ThreadSanitizer about the lock: GLib's
// mutex is built on futexes it cannot see, so without the annotations every
// access under the job-list mutex would be reported as a race.
#pragma once

#include <cstdint>

namespace optad {

void job_list_lock();
void job_list_unlock();

// Waits on the data-available condition, releasing the job-list mutex while
// waiting (it must be held). The timed form goes through the clock module
// and returns false on time-out; both may wake spuriously.
bool job_list_wait_until(int64_t deadline_us);
void job_list_wait();

// Wakes the main loop (call with the mutex held). A wake-up given while
// the main loop is busy is kept for its next wait, which then returns at
// once: the main loop runs jobs without the mutex, so a producer may well
// append while it is not waiting.
void job_list_signal();

// The main loop's wait between passes: locks, waits for a wake-up (given
// since the last wait or during this one) until the monotonic clock passes
// deadline_us (no limit when negative), unlocks.
void job_list_wait_for_signal(int64_t deadline_us);

// Any thread: lock, append the job at the tail, signal the data-available
// condition when asked, unlock. Returns 0, or -1 when the list had no room
// (logged; the job is lost).
int queue_job(int id, bool signal);

// With the job-list mutex already held by the caller.
int queue_job_locked(int id);

// The main loop: appends the job unless the list holds it already (both
// under the mutex). Returns 0 when queued or already there, -1 when the list
// had no room.
int queue_job_once(int id);

// The main loop: puts a job at the head, to run before everything queued
// (a parameter job whose send failed, a fault that must come first).
int queue_job_at_head(int id);

// A parameter job from outside the main loop (D-Bus, image pipeline and
// rotation clients): appended only while the IMC is started. The gate is
// looked at under the job-list mutex, and closing it empties the list under
// the same mutex, so no job can slip in between a restart's clean-up and
// the next parameter sync. Returns 0 when queued, 1 when the IMC is not
// started (nothing queued), -1 when the list had no room.
int queue_param_job(int id);

// A GPIO listener's job for a running module (a restart after POWER_GOOD or
// INIT_DONE fell, the IMC's interrupt): appended, with the main loop woken,
// only while the IMC-ready flag is set and no power-up has succeeded since
// the listener read power_ups_seen (both checked under the mutex, where a
// shutdown clears the flag). Returns 0 when queued, 1 when the module was
// not running or was powered up again meanwhile, -1 when the list had no
// room. With abandon_req_waits, a queued job also abandons the IMC link's
// REQ waits in the same step (spi_abandon_req_waits), so that no power-up
// can resume them in between.
int queue_module_job(int id, unsigned power_ups_seen, bool abandon_req_waits);
// The interrupt listener's job: appended, with the main loop woken, only
// while the module generation is still the one the listener read before
// its line (checked under the mutex, where shutdowns change it). Returns 0
// when queued, 1 when a shutdown began or ended since (nothing queued), -1
// when the list had no room.
int queue_interrupt_job(int id, unsigned generation_seen);
// The main loop, as a power-up begins: REQ waits count again.
void resume_req_waits();

// The main loop: takes the head job into *id (duplicates of a merging job
// removed with it). Returns false when the list is empty.
bool job_list_take(int *id);
// The main loop: removes every queued copy of id.
void job_list_remove(int id);
// The main loop, when the module is shut down: empties the list, clears
// the IMC-ready flag and moves the module generation on in one step, so
// that no producer's job meant for the module that is going away survives
// the shutdown.
void job_list_clear_for_shutdown();
// The main loop, when the shutdown has taken the module's power: moves the
// module generation on again and removes the interrupts queued meanwhile.
// An IMC told to reset starts again while its supplies are still on, and
// its interrupt then is not the next start's first one.
void job_list_module_off();

// From any thread but the main loop: whether the IMC is started, i.e. the
// gate is open. Tries the IMC-ready mutex and, when that succeeds, releases
// it at once; never waits.
bool imc_is_started();

// The main loop's side of the gate (main thread only). Closing holds the
// IMC-ready mutex while the IMC is not started; opening releases it when the
// start-up parameter sync begins. Both are idempotent: the main loop keeps
// track of whether it holds the gate, so a restart while the gate is already
// closed changes nothing and opening an open gate never unlocks a mutex
// this thread does not hold.
void imc_gate_close();
void imc_gate_open();
bool imc_gate_is_closed();

// For tests only: forgets a pending wake-up and resumes REQ waits.
void job_queue_reset_for_tests();

}  // namespace optad
