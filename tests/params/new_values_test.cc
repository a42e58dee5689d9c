// The running state's follow-up of the module's own changes, in order, and
// the two stores it writes: the stabilizer's total-time file and the lens
// name in the status cache.
#include "config/param_settings.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "imc/decoders.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/day_night.h"
#include "params/lens_cache.h"
#include "params/sdl.h"
#include "params/stabilizer_time.h"
#include "params/status_check.h"
#include "params/status_monitor.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "tests/imc/fake_hw.h"
#include "tests/params/control_state.h"
#include "tests/support/test_support.h"
#include "video/datacache.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// Counts the program's heap allocations, for the idle-poll test. The
// replacement pair is malloc-based on both sides; GCC cannot see that
// through inlined library code and would warn about every delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long> allocations{0};
}
void *operator new(size_t size)
{
    ++allocations;
    void *p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        std::abort();
    return p;
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;
using test::SandboxRoot;

constexpr const char *TOTAL_TIME_FILE = "/lib/persistent/var/lib/optics/image_stabilization_total_time";
constexpr const char *TEMPERATURE_FILE = "/var/run/optad/imc_temperature";
constexpr const char *LENS_GROUP_FILE = "/var/run/valuepool/LENS";

const std::string NO_PROTECTOR_UPDATE =
    "DEBUG:optad:main_loop:check_new_values - No need to update Sunlight Protector!\n";
const std::string OPEN_PROTECTOR =
    "DEBUG:optad:main_loop:check_new_values - Detected Lens Attached => Open Sunlight Protector!\n";
const std::string CLOSE_PROTECTOR =
    "DEBUG:optad:main_loop:check_new_values - Detected Lens Detached => Close Sunlight Protector!\n";
const std::string RACE = "DEBUG:optad:main_loop:check_new_values - Averted race condition!\n";

// What another process reads from a file.
std::string read_from_other_process(const std::string &path)
{
    gchar *out = nullptr;
    gint status = -1;
    gchar *argv[] = {const_cast<gchar *>("cat"), const_cast<gchar *>(path.c_str()), nullptr};
    EXPECT_TRUE(g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, nullptr, &status,
                             nullptr));
    std::string text = out != nullptr ? out : "";
    g_free(out);
    return text;
}

class NewValuesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        test::reset_parameter_control(root);
        set_lens_focus_switch(0);
        daemon_state.state = OPTAD_STARTUP_DONE;
        open_datacache();
        ASSERT_EQ(hw.dev.caches.size(), 3u);
        log.clear();
    }
    void TearDown() override
    {
        test::clear_parameter_control();
        clock_set_source(nullptr);
    }

    static uint8_t *recv() { return spi_recv_buffer(); }

    std::vector<int> jobs() const
    {
        std::vector<int> out;
        for (size_t i = 0; i < job_list.size(); ++i)
            out.push_back(job_list.at(i));
        return out;
    }
    const std::vector<std::vector<uint8_t>> &cache_writes(size_t cache) const { return hw.dev.caches[cache].written; }

    template <typename T>
    static std::vector<uint8_t> bytes_of(const T &entry)
    {
        const uint8_t *p = reinterpret_cast<const uint8_t *>(&entry);
        return std::vector<uint8_t>(p, p + sizeof entry);
    }

    SandboxRoot root;
    VirtualClock clock;
    FakeHardware hw;
    LogCapture log;
};

// ---- image stabilizer time ----

TEST_F(NewValuesTest, RunningStabilizerIsSavedOnceAnHour)
{
    daemon_state.stabilizer_active = 1;
    daemon_state.stabilizer_start_s = clock.now_us() / 1'000'000;
    clock.advance(3600'000'000LL);  // exactly an hour: not yet
    check_new_values();
    bool exists = true;
    root.read(TOTAL_TIME_FILE, &exists);
    EXPECT_FALSE(exists);

    clock.advance(1'000'000);
    check_new_values();
    EXPECT_EQ(root.read(TOTAL_TIME_FILE), "3601");
    EXPECT_EQ(daemon_state.stabilizer_start_s, clock.now_us() / 1'000'000);

    // The next hour adds to the total.
    clock.advance(3601'000'000LL);
    check_new_values();
    EXPECT_EQ(root.read(TOTAL_TIME_FILE), "7202");
}

