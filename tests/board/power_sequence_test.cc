// The power-up and shutdown sequences on the hardware fakes and the virtual
// clock: the order and timing of every line, each failing step, the blocks,
// the temperature wait, the waits for POWER_GOOD and INIT_DONE, and the FPGA
// link check.
//
// Expected traces are written from the sequences' step lists: "<ms> set
// <line> <level>" for a write and "<ms> get <line>" for a read, with the
// virtual time since the sequence began.
#include "board/fpga.h"
#include "board/gpio.h"
#include "board/pmic.h"
#include "board/poe_client.h"
#include "board/power_sequence.h"
#include "daemon/process_state.h"
#include "dbus/optad_event.h"
#include "imc/spi.h"
#include "platform/kernel_abi.h"
#include "tests/board/trace_clock.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <syslog.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <sstream>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;
using test::SandboxRoot;
using test::TraceClock;
using Trace = std::vector<std::string>;

constexpr int64_t MS = 1000;
constexpr int64_t S = 1'000'000;

// The whole normal power-up with a DE board whose command file sleeps 20 ms.
const Trace NORMAL_POWER_UP = {
    "0 get dc_off",
    "0 set fpga_reset 0",
    "0 set imc_1_8v_rst_buffer_enable 1",
    "0 set imc_12v_enable 1",
    "100 set imc_i2c_pmic_tristate 1",
    "100 get imc_power_type",
    "220 set imc_i2c_pmic_tristate 0",
    "320 set imc_dcdc_en 1",
    "320 get imc_power_good",
    "370 set imc_pcie_clk_enable 1",
    "420 set imc_front_reset 1",
    "420 get imc_init_done",
    "520 set imc_perst 1",
    "620 set fpga_reset 1",
    "620 set imc_spi_front_tristate 0",
};

const Trace NORMAL_SHUTDOWN = {
    "5000 set imc_spi_front_tristate 1",
    "5010 set imc_perst 0",
    "5020 set fpga_reset 0",
    "5070 set imc_front_reset 0",
    "5120 set imc_pcie_clk_enable 0",
    "5120 set imc_safe_boot 0",
    "5170 set imc_dcdc_en 0",
    "5170 get imc_power_good",
    "5470 set imc_12v_enable 0",
    "5470 set imc_1_8v_rst_buffer_enable 0",
};

std::string source_text(const std::string &relative)
{
    std::ifstream in(std::string(OPTAD_SOURCE_DIR) + "/" + relative);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class PowerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock_set_source(&clock);
        process_state_reset_for_tests();
        sync_objects_create();  // the job list's lock
        poe_client_reset_for_tests();
        overlay_set_condition(OVERLAY_TEMPERATURE_WARMING, 0);
        // A module that comes up at once on a DC supply.
        hw.pins.line(GPIO_DC_OFF).value = 0;
        hw.pins.line(GPIO_POWER_GOOD).value = 1;
        hw.pins.line(GPIO_INIT_DONE).value = 1;
        hw.pins.line(GPIO_POWER_TYPE).value = 1;
        hw.dev.fpga_regs[FPGA_REG_IO_EXP] = IO_EXP_LINK_UP | IO_EXP_TWO_LANE;
        root.write(PMIC_FILE_DE, "w 0x90 0x10 0x05\nd 20\n");
        root.write(PMIC_FILE_DC, "w 0x90 0x11 0x06\n");
        root.write(TEMPERATURE_SCRIPT, source_text("tests/rig/board/optad_temperature.sh"));
        ASSERT_EQ(chmod(root.path(TEMPERATURE_SCRIPT).c_str(), 0755), 0);
        std::memset(spi_recv_buffer(), 0, SPI_BUFFER_SIZE);
        set_heart_beat(0x12, 0x34);
        start = clock.now_us();
    }
    void TearDown() override
    {
        EXPECT_EQ(hw.dev.open_count(), 0) << "every device closed again, the I2C bus included";
        for (const ModuleGpioLine &l : module_gpio_lines) {
            EXPECT_EQ(hw.pins.line(l.name).requested, 0) << l.name;
            EXPECT_EQ(hw.pins.line(l.name).open_count, 0) << l.name;
        }
        clock_set_source(nullptr);
    }

    void set_heart_beat(uint8_t high, uint8_t low)
    {
        spi_recv_buffer()[0xA0] = high;
        spi_recv_buffer()[0xA1] = low;
    }
    void set_temperature_failures(int n)
    {
        root.write("/usr/bin/optad_temperature.fail", std::to_string(n) + "\n");
    }

    // The line writes and reads since the start, REQ left out.
    Trace trace() const
    {
        Trace out;
        const auto &calls = hw.pins.calls();
        for (size_t i = 0; i < calls.size(); ++i) {
            const std::string &c = calls[i];
            if ((c.rfind("set ", 0) == 0 || c.rfind("get ", 0) == 0) && c.find(GPIO_REQ) == std::string::npos)
                out.push_back(std::to_string((hw.pins.call_times()[i] - start) / MS) + " " + c);
        }
        return out;
    }
    Trace sets() const
    {
        Trace out;
        for (const std::string &t : trace())
            if (t.find(" set ") != std::string::npos)
                out.push_back(t);
        return out;
    }
    // Virtual time (ms since the start) of the first traced call containing what.
    int64_t time_of(const std::string &what) const
    {
        for (const std::string &t : trace())
            if (t.find(what) != std::string::npos)
                return std::stoll(t);
        ADD_FAILURE() << "no " << what;
        return -1;
    }
    int64_t elapsed_ms() { return (clock.now_us() - start) / MS; }
    bool opened(const char *device) const
    {
        return std::count(hw.dev.opened.begin(), hw.dev.opened.end(), std::string(device)) > 0;
    }

    TraceClock clock;
    FakeHardware hw;
    SandboxRoot root;
    LogCapture log;
    int64_t start = 0;
};

