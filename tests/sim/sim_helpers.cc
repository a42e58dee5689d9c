#include "tests/sim/sim_helpers.h"

#include "platform/devio.h"
#include "platform/kernel_abi.h"

#include <fcntl.h>
#include <sys/select.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace optad::test {

TestLine::TestLine(const char *name, int edge)
{
    line_ = pinio_request_named(name);
    if (line_ == nullptr)
        return;
    pinio_full_open(line_);
    if (edge >= 0) {
        pinio_set_edge(line_, edge);
        pinio_fd(line_);
    }
}

TestLine::TestLine(int gpio, const char *label)
{
    line_ = pinio_request(gpio, label);
    if (line_ != nullptr)
        pinio_full_open(line_);
}

TestLine::~TestLine()
{
    if (line_ != nullptr) {
        pinio_close(line_);
        pinio_free(line_);
    }
}

bool TestLine::wait_edge(int timeout_ms)
{
    int fd = pinio_fd(line_);
    fd_set except;
    FD_ZERO(&except);
    FD_SET(fd, &except);
    struct timeval tv {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return select(fd + 1, nullptr, nullptr, &except, &tv) > 0 && FD_ISSET(fd, &except);
}

bool TestLine::wait_level(int level, int timeout_ms)
{
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (value() == level)
            return true;
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        int elapsed = static_cast<int>((now.tv_sec - start.tv_sec) * 1000 +
                                       (now.tv_nsec - start.tv_nsec) / 1000000);
        if (elapsed >= timeout_ms || !wait_edge(timeout_ms - elapsed))
            return value() == level;
    }
}

uint8_t reverse_bits(uint8_t b)
{
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i))
            r = static_cast<uint8_t>(r | (0x80 >> i));
    return r;
}

void set_checksum(Frame &f)
{
    unsigned length = f[2] << 8 | f[3];
    unsigned sum = 0;
    for (unsigned i = 4; i < length; ++i)
        sum += f[i];
    f[0] = static_cast<uint8_t>(sum >> 8);
    f[1] = static_cast<uint8_t>(sum);
}

Frame status_request()
{
    Frame f(512, 0);
    const uint8_t head[] = {0x00, 0xF8, 0x00, 0x08, 0x00, 0xF8, 0x00, 0x00};
    std::memcpy(f.data(), head, sizeof head);
    return f;
}

Frame command_frame(uint8_t group, uint8_t item, const std::vector<uint8_t> &values)
{
    Frame f(512, 0);
    unsigned n = static_cast<unsigned>(values.size());
    unsigned length = 12 + n;
    f[2] = 0;
    f[3] = static_cast<uint8_t>(length);
    f[4] = 0x00;
    f[5] = 0x10;
    f[6] = 0;
    f[7] = static_cast<uint8_t>(n + 4);
    f[8] = static_cast<uint8_t>(n + 3);
    f[9] = 0;
    f[10] = group;
    f[11] = item;
    std::memcpy(f.data() + 12, values.data(), n);
    set_checksum(f);
    return f;
}

Frame version_up_start(uint32_t size)
{
    Frame f(512, 0);
    const uint8_t head[] = {0, 0, 0x00, 0x11, 0x00, 0x10, 0x00, 0x09, 0x08, 0x99, 0x55, 0x99, 0x55};
    std::memcpy(f.data(), head, sizeof head);
    f[13] = static_cast<uint8_t>(size >> 24);
    f[14] = static_cast<uint8_t>(size >> 16);
    f[15] = static_cast<uint8_t>(size >> 8);
    f[16] = static_cast<uint8_t>(size);
    set_checksum(f);
    return f;
}

int open_imc()
{
    int fd = dev_open("/dev/spidev2.0", O_RDWR);
    if (fd < 0)
        return -1;
    uint32_t mode = SPI_MODE_1;
    uint32_t speed = 3000000;
    if (dev_ioctl(fd, SPI_IOC_WR_MODE32, &mode) < 0 || dev_ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0) {
        dev_close(fd);
        return -1;
    }
    return fd;
}

