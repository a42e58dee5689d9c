// The IMC firmware: the revision in the image's version text, the check
// against the IMC's revision, and the upgrade step by step on the fakes and
// the virtual clock: the IMC's answers, the streamed image, the
// FWUP_CMPLT wait and every failure on the way.
#include "imc/firmware.h"

#include "imc/spi.h"
#include "platform/clock.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;

constexpr const char IMAGE[] = "/usr/lib/firmware/optad/IMC.app";
// FWUP_CMPLT as the fake knows it: requested by number.
constexpr const char FWUP_CMPLT[] = "438";

std::string frame(int stars)
{
    return "/" + std::string(stars, '*') + "/\n";
}

// A 60-byte version text: `text` at `at`, the rest filled with 'x'.
std::string version_text(const std::string &text, size_t at = 0)
{
    std::string v(60, 'x');
    v.replace(at, text.size(), text);
    return v.substr(0, 60);
}

// A virtual clock that raises FWUP_CMPLT once the upgrade has slept through
// `sleeps_before_high` of its 10 ms poll pauses (-1: never). Optionally it
// also keeps REQ from rising once armed: every reading of the clock then
// moves it on by 100 ms and queues one more low REQ reading.
class UpgradeClock : public VirtualClock {
public:
    explicit UpgradeClock(test::FakePinio &pins) : pins_(pins) {}
    int sleeps_before_high = -1;
    bool req_stuck_low = false;
    int64_t polls_slept = 0;

