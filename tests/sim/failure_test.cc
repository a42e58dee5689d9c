// Per-call failures injected with ctl "fail", as the programs' own calls
// (the GPIO library and the device calls of the seam) see them: the errno
// asked for, once, n times or always, until cleared; each firing logged.
#include "platform/devio.h"
#include "platform/kernel_abi.h"
#include "platform/pinio.h"
#include "tests/sim/sim_helpers.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <string>

namespace optad::test {
namespace {

constexpr const char LINE[] = "imc_pcie_clk_enable";

// One GPIO library call on LINE after the calls it needs: 0 when it
// succeeded, -1 with errno when it failed.
using Attempt = int (*)();

int with_line(int (*call)(pinio_line *))
{
    pinio_line *l = pinio_request_named(LINE);
    if (l == nullptr)
        return -1;
    int rc = call(l);
    int err = errno;
    pinio_close(l);
    pinio_free(l);
    errno = err;
    return rc;
}

int attempt_request()
{
    pinio_line *l = pinio_request_named(LINE);
    if (l == nullptr)
        return -1;
    pinio_free(l);
    return 0;
}

int attempt_open()
{
    return with_line([](pinio_line *l) { return pinio_full_open(l) < 0 ? -1 : 0; });
}

int attempt_direction_input()
{
    return with_line([](pinio_line *l) { return pinio_full_open(l) < 0 || pinio_direction_input(l) < 0 ? -1 : 0; });
}

int attempt_direction_output()
{
    return with_line([](pinio_line *l) { return pinio_full_open(l) < 0 || pinio_direction_output(l, 0) != 0 ? -1 : 0; });
}

int attempt_read()
{
    return with_line([](pinio_line *l) { return pinio_full_open(l) < 0 || pinio_get_value(l) < 0 ? -1 : 0; });
}

int attempt_write()
{
    return with_line([](pinio_line *l) {
        return pinio_full_open(l) < 0 || pinio_direction_output(l, 0) != 0 || pinio_set_value(l, 0) < 0 ? -1 : 0;
    });
}

int attempt_edge()
{
    return with_line([](pinio_line *l) { return pinio_full_open(l) < 0 || pinio_set_edge(l, PINIO_TRIG_BOTH) < 0 ? -1 : 0; });
}

int attempt_fd()
{
    return with_line([](pinio_line *l) {
        return pinio_full_open(l) < 0 || pinio_set_edge(l, PINIO_TRIG_BOTH) < 0 || pinio_fd(l) < 0 ? -1 : 0;
    });
}

struct GpioCase {
    const char *call;   // as ctl fail names it
    const char *error;  // the errno by name
    int errno_value;
    Attempt attempt;
};

const GpioCase GPIO_CASES[] = {
    {"request", "ENODEV", ENODEV, attempt_request},
    {"open", "EBUSY", EBUSY, attempt_open},
    {"direction", "EACCES", EACCES, attempt_direction_input},
    {"direction", "EINVAL", EINVAL, attempt_direction_output},
    {"read", "EIO", EIO, attempt_read},
    {"write", "ETIMEDOUT", ETIMEDOUT, attempt_write},
    {"edge", "ENXIO", ENXIO, attempt_edge},
    {"fd", "EREMOTEIO", EREMOTEIO, attempt_fd},
};

class SimFail : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.running()); }
    SandboxRoot root;
    Simulator sim{root, {"--set", "req_period_ms=5"}};
};

