// The simulated IMC on /dev/spidev2.0 through the real seam: exchanges with
// bit reversal, the status block, what every kind of set command does to
// it, the checks of the link, and the firmware upgrade.
#include "platform/devio.h"
#include "platform/kernel_abi.h"
#include "tests/sim/sim_helpers.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace optad::test {
namespace {

class SimImc : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.running());
        ASSERT_TRUE(sim.ok("power on"));
        fd = open_imc();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(sim.ok("clear"));
    }
    void TearDown() override
    {
        if (fd >= 0)
            dev_close(fd);
    }

    // Sends a command frame and returns the status block that follows it.
    std::vector<uint8_t> command(uint8_t group, uint8_t item, const std::vector<uint8_t> &values)
    {
        EXPECT_EQ(imc_exchange(fd, req, command_frame(group, item, values), nullptr), 512);
        return imc_status(fd, req);
    }

    std::string violations() { return sim.violations(); }

    SandboxRoot root;
    Simulator sim{root, {"--set", "req_period_ms=10", "--set", "req_high_ms=8", "--set",
                         "protector_move_ms=30", "--set", "focus_oneshot_ms=30"}};
    TestLine req{"imc_req", PINIO_TRIG_BOTH};
    int fd = -1;
};

TEST_F(SimImc, StatusRoundTripWithBitReversal)
{
    std::vector<uint8_t> s = imc_status(fd, req);
    ASSERT_EQ(s.size(), 512u);
    // Revision 300 = 0x012C, little-endian at 0x08; a lens attached.
    EXPECT_EQ(s[0x08], 0x2C);
    EXPECT_EQ(s[0x09], 0x01);
    EXPECT_EQ(s[0x12], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&s[0xC0])), "EF50mm f/1.4 USM");
    EXPECT_EQ(sim.ctl("log imc"), "00f8000800f80000\n");
    EXPECT_EQ(violations(), "");

    // Without the bit reversal the IMC reads garbage and nothing comes back.
    uint8_t tx[512] = {0x00, 0xF8, 0x00, 0x08, 0x00, 0xF8, 0x00, 0x00};
    uint8_t rx[512] = {};
    req.wait_level(1, 1000);
    spi_ioc_transfer x = imc_transfer(tx, rx, 512);
    EXPECT_EQ(dev_ioctl(fd, SPI_IOC_MESSAGE(1), &x), 512);
    EXPECT_EQ(std::count(rx, rx + 512, 0), 512);
    EXPECT_NE(violations().find("imc: unknown frame type 0x001F"), std::string::npos);
}

TEST_F(SimImc, HeartBeatRunsAndStops)
{
    std::vector<uint8_t> a = imc_status(fd, req);
    usleep(250000);
    std::vector<uint8_t> b = imc_status(fd, req);
    EXPECT_NE(a[0xA0] | a[0xA1] << 8, b[0xA0] | b[0xA1] << 8);

    ASSERT_TRUE(sim.ok("fault heartbeat stop"));
    a = imc_status(fd, req);
    usleep(250000);
    b = imc_status(fd, req);
    EXPECT_EQ(a[0xA0] | a[0xA1] << 8, b[0xA0] | b[0xA1] << 8);

    ASSERT_TRUE(sim.ok("fault heartbeat ffff"));
    b = imc_status(fd, req);
    EXPECT_EQ(b[0xA0], 0xFF);
    EXPECT_EQ(b[0xA1], 0xFF);
}

