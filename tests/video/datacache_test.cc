// The data cache: index tables at their edges, field-of-view values, the
// entries and records as the driver receives them, failures and the test read.
#include "params/sdl.h"
#include "platform/kernel_abi.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"
#include "video/datacache.h"

#include <gtest/gtest.h>

#include <syslog.h>

#include <cstring>
#include <string>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;

// ---------------- tables ----------------

TEST(DatacacheTables, EdgesAndDefaults)
{
    EXPECT_EQ(datacache_shutter_us(0), 1000000u);
    EXPECT_EQ(datacache_shutter_us(11), 125000u);
    EXPECT_EQ(datacache_shutter_us(23), 16667u);
    EXPECT_EQ(datacache_shutter_us(51), 125u);
    EXPECT_EQ(datacache_shutter_us(52), 125u);
    EXPECT_EQ(datacache_shutter_us(255), 125u);

    EXPECT_EQ(datacache_iris_f_number_x10(0), 10u);
    EXPECT_EQ(datacache_iris_f_number_x10(7), 18u);
    EXPECT_EQ(datacache_iris_f_number_x10(27), 103u);
    EXPECT_EQ(datacache_iris_f_number_x10(28), 113u);
    EXPECT_EQ(datacache_iris_f_number_x10(29), 113u);

    EXPECT_EQ(datacache_gain_db(0), 0u);
    EXPECT_EQ(datacache_gain_db(1), 1u);
    EXPECT_EQ(datacache_gain_db(3), 4u);
    EXPECT_EQ(datacache_gain_db(39), 58u);
    EXPECT_EQ(datacache_gain_db(40), 60u);
    EXPECT_EQ(datacache_gain_db(41), 60u);
    EXPECT_EQ(datacache_gain_iso(0), 100u);
    EXPECT_EQ(datacache_gain_iso(15), 1425u);
    EXPECT_EQ(datacache_gain_iso(40), 102400u);
    EXPECT_EQ(datacache_gain_iso(41), 102400u);
}

TEST(DatacacheTables, NegativeIndicesGiveTheDefaults)
{
    EXPECT_EQ(datacache_shutter_us(-1), 125u);
    EXPECT_EQ(datacache_iris_f_number_x10(-1), 113u);
    EXPECT_EQ(datacache_gain_db(-1), 60u);
    EXPECT_EQ(datacache_gain_iso(-100), 102400u);
}

TEST(DatacacheTables, LimitsUseTheSameLookups)
{
    sdl_limits l = {};
    l.diaphragm_min = 0;
    l.diaphragm_max = 29;
    l.shutter_speed_min = 3;
    l.shutter_speed_max = 60;
    l.gain_min = 2;
    l.gain_max = 41;
    sensor_limits_entry e = datacache_limits_entry(l);
    EXPECT_EQ(e.gain_db_min, 3u);
    EXPECT_EQ(e.gain_db_max, 60u);
    EXPECT_EQ(e.iso_min, 140u);
    EXPECT_EQ(e.iso_max, 102400u);
    EXPECT_EQ(e.f_number_x10_min, 10u);
    EXPECT_EQ(e.f_number_x10_max, 113u);
    EXPECT_EQ(e.exposure_us_min, 500000u);
    EXPECT_EQ(e.exposure_us_max, 125u);
}

TEST(DatacacheOptics, FiftyMillimetreLens)
{
    optics_entry e = datacache_optics_entry(50, 10);
    // 2 x atan(22.4 / 100) and 2 x atan(15 / 100) in degrees.
    EXPECT_FLOAT_EQ(e.hfov_deg, 25.251672744750977f);
    EXPECT_FLOAT_EQ(e.vfov_deg, 17.06153106689453f);
    EXPECT_NEAR(e.hfov_deg, 25.25, 0.01);
    EXPECT_NEAR(e.vfov_deg, 17.06, 0.01);
    EXPECT_EQ(e.focal_mm, 50.0f);
    EXPECT_EQ(e.focal_ratio, 5.0f);
    EXPECT_EQ(e.last, -1);
}

TEST(DatacacheOptics, MissingValuesAreMinusOne)
{
    optics_entry e = datacache_optics_entry(-1, -1);
    EXPECT_EQ(e.hfov_deg, -1.0f);
    EXPECT_EQ(e.vfov_deg, -1.0f);
    EXPECT_EQ(e.focal_ratio, -1.0f);
    EXPECT_EQ(e.focal_mm, -1.0f);
    EXPECT_EQ(e.last, -1);

    e = datacache_optics_entry(0, 5);
    EXPECT_EQ(e.hfov_deg, -1.0f);
    EXPECT_EQ(e.focal_mm, -1.0f);
    EXPECT_EQ(e.focal_ratio, 0.0f) << "f / second even when f is 0";

    e = datacache_optics_entry(24, 0);
    EXPECT_EQ(e.focal_mm, 24.0f);
    EXPECT_EQ(e.focal_ratio, -1.0f);
    EXPECT_GT(e.hfov_deg, 0.0f);

    e = datacache_optics_entry(35, 3);
    EXPECT_FLOAT_EQ(e.focal_ratio, 35.0f / 3.0f);
}

