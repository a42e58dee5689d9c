// The data cache, the video input, the PMIC and the FPGA through the real
// seam, with the records and request numbers the camera code uses.
#include "platform/devio.h"
#include "platform/kernel_abi.h"
#include "tests/sim/sim_helpers.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>

namespace optad::test {
namespace {

class SimDevices : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.running()); }
    SandboxRoot root;
    Simulator sim{root};
};

datacache_register_rec registration(const char *name, uint32_t size, uint32_t count)
{
    datacache_register_rec r {};
    std::strncpy(r.name, name, sizeof r.name);
    r.entry_size = size;
    r.entries = count;
    return r;
}

TEST_F(SimDevices, DatacacheRingBuffers)
{
    int fd = dev_open("/dev/datacache0", O_RDWR);
    ASSERT_GE(fd, 0);
    datacache_register_rec reg = registration("sensor_data", 16, 3);
    int id = dev_ioctl(fd, DATACACHE_REGISTER, &reg);
    EXPECT_EQ(id, 0);
    datacache_register_rec other = registration("optics", 20, 10);
    EXPECT_EQ(dev_ioctl(fd, DATACACHE_REGISTER, &other), 1);
    datacache_register_rec lookup = registration("sensor_data", 0, 0);
    EXPECT_EQ(dev_ioctl(fd, DATACACHE_LOOKUP, &lookup), id);
    datacache_register_rec missing = registration("nothing", 0, 0);
    EXPECT_EQ(dev_ioctl(fd, DATACACHE_LOOKUP, &missing), -1);
    datacache_register_rec clash = registration("sensor_data", 32, 3);
    EXPECT_EQ(dev_ioctl(fd, DATACACHE_REGISTER, &clash), -1);
    EXPECT_EQ(errno, EEXIST);

    uint32_t entries[10][4];
    uint8_t stamps[10][8];
    datacache_read_rec rd {static_cast<uint32_t>(id), 1, reinterpret_cast<uintptr_t>(entries),
                           reinterpret_cast<uintptr_t>(stamps), 10, 0};
    EXPECT_EQ(dev_ioctl(fd, DATACACHE_READ, &rd), -1);
    EXPECT_EQ(errno, EAGAIN);

    // Four entries into a ring of three: the oldest is gone.
    for (uint32_t i = 1; i <= 4; ++i) {
        uint32_t e[4] = {i, 100 * i, 10, 1000000};
        datacache_write_rec wr {static_cast<uint32_t>(id), reinterpret_cast<uintptr_t>(e), {0, 0}};
        EXPECT_EQ(dev_ioctl(fd, DATACACHE_WRITE, &wr), 0);
    }
    std::memset(entries, 0, sizeof entries);
    EXPECT_EQ(dev_ioctl(fd, DATACACHE_READ, &rd), 3);
    EXPECT_EQ(entries[0][0], 2u);
    EXPECT_EQ(entries[1][0], 3u);
    EXPECT_EQ(entries[2][0], 4u);
    EXPECT_EQ(entries[2][1], 400u);
    EXPECT_EQ(entries[3][0], 0u);  // nothing beyond what was there

    uint32_t e[4] = {};
    datacache_write_rec bad {7, reinterpret_cast<uintptr_t>(e), {0, 0}};
    EXPECT_EQ(dev_ioctl(fd, DATACACHE_WRITE, &bad), -1);
    EXPECT_EQ(errno, EINVAL);
    dev_close(fd);

    EXPECT_EQ(sim.ctl("show datacache sensor_data"),
              "00000002 000000c8 0000000a 000f4240\n"
              "00000003 0000012c 0000000a 000f4240\n"
              "00000004 00000190 0000000a 000f4240\n");
    std::string log = sim.ctl("log datacache");
    EXPECT_EQ(log.rfind("register sensor_data 16 3 -> 0\nregister optics 20 10 -> 1\n"
                        "lookup sensor_data -> 0\nlookup nothing -> -2\n",
                        0),
              0u);
    EXPECT_NE(log.find("read sensor_data 10 -> EAGAIN\n"), std::string::npos);
    EXPECT_NE(log.find("write sensor_data 00000001 00000064 0000000a 000f4240\n"), std::string::npos);
    EXPECT_NE(log.find("read sensor_data 10 -> 3\n"), std::string::npos);
}

TEST_F(SimDevices, LongLogsComeBackWhole)
{
    int fd = dev_open("/dev/datacache0", O_RDWR);
    ASSERT_GE(fd, 0);
    datacache_register_rec reg = registration("optics", 20, 10);
    int id = dev_ioctl(fd, DATACACHE_REGISTER, &reg);
    ASSERT_EQ(id, 0);
    uint32_t e[5] = {};
    for (uint32_t i = 0; i < 3000; ++i) {
        e[0] = i;
        datacache_write_rec wr {0, reinterpret_cast<uintptr_t>(e), {0, 0}};
        ASSERT_EQ(dev_ioctl(fd, DATACACHE_WRITE, &wr), 0);
    }
    dev_close(fd);
    std::string log = sim.ctl("log datacache");
    EXPECT_GT(log.size(), 100000u);
    EXPECT_NE(log.find("write optics 00000bb7 00000000"), std::string::npos);  // the last entry
}

