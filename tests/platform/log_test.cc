#include "platform/log.h"
#include "platform/log_format.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace optad {
namespace {

TEST(Log, DebugLinesOnlyWhileVerbose)
{
    test::LogCapture quiet(/*verbose=*/false);
    OPTAD_LOG_DEBUG("DEBUG:optad:main - Start");
    OPTAD_LOG_ERROR("ERROR:optad:main - Failed to init!");
    ASSERT_EQ(quiet.lines().size(), 1u);
    EXPECT_EQ(quiet.lines()[0].priority, LOG_ERR);
    EXPECT_EQ(quiet.lines()[0].text, "ERROR:optad:main - Failed to init!");

    log_set_verbose(true);
    OPTAD_LOG_DEBUG("DEBUG:optad:main - Start");
    EXPECT_EQ(quiet.count("DEBUG:optad:main - Start"), 1);
    EXPECT_EQ(quiet.lines().back().priority, LOG_DEBUG);
}

TEST(Log, PrioritiesAndFormatting)
{
    test::LogCapture cap;
    OPTAD_LOG_INFO("optad:main - Optad is now exiting!\n");
    OPTAD_LOG_WARNING("WARNING:optad:%s:%s - Conf file doesn't exist\n", "param_settings", "save_param_to_file");
    log_write(LOG_DEBUG, "%02X %d", 0xAB, -1);
    auto lines = cap.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].priority, LOG_INFO);
    EXPECT_EQ(lines[0].text, "optad:main - Optad is now exiting!\n");
    EXPECT_EQ(lines[1].priority, LOG_WARNING);
    EXPECT_EQ(lines[1].text, "WARNING:optad:param_settings:save_param_to_file - Conf file doesn't exist\n");
    EXPECT_EQ(lines[2].text, "AB -1");
}

TEST(Log, LongLinesAreKeptWhole)
{
    test::LogCapture cap;
    std::string hex(8192, 'a');
    log_write(LOG_DEBUG, "send_buf=%s\n", hex.c_str());
    ASSERT_EQ(cap.lines().size(), 1u);
    EXPECT_EQ(cap.lines()[0].text.size(), 9u + 8192u + 1u);
}

// A table's format is matched against its arguments while compiling: the
// width and precision fields, '*' taking an int, and the length modifiers.
static_assert(format_takes<int, const char *>("%-08d %.3s"));
static_assert(format_takes<int, int, const char *>("%*.*s"));
static_assert(format_takes<int, const char *>("%.*s"));
static_assert(format_takes<long, unsigned long long, size_t>("%ld %llu %zu"));
static_assert(format_takes<double, char>("%5.2f%c%%"));
static_assert(!format_takes<const char *>("%.*s"));
static_assert(!format_takes<int>("%s"));
static_assert(!format_takes<long long>("%d"));
static_assert(!format_takes<int>("%d %d"));
static_assert(!format_takes<int>("%n"));

}  // namespace
}  // namespace optad