TEST_F(NewValuesTest, StabilizerOffSavesNothing)
{
    daemon_state.stabilizer_active = 0;
    daemon_state.stabilizer_start_s = 0;
    clock.advance(10 * 3600'000'000LL);
    check_new_values();
    bool exists = true;
    root.read(TOTAL_TIME_FILE, &exists);
    EXPECT_FALSE(exists);
    EXPECT_EQ(daemon_state.stabilizer_start_s, 0);
}

TEST_F(NewValuesTest, FailedHourlySaveLosesTheSecondsAndStartsAnew)
{
    // The total-time file's place is taken by a directory: it can be
    // neither read nor replaced.
    g_mkdir_with_parents(root.path(TOTAL_TIME_FILE).c_str(), 0755);
    daemon_state.stabilizer_active = 1;
    daemon_state.stabilizer_start_s = clock.now_us() / 1'000'000;
    clock.advance(3700'000'000LL);
    check_new_values();
    EXPECT_EQ(log.count("ERROR:optad:check_new_values - Failed to save image stabilization time, lost 3700 seconds "
                        "!!!\n"),
              1);
    EXPECT_EQ(log.count(std::string("ERROR:optad:save_is_time, could not create ") + TOTAL_TIME_FILE + "\n"), 1);
    EXPECT_EQ(daemon_state.stabilizer_start_s, clock.now_us() / 1'000'000);
}

// ---- lens and protector ----

TEST_F(NewValuesTest, LensAttachedWithProtectorClosedOpensIt)
{
    const lens_name_row &lens = lens_name_table[0];
    recv()[STS_LENS_ATTACHED] = 1;
    recv()[STS_LENS_STATUS] = 0x01;
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_CLOSED;
    std::memcpy(recv() + STS_LENS_NAME, lens.reported, std::strlen(lens.reported));
    param_set_string_value(PARAM_SENSOR_PROTECTOR, "close");

    check_new_values();

    EXPECT_STREQ(param_get_string_value(PARAM_SENSOR_PROTECTOR), "open");
    EXPECT_EQ(scam_sts[STS_SUNLIGHT], STS_SUNLIGHT_OPEN);
    EXPECT_EQ(scam_sts[STS_LENS_ATTACHED], 1);
    EXPECT_EQ(scam_sts[STS_LENS_STATUS], 0x01);
    EXPECT_EQ(jobs(), std::vector<int>({JOB_SUNLIGHT}));
    EXPECT_EQ(log.count(OPEN_PROTECTOR), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:check_new_values - Lens Status: scam_sts[0x12-13-15]=0x00-00-00, "
                        "recv_buf[0x12-13-15]=0x01-01-00\n"),
              1);
    EXPECT_EQ(root.read(LENS_GROUP_FILE), std::string("INFO=") + lens.display + "\n");

    // The same reply again: nothing more.
    job_list.clear();
    job_records[JOB_SUNLIGHT].pending = 1;
    check_new_values();
    EXPECT_TRUE(jobs().empty());
}

TEST_F(NewValuesTest, LensDetachedWithProtectorOpenClosesIt)
{
    scam_sts[STS_LENS_ATTACHED] = 1;
    scam_sts[STS_SUNLIGHT] = STS_SUNLIGHT_OPEN;
    recv()[STS_LENS_ATTACHED] = 0;
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_OPEN;
    param_set_string_value(PARAM_SENSOR_PROTECTOR, "open");

    check_new_values();

    EXPECT_STREQ(param_get_string_value(PARAM_SENSOR_PROTECTOR), "close");
    EXPECT_EQ(scam_sts[STS_SUNLIGHT], STS_SUNLIGHT_CLOSED);
    EXPECT_EQ(scam_sts[STS_LENS_ATTACHED], 0);
    EXPECT_EQ(jobs(), std::vector<int>({JOB_SUNLIGHT}));
    EXPECT_EQ(log.count(CLOSE_PROTECTOR), 1);
    EXPECT_EQ(root.read(LENS_GROUP_FILE), "INFO=Detached\n");
}

