// The simulator's model in-process, with time under the test's control:
// the power sequence and its delays, the IMC's start modes, the FPGA link,
// edge reporting, the firmware revision text and the control commands.
#include "sim/board.h"
#include "sim/control.h"
#include "sim/imc.h"
#include "platform/sim_protocol.h"

#include <gtest/gtest.h>

#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace optad::sim {
namespace {

constexpr int64_t MS = 1000;

class Model : public ::testing::Test {
protected:
    Model() : board(Config{}, 0) {}

    Lines &lines() { return board.ctx().lines; }
    int level(Line l) { return lines().level(l); }

    // A program writes a line like gpio_write does: request, open, output
    // at 0, value.
    void write(const char *name, int value)
    {
        int id = board.line_request(-1, name);
        ASSERT_GT(id, 0) << name;
        ASSERT_EQ(board.line_op(id, simproto::LINE_FULL_OPEN, 0), 0);
        ASSERT_EQ(board.line_op(id, simproto::LINE_DIRECTION_OUTPUT, 0), 0);
        ASSERT_EQ(board.line_op(id, simproto::LINE_SET_VALUE, value), 0);
        board.line_closed(id);
    }

    void at(int64_t ms) { board.advance(ms * MS); }
    std::string ctl(const std::string &command) { return control(board, command).text; }

    // The PMIC's rails of a DE-phase board: voltage selects, then enables.
    void program_pmic()
    {
        const uint8_t writes[][2] = {{0x10, 0x01}, {0x11, 0x02}, {0x12, 0x03}, {0x13, 0x04}, {0x20, 0x0F}};
        for (const auto &w : writes)
            ASSERT_EQ(board.pmic().write(0x48, w, 2), 2);
    }

    // Supplies on and reset released, as power-up does (time in ms).
    void power_up(int64_t start, bool safe = false)
    {
        at(start);
        write("imc_1_8v_rst_buffer_enable", 1);
        write("imc_12v_enable", 1);
        write("imc_i2c_pmic_tristate", 1);
        program_pmic();
        write("imc_i2c_pmic_tristate", 0);
        write("imc_dcdc_en", 1);
        at(start + 3);
        write("imc_pcie_clk_enable", 1);
        if (safe)
            write("imc_safe_boot", 1);
        write("imc_front_reset", 1);
    }