TEST_F(SimDevices, Cam0RequestsAndRecords)
{
    int fd = dev_open("/dev/cam0", O_RDWR);
    ASSERT_GE(fd, 0);
    uint8_t window[CAM0_WINDOW_RECORD_SIZE] = {};
    EXPECT_EQ(dev_ioctl(fd, CAM0_GET_WINDOW, window), 0);
    uint32_t width;
    std::memcpy(&width, window + 8, 4);
    EXPECT_EQ(width, 5472u);  // a plausible window before anyone set one

    EXPECT_EQ(dev_ioctl_value(fd, CAM0_STREAM, 0), 0);
    uint8_t input[CAM0_INPUT_RECORD_SIZE] = {};
    const uint32_t words[][2] = {{0x00, 1}, {0x2C, 3840}, {0x30, 2160}, {0x38, 16}};
    for (const auto &w : words)
        std::memcpy(input + w[0], &w[1], 4);
    EXPECT_EQ(dev_ioctl(fd, CAM0_SET_INPUT, input), 0);
    EXPECT_EQ(dev_ioctl_value(fd, CAM0_BLACK_VIDEO, 1), 0);
    // The window written back is what the next read gets.
    window[0] = 7;
    EXPECT_EQ(dev_ioctl(fd, CAM0_SET_WINDOW, window), 0);
    uint8_t again[CAM0_WINDOW_RECORD_SIZE] = {};
    EXPECT_EQ(dev_ioctl(fd, CAM0_GET_WINDOW, again), 0);
    EXPECT_EQ(again[0], 7);

    // The input request with a record of the wrong size.
    const unsigned long wrong_size = (CAM0_SET_INPUT & ~(0x3FFFul << 16)) | (80ul << 16);
    EXPECT_EQ(dev_ioctl(fd, wrong_size, input), -1);
    EXPECT_EQ(errno, EINVAL);
    dev_close(fd);

    EXPECT_EQ(sim.ctl("log cam0"),
              "0x403C3608\n"
              "0x40042A01 0\n"
              "0x80602D06 0x0=1 0x2C=3840 0x30=2160 0x38=16\n"
              "0x80042A03 1\n"
              "0x403C3607 0x0=7 0x8=5472 0xC=3648 0x10=1\n"
              "0x403C3608\n");
    EXPECT_NE(sim.ctl("show cam0").find("stream 0\nblack_video 1\n"), std::string::npos);
    EXPECT_NE(sim.ctl("log violations").find("passes a 80-byte record, the driver takes 96 bytes"),
              std::string::npos);
}

