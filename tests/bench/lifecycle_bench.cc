// The module's life on the rig, timed as the camera would see it: the real
// optad, the simulator with its default timings, the private bus and the
// mocked services.
//
//   build/host/tests/lifecycle_bench [MiB...]     (1 and 8 by default)
//
//   power-up   from the power budget's SetPower to OPTAD_STARTUP_UPDATE_PARAMS
//              (power-up, first interrupt, firmware check), next to the
//              fixed delays of the power-up order
//   restart    from POWER_GOOD dropping to OPTAD_STARTUP_UPDATE_PARAMS again,
//              next to the fixed delays of shutdown, pause and power-up
//   upgrade    "Image Chip is being upgraded..." to "Image Chip upgrade
//              completed!" for an image of each size, next to its floor:
//              the wire time at 3 MHz, and the IMC's REQ pacing (one REQ
//              rise per message)
// Times are taken when the line appears in the daemon's log, read every
// millisecond.
#include "tests/bench/log_watch.h"
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace optad::test {
namespace {

std::vector<int> image_mib = {1, 8};

constexpr const char *UPDATE_PARAMS = "OPTAD state changed to OPTAD_STARTUP_UPDATE_PARAMS";

TEST(LifecycleBench, PowerUpAndRestart)
{
    DaemonRig rig(peers_without_grant(), Board::PoE);
    ASSERT_TRUE(rig.ok());
    LogWatch log(rig.optad()->path(Program::Stream::Err));
    ASSERT_GT(log.wait("Created datacache", 20), 0);
    rig.iterate_until([] { return false; }, 500);

    const double granted = now_s();
    g_autoptr(GVariant) r = rig.peer(Peer::Wattd).control("Grant", g_variant_new("(d)", 25.0));
    const double up = log.wait(UPDATE_PARAMS, 60);
    ASSERT_GT(up, 0);
    std::printf("power-up   SetPower -> UPDATE_PARAMS  %7.3f s   fixed delays 0.600 s\n", up - granted);

    rig.iterate_until([] { return false; }, 1000);
    const double dropped = now_s();
    ASSERT_TRUE(rig.sim().ok("fault power_good drop"));
    const double again = log.wait(UPDATE_PARAMS, 60);
    ASSERT_GT(again, 0);
    std::printf("restart    POWER_GOOD -> UPDATE_PARAMS %7.3f s   fixed delays 5.470 + 3.000 + 0.600 = 9.070 s\n",
                again - dropped);
    EXPECT_EQ(rig.sim().violations(), "");
}

TEST(LifecycleBench, FirmwareUpgrade)
{
    for (int mib : image_mib) {
        const int size = mib * 1024 * 1024;
        DaemonRig rig(all_peers(), Board::DC,
                      {.board = {.firmware_revision = SIM_FACTORY_REVISION + 1, .firmware_size = size}});
        ASSERT_TRUE(rig.ok());
        LogWatch log(rig.optad()->path(Program::Stream::Err));
        const double start = log.wait("Image Chip is being upgraded...", 60);
        ASSERT_GT(start, 0);
        const double end = log.wait("Image Chip upgrade completed!", 600);
        ASSERT_GT(end, 0);
        const int messages = (size + 4091) / 4092;
        const double wire_s = (static_cast<double>(size) + 4.0 * messages) * 8 / 3e6;
        // The IMC raises REQ once per period, and every message waits for a
        // rise of its own.
        const std::string config = rig.sim().ctl("config");
        const size_t at = config.find("req_period_ms");
        const int period_ms = at == std::string::npos ? 0 : std::atoi(config.c_str() + at + 14);
        std::printf("upgrade    %d MiB: %7.3f s   %d messages; wire at 3 MHz %.3f s; REQ pacing %d x %d ms = %.3f s\n",
                    mib, end - start, messages, wire_s, messages, period_ms, messages * period_ms / 1000.0);
        EXPECT_EQ(rig.sim().violations(), "");
    }
}

}  // namespace
}  // namespace optad::test

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1) {
        optad::test::image_mib.clear();
        for (int i = 1; i < argc; ++i)
            optad::test::image_mib.push_back(std::max(1, std::atoi(argv[i])));
    }
    return RUN_ALL_TESTS();
}