    Board board;
};

TEST_F(Model, PowerGoodFollowsTheSuppliesAfterItsDelay)
{
    write("imc_1_8v_rst_buffer_enable", 1);
    write("imc_12v_enable", 1);
    write("imc_i2c_pmic_tristate", 1);
    program_pmic();
    at(10);
    EXPECT_EQ(level(Line::PowerGood), 0);  // the DC/DC converters are still off
    write("imc_dcdc_en", 1);
    at(12);
    EXPECT_EQ(level(Line::PowerGood), 0);
    at(13);  // pg_rise_ms = 3
    EXPECT_EQ(level(Line::PowerGood), 1);
    write("imc_dcdc_en", 0);
    EXPECT_EQ(level(Line::PowerGood), 1);
    at(14);  // pg_fall_ms = 1
    EXPECT_EQ(level(Line::PowerGood), 0);
}

TEST_F(Model, ImcStartsAfterResetReleaseAndRaisesItsLines)
{
    power_up(0);
    EXPECT_EQ(board.imc().state(), Imc::State::Booting);
    at(7);
    EXPECT_EQ(level(Line::InitDone), 0);
    at(8);  // init_done_ms = 5 after the release at 3
    EXPECT_EQ(level(Line::InitDone), 1);
    at(10);  // i2n_delay_ms = 2: the first interrupt
    EXPECT_EQ(level(Line::I2nInt), 1);
    EXPECT_EQ(board.ctx().interrupts.value(Interrupts::ImcInterrupt), 1u);
    at(12);
    EXPECT_EQ(level(Line::I2nInt), 1);  // held until the status block is read
    at(32);
    EXPECT_EQ(level(Line::Req), 0);
    at(33);  // the first REQ one period (25 ms) after the start
    EXPECT_EQ(level(Line::Req), 1);
    at(57);  // nobody takes it: it stays up
    EXPECT_EQ(level(Line::Req), 1);
    at(58);  // ... until the next period renews it: low for half a period
    EXPECT_EQ(level(Line::Req), 0);
    at(69);
    EXPECT_EQ(level(Line::Req), 0);
    at(70);
    EXPECT_EQ(level(Line::Req), 1);

    write("imc_front_reset", 0);
    EXPECT_EQ(level(Line::InitDone), 0);
    EXPECT_EQ(level(Line::Req), 0);
    EXPECT_EQ(board.imc().state(), Imc::State::Off);
}

TEST_F(Model, InitDoneNeverRisesInANormalStart)
{
    ASSERT_EQ(ctl("fault init_done_never on"), "ok\n");
    power_up(0);
    at(1000);
    EXPECT_EQ(level(Line::InitDone), 0);
    // A safe start still comes up, and a successful upgrade would not be
    // needed to clear "on" (only "until_upgrade" clears itself).
    write("imc_front_reset", 0);
    write("imc_safe_boot", 1);
    write("imc_front_reset", 1);
    at(1010);
    EXPECT_EQ(level(Line::InitDone), 1);
    EXPECT_EQ(board.imc().mode(), Imc::Mode::Safe);
    EXPECT_FALSE(board.imc().streaming());

    ASSERT_EQ(ctl("fault init_done_never all"), "ok\n");
    write("imc_front_reset", 0);
    write("imc_front_reset", 1);
    at(2000);
    EXPECT_EQ(level(Line::InitDone), 0);
}

TEST_F(Model, FaultsDropPowerGoodAndInitDone)
{
    power_up(0);
    at(20);
    ASSERT_EQ(level(Line::InitDone), 1);
    ASSERT_EQ(ctl("fault init_done drop"), "ok\n");
    EXPECT_EQ(level(Line::InitDone), 0);
    at(100);
    EXPECT_EQ(level(Line::InitDone), 0);  // halted until the next reset
    write("imc_front_reset", 0);
    write("imc_front_reset", 1);
    at(110);
    EXPECT_EQ(level(Line::InitDone), 1);

    ASSERT_EQ(ctl("fault power_good drop"), "ok\n");
    EXPECT_EQ(level(Line::PowerGood), 0);
    EXPECT_EQ(level(Line::InitDone), 0);
    at(200);
    EXPECT_EQ(level(Line::PowerGood), 0);  // until the supplies are cycled
    write("imc_dcdc_en", 0);
    write("imc_dcdc_en", 1);
    at(210);
    EXPECT_EQ(level(Line::PowerGood), 1);
    EXPECT_EQ(level(Line::InitDone), 1);
}

TEST_F(Model, FpgaStatusFollowsResetLinkAndStream)
{
    EXPECT_EQ(board.fpga().io_exp(), 0x80);
    power_up(0);
    write("imc_perst", 1);
    write("fpga_reset", 1);
    at(4);
    EXPECT_EQ(board.fpga().io_exp(), 0x80);  // fpga_init_ms = 2
    at(5);
    EXPECT_EQ(board.fpga().io_exp(), 0x00);
    at(8);  // the IMC runs: the link trains (link_ms = 5), then the second lane
    at(13);
    EXPECT_EQ(board.fpga().io_exp(), 0x10);
    at(15);
    EXPECT_EQ(board.fpga().io_exp(), 0x30);

    // The stream once the FPGA's stream is on (stream_ms = 10).
    ctl("fault fpga_io_exp off");
    board.fpga().transfer(reinterpret_cast<const uint8_t *>("\x12\x08\x00\x00\x00\x02\x00\x00\x00"),
                          nullptr, 9, true);
    board.evaluate();
    at(24);
    EXPECT_EQ(board.fpga().io_exp(), 0x30);
    at(25);
    EXPECT_EQ(board.fpga().io_exp(), 0x70);

    ASSERT_EQ(ctl("fault fpga_link one_lane"), "ok\n");
    EXPECT_EQ(board.fpga().io_exp(), 0x10);
    ASSERT_EQ(ctl("fault fpga_link down"), "ok\n");
    EXPECT_EQ(board.fpga().io_exp(), 0x00);
    ASSERT_EQ(ctl("fault fpga_link ok"), "ok\n");
    at(40);
    EXPECT_EQ(board.fpga().io_exp(), 0x30);
    ASSERT_EQ(ctl("fault fpga_io_exp 0xF0"), "ok\n");
    EXPECT_EQ(board.fpga().io_exp(), 0xF0);
}

TEST_F(Model, EdgesReachWatchersOneByteAtATime)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    int id = board.line_request(-1, "dc_off");
    ASSERT_EQ(board.line_op(id, simproto::LINE_FULL_OPEN, 0), 0);
    ASSERT_EQ(board.line_op(id, simproto::LINE_SET_EDGE, EDGE_RISE | EDGE_FALL), 0);
    board.line_attach_events(id, sv[0]);

    auto pending = [&] {
        fd_set except;
        FD_ZERO(&except);
        FD_SET(sv[1], &except);
        struct timeval tv {0, 0};
        return select(sv[1] + 1, nullptr, nullptr, &except, &tv) > 0;
    };
    auto take = [&] {
        char c;
        return recv(sv[1], &c, 1, MSG_OOB | MSG_DONTWAIT) == 1;
    };
    // Fresh: flagged at once, like an unread sysfs value file.
    EXPECT_TRUE(pending());
    EXPECT_TRUE(take());
    EXPECT_EQ(board.line_op(id, simproto::LINE_GET_VALUE, 0), 0);
    EXPECT_FALSE(pending());

