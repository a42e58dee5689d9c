// The image pipeline client's handling of the values the pipeline service
// reports (capture mode and mains frequency), and start-up's wait for its
// first capture mode.
#include "config/param_settings.h"
#include "dbus/image_control_dbus.h"
#include "dbus/legacy_generator.h"
#include "platform/clock.h"
#include "tests/dbus/service_fixture.h"

#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace optad {
namespace {

using test::bytes;
using test::Change;
using test::num;
using test::text;
using Jobs = std::vector<int>;
using Changes = std::vector<Change>;

// The MaxExposureTime choices of the max-shutter maps, as the mapping file
// carries them.
constexpr const char MAP0_CHOICES[] =
    "value=\"enum:8333|1/120 sec,10000|1/100 sec,16666|1/60 sec,20000|1/50 sec,33333|1/30 sec,"
    "40000|1/25 sec,66666|1/15 sec,80000|1/12.5 sec,125000|1/8 sec,166666|1/6 sec,250000|1/4 sec,"
    "312500|1/3.2 sec,500000|1/2 sec,1000000|1 sec\"";
constexpr const char MAP2_CHOICES[] =
    "value=\"enum:8333|1/120 sec,16666|1/60 sec,33333|1/30 sec,66666|1/15 sec,125000|1/8 sec,"
    "250000|1/4 sec,500000|1/2 sec,1000000|1 sec\"";
constexpr const char MAP4_CHOICES[] = "value=\"enum:16666|1/60 sec\"";

class ImageControl : public test::ServiceTest {
protected:
    void value(const char *name, GVariant *v, int ready)
    {
        g_autoptr(GVariant) owned = g_variant_ref_sink(v);
        handle_image_control_value(name, owned, ready);
    }

