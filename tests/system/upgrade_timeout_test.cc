// A firmware write-in that the IMC answers with its wait time-out: the
// daemon waits three minutes, as the IMC may still be writing, before it
// restarts the module. A real-time wait, so it runs in the host build only.
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

namespace optad::test {
namespace {

constexpr const char *UPDATE_PARAMS =
    "DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - OPTAD state changed to OPTAD_STARTUP_UPDATE_PARAMS";
constexpr const char *RESTARTING = "DEBUG:optad:main_loop:JT_RESTART_IMC - Restarting IMC from Main Loop";

TEST(RefusedUpgradeTimeout, AWriteInTimeoutWaitsThreeMinutesThenRestarts)
{
    if (time_scale() > 1)
        GTEST_SKIP() << "a real three-minute wait: host build only";
    DaemonRig rig(all_peers(), Board::DC,
                  {.before_optad = {"fault fwup timeout"},
                   .board = {.firmware_revision = SIM_FACTORY_REVISION + 1, .firmware_size = 20000}});
    ASSERT_TRUE(rig.ok());
    const char *banner = "/* Step 8. NWC received Wait Timeout for Firmware write-in! */";
    ASSERT_TRUE(optad_logged(rig, banner, 30000));
    const int64_t seen = g_get_monotonic_time();
    ASSERT_TRUE(rig.sim().ok("fault fwup ok"));
    ASSERT_TRUE(optad_logged(rig, RESTARTING, 200000));
    EXPECT_GE(g_get_monotonic_time() - seen, 179'000'000);
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 60000));
    EXPECT_EQ(rig.sim().violations(), "");
}

}  // namespace
}  // namespace optad::test