TEST_F(SimImc, SetCommandsShowAsTheEncodersExpect)
{
    struct Case {
        uint8_t group, item;
        std::vector<uint8_t> values;
        std::vector<std::pair<int, uint8_t>> expect;
    };
    const Case cases[] = {
        {0x03, 0x00, {5}, {{0x40, 5}}},                   // exposure mode
        {0x03, 0x01, {0xF8}, {{0x45, 0xF8}}},             // compensation -8
        {0x03, 0x0A, {5}, {{0x4E, 5}}},                   // slow shutter 50 Hz
        {0x03, 0x11, {0x12, 0x34}, {{0x56, 0x12}, {0x57, 0x34}}},
        {0x04, 0x02, {0x03, 0xFF, 0x00, 0xFC}, {{0x6C, 0xFF}, {0x6D, 0x03}, {0x6E, 0xFC}, {0x6F, 0x00}}},
        {0x07, 0x00, {5}, {{0x80, 5}}},                   // sharpness
        {0x05, 0x01, {1}, {{0x66, 1}}},                   // night
        {0x01, 0x07, {1, 3}, {{0x2F, 0x31}}},             // IR focus 850 nm: high nibble 3
        {0x0B, 0x00, {0}, {{0x8A, 1}}},                   // vignetting "yes": 0 sent, 1 shown
        {0x0B, 0x01, {1}, {{0x8B, 0}}},                   // aberration "no"
        {0x01, 0x00, {2}, {{0x20, 1}}},                   // focus modes other than 5 show 1
        {0x08, 0x0A, {0xB4}, {{0x9E, 0xB4}}},             // rotation notification
        {0x03, 0x02, {200}, {{0x52, 28}}},                // iris clamped to the maximum 28
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> s = command(c.group, c.item, c.values);
        ASSERT_EQ(s.size(), 512u);
        for (const auto &[offset, value] : c.expect)
            EXPECT_EQ(s[offset], value) << "group " << int(c.group) << " item " << int(c.item)
                                        << " offset " << offset;
    }
    EXPECT_EQ(violations(), "");
    // The frame is logged as the IMC received it: the sharpness command.
    EXPECT_NE(sim.ctl("log imc").find("0025000d001000050400070005\n"), std::string::npos);
}

TEST_F(SimImc, ProtectorAndOneShotFocusMoveThenSettle)
{
    std::vector<uint8_t> s = command(0x08, 0x09, {1});
    EXPECT_EQ(s[0x15], 2);  // moving
    ASSERT_TRUE(sim.wait_for("show status 0x15", "01", 2000));

    s = command(0x01, 0x00, {5});
    EXPECT_EQ(s[0x20], 5);
    EXPECT_EQ(s[0x14] & 0x40, 0x40);
    ASSERT_TRUE(sim.wait_for("show status 0x20", "01", 2000));

    ASSERT_TRUE(sim.ok("fault protector_stuck on"));
    command(0x08, 0x09, {0});
    usleep(100000);
    EXPECT_EQ(sim.ctl("show status 0x15"), "02\n");
    ASSERT_TRUE(sim.ok("fault protector_stuck off"));
    EXPECT_TRUE(sim.wait_for("show status 0x15", "00", 2000));
}

TEST_F(SimImc, CaptureModeOutlivesARestartAndSettingsDoNot)
{
    command(0x08, 0x04, {0x00, 0x60, 25});
    std::vector<uint8_t> s = command(0x07, 0x00, {5});
    EXPECT_EQ(s[0x16], 0x60);
    EXPECT_EQ(s[0x17], 25);
    EXPECT_EQ(s[0x80], 5);

    ASSERT_TRUE(sim.ok("power off"));
    ASSERT_TRUE(sim.ok("power on"));
    s = imc_status(fd, req);
    EXPECT_EQ(s[0x16], 0x60);
    EXPECT_EQ(s[0x17], 25);
    EXPECT_EQ(s[0x80], 3);  // back to its start value

    // A capture mode the IMC does not run is refused.
    s = command(0x08, 0x04, {0x00, 0x60, 8});
    EXPECT_EQ(s[0x17], 25);
    EXPECT_NE(violations().find("capture mode 00 60 08"), std::string::npos);
}

