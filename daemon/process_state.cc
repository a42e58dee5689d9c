#include "daemon/process_state.h"

#include "daemon/job_queue.h"

namespace optad {

JobList job_list;
GMutex *job_list_mutex = nullptr;
GMutex *imc_ready_mutex = nullptr;
GCond *data_available_cond = nullptr;
DaemonState daemon_state;
JobRecordTable job_records{};
ImcBuffers imc_buffers;
int64_t optad_start_time_s = 0;
DaemonThreads daemon_threads;

namespace {

GMutex *new_mutex()
{
    // The try form, so that a failed allocation is reported instead of
    // aborting the process.
    GMutex *m = g_try_new0(GMutex, 1);
    if (m != nullptr)
        g_mutex_init(m);
    return m;
}

void free_mutex(GMutex *&m)
{
    if (m == nullptr)
        return;
    g_mutex_clear(m);
    g_free(m);
    m = nullptr;
}

}  // namespace

int sync_objects_create()
{
    job_list_mutex = new_mutex();
    if (job_list_mutex == nullptr)
        return -1;
    imc_ready_mutex = new_mutex();
    if (imc_ready_mutex == nullptr)
        return -1;
    data_available_cond = g_try_new0(GCond, 1);
    if (data_available_cond == nullptr)
        return -1;
    g_cond_init(data_available_cond);
    return 0;
}

void sync_objects_destroy()
{
    if (imc_ready_mutex != nullptr)
        imc_gate_open();
    free_mutex(job_list_mutex);
    free_mutex(imc_ready_mutex);
    if (data_available_cond != nullptr) {
        g_cond_clear(data_available_cond);
        g_free(data_available_cond);
        data_available_cond = nullptr;
    }
}

void process_state_reset_for_tests()
{
    sync_objects_destroy();
    job_queue_reset_for_tests();
    job_list.clear();
    daemon_state.reset();
    job_records_clear(job_records);
    imc_buffers = ImcBuffers{};
    optad_start_time_s = 0;
    daemon_threads = DaemonThreads{};
}

}  // namespace optad