// ---------------- power-up: the whole sequence ----------------

TEST_F(PowerTest, NormalPowerUpDrivesEveryLineInOrderAndChecksTheLink)
{
    EXPECT_EQ(power_up(0, 0), 0);
    EXPECT_EQ(trace(), NORMAL_POWER_UP);
    EXPECT_EQ(hw.dev.i2c_log, (Trace{"slave 0x48", "write 10 05"})) << "the DE file";
    EXPECT_EQ(hw.dev.fpga_log, (Trace{"R 0x20"})) << "link up at the first look";
    EXPECT_EQ(elapsed_ms(), 620);
    EXPECT_EQ(log.count("DEBUG:optad:power_up - DE phase IMC board detected!\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:power_up - FPGA link_up is up!!!, io_exp=0x30\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:power_up - FPGA two_lane is up!!!, io_exp=0x30\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:power_up - IMC power up succeeded!!!\n"), 1);
    EXPECT_EQ(log.count_containing("ERROR"), 0) << log.text();
}

TEST_F(PowerTest, SafeBootCompletesWithoutTheFpga)
{
    Trace expected = NORMAL_POWER_UP;
    expected.insert(std::find(expected.begin(), expected.end(), "420 set imc_front_reset 1"),
                    "370 set imc_safe_boot 1");
    EXPECT_EQ(power_up(1, 1), -3);
    EXPECT_EQ(trace(), expected);
    EXPECT_FALSE(opened("/dev/spidev3.0")) << "the FPGA is never read";
    EXPECT_TRUE(hw.dev.fpga_log.empty());
    EXPECT_EQ(log.count("DEBUG:optad:power_up - Activated SAFE_BOOT (set to HIGH)\n"), 1);
}

TEST_F(PowerTest, BoardPhaseSelectsTheCommandFile)
{
    struct Case {
        int level;  // -1: the read fails
        const char *write;
        const char *debug;
    } cases[] = {
        {1, "write 10 05", "DEBUG:optad:power_up - DE phase IMC board detected!\n"},
        {0, "write 11 06", "DEBUG:optad:power_up - DC phase IMC board detected!\n"},
        {2, "write 11 06", "DEBUG:optad:power_up - DC phase IMC board detected!\n"},
        {-1, "write 11 06", "DEBUG:optad:power_up - DC phase IMC board detected!\n"},
    };
    for (const Case &c : cases) {
        hw.dev.i2c_log.clear();
        log.clear();
        test::FakeLine &type = hw.pins.line(GPIO_POWER_TYPE);
        type.value = c.level < 0 ? 1 : c.level;  // a failed read must not find the DE level
        type.fail_get = c.level < 0 ? EIO : 0;
        EXPECT_EQ(power_up(0, 1), 0) << c.level;
        ASSERT_EQ(hw.dev.i2c_log.size(), 2u) << c.level;
        EXPECT_EQ(hw.dev.i2c_log[1], c.write) << c.level;
        EXPECT_EQ(log.count(c.debug), 1) << c.level;
    }
}