TEST_F(NewValuesTest, LensDetachedWithProtectorClosedOnlyCopies)
{
    scam_sts[STS_LENS_ATTACHED] = 1;
    scam_sts[STS_LENS_STATUS] = 0x01;
    scam_sts[STS_SUNLIGHT] = STS_SUNLIGHT_OPEN;
    recv()[STS_LENS_ATTACHED] = 0;
    recv()[STS_LENS_STATUS] = 0x00;
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_CLOSED;
    param_set_string_value(PARAM_SENSOR_PROTECTOR, "open");

    check_new_values();

    EXPECT_EQ(log.count(NO_PROTECTOR_UPDATE), 1);
    EXPECT_EQ(log.count(OPEN_PROTECTOR) + log.count(CLOSE_PROTECTOR), 0);
    EXPECT_TRUE(jobs().empty());
    EXPECT_STREQ(param_get_string_value(PARAM_SENSOR_PROTECTOR), "open");
    EXPECT_EQ(scam_sts[STS_LENS_ATTACHED], 0);
    EXPECT_EQ(scam_sts[STS_LENS_STATUS], 0x00);
    EXPECT_EQ(scam_sts[STS_SUNLIGHT], STS_SUNLIGHT_CLOSED);
    EXPECT_EQ(root.read(LENS_GROUP_FILE), "INFO=Detached\n");
}

TEST_F(NewValuesTest, ProtectorThatMovedBehindTheLensIsPutBack)
{
    struct Case {
        uint8_t lens, protector_was, protector_now;
        int sunlight_pending;
        bool race_logged;
        const char *protector_param;  // after the poll
        uint8_t scam_protector;       // after the poll
        bool job_queued;
    } cases[] = {
        // Attached, closed behind our back: open again.
        {1, STS_SUNLIGHT_OPEN, STS_SUNLIGHT_CLOSED, 0, true, "open", STS_SUNLIGHT_OPEN, true},
        // Detached and found open: close.
        {0, STS_SUNLIGHT_CLOSED, STS_SUNLIGHT_OPEN, 0, true, "close", STS_SUNLIGHT_CLOSED, true},
        // Attached and moving: nothing to do but note it.
        {1, STS_SUNLIGHT_OPEN, STS_SUNLIGHT_MOVING, 0, true, "keep", STS_SUNLIGHT_OPEN, false},
        // A protector command is on its way: leave it to its confirmation.
        {1, STS_SUNLIGHT_OPEN, STS_SUNLIGHT_CLOSED, 1, false, "keep", STS_SUNLIGHT_OPEN, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.lens) << " " << int(c.protector_now) << " " << c.sunlight_pending);
        log.clear();
        job_list.clear();
        param_set_string_value(PARAM_SENSOR_PROTECTOR, "keep");
        job_records[JOB_SUNLIGHT].pending = c.sunlight_pending;
        scam_sts[STS_LENS_ATTACHED] = c.lens;
        recv()[STS_LENS_ATTACHED] = c.lens;
        scam_sts[STS_SUNLIGHT] = c.protector_was;
        recv()[STS_SUNLIGHT] = c.protector_now;

        check_new_values();

        EXPECT_EQ(log.count(RACE), c.race_logged ? 1 : 0);
        EXPECT_STREQ(param_get_string_value(PARAM_SENSOR_PROTECTOR), c.protector_param);
        EXPECT_EQ(scam_sts[STS_SUNLIGHT], c.scam_protector);
        EXPECT_EQ(jobs(), c.job_queued ? std::vector<int>({JOB_SUNLIGHT}) : std::vector<int>());
    }
}

// ---- day/night ----

TEST_F(NewValuesTest, DayNightRecommendationReplacesThePreferenceOnce)
{
    set_preferred_day_night("yes");
    recv()[STS_AUTO_DAY_NIGHT] = 1;
    recv()[STS_DAY_NIGHT_RECOMMENDATION] = 0x11;
    check_new_values();
    EXPECT_STREQ(preferred_day_night(), "no");
    EXPECT_EQ(jobs(), std::vector<int>({JOB_DN}));

    check_new_values();
    EXPECT_EQ(jobs(), std::vector<int>({JOB_DN}));

    // The main loop took the job meanwhile; the new recommendation queues
    // it again.
    job_list.clear();
    recv()[STS_DAY_NIGHT_RECOMMENDATION] = 0x10;
    check_new_values();
    EXPECT_STREQ(preferred_day_night(), "yes");
    EXPECT_EQ(jobs(), std::vector<int>({JOB_DN}));
}

