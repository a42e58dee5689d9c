// The module's life on the rig: the unmodified optad powers the simulated
// module up line by line with the PMIC programmed, takes its first
// interrupt, checks the firmware, and restarts the module whenever its
// supplies or its IMC fail. The GPIO writes and their delays are compared
// with the power-up and shutdown orders of the board, written out here.
#include "tests/system/daemon_rig.h"
#include "tests/system/module_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace optad::test {
namespace {

// The power-up order: supplies, PMIC path, DC/DC, clock, reset release,
// PCIe reset, FPGA, SPI front. The PMIC rows run between the two PMIC
// tristate steps.
const std::vector<GpioStep> POWER_UP_BEFORE_PMIC = {
    {"fpga_reset", 0, 0},
    {"imc_1_8v_rst_buffer_enable", 1, 0},
    {"imc_12v_enable", 1, 0},
    {"imc_i2c_pmic_tristate", 1, 100},
};
const std::vector<GpioStep> POWER_UP_AFTER_PMIC = {
    {"imc_i2c_pmic_tristate", 0, 100, true},  // after the PMIC rows and their delays
    {"imc_dcdc_en", 1, 100},
    {"imc_pcie_clk_enable", 1, 50, true},  // after POWER_GOOD
    {"imc_front_reset", 1, 50},
    {"imc_perst", 1, 100, true},  // after INIT_DONE
    {"fpga_reset", 1, 100},
    {"imc_spi_front_tristate", 0, 0},
};
// The shutdown order.
const std::vector<GpioStep> SHUTDOWN = {
    {"imc_spi_front_tristate", 1, 5000, true}, {"imc_perst", 0, 10},          {"fpga_reset", 0, 10},
    {"imc_front_reset", 0, 50},                {"imc_pcie_clk_enable", 0, 50}, {"imc_safe_boot", 0, 0},
    {"imc_dcdc_en", 0, 50},
    {"imc_12v_enable", 0, 300, true},  // after POWER_GOOD went low
    {"imc_1_8v_rst_buffer_enable", 0, 0},
};

// The PMIC writes of the rig's two command files, as the PMIC sees them
// (7-bit address 0x48, register, value): the voltage selects, the
// sequencing step, then the rail enables (all four rails on the DE-phase
// board, the three bucks on the DC-phase board).
const std::vector<std::string> PMIC_WRITES_DE = {
    "0x48 10 1e", "0x48 11 3c", "0x48 12 2a", "0x48 13 32", "0x48 21 02", "0x48 20 0f",
};
const std::vector<std::string> PMIC_WRITES_DC = {
    "0x48 10 1e", "0x48 11 3c", "0x48 12 2a", "0x48 21 02", "0x48 20 07",
};

constexpr const char *UPDATE_PARAMS =
    "DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - OPTAD state changed to OPTAD_STARTUP_UPDATE_PARAMS";
constexpr const char *RESTARTING = "DEBUG:optad:main_loop:JT_RESTART_IMC - Restarting IMC from Main Loop";
constexpr const char *STATUS_REQUEST_FRAME = "00f8000800f80000";

std::vector<std::string> program_i2c_writes(Simulator &sim)
{
    std::vector<std::string> writes;
    for (const std::string &line : sim_log_lines(sim, "i2c")) {
        if (line.rfind("ctl ", 0) != 0)
            writes.push_back(line);
    }
    return writes;
}

// Waits until the daemon logged fragment at least n times.
bool optad_logged_times(Rig &rig, const std::string &fragment, int n, int timeout_ms)
{
    return rig.iterate_until([&] { return optad_log_count(rig, fragment) >= n; }, scaled_ms(timeout_ms));
}

void expect_cold_start(DaemonRig &rig, const std::vector<std::string> &pmic_writes, const char *phase_line)
{
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 30000));
    Simulator &sim = rig.sim();

    const std::vector<SimEvent> gpio = program_gpio_writes(sim);
    size_t at = 0;
    EXPECT_TRUE(gpio_steps_match(gpio, &at, POWER_UP_BEFORE_PMIC));
    EXPECT_TRUE(gpio_steps_match(gpio, &at, POWER_UP_AFTER_PMIC));
    EXPECT_EQ(at, gpio.size()) << "no other GPIO write: " << (at < gpio.size() ? gpio[at].text : "");
    EXPECT_EQ(program_i2c_writes(sim), pmic_writes);

    EXPECT_EQ(optad_log_count(rig, phase_line), 1);
    EXPECT_EQ(optad_log_count(rig, "DEBUG:optad:power_up - FPGA link_up is up!!!"), 1);
    EXPECT_EQ(optad_log_count(rig, "DEBUG:optad:power_up - IMC power up succeeded!!!"), 1);
    // The first interrupt starts the one firmware check; an interrupt line
    // that rises again while the module comes up (each edge now reaches the
    // main loop at once) changes nothing after it.
    EXPECT_GE(optad_log_count(rig, "Received IMC Interrupt!"), 1);
    EXPECT_EQ(optad_log_count(rig, "JT_CHECK_FIRM_UP - Received Check Firmware upgrade"), 1);
    EXPECT_EQ(optad_log_count(rig, "IMC firmware is already the latest firmware!"), 2)
        << "the check's banner and the main loop's line";
    EXPECT_EQ(rig.root().read(IMC_STATUS_FILE), "FIRMWARE_UP_TO_DATE");

    // Polling is on: status requests keep arriving after the firmware check.
    const auto status_requests = [&] {
        int n = 0;
        for (const std::string &line : sim_log_lines(sim, "imc"))
            n += line == STATUS_REQUEST_FRAME;
        return n;
    };
    const int seen = status_requests();
    EXPECT_TRUE(rig.iterate_until([&] { return status_requests() >= seen + 3; }, scaled_ms(5000)));
    EXPECT_EQ(sim.violations(), "");
}