TEST_F(PowerTest, MissingCommandFileLetsPowerUpContinue)
{
    std::remove(root.path(PMIC_FILE_DE).c_str());
    EXPECT_EQ(power_up(0, 1), 0);
    EXPECT_TRUE(hw.dev.i2c_log.empty());
    EXPECT_EQ(sets().size(), 11u);
    EXPECT_EQ(log.count("2 - (No such file or directory) ERROR:optad:power_control - Failed to open the configfile = "
                        "/usr/share/imc_pmic_init_cmd_de!\n"),
              1);
}

TEST_F(PowerTest, RigBoardFilesPowerUpTheModule)
{
    root.write(PMIC_FILE_DE, source_text("tests/rig/board/imc_pmic_init_cmd_de"));
    EXPECT_EQ(power_up(0, 1), 0);
    EXPECT_EQ(hw.dev.i2c_log.back(), "write 20 0F");
    EXPECT_EQ(elapsed_ms(), 605) << "the board file's 5 ms pause";
}

// ---------------- blocks, power budget, temperature ----------------

TEST_F(PowerTest, HeartBeatOrMarkerBlocksPowerUpUnlessSkipped)
{
    const char *heart_beat = "ERROR:optad:power_up - Power up of IMC blocked by IMC Heart Beat 0xffff!\n";
    const char *marker = "ERROR:optad:power_up - Power up of IMC blocked by enable_imc_debug!\n";
    struct Case {
        uint8_t high, low;
        bool marker_file;
        int skip_checks;
        const char *message;  // null: not blocked
    } cases[] = {
        {0xFF, 0xFF, false, 0, heart_beat}, {0xFF, 0xFF, true, 0, heart_beat}, {0x12, 0x34, true, 0, marker},
        {0xFF, 0xFF, true, 1, nullptr},     {0xFF, 0x00, false, 0, nullptr},   {0x00, 0xFF, false, 0, nullptr},
    };
    for (const Case &c : cases) {
        const std::string what = std::to_string(c.high) + "/" + std::to_string(c.low) + " marker " +
                                 std::to_string(c.marker_file) + " skip " + std::to_string(c.skip_checks);
        set_heart_beat(c.high, c.low);
        std::remove(root.path(IMC_DEBUG_MARKER).c_str());
        if (c.marker_file)
            root.write(IMC_DEBUG_MARKER, "");
        hw.pins.clear_calls();
        clock.sleeps.clear();
        log.clear();
        start = clock.now_us();
        EXPECT_EQ(power_up(0, c.skip_checks), 0) << what;
        if (c.message != nullptr) {
            EXPECT_TRUE(hw.pins.calls().empty()) << what << ": no line touched";
            ASSERT_EQ(clock.sleeps.size(), 1u) << what;
            EXPECT_EQ(clock.sleeps[0].us, 10 * S) << what;
            EXPECT_EQ(log.count(c.message), 1) << what;
            EXPECT_EQ(log.count_containing("blocked"), 1) << what;
        } else {
            EXPECT_EQ(trace(), NORMAL_POWER_UP) << what;
            EXPECT_EQ(log.count_containing("blocked"), 0) << what;
        }
    }
}

TEST_F(PowerTest, NotEnoughPowerTouchesNoLineAndRunsNoScript)
{
    hw.pins.line(GPIO_DC_OFF).value = 1;  // on PoE, no grant yet
    set_temperature_failures(1);
    EXPECT_EQ(power_up(0, 1), -4);
    EXPECT_EQ(trace(), (Trace{"0 get dc_off"}));
    EXPECT_EQ(root.read("/usr/bin/optad_temperature.fail"), "1\n") << "the script did not run";
    EXPECT_FALSE(opened("/dev/i2c-4"));
}

TEST_F(PowerTest, FailingTemperatureScriptRaisesWarmingOnceASecondUntilItSucceeds)
{
    set_temperature_failures(3);
    std::vector<int> warming_while_sleeping;
    clock.on_sleep = [&](int64_t) { warming_while_sleeping.push_back(overlay_condition(OVERLAY_TEMPERATURE_WARMING)); };
    EXPECT_EQ(power_up(0, 1), 0);
    ASSERT_GE(clock.sleeps.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(clock.sleeps[i].us, 1 * S) << i;
        EXPECT_EQ(clock.sleeps[i].at_us, start + i * S) << i;
        EXPECT_EQ(warming_while_sleeping[i], 1) << i;
    }
    EXPECT_EQ(warming_while_sleeping[3], 0) << "cleared before the first line is driven";
    EXPECT_EQ(time_of("set fpga_reset 0"), 3000);
    EXPECT_EQ(overlay_condition(OVERLAY_TEMPERATURE_WARMING), 0);
    EXPECT_EQ(root.read("/usr/bin/optad_temperature.fail"), "0\n");
}

