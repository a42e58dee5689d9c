// The daemon's process-wide objects, all in this one place.
//
// Every thread of optad shares these: the main loop works on them, the
// D-Bus listener and the GPIO listener threads hand jobs to it through the
// job list, and the other modules of the main loop (parameter send and
// confirm, status checks, start-up sync, power sequences) read and change
// the state and flags. They live for the whole process; start-up creates the
// synchronisation objects and the teardown after a failed start frees them.
//
// Locking. The rule behind every lock below: nobody holds a lock that
// another thread needs while waiting for the module (a REQ wait, a power
// sequence, a firmware upgrade), a script, a peer or a timer. So the D-Bus
// service answers at once whatever the module is doing, and a GPIO
// listener's restart is queued the moment its line falls.
//
// - The job-list mutex guards the job list alone (and the clearing of the
//   IMC-ready flag at shutdown, so that a listener's check and append
//   cannot straddle it). It is held for a few instructions at a time and
//   nothing else is locked under it: it is the innermost lock. The main
//   loop takes one job under it and runs the job without it. The
//   data-available condition goes with it: the GPIO listeners and the power
//   budget handler signal it when they append; a wake-up given while the
//   main loop is busy is kept for its next wait. The D-Bus handlers do not
//   signal, so their jobs run at the main loop's next wake-up, at the
//   latest one status-poll interval later.
// - The parameter table has its own recursive lock (ParamLock,
//   param_settings.h), taken by every get and set. A D-Bus set holds it while
//   it validates, stores, writes the configuration file and announces the
//   change, and queues its job under it; a SetProperties holds it across
//   all its entries and their one write of the file (ParamBatch). The main
//   loop holds it while an encoder reads the values it builds a frame from,
//   never while it talks to the IMC.
// - The daemon state, its flags and counters, the job records, scam_sts and
//   the link buffers belong to the main loop's thread alone. What other
//   threads need of them is published in atomics: the IMC-ready flag, the
//   power-up count and the module generation (GPIO listeners), the shutter
//   index and the lens focus switch (D-Bus handlers, status_monitor.h).
// - A parameter job from another thread is queued only while the IMC is
//   started (queue_param_job): the gate is tried under the job-list mutex,
//   and the main loop closes it under the same mutex before a restart's
//   shutdown empties the list. So no parameter job reaches the IMC before the
//   start-up sync, and a shutdown leaves no stale job behind.
// - Lock order: the parameter table lock, then the small private locks of
//   the clients (the image pipeline client's start-up lock, the overlay
//   lock, the power budget proxy lock), then the job-list mutex. The
//   IMC-ready mutex is only ever tried by other threads, never waited on,
//   and adds no order.
//
// Use the helpers of job_queue.h to lock, wait and queue.
#pragma once

#include "daemon/daemon_state.h"
#include "daemon/job_list.h"
#include "daemon/job_records.h"

#include <glib.h>

#include <cstdint>

namespace optad {

// The job list (guarded by job_list_mutex).
extern JobList job_list;

// The job list's short lock; heap-allocated, non-recursive.
extern GMutex *job_list_mutex;
// The IMC-ready gate: held by the main loop's thread while the IMC is not
// started, only ever try-locked by the others (job_queue.h).
extern GMutex *imc_ready_mutex;
// Signalled by producers that need a prompt answer; always used with
// job_list_mutex (job_list_signal, job_list_wait_for_signal).
extern GCond *data_available_cond;

// Start-up state, flags and counters of the main loop.
extern DaemonState daemon_state;

// Per job identifier: pending, sent_at, tries.
extern JobRecordTable job_records;

// The IMC link's two 512-byte buffers as the link handed them out at
// start-up: the send buffer and recv_buf, the latest status reply.
struct ImcBuffers {
    uint8_t *send_buf = nullptr;
    uint8_t *recv_buf = nullptr;
};
extern ImcBuffers imc_buffers;

// Whole seconds of the monotonic clock when the daemon started.
extern int64_t optad_start_time_s;

// The long-running threads; null when not started.
struct DaemonThreads {
    GThread *dbus_listener = nullptr;
    GThread *power_good = nullptr;
    GThread *init_done = nullptr;
    GThread *i2n_int = nullptr;
};
extern DaemonThreads daemon_threads;

// Allocates and initialises, in this order, the job-list mutex, the
// IMC-ready mutex and the data-available condition. Returns 0, or -1 when an
// allocation failed (what was created stays, for the teardown to free).
int sync_objects_create();

// Clears and frees each synchronisation object that was created and sets
// its pointer to null. The IMC-ready gate is opened first if the main
// thread still holds it, since a held mutex must not be cleared.
void sync_objects_destroy();

// For tests only: every object above back to its state at process start
// (synchronisation objects destroyed, list empty, state and flags initial,
// records cleared, buffers and threads forgotten).
void process_state_reset_for_tests();

}  // namespace optad
