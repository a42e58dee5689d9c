// The IMC firmware on the rig: the daemon compares the image's revision
// with the IMC's at every start and streams the whole image when they
// differ; the IMC's refusals end in a restart, and a module that only
// starts in safe mode is recovered by an upgrade.
#include "tests/system/daemon_rig.h"
#include "tests/system/module_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace optad::test {
namespace {

constexpr const char *UPDATE_PARAMS =
    "DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - OPTAD state changed to OPTAD_STARTUP_UPDATE_PARAMS";
constexpr const char *RESTARTING = "DEBUG:optad:main_loop:JT_RESTART_IMC - Restarting IMC from Main Loop";
constexpr const char *BEING_UPGRADED = "Image Chip is being upgraded...";
constexpr const char *UPGRADE_COMPLETED = "Image Chip upgrade completed!";
constexpr const char *UPGRADE_FAILED = "ERROR:optad:main_loop:JT_PERFORM_FIRM_UP - IMC firmware upgrade failed";

// The firmware messages the IMC received: one "fw <header> <bytes>" line
// each.
struct Stream {
    int messages = 0;
    int last_headers = 0;  // FFFFFFFF headers
    long bytes = 0;
};

Stream received_stream(Simulator &sim)
{
    Stream s;
    for (const std::string &line : sim_log_lines(sim, "imc")) {
        if (line.rfind("fw ", 0) != 0)
            continue;
        ++s.messages;
        const std::string header = line.substr(3, 8);
        s.last_headers += header == "ffffffff";
        s.bytes += std::stol(line.substr(12));
    }
    return s;
}

int count_in(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

bool optad_logged_times(Rig &rig, const std::string &fragment, int n, int timeout_ms)
{
    return rig.iterate_until([&] { return optad_log_count(rig, fragment) >= n; }, scaled_ms(timeout_ms));
}

// An image of another revision is streamed whole, the IMC restarts into it
// and the next check finds it current.
class Upgrade : public ::testing::TestWithParam<int> {};

TEST_P(Upgrade, TheWholeImageIsStreamedAndTheImcRunsItAfterTheRestart)
{
    const int revision = GetParam();
    const int size = 256 * 1024 + 17;  // not a whole number of messages
    DaemonRig rig(all_peers(), Board::DC, {.board = {.firmware_revision = revision, .firmware_size = size}});
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 60000));
    Simulator &sim = rig.sim();

    EXPECT_EQ(optad_log_count(rig, revision > SIM_FACTORY_REVISION ? "IMC firmware needs upgrade to newer version!"
                                                                   : "IMC firmware needs downgrade to older version!"),
              1);
    EXPECT_EQ(optad_log_count(rig, BEING_UPGRADED), 1);
    EXPECT_EQ(optad_log_count(rig, UPGRADE_COMPLETED), 1);
    EXPECT_EQ(optad_log_count(rig, UPGRADE_FAILED), 0);
    EXPECT_EQ(optad_log_count(rig, "/* Step 12. Upgrade Completed!! */"), 1);
    EXPECT_EQ(optad_log_count(rig, RESTARTING), 1);
    EXPECT_EQ(optad_log_count(rig, "IMC firmware is already the latest firmware!"), 2);

    // 4092 bytes per message, the last one marked.
    const Stream s = received_stream(sim);
    EXPECT_EQ(s.bytes, size);
    EXPECT_EQ(s.messages, (size + 4091) / 4092);
    EXPECT_EQ(s.last_headers, 1);
    EXPECT_NE(sim.ctl("show state").find("revision " + std::to_string(revision)), std::string::npos)
        << sim.ctl("show state");
    EXPECT_EQ(rig.root().read(IMC_STATUS_FILE), "FIRMWARE_UP_TO_DATE");