TEST_F(SimImc, FramesTheIMCRefuses)
{
    Frame bad = command_frame(0x07, 0x00, {5});
    bad[1] ^= 1;  // checksum
    EXPECT_EQ(imc_exchange(fd, req, bad, nullptr), 512);
    Frame unknown = command_frame(0x09, 0x42, {1});
    EXPECT_EQ(imc_exchange(fd, req, unknown, nullptr), 512);
    Frame short_value = command_frame(0x04, 0x02, {1, 2});
    EXPECT_EQ(imc_exchange(fd, req, short_value, nullptr), 512);
    Frame dirty = status_request();
    dirty[100] = 1;  // the rest of the buffer must be zero
    std::vector<uint8_t> reply;
    EXPECT_EQ(imc_exchange(fd, req, dirty, &reply), 512);

    std::string v = violations();
    EXPECT_NE(v.find("imc: checksum"), std::string::npos);
    EXPECT_NE(v.find("unknown command group 0x09 item 0x42"), std::string::npos);
    EXPECT_NE(v.find("white balance gains command with 2 value bytes, expected 4"), std::string::npos);
    EXPECT_NE(v.find("1 non-zero bytes after the 8-byte frame"), std::string::npos);
    EXPECT_EQ(imc_status(fd, req)[0x80], 3);  // the bad frame changed nothing
}

TEST_F(SimImc, TransferSettingsTheIMCNeeds)
{
    uint8_t tx[512];
    uint8_t rx[512];
    Frame f = status_request();
    for (int i = 0; i < 512; ++i)
        tx[i] = reverse_bits(f[i]);

    struct Case {
        const char *expect;
        void (*change)(spi_ioc_transfer &x);
    };
    const Case cases[] = {
        {"transfer speed 1000000 Hz, the chip needs 3000000 Hz", [](spi_ioc_transfer &x) { x.speed_hz = 1000000; }},
        {"delay after transfer 0 us, the chip needs 1 us", [](spi_ioc_transfer &x) { x.delay_usecs = 0; }},
        {"16 bits per word", [](spi_ioc_transfer &x) { x.bits_per_word = 16; }},
        {"chip select change 1", [](spi_ioc_transfer &x) { x.cs_change = 1; }},
        {"256-byte full-duplex transfer", [](spi_ioc_transfer &x) { x.len = 256; }},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(sim.ok("clear violations"));
        ASSERT_TRUE(req.wait_level(1, 1000));
        spi_ioc_transfer x = imc_transfer(tx, rx, 512);
        c.change(x);
        std::fill(rx, rx + 512, 0);
        EXPECT_EQ(dev_ioctl(fd, SPI_IOC_MESSAGE(1), &x), static_cast<int>(x.len));
        EXPECT_NE(violations().find(c.expect), std::string::npos) << c.expect;
        EXPECT_EQ(std::count(rx, rx + 512, 0), 512) << "no answer with " << c.expect;
    }

    // The wrong SPI mode.
    uint32_t mode = SPI_MODE_0;
    ASSERT_EQ(dev_ioctl(fd, SPI_IOC_WR_MODE32, &mode), 0);
    ASSERT_TRUE(sim.ok("clear violations"));
    EXPECT_EQ(imc_exchange(fd, req, status_request(), nullptr), 512);
    EXPECT_NE(violations().find("imc: SPI mode 0x0, the chip needs 0x1"), std::string::npos);

    // A message whose size is not a whole number of transfer records.
    spi_ioc_transfer rec = imc_transfer(tx, rx, 512);
    EXPECT_EQ(dev_ioctl(fd, _IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, 20), &rec), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_NE(violations().find("SPI_IOC_MESSAGE with a 20-byte record"), std::string::npos);

    // Longer than the driver's buffer: refused by the kernel.
    static uint8_t big[5000];
    spi_ioc_transfer x = imc_transfer(big, nullptr, sizeof big);
    EXPECT_EQ(dev_ioctl(fd, SPI_IOC_MESSAGE(1), &x), -1);
    EXPECT_EQ(errno, EMSGSIZE);
}