TEST(ColdStart, DePhaseModuleOnADcSupplyPowersUpLineByLine)
{
    DaemonRig rig(all_peers(), Board::DC);
    ASSERT_TRUE(rig.ok());
    expect_cold_start(rig, PMIC_WRITES_DE, "DEBUG:optad:power_up - DE phase IMC board detected!");
    // The upgrade overlay is cleared once the firmware is known current.
    MockPeer &captiond = rig.peer(Peer::Captiond);
    EXPECT_TRUE(rig.iterate_until([&] { return !captiond.method_calls("Unset").empty(); }, scaled_ms(5000)));
    EXPECT_NE(captiond.calls_text().find("Unset ('PTZ_BLOCK_UPGRADE',)"), std::string::npos);
    EXPECT_EQ(captiond.method_calls("Set").size(), 0u) << captiond.calls_text();
}

TEST(ColdStart, DcPhaseModuleRunsTheDcPmicFile)
{
    DaemonRig rig(all_peers(), Board::DC, {.before_optad = {"drive imc_power_type 0"}});
    ASSERT_TRUE(rig.ok());
    expect_cold_start(rig, PMIC_WRITES_DC, "DEBUG:optad:power_up - DC phase IMC board detected!");
}

TEST(ColdStart, PoeBoardPowersUpOnceGranted)
{
    DaemonRig rig(all_peers(), Board::PoE);
    ASSERT_TRUE(rig.ok());
    expect_cold_start(rig, PMIC_WRITES_DE, "DEBUG:optad:power_up - DE phase IMC board detected!");
    EXPECT_GE(optad_log_count(rig, "Got enough power!"), 1);
}

// A running module whose supplies or IMC fail is shut down, left off for
// 3 s and powered up again, once per failure.
class Restart : public ::testing::TestWithParam<const char *> {};

