#include "daemon/job_queue.h"

#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "imc/spi.h"
#include "platform/clock.h"
#include "platform/log.h"

#if defined(__SANITIZE_THREAD__)
#define OPTAD_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OPTAD_TSAN 1
#endif
#endif

#ifdef OPTAD_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace optad {

namespace {

// Tell ThreadSanitizer that the job-list mutex orders memory accesses.
inline void annotate_acquired()
{
#ifdef OPTAD_TSAN
    __tsan_acquire(job_list_mutex);
#endif
}

inline void annotate_releasing()
{
#ifdef OPTAD_TSAN
    __tsan_release(job_list_mutex);
#endif
}

// A wake-up given since the main loop last waited (guarded by the job-list
// mutex).
bool wake_pending = false;

// Whether the main loop's thread holds the IMC-ready gate. Read and written
// on that thread only.
bool gate_held = false;

// Places of the job list that only the job types may take. Every job type
// pending at once, each also appended again by a listener that sees its
// line twice, is 24: the reserve is that with room to spare, and still
// leaves the clients most of the list.
constexpr size_t JOB_TYPE_RESERVE = 32;
static_assert(JOB_TYPE_RESERVE >= 2 * JT_JOB_TYPE_COUNT && JOB_TYPE_RESERVE < JobList::CAPACITY / 4);

int refuse(int id)
{
    OPTAD_LOG_ERROR("ERROR:optad:main_loop:queue_job - Job list is full, job %d dropped!\n", id);
    return -1;
}

int append_locked(int id)
{
    return job_list.append(id) ? 0 : refuse(id);
}

}  // namespace

void job_list_lock()
{
    g_mutex_lock(job_list_mutex);
    annotate_acquired();
}

void job_list_unlock()
{
    annotate_releasing();
    g_mutex_unlock(job_list_mutex);
}

bool job_list_wait_until(int64_t deadline_us)
{
    annotate_releasing();
    bool woken = clock_cond_wait_until(data_available_cond, job_list_mutex, deadline_us);
    annotate_acquired();
    return woken;
}

void job_list_wait()
{
    annotate_releasing();
    g_cond_wait(data_available_cond, job_list_mutex);
    annotate_acquired();
}

void job_list_signal()
{
    wake_pending = true;
    g_cond_signal(data_available_cond);
}

void job_list_wait_for_signal(int64_t deadline_us)
{
    job_list_lock();
    if (!wake_pending) {
        if (deadline_us < 0)
            job_list_wait();
        else
            job_list_wait_until(deadline_us);
    }
    wake_pending = false;
    job_list_unlock();
}

int queue_job(int id, bool signal)
{
    job_list_lock();
    int result = append_locked(id);
    if (signal)
        job_list_signal();
    job_list_unlock();
    return result;
}

int queue_job_locked(int id)
{
    return append_locked(id);
}

int queue_job_once(int id)
{
    job_list_lock();
    const int result = job_list.contains(id) ? 0 : append_locked(id);
    job_list_unlock();
    return result;
}

int queue_job_at_head(int id)
{
    job_list_lock();
    const int result = job_list.prepend(id) ? 0 : refuse(id);
    job_list_unlock();
    return result;
}

int queue_param_job(int id)
{
    job_list_lock();
    // The gate is only tried here; its holder, the main loop, never waits
    // for this mutex while it holds the gate's mutex for longer than an
    // instant.
    int result = 1;
    if (imc_is_started()) {
        // Other threads' parameter jobs never take the last places: a client
        // that floods focus steps while the main loop waits for a hung IMC
        // must not crowd out the fault and restart jobs that deal with it.
        if (job_list.size() < JobList::CAPACITY - JOB_TYPE_RESERVE ||
            (job_merges_duplicates(id) && job_list.contains(id)))
            result = append_locked(id);
        else
            result = refuse(id);
    }
    job_list_unlock();
    return result;
}

int queue_module_job(int id, unsigned power_ups_seen, bool abandon_req_waits)
{
    job_list_lock();
    int result = 1;
    if (daemon_state.imc_ready.load() != 0 && daemon_state.power_ups.load() == power_ups_seen) {
        result = append_locked(id);
        if (abandon_req_waits)
            spi_abandon_req_waits();
        job_list_signal();
    }
    job_list_unlock();
    return result;
}

int queue_interrupt_job(int id, unsigned generation_seen)
{
    job_list_lock();
    int result = 1;
    if (daemon_state.module_generation.load() == generation_seen) {
        result = append_locked(id);
        job_list_signal();
    }
    job_list_unlock();
    return result;
}

void resume_req_waits()
{
    job_list_lock();
    spi_resume_req_waits();
    job_list_unlock();
}

bool job_list_take(int *id)
{
    job_list_lock();
    const bool any = !job_list.empty();
    if (any) {
        *id = job_list.front();
        if (job_merges_duplicates(*id))
            job_list.remove_all(*id);
        else
            job_list.pop_front();
    }
    job_list_unlock();
    return any;
}

void job_list_remove(int id)
{
    job_list_lock();
    job_list.remove_all(id);
    job_list_unlock();
}

void job_list_clear_for_shutdown()
{
    job_list_lock();
    job_list.clear();
    daemon_state.imc_ready.store(0);
    daemon_state.module_generation.fetch_add(1);
    job_list_unlock();
}

void job_list_module_off()
{
    job_list_lock();
    daemon_state.module_generation.fetch_add(1);
    job_list.remove_all(JT_I2N_INT);
    job_list_unlock();
}

bool imc_is_started()
{
    if (!g_mutex_trylock(imc_ready_mutex))
        return false;
    g_mutex_unlock(imc_ready_mutex);
    return true;
}

void imc_gate_close()
{
    if (gate_held)
        return;
    // Another thread's imc_is_started() may hold the mutex for the instant
    // of its test. A bare try-lock meeting that instant would leave the gate
    // open through a whole restart, and the release at the next parameter
    // sync would then unlock a mutex nobody holds, which aborts the process.
    // The testers never wait for anything while they hold it, so waiting for
    // them here is short and cannot deadlock. Closed under the job-list
    // mutex, so that a parameter job tried against the gate
    // (queue_param_job) is either in the list before the restart's shutdown
    // empties it, or not queued at all.
    job_list_lock();
    if (!g_mutex_trylock(imc_ready_mutex))
        g_mutex_lock(imc_ready_mutex);
    gate_held = true;
    job_list_unlock();
}

void imc_gate_open()
{
    if (!gate_held)
        return;
    gate_held = false;
    g_mutex_unlock(imc_ready_mutex);
}

void job_queue_reset_for_tests()
{
    wake_pending = false;
    spi_resume_req_waits();
}

bool imc_gate_is_closed()
{
    return gate_held;
}

}  // namespace optad
