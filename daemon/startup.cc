#include "daemon/startup.h"

#include "daemon/dbus_listener.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/main_loop.h"
#include "daemon/ops.h"
#include "daemon/process_state.h"
#include "imc/status_block.h"
#include "params/lens_cache.h"
#include "params/sdl.h"
#include "params/startup_sync.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <pthread.h>

#include <cstring>
#include <iterator>

namespace optad {

namespace {

constexpr const char DBUS_LISTENER_THREAD[] = "D-Bus Listener Thread";

// The GPIO listener threads, in the order they are started.
struct ListenerThread {
    const char *name;
    GThreadFunc DaemonOps::*body;
    GThread *DaemonThreads::*handle;
};
constexpr ListenerThread listener_threads[] = {
    {"GPIO POWER_GOOD Listener Thread", &DaemonOps::gpio_power_good, &DaemonThreads::power_good},
    {"GPIO INIT_DONE Listener Thread", &DaemonOps::gpio_init_done, &DaemonThreads::init_done},
    {"GPIO I2N_INT Listener Thread", &DaemonOps::gpio_i2n_int, &DaemonThreads::i2n_int},
};

// What a started thread runs: its name and its body.
struct ThreadStart {
    const char *name;
    GThreadFunc body;
};
// One slot per long-running thread; a slot lives as long as its thread.
ThreadStart thread_starts[1 + std::size(listener_threads)];

// Shows the thread's name to the kernel (ps, top, a debugger), then runs the
// body with the null argument every body expects. The kernel keeps at most
// 15 characters of a thread name and this GLib hands it the full name,
// which the kernel refuses, so the cut name is set here.
gpointer run_named_thread(gpointer data)
{
    const ThreadStart *start = static_cast<const ThreadStart *>(data);
    char comm[16];
    g_strlcpy(comm, start->name, sizeof comm);
    pthread_setname_np(pthread_self(), comm);
    return start->body(nullptr);
}

GThread *start_thread(size_t slot, const char *name, GThreadFunc body)
{
    thread_starts[slot] = {name, body};
    g_autoptr(GError) error = nullptr;
    GThread *thread = g_thread_try_new(name, run_named_thread, &thread_starts[slot], &error);
    if (thread == nullptr)
        OPTAD_LOG_ERROR("ERROR:optad:main - Failed to start %s: %s\n", name, error->message);
    return thread;
}

void join_thread(GThread *&thread)
{
    if (thread == nullptr)
        return;
    g_thread_join(thread);
    thread = nullptr;
}

}  // namespace

int daemon_start()
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main - Start");
    optad_start_time_s = clock_now_us() / 1'000'000;
    daemon_ops.param_init();

    OPTAD_LOG_DEBUG("DEBUG:optad:main:init\n");
    job_list.clear();
    if (sync_objects_create() < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:main - Failed to init!");
        return -1;
    }

    std::memset(scam_sts, 0, sizeof scam_sts);
    daemon_ops.events_init();

    if (daemon_ops.spi_open_and_init(&imc_buffers.send_buf, &imc_buffers.recv_buf) < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:main - Failed to open and init SPI!");
        return -1;
    }

    // Closed before any other thread exists: every other thread finds the
    // IMC not started until the start-up parameter sync opens the gate.
    imc_gate_close();

    // Without its D-Bus thread the daemon could neither serve its parameters
    // nor hear from the power budget service: a failed start.
    daemon_threads.dbus_listener = start_thread(0, DBUS_LISTENER_THREAD, dbus_listener_run);
    if (daemon_threads.dbus_listener == nullptr)
        return -1;

    // The module is not controlled before the image pipeline service runs.
    // One that is late has its time-out logged, and start-up goes on
    // waiting for it, as long as it takes: D-Bus is served meanwhile, and
    // the wait holds no lock another thread needs.
    while (daemon_ops.image_control_wait_start() == 0) {
    }

    capture_mode_init();

    // A listener that cannot be started is logged and its line is not
    // watched, as when the listener itself fails to set up its line.
    for (size_t i = 0; i < std::size(listener_threads); i++) {
        const ListenerThread &l = listener_threads[i];
        daemon_threads.*(l.handle) = start_thread(1 + i, l.name, daemon_ops.*(l.body));
    }

    daemon_ops.legacy_generate_shutter_gain_iris_config(0, 0, 0, 0, 0, 0);

    daemon_ops.open_datacache();
    daemon_ops.write_sensor_datacache(scam_sts[STS_SHUTTER_INDEX], scam_sts[STS_GAIN_INDEX],
                                      scam_sts[STS_IRIS_INDEX]);
    daemon_ops.write_limits_datacache(s_sdl);
    daemon_ops.datacache_api_optics_type(-1, -1, -1);
    update_lens_cache(nullptr);
    OPTAD_LOG_DEBUG("DEBUG:optad:main - Created datacache (sensor_data)\n");

    // Registers with the power budget service and requests power; on
    // failure it has logged why.
    if (daemon_ops.poe_client_start() == 0)
        return -1;

    // The first job is always the power check: the module is never powered
    // before the power budget allows it.
    queue_job(JT_CHECK_POWER, false);
    return 0;
}

int daemon_teardown()
{
    // A started D-Bus listener thread runs for ever: the process then keeps
    // serving D-Bus with the module never powered.
    join_thread(daemon_threads.dbus_listener);
    for (const ListenerThread &l : listener_threads)
        join_thread(daemon_threads.*(l.handle));

    daemon_ops.set_stream_morvel6(0);
    daemon_ops.spi_close();
    daemon_ops.events_free();
    sync_objects_destroy();
    job_list.clear();
    daemon_ops.param_free_values();
    OPTAD_LOG_INFO("optad:main - Optad is now exiting!\n");
    return 0;
}

int optad_main()
{
    if (daemon_start() == 0)
        main_loop_run();
    return daemon_teardown();
}

}  // namespace optad
