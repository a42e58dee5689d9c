// The video input: the request sequence of init_morvel6 and its records
// byte for byte, black video and stream switches, and a missing device.
#include "config/param_settings.h"
#include "platform/kernel_abi.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"
#include "video/morvel6.h"

#include <gtest/gtest.h>

#include <string>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;

uint32_t word(const std::vector<uint8_t> &rec, size_t off)
{
    return rec.at(off) | (rec.at(off + 1) << 8) | (rec.at(off + 2) << 16) |
           (static_cast<uint32_t>(rec.at(off + 3)) << 24);
}

// The record with the listed little-endian words and zeros elsewhere.
std::vector<uint8_t> record(size_t size, std::initializer_list<std::pair<size_t, uint32_t>> words)
{
    std::vector<uint8_t> r(size, 0);
    for (const auto &w : words)
        for (int i = 0; i < 4; ++i)
            r.at(w.first + i) = static_cast<uint8_t>(w.second >> (8 * i));
    return r;
}

class Morvel6Test : public ::testing::Test {
protected:
    const test::Cam0Request *find(unsigned long request) const
    {
        for (const auto &r : hw.dev.cam0_log)
            if (r.request == request)
                return &r;
        return nullptr;
    }
    FakeHardware hw;
    LogCapture log;
};

TEST_F(Morvel6Test, InitIssuesTheRequestsInOrder)
{
    for (size_t i = 0; i < 60; ++i)
        hw.dev.cam0_window[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(init_morvel6_mode(3840, 2160, 2), 0);
    std::vector<std::pair<unsigned long, unsigned long>> seq;
    for (const auto &r : hw.dev.cam0_log)
        seq.emplace_back(r.request, r.value);
    const std::vector<std::pair<unsigned long, unsigned long>> expected = {
        {0x403C3608, 0}, {0x40042A01, 0}, {0x80602D06, 0}, {0x41B42F0A, 0}, {0x41B42F09, 0},
        {0x42CC2B04, 0}, {0x80042A03, 1}, {0x40042A01, 1}, {0x403C3607, 0},
    };
    EXPECT_EQ(seq, expected);
    // The window read is written back unchanged.
    EXPECT_EQ(hw.dev.cam0_log.back().record, hw.dev.cam0_window);
    EXPECT_EQ(hw.dev.open_count(), 0);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Morvel6Test, InputAndSizeRecordsByteForByte)
{
    EXPECT_EQ(init_morvel6_mode(5472, 3648, 1), 0);
    const test::Cam0Request *input = find(CAM0_SET_INPUT);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->record, record(96, {{0x00, 1},
                                         {0x04, 1},
                                         {0x10, 1},
                                         {0x2C, 5472},
                                         {0x30, 3648},
                                         {0x38, 16},
                                         {0x50, 171},
                                         {0x54, 128},
                                         {0x58, 182},
                                         {0x5C, 157}}));
    const test::Cam0Request *size = find(CAM0_SET_SIZE);
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->record, record(716, {{0x10, 5472}, {0x14, 3648}}));
}

TEST_F(Morvel6Test, PipelineRecordOverwritesOnlyItsWords)
{
    struct Case {
        int mode, w, h;
        uint32_t a8, ac, b0;
    } cases[] = {
        {1, 5472, 3648, 0, 290000, 1},
        {2, 3840, 2160, 0, 0, 0},
        {3, 3840, 2880, 0, 125000, 1},
    };
    for (const Case &c : cases) {
        hw.dev.cam0_log.clear();
        // What the driver reports: a pattern in every byte.
        for (size_t i = 0; i < 436; ++i)
            hw.dev.cam0_pipeline[i] = static_cast<uint8_t>(0xA0 ^ i);
        EXPECT_EQ(init_morvel6_mode(c.w, c.h, c.mode), 0);
        const test::Cam0Request *set = find(CAM0_SET_PIPELINE);
        ASSERT_NE(set, nullptr);
        std::vector<uint8_t> expected = hw.dev.cam0_pipeline;
        for (const auto &w : std::initializer_list<std::pair<size_t, uint32_t>>{
                 {0x10, 0},
                 {0x14, 0},
                 {0x18, static_cast<uint32_t>(c.w)},
                 {0x1C, static_cast<uint32_t>(c.h)},
                 {0x2C, 0},
                 {0x30, static_cast<uint32_t>(c.w)},
                 {0x34, static_cast<uint32_t>(c.h)},
                 {0x38, 1},
                 {0x1A8, c.a8},
                 {0x1AC, c.ac},
                 {0x1B0, c.b0}})
            for (int i = 0; i < 4; ++i)
                expected[w.first + i] = static_cast<uint8_t>(w.second >> (8 * i));
        EXPECT_EQ(set->record, expected) << "mode " << c.mode;
    }
}

