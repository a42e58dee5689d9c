// The daemon as a whole under the faults that used to wedge it: an IMC that
// stops raising REQ (while a parameter is being sent, then losing power), a
// hung IMC that is restarted and one that keeps hanging, and a firmware
// upgrade. Throughout each scenario a reader keeps calling Properties.Get,
// which must be answered at once whatever the module is doing.
#include "tests/system/client_thread.h"
#include "tests/system/params_rig.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace optad::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *HUNG = "times in a row (no REQ or a failed transfer)! The IMC is hung";
constexpr const char *RESTARTING = "Restarting IMC from Main Loop";
constexpr const char *FAILED_FIVE_TIMES = "ERROR:optad:main_loop:JT_ERROR - Image Chip (IMC) has failed 5 times!";

// Reads a property over and over, every 20 ms.
class GetProbe : public ClientThread {
public:
    explicit GetProbe(Rig &rig)
        : ClientThread([&rig](ClientThread &c) {
              c.call([&rig] { return !imc_get_text(rig, "Sharpness").empty(); });
              std::this_thread::sleep_for(std::chrono::milliseconds(20));
          })
    {
    }
};

// One step of a scenario.
struct Step {
    enum Kind { Sim, SetProperties, Sleep, WaitLog } kind;
    std::string text;  // the command, the list, or the log fragment
    int n_or_ms;       // WaitLog: how many times; Sleep: milliseconds
    int timeout_ms = 0;
};

struct Scenario {
    const char *name;
    // A cold start with an upgrade instead of a module already running.
    bool cold_upgrade;
    std::vector<Step> steps;
    // STARTUP_DONE lines at the end (the start and each recovery).
    int startups;
    int startup_timeout_ms;
    // Lines the daemon must have logged this often at the end.
    std::vector<std::pair<const char *, int>> counts;
    bool long_scenario;
};

const Scenario scenarios[] = {
    // The IMC stops raising REQ just as a change is sent; the send fails,
    // is tried again, and 12 s later the module loses power. The listener's
    // restart must get in at once and bring the module back.
    {"HungSendThenPowerLoss",
     false,
     {{Step::Sim, "fault req_never on", 0},
      {Step::SetProperties, "[('Sharpness', <90>)]", 0},
      {Step::Sleep, "", 12000},
      {Step::Sim, "fault req_never off", 0},
      {Step::Sim, "fault power_good drop", 0}},
     2,
     40000,
     {{RESTARTING, 1}, {HUNG, 0}},
     false},
    // A hung IMC (no REQ, still powered) is an IMC error: restarted.
    {"HungImcIsRestarted",
     false,
     {{Step::Sim, "fault req_never on", 0},
      {Step::WaitLog, HUNG, 1, 45000},
      {Step::Sim, "fault req_never off", 0}},
     2,
     60000,
     {{HUNG, 1}, {RESTARTING, 1}, {FAILED_FIVE_TIMES, 0}},
     false},
    // One that keeps hanging counts towards the five like any IMC error and
    // is left off for good.
    {"HungImcKeepsHanging",
     false,
     {{Step::Sim, "fault req_never on", 0}, {Step::WaitLog, FAILED_FIVE_TIMES, 1, 300000}},
     1,
     1000,
     {{HUNG, 5}, {RESTARTING, 4}},
     true},
    // A cold start that upgrades the IMC first (1 MiB).
    {"ColdStartWithUpgrade", true, {}, 1, 120000, {{"Image Chip upgrade completed!", 1}}, false},
};

class Dependability : public ::testing::TestWithParam<Scenario> {};

TEST_P(Dependability, TheModuleRecoversAndTheServiceAlwaysAnswers)
{
    const Scenario &s = GetParam();
    if (s.long_scenario)
        OPTAD_HOST_ONLY_LONG_SCENARIO();
    ModuleSetup setup;
    if (s.cold_upgrade) {
        setup.board.firmware_revision = SIM_FACTORY_REVISION + 10;
        setup.board.firmware_size = 1024 * 1024;
    }
    DaemonRig rig(all_peers(), Board::DC, setup);
    ASSERT_TRUE(rig.ok());
    GetProbe probe(rig);
    if (!s.cold_upgrade) {
        ASSERT_TRUE(optad_logged(rig, STARTUP_DONE, 60000));
    }
    Simulator &sim = rig.sim();

    const auto start = Clock::now();
    for (const Step &step : s.steps) {
        switch (step.kind) {
        case Step::Sim:
            ASSERT_TRUE(sim.ok(step.text));
            break;
        case Step::SetProperties:
            ASSERT_EQ(imc_set_properties(rig, step.text), "(true,)");
            break;
        case Step::Sleep:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.n_or_ms));
            break;
        case Step::WaitLog:
            ASSERT_TRUE(optad_logged_times(rig, step.text, step.n_or_ms, step.timeout_ms)) << step.text;
            break;
        }
    }
    ASSERT_TRUE(optad_logged_times(rig, STARTUP_DONE, s.startups, s.startup_timeout_ms))
        << "running again within " << s.startup_timeout_ms << " ms";
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    probe.stop();

    for (const auto &[fragment, n] : s.counts)
        EXPECT_EQ(optad_log_count(rig, fragment), n) << fragment;
    EXPECT_GT(probe.calls(), 10);
    EXPECT_EQ(probe.failed(), 0);
    EXPECT_LT(probe.worst_ms(), scaled_ms(500)) << "the slowest Get of " << probe.calls();
    EXPECT_EQ(sim.violations(), "");
    RecordProperty("seconds", std::to_string(took.count() / 1000.0));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Dependability, ::testing::ValuesIn(scenarios),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return info.param.name; });

// A service manager starts the daemon again after a crash, and the module
// is still powered and running from the last instance: the new one shuts it
// down, starts it afresh and runs it with the stored configuration.
TEST(Takeover, ADaemonRestartedAfterACrashTakesOverTheRunningModule)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    ASSERT_EQ(imc_set_properties(rig, "[('Sharpness', <90>)]"), "(true,)");
    ASSERT_TRUE(optad_logged(rig, "Sharpness", 5000));

    ASSERT_EQ(::kill(rig.optad()->pid(), SIGKILL), 0);
    rig.stop_optad();
    ASSERT_NE(rig.start_optad(), nullptr);
    ASSERT_TRUE(rig.wait_for_optad_on_bus(20000));
    GetProbe probe(rig);
    ASSERT_TRUE(optad_logged(rig, STARTUP_DONE, 60000)) << "no start-up state waits for good";
    probe.stop();

    EXPECT_EQ(optad_log_count(rig, "The module is still powered from an earlier run! Shutting it down first"), 1);
    EXPECT_EQ(optad_log_count(rig, "No interrupt from the IMC"), 0) << "a fresh start sends its interrupt";
    EXPECT_EQ(optad_log_count(rig, "Done updating params!"), 1);
    EXPECT_EQ(imc_get_text(rig, "Sharpness"), "90");
    EXPECT_EQ(probe.failed(), 0);
    EXPECT_LT(probe.worst_ms(), scaled_ms(500));
    EXPECT_EQ(sim.violations(), "");
}

}  // namespace
}  // namespace optad::test