TEST_F(SimFail, EveryGpioCallFailsOnceNTimesOrAlways)
{
    for (const GpioCase &c : GPIO_CASES) {
        SCOPED_TRACE(std::string(c.call) + " " + c.error);
        const std::string what = std::string("gpio ") + LINE + " " + c.call + " " + c.error;
        ASSERT_EQ(c.attempt(), 0);

        // Once (the default count).
        ASSERT_TRUE(sim.ok("clear fail"));
        ASSERT_TRUE(sim.ok(std::string("fail gpio ") + LINE + " " + c.call + " " + c.error));
        errno = 0;
        EXPECT_EQ(c.attempt(), -1);
        EXPECT_EQ(errno, c.errno_value);
        EXPECT_EQ(c.attempt(), 0);
        EXPECT_EQ(sim.ctl("log fail"), what + "\n");

        // The next two.
        ASSERT_TRUE(sim.ok(std::string("fail gpio ") + LINE + " " + c.call + " " + c.error + " 2"));
        EXPECT_EQ(c.attempt(), -1);
        EXPECT_EQ(c.attempt(), -1);
        EXPECT_EQ(errno, c.errno_value);
        EXPECT_EQ(c.attempt(), 0);

        // Always, until cleared; the module's faults are something else.
        ASSERT_TRUE(sim.ok(std::string("fail gpio ") + LINE + " " + c.call + " " + c.error + " always"));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(c.attempt(), -1);
        ASSERT_TRUE(sim.ok("fault clear"));
        EXPECT_EQ(c.attempt(), -1);
        ASSERT_TRUE(sim.ok("fail clear"));
        EXPECT_EQ(c.attempt(), 0);
        EXPECT_EQ(sim.ctl("show failures"), "");
    }
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimFail, EveryLineByNumberAndNotAlterable)
{
    // "*": every line, each firing names its line.
    ASSERT_TRUE(sim.ok("fail gpio * read EIO always"));
    EXPECT_LT(read_line("imc_req"), 0);
    EXPECT_LT(read_line("dc_off"), 0);
    EXPECT_EQ(sim.ctl("log fail"), "gpio imc_req read EIO\ngpio dc_off read EIO\n");
    // A line's own injection wins over the one for every line.
    ASSERT_TRUE(sim.ok("fail gpio dc_off read EBUSY"));
    errno = 0;
    EXPECT_LT(read_line("dc_off"), 0);
    EXPECT_EQ(errno, EBUSY);
    ASSERT_TRUE(sim.ok("fail clear"));

    // By number: the firmware-complete line as the upgrade requests it.
    ASSERT_TRUE(sim.ok("fail gpio 438 request 19"));  // ENODEV by number
    errno = 0;
    EXPECT_EQ(pinio_request(438, "FWUP_CMPLT"), nullptr);
    EXPECT_EQ(errno, ENODEV);
    TestLine by_name("imc_fwup_cmplt");
    EXPECT_NE(by_name.get(), nullptr);

    // Not alterable: the direction stays, the value is still written.
    ASSERT_TRUE(sim.ok("fail gpio imc_pcie_clk_enable not_alterable on"));
    {
        TestLine l("imc_pcie_clk_enable");
        EXPECT_EQ(pinio_alterable_direction(l.get()), 0);
        EXPECT_EQ(pinio_alterable_direction(l.get()), 0);
        EXPECT_EQ(pinio_set_value(l.get(), 1), 0);
        EXPECT_EQ(l.value(), 1);
    }
    EXPECT_NE(sim.ctl("show failures").find("gpio imc_pcie_clk_enable not_alterable"), std::string::npos);
    ASSERT_TRUE(sim.ok("fail gpio imc_pcie_clk_enable not_alterable off"));
    {
        TestLine l("imc_pcie_clk_enable");
        EXPECT_NE(pinio_alterable_direction(l.get()), 0);
    }
    EXPECT_NE(sim.ctl("log fail").find("gpio imc_pcie_clk_enable not_alterable\n"), std::string::npos);
}

TEST_F(SimFail, AFailedReadStillLetsTheNextEdgeThrough)
{
    TestLine l("dc_off", PINIO_TRIG_BOTH);
    l.value();
    ASSERT_TRUE(sim.ok("fail gpio dc_off read EIO"));
    ASSERT_TRUE(sim.ok("drive dc_off 1"));
    ASSERT_TRUE(l.wait_edge(2000));
    EXPECT_LT(l.value(), 0);
    ASSERT_TRUE(sim.ok("drive dc_off 0"));
    EXPECT_TRUE(l.wait_edge(2000));
    EXPECT_EQ(l.value(), 0);
}

TEST_F(SimFail, ShowFailuresCountsTheCallsLeft)
{
    ASSERT_TRUE(sim.ok("fail gpio imc_req read EIO 3"));
    ASSERT_TRUE(sim.ok("fail spi fpga short 5 always"));
    EXPECT_LT(read_line("imc_req"), 0);
    EXPECT_EQ(sim.ctl("show failures"), "gpio imc_req read EIO 2\nspi fpga short 5 always\n");
    EXPECT_EQ(sim.ctl("fail gpio imc_req read ENOTANERRNO").rfind("error:", 0), 0u);
    EXPECT_EQ(sim.ctl("fail gpio imc_req read EIO 0").rfind("error:", 0), 0u);
    EXPECT_EQ(sim.ctl("fail gpio no_such_line read EIO").rfind("error:", 0), 0u);
    EXPECT_EQ(sim.ctl("fail spi imc sideways EIO").rfind("error:", 0), 0u);
}

