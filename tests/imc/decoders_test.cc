// The status block decoders: texts, numbers, edge values and banners.
#include "imc/decoders.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "platform/clock.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <syslog.h>

namespace optad {
namespace {

using test::LogCapture;

struct Block {
    uint8_t b[CAMERA_STATUS_SIZE] = {};
    Block &set(size_t off, uint8_t v)
    {
        b[off] = v;
        return *this;
    }
    Block &name(size_t off, const char *text, size_t n)
    {
        std::memcpy(b + off, text, n);
        return *this;
    }
    Block &lens(const char *text) { return set(STS_LENS_ATTACHED, 1).name(STS_LENS_NAME, text, std::strlen(text)); }
};

TEST(LensStatus, AttachedDetachedUnknownAndError)
{
    struct Case {
        uint8_t attached, status;
        const char *text;
        int code;
    } cases[] = {
        {1, 0x00, "Attached", -1},      {0, 0x00, "Detached", -1},     {2, 0x00, "Unknown state", -1},
        {0xFF, 0x01, "Unknown state", -1}, {0x05, 0x80, "Error code ", 5}, {0x00, 0x80, "Error code ", 0},
        {0x01, 0x80, "Error code ", 1},
    };
    for (const Case &c : cases) {
        Block blk;
        blk.set(STS_LENS_ATTACHED, c.attached).set(STS_LENS_STATUS, c.status);
        int code = -1;
        EXPECT_STREQ(lens_get_status(blk.b, &code), c.text) << int(c.attached) << "/" << int(c.status);
        EXPECT_EQ(code, c.code) << int(c.attached) << "/" << int(c.status);
    }
}

TEST(LensDriveStatus, HighestBitWins)
{
    struct Case {
        uint8_t bits;
        const char *text;
    } cases[] = {
        {0xC0, "Resetting Focus Lens"}, {0x80, "Resetting Focus Lens"}, {0xFF, "Resetting Focus Lens"},
        {0x41, "In Focus Movement"},    {0x40, "In Focus Movement"},    {0x01, "Unknown state"},
        {0x20, "Unknown state"},        {0x3F, "Unknown state"},        {0x00, "Not running"},
    };
    for (const Case &c : cases) {
        Block blk;
        blk.set(STS_LENS_DRIVE, c.bits);
        EXPECT_STREQ(lens_get_drive_status(blk.b), c.text) << int(c.bits);
    }
}

TEST(LensName, ReportedNamesMapToDisplayNames)
{
    Block blk;
    blk.lens("EF50mm f/1.4 USM");
    EXPECT_STREQ(lens_get_name(blk.b), "Canon EF 50mm f/1.4 USM");
    blk = Block{};
    blk.lens("EF70-200mm f/2.8L IS III USM");
    EXPECT_STREQ(lens_get_name(blk.b), "Canon EF 70-200mm f/2.8L IS III USM");
    blk = Block{};
    blk.lens("EF-S55-250mm f/4-5.6 IS STM");
    EXPECT_STREQ(lens_get_name(blk.b), "Canon EF-S 55-250mm f/4-5.6 IS STM");
}

TEST(LensName, NearMissesAreUnknown)
{
    for (const char *text : {"ef50mm f/1.4 USM", "EF50mm f/1.4 USM ", "EF50mm f/1.4 USMX", "EF50mm", ""}) {
        Block blk;
        blk.lens(text);
        EXPECT_STREQ(lens_get_name(blk.b), "Unknown") << '"' << text << '"';
    }
}

TEST(LensName, DetachedWithoutLookingAtTheName)
{
    Block blk;
    blk.name(STS_LENS_NAME, "EF50mm f/1.4 USM", 16).set(STS_LENS_ATTACHED, 0);
    EXPECT_STREQ(lens_get_name(blk.b), "Detached");
}

TEST(LensName, UnterminatedEightyCharactersAreReadSafely)
{
    Block blk;
    blk.set(STS_LENS_ATTACHED, 1);
    std::memset(blk.b + STS_LENS_NAME, 'A', STS_LENS_NAME_LEN);
    std::memset(blk.b + STS_LENS_NAME + STS_LENS_NAME_LEN, 'B', 32);  // no zero after the name
    EXPECT_STREQ(lens_get_name(blk.b), "Unknown");
}

TEST(SunlightProtector, States)
{
    struct Case {
        uint8_t v;
        const char *text;
    } cases[] = {{0, "Closed"}, {1, "Opened"}, {0x80, "Error"}, {2, "Unknown state"}, {0x81, "Unknown state"}};
    for (const Case &c : cases) {
        Block blk;
        blk.set(STS_SUNLIGHT, c.v);
        EXPECT_STREQ(sunlight_get_status(blk.b), c.text) << int(c.v);
    }
}

TEST(HardwareInfo, LittleEndianSixteenBits)
{
    LogCapture log;
    Block blk;
    blk.set(0x1C, 0x34).set(0x1D, 0x12);
    EXPECT_EQ(hardware_get_info(blk.b), 0x1234);
    EXPECT_EQ(log.count("DEBUG:optad:hardware - Hardware information at IMC side (integer)=4660\n"), 1);
    blk.set(0x1C, 0xFF).set(0x1D, 0xFF);
    EXPECT_EQ(hardware_get_info(blk.b), 65535);
}

TEST(SerialId, StopsAfterZeroAndKeepsSixteenCharacters)
{
    LogCapture log;
    {
        Block blk;
        blk.name(STS_SERIAL_ID, "0123456789ABCDEF", 16).name(STS_LENS_NAME, "XYZ", 3);
        char serial[CAMERA_SERIAL_BUF_SIZE] = {};
        camera_get_serial_id(blk.b, serial);
        EXPECT_EQ(std::string(serial, 17), std::string("0123456789ABCDEF") + '\0');
        EXPECT_EQ(log.count("DEBUG:optad:camera - Camera serial id at IMC side (char)=0123456789ABCDEF\n"), 1);
    }
    {
        Block blk;
        blk.name(STS_SERIAL_ID, "42\0garbage", 10);
        char serial[CAMERA_SERIAL_BUF_SIZE] = {};
        std::memset(serial, 0, sizeof serial);
        camera_get_serial_id(blk.b, serial);
        EXPECT_EQ(std::string(serial, 17), std::string("42") + std::string(15, '\0'));
    }
}

TEST(Banners, WrittenBeforeDecodingOnlyWithDebugLogging)
{
    Block blk;
    {
        LogCapture log;
        int code = -1;
        lens_get_status(blk.b, &code);
        lens_get_drive_status(blk.b);
        lens_get_name(blk.b);
        sunlight_get_status(blk.b);
        hardware_get_info(blk.b);
        char serial[17] = {};
        camera_get_serial_id(blk.b, serial);
        const std::vector<std::pair<const char *, const char *>> banners = {
            {"/*******************************************/\n", "/* optad:lens - Get Lens Status at IMC side */\n"},
            {"/*************************************************/\n",
             "/* optad:lens - Get Lens Drive Status at IMC side */\n"},
            {"/*****************************************/\n", "/* optad:lens - Get Lens Name at IMC side */\n"},
            {"/**************************************************************/\n",
             "/* optad:sunlight - Get Sunlight Protection Status at IMC side */\n"},
            {"/********************************************************/\n",
             "/* optad:hardware - Get hardware information at IMC side */\n"},
            {"/**************************************************/\n",
             "/* optad:camera - Get camera serial id at IMC side */\n"},
        };
        std::vector<LogCapture::Line> lines = log.lines();
        size_t i = 0;
        for (const auto &b : banners) {
            // frame, title, frame (then maybe the decoder's own line)
            while (i < lines.size() && lines[i].text != b.first)
                ++i;
            ASSERT_LT(i + 2, lines.size()) << b.second;
            EXPECT_EQ(lines[i + 1].text, b.second);
            EXPECT_EQ(lines[i + 2].text, b.first);
            EXPECT_EQ(lines[i].priority, LOG_DEBUG);
            i += 3;
        }
    }
    LogCapture quiet(false);
    lens_get_name(blk.b);
    sunlight_get_status(blk.b);
    EXPECT_TRUE(quiet.lines().empty());
}

// ---------------- firmware revision: asks the IMC first ----------------

class FirmwareRevisionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        hw.pins.line("imc_req").value = 1;
        hw.dev.after_imc_transfer = [this] { hw.pins.req_edge(1); };
        ASSERT_EQ(spi_open_and_init(nullptr, &recv), 0);
        hw.pins.req_edge(0);
        hw.pins.req_edge(1);
    }
    void TearDown() override
    {
        spi_close();
        clock_set_source(nullptr);
    }
    VirtualClock clock;
    test::FakeHardware hw;
    LogCapture log;
    uint8_t *recv = nullptr;
};

