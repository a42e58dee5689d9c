// Faults of a running module on the rig: each one the daemon finds in the
// status block (or on its GPIO lines, or at the FPGA check) restarts the
// module, which comes back to OPTAD_STARTUP_DONE with the whole
// configuration pushed again; the fifth IMC error leaves it off for good.
#include "tests/system/params_rig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace optad::test {
namespace {

constexpr const char *JT_ERROR_RESTART =
    "ERROR:optad:main_loop:JT_ERROR - Received error status from IMC! Restarting Image Chip (IMC)...";
constexpr const char *FAILED_FIVE_TIMES = "ERROR:optad:main_loop:JT_ERROR - Image Chip (IMC) has failed 5 times!";

struct FaultCase {
    const char *name;
    // Set up first (a command that makes the fault happen).
    std::vector<std::string> properties;
    // Simulator commands that inject the fault, and those that take it away
    // once the daemon has reported it.
    std::vector<std::string> inject;
    std::vector<std::string> clear;
    const char *error_line;
    int error_timeout_ms;
    // The restart goes through JT_ERROR (counted) rather than a GPIO
    // listener or the FPGA check.
    bool imc_error;
    // The IMC is running at the restart, so the shutdown resets it first.
    bool system_reset;
    // The protector is closed again after the restart: the push opens it.
    bool protector_job;
    // The frames sent before the restart because of the set-up.
    std::vector<std::string> before;
    bool long_scenario;
};

const FaultCase fault_cases[] = {
    {"HeartBeatStopped", {}, {"fault heartbeat stop"}, {"fault heartbeat run"},
     "ERROR:optad:main_loop:check_for_errors - IMC system stopped unexpectedly (Heartbeat ERROR)!", 15000, true, true,
     false, {}, false},
    {"LensError", {}, {"fault lens_error 0x05"}, {"fault lens_error off"},
     "ERROR:optad:main_loop:check_for_errors - Lens Error! (Code: 0x05)!", 5000, true, true, false, {}, false},
    // The user closes the protector and it never arrives.
    {"ProtectorStuckMoving",
     {"[('SensorProtector', <b'close'>)]"},
     {"fault protector_stuck on"},
     {"fault protector_stuck off"},
     "ERROR:optad:main_loop:check_for_errors - Sunlight protector stuck in Moving state!",
     10000,
     true,
     true,
     true,
     {set_frame(0x08, 0x09, {0x00})},
     false},
    {"IrCutFilterError", {}, {"fault ircut_error on"}, {"fault ircut_error off"},
     "ERROR:optad:main_loop:check_for_errors - IR Cut Filter responds error!", 5000, true, true, false, {}, false},
    // Found at the FPGA check a minute after start-up was done.
    {"FpgaLinkLost", {}, {"fault fpga_link loss"}, {},
     "ERROR:optad:main_loop:check_for_errors - Lost link in FPGA!!!, io_exp=0x", 75000, false, true, false, {}, true},
    // The listener restarts it; the stopped IMC takes no reset command, and
    // neither the poll running at the drop nor the shutdown's reset command
    // waits for its REQ.
    {"PowerGoodDrop", {}, {"fault power_good drop"}, {}, "Image Chip Error, GPIO ", 15000, false, false, false, {},
     false},
};

class RunningModuleFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(RunningModuleFault, RestartsTheModuleAndPushesTheParametersAgain)
{
    const FaultCase &c = GetParam();
    if (c.long_scenario)
        OPTAD_HOST_ONLY_LONG_SCENARIO();
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    ASSERT_TRUE(sim.ok("clear imc"));

    for (const std::string &command : c.inject)
        ASSERT_TRUE(sim.ok(command));
    for (const std::string &list : c.properties)
        ASSERT_EQ(imc_set_properties(rig, list), "(true,)");
    ASSERT_TRUE(optad_logged(rig, c.error_line, c.error_timeout_ms));
    for (const std::string &command : c.clear)
        ASSERT_TRUE(sim.ok(command));

    ASSERT_TRUE(optad_logged_times(rig, STARTUP_DONE, 2, 60000));
    std::vector<std::string> expected = c.before;
    if (c.system_reset)
        expected.push_back(SYSTEM_RESET_FRAME);
    const std::vector<JobFrame> push = startup_push(c.protector_job);
    for (const std::string &f : frames_of(push))
        expected.push_back(f);
    EXPECT_EQ(command_frames(sim), expected);

