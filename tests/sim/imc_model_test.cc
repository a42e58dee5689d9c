// The simulated IMC in-process, with time under the test's control: how the
// current exposure indices follow the exposure commands frame by frame,
// hunting, commands the IMC takes but does not apply, limits, the lens and
// the sunlight protector as parameter control sees them, and what the end
// of a firmware upgrade leaves in the flash.
#include "sim/board.h"
#include "sim/control.h"
#include "sim/imc.h"
#include "platform/sim_protocol.h"
#include "tests/sim/sim_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace optad::sim {
namespace {

constexpr int64_t MS = 1000;
constexpr int64_t FRAME_8FPS_US = 125000;  // the start capture mode runs at 8 frames per second

using Indices = std::array<int, 3>;  // iris, shutter, gain (0x42, 0x43, 0x44)

class ImcModel : public ::testing::Test {
protected:
    static Config fast_req()
    {
        Config c;
        c.req_period_ms = 2;  // a REQ soon after every exchange
        return c;
    }

    ImcModel() { fresh_board(); }

    // A new board: the module unpowered, time 0.
    void fresh_board()
    {
        board_ = std::make_unique<Board>(fast_req(), 0);
        now_us = 0;
    }
    Board &board() { return *board_; }

    void SetUp() override
    {
        power_up();
        ASSERT_EQ(board().imc().state(), Imc::State::Running);
        ASSERT_EQ(indices(), (Indices{8, 19, 0}));  // where the start settings put the exposure
        board().ctx().logs.clear_all();
    }

    void advance_us(int64_t us)
    {
        now_us += us;
        board().advance(now_us);
    }
    void run_ms(int64_t ms) { advance_us(ms * MS); }

    void write(const char *name, int value)
    {
        int id = board().line_request(-1, name);
        ASSERT_GT(id, 0) << name;
        ASSERT_EQ(board().line_op(id, simproto::LINE_FULL_OPEN, 0), 0);
        ASSERT_EQ(board().line_op(id, simproto::LINE_DIRECTION_OUTPUT, 0), 0);
        ASSERT_EQ(board().line_op(id, simproto::LINE_SET_VALUE, value), 0);
        board().line_closed(id);
    }

    // The power-up order of a DE-phase board, the SPI front released
    // (safe: with the safe-boot strap).
    void power_up(bool safe = false)
    {
        write("imc_1_8v_rst_buffer_enable", 1);
        write("imc_12v_enable", 1);
        write("imc_i2c_pmic_tristate", 1);
        const uint8_t writes[][2] = {{0x10, 0x01}, {0x11, 0x02}, {0x12, 0x03}, {0x13, 0x04}, {0x20, 0x0F}};
        for (const auto &w : writes)
            ASSERT_EQ(board().pmic().write(0x48, w, 2), 2);
        write("imc_i2c_pmic_tristate", 0);
        write("imc_dcdc_en", 1);
        run_ms(3);
        write("imc_pcie_clk_enable", 1);
        if (safe)
            write("imc_safe_boot", 1);
        write("imc_front_reset", 1);
        write("imc_spi_front_tristate", 0);
        run_ms(10);
    }

    // The shutdown order: SPI front isolated, resets, supplies off.
    void power_off()
    {
        write("imc_spi_front_tristate", 1);
        write("imc_front_reset", 0);
        write("imc_pcie_clk_enable", 0);
        write("imc_safe_boot", 0);
        write("imc_dcdc_en", 0);
        run_ms(2);
        write("imc_12v_enable", 0);
        write("imc_1_8v_rst_buffer_enable", 0);
        run_ms(2);
    }