// ---------------- the device ----------------

class DatacacheTest : public ::testing::Test {
protected:
    // The bytes of an entry as the cache received it.
    const std::vector<uint8_t> &last(const std::string &name)
    {
        for (const auto &c : hw.dev.caches)
            if (c.name == name && !c.written.empty())
                return c.written.back();
        static const std::vector<uint8_t> none;
        ADD_FAILURE() << "nothing written to " << name;
        return none;
    }
    static std::vector<uint8_t> bytes(std::initializer_list<uint32_t> words)
    {
        std::vector<uint8_t> out;
        for (uint32_t w : words)
            for (int i = 0; i < 4; ++i)
                out.push_back(static_cast<uint8_t>(w >> (8 * i)));
        return out;
    }
    static uint32_t bits(float f)
    {
        uint32_t u;
        std::memcpy(&u, &f, 4);
        return u;
    }

    FakeHardware hw;
    LogCapture log;
};

TEST_F(DatacacheTest, RegistersTheThreeCaches)
{
    open_datacache();
    ASSERT_EQ(hw.dev.caches.size(), 3u);
    EXPECT_EQ(hw.dev.caches[0].name, "sensor_data");
    EXPECT_EQ(hw.dev.caches[0].entry_size, 16u);
    EXPECT_EQ(hw.dev.caches[1].name, "sensor_data_limits");
    EXPECT_EQ(hw.dev.caches[1].entry_size, 32u);
    EXPECT_EQ(hw.dev.caches[2].name, "optics");
    EXPECT_EQ(hw.dev.caches[2].entry_size, 20u);
    for (const auto &c : hw.dev.caches)
        EXPECT_EQ(c.entries, 10u);
    // The registration record: name NUL-padded to 20 bytes, size, count.
    const auto &reg = hw.dev.datacache_log[1];
    EXPECT_EQ(reg.first, 0x801C2B04u);
    std::vector<uint8_t> expected(28, 0);
    std::memcpy(expected.data(), "sensor_data_limits", 18);
    expected[20] = 32;
    expected[24] = 10;
    EXPECT_EQ(reg.second, expected);
    EXPECT_TRUE(log.contains("DEBUG:optad:main:register_datacache: s_fd_dc="));
    EXPECT_TRUE(log.contains(", l_dc_cache=1\n"));
    EXPECT_TRUE(log.contains(", o_dc_cache=2\n"));
}

TEST_F(DatacacheTest, StartUpEntries)
{
    open_datacache();
    sdl_limits zero = {};
    EXPECT_GE(write_sensor_datacache(0, 0, 0), 0);
    EXPECT_GE(write_limits_datacache(zero), 0);
    EXPECT_EQ(datacache_api_optics_type(-1, -1, -1), 0);
    EXPECT_EQ(last("sensor_data"), bytes({0, 100, 10, 1000000}));
    EXPECT_EQ(last("sensor_data_limits"), bytes({0, 0, 100, 100, 10, 10, 1000000, 1000000}));
    EXPECT_EQ(last("optics"), bytes({bits(-1.0f), bits(-1.0f), bits(-1.0f), bits(-1.0f), 0xFFFFFFFFu}));
}

TEST_F(DatacacheTest, SensorEntryTakesShutterGainIrisInThatOrder)
{
    open_datacache();
    EXPECT_GE(write_sensor_datacache(52, 41, 29), 0);
    EXPECT_EQ(last("sensor_data"), bytes({60, 102400, 113, 125}));
    EXPECT_GE(write_sensor_datacache(23, 12, 8), 0);
    EXPECT_EQ(last("sensor_data"), bytes({18, 800, 20, 16667}));
}

TEST_F(DatacacheTest, WriteRecordCarriesTheCacheAndTheEntryAddress)
{
    open_datacache();
    hw.dev.datacache_log.clear();
    datacache_api_optics_type(50, 10, 7);
    ASSERT_EQ(hw.dev.datacache_log.size(), 1u);
    EXPECT_EQ(hw.dev.datacache_log[0].first, 0x40102B02u);
    const std::vector<uint8_t> &rec = hw.dev.datacache_log[0].second;
    ASSERT_EQ(rec.size(), sizeof(datacache_write_rec));
    EXPECT_EQ(rec[0], 2) << "the optics cache";
    // The two trailing words are zero.
    for (size_t i = rec.size() - 8; i < rec.size(); ++i)
        EXPECT_EQ(rec[i], 0);
    EXPECT_EQ(last("optics"), bytes({bits(25.251672744750977f), bits(17.06153106689453f), bits(5.0f), bits(50.0f),
                                     0xFFFFFFFFu}));
}

