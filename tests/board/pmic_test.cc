// The PMIC command-file interpreter: rows and their fields, comments and
// unknown rows, overlong lines, bus failures, and the rig's two board files.
#include "board/pmic.h"
#include "platform/devio.h"
#include "tests/board/trace_clock.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <syslog.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;
using test::SandboxRoot;
using test::TraceClock;
using Log = std::vector<std::string>;

int open_descriptors()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++n;
        closedir(d);
    }
    return n;
}

class PmicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        fd = dev_open("/dev/i2c-4", O_RDWR);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override
    {
        dev_close(fd);
        clock_set_source(nullptr);
    }

    // Runs text as the DE command file.
    int run(const std::string &text)
    {
        root.write(PMIC_FILE_DE, text);
        return pmic_init_from_file(fd, PMIC_FILE_DE);
    }

    TraceClock clock;
    FakeHardware hw;
    SandboxRoot root;
    LogCapture log;
    int fd = -1;
};

TEST_F(PmicTest, SampleFileSelectsTheSlaveWritesThenSleeps)
{
    size_t writes_before_sleep = 0;
    clock.on_sleep = [&](int64_t) { writes_before_sleep = hw.dev.i2c_log.size(); };
    EXPECT_EQ(run("# PMIC set-up\n\nw 0x90 0x10 0x05\nd 20\n"), 0);
    EXPECT_EQ(hw.dev.i2c_log, (Log{"slave 0x48", "write 10 05"}));
    ASSERT_EQ(clock.sleeps.size(), 1u);
    EXPECT_EQ(clock.sleeps[0].us, 20'000);
    EXPECT_EQ(writes_before_sleep, 2u) << "the delay row comes after the write";
    EXPECT_TRUE(log.lines().empty()) << log.text();
}

TEST_F(PmicTest, WriteRowsFieldForms)
{
    struct Case {
        const char *row;
        Log bus;
    } cases[] = {
        {"w 90 10 05\n", {"slave 0x48", "write 10 05"}},
        {"w\t0x90\t\t0x10 \t0x05\n", {"slave 0x48", "write 10 05"}},
        {"wX0x90 0x10 0x05\n", {"slave 0x48", "write 10 05"}},  // second character skipped
        {"w 0X92 0x1 0xa\n", {"slave 0x49", "write 01 0A"}},
        {"w 0x91 0x10 0x05\n", {"slave 0x48", "write 10 05"}},   // read/write bit dropped
        {"w 0x90 0x110 0x1FF\n", {"slave 0x48", "write 10 FF"}},  // low 8 bits of each
        {"w 0x90 0x10 0x05\r\n", {"slave 0x48", "write 10 05"}},
        {"w 0x90 0x10 0x05", {"slave 0x48", "write 10 05"}},      // last line without newline
        {"w 0x90 0x10 0x05 0x77 trailing\n", {"slave 0x48", "write 10 05"}},
        {"w 0x1FFFE 0x10 0x05\n", {"write 10 05"}},  // keeps the earlier slave
        {"w 0x1FFFF 0x10 0x05\n", {"write 10 05"}},
    };
    for (const Case &c : cases) {
        hw.dev.i2c_log.clear();
        log.clear();
        EXPECT_EQ(run(c.row), 0) << c.row;
        EXPECT_EQ(hw.dev.i2c_log, c.bus) << c.row;
        EXPECT_TRUE(log.lines().empty()) << c.row << log.text();
    }
}

TEST_F(PmicTest, KeptSlaveIsTheOneSelectedBefore)
{
    EXPECT_EQ(run("w 0x90 0x10 0x05\nw 0x1FFFE 0x11 0x06\nw 0x96 0x12 0x07\nw 0x1FFFF 0x13 0x08\n"), 0);
    EXPECT_EQ(hw.dev.i2c_log,
              (Log{"slave 0x48", "write 10 05", "write 11 06", "slave 0x4B", "write 12 07", "write 13 08"}));
}

TEST_F(PmicTest, DelayBaseFollowsThePrefix)
{
    EXPECT_EQ(run("d 20\nd 0x14\nd 024\nd\t\t7\ndX3\nd 0\n"), 0);
    std::vector<int64_t> slept;
    for (const auto &s : clock.sleeps)
        slept.push_back(s.us);
    EXPECT_EQ(slept, (std::vector<int64_t>{20'000, 20'000, 20'000, 7'000, 3'000})) << "d 0 does not sleep";
    EXPECT_TRUE(log.lines().empty()) << log.text();
}

TEST_F(PmicTest, UnknownAndMalformedRowsAreLoggedWholeAndSkipped)
{
    // A field that is not a number is refused rather than read as 0: the
    // chip would get a register or value nobody wrote.
    const char *rows[] = {
        " w 0x90 0x10 0x05\n",  // blank before the row letter
        "W 0x90 0x10 0x05\n",   " \n",  "x\n",
        "w 0x90 0x10\n",        "w 0x90 zz 0x05\n",      "w 0x90 -1 0x05\n",
        "w 0x90 0x10 0x05zz\n", "w 0x90 0x 0x05\n",      "w\n",
        "w0x90 0x10 0x05\n",    // the skipped character was the number's first
        "d\n",                  "d abc\n",                "d 08\n",
        "d -5\n",               "d5\n",                   "d 99999999999999999999\n",
        "d 4294967296\n",
    };
    for (const char *row : rows) {
        hw.dev.i2c_log.clear();
        clock.sleeps.clear();
        log.clear();
        EXPECT_EQ(run(std::string(row) + "w 0x90 0x20 0x01\n"), 0) << row;
        EXPECT_EQ(hw.dev.i2c_log, (Log{"slave 0x48", "write 20 01"})) << row << ": the next row still runs";
        EXPECT_TRUE(clock.sleeps.empty()) << row;
        ASSERT_EQ(log.lines().size(), 1u) << row << log.text();
        EXPECT_EQ(log.lines()[0].priority, LOG_ERR);
        EXPECT_EQ(log.lines()[0].text, std::string("ERROR:optad:power_control - Unhandled row: '") + row + "'\n");
    }
}

TEST_F(PmicTest, BlankLinesAndCommentsAreSilent)
{
    EXPECT_EQ(run("\n\r\n\r# comment w 0x90 0x10 0x05\n#\n"), 0);
    EXPECT_TRUE(hw.dev.i2c_log.empty());
    EXPECT_TRUE(log.lines().empty()) << log.text();
}

// Text of exactly n bytes: text, then fill.
std::string padded(std::string text, size_t n, char fill)
{
    text.resize(n, fill);
    return text;
}

// A row is a line's first 255 bytes; the rest of a longer line is dropped,
// never read as a row of its own, and a number it cuts in two is no number.
TEST_F(PmicTest, OverlongLines)
{
    const std::string write_row = "w 0x90 0x10 0x05";
    struct Case {
        const char *name;
        std::string text;
        Log bus;
        std::vector<int64_t> sleeps_us;
        std::vector<std::string> errors;
    } cases[] = {
        {"255 bytes and the newline", padded(write_row, 255, ' ') + "\nd 1\n", {"slave 0x48", "write 10 05"},
         {1'000}, {}},
        {"a write with a long comment after it", write_row + " # " + std::string(300, 'c') + "\nd 1\n",
         {"slave 0x48", "write 10 05"}, {1'000}, {}},
        {"a write with a long comment and no newline at the end", write_row + " # " + std::string(300, 'c'),
         {"slave 0x48", "write 10 05"}, {}, {}},
        {"a delay with long blanks after it", padded("d 20", 400, ' ') + "\n", {}, {20'000}, {}},
        {"the dropped rest begins like a row", padded("#", 255, '-') + "w 0x90 0x20 0xFF\nw 0x90 0x20 0x01\n",
         {"slave 0x48", "write 20 01"}, {}, {}},
        {"the dropped rest begins like a delay", padded(write_row, 255, ' ') + "d 5\n",
         {"slave 0x48", "write 10 05"}, {}, {}},
        {"a NUL byte in the dropped line, whose rest begins like a delay",
         padded(std::string("#\0", 2), 255, '-') + "d 5\nd 1\n", {}, {1'000}, {}},
        {"the value ends at byte 255, a blank after it", padded("w 0x90 0x10", 251, ' ') + "0x05 tail\n",
         {"slave 0x48", "write 10 05"}, {}, {}},
        {"the value cut in two at byte 255", padded("w 0x90 0x10", 251, ' ') + "0x1234\nd 1\n", {}, {1'000},
         {"ERROR:optad:power_control - Unhandled row: '" + padded("w 0x90 0x10", 251, ' ') + "0x12'\n"}},
        {"an unknown row, logged once with its first 255 bytes", padded("x", 300, 'y') + "\nd 1\n", {}, {1'000},
         {"ERROR:optad:power_control - Unhandled row: '" + padded("x", 255, 'y') + "'\n"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        hw.dev.i2c_log.clear();
        clock.sleeps.clear();
        log.clear();
        EXPECT_EQ(run(c.text), 0);
        EXPECT_EQ(hw.dev.i2c_log, c.bus);
        std::vector<int64_t> slept;
        for (const auto &sleep : clock.sleeps)
            slept.push_back(sleep.us);
        EXPECT_EQ(slept, c.sleeps_us);
        std::vector<std::string> errors;
        for (const LogCapture::Line &l : log.lines())
            errors.push_back(l.text);
        EXPECT_EQ(errors, c.errors);
    }
}

TEST_F(PmicTest, MissingFileIsLoggedAndCountsAsEmpty)
{
    EXPECT_EQ(pmic_init_from_file(fd, PMIC_FILE_DC), 0);
    EXPECT_EQ(log.count("2 - (No such file or directory) ERROR:optad:power_control - Failed to open the configfile = "
                        "/usr/share/imc_pmic_init_cmd_dc!\n"),
              1)
        << log.text();
    EXPECT_TRUE(hw.dev.i2c_log.empty());
}

TEST_F(PmicTest, BusFailuresStopTheFileAndCloseIt)
{
    const char *two_rows = "w 0x90 0x110 0x1FF\nw 0x90 0x11 0x06\n";
    struct Case {
        const char *name;
        std::function<void(test::FakeDevices &)> inject;
        const char *text;
        Log bus;
    } cases[] = {
        {"slave", [](test::FakeDevices &d) { d.fail_i2c_slave = EIO; },
         "5 - (Input/output error) ERROR:optad:power_control - I2C_SLAVE res=-1\n", {"slave 0x48"}},
        {"write",
         [](test::FakeDevices &d) {
             d.i2c_write_results = {-1};
             d.i2c_errno = EREMOTEIO;
         },
         "121 - (Remote I/O error) ERROR:optad:power_control - Failed to write 2 bytes, addr:0x48, reg:0x110, "
         "val:0x1FF\n",
         {"slave 0x48", "write 10 FF"}},
        {"short write", [](test::FakeDevices &d) { d.i2c_write_results = {1}; },
         "5 - (Input/output error) ERROR:optad:power_control - Failed to write 2 bytes, addr:0x48, reg:0x110, "
         "val:0x1FF\n",
         {"slave 0x48", "write 10 FF"}},
    };
    for (const Case &c : cases) {
        hw.dev.i2c_log.clear();
        hw.dev.fail_i2c_slave = 0;
        log.clear();
        c.inject(hw.dev);
        const int descriptors = open_descriptors();
        EXPECT_EQ(run(two_rows), -1) << c.name;
        EXPECT_EQ(open_descriptors(), descriptors) << c.name << ": the file is closed";
        EXPECT_EQ(hw.dev.i2c_log, c.bus) << c.name << ": nothing after the failure";
        EXPECT_EQ(log.count(c.text), 1) << c.name << "\n" << log.text();
    }

    // A kept slave shows as 0xFFFF.
    log.clear();
    hw.dev.i2c_write_results = {-1};
    hw.dev.i2c_errno = EIO;
    EXPECT_EQ(run("w 0x1FFFE 0x10 0x05\n"), -1);
    EXPECT_EQ(log.count("5 - (Input/output error) ERROR:optad:power_control - Failed to write 2 bytes, "
                        "addr:0xFFFF, reg:0x10, val:0x05\n"),
              1)
        << log.text();
}

// The rig's board files, against the PMIC's register map: 0x10-0x13 the
// voltage settings of BUCK1-3 and LDO1, 0x21 the sequencing step, 0x20 the
// rail enables (bit 0 BUCK1 .. bit 3 LDO1). Every rail a board uses is set
// before the enables; a DC-phase board never touches LDO1.
TEST_F(PmicTest, RigBoardFiles)
{
    struct Case {
        const char *file;
        Log bus;
    } cases[] = {
        {PMIC_FILE_DE,
         {"slave 0x48", "write 10 1E", "slave 0x48", "write 11 3C", "slave 0x48", "write 12 2A", "slave 0x48",
          "write 13 32", "slave 0x48", "write 21 02", "slave 0x48", "write 20 0F"}},
        {PMIC_FILE_DC,
         {"slave 0x48", "write 10 1E", "slave 0x48", "write 11 3C", "slave 0x48", "write 12 2A", "slave 0x48",
          "write 21 02", "slave 0x48", "write 20 07"}},
    };
    for (const Case &c : cases) {
        std::ifstream in(std::string(OPTAD_SOURCE_DIR) + "/tests/rig/board/" + (std::strrchr(c.file, '/') + 1));
        ASSERT_TRUE(in) << c.file;
        std::ostringstream text;
        text << in.rdbuf();
        root.write(c.file, text.str());

        hw.dev.i2c_log.clear();
        clock.sleeps.clear();
        size_t writes_before_sleep = 0;
        clock.on_sleep = [&](int64_t) { writes_before_sleep = hw.dev.i2c_log.size(); };
        EXPECT_EQ(pmic_init_from_file(fd, c.file), 0) << c.file;
        EXPECT_EQ(hw.dev.i2c_log, c.bus) << c.file;
        ASSERT_EQ(clock.sleeps.size(), 1u) << c.file;
        EXPECT_EQ(clock.sleeps[0].us, 5'000) << c.file;
        EXPECT_EQ(writes_before_sleep, c.bus.size() - 2) << c.file << ": the pause comes just before the enables";
        EXPECT_TRUE(log.lines().empty()) << c.file << "\n" << log.text();
    }
}

}  // namespace
}  // namespace optad