// How the script stands at each run; the test changes it while power-up
// sleeps between runs.
enum class Script { Missing, NotExecutable, Fails, Passes };

TEST_F(PowerTest, FailingTemperatureScriptIsLoggedWhenItStartsFailingAndWhenItsStatusChanges)
{
    const std::string waits = ", power-up waits until it succeeds!\n";
    const std::string missing = "ERROR:optad:power_up - /usr/bin/optad_temperature.sh is missing (exit status 127)";
    const std::string not_executable =
        "ERROR:optad:power_up - /usr/bin/optad_temperature.sh is not executable (exit status 126)";
    const std::string fails = "ERROR:optad:power_up - /usr/bin/optad_temperature.sh failed (exit status 3)";
    struct Case {
        const char *name;
        std::vector<Script> runs;  // the last one passes
        std::vector<std::string> lines;
    } cases[] = {
        {"fails three times", {Script::Fails, Script::Fails, Script::Fails, Script::Passes}, {fails + waits}},
        {"missing", {Script::Missing, Script::Missing, Script::Passes}, {missing + waits}},
        {"not executable", {Script::NotExecutable, Script::NotExecutable, Script::Passes}, {not_executable + waits}},
        {"missing, then failing",
         {Script::Missing, Script::Fails, Script::Fails, Script::Missing, Script::Passes},
         {missing + waits, fails + waits, missing + waits}},
        {"passes at once", {Script::Passes}, {}},
    };
    const auto install = [&](Script s) {
        std::remove(root.path(TEMPERATURE_SCRIPT).c_str());
        if (s == Script::Missing)
            return;
        root.write(TEMPERATURE_SCRIPT, s == Script::Fails ? "#!/bin/sh\nexit 3\n" : "#!/bin/sh\nexit 0\n");
        ASSERT_EQ(chmod(root.path(TEMPERATURE_SCRIPT).c_str(), s == Script::NotExecutable ? 0644 : 0755), 0);
    };
    for (const Case &c : cases) {
        log.clear();
        size_t run = 0;
        install(c.runs[0]);
        clock.on_sleep = [&](int64_t) {
            if (++run < c.runs.size())
                install(c.runs[run]);
        };
        EXPECT_EQ(power_up(0, 1), 0) << c.name;
        clock.on_sleep = nullptr;
        std::vector<std::string> lines;
        for (const auto &line : log.lines()) {
            if (line.text.find("optad_temperature") != std::string::npos) {
                lines.push_back(line.text);
                EXPECT_EQ(line.priority, LOG_ERR) << c.name;
            }
        }
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(overlay_condition(OVERLAY_TEMPERATURE_WARMING), 0) << c.name;
    }
}

// ---------------- power-up: failing steps ----------------

struct StepFailure {
    const char *name;
    std::function<void(FakeHardware &)> inject;
    int safe_boot;
    const char *message;
    size_t lines_driven;  // set calls, the failing one included
    bool i2c_opened;
};

void fail_set(FakeHardware &hw, const char *line, int call)
{
    hw.pins.line(line).fail_set_call = call;
}

