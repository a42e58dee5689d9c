#include "platform/clock.h"

#include <gtest/gtest.h>

namespace optad {
namespace {

TEST(Clock, RealClockIsMonotonicAndSleeps)
{
    int64_t a = clock_now_us();
    clock_sleep_us(2000);
    int64_t b = clock_now_us();
    EXPECT_GE(b - a, 2000);
    // Same clock as GLib's deadlines.
    EXPECT_LE(std::abs(g_get_monotonic_time() - clock_now_us()), 100000);
}

TEST(Clock, VirtualClockDrivesSleepsAndWaits)
{
    VirtualClock vc(5'000'000);
    clock_set_source(&vc);
    clock_sleep_us(3'000'000);
    EXPECT_EQ(clock_now_us(), 8'000'000);
    GMutex m;
    GCond c;
    g_mutex_init(&m);
    g_cond_init(&c);
    g_mutex_lock(&m);
    EXPECT_FALSE(clock_cond_wait_until(&c, &m, 8'250'000));
    g_mutex_unlock(&m);
    EXPECT_EQ(clock_now_us(), 8'250'000);
    g_cond_clear(&c);
    g_mutex_clear(&m);
    clock_set_source(nullptr);
}

}  // namespace
}  // namespace optad