TEST_F(FirmwareRevisionTest, ReadsTheFreshReply)
{
    // Stale block in recv_buf: must not be what is decoded.
    recv[0x08] = 0x99;
    hw.dev.imc_replies.push_back(test::status_reply({{0x08, 0x2A}, {0x09, 0x01}, {0x0A, 0x00}, {0x0B, 0x00}}));
    EXPECT_EQ(firmware_get_imc_revision(recv), 298);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 1u);
    EXPECT_EQ(log.count("DEBUG:optad:firmware - Firmware revision at IMC side (integer)=298\n"), 1);
}

TEST_F(FirmwareRevisionTest, AllFourBytesAndSign)
{
    hw.dev.imc_replies.push_back(test::status_reply({{0x08, 0x04}, {0x09, 0x03}, {0x0A, 0x02}, {0x0B, 0x01}}));
    EXPECT_EQ(firmware_get_imc_revision(recv), 0x01020304);
    hw.dev.imc_replies.push_back(test::status_reply({{0x08, 0xFF}, {0x09, 0xFF}, {0x0A, 0xFF}, {0x0B, 0xFF}}));
    EXPECT_EQ(firmware_get_imc_revision(recv), -1);
}

TEST_F(FirmwareRevisionTest, FailedRequestIsMinusOne)
{
    // Three empty replies.
    EXPECT_EQ(firmware_get_imc_revision(recv), -1);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 3u);
    EXPECT_FALSE(log.contains("Firmware revision at IMC side (integer)"));
}

}  // namespace
}  // namespace optad