spi_ioc_transfer imc_transfer(const void *tx, void *rx, uint32_t len)
{
    spi_ioc_transfer x {};
    x.tx_buf = reinterpret_cast<uintptr_t>(tx);
    x.rx_buf = reinterpret_cast<uintptr_t>(rx);
    x.len = len;
    x.speed_hz = 3000000;
    x.delay_usecs = 1;
    x.bits_per_word = 8;
    return x;
}

int imc_exchange(int fd, TestLine &req, const Frame &frame, std::vector<uint8_t> *reply)
{
    // A fresh rising edge: the level now, then a high reading after a low.
    int level = req.value();
    for (int edges = 0;; ++edges) {
        if (edges > 200 || !req.wait_edge(2000))
            return -1;
        int now = req.value();
        if (level == 0 && now == 1)
            break;
        level = now;
    }
    uint8_t tx[512];
    uint8_t rx[512] = {};
    for (int i = 0; i < 512; ++i)
        tx[i] = reverse_bits(frame[i]);
    spi_ioc_transfer x = imc_transfer(tx, rx, 512);
    int rc = dev_ioctl(fd, SPI_IOC_MESSAGE(1), &x);
    if (reply != nullptr) {
        reply->resize(512);
        for (int i = 0; i < 512; ++i)
            (*reply)[i] = reverse_bits(rx[i]);
    }
    return rc;
}

std::vector<uint8_t> imc_status(int fd, TestLine &req)
{
    std::vector<uint8_t> reply;
    if (imc_exchange(fd, req, status_request(), &reply) != 512)
        return {};
    return reply;
}

std::vector<uint8_t> firmware_image(size_t size, const std::string &head)
{
    std::vector<uint8_t> img(size);
    for (size_t i = 0; i < size; ++i)
        img[i] = static_cast<uint8_t>(i * 7);
    std::copy(head.begin(), head.end(), img.begin());
    return img;
}

void stream_firmware(int fd, TestLine &req, const std::vector<uint8_t> &img)
{
    uint8_t msg[4096];
    size_t left = img.size();
    size_t pos = 0;
    while (left > 0) {
        ASSERT_TRUE(req.wait_level(1, 2000));
        size_t n = left < 4092 ? left : 4092;
        uint8_t h = left <= 4092 ? 0xFF : 0x00;
        msg[0] = msg[1] = msg[2] = msg[3] = h;
        std::copy(img.begin() + static_cast<long>(pos), img.begin() + static_cast<long>(pos + n), msg + 4);
        for (size_t i = 0; i < n + 4; ++i)
            msg[i] = reverse_bits(msg[i]);
        spi_ioc_transfer x = imc_transfer(msg, nullptr, static_cast<uint32_t>(n + 4));
        ASSERT_EQ(dev_ioctl(fd, SPI_IOC_MESSAGE(1), &x), static_cast<int>(n + 4));
        pos += n;
        left -= n;
    }
}

int write_line(const char *name, int value)
{
    pinio_line *l = pinio_request_named(name);
    if (l == nullptr)
        return -1;
    int rc = pinio_full_open(l) < 0 ? -1 : 0;
    if (rc == 0 && pinio_alterable_direction(l) != 0 && pinio_direction_output(l, 0) != 0)
        rc = -1;
    if (rc == 0 && pinio_set_value(l, value) < 0)
        rc = -1;
    int err = errno;
    pinio_close(l);
    pinio_free(l);
    errno = err;
    return rc;
}

int read_line(const char *name)
{
    pinio_line *l = pinio_request_named(name);
    if (l == nullptr)
        return -1;
    int v = pinio_full_open(l) < 0 ? -1 : pinio_get_value(l);
    pinio_close(l);
    pinio_free(l);
    return v;
}

int open_pmic()
{
    int fd = dev_open("/dev/i2c-4", O_RDWR);
    if (fd < 0)
        return -1;
    if (dev_ioctl_value(fd, I2C_SLAVE, 0x90 >> 1) < 0) {
        dev_close(fd);
        return -1;
    }
    return fd;
}

int pmic_write(int fd, uint8_t reg, uint8_t value)
{
    const uint8_t bytes[2] = {reg, value};
    return static_cast<int>(dev_write(fd, bytes, sizeof bytes));
}

}  // namespace optad::test