TEST_F(NewValuesTest, DayNightPreferenceSeededWithoutACommand)
{
    struct Case {
        const char *before;
        uint8_t auto_on, recommendation;
        const char *after;
        bool job;
    } cases[] = {
        {nullptr, 1, 0x00, "yes", false},
        {nullptr, 1, 0x01, "no", false},
        {nullptr, 1, 0x10, "yes", true},  // a first recommendation is one
        {nullptr, 1, 0x11, "no", true},
        {nullptr, 1, 0x05, nullptr, false},
        {"no", 1, 0x00, "no", false},
        {nullptr, 0, 0x11, nullptr, false},  // manual day/night: not looked at
        {"yes", 0, 0x11, "yes", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.before ? c.before : "none") << " " << int(c.auto_on) << " "
                                        << int(c.recommendation));
        job_list.clear();
        set_preferred_day_night(c.before);
        recv()[STS_AUTO_DAY_NIGHT] = c.auto_on;
        recv()[STS_DAY_NIGHT_RECOMMENDATION] = c.recommendation;
        check_new_values();
        if (c.after == nullptr)
            EXPECT_EQ(preferred_day_night(), nullptr);
        else
            EXPECT_STREQ(preferred_day_night(), c.after);
        EXPECT_EQ(jobs(), c.job ? std::vector<int>({JOB_DN}) : std::vector<int>());
    }
}

// ---- limits, exposure, optics ----

TEST_F(NewValuesTest, LimitsArePublishedOnceWhateverChanged)
{
    recv()[STS_IRIS_MIN] = 0x02;
    recv()[STS_IRIS_MAX] = 0x20;
    recv()[STS_SHUTTER_MIN] = 0x01;
    recv()[STS_SHUTTER_MAX] = 0x30;
    recv()[STS_GAIN_MIN] = 0x00;
    recv()[STS_GAIN_MAX] = 0x28;
    for (size_t i = 0; i < 8; ++i)
        recv()[0x38 + i] = static_cast<uint8_t>(0xA0 + i);

    check_new_values();

    EXPECT_EQ(s_sdl.diaphragm_min, 0x02);
    EXPECT_EQ(s_sdl.diaphragm_max, 0x20);
    EXPECT_EQ(s_sdl.shutter_speed_min, 0x01);
    EXPECT_EQ(s_sdl.shutter_speed_max, 0x30);
    EXPECT_EQ(s_sdl.gain_min, 0x00);
    EXPECT_EQ(s_sdl.gain_max, 0x28);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(scam_sts[0x38 + i], 0xA0 + i);
    ASSERT_EQ(cache_writes(1).size(), 1u);
    EXPECT_EQ(cache_writes(1)[0], bytes_of(datacache_limits_entry(s_sdl)));
    EXPECT_TRUE(log.contains("Updated Diaphragm Min[0x46]=0x02, Max[0x47]=0x20!\n"));
    EXPECT_TRUE(log.contains("Updated Shutter Speed Min[0x48]=0x01, Max[0x49]=0x30!\n"));
    EXPECT_TRUE(log.contains("Updated Gain Min[0x4A]=0x00, Max[0x4B]=0x28!\n"));

    // One pair changing is enough; the others keep their values.
    log.clear();
    recv()[STS_GAIN_MIN] = 0x04;
    check_new_values();
    EXPECT_EQ(s_sdl.gain_min, 0x04);
    EXPECT_EQ(s_sdl.diaphragm_max, 0x20);
    EXPECT_EQ(cache_writes(1).size(), 2u);
    EXPECT_FALSE(log.contains("Updated Diaphragm"));

    // Bytes 0x38..0x3F alone publish nothing.
    recv()[0x3A] = 0x00;
    check_new_values();
    EXPECT_EQ(scam_sts[0x3A], 0x00);
    EXPECT_EQ(cache_writes(1).size(), 2u);
}