// One raw 512-byte status exchange, without waiting for anything.
int raw_status_exchange(int fd)
{
    uint8_t tx[512];
    uint8_t rx[512];
    Frame f = status_request();
    for (int i = 0; i < 512; ++i)
        tx[i] = reverse_bits(f[i]);
    spi_ioc_transfer x = imc_transfer(tx, rx, 512);
    return dev_ioctl(fd, SPI_IOC_MESSAGE(1), &x);
}

const char NO_REQ[] = "imc: 512-byte exchange without a REQ rise since the previous exchange";

TEST_F(SimImc, AnExchangeNeedsAREQRiseSinceThePreviousOne)
{
    // A long REQ period, so that "at once" below stays well inside one
    // period however slowly the build runs (a new period's rise would be a
    // legitimate REQ for the second exchange).
    ASSERT_TRUE(sim.ok("config req_period_ms 400"));
    // After a rise: fine, however late (REQ stays up until taken).
    ASSERT_TRUE(req.wait_level(1, 2000));
    usleep(150000);  // most of a period
    EXPECT_EQ(raw_status_exchange(fd), 512);
    EXPECT_EQ(violations(), "");
    // The exchange took the request: a second one at once has none.
    EXPECT_EQ(req.value(), 0);
    EXPECT_EQ(raw_status_exchange(fd), 512);
    EXPECT_NE(violations().find(NO_REQ), std::string::npos) << violations();

    // A stuck IMC withdraws its request: an exchange after that has none.
    ASSERT_TRUE(sim.ok("clear violations"));
    ASSERT_TRUE(req.wait_level(1, 2000));
    ASSERT_TRUE(sim.ok("fault req_never on"));
    ASSERT_TRUE(req.wait_level(0, 2000));
    EXPECT_EQ(raw_status_exchange(fd), 512);
    EXPECT_NE(violations().find(NO_REQ), std::string::npos);
}

TEST_F(SimImc, OnlyTheExchangeOnTheLastREQMayReachAStoppedIMC)
{
    const std::string OFF = "imc: 512-byte exchange while the IMC is off";
    // A long period: the stop below comes well before the next rise.
    ASSERT_TRUE(sim.ok("config req_period_ms 1500"));
    // The master read REQ high; power goes before its exchange arrives.
    ASSERT_TRUE(req.wait_level(1, 4000));
    ASSERT_TRUE(sim.ok("fault power_good drop"));
    EXPECT_EQ(raw_status_exchange(fd), 512);
    EXPECT_EQ(violations(), "");
    // Nothing can have been read high since.
    EXPECT_EQ(raw_status_exchange(fd), 512);
    EXPECT_NE(violations().find(OFF), std::string::npos) << violations();

    // No request stood when it stopped: the first exchange is blamed too.
    ASSERT_TRUE(sim.ok("power off"));
    ASSERT_TRUE(sim.ok("power on"));
    ASSERT_TRUE(sim.ok("clear violations"));
    ASSERT_TRUE(req.wait_level(1, 4000));
    EXPECT_EQ(raw_status_exchange(fd), 512);
    ASSERT_TRUE(sim.ok("fault power_good drop"));
    EXPECT_EQ(raw_status_exchange(fd), 512);
    EXPECT_NE(violations().find(OFF), std::string::npos) << violations();
}

TEST_F(SimImc, TimedREQStillJudgesByTheRise)
{
    // The timed REQ of earlier rigs: low again after req_high_ms, but the
    // request it made stands until an exchange.
    // A long period: the second exchange comes well before the next rise
    // however slowly the build runs.
    ASSERT_TRUE(sim.ok("config req_period_ms 400"));
    ASSERT_TRUE(sim.ok("config req_timed 1"));
    ASSERT_TRUE(sim.ok("config req_high_ms 2"));
    ASSERT_TRUE(req.wait_level(1, 2000));
    ASSERT_TRUE(req.wait_level(0, 2000));
    EXPECT_EQ(raw_status_exchange(fd), 512);
    EXPECT_EQ(violations(), "");
    EXPECT_EQ(raw_status_exchange(fd), 512);
    EXPECT_NE(violations().find(NO_REQ), std::string::npos);
}

