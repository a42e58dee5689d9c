// FPGA registers: frames on the bus, the window for the three capture sizes,
// the status read and dump, and the failures.
#include "board/fpga.h"
#include "platform/kernel_abi.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <syslog.h>

#include <string>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;

class FpgaTest : public ::testing::Test {
protected:
    FakeHardware hw;
    LogCapture log;
};

TEST_F(FpgaTest, OpenAppliesModeZeroAndFiveMegahertz)
{
    int fd = fpga_open();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(hw.dev.fpga_mode_written, SPI_MODE_0);
    EXPECT_EQ(hw.dev.fpga_mode_reads, 1);
    EXPECT_EQ(hw.dev.fpga_speed, 5'000'000u);
}

TEST_F(FpgaTest, ReadIsACommandThenASeparateReceiveTransfer)
{
    hw.dev.fpga_regs[0x20] = 0x12345670;
    EXPECT_EQ(fpga_read_io_exp(), 0x70);
    ASSERT_EQ(hw.dev.fpga_transfers.size(), 2u);
    const test::SpiTransfer &cmd = hw.dev.fpga_transfers[0];
    const test::SpiTransfer &rx = hw.dev.fpga_transfers[1];
    EXPECT_EQ(cmd.tx, (std::vector<uint8_t>{0x13, 0x20, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(cmd.has_rx);
    EXPECT_TRUE(rx.tx.empty());
    EXPECT_TRUE(rx.has_rx);
    EXPECT_EQ(rx.len, 4u);
    for (const test::SpiTransfer &t : hw.dev.fpga_transfers) {
        EXPECT_EQ(t.speed_hz, 5'000'000u);
        EXPECT_EQ(t.bits_per_word, 8);
        EXPECT_EQ(t.delay_usecs, 0);
        EXPECT_EQ(t.cs_change, 0);
        EXPECT_EQ(t.other_fields, 0u);
    }
    EXPECT_EQ(hw.dev.open_count(), 0);
}

TEST_F(FpgaTest, StatusByteValues)
{
    hw.dev.fpga_regs[0x20] = 0x70;
    int v = fpga_read_io_exp();
    EXPECT_EQ(v, 0x70);
    EXPECT_EQ(v & IO_EXP_LINK_MASK, IO_EXP_LINK_MASK);
    EXPECT_EQ(v & IO_EXP_NOT_INITIALIZED, 0);

    hw.dev.fpga_regs[0x20] = 0xF0;
    v = fpga_read_io_exp();
    EXPECT_EQ(v, 0xF0);
    EXPECT_NE(v & IO_EXP_NOT_INITIALIZED, 0);
}

TEST_F(FpgaTest, WriteIsOneNineByteTransfer)
{
    int fd = fpga_open();
    ASSERT_EQ(fpga_reg_write(fd, 0x08, 0xA1B2C3D4), 0);
    ASSERT_EQ(hw.dev.fpga_transfers.size(), 1u);
    EXPECT_EQ(hw.dev.fpga_transfers[0].tx,
              (std::vector<uint8_t>{0x12, 0x08, 0x00, 0x00, 0x00, 0xD4, 0xC3, 0xB2, 0xA1}));
    EXPECT_FALSE(hw.dev.fpga_transfers[0].has_rx);
}

TEST_F(FpgaTest, OpenFailures)
{
    hw.dev.fail_open["/dev/spidev3.0"] = ENOENT;
    EXPECT_EQ(fpga_open(), -1);
    EXPECT_EQ(fpga_read_io_exp(), -1);
    EXPECT_EQ(log.count("2 (No such file or directory) ERROR:optad:fpga_reg - Failed to open /dev/spidev3.0\n"), 2);
    fpga_status st = {};
    EXPECT_EQ(get_all_fpga_regs(&st), -1);
    EXPECT_EQ(log.count("2 (No such file or directory) ERROR:optad:get_all_fpga_regs - Failed to open "
                        "/dev/spidev3.0\n"),
              1);
    EXPECT_EQ(fpga_set_window(3840, 2160), -1);
}

TEST_F(FpgaTest, BusSettingFailuresAreLoggedAndIgnored)
{
    hw.dev.fail_fpga_mode = EINVAL;
    hw.dev.fail_fpga_speed = EINVAL;
    hw.dev.fpga_regs[0x20] = 0x30;
    EXPECT_EQ(fpga_read_io_exp(), 0x30);
    EXPECT_EQ(log.count("22 - (Invalid argument) ERROR:optad:fpga_reg - SPI_IOC_WR_MODE failed\n"), 1);
    EXPECT_EQ(log.count("22 - (Invalid argument) ERROR:optad:fpga_reg - SPI_IOC_WR_MAX_SPEED_HZ failed\n"), 1);
    log.clear();
    fpga_status st = {};
    EXPECT_EQ(get_all_fpga_regs(&st), 0);
    EXPECT_EQ(log.count("22 - (Invalid argument) ERROR:optad:get_all_fpga_regs - SPI_IOC_WR_MODE failed\n"), 1);
    EXPECT_EQ(log.count("22 - (Invalid argument) ERROR:optad:get_all_fpga_regs - SPI_IOC_WR_MAX_SPEED_HZ failed\n"),
              1);
}

TEST_F(FpgaTest, FailedCommandTransferSkipsTheReadBack)
{
    hw.dev.fpga_fail_read[0x20] = EIO;
    EXPECT_EQ(fpga_read_io_exp(), -1);
    EXPECT_EQ(hw.dev.fpga_transfers.size(), 1u);
    EXPECT_EQ(log.count("5 - (Input/output error) ERROR:optad:fpga_reg - SPI_IOC_MESSAGE failed\n"), 1);
    EXPECT_EQ(hw.dev.open_count(), 0);
}

// ---------------- capture window ----------------

TEST_F(FpgaTest, WindowForTheThreeCaptureSizes)
{
    struct Case {
        int w, h;
        const char *capt, *words;
    } cases[] = {
        {5472, 3648, "W 0x00=0x01C81560", "W 0x04=0x00984C00"},  // 9980928 words
        {3840, 2160, "W 0x00=0x010E0F00", "W 0x04=0x003F4800"},  // 4147200 words
        {3840, 2880, "W 0x00=0x01680F00", "W 0x04=0x00546000"},  // 5529600 words
    };
    for (const Case &c : cases) {
        hw.dev.fpga_log.clear();
        hw.dev.fpga_regs[0x08] = 0xFFFFFFFF;
        EXPECT_EQ(fpga_set_window(c.w, c.h), 0);
        const std::vector<std::string> expected = {"R 0x08", "W 0x08=0xFFC03FFD", c.capt, c.words,
                                                   "W 0x08=0xFFC03FFF"};
        EXPECT_EQ(hw.dev.fpga_log, expected) << c.w << "x" << c.h;
        EXPECT_EQ(hw.dev.open_count(), 0);
    }
}

TEST_F(FpgaTest, WindowKeepsTheOtherControlBits)
{
    // crop_en, byte_order, cmp_val 0xAB, pxl_swap set; strm_en and min_y_val set too.
    hw.dev.fpga_regs[0x08] = 0x1 | 0x2 | 0x4 | (0xAB << 4) | (1 << 13) | (0x3C << 14);
    EXPECT_EQ(fpga_set_window(3840, 2160), 0);
    EXPECT_EQ(hw.dev.fpga_log[1], "W 0x08=0x00002AB5");
    EXPECT_EQ(hw.dev.fpga_log[4], "W 0x08=0x00002AB7");
}

TEST_F(FpgaTest, FailedControlReadWritesNothing)
{
    hw.dev.fpga_fail_read[0x08] = EIO;
    EXPECT_EQ(fpga_set_window(3840, 2160), -1);
    EXPECT_EQ(hw.dev.fpga_log, std::vector<std::string>{"R 0x08"});
    EXPECT_EQ(hw.dev.open_count(), 0);
}

TEST_F(FpgaTest, FirstFailedWriteEndsTheSequence)
{
    hw.dev.fpga_fail_write_errno = EIO;
    EXPECT_EQ(fpga_set_window(3840, 2160), -1);
    EXPECT_EQ(hw.dev.fpga_log.size(), 2u);
    EXPECT_EQ(hw.dev.open_count(), 0);
}

// ---------------- status ----------------

void fill_registers(test::FakeDevices &dev)
{
    dev.fpga_regs[0x00] = 0x010E0F00;
    dev.fpga_regs[0x04] = 0xAB3F4800;  // bits 24-31 are not part of the count
    dev.fpga_regs[0x08] = 0x1 | (0x5A << 4) | (1 << 12) | (0x10 << 14);
    dev.fpga_regs[0x0C] = (100 << 14) | 3840;
    dev.fpga_regs[0x10] = (101 << 14) | 3839;
    dev.fpga_regs[0x14] = (8 << 14) | 2160;
    dev.fpga_regs[0x18] = (9 << 14) | 2159;
    dev.fpga_regs[0x20] = 0xFFFFFF70;
}

TEST_F(FpgaTest, AllRegistersInOrder)
{
    fill_registers(hw.dev);
    fpga_status st = {};
    EXPECT_EQ(get_all_fpga_regs(&st), 0);
    const std::vector<std::string> order = {"R 0x00", "R 0x04", "R 0x08", "R 0x0C",
                                            "R 0x10", "R 0x14", "R 0x18", "R 0x20"};
    EXPECT_EQ(hw.dev.fpga_log, order);
    EXPECT_EQ(st.rw_capt, 0x010E0F00u);
    EXPECT_EQ(st.pci_rx, 0xAB3F4800u);
    EXPECT_EQ(st.cur_crop_y, (9u << 14) | 2159u);
    EXPECT_EQ(st.io_exp & 0xFF, 0x70u);
    EXPECT_EQ(hw.dev.open_count(), 0);
}

TEST_F(FpgaTest, FailedReadStopsWithTheRecordFilledUpToThere)
{
    fill_registers(hw.dev);
    hw.dev.fpga_fail_read[0x0C] = EIO;
    fpga_status st = {};
    EXPECT_EQ(get_all_fpga_regs(&st), -1);
    EXPECT_EQ(st.ctrl, hw.dev.fpga_regs[0x08]);
    EXPECT_EQ(st.crop_x, 0u);
    EXPECT_EQ(st.io_exp, 0u);
    EXPECT_EQ(hw.dev.fpga_log.back(), "R 0x0C");
    EXPECT_EQ(hw.dev.open_count(), 0);
}

TEST_F(FpgaTest, StatusDumpWhateverTheVerboseFlag)
{
    LogCapture quiet(false);
    fill_registers(hw.dev);
    EXPECT_EQ(print_fpga_status(), 0);
    std::vector<std::string> text;
    for (const auto &l : quiet.lines()) {
        EXPECT_EQ(l.priority, LOG_DEBUG);
        text.push_back(l.text);
    }
    const std::string rule = "##############################################################\n";
    const std::vector<std::string> expected = {
        rule,
        "DEBUG:fpga - FPGA status - FPGA status width x height, rw_capt=3840x2160\n",
        "\n",
        "DEBUG:fpga - FPGA status pci_rx.nbr_of_dws=4147200\n",
        "\n",
        "DEBUG:fpga - FPGA status ctrl.crop_en=1\n",
        "DEBUG:fpga - FPGA status ctrl.strm_en=0\n",
        "DEBUG:fpga - FPGA status ctrl.byte_order=0\n",
        "DEBUG:fpga - FPGA status ctrl.rplc_cmp=0\n",
        "DEBUG:fpga - FPGA status ctrl.cmp_val=90\n",
        "DEBUG:fpga - FPGA status ctrl.sep_y_uv=1\n",
        "DEBUG:fpga - FPGA status ctrl.pxl_swap=0\n",
        "DEBUG:fpga - FPGA status ctrl.min_y_val=16\n",
        "\n",
        "DEBUG:fpga - FPGA status crop_x.width=3840\n",
        "DEBUG:fpga - FPGA status crop_x.start=100\n",
        "\n",
        "DEBUG:fpga - FPGA status cur_crop_x.width=3839\n",
        "DEBUG:fpga - FPGA status cur_crop_x.start=101\n",
        "\n",
        "DEBUG:fpga - FPGA status crop_y.height=2160\n",
        "DEBUG:fpga - FPGA status crop_y.start=8\n",
        "\n",
        "DEBUG:fpga - FPGA status cur_crop_y.height=2159\n",
        "DEBUG:fpga - FPGA status cur_crop_y.start=9\n",
        "\n",
        "DEBUG:fpga - FPGA status dtct_strm, two_lane and link_up, io_exp=0x70\n",
        rule,
    };
    EXPECT_EQ(text, expected);
}

TEST_F(FpgaTest, StatusDumpOfAFailedReadIsTwoRules)
{
    LogCapture quiet(false);
    hw.dev.fpga_fail_read[0x00] = EIO;
    EXPECT_EQ(print_fpga_status(), -1);
    std::vector<std::string> debug;
    for (const auto &l : quiet.lines())
        if (l.priority == LOG_DEBUG)
            debug.push_back(l.text);
    const std::string rule = "##############################################################\n";
    EXPECT_EQ(debug, (std::vector<std::string>{rule, rule}));
}

}  // namespace
}  // namespace optad