    // One transfer after a REQ, bit-reversed on the wire: a 512-byte
    // exchange, or a transmit-only firmware message.
    void transfer(const std::vector<uint8_t> &bytes, bool exchange)
    {
        for (int i = 0; i < 50 && board().ctx().lines.level(Line::Req) == 0; ++i)
            advance_us(100);
        ASSERT_EQ(board().ctx().lines.level(Line::Req), 1);
        std::vector<uint8_t> tx(bytes.size());
        std::vector<uint8_t> rx(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i)
            tx[i] = test::reverse_bits(bytes[i]);
        board().imc().transfer(tx.data(), exchange ? rx.data() : nullptr, static_cast<uint32_t>(tx.size()), true);
    }

    // One set command as the main board sends it.
    void command(uint8_t group, uint8_t item, const std::vector<uint8_t> &values)
    {
        transfer(test::command_frame(group, item, values), true);
    }

    // The firmware upgrade up to the IMC's write-in answer: the start
    // command, the image in messages of 4092 bytes (header FFFFFFFF on the
    // last), the time the IMC takes to answer.
    void upgrade_to_answer(const std::string &head, size_t size)
    {
        const std::vector<uint8_t> img = test::firmware_image(size, head);
        transfer(test::version_up_start(static_cast<uint32_t>(size)), true);
        ASSERT_EQ(at(0x1A), 0x01);
        for (size_t pos = 0; pos < img.size(); pos += 4092) {
            const size_t n = img.size() - pos < 4092 ? img.size() - pos : 4092;
            std::vector<uint8_t> msg(4 + n, pos + n == img.size() ? 0xFF : 0x00);
            std::copy(img.begin() + static_cast<long>(pos), img.begin() + static_cast<long>(pos + n), msg.begin() + 4);
            transfer(msg, false);
        }
        run_ms(board().ctx().config.fwup_write_ms);
    }

    std::string ctl(const std::string &c) { return control(board(), c).text; }
    uint8_t at(int offset) { return board().imc().status()[offset]; }
    Indices indices() { return {at(0x42), at(0x43), at(0x44)}; }
    bool frame_pending() { return board().ctx().timers.pending(TimerId::ExposureFrame); }
    std::string violations() { return board().ctx().logs.text(LogKind::Violation); }