    int64_t now_us() override
    {
        if (req_stuck_low) {
            advance(100'000);
            pins_.req_edge(0);
        }
        return VirtualClock::now_us();
    }
    void sleep_us(int64_t us) override
    {
        VirtualClock::sleep_us(us);
        if (us == 10'000 && ++polls_slept == sleeps_before_high)
            pins_.line(FWUP_CMPLT).value = 1;
    }

private:
    test::FakePinio &pins_;
};

int open_descriptors()
{
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (dirent *e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

class FirmwareTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        hw.pins.line("imc_req").value = 1;
        // The IMC raises REQ after every transfer.
        hw.dev.after_imc_transfer = [this] {
            if (++transfers == stuck_after)
                clock.req_stuck_low = true;
            else
                hw.pins.req_edge(1);
        };
        ASSERT_EQ(spi_open_and_init(nullptr, nullptr), 0);
        hw.pins.req_edge(0);
        hw.pins.req_edge(1);
        descriptors = open_descriptors();
    }
    void TearDown() override
    {
        EXPECT_EQ(open_descriptors(), descriptors) << "the image is closed on every way out";
        clock.req_stuck_low = false;
        spi_close();
        clock_set_source(nullptr);
    }

    void image(const std::string &bytes) { root.write(IMAGE, bytes); }
    // An image of n bytes: a version text of revision 310, then noise.
    std::string image_of(size_t n)
    {
        std::string bytes = version_text("IMC application Rev.310 2026-12-08");
        std::mt19937 gen(static_cast<unsigned>(n));
        while (bytes.size() < n)
            bytes.push_back(static_cast<char>(gen()));
        bytes.resize(n);
        image(bytes);
        return bytes;
    }
    // The IMC's answers to an upgrade: none to the start command itself,
    // then the start answer (0x1A) and the write-in answer (0x1B).
    void answers(uint8_t start, uint8_t write_in)
    {
        hw.dev.imc_replies.push_back(std::vector<uint8_t>(512, 0));
        hw.dev.imc_replies.push_back(test::status_reply({{0x1A, start}, {0x08, 0x2C}, {0x09, 0x01}}));
        hw.dev.imc_replies.push_back(test::status_reply({{0x1A, 0x01}, {0x1B, write_in}, {0x08, 0x2C}, {0x09, 0x01}}));
    }
    // The firmware messages: transmit-only transfers.
    std::vector<test::SpiTransfer> messages() const
    {
        std::vector<test::SpiTransfer> out;
        for (const test::SpiTransfer &t : hw.dev.imc_transfers)
            if (!t.has_rx)
                out.push_back(t);
        return out;
    }
    int polls() const { return static_cast<int>(hw.pins.calls_starting("get 438").size()); }
    // The log's banner lines and the firmware module's own lines, in order.
    std::vector<std::string> firmware_lines(int priority) const
    {
        std::vector<std::string> out;
        for (const LogCapture::Line &l : log.lines())
            if (l.priority == priority &&
                (l.text.rfind("/", 0) == 0 || l.text.find(":optad:firmware") != std::string::npos))
                out.push_back(l.text);
        return out;
    }

    FakeHardware hw;
    UpgradeClock clock{hw.pins};
    test::SandboxRoot root;
    LogCapture log;
    int transfers = 0;
    int stuck_after = -1;
    int descriptors = 0;
};

// ---------------- the revision in the image ----------------

TEST_F(FirmwareTest, RevisionFromTheVersionText)
{
    struct Case {
        std::string first_bytes;
        int revision;
        const char *error;  // the one error line, or null
    } cases[] = {
        {version_text("IMC application Rev.123 2026-12-08"), 123, nullptr},
        {version_text("Rev.9999 "), 9999, nullptr},
        {version_text("Rev.0 "), 0, nullptr},
        {version_text("Rev. 5"), 0, nullptr},             // the blank at once: no digits
        {version_text("Rev.abc "), 0, nullptr},           // not a number
        // A decimal number as the C library reads one: sign, digits as far
        // as they go.
        {version_text("Rev.-12 "), -12, nullptr},
        {version_text("Rev.-999 "), -999, nullptr},
        {version_text("Rev.+42 "), 42, nullptr},
        {version_text("Rev.-0 "), 0, nullptr},
        {version_text("Rev.- "), 0, nullptr},             // a sign alone: not a number
        {version_text("Rev.--1 "), 0, nullptr},
        {version_text("Rev.7a9 "), 7, nullptr},
        {version_text("Rev.12-3 "), 12, nullptr},
        {version_text("Rev.\t12 "), 12, nullptr},         // white space before it
        {version_text("Rev.12345 "), -1, "ERROR:optad:firmware - Did not find revision number in firmware file!!\n"},
        {version_text("Rev.310"), -1, "ERROR:optad:firmware - Did not find revision number in firmware file!!\n"},
        {version_text("Rev.7 ", 54), 7, nullptr},         // blank at position 59, the last
        {version_text("Rev.", 56), -1, "ERROR:optad:firmware - Did not find revision number in firmware file!!\n"},
        {std::string(57, 'x') + "Rev.123 ", 0, "ERROR:optad:firmware - Did not find 'Rev.' in firmware file!!\n"},
        {std::string(60, '\0'), 0, "ERROR:optad:firmware - Did not find 'Rev.' in firmware file!!\n"},
        // Too short for the version text: no image, not revision 0.
        {"Rev.123 " + std::string(51, ' '),
         -1, "ERROR:optad:firmware - Not able to read version information from firmware file!!\n"},  // 59 bytes
        {"", -1, "ERROR:optad:firmware - Not able to read version information from firmware file!!\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.first_bytes);
        image(c.first_bytes + "payload after the version text");
        if (c.first_bytes.size() < 60)
            image(c.first_bytes);
        log.clear();
        EXPECT_EQ(get_firmware_file_revision(), c.revision);
        std::vector<std::string> errors;
        for (const LogCapture::Line &l : log.lines())
            if (l.priority == LOG_ERR)
                errors.push_back(l.text);
        EXPECT_EQ(errors, c.error ? std::vector<std::string>{c.error} : std::vector<std::string>{});
    }
}

TEST_F(FirmwareTest, RevisionLogsTheTextFromTheMarkerOn)
{
    image(version_text("IMC application Rev.123 2026-12-08") + "more");
    EXPECT_EQ(get_firmware_file_revision(), 123);
    const std::vector<std::string> expected = {
        frame(76),
        "/* optad:firmware - Get IMC firmware revision from firmware file at NWC side */\n",
        frame(76),
        "DEBUG:optad:firmware - Firmware version information=Rev.123 2026-12-08" + std::string(26, 'x') + "\n",
        "DEBUG:optad:firmware - Firmware revision (integer)=123\n",
    };
    EXPECT_EQ(firmware_lines(LOG_DEBUG), expected);

    LogCapture quiet(false);
    EXPECT_EQ(get_firmware_file_revision(), 123);
    EXPECT_EQ(quiet.text(), "");
}

TEST_F(FirmwareTest, AMissingImageHasNoRevision)
{
    EXPECT_EQ(get_firmware_file_revision(), -1);
    EXPECT_EQ(log.count("2 (No such file or directory) ERROR:optad:firmware - Failed to open "
                        "/usr/lib/firmware/optad/IMC.app\n"),
              1);
}

// ---------------- the check ----------------

TEST_F(FirmwareTest, CheckComparesTheImageWithTheImc)
{
    struct Case {
        uint8_t imc_low, imc_high;  // status bytes 0x08, 0x09
        int result;
        int stars;
        const char *banner;
    } cases[] = {
        {122, 0, 0, 64, "/* optad:firmware - IMC firmware needs upgrade to newer version! */\n"},
        {123, 0, -2, 64, "/* optad:firmware - IMC firmware is already the latest firmware! */\n"},
        {124, 0, 1, 66, "/* optad:firmware - IMC firmware needs downgrade to older version! */\n"},
        {0x7B, 0x01, 1, 66, "/* optad:firmware - IMC firmware needs downgrade to older version! */\n"},  // 379
    };
    image(version_text("Rev.123 "));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.result);
        // Two replies: the check's own status request, then the decoder's.
        hw.dev.imc_replies.push_back(test::status_reply({{0x08, 1}}));
        hw.dev.imc_replies.push_back(test::status_reply({{0x08, c.imc_low}, {0x09, c.imc_high}}));
        log.clear();
        EXPECT_EQ(check_firmware_version(), c.result);
        const std::vector<std::string> lines = firmware_lines(LOG_DEBUG);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
                  (std::vector<std::string>{frame(c.stars), c.banner, frame(c.stars)}));
        const int imc = c.imc_low + 256 * c.imc_high;
        EXPECT_EQ(log.count("DEBUG:optad:firmware - Firmware revision at IMC side (integer)=" + std::to_string(imc) +
                            "\n"),
                  2)
            << "the decoder's line and the check's";
        EXPECT_EQ(log.count("/* optad:firmware - Get installed firmware revision at IMC side */\n"), 2);
    }
}