TEST_F(SimDevices, PmicAnswersOnlyWhenSuppliedAndReleased)
{
    int fd = dev_open("/dev/i2c-4", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(dev_ioctl_value(fd, I2C_SLAVE, 0x90 >> 1), 0);
    const uint8_t bytes[2] = {0x10, 0x05};
    EXPECT_EQ(dev_write(fd, bytes, 2), -1);  // no 12 V: no acknowledge
    EXPECT_EQ(errno, EREMOTEIO);

    ASSERT_TRUE(sim.ok("drive imc_1_8v_rst_buffer_enable 1"));
    ASSERT_TRUE(sim.ok("drive imc_12v_enable 1"));
    EXPECT_EQ(dev_write(fd, bytes, 2), -1);  // path still isolated
    ASSERT_TRUE(sim.ok("drive imc_i2c_pmic_tristate 1"));
    EXPECT_EQ(dev_write(fd, bytes, 2), 2);
    EXPECT_EQ(dev_ioctl_value(fd, I2C_SLAVE, 0x80), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_TRUE(sim.ok("fault i2c_nack on"));
    EXPECT_EQ(dev_write(fd, bytes, 2), -1);
    dev_close(fd);

    EXPECT_EQ(sim.ctl("log i2c"), "0x48 10 05\n");
    EXPECT_EQ(sim.ctl("show pmic"), "0x48 0x10 0x05\n");
    std::string v = sim.ctl("log violations");
    EXPECT_NE(v.find("while the module has no 12 V"), std::string::npos);
    EXPECT_NE(v.find("imc_i2c_pmic_tristate low"), std::string::npos);
}

// FPGA access the way the register code does it: mode 0, 5 MHz, a 5-byte
// read command and a separate 4-byte read-back, 9-byte writes.
class FpgaPort {
public:
    explicit FpgaPort(uint32_t speed = 5000000) : speed_(speed)
    {
        fd_ = dev_open("/dev/spidev3.0", O_RDWR);
        uint8_t mode = SPI_MODE_0;
        dev_ioctl(fd_, SPI_IOC_WR_MODE, &mode);
        dev_ioctl(fd_, SPI_IOC_RD_MODE, &mode);
        mode_read_back_ = mode;
        uint32_t max = 5000000;
        dev_ioctl(fd_, SPI_IOC_WR_MAX_SPEED_HZ, &max);
    }
    ~FpgaPort() { dev_close(fd_); }
    int fd() const { return fd_; }
    int mode_read_back() const { return mode_read_back_; }

    int64_t read(uint32_t address)
    {
        uint8_t cmd[5] = {0x13, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), 0, 0};
        spi_ioc_transfer a = transfer(cmd, nullptr, 5);
        if (dev_ioctl(fd_, SPI_IOC_MESSAGE(1), &a) <= 0)
            return -1;
        uint8_t value[4] = {};
        spi_ioc_transfer b = transfer(nullptr, value, 4);
        if (dev_ioctl(fd_, SPI_IOC_MESSAGE(1), &b) <= 0)
            return -1;
        return value[0] | value[1] << 8 | value[2] << 16 | static_cast<uint32_t>(value[3]) << 24;
    }

    int write(uint32_t address, uint32_t value)
    {
        uint8_t cmd[9] = {0x12, static_cast<uint8_t>(address), 0, 0, 0};
        std::memcpy(cmd + 5, &value, 4);
        spi_ioc_transfer x = transfer(cmd, nullptr, 9);
        return dev_ioctl(fd_, SPI_IOC_MESSAGE(1), &x);
    }

private:
    spi_ioc_transfer transfer(const void *tx, void *rx, uint32_t len)
    {
        spi_ioc_transfer x {};
        x.tx_buf = reinterpret_cast<uintptr_t>(tx);
        x.rx_buf = reinterpret_cast<uintptr_t>(rx);
        x.len = len;
        x.speed_hz = speed_;
        x.bits_per_word = 8;
        return x;
    }
    int fd_;
    uint32_t speed_;
    int mode_read_back_ = -1;
};

TEST_F(SimDevices, FpgaRegistersFollowResetLinkAndStream)
{
    FpgaPort fpga;
    ASSERT_GE(fpga.fd(), 0);
    EXPECT_EQ(fpga.mode_read_back(), SPI_MODE_0);
    EXPECT_EQ(fpga.read(0x20), 0x80);  // held in reset: not initialised

    ASSERT_TRUE(sim.ok("power on"));
    EXPECT_EQ(fpga.read(0x20), 0x30);  // link up, two lanes, no stream yet

    // The capture window for 3840 x 2160, then the stream.
    EXPECT_EQ(fpga.write(0x0C, 3840), 9);
    EXPECT_EQ(fpga.write(0x00, 0x10E0F00), 9);
    EXPECT_EQ(fpga.write(0x04, 4147200), 9);
    EXPECT_EQ(fpga.write(0x08, 0x2), 9);
    EXPECT_EQ(fpga.read(0x00), 0x10E0F00);
    EXPECT_EQ(fpga.read(0x04), 4147200);
    EXPECT_EQ(fpga.read(0x10), 3840);  // the crop taken over when the stream started
    EXPECT_TRUE(sim.wait_for("show fpga", "io_exp 0x00000070", 2000));

    ASSERT_TRUE(sim.ok("fault fpga_link loss"));
    EXPECT_EQ(fpga.read(0x20), 0x00);
    ASSERT_TRUE(sim.ok("fault fpga_not_init on"));
    EXPECT_EQ(fpga.read(0x20), 0x80);
    ASSERT_TRUE(sim.ok("fault clear"));

    // The lost link trains again after a restart of the module.
    ASSERT_TRUE(sim.ok("power off"));
    ASSERT_TRUE(sim.ok("power on"));
    EXPECT_EQ(fpga.read(0x20), 0x30);
    EXPECT_EQ(fpga.read(0x08), 0);  // reset brought the registers back to zero

    EXPECT_NE(sim.ctl("log fpga").find("write 0x08 0x00000002\nread 0x00 0x010E0F00\n"),
              std::string::npos);
    EXPECT_EQ(sim.violations(), "");
}

TEST_F(SimDevices, FpgaTooFastIsGarbage)
{
    ASSERT_TRUE(sim.ok("power on"));
    FpgaPort fast(10000000);
    EXPECT_EQ(fast.read(0x20), 0);  // the FPGA never saw a valid command
    EXPECT_NE(sim.ctl("log violations").find("fpga: transfer speed 10000000 Hz, the chip needs at most 5000000 Hz"),
              std::string::npos);
}

}  // namespace
}  // namespace optad::test
