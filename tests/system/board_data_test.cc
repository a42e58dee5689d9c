// Bad board data on the rig: PMIC command files that are missing or carry
// rows the interpreter does not know, and firmware images that are
// missing, too short or without their version text. None of it may crash
// the daemon, and each leaves the module where the next power-up or
// start-up recovers it.
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <fstream>
#include <string>

namespace optad::test {
namespace {

constexpr const char *UPDATE_PARAMS =
    "DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - OPTAD state changed to OPTAD_STARTUP_UPDATE_PARAMS";
constexpr const char *CHECK_FAILED = "ERROR:optad:main_loop:JT_CHECK_FIRM_UP - Firmware version check failed!";
constexpr const char *BEING_UPGRADED = "Image Chip is being upgraded...";

std::string rig_pmic_file(const char *name)
{
    std::ifstream in(std::string(OPTAD_SOURCE_DIR) + "/tests/rig/board/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(BadPmicFile, AMissingFileLeavesTheModuleUnpoweredUntilItIsBack)
{
    OPTAD_HOST_ONLY_LONG_SCENARIO();
    DaemonRig rig(all_peers(), Board::DC, {.board = {.pmic_files = false}});
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "ERROR:optad:power_control - Failed to open the configfile = ", 10000));
    // Without the rails programmed the supplies never become good.
    ASSERT_TRUE(optad_logged(rig, "ERROR:optad:power_up - POWER_GOOD not set HIGH!", 20000));
    rig.root().write(PMIC_FILE_DE, rig_pmic_file("imc_pmic_init_cmd_de"));
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 40000));
    EXPECT_EQ(optad_log_count(rig, "Retry startup sequence again! Retry number=1"), 1);
    EXPECT_EQ(optad_log_count(rig, "Retry number=2"), 0);
    EXPECT_EQ(rig.sim().violations(), "");
}

TEST(BadPmicFile, UnknownRowsAreLoggedAndSkipped)
{
    const std::string damaged = "x unknown row\n"
                                " w 0x90 0x10 0x1E\n"
                                "\n"
                                "\r\n"
                                "# a comment\n" +
                                rig_pmic_file("imc_pmic_init_cmd_de") + "?\n";
    DaemonRig rig(all_peers(), Board::DC, {.files = {{PMIC_FILE_DE, damaged}}});
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 30000));
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:power_control - Unhandled row: 'x unknown row"), 1);
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:power_control - Unhandled row: ' w 0x90 0x10 0x1E"), 1)
        << "a row must start in the first column";
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:power_control - Unhandled row: '?"), 1);
    EXPECT_EQ(optad_log_count(rig, "Unhandled row"), 3);
    EXPECT_EQ(rig.sim().violations(), "");
}

// The firmware image the daemon compares and streams.
TEST(BadFirmwareFile, AMissingImageIsAFailedCheckAndStartUpGoesOn)
{
    DaemonRig rig(all_peers(), Board::DC, {.board = {.firmware_size = -1}});
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 30000));
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:firmware - Failed to open "), 1);
    EXPECT_EQ(optad_log_count(rig, CHECK_FAILED), 1);
    EXPECT_EQ(optad_log_count(rig, BEING_UPGRADED), 0);
    EXPECT_EQ(rig.root().read(IMC_STATUS_FILE), "FIRMWARE_UP_TO_DATE");
    EXPECT_EQ(rig.sim().violations(), "");
}

// Too short to hold the version text: no image at all, so it is never
// streamed into the IMC.
class ShortFirmwareFile : public ::testing::TestWithParam<int> {};

TEST_P(ShortFirmwareFile, IsAFailedCheckNotADowngrade)
{
    DaemonRig rig(all_peers(), Board::DC, {.board = {.firmware_size = GetParam()}});
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 30000));
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:firmware - Not able to read version information from firmware file!!"),
              1);
    EXPECT_EQ(optad_log_count(rig, CHECK_FAILED), 1);
    EXPECT_EQ(optad_log_count(rig, BEING_UPGRADED), 0);
    EXPECT_NE(rig.sim().ctl("show state").find("revision " + std::to_string(SIM_FACTORY_REVISION)),
              std::string::npos);
    EXPECT_EQ(rig.sim().violations(), "");
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShortFirmwareFile, ::testing::Values(0, 30, 59));

TEST(BadFirmwareFile, AnImageWithoutItsVersionTextCountsAsRevisionZero)
{
    // 60 bytes of version text without the marker, then the payload.
    std::string image = "IMC application build 2026-12-08";
    image.resize(60, ' ');
    for (int i = 0; image.size() < 20000; ++i)
        image.push_back(static_cast<char>(i * 7));
    DaemonRig rig(all_peers(), Board::DC, {.board = {.firmware_size = -1}, .files = {{FIRMWARE_FILE, image}}});
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 60000));
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:firmware - Did not find 'Rev.' in firmware file!!"), 2)
        << "the check that downgraded and the one after the restart";
    EXPECT_EQ(optad_log_count(rig, "IMC firmware needs downgrade to older version!"), 1);
    EXPECT_EQ(optad_log_count(rig, BEING_UPGRADED), 1);
    EXPECT_NE(rig.sim().ctl("show state").find("revision 0"), std::string::npos) << rig.sim().ctl("show state");
    EXPECT_EQ(rig.sim().violations(), "");
}

}  // namespace
}  // namespace optad::test