    // The upgrade overlay went up for the upgrade and down after the check.
    MockPeer &captiond = rig.peer(Peer::Captiond);
    EXPECT_TRUE(rig.iterate_until([&] { return count_in(captiond.calls_text(), "Unset ('PTZ_BLOCK_UPGRADE',)") >= 1 &&
                                               count_in(captiond.calls_text(), "Set ('PTZ_BLOCK_UPGRADE'") == 1; },
                                  scaled_ms(5000)))
        << captiond.calls_text();
    const std::string calls = captiond.calls_text();
    EXPECT_LT(calls.find("Set ('PTZ_BLOCK_UPGRADE'"), calls.rfind("Unset ('PTZ_BLOCK_UPGRADE',)"));
    EXPECT_EQ(sim.violations(), "");
}

INSTANTIATE_TEST_SUITE_P(Revisions, Upgrade, ::testing::Values(SIM_FACTORY_REVISION + 10, SIM_FACTORY_REVISION - 10));

// The end of an upgrade: the IMC holds the new image only once FWUP_CMPLT
// has risen (power or reset taken away before leaves only its boot loader),
// and in version-up mode it takes no system reset command. Each row makes
// one step the daemon must not skip show on the rig: a late FWUP_CMPLT,
// later than the 5 s the shutdown waits before it isolates and resets the
// module, turns a restart that did not wait for it into a module that
// starts only in safe boot; a reset command on the link is seen there and
// is a violation. Either way the module must come back at once, normally
// started, running the new revision.
struct UpgradeEnd {
    const char *name;
    std::vector<std::string> simulator_args;
    const char *must_not_log;  // what skipping the step makes the daemon log
    const char *imc_must_not_see;  // what skipping the step puts on the link
};

// The system reset command as the imc log prints it: checksum 0x0023,
// length 14, type 0x0010, body length 6, command length 5, 00, group 08,
// item 00, arguments 00 00.
constexpr const char *SYSTEM_RESET = "0023000e00100006050008000000";

class UpgradeEndTest : public ::testing::TestWithParam<UpgradeEnd> {};