TEST_F(NewValuesTest, CurrentExposureGoesToTheSensorCacheInShutterGainIrisOrder)
{
    recv()[STS_SHUTTER_INDEX] = 0x10;
    recv()[STS_GAIN_INDEX] = 0x05;
    recv()[STS_IRIS_INDEX] = 0x03;
    check_new_values();
    ASSERT_EQ(cache_writes(0).size(), 1u);
    EXPECT_EQ(cache_writes(0)[0], bytes_of(datacache_sensor_entry(0x10, 0x05, 0x03)));
    EXPECT_EQ(scam_sts[STS_SHUTTER_INDEX], 0x10);
    EXPECT_EQ(scam_sts[STS_GAIN_INDEX], 0x05);
    EXPECT_EQ(scam_sts[STS_IRIS_INDEX], 0x03);

    for (size_t offset : {STS_SHUTTER_INDEX, STS_GAIN_INDEX, STS_IRIS_INDEX}) {
        recv()[offset] = static_cast<uint8_t>(recv()[offset] + 1);
        check_new_values();
    }
    EXPECT_EQ(cache_writes(0).size(), 4u);
    EXPECT_EQ(cache_writes(0)[3], bytes_of(datacache_sensor_entry(0x11, 0x06, 0x04)));
}

TEST_F(NewValuesTest, OpticsValuesAreLittleEndianWords)
{
    const uint8_t optics[6] = {0x23, 0x01, 0x10, 0x00, 0x99, 0x00};
    std::memcpy(recv() + 0x32, optics, sizeof optics);
    check_new_values();
    ASSERT_EQ(cache_writes(2).size(), 1u);
    EXPECT_EQ(cache_writes(2)[0], bytes_of(datacache_optics_entry(0x0123, 0x0010)));
    EXPECT_EQ(std::memcmp(scam_sts + 0x32, optics, sizeof optics), 0);

    // The third word alone changing is a change too.
    recv()[0x37] = 0x01;
    check_new_values();
    EXPECT_EQ(cache_writes(2).size(), 2u);
}

// ---- temperature and focus switch ----

TEST_F(NewValuesTest, TemperatureFileHoldsTheSignedValue)
{
    struct Case {
        uint8_t raw;
        const char *text;
    } cases[] = {
        {0xFB, "-5"}, {0x2A, "42"}, {0x7F, "127"}, {0x80, "-128"}, {0xFF, "-1"}, {0x00, "0"}, {0x01, "1"},
    };
    root.write(TEMPERATURE_FILE, "longer old content");
    for (const Case &c : cases) {
        recv()[STS_TEMPERATURE] = c.raw;
        check_new_values();
        EXPECT_EQ(root.read(TEMPERATURE_FILE), c.text) << int(c.raw);
        EXPECT_EQ(scam_sts[STS_TEMPERATURE], c.raw);
    }
    // Unchanged: not rewritten.
    root.write(TEMPERATURE_FILE, "x");
    check_new_values();
    EXPECT_EQ(root.read(TEMPERATURE_FILE), "x");
}

TEST_F(NewValuesTest, TemperatureFileThatCannotBeOpenedIsLogged)
{
    g_rmdir(root.path("/var/run/optad").c_str());
    recv()[STS_TEMPERATURE] = 0x2A;
    check_new_values();
    ASSERT_EQ(log.count("OPTAD failed to open /var/run/optad/imc_temperature: 2"), 1);
    EXPECT_EQ(scam_sts[STS_TEMPERATURE], 0x2A);
}