TEST_F(FirmwareTest, AnImageWithoutVersionTextIsOlderThanAnyImc)
{
    image(std::string(100, 'x'));
    hw.dev.imc_replies.push_back(test::status_reply({{0x08, 1}}));
    hw.dev.imc_replies.push_back(test::status_reply({{0x08, 1}}));
    EXPECT_EQ(check_firmware_version(), 1);
}

TEST_F(FirmwareTest, CheckFailsWhenARevisionIsMissing)
{
    // No image, or one whose number has no end: the IMC is not asked.
    EXPECT_EQ(check_firmware_version(), -1);
    image(version_text("Rev.12345 "));
    EXPECT_EQ(check_firmware_version(), -1);
    // Too short for a version text: not an image to flash, whatever the IMC runs.
    image("");
    EXPECT_EQ(check_firmware_version(), -1);
    image("Rev.123 ");
    EXPECT_EQ(check_firmware_version(), -1);
    // A negative revision is none: no IMC is "downgraded" to it.
    image(version_text("IMC application Rev.-12 2026-12-08"));
    EXPECT_EQ(check_firmware_version(), -1);
    EXPECT_TRUE(hw.dev.imc_transfers.empty());

    // The IMC gives no status: three empty replies.
    image(version_text("Rev.123 "));
    EXPECT_EQ(check_firmware_version(), -1);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 3u);
    EXPECT_EQ(log.count_containing("Firmware revision at IMC side (integer)"), 0);
}

// ---------------- the upgrade ----------------