    std::unique_ptr<Board> board_;
    int64_t now_us = 0;
};

// Exposure commands (group 3) and where the exposure settles after them.
// The expected indices follow the module's scene: at compensation 0 it is
// exposed at iris 8, 1/30 s (index 19), gain 0; one compensation step or
// one iris index is one shutter index of light; what the shutter cannot
// give is made up by the gain, 2 per shutter index, capped at 4 per AGC
// code and by the gain limits. Shutter index 26 is 1/100 s, 27 is 1/120 s;
// slow-shutter code 5 allows 1/8 s (index 11).
TEST_F(ImcModel, ExposureSettlesWhereTheSettingsPutIt)
{
    struct Cmd {
        uint8_t item;
        uint8_t value;
    };
    struct Case {
        const char *what;
        std::vector<Cmd> commands;  // group 3
        const char *before;         // ctl command first, or null
        Indices expect;
    };
    const Case cases[] = {
        {"auto, brighter: the shutter is at its slowest, gain makes up", {{0x01, 0x04}}, nullptr, {8, 19, 8}},
        {"auto, darker: a shorter shutter", {{0x01, 0xFC}}, nullptr, {8, 23, 0}},
        {"auto, slow shutter 1/8 s allows the longer exposure", {{0x05, 5}, {0x01, 0x04}}, nullptr, {8, 15, 0}},
        {"slow shutter 50 Hz item", {{0x0A, 5}, {0x01, 0x04}}, nullptr, {8, 15, 0}},
        {"slow shutter 60 Hz item", {{0x0B, 5}, {0x01, 0x04}}, nullptr, {8, 15, 0}},
        {"AGC limit 1 caps the gain at 4", {{0x07, 1}, {0x01, 0x04}}, nullptr, {8, 19, 4}},
        {"manual: the set values", {{0x02, 12}, {0x03, 30}, {0x04, 20}, {0x00, 3}}, nullptr, {12, 30, 20}},
        {"manual, set values clamped into the limits", {{0x00, 3}, {0x02, 200}, {0x03, 60}, {0x04, 90}},
         nullptr, {28, 51, 40}},
        {"iris priority: a closed iris needs gain", {{0x02, 12}, {0x00, 4}}, nullptr, {12, 19, 8}},
        {"shutter priority: a short shutter needs gain", {{0x03, 30}, {0x00, 5}}, nullptr, {8, 30, 22}},
        {"shutter priority within gain limits 0-10", {{0x03, 30}, {0x00, 5}}, "set gain_limits 0 10", {8, 30, 10}},
        {"flicker-free 50 Hz: 1/100 s", {{0x00, 1}}, nullptr, {8, 26, 14}},
        {"flicker-free 60 Hz: 1/120 s", {{0x00, 2}}, nullptr, {8, 27, 16}},
        {"auto, much darker", {{0x01, 0xF6}}, nullptr, {8, 29, 0}},
        {"flicker-reduced 50 Hz: never shorter than 1/100 s", {{0x01, 0xF6}, {0x00, 6}}, nullptr, {8, 26, 0}},
        {"flicker-reduced 60 Hz", {{0x01, 0xF6}, {0x00, 7}}, nullptr, {8, 27, 0}},
        {"shutter limits 22-51 hold the slowest", {{0x01, 0x04}}, "set shutter_limits 22 51", {8, 22, 14}},
        {"iris limits 10-28: a closed iris, the shutter at its slowest, gain", {}, "set iris_limits 10 28",
         {10, 19, 4}},
    };
    for (const Case &c : cases) {
        fresh_board();
        power_up();
        if (c.before != nullptr) {
            ASSERT_EQ(ctl(c.before), "ok\n") << c.what;
        }
        for (const Cmd &cmd : c.commands)
            command(0x03, cmd.item, {cmd.value});
        run_ms(3000);  // 24 frames: two phases of 6 are long done
        EXPECT_EQ(indices(), c.expect) << c.what;
        EXPECT_FALSE(frame_pending()) << c.what << ": the exposure is steady";
        EXPECT_EQ(violations(), "") << c.what;
    }
}

TEST_F(ImcModel, ShutterMovesFirstThenTheGainOneStepPerFrame)
{
    // In auto the set values do not change the target: nothing moves.
    command(0x03, 0x02, {8});
    command(0x03, 0x03, {31});
    command(0x03, 0x04, {20});
    run_ms(1000);
    EXPECT_EQ(indices(), (Indices{8, 19, 0}));
    EXPECT_FALSE(frame_pending());

    command(0x03, 0x00, {3});  // manual: iris 8 (unchanged), shutter 31, gain 20
    int64_t sent = now_us;
    // Six frames for the shutter (19 to 31), then six for the gain (0 to 20);
    // the last step of each phase arrives.
    const Indices frames[] = {
        {8, 21, 0}, {8, 23, 0}, {8, 25, 0}, {8, 27, 0}, {8, 29, 0}, {8, 31, 0},
        {8, 31, 3}, {8, 31, 6}, {8, 31, 10}, {8, 31, 13}, {8, 31, 16}, {8, 31, 20},
    };
    advance_us(FRAME_8FPS_US - 1);
    EXPECT_EQ(indices(), (Indices{8, 19, 0})) << "nothing before the first frame";
    for (size_t k = 0; k < std::size(frames); ++k) {
        now_us = sent + static_cast<int64_t>(k + 1) * FRAME_8FPS_US;
        board().advance(now_us);
        EXPECT_EQ(indices(), frames[k]) << "frame " << k + 1;
    }
    EXPECT_FALSE(frame_pending());
    run_ms(2000);
    EXPECT_EQ(indices(), (Indices{8, 31, 20}));
}

TEST_F(ImcModel, StepsFollowTheFrameRateTheSettleFramesAndTheStepTime)
{
    // 25 frames per second: one step every 40 ms.
    command(0x08, 0x04, {0x00, 0x60, 25});
    ASSERT_EQ(ctl("config exposure_settle_frames 2"), "ok\n");
    command(0x03, 0x01, {0xFC});  // darker: shutter 19 -> 23 in two steps
    int64_t sent = now_us;
    now_us = sent + 40 * MS - 1;
    board().advance(now_us);
    EXPECT_EQ(at(0x43), 19);
    now_us = sent + 40 * MS;
    board().advance(now_us);
    EXPECT_EQ(at(0x43), 21);
    now_us = sent + 80 * MS;
    board().advance(now_us);
    EXPECT_EQ(at(0x43), 23);
    EXPECT_FALSE(frame_pending());

    // A step time of its own, and a single step.
    ASSERT_EQ(ctl("config exposure_step_ms 7"), "ok\n");
    ASSERT_EQ(ctl("config exposure_settle_frames 1"), "ok\n");
    command(0x03, 0x01, {0x00});
    sent = now_us;
    now_us = sent + 7 * MS;
    board().advance(now_us);
    EXPECT_EQ(at(0x43), 19);
    EXPECT_FALSE(frame_pending());

    // No steps: the indices are there at once.
    ASSERT_EQ(ctl("config exposure_settle_frames 0"), "ok\n");
    command(0x03, 0x01, {0x04});
    EXPECT_EQ(indices(), (Indices{8, 19, 8}));
    EXPECT_FALSE(frame_pending());
    EXPECT_NE(ctl("config exposure_settle_frames -1").rfind("error:", 0), std::string::npos);
}

TEST_F(ImcModel, HuntingNeverSettlesAndEndsAtTheTarget)
{
    ASSERT_EQ(ctl("fault exposure_hunting on"), "ok\n");
    EXPECT_NE(ctl("show faults").find("exposure_hunting on\n"), std::string::npos);
    EXPECT_NE(ctl("show state").find("exposure hunting\n"), std::string::npos);
    std::vector<Indices> seen;
    for (int k = 0; k < 60; ++k) {
        advance_us(FRAME_8FPS_US);
        seen.push_back(indices());
    }
    // A poll comes every two frames or so: the shutter and the gain read
    // differently at any two frames one to four apart.
    for (size_t k = 0; k < seen.size(); ++k) {
        for (size_t d = 1; d <= 4 && k + d < seen.size(); ++d) {
            EXPECT_NE(seen[k][1], seen[k + d][1]) << "shutter, frames " << k << " and " << k + d;
            EXPECT_NE(seen[k][2], seen[k + d][2]) << "gain, frames " << k << " and " << k + d;
        }
        // Within the limits 0-28, 0-51, 0-40.
        EXPECT_LE(seen[k][0], 28);
        EXPECT_LE(seen[k][1], 51);
        EXPECT_LE(seen[k][2], 40);
    }
    // A new target while hunting: it hunts around it.
    command(0x03, 0x01, {0xF6});  // shutter target 29
    for (int k = 0; k < 10; ++k) {
        advance_us(FRAME_8FPS_US);
        EXPECT_GE(at(0x43), 27);
        EXPECT_LE(at(0x43), 31);
    }

    ASSERT_EQ(ctl("fault clear"), "ok\n");
    run_ms(3000);
    EXPECT_EQ(indices(), (Indices{8, 29, 0}));
    EXPECT_FALSE(frame_pending());

    // A stopped IMC has no frames: hunting or moving, the bytes stay.
    ASSERT_EQ(ctl("fault exposure_hunting on"), "ok\n");
    run_ms(500);
    write("imc_front_reset", 0);
    ASSERT_EQ(board().imc().state(), Imc::State::Off);
    EXPECT_FALSE(frame_pending());
    Indices stopped = indices();
    run_ms(2000);
    EXPECT_EQ(indices(), stopped);
    EXPECT_NE(ctl("show state").find("exposure off\n"), std::string::npos);
}

TEST_F(ImcModel, SetExposureHoldsTheIndicesUntilTheNextExposureCommand)
{
    ASSERT_EQ(ctl("set exposure 5 40 7"), "ok\n");
    run_ms(3000);
    EXPECT_EQ(indices(), (Indices{5, 40, 7}));
    EXPECT_FALSE(frame_pending());
    EXPECT_NE(ctl("show state").find("exposure_target 5 40 7\n"), std::string::npos);

    command(0x03, 0x01, {0x00});  // the exposure control takes over again
    run_ms(3000);
    EXPECT_EQ(indices(), (Indices{8, 19, 0}));

    // A restart brings the start settings back, and the exposure is where
    // they put it at once.
    command(0x03, 0x00, {3});
    command(0x03, 0x03, {40});
    run_ms(3000);
    ASSERT_EQ(at(0x43), 40);
    command(0x08, 0x00, {0x00, 0x00});  // system reset
    run_ms(30);
    ASSERT_EQ(board().imc().state(), Imc::State::Running);
    EXPECT_EQ(indices(), (Indices{8, 19, 0}));
    EXPECT_FALSE(frame_pending());
}

TEST_F(ImcModel, IgnoredCommandsAreTakenButNotApplied)
{
    ASSERT_EQ(ctl("fault ignore 0x03 0x02 on"), "ok\n");  // iris
    ASSERT_EQ(ctl("fault ignore 8 9 on"), "ok\n");        // sunlight protector, in decimal
    EXPECT_NE(ctl("show faults").find("ignore 0x03 0x02 iris\nignore 0x08 0x09 sunlight protector\n"),
              std::string::npos);
    command(0x03, 0x02, {12});
    command(0x08, 0x09, {1});
    command(0x03, 0x00, {3});  // manual: applied, the iris setting is still 0
    run_ms(3000);
    EXPECT_EQ(at(0x52), 0);
    EXPECT_EQ(at(0x15), 0);
    EXPECT_EQ(at(0x40), 3);
    EXPECT_EQ(at(0x42), 0);
    EXPECT_EQ(violations(), "");
    // Logged as received: the iris frame (checksum 0x002A).
    EXPECT_NE(board().ctx().logs.text(LogKind::Imc).find("002a000d00100005040003020c\n"), std::string::npos);

    // A malformed frame is still judged.
    command(0x03, 0x02, {12, 13});
    EXPECT_NE(violations().find("iris command with 2 value bytes"), std::string::npos);

    ASSERT_EQ(ctl("fault ignore 3 2 off"), "ok\n");
    command(0x03, 0x02, {12});
    EXPECT_EQ(at(0x52), 12);
    ASSERT_EQ(ctl("fault clear"), "ok\n");
    EXPECT_EQ(ctl("show faults").find("ignore"), std::string::npos);
    command(0x08, 0x09, {1});
    EXPECT_EQ(at(0x15), 2);

    EXPECT_EQ(ctl("fault ignore 0x09 0x42 on").rfind("error:", 0), 0u);  // no such command
    EXPECT_EQ(ctl("fault ignore 3 2 maybe").rfind("error:", 0), 0u);
    EXPECT_EQ(ctl("fault ignore 0x103 2 on").rfind("error:", 0), 0u);
}

TEST_F(ImcModel, NewLimitsPullTheSettingsAndTheExposureIn)
{
    command(0x03, 0x02, {20});
    command(0x03, 0x03, {40});
    command(0x03, 0x04, {30});
    command(0x03, 0x00, {3});
    run_ms(3000);
    ASSERT_EQ(indices(), (Indices{20, 40, 30}));

    ASSERT_EQ(ctl("set limits 2 10 5 35 1 25"), "ok\n");
    EXPECT_EQ(ctl("show status 0x46 6"), "02 0a 05 23 01 19\n");
    EXPECT_EQ(ctl("show status 0x52 3"), "0a 23 19\n");
    run_ms(3000);
    EXPECT_EQ(indices(), (Indices{10, 35, 25}));

    ASSERT_EQ(ctl("set iris_limits 12 20"), "ok\n");
    EXPECT_EQ(at(0x52), 12);  // raised to the new minimum
    EXPECT_EQ(ctl("set gain_limits 9 3").rfind("error:", 0), 0u);
    EXPECT_EQ(ctl("show status 0x4A 2"), "01 19\n");
}

TEST_F(ImcModel, LensAndProtectorAsTheMainBoardSeesThem)
{
    command(0x08, 0x09, {1});  // open
    EXPECT_EQ(at(0x15), 2);
    run_ms(40);  // protector_move_ms
    ASSERT_EQ(at(0x15), 1);

    // The lens comes off: it takes its name, optics and focus switch; the
    // protector stays open until the main board closes it.
    ASSERT_EQ(ctl("lens detach"), "ok\n");
    EXPECT_EQ(ctl("show status 0x12 4"), "00 00 00 01\n");
    EXPECT_EQ(ctl("show status 0x32 6"), "00 00 00 00 00 00\n");
    EXPECT_EQ(at(0x9C), 0);
    run_ms(1000);
    EXPECT_EQ(at(0x15), 1);
    command(0x08, 0x09, {0});
    run_ms(40);
    EXPECT_EQ(at(0x15), 0);
    // Without a lens an open command still moves it.
    command(0x08, 0x09, {1});
    EXPECT_EQ(at(0x15), 2);
    run_ms(39);
    EXPECT_EQ(at(0x15), 2);
    run_ms(1);
    EXPECT_EQ(at(0x15), 1);

    // The lens comes back with its optics (50, 10, 1) and focus switch.
    ASSERT_EQ(ctl("lens attach"), "ok\n");
    EXPECT_EQ(ctl("show status 0x32 6"), "32 00 0a 00 01 00\n");
    EXPECT_EQ(at(0x9C), 1);
    EXPECT_EQ(board().imc().status().text(sts::LENS_NAME, sts::LENS_NAME_LEN), "EF50mm f/1.4 USM");
    // Another lens: what was set meanwhile is its own.
    ASSERT_EQ(ctl("lens detach"), "ok\n");
    ASSERT_EQ(ctl("set optics 85 3 2"), "ok\n");
    ASSERT_EQ(ctl("lens attach EF85mm f/1.2L II USM"), "ok\n");
    EXPECT_EQ(ctl("show status 0x32 6"), "55 00 03 00 02 00\n");
    EXPECT_EQ(at(0x9C), 1);

    // Temperature, focus switch, day/night recommendation with auto day/night.
    ASSERT_EQ(ctl("set temperature 61"), "ok\n");
    ASSERT_EQ(ctl("set focus_switch 0"), "ok\n");
    command(0x05, 0x00, {1});
    ASSERT_EQ(ctl("set daynight_rec day"), "ok\n");
    EXPECT_EQ(ctl("show status 0x98"), "3d\n");
    EXPECT_EQ(ctl("show status 0x9C"), "00\n");
    EXPECT_EQ(ctl("show status 0x60 2"), "01 10\n");
    EXPECT_EQ(violations(), "");
}

// The end of a firmware upgrade. The flash holds the new image only once
// the write-in answered OK has completed and FWUP_CMPLT has risen; power or
// the reset line taken away before leaves only the boot loader (a normal
// start stays silent, a safe start runs the boot loader). In version-up
// mode the IMC takes no command but the status request and the image: a
// system reset command is a violation and is dropped.
TEST_F(ImcModel, WhatTheEndOfAnUpgradeLeavesInTheFlash)
{
    enum class Cut { PowerOff, ResetLine, ResetCommand };
    struct Case {
        const char *name;
        bool after_cmplt;       // the cut comes after FWUP_CMPLT rose
        Cut cut;
        const char *violation;  // a fragment; nullptr: none
        bool application;       // the flash holds the new application
    };
    const Case cases[] = {
        {"power off before FWUP_CMPLT", false, Cut::PowerOff, nullptr, false},
        {"reset line before FWUP_CMPLT", false, Cut::ResetLine, nullptr, false},
        {"reset command before FWUP_CMPLT", false, Cut::ResetCommand,
         "imc: command group 0x08 item 0x00 in firmware version-up mode (writing)", true},
        {"power off after FWUP_CMPLT", true, Cut::PowerOff, nullptr, true},
        {"reset line after FWUP_CMPLT", true, Cut::ResetLine, nullptr, true},
        {"reset command after FWUP_CMPLT", true, Cut::ResetCommand,
         "imc: command group 0x08 item 0x00 in firmware version-up mode (complete)", true},
    };
    const int cmplt_ms = board().ctx().config.fwup_cmplt_ms;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh_board();
        power_up();
        ASSERT_EQ(board().imc().state(), Imc::State::Running);
        upgrade_to_answer("IMC application Rev.321 for the rig", 9000);
        ASSERT_EQ(at(0x1B), 0x01);
        ASSERT_EQ(board().imc().upgrade(), Imc::Upgrade::Writing);
        EXPECT_EQ(board().ctx().lines.level(Line::FwupCmplt), 0);
        EXPECT_FALSE(board().imc().flash_application()) << "being written";
        if (c.after_cmplt) {
            run_ms(cmplt_ms);
            ASSERT_EQ(board().ctx().lines.level(Line::FwupCmplt), 1);
            ASSERT_EQ(board().imc().upgrade(), Imc::Upgrade::Complete);
        }

        switch (c.cut) {
        case Cut::PowerOff:
            power_off();
            break;
        case Cut::ResetLine:
            write("imc_spi_front_tristate", 1);
            write("imc_front_reset", 0);
            break;
        case Cut::ResetCommand:
            command(0x08, 0x00, {0, 0});
            break;
        }
        run_ms(2 * cmplt_ms);  // long past the time the write-in takes
        if (c.violation != nullptr) {
            EXPECT_NE(violations().find(c.violation), std::string::npos) << violations();
        } else {
            EXPECT_EQ(violations(), "");
        }
        EXPECT_EQ(board().imc().flash_application(), c.application);
        EXPECT_NE(ctl("show state").find(c.application ? "\nflash application\n" : "\nflash boot_loader_only\n"),
                  std::string::npos)
            << ctl("show state");

        // The next normal start runs the new revision, or nothing.
        power_off();
        power_up();
        run_ms(100);
        if (c.application) {
            EXPECT_EQ(board().imc().state(), Imc::State::Running);
            EXPECT_EQ(board().imc().status().u32(sts::REVISION), 321u);
        } else {
            EXPECT_EQ(board().imc().state(), Imc::State::Booting);
            EXPECT_EQ(board().ctx().lines.level(Line::InitDone), 0);
        }
        // A safe start runs the application in safe mode, or the boot loader.
        power_off();
        power_up(true);
        run_ms(100);
        EXPECT_EQ(board().imc().state(), c.application ? Imc::State::Running : Imc::State::Loader);
        EXPECT_EQ(board().imc().mode(), Imc::Mode::Safe);
        power_off();
    }

    // The boot loader takes the upgrade again; once it completes, a normal
    // start runs the new revision.
    fresh_board();
    power_up();
    upgrade_to_answer("IMC application Rev.321 for the rig", 9000);
    power_off();
    power_up(true);
    run_ms(100);
    ASSERT_EQ(board().imc().state(), Imc::State::Loader);
    board().ctx().logs.clear_all();
    upgrade_to_answer("IMC application Rev.322 for the rig", 9000);
    run_ms(cmplt_ms);
    EXPECT_TRUE(board().imc().flash_application());
    power_off();
    power_up();
    run_ms(100);
    EXPECT_EQ(board().imc().state(), Imc::State::Running);
    EXPECT_EQ(board().imc().status().u32(sts::REVISION), 322u);
    EXPECT_EQ(violations(), "");
}

}  // namespace
}  // namespace optad::sim