TEST_F(SimImc, StrictIMCIgnoresAFrameWithoutREQ)
{
    ASSERT_TRUE(sim.ok("config req_strict 1"));
    ASSERT_TRUE(imc_status(fd, req).size() == 512);
    // At once, without a new REQ: not answered.
    uint8_t tx[512];
    uint8_t rx[512] = {};
    Frame f = status_request();
    for (int i = 0; i < 512; ++i)
        tx[i] = reverse_bits(f[i]);
    spi_ioc_transfer x = imc_transfer(tx, rx, 512);
    EXPECT_EQ(dev_ioctl(fd, SPI_IOC_MESSAGE(1), &x), 512);
    EXPECT_EQ(std::count(rx, rx + 512, 0), 512);
    EXPECT_NE(violations().find(NO_REQ), std::string::npos);
}

TEST_F(SimImc, EmptyStatusReplies)
{
    ASSERT_TRUE(sim.ok("fault empty_status 2"));
    for (int i = 0; i < 2; ++i) {
        std::vector<uint8_t> empty = imc_status(fd, req);
        EXPECT_EQ(std::count(empty.begin(), empty.end(), 0), 512);
    }
    std::vector<uint8_t> s = imc_status(fd, req);
    EXPECT_EQ(s[0x12], 1);
}

TEST_F(SimImc, SystemResetRestartsTheIMC)
{
    TestLine init("imc_init_done", PINIO_TRIG_BOTH);
    init.value();
    Frame reset = command_frame(0x08, 0x00, {0, 0});
    EXPECT_EQ(reset[0], 0x00);
    EXPECT_EQ(reset[1], 0x23);  // the documented checksum of the frame
    EXPECT_EQ(imc_exchange(fd, req, reset, nullptr), 512);
    EXPECT_TRUE(init.wait_level(0, 1000));
    EXPECT_TRUE(init.wait_level(1, 2000));
    EXPECT_EQ(violations(), "");
}

TEST_F(SimImc, FirmwareUpgradeChangesTheRevision)
{
    std::vector<uint8_t> img = firmware_image(10000, "IMC application Rev.321 built for the rig");
    EXPECT_EQ(imc_exchange(fd, req, version_up_start(static_cast<uint32_t>(img.size())), nullptr), 512);
    std::vector<uint8_t> s = imc_status(fd, req);
    EXPECT_EQ(s[0x1A], 0x01);
    stream_firmware(fd, req, img);
    EXPECT_NE(sim.ctl("log imc").find("fw 00000000 4092\nfw 00000000 4092\nfw ffffffff 1816\n"),
              std::string::npos);

    s = imc_status(fd, req);  // waits out the write-in: no REQ meanwhile
    EXPECT_EQ(s[0x1B], 0x01);
    TestLine done(438, "FWUP_CMPLT");
    EXPECT_TRUE(sim.wait_for("show gpio", "imc_fwup_cmplt in 1", 2000));
    EXPECT_EQ(s[0x08] | s[0x09] << 8, 300);  // the old firmware still runs
    EXPECT_EQ(violations(), "");

    ASSERT_TRUE(sim.ok("power off"));
    ASSERT_TRUE(sim.ok("power on"));
    s = imc_status(fd, req);
    EXPECT_EQ(s[0x08] | s[0x09] << 8, 321);
    EXPECT_EQ(done.value(), 0);
}