TEST_F(FirmwareTest, UpgradeStreamsTheWholeImageAndWaitsForCompletion)
{
    const size_t size = 3 * 4092 + 100;
    const std::string bytes = image_of(size);
    answers(0x01, 0x01);
    hw.pins.line(FWUP_CMPLT).value = 1;

    EXPECT_EQ(firmware_upgrade(), 0);

    // The start command announces the size (big-endian, bytes 13-16).
    ASSERT_GE(hw.dev.imc_transfers.size(), 2u);
    const std::vector<uint8_t> start = test::unreversed(hw.dev.imc_transfers[0].tx);
    EXPECT_EQ(std::vector<uint8_t>(start.begin(), start.begin() + 17),
              (std::vector<uint8_t>{0x02, 0x85, 0x00, 0x11, 0x00, 0x10, 0x00, 0x09, 0x08, 0x99, 0x55, 0x99, 0x55,
                                    0x00, 0x00, 0x30, 0x58}));
    // Start, status request, four messages, status request.
    ASSERT_EQ(hw.dev.imc_transfers.size(), 7u);
    const std::vector<uint8_t> status_request = {0x00, 0xF8, 0x00, 0x08, 0x00, 0xF8, 0x00, 0x00};
    for (size_t i : {1u, 6u}) {
        const std::vector<uint8_t> f = test::unreversed(hw.dev.imc_transfers[i].tx);
        EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 8), status_request) << i;
    }
    std::string streamed;
    const std::vector<test::SpiTransfer> m = messages();
    ASSERT_EQ(m.size(), 4u);
    for (size_t i = 0; i < m.size(); ++i) {
        const std::vector<uint8_t> wire = test::unreversed(m[i].tx);
        const uint8_t header = i + 1 == m.size() ? 0xFF : 0x00;
        EXPECT_EQ(std::vector<uint8_t>(wire.begin(), wire.begin() + 4), std::vector<uint8_t>(4, header)) << i;
        EXPECT_EQ(m[i].len, i + 1 == m.size() ? 104u : 4096u);
        streamed.append(wire.begin() + 4, wire.begin() + m[i].len);
    }
    EXPECT_EQ(streamed, bytes);

    // One poll of FWUP_CMPLT, requested by number and label and released.
    EXPECT_EQ(hw.pins.calls_starting("request_number"), std::vector<std::string>{"request_number FWUP_CMPLT 438"});
    EXPECT_EQ(hw.pins.calls_starting("open 438").size(), 1u);
    EXPECT_EQ(polls(), 1);
    EXPECT_EQ(hw.pins.line(FWUP_CMPLT).requested, 0);
    EXPECT_EQ(hw.pins.line(FWUP_CMPLT).open_count, 0);
    EXPECT_EQ(clock.slept_us(), 0);

    const std::vector<std::string> expected = {
        frame(40),
        "/* Step 0. Starting Firmware upgrade!   */\n",
        "/* The below steps are mapped to:       */\n",
        "/* 'QEB FIRMUP v0.1' chapter 5, page 9. */\n",
        frame(40),
        frame(40),
        "/* Step 0. Using default firmware file: */\n",
        "/* /usr/lib/firmware/optad/IMC.app       */\n",
        frame(40),
        frame(62),
        "/* Step 1-2. NWC sends Firmware version-up start command.     */\n",
        "/* IMC receives and activates Firmware version-up start mode. */\n",
        frame(62),
        frame(56),
        "/* Step 3. NWC requests Camera status over SPI to get   */\n",
        "/* feedback from the Firmware version-up start command. */\n",
        frame(56),
        "DEBUG:optad:firmware - recv_buf[0x1a]==01\n",
        frame(52),
        "/* Step 5. NWC received OK for Firmware version-up! */\n",
        frame(52),
        frame(54),
        "/* Step 6-7. Whole Firmware file has been transfered! */\n",
        "/* NWC requests Camera status over SPI to get         */\n",
        "/* feedback regarding the Firmware write-in.          */\n",
        frame(56),
        "DEBUG:optad:firmware - recv_buf[0x1b]==01\n",
        frame(50),
        "/* Step 9. NWC received OK for Firmware write-in! */\n",
        frame(50),
        frame(72),
        "/* Step 9-11. NWC waits for response for the Firmware write-in complete */\n",
        "/* IMC will set GPIO FWUP_CMPLT to HIGH when response is ready          */\n",
        frame(72),
        frame(50),
        "/* Step 12. NWC received HIGH on GPIO FWUP_CMPLT! */\n",
        frame(50),
        frame(32),
        "/* Step 12. Upgrade Completed!! */\n",
        "/* NWC will restart IMC         */\n",
        frame(32),
    };
    EXPECT_EQ(firmware_lines(LOG_DEBUG), expected);
    EXPECT_TRUE(firmware_lines(LOG_WARNING).empty());
}

TEST_F(FirmwareTest, ASuccessfulUpgradeWritesNothingWithVerboseLoggingOff)
{
    LogCapture quiet(false);
    image_of(5000);
    answers(0x01, 0x01);
    hw.pins.line(FWUP_CMPLT).value = 1;
    EXPECT_EQ(firmware_upgrade(), 0);
    EXPECT_EQ(quiet.text(), "");
}

TEST_F(FirmwareTest, ARefusedStartSendsNoImageData)
{
    LogCapture quiet(false);  // the warning banner is written regardless
    image_of(5000);
    answers(0x02, 0x01);
    EXPECT_EQ(firmware_upgrade(), 0);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 2u);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(polls(), 0);
    const std::vector<std::string> expected = {
        frame(52),
        "/* Step 4. NWC Received NG for Firmware version-up! */\n",
        "/* Expected byte 0x1a to be 0x01, but it was 0x02!  */\n",
        "/* NWC will restart IMC!                            */\n",
        frame(52),
    };
    EXPECT_EQ(firmware_lines(LOG_WARNING), expected);
    EXPECT_EQ(quiet.lines().size(), expected.size()) << quiet.text();
}

