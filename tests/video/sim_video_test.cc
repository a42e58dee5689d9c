// The video input and the data cache against the module simulator, which
// logs every cam0 request with its record and every data-cache access.
#include "tests/support/sim_fixture.h"
#include "tests/support/test_support.h"
#include "video/datacache.h"
#include "video/morvel6.h"

#include <gtest/gtest.h>

namespace optad {
namespace {

class SimVideo : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.running()); }
    test::SandboxRoot root;
    test::Simulator sim{root};
};

TEST_F(SimVideo, Cam0RequestsAndRecords)
{
    ASSERT_TRUE(sim.ok("clear all"));
    ASSERT_EQ(init_morvel6_mode(3840, 2880, 3), 0);
    std::string log = sim.ctl("log cam0");
    std::vector<std::string> lines;
    for (size_t p = 0; p < log.size();) {
        size_t nl = log.find('\n', p);
        lines.push_back(log.substr(p, nl - p));
        p = nl + 1;
    }
    ASSERT_EQ(lines.size(), 9u) << log;
    EXPECT_EQ(lines[0].substr(0, 10), "0x403C3608");
    EXPECT_EQ(lines[1], "0x40042A01 0");
    EXPECT_EQ(lines[2], "0x80602D06 0x0=1 0x4=1 0x10=1 0x2C=3840 0x30=2880 0x38=16 0x50=171 0x54=128 0x58=182 "
                        "0x5C=157");
    EXPECT_EQ(lines[3].substr(0, 10), "0x41B42F0A");
    EXPECT_NE(lines[4].find("0x18=3840 0x1C=2880 0x30=3840 0x34=2880 0x38=1 0x1AC=125000 0x1B0=1"),
              std::string::npos)
        << lines[4];
    EXPECT_EQ(lines[5], "0x42CC2B04 0x10=3840 0x14=2880");
    EXPECT_EQ(lines[6], "0x80042A03 1");
    EXPECT_EQ(lines[7], "0x40042A01 1");
    // The window goes back as the driver reported it.
    EXPECT_EQ(lines[8], "0x403C3607 0x8=5472 0xC=3648 0x10=1");

    ASSERT_TRUE(sim.ok("clear all"));
    set_black_video_morvel6(0);
    set_stream_morvel6(0);
    EXPECT_EQ(sim.ctl("log cam0"), "0x80042A03 0\n0x40042A01 0\n");
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimVideo, DatacacheWriteAndTestRead)
{
    test::LogCapture log(false);
    open_datacache();
    test_read_chunk_datacache();
    EXPECT_TRUE(log.contains("OK, if reading before anything has been written to cache."));
    sdl_limits limits = {0, 28, 0, 51, 0, 40};
    EXPECT_GE(write_sensor_datacache(0, 0, 0), 0);
    EXPECT_GE(write_sensor_datacache(51, 40, 28), 0);
    EXPECT_GE(write_limits_datacache(limits), 0);
    EXPECT_GE(datacache_api_optics_type(50, 10, 0), 0);
    log.clear();
    test_read_chunk_datacache();
    EXPECT_EQ(log.count("DEBUG:optad:main:test_read_chunk_datacache - from oldest to newest, 0:1000000, 60:125, "
                        "0:0, 0:0, 0:0, 0:0, 0:0, 0:0, 0:0, 0:0\n"),
              1)
        << log.text();
    std::string dc = sim.ctl("log datacache");
    EXPECT_NE(dc.find("write sensor_data_limits 00000000 0000003c 00000064 00019000 0000000a 00000071 000f4240 "
                      "0000007d"),
              std::string::npos)
        << dc;
    EXPECT_EQ(sim.violations(), "");
}

}  // namespace
}  // namespace optad