TEST_F(DatacacheTest, FailedOpenLogsAndEveryWriteFails)
{
    hw.dev.fail_open["/dev/datacache0"] = ENOENT;
    open_datacache();
    EXPECT_EQ(log.count("2 (No such file or directory) ERROR:optad:main:open_datacache - Failed to open "
                        "/dev/datacache0!\n"),
              1);
    EXPECT_EQ(log.count("ERROR:optad:main:register_datacache (sensor) error Bad file descriptor (9)\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main:register_datacache (limits) error Bad file descriptor (9)\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main:register_datacache (optics) error Bad file descriptor (9)\n"), 1);
    sdl_limits zero = {};
    EXPECT_LT(write_sensor_datacache(0, 0, 0), 0);
    EXPECT_LT(write_limits_datacache(zero), 0);
    EXPECT_EQ(datacache_api_optics_type(50, 1, 1), 0) << "a failed optics write reports 0";
    EXPECT_EQ(log.count("ERROR:optad:main:write_sensor_datacache error Bad file descriptor (9)\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main:write_limits_datacache error Bad file descriptor (9)\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main:datacache_api_optics_type error Bad file descriptor (9)\n"), 1);
}

TEST_F(DatacacheTest, FailedRegistrationMakesLaterWritesFail)
{
    hw.dev.fail_datacache_register = EPERM;
    open_datacache();
    EXPECT_EQ(log.count("ERROR:optad:main:register_datacache (sensor) error Operation not permitted (1)\n"), 1);
    EXPECT_LT(write_sensor_datacache(0, 0, 0), 0);
    EXPECT_EQ(log.count("ERROR:optad:main:write_sensor_datacache error Invalid argument (22)\n"), 1);
}

TEST_F(DatacacheTest, TestReadBeforeAnyWriteIsNotAnError)
{
    open_datacache();
    LogCapture quiet(false);
    test_read_chunk_datacache();
    std::vector<std::string> lines;
    for (const auto &l : quiet.lines()) {
        EXPECT_EQ(l.priority, LOG_DEBUG);
        lines.push_back(l.text);
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("DEBUG:optad:main:test_read_chunk_datacache - sl_fd_dc=", 0), 0u);
    EXPECT_TRUE(lines[0].find(", dc_cache=0\n") != std::string::npos);
    EXPECT_EQ(lines[1], "DEBUG:optad:main:test_read_chunk_datacache - OK, if reading before anything has been "
                        "written to cache. Resource temporarily unavailable (11)\n");
}

TEST_F(DatacacheTest, TestReadPrintsGainAndExposureOldestFirst)
{
    open_datacache();
    write_sensor_datacache(0, 0, 0);
    write_sensor_datacache(51, 40, 28);
    write_sensor_datacache(11, 3, 5);
    hw.dev.datacache_log.clear();
    LogCapture quiet(false);
    test_read_chunk_datacache();
    EXPECT_EQ(quiet.count("DEBUG:optad:main:test_read_chunk_datacache - from oldest to newest, 0:1000000, 60:125, "
                          "4:125000, 0:0, 0:0, 0:0, 0:0, 0:0, 0:0, 0:0\n"),
              1);
    // Lookup record (size and count 0), then the read record.
    ASSERT_EQ(hw.dev.datacache_log.size(), 2u);
    EXPECT_EQ(hw.dev.datacache_log[0].first, 0x801C2B00u);
    std::vector<uint8_t> lookup(28, 0);
    std::memcpy(lookup.data(), "sensor_data", 11);
    EXPECT_EQ(hw.dev.datacache_log[0].second, lookup);
    EXPECT_EQ(hw.dev.datacache_log[1].first, 0x80182B06u);
    datacache_read_rec rd;
    ASSERT_EQ(hw.dev.datacache_log[1].second.size(), sizeof rd);
    std::memcpy(&rd, hw.dev.datacache_log[1].second.data(), sizeof rd);
    EXPECT_EQ(rd.cache_id, 0u);
    EXPECT_EQ(rd.one, 1u);
    EXPECT_NE(rd.entries, 0u);
    EXPECT_NE(rd.stamps, 0u);
    EXPECT_EQ(rd.count, 10u);
    EXPECT_EQ(rd.zero, 0u);
}

TEST_F(DatacacheTest, TestReadWithAFailedLookupStillReads)
{
    hw.dev.fail_open["/dev/datacache0"] = ENOENT;
    open_datacache();
    log.clear();
    test_read_chunk_datacache();
    EXPECT_EQ(log.count("ERROR:optad:main:test_read_chunk_datacache - error Bad file descriptor (9)\n"), 2)
        << "the lookup and the read both fail";
}

}  // namespace
}  // namespace optad
