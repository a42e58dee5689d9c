// The monotonic clock and sleeps.
//
// Code that measures time or pauses goes through these functions, so that a
// test can replace the clock and drive long time-outs (seconds or minutes)
// without waiting for them. The real clock is CLOCK_MONOTONIC, the same
// clock GLib's g_get_monotonic_time() and g_cond_wait_until() use.
#pragma once

#include <glib.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace optad {

// Monotonic time in microseconds.
int64_t clock_now_us();

// Sleeps for the given number of microseconds (0 or less: no sleep).
void clock_sleep_us(int64_t us);

// Waits on cond (with mutex held) until it is signalled or the monotonic
// clock passes deadline_us. Returns false on time-out, like
// g_cond_wait_until(). With a test clock installed the wait does not block:
// it lets the test clock decide.
bool clock_cond_wait_until(GCond *cond, GMutex *mutex, int64_t deadline_us);
// The same for the standard library's primitives (lock must hold the mutex).
bool clock_cond_wait_until(std::condition_variable &cond, std::unique_lock<std::mutex> &lock,
                           int64_t deadline_us);

// A replacement clock for tests. Install with clock_set_source(); pass
// nullptr to go back to the real clock.
class ClockSource {
public:
    virtual ~ClockSource() = default;
    virtual int64_t now_us() = 0;
    virtual void sleep_us(int64_t us) = 0;
    // Called instead of blocking on the condition; returns false for a
    // time-out. The default advances time to the deadline.
    virtual bool cond_wait_until(GCond *cond, GMutex *mutex, int64_t deadline_us);
    virtual bool cond_wait_until(std::condition_variable &cond, std::unique_lock<std::mutex> &lock,
                                 int64_t deadline_us);
};

void clock_set_source(ClockSource *source);

// A virtual clock: time only moves when someone sleeps or waits.
class VirtualClock : public ClockSource {
public:
    explicit VirtualClock(int64_t start_us = 1'000'000) : now_(start_us) {}
    int64_t now_us() override { return now_; }
    void sleep_us(int64_t us) override
    {
        if (us > 0) {
            now_ += us;
            slept_ += us;
        }
    }
    void advance(int64_t us) { now_ += us; }
    int64_t slept_us() const { return slept_; }

private:
    int64_t now_;
    int64_t slept_ = 0;
};

}  // namespace optad
