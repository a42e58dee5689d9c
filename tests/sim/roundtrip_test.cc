// The cost of the seam's client with the simulator behind it: a 512-byte
// exchange and a 4096-byte firmware message, timed end to end, and no heap
// allocation on the client's side while they run.
#include "platform/devio.h"
#include "platform/kernel_abi.h"
#include "tests/sim/sim_helpers.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define OPTAD_COUNT_MALLOC 1
#endif

#ifdef OPTAD_COUNT_MALLOC
// Counts the heap allocations of the thread that asks for it, by standing
// in for the C library's allocator in this test program.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
namespace {
thread_local bool counting = false;
thread_local long allocations = 0;
}  // namespace
extern "C" void *malloc(size_t n)
{
    if (counting)
        ++allocations;
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t m)
{
    if (counting)
        ++allocations;
    return __libc_calloc(n, m);
}
extern "C" void *realloc(void *p, size_t n)
{
    if (counting)
        ++allocations;
    return __libc_realloc(p, n);
}
#endif

namespace optad::test {
namespace {

using Clock = std::chrono::steady_clock;

double median_us(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Each exchange waits for its REQ (the shortest period the simulator
// allows), and only the exchange itself and the REQ read after it are
// timed, so that the numbers are the software's, not the IMC's.
class SimRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.running());
        ASSERT_TRUE(sim.ok("power on"));
        fd = open_imc();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(req.wait_level(1, 2000));
    }
    void TearDown() override { dev_close(fd); }

    SandboxRoot root;
    Simulator sim{root, {"--set", "req_period_ms=2"}};
    TestLine req{"imc_req", PINIO_TRIG_BOTH};
    int fd = -1;
};

TEST_F(SimRoundTrip, StatusExchange)
{
    uint8_t tx[512];
    uint8_t rx[512];
    Frame f = status_request();
    for (int i = 0; i < 512; ++i)
        tx[i] = reverse_bits(f[i]);
    spi_ioc_transfer x = imc_transfer(tx, rx, 512);
    constexpr int N = 500;
    std::vector<double> times;
    times.reserve(N);
#ifdef OPTAD_COUNT_MALLOC
    // The counter sees the allocator at all.
    allocations = 0;
    counting = true;
    void *volatile probe = std::malloc(16);
    counting = false;
    std::free(probe);
    ASSERT_EQ(allocations, 1);
    allocations = 0;
#endif
    for (int i = 0; i < N; ++i) {
        ASSERT_TRUE(req.wait_level(1, 2000));
        auto t0 = Clock::now();
#ifdef OPTAD_COUNT_MALLOC
        counting = true;
#endif
        int rc = dev_ioctl(fd, SPI_IOC_MESSAGE(1), &x);
        int level = req.value();  // the REQ check of every exchange
#ifdef OPTAD_COUNT_MALLOC
        counting = false;
#endif
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        ASSERT_EQ(rc, 512);
        // The exchange took the request; with a 2 ms period the next one
        // may already be up when a loaded machine gets round to the read,
        // so only the read itself is checked here. That every exchange had
        // a REQ rise of its own is the violations log's verdict below.
        ASSERT_GE(level, 0);
    }
    EXPECT_EQ(reverse_bits(rx[0x12]), 1);  // a real status block came back
#ifdef OPTAD_COUNT_MALLOC
    EXPECT_EQ(allocations, 0);
#endif
    double us = median_us(times);
    std::printf("512-byte status exchange + REQ read, client and simulator: median %.1f us\n", us);
    RecordProperty("exchange_us", static_cast<int>(us));
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimRoundTrip, FirmwareMessage)
{
    Frame start = version_up_start(16 * 1024 * 1024);
    uint8_t tx[512];
    uint8_t rx[512];
    for (int i = 0; i < 512; ++i)
        tx[i] = reverse_bits(start[i]);
    spi_ioc_transfer s = imc_transfer(tx, rx, 512);
    ASSERT_EQ(dev_ioctl(fd, SPI_IOC_MESSAGE(1), &s), 512);
    static uint8_t msg[4096];
    for (int i = 4; i < 4096; ++i)
        msg[i] = static_cast<uint8_t>(i);
    spi_ioc_transfer x = imc_transfer(msg, nullptr, 4096);
    constexpr int N = 300;
    std::vector<double> times;
    times.reserve(N);
#ifdef OPTAD_COUNT_MALLOC
    allocations = 0;
#endif
    for (int i = 0; i < N; ++i) {
        ASSERT_TRUE(req.wait_level(1, 2000));
        auto t0 = Clock::now();
#ifdef OPTAD_COUNT_MALLOC
        counting = true;
#endif
        int rc = dev_ioctl(fd, SPI_IOC_MESSAGE(1), &x);
#ifdef OPTAD_COUNT_MALLOC
        counting = false;
#endif
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        ASSERT_EQ(rc, 4096);
    }
#ifdef OPTAD_COUNT_MALLOC
    EXPECT_EQ(allocations, 0);
#endif
    double us = median_us(times);
    std::printf("4096-byte firmware message, client and simulator: median %.1f us\n", us);
    RecordProperty("firmware_message_us", static_cast<int>(us));
    EXPECT_NE(sim.ctl("show state").find("fw_received " + std::to_string(N * 4092)), std::string::npos);
    EXPECT_EQ(sim.violations(), "");
}

}  // namespace
}  // namespace optad::test