TEST_F(SimFail, SpiTransfersFailOrComeUpShort)
{
    ASSERT_TRUE(sim.ok("power on"));
    int fd = open_imc();
    ASSERT_GE(fd, 0);
    TestLine req("imc_req", PINIO_TRIG_BOTH);
    ASSERT_TRUE(sim.ok("clear"));

    ASSERT_TRUE(sim.ok("fail spi imc error EIO 2"));
    for (int i = 0; i < 2; ++i) {
        errno = 0;
        EXPECT_EQ(imc_exchange(fd, req, status_request(), nullptr), -1);
        EXPECT_EQ(errno, EIO);
    }
    EXPECT_EQ(imc_exchange(fd, req, status_request(), nullptr), 512);
    // The failed transfers never reached the IMC.
    EXPECT_EQ(sim.ctl("log imc"), "00f8000800f80000\n");
    EXPECT_EQ(sim.ctl("log fail"), "spi imc error EIO\nspi imc error EIO\n");

    ASSERT_TRUE(sim.ok("fail spi imc short 100"));
    EXPECT_EQ(imc_exchange(fd, req, status_request(), nullptr), 100);
    EXPECT_EQ(imc_exchange(fd, req, status_request(), nullptr), 512);
    dev_close(fd);

    // The FPGA's bus: a register write (mode 0, 5 MHz, 9 bytes).
    int fpga = dev_open("/dev/spidev3.0", O_RDWR);
    ASSERT_GE(fpga, 0);
    uint32_t mode = SPI_MODE_0;
    ASSERT_EQ(dev_ioctl(fpga, SPI_IOC_WR_MODE32, &mode), 0);
    const uint8_t write_ctrl[9] = {0x12, 0x08, 0, 0, 0, 0, 0, 0, 0};
    spi_ioc_transfer x{};
    x.tx_buf = reinterpret_cast<uintptr_t>(write_ctrl);
    x.len = sizeof write_ctrl;
    x.speed_hz = 5000000;
    x.bits_per_word = 8;
    ASSERT_TRUE(sim.ok("fail spi fpga error EACCES always"));
    for (int i = 0; i < 3; ++i) {
        errno = 0;
        EXPECT_EQ(dev_ioctl(fpga, SPI_IOC_MESSAGE(1), &x), -1);
        EXPECT_EQ(errno, EACCES);
    }
    ASSERT_TRUE(sim.ok("fail clear"));
    EXPECT_EQ(dev_ioctl(fpga, SPI_IOC_MESSAGE(1), &x), 9);
    dev_close(fpga);
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimFail, I2cSlaveAndWriteFail)
{
    ASSERT_TRUE(sim.ok("drive imc_12v_enable 1"));
    ASSERT_TRUE(sim.ok("drive imc_i2c_pmic_tristate 1"));
    int fd = dev_open("/dev/i2c-4", O_RDWR);
    ASSERT_GE(fd, 0);

    ASSERT_TRUE(sim.ok("fail i2c slave EBUSY"));
    errno = 0;
    EXPECT_EQ(dev_ioctl_value(fd, I2C_SLAVE, 0x48), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(dev_ioctl_value(fd, I2C_SLAVE, 0x48), 0);

    ASSERT_TRUE(sim.ok("fail i2c write 121 always"));  // EREMOTEIO by number
    const uint8_t bytes[2] = {0x10, 0x2C};
    for (int i = 0; i < 3; ++i) {
        errno = 0;
        EXPECT_EQ(dev_write(fd, bytes, 2), -1);
        EXPECT_EQ(errno, EREMOTEIO);
    }
    EXPECT_EQ(sim.ctl("show failures"), "i2c write EREMOTEIO always\n");
    ASSERT_TRUE(sim.ok("fail clear"));
    EXPECT_EQ(dev_write(fd, bytes, 2), 2);
    dev_close(fd);
    EXPECT_EQ(sim.ctl("log i2c"), "0x48 10 2c\n");
    EXPECT_EQ(sim.ctl("log fail"), "i2c slave EBUSY\ni2c write EREMOTEIO\ni2c write EREMOTEIO\ni2c write EREMOTEIO\n");
}

}  // namespace
}  // namespace optad::test
