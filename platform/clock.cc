#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <ctime>

namespace optad {

namespace {
std::atomic<ClockSource *> source{nullptr};
}

bool ClockSource::cond_wait_until(GCond *, GMutex *, int64_t deadline_us)
{
    int64_t now = now_us();
    if (deadline_us > now)
        sleep_us(deadline_us - now);
    return false;
}

bool ClockSource::cond_wait_until(std::condition_variable &, std::unique_lock<std::mutex> &,
                                  int64_t deadline_us)
{
    return cond_wait_until(static_cast<GCond *>(nullptr), nullptr, deadline_us);
}

void clock_set_source(ClockSource *s)
{
    source.store(s);
}

int64_t clock_now_us()
{
    if (ClockSource *s = source.load())
        return s->now_us();
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

void clock_sleep_us(int64_t us)
{
    if (ClockSource *s = source.load()) {
        s->sleep_us(us);
        return;
    }
    if (us <= 0)
        return;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(us / 1'000'000);
    ts.tv_nsec = static_cast<long>((us % 1'000'000) * 1000);
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

bool clock_cond_wait_until(GCond *cond, GMutex *mutex, int64_t deadline_us)
{
    if (ClockSource *s = source.load())
        return s->cond_wait_until(cond, mutex, deadline_us);
    // g_cond_wait_until() uses the same monotonic clock as clock_now_us().
    return g_cond_wait_until(cond, mutex, deadline_us);
}

}  // namespace optad

namespace optad {

bool clock_cond_wait_until(std::condition_variable &cond, std::unique_lock<std::mutex> &lock,
                           int64_t deadline_us)
{
    if (ClockSource *s = source.load())
        return s->cond_wait_until(cond, lock, deadline_us);
    // steady_clock is CLOCK_MONOTONIC on Linux, the clock of clock_now_us().
    int64_t now = clock_now_us();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(deadline_us - now);
    return cond.wait_until(lock, deadline) == std::cv_status::no_timeout;
}

}  // namespace optad