TEST_P(UpgradeEndTest, TheModuleComesBackRunningTheNewImage)
{
    const UpgradeEnd &c = GetParam();
    const int revision = SIM_FACTORY_REVISION + 7;
    ModuleSetup setup;
    setup.simulator_args = c.simulator_args;
    setup.board = {.firmware_revision = revision, .firmware_size = 20000};
    DaemonRig rig(all_peers(), Board::DC, setup);
    ASSERT_TRUE(rig.ok());
    // Up to date after the restart, or (sooner) what skipping the step leads to.
    const auto skipped = [&] { return c.must_not_log != nullptr && optad_log_count(rig, c.must_not_log) > 0; };
    EXPECT_TRUE(rig.iterate_until([&] { return optad_log_count(rig, UPDATE_PARAMS) > 0 || skipped(); },
                                  scaled_ms(60000)));
    Simulator &sim = rig.sim();

    EXPECT_FALSE(skipped()) << c.must_not_log;
    ASSERT_EQ(optad_log_count(rig, UPDATE_PARAMS), 1);
    if (c.imc_must_not_see != nullptr) {
        for (const std::string &line : sim_log_lines(sim, "imc"))
            EXPECT_NE(line, c.imc_must_not_see);
    }
    EXPECT_EQ(optad_log_count(rig, BEING_UPGRADED), 1);
    EXPECT_EQ(optad_log_count(rig, "/* Step 12. Upgrade Completed!! */"), 1);
    EXPECT_EQ(optad_log_count(rig, RESTARTING), 1);
    EXPECT_EQ(optad_log_count(rig, "Activated SAFE_BOOT"), 0);
    const std::string state = sim.ctl("show state");
    EXPECT_NE(state.find("\nimc running\nimc_mode normal\n"), std::string::npos) << state;
    EXPECT_NE(state.find("\nimc_revision " + std::to_string(revision) + "\n"), std::string::npos) << state;
    EXPECT_NE(state.find("\nflash application\n"), std::string::npos) << state;
    EXPECT_EQ(rig.root().read(IMC_STATUS_FILE), "FIRMWARE_UP_TO_DATE");
    EXPECT_EQ(sim.violations(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, UpgradeEndTest,
    ::testing::Values(UpgradeEnd{"TheRestartWaitsForFwupCmplt", {"--set", "fwup_cmplt_ms=9000"},
                                 "ERROR:optad:power_up - INIT_DONE not set HIGH!", nullptr},
                      UpgradeEnd{"TheRestartSendsNoResetCommand", {}, nullptr, SYSTEM_RESET}),
    [](const ::testing::TestParamInfo<UpgradeEnd> &info) { return info.param.name; });

// The IMC refuses the upgrade: the daemon restarts it and tries again at
// the next check, here with the refusal gone.
struct Refusal {
    const char *fault;
    const char *banner;
};

class RefusedUpgrade : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedUpgrade, EndsInARestartAndTheNextCheckTriesAgain)
{
    const Refusal r = GetParam();
    if (std::string(r.fault) == "ng")
        OPTAD_HOST_ONLY_LONG_SCENARIO();
    DaemonRig rig(all_peers(), Board::DC,
                  {.before_optad = {std::string("fault fwup ") + r.fault},
                   .board = {.firmware_revision = SIM_FACTORY_REVISION + 1, .firmware_size = 20000}});
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, r.banner, 30000));
    Simulator &sim = rig.sim();
    ASSERT_TRUE(sim.ok("fault fwup ok"));
    ASSERT_TRUE(optad_logged(rig, RESTARTING, 10000));
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 60000));

    EXPECT_EQ(optad_log_count(rig, BEING_UPGRADED), 2);
    EXPECT_EQ(optad_log_count(rig, UPGRADE_COMPLETED), 2) << "also after the refusal";
    EXPECT_EQ(optad_log_count(rig, RESTARTING), 2);
    EXPECT_EQ(optad_log_count(rig, r.banner), 1);
    EXPECT_NE(sim.ctl("show state").find("revision " + std::to_string(SIM_FACTORY_REVISION + 1)), std::string::npos);
    EXPECT_EQ(sim.violations(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RefusedUpgrade,
    ::testing::Values(Refusal{"start_ng", "/* Step 4. NWC Received NG for Firmware version-up! */"},
                      Refusal{"ng", "/* Step 8. NWC received NG for Firmware write-in!  */"}));

TEST(SafeMode, AModuleThatOnlyStartsInSafeBootIsRecoveredByAnUpgrade)
{
    OPTAD_HOST_ONLY_LONG_SCENARIO();
    // The IMC's normal start fails until a write-in succeeds; in safe boot
    // its boot loader answers.
    DaemonRig rig(all_peers(), Board::DC,
                  {.before_optad = {"fault init_done_never until_upgrade"},
                   .board = {.firmware_revision = SIM_FACTORY_REVISION + 5, .firmware_size = 30000}});
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 120000));

    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:power_up - INIT_DONE not set HIGH!"), 1);
    EXPECT_EQ(optad_log_count(rig,
                              "ERROR:optad:main_loop:JT_POWER_UP_SEQ:SAFE_MODE - IMC power up sequence failed! Retry "
                              "with Safe Mode!"),
              1);
    EXPECT_EQ(optad_log_count(rig, "DEBUG:optad:power_up - Activated SAFE_BOOT (set to HIGH)"), 1);
    EXPECT_EQ(optad_log_count(rig, BEING_UPGRADED), 1);
    EXPECT_EQ(optad_log_count(rig, UPGRADE_FAILED), 0);
    // The boot loader's interrupt reaches the main loop while the safe boot
    // is still being handled and changes nothing; only the normal start
    // after the upgrade starts a firmware check.
    EXPECT_GE(optad_log_count(rig, "Received IMC Interrupt!"), 1);
    EXPECT_EQ(optad_log_count(rig, "JT_CHECK_FIRM_UP - Received Check Firmware upgrade"), 1);
    EXPECT_NE(rig.sim().ctl("show state").find("revision " + std::to_string(SIM_FACTORY_REVISION + 5)),
              std::string::npos);
    EXPECT_EQ(rig.root().read(IMC_STATUS_FILE), "FIRMWARE_UP_TO_DATE");
    EXPECT_EQ(rig.sim().violations(), "");
}

}  // namespace
}  // namespace optad::test
