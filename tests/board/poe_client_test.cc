// The power check before the image module is powered: a DC supply needs no
// grant; on PoE the grant of the power budget service decides, and too
// small a grant raises the not-enough-power overlay. The dc_off line is
// read through a fake GPIO library.
#include "board/poe_client.h"

#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "dbus/optad_event.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

namespace optad {
namespace {

class PoeClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        process_state_reset_for_tests();
        ASSERT_EQ(sync_objects_create(), 0);
        poe_client_reset_for_tests();
        events_init();  // the overlay conditions cleared
        log.clear();
    }
    void TearDown() override { process_state_reset_for_tests(); }

    void dc_off(int level) { hw.pins.line("dc_off").value = level; }
    // The main loop runs the check holding no lock.
    int check() { return has_enough_power(); }
    std::vector<int> jobs() const
    {
        std::vector<int> v;
        for (size_t i = 0; i < job_list.size(); i++)
            v.push_back(job_list.at(i));
        return v;
    }

    test::FakeHardware hw;
    test::LogCapture log;
};

TEST_F(PoeClient, DcSupplyNeedsNoGrant)
{
    dc_off(0);
    overlay_set_condition(OVERLAY_NOT_ENOUGH_POWER, 1);
    EXPECT_EQ(check(), 1);
    EXPECT_EQ(overlay_condition(OVERLAY_NOT_ENOUGH_POWER), 0);
}

TEST_F(PoeClient, PoeWaitsForTheFirstGrantLeavingTheOverlayAsItIs)
{
    dc_off(1);
    EXPECT_EQ(check(), 0);
    EXPECT_EQ(overlay_condition(OVERLAY_NOT_ENOUGH_POWER), 0);
    overlay_set_condition(OVERLAY_NOT_ENOUGH_POWER, 1);
    log.clear();
    EXPECT_EQ(check(), 0);
    EXPECT_EQ(overlay_condition(OVERLAY_NOT_ENOUGH_POWER), 1);
    EXPECT_TRUE(log.lines().empty()) << log.text();
}

TEST_F(PoeClient, UnreadableDcOffCountsAsPoe)
{
    dc_off(0);
    hw.pins.line("dc_off").fail_get = EIO;
    EXPECT_EQ(check(), 0);
    EXPECT_EQ(log.count("ERROR:optad:power_control - failed to read dc_off pin\n"), 1) << log.text();
    set_power_handler(16.0);
    EXPECT_EQ(check(), 1);
}

TEST_F(PoeClient, SixteenWattsIsEnough)
{
    dc_off(1);
    set_power_handler(16.0);
    EXPECT_EQ(jobs(), std::vector<int>{JT_CHECK_POWER});
    overlay_set_condition(OVERLAY_NOT_ENOUGH_POWER, 1);
    EXPECT_EQ(check(), 1);
    EXPECT_EQ(overlay_condition(OVERLAY_NOT_ENOUGH_POWER), 0);
}

TEST_F(PoeClient, SmallerGrantRaisesTheOverlayUntilALargerOneComes)
{
    dc_off(1);
    set_power_handler(15.99);
    EXPECT_EQ(check(), 0);
    EXPECT_EQ(check(), 0);
    EXPECT_EQ(overlay_condition(OVERLAY_NOT_ENOUGH_POWER), 1);
    // The wrong class once per run, the overlay message when it is raised.
    EXPECT_EQ(log.count("optad:power_up - wrong POE class, power=15.99w, needed 16.00w \n"), 1) << log.text();
    EXPECT_EQ(log.count("Not enough POE power\n"), 1) << log.text();
    EXPECT_EQ(log.lines().size(), 2u) << log.text();
    EXPECT_EQ(log.lines()[0].priority, LOG_INFO);

    set_power_handler(25.5);
    EXPECT_EQ(jobs(), (std::vector<int>{JT_CHECK_POWER, JT_CHECK_POWER}));
    EXPECT_EQ(check(), 1);
    EXPECT_EQ(overlay_condition(OVERLAY_NOT_ENOUGH_POWER), 0);

    log.clear();
    set_power_handler(10.0);
    EXPECT_EQ(check(), 0);
    EXPECT_EQ(overlay_condition(OVERLAY_NOT_ENOUGH_POWER), 1);
    EXPECT_EQ(log.count_containing("wrong POE class"), 0) << log.text();
}

// The check every 90 s (a GLib timer, whose time GLib does not let a test
// replace, so its callback is called here as the timer calls it): it
// complains at every period until the service answers, then ends quietly,
// whatever the answer was.
TEST_F(PoeClient, TheTimeOutComplainsEveryPeriodUntilTheServiceAnswers)
{
    const char complaint[] = "ERROR:optad:poe_timeout - wattd has not responed for 90 seconds\n";
    for (int period = 1; period <= 3; ++period) {
        EXPECT_EQ(poe_timeout(nullptr), G_SOURCE_CONTINUE);
        EXPECT_EQ(log.count(complaint), period) << log.text();
    }
    EXPECT_EQ(log.lines()[0].priority, LOG_ERR);
    set_power_handler(10.0);
    log.clear();
    EXPECT_EQ(poe_timeout(nullptr), G_SOURCE_REMOVE);
    EXPECT_TRUE(log.lines().empty()) << log.text();
}

TEST_F(PoeClient, GrantWakesTheMainLoop)
{
    // The main loop waiting for work, with a deadline far beyond the test.
    std::atomic<bool> waiting{false};
    bool woken = false;
    std::vector<int> seen;
    std::thread main_loop([&] {
        job_list_lock();
        waiting.store(true);
        const int64_t deadline = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
        // (A spurious wake-up waits again.)
        while (job_list.empty() && (woken = job_list_wait_until(deadline))) {
        }
        seen = jobs();
        job_list_unlock();
    });
    while (!waiting.load())
        std::this_thread::yield();
    // Once the mutex is free again the waiter is inside its wait.
    job_list_lock();
    job_list_unlock();
    set_power_handler(16.0);
    main_loop.join();
    EXPECT_TRUE(woken);
    EXPECT_EQ(seen, std::vector<int>{JT_CHECK_POWER});
}

}  // namespace
}  // namespace optad