    std::string why;
    ASSERT_TRUE(board.drive_line(Line::DcOff, 1, &why));
    ASSERT_TRUE(board.drive_line(Line::DcOff, 0, &why));
    ASSERT_TRUE(board.drive_line(Line::DcOff, 1, &why));
    // Three edges, one urgent byte and nothing pushed into the stream.
    EXPECT_TRUE(take());
    char junk;
    EXPECT_EQ(recv(sv[1], &junk, 1, MSG_DONTWAIT), -1);
    EXPECT_EQ(board.line_op(id, simproto::LINE_GET_VALUE, 0), 1);
    ASSERT_TRUE(board.drive_line(Line::DcOff, 0, &why));
    EXPECT_TRUE(pending());

    board.events_closed(sv[0]);
    close(sv[0]);
    close(sv[1]);
}

TEST_F(Model, FirmwareRevisionText)
{
    struct Case {
        std::string head;
        bool ok;
        uint32_t revision;
    };
    const Case cases[] = {
        {"IMC app Rev.123 2026", true, 123},
        {"Rev.12345 x", false, 0},  // no blank within five characters
        {"Rev. 5", true, 0},        // blank at once: empty number
        {"Rev.7a9 ", true, 7},
        {"Rev.+42 ", true, 42},
        {"Rev.-12 ", false, 0},  // negative: refused
        {"no marker at all", true, 0},
        {std::string(57, 'x') + "Rev.1 ", true, 0},  // marker too late
        {std::string(56, 'x') + "Rev.", false, 0},   // marker at 56, nothing after it
    };
    for (const Case &c : cases) {
        uint32_t revision = 99;
        EXPECT_EQ(Imc::parse_revision(reinterpret_cast<const uint8_t *>(c.head.data()),
                                      c.head.size() < 60 ? c.head.size() : 60, &revision),
                  c.ok)
            << c.head;
        if (c.ok) {
            EXPECT_EQ(revision, c.revision) << c.head;
        }
    }
}

TEST_F(Model, ControlSetsStatusFields)
{
    EXPECT_EQ(ctl("set lens_name EF-S24mm f/2.8  STM"), "ok\n");
    EXPECT_EQ(board.imc().status().text(sts::LENS_NAME, sts::LENS_NAME_LEN), "EF-S24mm f/2.8  STM");
    EXPECT_EQ(ctl("set temperature -5"), "ok\n");
    EXPECT_EQ(ctl("show status 0x98"), "fb\n");
    EXPECT_EQ(ctl("set limits 1 20 2 40 3 30"), "ok\n");
    EXPECT_EQ(ctl("show status 0x46 6"), "01 14 02 28 03 1e\n");
    EXPECT_EQ(ctl("set daynight_rec night"), "ok\n");
    EXPECT_EQ(ctl("show status 0x61"), "11\n");
    EXPECT_EQ(ctl("set raw 0x1F0 1 2 3"), "ok\n");
    EXPECT_EQ(ctl("show status 0x1F0 3"), "01 02 03\n");
    EXPECT_EQ(ctl("set raw 0x1FF 1 2").rfind("error:", 0), 0u);  // past the end

    EXPECT_EQ(ctl("fault lens_error 5"), "ok\n");
    EXPECT_EQ(ctl("show status 0x12 2"), "05 80\n");
    EXPECT_EQ(ctl("fault lens_error off"), "ok\n");
    EXPECT_EQ(ctl("show status 0x12 2"), "01 00\n");
    EXPECT_EQ(ctl("lens detach"), "ok\n");
    EXPECT_EQ(ctl("show status 0x12"), "00\n");
    EXPECT_EQ(board.imc().status().text(sts::LENS_NAME, sts::LENS_NAME_LEN), "");
    EXPECT_EQ(ctl("lens attach EF85mm f/1.2L II USM"), "ok\n");
    EXPECT_EQ(board.imc().status().text(sts::LENS_NAME, sts::LENS_NAME_LEN), "EF85mm f/1.2L II USM");
}

TEST_F(Model, EventLogsAreBoundedAndInterleave)
{
    EventLogs logs;
    logs.add(LogKind::Gpio, "a");
    logs.add(LogKind::Imc, "b");
    logs.add(LogKind::Gpio, "c");
    EXPECT_EQ(logs.all(), "gpio a\nimc b\ngpio c\n");
    for (size_t i = 0; i < EventLogs::CAPACITY + 5; ++i)
        logs.add(LogKind::I2c, std::to_string(i));
    EXPECT_EQ(logs.count(LogKind::I2c), EventLogs::CAPACITY);
    EXPECT_EQ(logs.text(LogKind::I2c).rfind("5\n6\n", 0), 0u);
    logs.clear(LogKind::Gpio);
    EXPECT_EQ(logs.text(LogKind::Gpio), "");
    EXPECT_EQ(logs.text(LogKind::Imc), "b\n");
}

}  // namespace
}  // namespace optad::sim
