// rigdump's output pieces: columns, rows, marks and the files it reads.
#include "tests/support/test_support.h"
#include "tools/rigdump/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace optad::rigdump {
namespace {

TEST(SectionHeader, ValuesStartInColumn32)
{
    for (const char *label : {"Firmware", "Camera Serial ID", "Image Stabilization Time", "Interrupts", "A"}) {
        std::string h = section_header(label);
        EXPECT_EQ(h.size(), 31u) << label;
        EXPECT_EQ(h.substr(0, std::strlen(label) + 1), std::string(label) + ":");
        EXPECT_EQ(h.find_first_not_of(' ', std::strlen(label) + 1), std::string::npos) << label;
    }
    EXPECT_EQ(section_header("Firmware"), "Firmware:                      ");
}

TEST(SectionHeader, LongLabelsKeepOneSpace)
{
    std::string thirty(30, 'x');
    EXPECT_EQ(section_header(thirty.c_str()), thirty + ": ");
    std::string forty(40, 'y');
    EXPECT_EQ(section_header(forty.c_str()), forty + ": ");
    std::string twenty_nine(29, 'z');
    EXPECT_EQ(section_header(twenty_nine.c_str()), twenty_nine + ": ");
}

TEST(Usage, ThreeLinesWithTheProgramName)
{
    EXPECT_EQ(usage("./rigdump"), "Usage: ./rigdump [do]\n"
                                  "  --all                    Prints all camera info\n"
                                  "  -h, -u, --help, --usage  Prints usage of rigdump\n");
}

TEST(SerialDigits, CharactersMinusZero)
{
    EXPECT_EQ(serial_digits("0123456789"), "0123456789\n");
    EXPECT_EQ(serial_digits("A/"), "17-1\n");  // 'A' - '0' = 17, '/' - '0' = -1
    EXPECT_EQ(serial_digits("\xC8\x80"), "15280\n") << "bytes above 0x7F as the camera prints them";
    char sixteen[17] = "9999999999999999";
    EXPECT_EQ(serial_digits(sixteen), "9999999999999999\n");
    char longer[20] = "1234567890123456789";
    EXPECT_EQ(serial_digits(longer), "1234567890123456\n") << "at most 16 characters";
}

TEST(GpioRows, NameDirectionAndState)
{
    EXPECT_EQ(gpio_header(), " Name                          Dir  State\n");
    EXPECT_EQ(gpio_row("imc_dcdc_en", 0, 1), " imc_dcdc_en                   out  1\n");
    EXPECT_EQ(gpio_row("imc_power_good", 1, 0), " imc_power_good                in   0\n");
    EXPECT_EQ(gpio_row("imc_req", 2, 1), " imc_req                       in   1\n") << "any non-zero is input";
    EXPECT_EQ(gpio_failed_row("imc_1_8v_rst_buffer_enable"), " imc_1_8v_rst_buffer_enable    Failed\n");
    // The direction column lines up with the header's "Dir".
    std::string h = gpio_header();
    std::string r = gpio_row("fpga_reset", 0, 0);
    EXPECT_EQ(h.find("Dir"), r.find("out"));
    EXPECT_EQ(h.find("State"), r.rfind('0'));
}

TEST(FpgaRows, EveryFieldInColumn32)
{
    fpga_status st = {};
    st.rw_capt = 0x010E0F00;
    st.pci_rx = 4147200;
    st.ctrl = 0x2 | (0x11 << 4) | (0x22 << 14);
    st.crop_x = (7 << 14) | 3840;
    st.cur_crop_y = (5 << 14) | 2160;
    st.io_exp = 0x170;
    const std::string text = fpga_rows(st);
    const std::string expected =
        "\n"
        " rw_capt:                      3840x2160\n"
        " pci_rx.nbr_of_dws:            4147200\n"
        " ctrl.crop_en:                 0\n"
        " ctrl.strm_en:                 1\n"
        " ctrl.byte_order:              0\n"
        " ctrl.rplc_cmp:                0\n"
        " ctrl.cmp_val:                 17\n"
        " ctrl.sep_y_uv:                0\n"
        " ctrl.pxl_swap:                0\n"
        " ctrl.min_y_val:               34\n"
        " crop_x.width:                 3840\n"
        " crop_x.start:                 7\n"
        " cur_crop_x.width:             0\n"
        " cur_crop_x.start:             0\n"
        " crop_y.height:                0\n"
        " crop_y.start:                 0\n"
        " cur_crop_y.height:            2160\n"
        " cur_crop_y.start:             5\n"
        " io_exp:                       0x70\n";
    EXPECT_EQ(text, expected);
}

TEST(StatusDump, OnlyTheChangedRowIsMarked)
{
    uint8_t a[512];
    uint8_t b[512];
    for (size_t i = 0; i < 512; ++i)
        a[i] = b[i] = static_cast<uint8_t>(i);
    b[0x45] ^= 0xFF;
    const std::string text = status_dump(a, b, 512);
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        lines.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    ASSERT_EQ(lines.size(), 34u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "      0 1 2 3 4 5 6 7 8 9 A B C D E F    0 1 2 3 4 5 6 7 8 9 A B C D E F");
    EXPECT_EQ(lines[2], "000: 000102030405060708090a0b0c0d0e0f   000102030405060708090a0b0c0d0e0f");
    EXPECT_EQ(lines[6], "040: 404142434445464748494a4b4c4d4e4f ! 4041424344ba464748494a4b4c4d4e4f");
    int marked = 0;
    for (size_t i = 2; i < lines.size(); ++i)
        marked += lines[i][38] == '!';
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(lines[33].substr(0, 5), "1F0: ");
}

TEST(InterruptsDiff, MarksChangedLinesAndPrintsTheSecond)
{
    std::vector<std::string> before = {"           CPU0\n", " 17:        100   GIC  spi\n", " 18:  5   GIC  x\n"};
    std::vector<std::string> after = {"           CPU0\n", " 17:        180   GIC  spi\n"};
    EXPECT_EQ(interrupts_diff(before, after), "\n  " + before[0] + "!  17:        180   GIC  spi\n");
    EXPECT_EQ(interrupts_diff({}, after), "\n");
}

TEST(Files, LinesKeepTheirNewlines)
{
    test::SandboxRoot root;
    root.write("/proc/interrupts", "a\nbb\n\nlast");
    auto lines = read_lines(root.path("/proc/interrupts"));
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(*lines, (std::vector<std::string>{"a\n", "bb\n", "\n", "last"}));
    std::string longline(2000, 'x');
    root.write("/proc/long", longline + "\nend\n");
    lines = read_lines(root.path("/proc/long"));
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(lines->size(), 2u);
    EXPECT_EQ((*lines)[0], longline + "\n");
    EXPECT_FALSE(read_lines(root.path("/proc/missing")).has_value());
}

TEST(Files, StabilizationHours)
{
    test::SandboxRoot root;
    const std::string f = "/lib/persistent/var/lib/optics/image_stabilization_total_time";
    EXPECT_EQ(stabilization_hours(root.path(f)), 0) << "missing file";
    root.write(f, "7199");
    EXPECT_EQ(stabilization_hours(root.path(f)), 1);
    root.write(f, "7200\n");
    EXPECT_EQ(stabilization_hours(root.path(f)), 2);
    root.write(f, "abc");
    EXPECT_EQ(stabilization_hours(root.path(f)), 0);
    root.write(f, "");
    EXPECT_EQ(stabilization_hours(root.path(f)), 0);
    root.write(f, "-7200");
    EXPECT_EQ(stabilization_hours(root.path(f)), -2) << "truncating toward zero";
}

}  // namespace
}  // namespace optad::rigdump