TEST_P(Restart, ALostSignalRestartsTheModuleOnce)
{
    const std::string signal = GetParam();
    if (signal == "init_done")
        OPTAD_HOST_ONLY_LONG_SCENARIO();
    DaemonRig rig(all_peers(), Board::DC);
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 30000));
    Simulator &sim = rig.sim();
    ASSERT_TRUE(sim.ok("clear gpio"));

    ASSERT_TRUE(sim.ok("fault " + signal + " drop"));
    // A POWER_GOOD drop stops the IMC, so INIT_DONE falls with it: either
    // listener may be first to report. An INIT_DONE drop alone leaves the
    // supplies good.
    const std::string error_line = signal == "power_good" ? "Image Chip Error, GPIO " : "Image Chip Error, GPIO INIT_DONE is low!";
    // The listener queues the restart once the main loop lets go of the
    // job list: a status poll running at the drop waits up to 10 s for the
    // stopped IMC's REQ first.
    ASSERT_TRUE(optad_logged(rig, error_line, 15000));
    ASSERT_TRUE(optad_logged_times(rig, UPDATE_PARAMS, 2, 40000));

    const std::vector<SimEvent> gpio = program_gpio_writes(sim);
    size_t at = 0;
    EXPECT_TRUE(gpio_steps_match(gpio, &at, SHUTDOWN));
    ASSERT_LT(at, gpio.size());
    // 3 s off, then the whole power-up again.
    EXPECT_GE(gpio[at].us - gpio[at - 1].us, 3'000'000);
    EXPECT_TRUE(gpio_steps_match(gpio, &at, POWER_UP_BEFORE_PMIC));
    EXPECT_TRUE(gpio_steps_match(gpio, &at, POWER_UP_AFTER_PMIC));
    EXPECT_EQ(at, gpio.size());

    // The edges of the shutdown and of the power-up itself queued nothing.
    EXPECT_EQ(optad_log_count(rig, RESTARTING), 1);
    EXPECT_GE(optad_log_count(rig, error_line), 1);
    EXPECT_LE(optad_log_count(rig, "Image Chip Error, GPIO "), 2);
    if (signal == "init_done")
        EXPECT_EQ(optad_log_count(rig, "Image Chip Error, GPIO POWER_GOOD is low!"), 0);
    EXPECT_EQ(optad_log_count(rig, "DEBUG:optad:shutdown - IMC shutdown Completed!!!"), 1);
    EXPECT_EQ(sim.violations(), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, Restart, ::testing::Values("power_good", "init_done"));

TEST(PowerUpFailures, FiveFailedAttemptsGiveUpForGood)
{
    OPTAD_HOST_ONLY_LONG_SCENARIO();
    DaemonRig rig(all_peers(), Board::DC, {.before_optad = {"fault i2c_nack on"}});
    ASSERT_TRUE(rig.ok());
    const char *gave_up =
        "ERROR:optad:main_loop:JT_POWER_UP_SEQ - IMC startup sequence failed even after 5 retries!";
    ASSERT_TRUE(optad_logged(rig, gave_up, 90000));
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(optad_log_count(rig, "Retry startup sequence again! Retry number=" + std::to_string(n)), 1) << n;
    }
    EXPECT_EQ(optad_log_count(rig, "Retry number=5"), 0);
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:power_up - I2C communication failed!"), 5);
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:main_loop:JT_POWER_UP_SEQ - IMC power up sequence failed!"), 5);
    EXPECT_EQ(optad_log_count(rig, "DEBUG:optad:shutdown - IMC shutdown Completed!!!"), 4);

    // Nothing more happens, whatever the module does now.
    Simulator &sim = rig.sim();
    ASSERT_TRUE(sim.ok("fault i2c_nack off"));
    ASSERT_TRUE(sim.ok("clear gpio"));
    g_usleep(static_cast<gulong>(scaled_ms(4000)) * 1000);
    EXPECT_EQ(program_gpio_writes(sim).size(), 0u);
    EXPECT_EQ(optad_log_count(rig, gave_up), 1);
    EXPECT_EQ(sim.violations(), "");
}

