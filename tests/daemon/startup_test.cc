// Start-up and teardown against fake operations: the fixed order of the
// steps, the threads with their names, the first job, and the ways a start
// fails.
#include "daemon/jobs.h"
#include "daemon/startup.h"
#include "imc/status_block.h"
#include "platform/log.h"
#include "tests/daemon/daemon_fixture.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <thread>

namespace optad::test {
namespace {

using Calls = std::vector<std::string>;

const std::set<std::string> OTHER_THREAD_CALLS = {
    "imc_control_start", "image_control_dbus_watch", "rotation_service_dbus_watch",
    "event_handler_dbus_watch_captiond", "gpio_power_good", "gpio_init_done", "gpio_i2n_int",
};

class Startup : public ::testing::Test {
protected:
    void SetUp() override
    {
        process_state_reset_for_tests();
        install_fake_ops();
        std::memset(scam_sts, 0x5A, sizeof scam_sts);
        clock_set_source(&clock);
    }

    void TearDown() override
    {
        // The GPIO listener fakes return at once; the D-Bus listener thread
        // runs its GLib main loop for ever and is left to the process.
        for (GThread **t : {&daemon_threads.power_good, &daemon_threads.init_done, &daemon_threads.i2n_int}) {
            if (*t != nullptr)
                g_thread_join(*t);
        }
        clock_set_source(nullptr);
        process_state_reset_for_tests();
        daemon_ops = default_daemon_ops();
    }

    // The calls made on the main thread, in order.
    static Calls main_thread_calls()
    {
        std::lock_guard<std::mutex> lock(fakes_mutex());
        Calls v;
        for (const std::string &c : fakes().calls) {
            if (!OTHER_THREAD_CALLS.count(c))
                v.push_back(c);
        }
        return v;
    }

    static Calls dbus_thread_calls()
    {
        std::lock_guard<std::mutex> lock(fakes_mutex());
        Calls v;
        for (const std::string &c : fakes().calls) {
            if (c.find("dbus") != std::string::npos || c == "imc_control_start")
                v.push_back(c);
        }
        return v;
    }

    // Waits (real time) until the D-Bus listener thread has set up its
    // service and watches and entered its main loop.
    static void wait_for_dbus_thread()
    {
        for (int i = 0; i < 5000 && fakes().count("event_handler_dbus_watch_captiond") == 0; i++)
            g_usleep(1000);
        ASSERT_EQ(fakes().count("event_handler_dbus_watch_captiond"), 1);
    }

    static bool started_seen_from_elsewhere()
    {
        bool started = false;
        std::thread t([&] { started = imc_is_started(); });
        t.join();
        return started;
    }

