// N idle status polls of the running daemon, on their own: the daemon's
// request_camera_status and check_camera_status over the real link code
// against the simulated module, with nothing changing but the heart beat.
// params_bench runs it under callgrind (collecting inside
// optad_bench_idle_polls only) and reads the heap allocations it prints.
//
//   build/host/tests/idle_poll_driver [polls]     (200 by default)
//
// Prints "polls <n> allocations <a> queued_jobs <j> failed <f>", then the
// allocations of the whole run (the set-up's included) as a check that the
// counting works.
#include "config/param_settings.h"
#include "daemon/daemon_state.h"
#include "daemon/process_state.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/status_check.h"
#include "params/status_request.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_support.h"
#include "video/datacache.h"

#include <glib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Every heap allocation of the process goes through these (glibc's own
// allocator underneath); they count while `counting` is set.
namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};  // while counting
std::atomic<long> all_allocations{0};
void note_allocation()
{
    all_allocations.fetch_add(1, std::memory_order_relaxed);
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *p, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *p);

void *malloc(size_t size)
{
    note_allocation();
    return __libc_malloc(size);
}
void *calloc(size_t n, size_t size)
{
    note_allocation();
    return __libc_calloc(n, size);
}
void *realloc(void *p, size_t size)
{
    note_allocation();
    return __libc_realloc(p, size);
}
void *aligned_alloc(size_t alignment, size_t size)
{
    note_allocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void **out, size_t alignment, size_t size)
{
    note_allocation();
    void *p = __libc_memalign(alignment, size);
    if (p == nullptr)
        return ENOMEM;
    *out = p;
    return 0;
}
void free(void *p)
{
    __libc_free(p);
}

// The measured loop: callgrind collects from its entry to its return.
__attribute__((noinline)) int optad_bench_idle_polls(int polls)
{
    int failed = 0;
    for (int i = 0; i < polls; ++i) {
        if (optad::request_camera_status() < 0)
            ++failed;
        else
            optad::check_camera_status();
    }
    return failed;
}
}

int main(int argc, char **argv)
{
    using namespace optad;
    int polls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    test::SandboxRoot root;
    for (const char *dir : {"/etc/optad", "/etc/legacyconfig/legacymappings.d", "/var/run/optad",
                            "/var/run/valuepool", "/lib/persistent/var/lib/optics"})
        g_mkdir_with_parents(root.path(dir).c_str(), 0755);
    test::Simulator sim(root, {"--set", "req_period_ms=2"});
    if (!sim.running() || !sim.ok("power on")) {
        std::fprintf(stderr, "idle_poll_driver: the simulated module did not come up\n");
        return 1;
    }

    param_init();
    if (spi_open_and_init(&imc_buffers.send_buf, &imc_buffers.recv_buf) < 0) {
        std::fprintf(stderr, "idle_poll_driver: the IMC link did not open\n");
        return 1;
    }
    open_datacache();
    s_capture = capture_settings_initial();

    // The running daemon after its start-up: the first confirmed status is
    // the module's, and a few polls take in what the start left to follow
    // (data caches, temperature file, lens cache, day/night seed).
    daemon_state.state = OPTAD_STARTUP_UPDATE_PARAMS;
    if (request_camera_status() < 0)
        return 1;
    daemon_state.state = OPTAD_STARTUP_DONE;
    for (int i = 0; i < 5; ++i) {
        if (request_camera_status() == 0)
            check_camera_status();
    }
    job_list.clear();

    counting = true;
    int failed = optad_bench_idle_polls(polls);
    counting = false;

    long before_loop = all_allocations.load();
    std::printf("polls %d allocations %ld queued_jobs %zu failed %d\n", polls, allocations.load(), job_list.size(),
                failed);
    std::printf("set-up allocations %ld\n", before_loop - allocations.load());
    spi_close();
    return failed == 0 ? 0 : 1;
}
