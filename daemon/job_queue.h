// How the threads hand work to the main loop, and the IMC-ready gate.
//
// Every thread locks and waits through these helpers instead of calling
// g_mutex_lock()/g_cond_wait() on the shared objects itself. Besides keeping
// the rules in one place, this tells ThreadSanitizer about the lock: GLib's
// mutex is built on futexes it cannot see, so without the annotations every
// access under the job-list mutex would be reported as a race.
//
// Lock order: the job-list mutex comes first. Code running under it may take
// the small private locks of other modules; nobody takes the job-list mutex
// while holding another lock. The IMC-ready gate is never waited on by
// anyone but the main loop's own thread (see imc_gate_close()).
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

// Wakes the main loop (call with the mutex held or right after releasing it).
void job_list_signal();

// From any thread but the main loop: lock, append the job at the tail,
// signal the data-available condition when asked, unlock. Returns 0, or -1
// when the list had no room (logged; the job is lost).
int queue_job(int id, bool signal);

// For code that runs on the main loop, which already holds the mutex.
int queue_job_locked(int id);
// Puts a job back at the head (a parameter job whose send failed).
int queue_job_at_head_locked(int id);

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

}  // namespace optad