TEST_F(SimImc, FirmwareUpgradeAnswersNotOk)
{
    // Refused start.
    ASSERT_TRUE(sim.ok("fault fwup start_ng"));
    EXPECT_EQ(imc_exchange(fd, req, version_up_start(5000), nullptr), 512);
    EXPECT_EQ(imc_status(fd, req)[0x1A], 0x02);

    // Wait time-out of the write-in.
    ASSERT_TRUE(sim.ok("fault fwup timeout"));
    std::vector<uint8_t> img = firmware_image(5000, "Rev.400 x");
    EXPECT_EQ(imc_exchange(fd, req, version_up_start(5000), nullptr), 512);
    EXPECT_EQ(imc_status(fd, req)[0x1A], 0x01);
    stream_firmware(fd, req, img);
    EXPECT_EQ(imc_status(fd, req)[0x1B], 0x00);

    // An image shorter than announced.
    ASSERT_TRUE(sim.ok("fault fwup ok"));
    EXPECT_EQ(imc_exchange(fd, req, version_up_start(6000), nullptr), 512);
    stream_firmware(fd, req, img);
    EXPECT_EQ(imc_status(fd, req)[0x1B], 0x02);
    EXPECT_NE(violations().find("firmware image ends after 5000 bytes, 6000 were announced"),
              std::string::npos);
    EXPECT_EQ(sim.ctl("show gpio").find("imc_fwup_cmplt in 1"), std::string::npos);
}

// What a parameter sender sees of an ignored command: the frame goes out
// and is logged, the IMC raises no objection, and the status block never
// shows it, however often it is sent.
TEST_F(SimImc, AnIgnoredCommandIsTakenButNeverShows)
{
    ASSERT_TRUE(sim.ok("fault ignore 0x07 0x00 on"));  // sharpness
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> s = command(0x07, 0x00, {5});
        ASSERT_EQ(s.size(), 512u);
        EXPECT_EQ(s[0x80], 3) << "send " << i + 1;
    }
    EXPECT_EQ(violations(), "");
    std::string log = sim.ctl("log imc");
    size_t sends = 0;
    for (size_t at = log.find("0025000d001000050400070005\n"); at != std::string::npos;
         at = log.find("0025000d001000050400070005\n", at + 1))
        ++sends;
    EXPECT_EQ(sends, 3u);
    EXPECT_NE(sim.ctl("show faults").find("ignore 0x07 0x00 sharpness\n"), std::string::npos);

    ASSERT_TRUE(sim.ok("fault clear"));
    EXPECT_EQ(command(0x07, 0x00, {5})[0x80], 5);
}

// The current exposure indices over the link: they move after an exposure
// command and settle; hunting keeps them changing.
TEST_F(SimImc, ExposureIndicesMoveSettleAndHunt)
{
    ASSERT_TRUE(sim.ok("config exposure_step_ms 5"));
    command(0x03, 0x03, {30});
    command(0x03, 0x00, {5});  // shutter priority at index 30: gain 22 makes up for it
    EXPECT_TRUE(sim.wait_for("show status 0x42 3", "08 1e 16", 5000));
    EXPECT_TRUE(sim.wait_for("show state", "exposure steady\n", 2000));
    std::vector<uint8_t> s = imc_status(fd, req);
    ASSERT_EQ(s.size(), 512u);
    EXPECT_EQ(s[0x43], 30);
    EXPECT_EQ(s[0x44], 22);

    ASSERT_TRUE(sim.ok("fault exposure_hunting on"));
    std::string first = sim.ctl("show status 0x43 2");
    bool changed = false;
    for (int i = 0; i < 200 && !changed; ++i) {
        usleep(10000);
        changed = sim.ctl("show status 0x43 2") != first;
    }
    EXPECT_TRUE(changed);
    ASSERT_TRUE(sim.ok("fault exposure_hunting off"));
    EXPECT_TRUE(sim.wait_for("show status 0x42 3", "08 1e 16", 5000));
    EXPECT_EQ(violations(), "");
}

}  // namespace
}  // namespace optad::test