TEST_F(FirmwareTest, AWriteInWaitTimeoutSleepsThreeMinutes)
{
    image_of(5000);
    answers(0x01, 0x00);
    EXPECT_EQ(firmware_upgrade(), 0);
    EXPECT_EQ(clock.slept_us(), 180'000'000);
    EXPECT_EQ(messages().size(), 2u);
    EXPECT_EQ(polls(), 0);
    const std::vector<std::string> expected = {
        frame(60),
        "/* Step 8. NWC received Wait Timeout for Firmware write-in! */\n",
        "/* Expected byte 0x1b to be 0x01, but it was 0x00!          */\n",
        "/* NWC will sleep 3min and then restart IMC!                */\n",
        frame(60),
    };
    EXPECT_EQ(firmware_lines(LOG_WARNING), expected);
}

TEST_F(FirmwareTest, ARefusedWriteInEndsTheUpgrade)
{
    image_of(5000);
    answers(0x01, 0x03);
    EXPECT_EQ(firmware_upgrade(), 0);
    EXPECT_EQ(clock.slept_us(), 0);
    EXPECT_EQ(polls(), 0);
    const std::vector<std::string> expected = {
        frame(51),
        "/* Step 8. NWC received NG for Firmware write-in!  */\n",
        "/* Expected byte 0x1b to be 0x01, but it was 0x03! */\n",
        "/* NWC will restart IMC!                           */\n",
        frame(51),
    };
    EXPECT_EQ(firmware_lines(LOG_WARNING), expected);
}

