// GPIO lines through the seam: writes logged, directions, the sysfs-like
// edge reporting on pinio_fd(), several threads at once.
#include "platform/pinio.h"
#include "tests/sim/sim_helpers.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>
#include <cerrno>
#include <thread>

namespace optad::test {
namespace {

class SimGpio : public ::testing::Test {
protected:
    SandboxRoot root;
    Simulator sim{root, {"--set", "req_period_ms=10", "--set", "req_high_ms=3"}};
};

TEST_F(SimGpio, WritesAreLoggedAndDriveTheLine)
{
    ASSERT_TRUE(sim.running());
    {
        TestLine l("imc_12v_enable");
        ASSERT_NE(l.get(), nullptr);
        EXPECT_NE(pinio_alterable_direction(l.get()), 0);
        EXPECT_EQ(pinio_direction_output(l.get(), 0), 0);
        EXPECT_EQ(pinio_set_value(l.get(), 1), 0);
        EXPECT_EQ(l.value(), 1);
    }
    EXPECT_EQ(sim.ctl("log gpio"), "imc_12v_enable out 0\nimc_12v_enable 1\n");
    EXPECT_NE(sim.ctl("show gpio").find("imc_12v_enable out 1\n"), std::string::npos);
    EXPECT_TRUE(sim.ok("clear gpio"));
    EXPECT_EQ(sim.ctl("log gpio"), "");
}

TEST_F(SimGpio, BootStateAndDirections)
{
    ASSERT_TRUE(sim.running());
    // The board starts with the module off: DC/DC enable an output at 0
    // (what the diagnostic tool takes for an unpowered module).
    TestLine dcdc("imc_dcdc_en");
    EXPECT_EQ(pinio_get_direction(dcdc.get()), 0);
    EXPECT_EQ(dcdc.value(), 0);
    TestLine pg("imc_power_good");
    EXPECT_NE(pinio_get_direction(pg.get()), 0);
    EXPECT_EQ(pinio_direction_input(pg.get()), 0);
    // The module drives POWER_GOOD: it cannot become an output.
    errno = 0;
    EXPECT_NE(pinio_direction_output(pg.get(), 1), 0);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(pinio_set_value(pg.get(), 1), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_NE(sim.ctl("log violations").find("imc_power_good is driven by the module"),
              std::string::npos);
}

TEST_F(SimGpio, HandleMustBeOpenedFirst)
{
    ASSERT_TRUE(sim.running());
    pinio_line *l = pinio_request_named("imc_req");
    ASSERT_NE(l, nullptr);
    errno = 0;
    EXPECT_LT(pinio_get_value(l), 0);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(pinio_full_open(l), 0);
    EXPECT_EQ(pinio_get_value(l), 0);
    EXPECT_EQ(pinio_set_edge(l, 3), -1);
    EXPECT_EQ(errno, EINVAL);
    pinio_close(l);
    pinio_free(l);
    EXPECT_NE(sim.ctl("log violations").find("imc_req used before it was opened"), std::string::npos);
}

TEST_F(SimGpio, FirmwareCompleteByNumberAndByName)
{
    ASSERT_TRUE(sim.running());
    TestLine by_number(438, "FWUP_CMPLT");
    TestLine by_name("imc_fwup_cmplt");
    ASSERT_NE(by_number.get(), nullptr);
    ASSERT_NE(by_name.get(), nullptr);
    EXPECT_EQ(by_number.value(), 0);
    EXPECT_EQ(by_name.value(), 0);
}

TEST_F(SimGpio, FreshDescriptorIsReadyUntilTheFirstRead)
{
    ASSERT_TRUE(sim.running());
    // Like a sysfs value file never read: flagged at once.
    TestLine l("dc_off", 12);
    ASSERT_GE(l.fd(), 0);
    EXPECT_TRUE(l.wait_edge(0));
    EXPECT_EQ(l.value(), 0);
    EXPECT_FALSE(l.wait_edge(50));
}

TEST_F(SimGpio, EdgeKindsAndValueReadClearsThePendingEdge)
{
    ASSERT_TRUE(sim.running());
    TestLine fall("dc_off", PINIO_TRIG_FALL);
    TestLine rise("dc_off", PINIO_TRIG_RISE);
    fall.value();
    rise.value();

    ASSERT_TRUE(sim.ok("drive dc_off 1"));
    EXPECT_TRUE(rise.wait_edge(1000));
    EXPECT_FALSE(fall.wait_edge(50));
    // Two more edges before anyone reads: still one pending condition,
    // and the read reports the newest level and takes it.
    ASSERT_TRUE(sim.ok("drive dc_off 0"));
    ASSERT_TRUE(sim.ok("drive dc_off 1"));
    EXPECT_TRUE(rise.wait_edge(0));
    EXPECT_EQ(rise.value(), 1);
    EXPECT_FALSE(rise.wait_edge(50));
    EXPECT_TRUE(fall.wait_edge(0));
    EXPECT_EQ(fall.value(), 1);
    EXPECT_FALSE(fall.wait_edge(0));
}

TEST_F(SimGpio, ReqEdgesAreExceptionalConditions)
{
    ASSERT_TRUE(sim.running());
    TestLine req("imc_req", PINIO_TRIG_BOTH);
    req.value();
    EXPECT_FALSE(req.wait_edge(60));  // the module is off: no REQ
    ASSERT_TRUE(sim.ok("power on"));

    // Both edges: the levels read after each wake alternate.
    int rises = 0;
    int falls = 0;
    int last = req.value();
    for (int i = 0; i < 20 && req.wait_edge(1000); ++i) {
        int v = req.value();
        if (v != last)
            (v ? rises : falls) += 1;
        last = v;
    }
    EXPECT_GE(rises, 5);
    EXPECT_GE(falls, 5);

    ASSERT_TRUE(sim.ok("fault req_never on"));
    req.wait_level(0, 1000);
    EXPECT_FALSE(req.wait_edge(60));
}

TEST_F(SimGpio, ThreadsWaitOnTheirOwnHandles)
{
    ASSERT_TRUE(sim.running());
    ASSERT_TRUE(sim.ok("power on"));
    std::atomic<int> wakes[3] = {0, 0, 0};
    const char *names[3] = {"imc_req", "imc_req", "imc_power_good"};
    std::thread threads[3];
    for (int t = 0; t < 3; ++t) {
        threads[t] = std::thread([&, t] {
            TestLine l(names[t], PINIO_TRIG_BOTH);
            for (int i = 0; i < 30 && l.wait_edge(200); ++i) {
                if (l.value() >= 0)
                    ++wakes[t];
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_GE(wakes[0], 10);
    EXPECT_GE(wakes[1], 10);
    // POWER_GOOD: only the first wake of a fresh descriptor.
    EXPECT_EQ(wakes[2], 1);
}

// "log <name> stamped": the same lines, each after the simulator's time in
// microseconds, so that the pauses between writes can be checked.
TEST_F(SimGpio, StampedLogsGiveTheTimesOfTheWrites)
{
    ASSERT_TRUE(sim.running());
    ASSERT_EQ(write_line("imc_safe_boot", 1), 0);
    usleep(30000);
    ASSERT_EQ(write_line("imc_safe_boot", 0), 0);
    usleep(60000);
    ASSERT_EQ(write_line("imc_pcie_clk_enable", 1), 0);

    const std::string plain = sim.ctl("log gpio");
    EXPECT_EQ(plain,
              "imc_safe_boot out 0\nimc_safe_boot 1\nimc_safe_boot out 0\nimc_safe_boot 0\n"
              "imc_pcie_clk_enable out 0\nimc_pcie_clk_enable 1\n");
    std::istringstream stamped(sim.ctl("log gpio stamped"));
    std::istringstream lines(plain);
    std::vector<long long> at;
    std::string line;
    std::string expected;
    while (std::getline(stamped, line) && std::getline(lines, expected)) {
        size_t blank = line.find(' ');
        ASSERT_NE(blank, std::string::npos) << line;
        ASSERT_EQ(line.find_first_not_of("0123456789"), blank) << line;
        EXPECT_EQ(line.substr(blank + 1), expected);
        at.push_back(std::stoll(line.substr(0, blank)));
    }
    ASSERT_EQ(at.size(), 6u);
    for (size_t i = 1; i < at.size(); ++i)
        EXPECT_GE(at[i], at[i - 1]);
    EXPECT_GE(at[3] - at[1], 30000);  // the values written, 30 ms apart
    EXPECT_GE(at[5] - at[3], 60000);
    // In the interleaved log the time comes before the log's name.
    EXPECT_EQ(sim.ctl("log all stamped").rfind(std::to_string(at[0]) + " gpio imc_safe_boot out 0\n", 0), 0u);
    EXPECT_EQ(sim.ctl("log gpio sideways").rfind("error:", 0), 0u);
}

TEST_F(SimGpio, PowerSequenceOfTheControlInterface)
{
    ASSERT_TRUE(sim.running());
    TestLine pg("imc_power_good", PINIO_TRIG_BOTH);
    TestLine init("imc_init_done", PINIO_TRIG_BOTH);
    EXPECT_EQ(pg.value(), 0);
    EXPECT_EQ(init.value(), 0);
    ASSERT_TRUE(sim.ok("power on"));
    EXPECT_TRUE(pg.wait_edge(0));
    EXPECT_EQ(pg.value(), 1);
    EXPECT_TRUE(init.wait_edge(0));
    EXPECT_EQ(init.value(), 1);
    EXPECT_NE(sim.ctl("show state").find("imc running"), std::string::npos);

    ASSERT_TRUE(sim.ok("power off"));
    EXPECT_EQ(init.value(), 0);
    EXPECT_EQ(pg.value(), 0);
    EXPECT_NE(sim.ctl("show gpio").find("imc_spi_front_tristate out 1\n"), std::string::npos);
}

}  // namespace
}  // namespace optad::test