TEST_F(NewValuesTest, LensFocusSwitchFollowsTheModule)
{
    recv()[STS_LENS_FOCUS_SWITCH] = 1;
    check_new_values();
    EXPECT_EQ(get_lens_focus_switch(), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:check_new_values - Lens focus switch updated to 0x01!\n"), 1);
    recv()[STS_LENS_FOCUS_SWITCH] = 0;
    check_new_values();
    EXPECT_EQ(get_lens_focus_switch(), 0);
}

// ---- order and the idle poll ----

TEST_F(NewValuesTest, EverythingInOnePollInItsOrder)
{
    daemon_state.stabilizer_active = 1;
    daemon_state.stabilizer_start_s = 0;
    clock.advance(3700'000'000LL);
    recv()[STS_LENS_ATTACHED] = 1;
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_CLOSED;
    recv()[STS_AUTO_DAY_NIGHT] = 1;
    recv()[STS_DAY_NIGHT_RECOMMENDATION] = 0x11;
    recv()[STS_IRIS_MAX] = 0x20;
    recv()[STS_SHUTTER_INDEX] = 0x10;
    recv()[0x32] = 0x40;
    recv()[STS_TEMPERATURE] = 0x2A;
    recv()[STS_LENS_FOCUS_SWITCH] = 1;

    check_new_values();

    // Protector before day/night in the job list.
    EXPECT_EQ(jobs(), std::vector<int>({JOB_SUNLIGHT, JOB_DN}));
    EXPECT_FALSE(root.read(TOTAL_TIME_FILE).empty());
    EXPECT_EQ(cache_writes(1).size(), 1u);
    EXPECT_EQ(cache_writes(0).size(), 1u);
    EXPECT_EQ(cache_writes(2).size(), 1u);
    EXPECT_EQ(root.read(TEMPERATURE_FILE), "42");
    EXPECT_EQ(get_lens_focus_switch(), 1);

    // The log lines come in the steps' order.
    std::string text = log.text();
    size_t lens = text.find("Detected Lens Attached");
    size_t diaphragm = text.find("Updated Diaphragm");
    size_t focus = text.find("Lens focus switch updated");
    ASSERT_NE(lens, std::string::npos);
    ASSERT_NE(diaphragm, std::string::npos);
    ASSERT_NE(focus, std::string::npos);
    EXPECT_LT(lens, diaphragm);
    EXPECT_LT(diaphragm, focus);
}

TEST_F(NewValuesTest, IdlePollOnlyCompares)
{
    recv()[STS_LENS_ATTACHED] = 1;
    recv()[STS_SUNLIGHT] = STS_SUNLIGHT_OPEN;
    recv()[STS_AUTO_DAY_NIGHT] = 1;
    recv()[STS_DAY_NIGHT_RECOMMENDATION] = 0x10;
    recv()[STS_IRIS_MAX] = 0x20;
    recv()[STS_SHUTTER_INDEX] = 0x10;
    recv()[0x32] = 0x40;
    recv()[STS_TEMPERATURE] = 0x2A;
    recv()[STS_LENS_FOCUS_SWITCH] = 1;
    check_new_values();
    job_list.clear();
    log.clear();
    std::string lens_file = root.read(LENS_GROUP_FILE);
    size_t writes = cache_writes(0).size() + cache_writes(1).size() + cache_writes(2).size();

    long before = allocations.load();
    for (int i = 0; i < 10; ++i)
        check_new_values();
    long after = allocations.load();

    EXPECT_EQ(after - before, 0);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(jobs().empty());
    EXPECT_EQ(cache_writes(0).size() + cache_writes(1).size() + cache_writes(2).size(), writes);
    EXPECT_EQ(root.read(LENS_GROUP_FILE), lens_file);
}

// ---- save_is_time ----

class StabilizerTimeTest : public ::testing::Test {
protected:
    SandboxRoot root;
    LogCapture log;

    std::string warning(int count, int value) const
    {
        return std::string("Could not read ") + TOTAL_TIME_FILE +
               ", setting Image Stabilization Time to 0 (fscan returned " + std::to_string(count) + ":" +
               std::to_string(value) + ")";
    }
};

TEST_F(StabilizerTimeTest, NothingToAddLeavesTheFileAlone)
{
    root.write(TOTAL_TIME_FILE, "100");
    EXPECT_EQ(save_is_time(0), -1);
    EXPECT_EQ(save_is_time(-5), -1);
    EXPECT_EQ(root.read(TOTAL_TIME_FILE), "100");
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(StabilizerTimeTest, AddsToTheStoredTotal)
{
    root.write(TOTAL_TIME_FILE, "100");
    EXPECT_EQ(save_is_time(20), 0);
    EXPECT_EQ(root.read(TOTAL_TIME_FILE), "120");
    EXPECT_EQ(save_is_time(1), 0);
    EXPECT_EQ(root.read(TOTAL_TIME_FILE), "121");
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(StabilizerTimeTest, MissingFileGetsItsDirectory)
{
    EXPECT_EQ(save_is_time(20), 0);
    EXPECT_EQ(root.read(TOTAL_TIME_FILE), "20");
    struct stat st;
    ASSERT_EQ(stat(root.path("/lib/persistent/var/lib/optics").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(StabilizerTimeTest, UnreadableTotalCountsFromZero)
{
    struct Case {
        const char *content;
        int count, value;
    } cases[] = {
        {"abc", 0, 0},
        {"-5", 1, -5},
        {"", -1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.content);
        log.clear();
        root.write(TOTAL_TIME_FILE, c.content);
        EXPECT_EQ(save_is_time(20), 0);
        EXPECT_EQ(root.read(TOTAL_TIME_FILE), "20");
        ASSERT_EQ(log.count(warning(c.count, c.value)), 1) << log.text();
        EXPECT_EQ(log.lines()[0].priority, LOG_WARNING);
    }
}

TEST_F(StabilizerTimeTest, TotalStopsAtTheLargestInt)
{
    root.write(TOTAL_TIME_FILE, "2147483600");
    EXPECT_EQ(save_is_time(100), 0);
    EXPECT_EQ(root.read(TOTAL_TIME_FILE), "2147483647");
}

TEST_F(StabilizerTimeTest, FileThatCannotBeWrittenFails)
{
    // Where the directory should be there is a file.
    root.write("/lib/persistent/var/lib/optics", "x");
    EXPECT_EQ(save_is_time(20), -1);
    EXPECT_EQ(log.count(std::string("ERROR:optad:save_is_time, could not create ") + TOTAL_TIME_FILE + "\n"), 1);
    EXPECT_EQ(root.read("/lib/persistent/var/lib/optics"), "x");
}

// ---- update_lens_cache ----

class LensCacheTest : public ::testing::Test {
protected:
    SandboxRoot root;
    LogCapture log;
};

TEST_F(LensCacheTest, FirstCallCreatesTheGroupAndOthersReadIt)
{
    EXPECT_EQ(update_lens_cache("Some Lens 35mm"), 1);
    EXPECT_EQ(read_from_other_process(root.path(LENS_GROUP_FILE)), "INFO=Some Lens 35mm\n");
    EXPECT_EQ(update_lens_cache("Other"), 1);
    EXPECT_EQ(read_from_other_process(root.path(LENS_GROUP_FILE)), "INFO=Other\n");
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(LensCacheTest, NamesAreCutTo63Characters)
{
    const std::string long_name(70, 'L');
    struct Case {
        std::string name;
        std::string stored;
    } cases[] = {
        {long_name, std::string(63, 'L')},
        {std::string(63, 'M'), std::string(63, 'M')},
        {std::string(64, 'N'), std::string(63, 'N')},
        {"", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(update_lens_cache(c.name.c_str()), 1);
        EXPECT_EQ(root.read(LENS_GROUP_FILE), "INFO=" + c.stored + "\n");
    }
}

TEST_F(LensCacheTest, NoNameIsUnknown)
{
    EXPECT_EQ(update_lens_cache(nullptr), 1);
    EXPECT_EQ(root.read(LENS_GROUP_FILE), "INFO=Unknown\n");
}

TEST_F(LensCacheTest, GroupThatCannotBeCreatedIsReported)
{
    // The cache's directory is taken by a plain file.
    root.write("/var/run/valuepool", "");
    EXPECT_EQ(update_lens_cache("Lens"), 0);
    const std::string why = std::strerror(ENOTDIR);
    ASSERT_EQ(log.lines().size(), 2u) << log.text();
    EXPECT_EQ(log.lines()[0].text, "Can not create vpool group! " + why);
    EXPECT_EQ(log.lines()[1].text, "Could only set -1 of 1 param: " + why);
    EXPECT_EQ(log.lines()[0].priority, LOG_WARNING);
    EXPECT_EQ(log.lines()[1].priority, LOG_WARNING);
}

}  // namespace
}  // namespace optad