TEST(PowerUpFailures, TheTemperatureScriptHoldsPowerUpAndRaisesTheWarming)
{
    DaemonRig rig(all_peers(), Board::DC, {.board = {.temperature_failures = 3}});
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 30000));
    MockPeer &captiond = rig.peer(Peer::Captiond);
    EXPECT_TRUE(rig.iterate_until([&] { return captiond.calls_text().find("Unset ('PTZ_BLOCK_UPGRADE',)") !=
                                               std::string::npos; },
                                  scaled_ms(5000)));
    const std::string calls = captiond.calls_text();
    size_t raised = 0;
    for (size_t p = calls.find("Set ('PTZ_TEMPERATURE_WARMING'"); p != std::string::npos;
         p = calls.find("Set ('PTZ_TEMPERATURE_WARMING'", p + 1))
        ++raised;
    EXPECT_EQ(raised, 1u) << "raised once, re-sent only when it changes:\n" << calls;
    // Three failed runs, one second apart, and the fourth succeeded; the
    // failure is logged when it begins, not at every run.
    EXPECT_EQ(rig.root().read("/usr/bin/optad_temperature.fail"), "0\n");
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:power_up - /usr/bin/optad_temperature.sh failed (exit status 1), "
                                   "power-up waits until it succeeds!"),
              1);
    EXPECT_EQ(optad_log_count(rig, "ERROR:optad:power_up - /usr/bin/optad_temperature.sh"), 1);
    const std::vector<SimEvent> gpio = program_gpio_writes(rig.sim());
    ASSERT_FALSE(gpio.empty());
    EXPECT_EQ(rig.sim().violations(), "");
}

TEST(Blocks, TheDebugMarkerBlocksShutdownAndPowerUpOfARunningModule)
{
    OPTAD_HOST_ONLY_LONG_SCENARIO();
    DaemonRig rig(all_peers(), Board::DC);
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 30000));
    Simulator &sim = rig.sim();
    rig.root().write(DEBUG_MARKER_FILE, "");
    ASSERT_TRUE(sim.ok("clear gpio"));
    ASSERT_TRUE(sim.ok("fault power_good drop"));
    ASSERT_TRUE(optad_logged(rig, "ERROR:optad:shutdown - Shutdown of IMC blocked by enable_imc_debug!", 20000));
    // 10 s blocked, 3 s off, then the power-up is blocked the same way.
    ASSERT_TRUE(optad_logged(rig, "ERROR:optad:power_up - Power up of IMC blocked by enable_imc_debug!", 20000));
    EXPECT_EQ(program_gpio_writes(sim).size(), 0u) << "every line left as it is";
    EXPECT_EQ(optad_log_count(rig, "DEBUG:optad:shutdown - IMC shutdown Completed!!!"), 0);
    EXPECT_EQ(sim.violations(), "");
}

TEST(Blocks, ShutdownWithEveryGpioWriteFailingRunsEveryStep)
{
    OPTAD_HOST_ONLY_LONG_SCENARIO();
    DaemonRig rig(all_peers(), Board::DC);
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, UPDATE_PARAMS, 30000));
    Simulator &sim = rig.sim();
    ASSERT_TRUE(sim.ok("fail gpio * write EIO always"));
    ASSERT_TRUE(sim.ok("fault power_good drop"));
    ASSERT_TRUE(optad_logged(rig, "DEBUG:optad:shutdown - IMC shutdown Completed!!!", 30000));
    ASSERT_TRUE(sim.ok("fail clear"));
    const char *warnings[] = {
        "WARNING:optad:shutdown - Failed to activate SPI_FRONT_TRISTATE (not set to HIGH)!",
        "WARNING:optad:shutdown - Failed to reset PERST (not set to LOW)!",
        "WARNING:optad:shutdown - Failed to reset FPGA_RESET (not set to LOW)!",
        "WARNING:optad:shutdown - Failed to reset RESET_FRONT (not set to LOW)!",
        "WARNING:optad:shutdown - Failed to stop PCIE_CLK_ENABLE (not set to LOW)!",
        "WARNING:optad:shutdown - Failed to deactivate SAFE_BOOT (not set to LOW)!",
        "WARNING:optad:shutdown - Failed to stop DCDC_EN (not set to LOW)!",
        "WARNING:optad:shutdown - Failed to stop ENABLE_12V (not set to LOW)!",
        "WARNING:optad:shutdown - Failed to stop RST_BUFFER_ENABLE_1V8 (not set to LOW)!",
    };
    for (const char *w : warnings)
        EXPECT_EQ(optad_log_count(rig, w), 1) << w;
    EXPECT_EQ(optad_log_count(rig, "Not possible to set value of GPIO"), 9);
    // The next power-up, or the one after it, brings the module back.
    ASSERT_TRUE(optad_logged_times(rig, UPDATE_PARAMS, 2, 60000));
    EXPECT_EQ(sim.violations(), "");
}

}  // namespace
}  // namespace optad::test