const StepFailure step_failures[] = {
    {"step4", [](FakeHardware &h) { fail_set(h, GPIO_FPGA_RESET, 1); }, 0,
     "ERROR:optad:power_up - Failed to reset FPGA_RESET (not set to LOW)!\n", 1, false},
    {"step5", [](FakeHardware &h) { fail_set(h, GPIO_RST_BUFFER_ENABLE_1V8, 1); }, 0,
     "ERROR:optad:power_up - Failed to start RST_BUFFER_ENABLE_1V8 (not set to HIGH)!\n", 2, false},
    {"step6", [](FakeHardware &h) { fail_set(h, GPIO_ENABLE_12V, 1); }, 0,
     "ERROR:optad:power_up - Failed to start ENABLE_12V (not set to HIGH)!\n", 3, false},
    {"step7", [](FakeHardware &h) { fail_set(h, GPIO_I2C_PMIC_TRISTATE, 1); }, 0,
     "ERROR:optad:power_up - Failed to release I2C_PMIC_TRISTATE (not set to HIGH)!\n", 4, false},
    {"step8", [](FakeHardware &h) { h.dev.fail_open["/dev/i2c-4"] = ENXIO; }, 0,
     "6 - (No such device or address) ERROR:optad:power_up - Failed to open the i2c bus!\n", 4, false},
    {"step9", [](FakeHardware &h) { h.dev.fail_i2c_slave = EIO; }, 0,
     "ERROR:optad:power_up - I2C communication failed!\n", 4, true},
    {"step10", [](FakeHardware &h) { fail_set(h, GPIO_I2C_PMIC_TRISTATE, 2); }, 0,
     "ERROR:optad:power_up - Failed to activate I2C_PMIC_TRISTATE (not set to LOW)!\n", 5, true},
    {"step11", [](FakeHardware &h) { fail_set(h, GPIO_DCDC_EN, 1); }, 0,
     "ERROR:optad:power_up - Failed to start DCDC_EN (not set to HIGH)!\n", 6, true},
    {"step12", [](FakeHardware &h) { h.pins.line(GPIO_POWER_GOOD).value = 0; }, 0,
     "ERROR:optad:power_up - POWER_GOOD not set HIGH!\n", 6, true},
    {"step13", [](FakeHardware &h) { fail_set(h, GPIO_PCIE_CLK_ENABLE, 1); }, 0,
     "ERROR:optad:power_up - Failed to start PCIE_CLK_ENABLE (not set to HIGH)!\n", 7, true},
    {"step14", [](FakeHardware &h) { fail_set(h, GPIO_SAFE_BOOT, 1); }, 1,
     "ERROR:optad:power_up - Failed to activate SAFE_BOOT (not set to HIGH)!\n", 8, true},
    {"step15", [](FakeHardware &h) { fail_set(h, GPIO_FRONT_RESET, 1); }, 0,
     "ERROR:optad:power_up - Failed to release RESET_FRONT (not set to HIGH)!\n", 8, true},
    {"step17", [](FakeHardware &h) { fail_set(h, GPIO_PERST, 1); }, 0,
     "ERROR:optad:power_up - Failed to release PERST (not set to HIGH)!\n", 9, true},
    {"step18", [](FakeHardware &h) { fail_set(h, GPIO_FPGA_RESET, 2); }, 0,
     "ERROR:optad:power_up - Failed to release FPGA_RESET (not set to HIGH)!\n", 10, true},
    {"step19", [](FakeHardware &h) { fail_set(h, GPIO_SPI_FRONT_TRISTATE, 1); }, 0,
     "ERROR:optad:power_up - Failed to release SPI_FRONT_TRISTATE (not set to LOW)!\n", 11, true},
};

class PowerUpStepFailure : public PowerTest, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(PowerUpStepFailure, StopsThereWithMinusOne)
{
    const StepFailure &f = GetParam();
    f.inject(hw);
    EXPECT_EQ(power_up(f.safe_boot, 1), -1);
    EXPECT_EQ(sets().size(), f.lines_driven) << "nothing driven after the failing step\n" << log.text();
    EXPECT_EQ(opened("/dev/i2c-4"), f.i2c_opened);
    EXPECT_FALSE(opened("/dev/spidev3.0"));
    int found = 0;
    for (const LogCapture::Line &l : log.lines())
        if (l.text == f.message) {
            ++found;
            EXPECT_EQ(l.priority, LOG_ERR);
        }
    EXPECT_EQ(found, 1) << log.text();
}

INSTANTIATE_TEST_SUITE_P(EveryStep, PowerUpStepFailure, ::testing::ValuesIn(step_failures),
                         [](const ::testing::TestParamInfo<StepFailure> &p) { return std::string(p.param.name); });

// ---------------- power-up: the waits ----------------

TEST_F(PowerTest, PowerGoodOnTheThousandthReadStillCounts)
{
    hw.pins.line(GPIO_POWER_GOOD).next_levels = std::deque<int>(999, 0);
    EXPECT_EQ(power_up(0, 1), 0);
    EXPECT_EQ(hw.pins.line(GPIO_POWER_GOOD).reads, 1000);
    EXPECT_EQ(time_of("set imc_pcie_clk_enable 1") - time_of("set imc_dcdc_en 1"), 999 * 10 + 50);
}