    SandboxRoot root;
    LogCapture log;
    VirtualClock clock{123'456'789};
};

TEST_F(Startup, FullStartEndsWithThePowerCheckQueued)
{
    ASSERT_EQ(daemon_start(), 0);
    wait_for_dbus_thread();

    EXPECT_EQ(main_thread_calls(),
              (Calls{"param_init", "events_init", "spi_open_and_init", "image_control_wait_start",
                     "legacy_generate(0,0,0,0,0,0)", "open_datacache", "write_sensor_datacache",
                     "write_limits_datacache", "datacache_api_optics_type", "poe_client_start"}));
    // The lens name is published as unknown until the module reports one.
    EXPECT_EQ(root.read("/var/run/valuepool/LENS"), "INFO=Unknown\n");
    EXPECT_EQ(dbus_thread_calls(), (Calls{"imc_control_start", "image_control_dbus_watch",
                                          "rotation_service_dbus_watch", "event_handler_dbus_watch_captiond"}));

    // Thread names as the kernel keeps them (cut to 15 characters).
    EXPECT_EQ(fakes().dbus_thread_name, std::string("D-Bus Listener Thread").substr(0, 15));
    g_thread_join(daemon_threads.power_good);
    g_thread_join(daemon_threads.init_done);
    g_thread_join(daemon_threads.i2n_int);
    daemon_threads.power_good = daemon_threads.init_done = daemon_threads.i2n_int = nullptr;
    std::multiset<std::string> names(fakes().thread_names.begin(), fakes().thread_names.end());
    EXPECT_EQ(names, (std::multiset<std::string>{std::string("GPIO POWER_GOOD Listener Thread").substr(0, 15),
                                                 std::string("GPIO INIT_DONE Listener Thread").substr(0, 15),
                                                 std::string("GPIO I2N_INT Listener Thread").substr(0, 15)}));

    // The status copy is cleared before the data cache is filled from it.
    EXPECT_TRUE(std::all_of(scam_sts, scam_sts + sizeof scam_sts, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(fakes().datacache_args, (std::vector<std::vector<int>>{{0, 0, 0}, {-1, -1, -1}}));
    EXPECT_EQ(imc_buffers.send_buf, fakes().send_buf);
    EXPECT_EQ(imc_buffers.recv_buf, fakes().recv_buf);
    EXPECT_EQ(optad_start_time_s, 123);

    // The first job is the power check, and nobody sees the IMC started.
    job_list_lock();
    EXPECT_EQ(job_list.size(), 1u);
    EXPECT_EQ(job_list.front(), JT_CHECK_POWER);
    job_list_unlock();
    EXPECT_FALSE(started_seen_from_elsewhere());

    auto lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "DEBUG:optad:main - Start");
    EXPECT_EQ(log.count("DEBUG:optad:main:init\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main - Created datacache (sensor_data)\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:dbus_listener_run - Started\n"), 1);
}

TEST_F(Startup, SpiFailureTearsDownWithoutStartingThreads)
{
    fakes().spi_open_result = -1;
    EXPECT_EQ(optad_main(), 0);
    EXPECT_EQ(fakes().calls, (Calls{"param_init", "events_init", "spi_open_and_init", "set_stream_morvel6", "spi_close",
                                    "events_free", "param_free_values"}));
    EXPECT_EQ(fakes().stream_args, std::vector<int>{0});
    EXPECT_EQ(daemon_threads.dbus_listener, nullptr);
    EXPECT_EQ(job_list_mutex, nullptr);
    EXPECT_EQ(imc_ready_mutex, nullptr);
    EXPECT_EQ(data_available_cond, nullptr);

    EXPECT_EQ(log.count("ERROR:optad:main - Failed to open and init SPI!"), 1);
    auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().text, "optad:main - Optad is now exiting!\n");
    EXPECT_EQ(lines.back().priority, LOG_INFO);
    EXPECT_FALSE(log.contains("dbus_listener_run"));
}

TEST_F(Startup, ALateImagePipelineServiceIsWaitedForBeforeAnythingElse)
{
    fakes().image_control_wait_start_timeouts = 2;
    ASSERT_EQ(daemon_start(), 0);
    wait_for_dbus_thread();
    EXPECT_EQ(main_thread_calls(),
              (Calls{"param_init", "events_init", "spi_open_and_init", "image_control_wait_start",
                     "image_control_wait_start", "image_control_wait_start", "legacy_generate(0,0,0,0,0,0)",
                     "open_datacache", "write_sensor_datacache", "write_limits_datacache",
                     "datacache_api_optics_type", "poe_client_start"}));
    EXPECT_NE(daemon_threads.power_good, nullptr);
    job_list_lock();
    EXPECT_EQ(job_list.size(), 1u);
    job_list_unlock();
}

TEST_F(Startup, FailedPowerBudgetRegistrationQueuesNoJob)
{
    fakes().poe_client_start_result = 0;
    EXPECT_EQ(daemon_start(), -1);
    wait_for_dbus_thread();
    EXPECT_NE(daemon_threads.power_good, nullptr);
    EXPECT_NE(daemon_threads.i2n_int, nullptr);
    EXPECT_EQ(fakes().count("poe_client_start"), 1);
    EXPECT_TRUE(job_list.empty());
}

}  // namespace
}  // namespace optad::test
