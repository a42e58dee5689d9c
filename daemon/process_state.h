// The daemon's process-wide objects, all in this one place.
//
// Every thread of optad shares these: the main loop works on them, the
// D-Bus listener and the GPIO listener threads hand jobs to it through the
// job list, and the other modules of the main loop (parameter send and
// confirm, status checks, start-up sync, power sequences) read and change
// the state and flags. They live for the whole process; start-up creates the
// synchronisation objects and the teardown after a failed start frees them.
//
// Locking: the job-list mutex guards the job list, the daemon state and its
// flags (except the atomic IMC-ready flag), the job records and the link
// buffers. Use the helpers of job_queue.h to lock, wait and queue.
#pragma once

#include "daemon/daemon_state.h"
#include "daemon/job_list.h"
#include "daemon/job_records.h"

#include <glib.h>

#include <cstdint>

namespace optad {

// The job list (guarded by job_list_mutex).
extern JobList job_list;

// The one big lock; heap-allocated, non-recursive.
extern GMutex *job_list_mutex;
// The IMC-ready gate: held by the main loop's thread while the IMC is not
// started, only ever try-locked by the others (job_queue.h).
extern GMutex *imc_ready_mutex;
// Signalled by producers that need a prompt answer; always used with
// job_list_mutex.
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