    // A POWER_GOOD drop stops the IMC, so INIT_DONE falls with it: both
    // listeners may report it, and the restart runs once.
    EXPECT_GE(optad_log_count(rig, c.error_line), 1);
    EXPECT_LE(optad_log_count(rig, c.error_line), std::string(c.name) == "PowerGoodDrop" ? 2 : 1);
    EXPECT_EQ(optad_log_count(rig, JT_ERROR_RESTART), c.imc_error ? 1 : 0);
    EXPECT_EQ(optad_log_count(rig, FAILED_FIVE_TIMES), 0);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 1);
    EXPECT_EQ(optad_log_count(rig, "Done updating params!"), 2);
    EXPECT_EQ(optad_log_count(rig, "Got no feedback from Image Chip"), 0);
    // A running IMC answers every exchange, and a stopped one is never
    // waited for.
    EXPECT_EQ(optad_log_count(rig, "Timeout (10s) occurred while waiting for GPIO REQ!"), 0);
    // Running again: black video off, polling on.
    EXPECT_NE(sim.ctl("show cam0").find("black_video 0\n"), std::string::npos);
    EXPECT_EQ(imc_get_text(rig, "SensorProtector"), "b'open'");
    EXPECT_EQ(sim.ctl("show status 0x15 1"), "01\n");
    EXPECT_EQ(sim.violations(), "");
}

INSTANTIATE_TEST_SUITE_P(Faults, RunningModuleFault, ::testing::ValuesIn(fault_cases),
                         [](const ::testing::TestParamInfo<FaultCase> &info) { return info.param.name; });

// A heart beat held at FF FF means the IMC asks for no supervision: however
// long it stays, it is no fault.
TEST(ImcErrors, AHeartBeatHeldAtFfffIsNotSupervised)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    ASSERT_TRUE(sim.ok("fault heartbeat ffff"));
    ASSERT_TRUE(sim.wait_for("show status 0xA0 2", "ff ff", scaled_ms(2000)));
    // Past the 5 s a frozen heart beat may last.
    g_usleep(static_cast<gulong>(scaled_ms(7000)) * 1000);
    EXPECT_EQ(optad_log_count(rig, "Heartbeat ERROR"), 0);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 0);
    // Polling goes on.
    ASSERT_TRUE(sim.ok("clear imc"));
    EXPECT_TRUE(rig.iterate_until([&] { return sim_log_lines(sim, "imc").size() >= 3; }, scaled_ms(3000)));
    ASSERT_TRUE(sim.ok("fault heartbeat run"));
    EXPECT_EQ(sim.violations(), "");
}

// An IR-cut error that does not go away fails the module at every start:
// four restarts, and the fifth error switches it off for good. Property
// changes are then stored and announced but never sent.
TEST(ImcErrors, TheFifthErrorLeavesTheModuleOffAndChangesAreOnlyStored)
{
    OPTAD_HOST_ONLY_LONG_SCENARIO();
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();

    ASSERT_TRUE(sim.ok("fault ircut_error on"));
    ASSERT_TRUE(optad_logged(rig, FAILED_FIVE_TIMES, 120000));
    // Four restarts and the final shutdown.
    ASSERT_TRUE(optad_logged_times(rig, "DEBUG:optad:shutdown - IMC shutdown Completed!!!", 5, 30000));
    EXPECT_EQ(optad_log_count(rig, JT_ERROR_RESTART), 4);
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:main_loop:check_for_errors - IR Cut Filter responds error!"), 5);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 4);
    EXPECT_EQ(optad_log_count(rig, STARTUP_DONE), 1);
    EXPECT_NE(sim.ctl("show gpio").find("imc_12v_enable out 0"), std::string::npos) << sim.ctl("show gpio");

    // Nothing brings it back, and nothing reaches it.
    ASSERT_TRUE(sim.ok("fault ircut_error off"));
    ASSERT_TRUE(sim.ok("clear imc"));
    ASSERT_TRUE(sim.ok("clear gpio"));
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    ASSERT_EQ(imc_set_properties(rig, "[('Brightness', <70>), ('Sharpness', <100>)]"), "(true,)");
    EXPECT_TRUE(wait_for_change(rig, changed, "Sharpness", "100", 5000));
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "Brightness"), "70");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "Sharpness"), "100");
    EXPECT_EQ(imc_get_text(rig, "Brightness"), "70");
    // Several polling periods later: no frame, no line driven, no new try.
    g_usleep(static_cast<gulong>(scaled_ms(3000)) * 1000);
    EXPECT_EQ(sim_log_lines(sim, "imc"), std::vector<std::string>{});
    EXPECT_EQ(program_gpio_writes(sim).size(), 0u);
    EXPECT_EQ(optad_log_count(rig, FAILED_FIVE_TIMES), 1);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 4);
    EXPECT_EQ(sim.violations(), "");
}

}  // namespace
}  // namespace optad::test