TEST_F(PowerTest, PowerGoodNeverRisingFailsAfterTenSeconds)
{
    hw.pins.line(GPIO_POWER_GOOD).value = 0;
    EXPECT_EQ(power_up(0, 1), -1);
    EXPECT_EQ(hw.pins.line(GPIO_POWER_GOOD).reads, 1000);
    EXPECT_EQ(elapsed_ms() - time_of("set imc_dcdc_en 1"), 10'000);
}

TEST_F(PowerTest, FailedPowerGoodReadEndsPowerUpAtOnce)
{
    hw.pins.line(GPIO_POWER_GOOD).fail_get = EIO;
    EXPECT_EQ(power_up(0, 1), -1);
    EXPECT_EQ(hw.pins.line(GPIO_POWER_GOOD).reads, 1);
    EXPECT_EQ(sets().size(), 6u);
    EXPECT_EQ(log.count_containing("POWER_GOOD not set HIGH"), 0);
}

TEST_F(PowerTest, InitDoneNeverRisingInANormalStart)
{
    hw.pins.line(GPIO_INIT_DONE).value = 0;
    EXPECT_EQ(power_up(0, 1), -2);
    EXPECT_EQ(hw.pins.line(GPIO_INIT_DONE).reads, 1000);
    EXPECT_EQ(sets().back(), "420 set imc_front_reset 1") << "SPI front and resets left alone";
    EXPECT_EQ(elapsed_ms(), 420 + 10'000);
    EXPECT_EQ(log.count("ERROR:optad:power_up - INIT_DONE not set HIGH!\n"), 1);
}

TEST_F(PowerTest, InitDoneNeverRisingInSafeBootReleasesTheSpiFrontThenWaits)
{
    for (int spi_front_fails : {0, 1}) {
        SCOPED_TRACE(spi_front_fails);
        hw.pins.clear_calls();
        hw.pins.line(GPIO_INIT_DONE).value = 0;
        hw.pins.line(GPIO_SPI_FRONT_TRISTATE).fail_set = spi_front_fails ? EIO : 0;
        clock.sleeps.clear();
        log.clear();
        start = clock.now_us();
        EXPECT_EQ(power_up(1, 1), -3);
        EXPECT_EQ(sets().back(), "10420 set imc_spi_front_tristate 0");
        ASSERT_FALSE(clock.sleeps.empty());
        EXPECT_EQ(clock.sleeps.back().us, 15 * S);
        EXPECT_EQ(elapsed_ms(), 420 + 10'000 + 15'000);
        EXPECT_EQ(log.count("ERROR:optad:power_up - INIT_DONE not set HIGH!\n"), 1);
        EXPECT_EQ(log.count("ERROR:optad:power_up - Failed to release SPI_FRONT_TRISTATE (not set to LOW)!\n"),
                  spi_front_fails);
        EXPECT_FALSE(opened("/dev/spidev3.0"));
    }
}

TEST_F(PowerTest, FailedInitDoneReadsDoNotEndTheWait)
{
    hw.pins.line(GPIO_INIT_DONE).next_levels = {-1, -1};
    EXPECT_EQ(power_up(0, 1), 0);
    EXPECT_EQ(hw.pins.line(GPIO_INIT_DONE).reads, 3);
    EXPECT_EQ(time_of("set imc_perst 1") - time_of("set imc_front_reset 1"), 2 * 10 + 100);
}

// ---------------- power-up: the FPGA link ----------------

TEST_F(PowerTest, FpgaLinkCheck)
{
    struct Case {
        int io_exp;  // -1: every read fails
        int result;
        size_t reads;
        std::string message;
    } cases[] = {
        {0x30, 0, 1, ""},
        {0x70, 0, 1, ""},
        {0xB0, -1, 100, "ERROR:optad:power_up - FPGA not initialized!!!, io_exp=0xB0\n"},
        {0xF0, -1, 100, "ERROR:optad:power_up - FPGA not initialized!!!, io_exp=0xF0\n"},
        {0x10, -1, 100, "ERROR:optad:power_up - Didn't receive HIGH on two_lane and link_up!!!, io_exp=0x10\n"},
        {0x60, -1, 100, "ERROR:optad:power_up - Didn't receive HIGH on two_lane and link_up!!!, io_exp=0x60\n"},
        {-1, -1, 100, "ERROR:optad:power_up - FPGA error!!!, io_exp=0xFFFFFFFF\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.io_exp);
        hw.dev.fpga_log.clear();
        hw.dev.fpga_fail_read.clear();
        if (c.io_exp < 0)
            hw.dev.fpga_fail_read[FPGA_REG_IO_EXP] = EIO;
        else
            hw.dev.fpga_regs[FPGA_REG_IO_EXP] = static_cast<uint32_t>(c.io_exp);
        log.clear();
        start = clock.now_us();
        EXPECT_EQ(power_up(0, 1), c.result);
        EXPECT_EQ(hw.dev.fpga_log.size(), c.reads);
        EXPECT_EQ(elapsed_ms(), c.result == 0 ? 620 : 620 + 10'000);
        if (!c.message.empty()) {
            EXPECT_EQ(log.count(c.message), 1) << log.text();
        }
        // link_up alone is reported at every round, never with the
        // not-initialized bit.
        const bool link_up = c.io_exp >= 0 && (c.io_exp & 0x90) == 0x10;
        EXPECT_EQ(log.count_containing("FPGA link_up is up"), link_up ? static_cast<int>(c.reads) : 0);
        EXPECT_EQ(log.count_containing("IMC power up succeeded"), c.result == 0 ? 1 : 0);
    }
}

TEST_F(PowerTest, FpgaLinkComingUpLateIsAccepted)
{
    hw.dev.fpga_regs[FPGA_REG_IO_EXP] = IO_EXP_NOT_INITIALIZED;
    clock.on_sleep = [&](int64_t) {
        if (hw.dev.fpga_log.size() == 49)
            hw.dev.fpga_regs[FPGA_REG_IO_EXP] = IO_EXP_LINK_UP | IO_EXP_TWO_LANE;
    };
    EXPECT_EQ(power_up(0, 1), 0);
    EXPECT_EQ(hw.dev.fpga_log.size(), 50u);
    EXPECT_EQ(elapsed_ms(), 620 + 49 * 100);
}

// ---------------- shutdown ----------------

class ShutdownTest : public PowerTest {
protected:
    void SetUp() override
    {
        PowerTest::SetUp();
        hw.pins.line(GPIO_REQ).value = 1;
        hw.pins.line(GPIO_POWER_GOOD).value = 0;
        // The IMC raises REQ after every exchange.
        hw.dev.after_imc_transfer = [this] {
            lines_driven_at_reset = sets().size();
            hw.pins.req_edge(1);
        };
        ASSERT_EQ(spi_open_and_init(nullptr, nullptr), 0);
        hw.pins.req_edge(0);
        hw.pins.req_edge(1);
        job_list.append(12);
        job_list.append(27);
        daemon_state.imc_ready = 1;
        hw.pins.clear_calls();
        hw.dev.cam0_log.clear();
        start = clock.now_us();
    }
    void TearDown() override
    {
        spi_close();
        PowerTest::TearDown();
    }

    // The job list emptied, the IMC-ready flag cleared, black video on.
    void expect_module_abandoned()
    {
        EXPECT_TRUE(job_list.empty());
        EXPECT_EQ(daemon_state.imc_ready.load(), 0);
        ASSERT_EQ(hw.dev.cam0_log.size(), 1u);
        EXPECT_EQ(hw.dev.cam0_log[0].request, CAM0_BLACK_VIDEO);
        EXPECT_EQ(hw.dev.cam0_log[0].value, 1u);
    }

    size_t lines_driven_at_reset = 99;
};

TEST_F(ShutdownTest, ResetsTheImcThenTakesEveryLineDown)
{
    EXPECT_EQ(shutdown(0, 0), 0);
    expect_module_abandoned();
    ASSERT_EQ(hw.dev.imc_transfers.size(), 1u);
    std::vector<uint8_t> frame = test::unreversed(hw.dev.imc_transfers[0].tx);
    frame.resize(14);
    EXPECT_EQ(frame, (std::vector<uint8_t>{0x00, 0x23, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x08, 0x00,
                                           0x00, 0x00}))
        << "the system reset command";
    EXPECT_EQ(lines_driven_at_reset, 0u) << "the reset goes out before any line moves";
    EXPECT_EQ(trace(), NORMAL_SHUTDOWN);
    EXPECT_EQ(elapsed_ms(), 5470);
    EXPECT_EQ(log.count("DEBUG:optad:shutdown - Start\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:shutdown - IMC shutdown Completed!!!\n"), 1);
    EXPECT_EQ(log.count_containing("WARNING"), 0) << log.text();
}

TEST_F(ShutdownTest, SkipResetOrAFailedResetStillTakesTheLinesDown)
{
    EXPECT_EQ(shutdown(0, 1), 0);
    EXPECT_TRUE(hw.dev.imc_transfers.empty());
    EXPECT_EQ(trace(), NORMAL_SHUTDOWN);

    hw.pins.clear_calls();
    hw.dev.imc_results = {-1};
    start = clock.now_us();
    EXPECT_EQ(shutdown(0, 0), 0);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 1u);
    EXPECT_EQ(log.count("WARNING:optad:shutdown - Not possible to send the Reset command to Image chip! Will "
                        "continue with GPIO Front Reset!\n"),
              1);
    EXPECT_EQ(trace(), NORMAL_SHUTDOWN);
}

TEST_F(ShutdownTest, HeartBeatOrMarkerBlocksAfterTheListIsEmptiedAndBeforeTheReset)
{
    struct Case {
        bool heart_beat_unset;
        const char *message;
    } cases[] = {
        {true, "ERROR:optad:shutdown - Shutdown of IMC blocked by IMC Heart Beat 0xffff\n"},
        {false, "ERROR:optad:shutdown - Shutdown of IMC blocked by enable_imc_debug!\n"},
    };
    root.write(IMC_DEBUG_MARKER, "");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        set_heart_beat(c.heart_beat_unset ? 0xFF : 0x12, c.heart_beat_unset ? 0xFF : 0x34);
        job_list.append(12);
        daemon_state.imc_ready = 1;
        hw.dev.cam0_log.clear();
        clock.sleeps.clear();
        log.clear();
        EXPECT_EQ(shutdown(0, 0), 0);
        expect_module_abandoned();
        EXPECT_TRUE(hw.dev.imc_transfers.empty()) << "no reset sent";
        EXPECT_TRUE(hw.pins.calls().empty()) << "no line touched";
        ASSERT_EQ(clock.sleeps.size(), 1u);
        EXPECT_EQ(clock.sleeps[0].us, 10 * S);
        EXPECT_EQ(log.count(c.message), 1) << log.text();
    }

    // Skipped checks: the same state does not block.
    EXPECT_EQ(shutdown(1, 0), 0);
    EXPECT_EQ(hw.dev.imc_transfers.size(), 1u);
    EXPECT_EQ(sets().size(), 9u);
}

TEST_F(ShutdownTest, EveryWriteFailingStillRunsEveryStep)
{
    for (const ModuleGpioLine &l : module_gpio_lines)
        if (l.output)
            hw.pins.line(l.name).fail_set = EIO;
    EXPECT_EQ(shutdown(0, 0), 0);
    EXPECT_EQ(trace(), NORMAL_SHUTDOWN);
    const Trace expected = {
        "WARNING:optad:shutdown - Failed to activate SPI_FRONT_TRISTATE (not set to HIGH)!\n",
        "WARNING:optad:shutdown - Failed to reset PERST (not set to LOW)!\n",
        "WARNING:optad:shutdown - Failed to reset FPGA_RESET (not set to LOW)!\n",
        "WARNING:optad:shutdown - Failed to reset RESET_FRONT (not set to LOW)!\n",
        "WARNING:optad:shutdown - Failed to stop PCIE_CLK_ENABLE (not set to LOW)!\n",
        "WARNING:optad:shutdown - Failed to deactivate SAFE_BOOT (not set to LOW)!\n",
        "WARNING:optad:shutdown - Failed to stop DCDC_EN (not set to LOW)!\n",
        "WARNING:optad:shutdown - Failed to stop ENABLE_12V (not set to LOW)!\n",
        "WARNING:optad:shutdown - Failed to stop RST_BUFFER_ENABLE_1V8 (not set to LOW)!\n",
    };
    Trace warnings;
    for (const LogCapture::Line &l : log.lines())
        if (l.priority == LOG_WARNING)
            warnings.push_back(l.text);
    EXPECT_EQ(warnings, expected);
    EXPECT_EQ(log.count("DEBUG:optad:shutdown - IMC shutdown Completed!!!\n"), 1);
}

TEST_F(ShutdownTest, PowerGoodStayingHighOrUnreadableIsWarnedAndTheSuppliesStillGoOff)
{
    for (bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable);
        test::FakeLine &pg = hw.pins.line(GPIO_POWER_GOOD);
        pg.value = 1;
        pg.fail_get = unreadable ? EIO : 0;
        pg.reads = 0;
        hw.pins.clear_calls();
        log.clear();
        start = clock.now_us();
        EXPECT_EQ(shutdown(1, 1), 0);
        EXPECT_EQ(pg.reads, 1000);
        EXPECT_EQ(log.count("WARNING:optad:shutdown - POWER_GOOD not set to LOW!\n"), 1);
        EXPECT_EQ(log.count("WARNING:optad:shutdown - Failed to get value of POWER_GOOD!\n"), unreadable ? 1000 : 0);
        EXPECT_EQ(time_of("set imc_12v_enable 0"), 5170 + 10'000 + 300);
        EXPECT_EQ(sets().back(), "15470 set imc_1_8v_rst_buffer_enable 0");
    }
}

}  // namespace
}  // namespace optad