    std::string maxshutter_file(bool *exists = nullptr) const { return root.read(LEGACY_MAXSHUTTER_PATH, exists); }
};

TEST_F(ImageControl, FirstCaptureModeTellsStartUpAndQueuesNothing)
{
    VirtualClock clock;
    clock_set_source(&clock);
    // Even while the IMC runs the first value is not sent: the start-up
    // sync sends the capture mode anyway.
    value("CaptureMode", num(2), 1);
    EXPECT_EQ(param(PARAM_CAPTURE_MODE), "2");
    EXPECT_EQ(conf("ImageSource.I0.Sensor", "CaptureMode"), "2");
    EXPECT_TRUE(jobs().empty());
    const int64_t before = clock.now_us();
    EXPECT_EQ(image_control_wait_start(), 1);
    EXPECT_EQ(clock.now_us(), before) << "returned at once";

    value("CaptureMode", num(3), 1);
    EXPECT_EQ(jobs(), Jobs{30});
    value("CaptureMode", num(3), 1);
    EXPECT_EQ(jobs(), Jobs{30});
    // The IMC not ready: stored, not queued.
    value("CaptureMode", num(4), 0);
    EXPECT_EQ(param(PARAM_CAPTURE_MODE), "4");
    EXPECT_EQ(conf("ImageSource.I0.Sensor", "CaptureMode"), "4");
    EXPECT_EQ(jobs(), Jobs{30});
}

TEST_F(ImageControl, NoPipelineServiceWithinThirtySecondsIsReportedOnceAndWaitedFor)
{
    VirtualClock clock;
    clock_set_source(&clock);
    const char *timeout_line =
        "ERROR:optad:image_control_dbus:image_control_wait_start - Timeout while waiting for framerd to start\n";
    const int64_t before = clock.now_us();
    EXPECT_EQ(image_control_wait_start(), 0);
    EXPECT_EQ(clock.now_us() - before, 30'000'000);
    EXPECT_EQ(log.count(timeout_line), 1) << log.text();

    // Start-up waits on; the service is reported late once only.
    EXPECT_EQ(image_control_wait_start(), 0);
    EXPECT_EQ(clock.now_us() - before, 60'000'000);
    EXPECT_EQ(log.count(timeout_line), 1) << log.text();
    value("CaptureMode", num(2), 0);
    EXPECT_EQ(image_control_wait_start(), 1);
    EXPECT_EQ(clock.now_us() - before, 60'000'000);
    EXPECT_TRUE(jobs().empty());
    EXPECT_EQ(log.count(timeout_line), 1) << log.text();
}

// Real time, but the wait is seen: the test knows when start-up is inside
// its wait and whether the wait ended by a wake-up or at its deadline.
class WatchedClock : public ClockSource {
public:
    using ClockSource::cond_wait_until;
    int64_t now_us() override { return g_get_monotonic_time(); }
    void sleep_us(int64_t us) override { g_usleep(static_cast<gulong>(us)); }
    bool cond_wait_until(std::condition_variable &cond, std::unique_lock<std::mutex> &lock,
                         int64_t deadline_us) override
    {
        waiting.store(true);
        const bool woken = cond.wait_for(lock, std::chrono::microseconds(deadline_us - now_us())) ==
                           std::cv_status::no_timeout;
        if (woken)
            wake_ups.fetch_add(1);
        return woken;
    }
    std::atomic<bool> waiting{false};
    std::atomic<int> wake_ups{0};
};

TEST_F(ImageControl, WaitingStartUpIsWokenByTheFirstCaptureMode)
{
    WatchedClock clock;
    clock_set_source(&clock);
    int result = -1;
    std::thread waiter([&] { result = image_control_wait_start(); });
    while (!clock.waiting.load())
        std::this_thread::yield();
    // The value takes the start mutex, which the waiter gives up only inside
    // its wait.
    value("CaptureMode", num(2), 0);
    waiter.join();
    clock_set_source(nullptr);
    EXPECT_EQ(result, 1);
    EXPECT_GE(clock.wake_ups.load(), 1) << "start-up waited for its deadline";
}

TEST_F(ImageControl, NewFrequencyInAFlickerModeResendsTheExposureMode)
{
    param_set_string_value(PARAM_EXPOSURE, "flickerfree");
    clear_changes();
    value("CaptureFrequency", text("60Hz"), 1);
    EXPECT_EQ(jobs(), Jobs{12});
    EXPECT_NE(maxshutter_file().find(MAP4_CHOICES), std::string::npos) << maxshutter_file();
    EXPECT_EQ(changes(), (Changes{{"CaptureFrequency", "b'60Hz'"}, {"MaxExposureTime", "16666"}}));
    EXPECT_EQ(conf("ImageSource.I0", "CaptureFrequency"), "60Hz");

    // flickerreduced with the IMC not ready: no job, the rest as ever.
    param_set_string_value(PARAM_EXPOSURE, "flickerreduced");
    value("CaptureFrequency", bytes("50Hz"), 1);
    clear_jobs();
    clear_changes();
    value("CaptureFrequency", bytes("60Hz"), 0);
    EXPECT_TRUE(jobs().empty());
    EXPECT_NE(maxshutter_file().find(MAP2_CHOICES), std::string::npos) << maxshutter_file();
    EXPECT_EQ(param(PARAM_MAX_EXPOSURE_TIME), "33333");
}

TEST_F(ImageControl, NewFrequencyInAutoRestoresTheRememberedMaximum)
{
    value("CaptureFrequency", bytes("60Hz"), 1);
    EXPECT_TRUE(jobs().empty());
    EXPECT_NE(maxshutter_file().find(MAP0_CHOICES), std::string::npos) << maxshutter_file();
    EXPECT_EQ(changes(), (Changes{{"CaptureFrequency", "b'60Hz'"}, {"MaxExposureTime", "33333"}}));

    // The same frequency again changes nothing, the file included.
    g_unlink(root.path(LEGACY_MAXSHUTTER_PATH).c_str());
    clear_changes();
    value("CaptureFrequency", bytes("60Hz"), 1);
    bool exists = true;
    maxshutter_file(&exists);
    EXPECT_FALSE(exists);
    EXPECT_TRUE(changes().empty());
}

TEST_F(ImageControl, ValuesItCannotUseAreIgnored)
{
    value("CaptureFrequency", num(60), 1);
    EXPECT_EQ(log.count("ERROR:optad:image_control_dbus:handle_capture_frequency - Capture Frequency is NULL!\n"), 1)
        << log.text();
    value("CaptureMode", g_variant_new_uint32(3), 1);
    EXPECT_EQ(log.count("ERROR:optad:image_control_dbus:handle_image_control_value - Received unknown "
                        "type_string=u\n"),
              1)
        << log.text();
    // Only the two properties are followed.
    value("Brightness", num(10), 1);
    value("ImageRotation", num(1), 1);
    EXPECT_EQ(param(PARAM_CAPTURE_FREQUENCY), "b'50Hz'");
    EXPECT_EQ(param(PARAM_CAPTURE_MODE), "1");
    EXPECT_EQ(param(PARAM_BRIGHTNESS), "50");
    EXPECT_EQ(param(PARAM_IMAGE_ROTATION), "0");
    EXPECT_TRUE(changes().empty());
    EXPECT_TRUE(jobs().empty());
    // A value of a type the client cannot read is not the pipeline's
    // first capture mode.
    VirtualClock clock;
    clock_set_source(&clock);
    EXPECT_EQ(image_control_wait_start(), 0);
}

}  // namespace
}  // namespace optad
