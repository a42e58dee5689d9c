// A spidev device as the kernel offers it (mode, speed, bits per word,
// SPI_IOC_MESSAGE), with the checks of what the chip on the bus needs.
#pragma once

#include "sim/context.h"

#include <linux/spi/spidev.h>

#include <cstdint>
#include <vector>

namespace optad::sim {

// What the chip behind the bus needs. A transfer that breaks a rule is
// logged as a violation and reaches the chip as garbage (valid = false).
struct SpiRules {
    const char *name;       // for messages: "imc", "fpga"
    uint32_t mode;          // the SPI mode the chip works in
    uint32_t speed_hz;      // the speed (exact) or the highest speed
    bool speed_exact;
    uint16_t delay_usecs;   // the delay after each transfer it expects
    int fail_target;        // FAIL_SPI_IMC or FAIL_SPI_FPGA
};

class SpiTarget {
public:
    virtual ~SpiTarget() = default;
    // One transfer. tx is null when the transfer sends no buffer (zeros go
    // out), rx is null when nothing is received.
    virtual void transfer(const uint8_t *tx, uint8_t *rx, uint32_t len, bool valid) = 0;
};

class SpiBus {
public:
    // The kernel's transfer buffer size: longer messages are refused.
    static constexpr uint32_t MAX_MESSAGE = 4096;

    SpiBus(Context &ctx, const SpiRules &rules, SpiTarget &target, Interrupts::Source irq);

    // The spidev requests. Returns the result or -errno.
    int ioctl(uint32_t request, const uint8_t *payload, size_t len, std::vector<uint8_t> &out);

    uint32_t mode() const { return mode_; }
    uint32_t max_speed() const { return max_speed_; }

private:
    int message(uint32_t request, const uint8_t *payload, size_t len, std::vector<uint8_t> &out);
    bool check(const spi_ioc_transfer &x);

    Context &ctx_;
    SpiRules rules_;
    SpiTarget &target_;
    Interrupts::Source irq_;
    // The device's settings, shared by all opens like the kernel's spi_device.
    uint32_t mode_ = 0;
    uint32_t max_speed_ = 10'000'000;
    uint8_t bits_ = 8;
};

}  // namespace optad::sim