TEST_F(Morvel6Test, OtherCaptureModesKeepTheDriversModeWords)
{
    for (int mode : {0, 4, -1}) {
        hw.dev.cam0_log.clear();
        for (size_t i = 0; i < 436; ++i)
            hw.dev.cam0_pipeline[i] = static_cast<uint8_t>(i * 3);
        EXPECT_EQ(init_morvel6_mode(3840, 2160, mode), 0);
        const test::Cam0Request *set = find(CAM0_SET_PIPELINE);
        ASSERT_NE(set, nullptr);
        for (size_t off : {0x1A8, 0x1AC, 0x1B0})
            EXPECT_EQ(word(set->record, off), word(hw.dev.cam0_pipeline, off)) << mode << " " << off;
        EXPECT_EQ(word(set->record, 0x18), 3840u);
    }
}

TEST_F(Morvel6Test, UnreadableWindowIsNotWrittenBack)
{
    hw.dev.fail_cam0_get_window = EINVAL;
    EXPECT_EQ(init_morvel6_mode(3840, 2160, 2), 0);
    EXPECT_EQ(find(CAM0_SET_WINDOW), nullptr);
    EXPECT_EQ(log.count("ERROR:optad:main:init_morvel6 - Unable to retrieve current window"), 1);
    EXPECT_NE(find(CAM0_STREAM), nullptr) << "the rest of the set-up goes on";
}

TEST_F(Morvel6Test, FailedWriteBackIsLogged)
{
    hw.dev.fail_cam0_set_window = EINVAL;
    EXPECT_EQ(init_morvel6_mode(3840, 2160, 2), 0);
    EXPECT_EQ(log.count("ERROR:optad:main:init_morvel6 - Unable to set original window"), 1);
}

TEST_F(Morvel6Test, SwitchesPassTheirValueAndLog)
{
    set_black_video_morvel6(1);
    set_black_video_morvel6(0);
    set_stream_morvel6(1);
    set_stream_morvel6(0);
    std::vector<std::pair<unsigned long, unsigned long>> seq;
    for (const auto &r : hw.dev.cam0_log)
        seq.emplace_back(r.request, r.value);
    const std::vector<std::pair<unsigned long, unsigned long>> expected = {
        {0x80042A03, 1}, {0x80042A03, 0}, {0x40042A01, 1}, {0x40042A01, 0}};
    EXPECT_EQ(seq, expected);
    EXPECT_EQ(hw.dev.opened.size(), 4u) << "each switch opens its own descriptor";
    EXPECT_EQ(hw.dev.open_count(), 0);
    EXPECT_EQ(log.count("DEBUG:optad:main:set_black_video_morvel6 set to 1\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main:set_black_video_morvel6 set to 0\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main:set_stream_morvel6 set to 1\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main:set_stream_morvel6 set to 0\n"), 1);
}

TEST_F(Morvel6Test, MissingDeviceOnlyInitLogs)
{
    LogCapture quiet(false);
    hw.dev.fail_open["/dev/cam0"] = ENOENT;
    set_black_video_morvel6(1);
    set_stream_morvel6(0);
    EXPECT_TRUE(quiet.lines().empty());
    EXPECT_EQ(init_morvel6_mode(3840, 2160, 2), 0);
    std::vector<std::string> lines;
    for (const auto &l : quiet.lines())
        lines.push_back(l.text);
    EXPECT_EQ(lines, std::vector<std::string>{"ERROR:optad:main:init_morvel6 - Unable to retrieve current window"});
}

TEST_F(Morvel6Test, InitReadsTheCaptureModeParameter)
{
    test::SandboxRoot root;
    param_reset_for_tests();
    param_init();
    ASSERT_NE(param_set_int_value(PARAM_CAPTURE_MODE, 3), PARAM_SET_ERROR);
    hw.dev.cam0_log.clear();
    EXPECT_EQ(init_morvel6(3840, 2880), 0);
    const test::Cam0Request *set = find(CAM0_SET_PIPELINE);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(word(set->record, 0x1AC), 125000u);
    EXPECT_EQ(word(set->record, 0x1B0), 1u);
    param_reset_for_tests();
}

}  // namespace
}  // namespace optad