TEST_F(FirmwareTest, CompletionOnTheLastPollStillCounts)
{
    image_of(5000);
    answers(0x01, 0x01);
    clock.sleeps_before_high = 29'999;
    EXPECT_EQ(firmware_upgrade(), 0);
    EXPECT_EQ(polls(), 30'000);
    EXPECT_EQ(clock.slept_us(), 29'999LL * 10'000);
    EXPECT_EQ(hw.pins.calls_starting("request_number").size(), 30'000u);
    EXPECT_EQ(hw.pins.calls_starting("free 438").size(), 30'000u);
    EXPECT_EQ(log.count("/* Step 12. Upgrade Completed!! */\n"), 1);
    EXPECT_TRUE(firmware_lines(LOG_WARNING).empty());
}

TEST_F(FirmwareTest, NoCompletionWithinFiveMinutesFails)
{
    image_of(5000);
    answers(0x01, 0x01);
    EXPECT_EQ(firmware_upgrade(), -1);
    EXPECT_EQ(polls(), 30'000);
    // 10 ms between polls, none after the last.
    EXPECT_EQ(clock.slept_us(), 29'999LL * 10'000);
    EXPECT_EQ(hw.pins.line(FWUP_CMPLT).requested, 0);
    const std::vector<std::string> expected = {
        frame(71),
        "/* Step 12. Timeout (5min) occurred while waiting for GPIO FWUP_CMPLT! */\n",
        "/* NWC will restart IMC!                                               */\n",
        frame(71),
    };
    EXPECT_EQ(firmware_lines(LOG_WARNING), expected);
    EXPECT_EQ(log.count_containing("Upgrade Completed"), 0);
}

TEST_F(FirmwareTest, AFailedFwupCmpltCallEndsTheUpgradeAtOnce)
{
    struct Case {
        int test::FakeLine::*flag;
        const char *message;
        int closes;  // close() calls: only after a successful open
    } cases[] = {
        {&test::FakeLine::fail_request,
         "16 - (Device or resource busy) ERROR:optad:firmware - Not possible to request GPIO438 FWUP_CMPLT!\n", 0},
        {&test::FakeLine::fail_open,
         "16 - (Device or resource busy) ERROR:optad:firmware - Not possible to full open GPIO438 FWUP_CMPLT!\n", 0},
        {&test::FakeLine::fail_get,
         "16 - (Device or resource busy) ERROR:optad:firmware - Not possible to get value of GPIO438 FWUP_CMPLT!\n",
         1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        test::FakeLine &line = hw.pins.line(FWUP_CMPLT);
        line.fail_request = line.fail_open = line.fail_get = 0;
        line.*(c.flag) = EBUSY;
        hw.pins.clear_calls();
        image_of(5000);
        answers(0x01, 0x01);
        log.clear();
        EXPECT_EQ(firmware_upgrade(), -1);
        EXPECT_EQ(log.count(c.message), 1);
        EXPECT_EQ(hw.pins.calls_starting("request_number").size(), 1u) << "not retried";
        EXPECT_EQ(hw.pins.calls_starting("close 438").size(), static_cast<size_t>(c.closes));
        EXPECT_EQ(line.requested, 0);
        EXPECT_EQ(line.open_count, 0);
        EXPECT_EQ(clock.slept_us(), 0);
    }
}

TEST_F(FirmwareTest, LinkFailuresEndTheUpgradeWithTheirResult)
{
    // Which transfer fails: the start command (0), the start answer's
    // status request (1), the second image message (3), the write-in
    // answer's status request (5).
    struct Case {
        size_t failing;
        const char *message;
        size_t messages;  // image messages sent
    } cases[] = {
        {0, "5 - (Input/output error) ERROR:optad:spi_send_buffers - SPI_IOC_MESSAGE failed\n", 0},
        {1, "5 - (Input/output error) ERROR:optad:spi_send_buffers - SPI_IOC_MESSAGE failed\n", 0},
        {3, "5 - (Input/output error) ERROR:optad:spi_send_firmware_file - SPI_IOC_MESSAGE failed\n", 2},
        {5, "5 - (Input/output error) ERROR:optad:spi_send_buffers - SPI_IOC_MESSAGE failed\n", 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failing);
        hw.dev.imc_transfers.clear();
        hw.dev.imc_replies.clear();
        image_of(3 * 4092);
        answers(0x01, 0x01);
        // The transfers before the failing one move their whole length.
        const int lengths[] = {512, 512, 4096, 4096, 4096, 512};
        hw.dev.imc_results.assign(lengths, lengths + c.failing);
        hw.dev.imc_results.push_back(-1);
        hw.pins.clear_calls();
        log.clear();
        EXPECT_EQ(firmware_upgrade(), -1);
        EXPECT_EQ(log.count(c.message), 1) << log.text();
        EXPECT_EQ(messages().size(), c.messages);
        EXPECT_EQ(polls(), 0);
        EXPECT_EQ(log.count_containing("Whole Firmware file has been transfered"), c.failing < 5 ? 0 : 1);
    }
}

TEST_F(FirmwareTest, TheImcsAnswersAreAwaitedTenAndThirtySeconds)
{
    // REQ never rises again after the start command, or after the last
    // of the two image messages.
    struct Case {
        int stuck_after;  // transfers before REQ stops
        int64_t timeout_us;
    } cases[] = {{1, 10'000'000}, {4, 30'000'000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.timeout_us);
        hw.dev.imc_replies.clear();
        image_of(5000);
        answers(0x01, 0x01);
        transfers = 0;
        stuck_after = c.stuck_after;
        const int64_t before = clock.now_us();
        log.clear();
        EXPECT_EQ(firmware_upgrade(), -1);
        const int64_t waited = clock.now_us() - before;
        clock.req_stuck_low = false;
        EXPECT_GE(waited, c.timeout_us);
        EXPECT_LE(waited, c.timeout_us + 1'000'000);
        EXPECT_EQ(log.count("/* Timeout (10s) occurred while waiting for GPIO REQ! */\n"), 1);
        // Let REQ rise again for the next case.
        hw.pins.req_edge(1);
    }
}

TEST_F(FirmwareTest, NoImageNoUpgrade)
{
    // Missing, empty, or not a file: the IMC is never told to expect one.
    EXPECT_EQ(firmware_upgrade(), -1);
    EXPECT_EQ(log.count("2 (No such file or directory) ERROR:optad:firmware - Failed to open "
                        "/usr/lib/firmware/optad/IMC.app\n"),
              1);
    image("");
    EXPECT_EQ(firmware_upgrade(), -1);
    EXPECT_EQ(log.count("ERROR:optad:firmware - /usr/lib/firmware/optad/IMC.app is no firmware image (0 bytes)!\n"),
              1);
    ASSERT_EQ(::unlink(root.path(IMAGE).c_str()), 0);
    ASSERT_EQ(::mkdir(root.path(IMAGE).c_str(), 0755), 0);
    EXPECT_EQ(firmware_upgrade(), -1);
    EXPECT_EQ(log.count_containing("ERROR:optad:firmware - /usr/lib/firmware/optad/IMC.app is no firmware image"), 2);
    EXPECT_TRUE(hw.dev.imc_transfers.empty());
}

}  // namespace
}  // namespace optad
