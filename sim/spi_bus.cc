#include "sim/spi_bus.h"

#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstring>

namespace optad::sim {

SpiBus::SpiBus(Context &ctx, const SpiRules &rules, SpiTarget &target, Interrupts::Source irq)
    : ctx_(ctx), rules_(rules), target_(target), irq_(irq)
{
}

namespace {

template <typename T>
bool get(const uint8_t *payload, size_t len, T *value)
{
    if (len < sizeof(T))
        return false;
    std::memcpy(value, payload, sizeof(T));
    return true;
}

template <typename T>
void put(std::vector<uint8_t> &out, T value)
{
    out.resize(sizeof(T));
    std::memcpy(out.data(), &value, sizeof(T));
}

}  // namespace

int SpiBus::ioctl(uint32_t request, const uint8_t *payload, size_t len, std::vector<uint8_t> &out)
{
    if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 &&
        _IOC_DIR(request) == _IOC_WRITE)
        return message(request, payload, len, out);

    uint8_t u8;
    uint32_t u32;
    switch (request) {
    case SPI_IOC_WR_MODE:
        if (!get(payload, len, &u8))
            return -EFAULT;
        mode_ = (mode_ & ~0xFFu) | u8;
        return 0;
    case SPI_IOC_WR_MODE32:
        if (!get(payload, len, &u32))
            return -EFAULT;
        mode_ = u32;
        return 0;
    case SPI_IOC_RD_MODE:
        put<uint8_t>(out, static_cast<uint8_t>(mode_));
        return 0;
    case SPI_IOC_RD_MODE32:
        put<uint32_t>(out, mode_);
        return 0;
    case SPI_IOC_WR_LSB_FIRST:
        if (!get(payload, len, &u8))
            return -EFAULT;
        mode_ = u8 ? (mode_ | SPI_LSB_FIRST) : (mode_ & ~static_cast<uint32_t>(SPI_LSB_FIRST));
        return 0;
    case SPI_IOC_RD_LSB_FIRST:
        put<uint8_t>(out, (mode_ & SPI_LSB_FIRST) ? 1 : 0);
        return 0;
    case SPI_IOC_WR_BITS_PER_WORD:
        if (!get(payload, len, &u8))
            return -EFAULT;
        bits_ = u8 == 0 ? 8 : u8;
        return 0;
    case SPI_IOC_RD_BITS_PER_WORD:
        put<uint8_t>(out, bits_);
        return 0;
    case SPI_IOC_WR_MAX_SPEED_HZ:
        if (!get(payload, len, &u32))
            return -EFAULT;
        if (u32 == 0)
            return -EINVAL;
        max_speed_ = u32;
        if (rules_.speed_exact ? u32 != rules_.speed_hz : u32 > rules_.speed_hz)
            ctx_.violation("%s: maximum speed set to %u Hz, the chip needs %s%u Hz", rules_.name,
                           u32, rules_.speed_exact ? "" : "at most ", rules_.speed_hz);
        return 0;
    case SPI_IOC_RD_MAX_SPEED_HZ:
        put<uint32_t>(out, max_speed_);
        return 0;
    default:
        ctx_.violation("%s: unknown spidev request 0x%08X", rules_.name, request);
        return -ENOTTY;
    }
}

bool SpiBus::check(const spi_ioc_transfer &x)
{
    bool ok = true;
    if (mode_ != rules_.mode) {
        ctx_.violation("%s: SPI mode 0x%X, the chip needs 0x%X", rules_.name, mode_, rules_.mode);
        ok = false;
    }
    uint32_t speed = x.speed_hz != 0 ? x.speed_hz : max_speed_;
    if (x.speed_hz == 0) {
        ctx_.violation("%s: transfer record carries no speed", rules_.name);
        ok = false;
    } else if (rules_.speed_exact ? speed != rules_.speed_hz : speed > rules_.speed_hz) {
        ctx_.violation("%s: transfer speed %u Hz, the chip needs %s%u Hz", rules_.name, speed,
                       rules_.speed_exact ? "" : "at most ", rules_.speed_hz);
        ok = false;
    }
    if (x.bits_per_word != 8) {
        ctx_.violation("%s: %u bits per word, the chip needs 8", rules_.name, x.bits_per_word);
        ok = false;
    }
    if (x.delay_usecs != rules_.delay_usecs) {
        ctx_.violation("%s: delay after transfer %u us, the chip needs %u us", rules_.name,
                       x.delay_usecs, rules_.delay_usecs);
        ok = false;
    }
    if (x.cs_change != 0) {
        ctx_.violation("%s: chip select change %u between transfers, the chip needs 0", rules_.name,
                       x.cs_change);
        ok = false;
    }
    if (x.tx_nbits != 0 || x.rx_nbits != 0 || x.word_delay_usecs != 0 || x.pad != 0) {
        ctx_.violation("%s: transfer record fields not zero (tx_nbits %u, rx_nbits %u, "
                       "word_delay_usecs %u, pad %u)",
                       rules_.name, x.tx_nbits, x.rx_nbits, x.word_delay_usecs, x.pad);
        ok = false;
    }
    return ok;
}

int SpiBus::message(uint32_t request, const uint8_t *payload, size_t len, std::vector<uint8_t> &out)
{
    size_t size = _IOC_SIZE(request);
    if (size % sizeof(spi_ioc_transfer) != 0) {
        ctx_.violation("%s: SPI_IOC_MESSAGE with a %zu-byte record, transfer records are %zu bytes",
                       rules_.name, size, sizeof(spi_ioc_transfer));
        return -EINVAL;
    }
    if (len < size)
        return -EFAULT;
    size_t n = size / sizeof(spi_ioc_transfer);
    const uint8_t *tx = payload + size;
    size_t tx_left = len - size;

    // First pass, as spidev does: sizes and buffers before any transfer.
    uint64_t total = 0;
    uint64_t rx_total = 0;
    for (size_t i = 0; i < n; ++i) {
        spi_ioc_transfer x;
        std::memcpy(&x, payload + i * sizeof x, sizeof x);
        total += x.len;
        if (x.rx_buf != 0)
            rx_total += x.len;
        if (x.tx_buf != 0) {
            if (tx_left < x.len)
                return -EFAULT;
            tx_left -= x.len;
        }
    }
    if (total > MAX_MESSAGE || rx_total > MAX_MESSAGE) {
        ctx_.violation("%s: SPI message of %llu bytes exceeds the driver's %u-byte buffer",
                       rules_.name, static_cast<unsigned long long>(total), MAX_MESSAGE);
        return -EMSGSIZE;
    }

    // An injected failure of the transfer: the chip sees nothing.
    int err;
    if (ctx_.fail(FailKind::SpiError, rules_.fail_target, &err))
        return -err;

    out.assign(static_cast<size_t>(rx_total), 0);
    size_t rx_pos = 0;
    for (size_t i = 0; i < n; ++i) {
        spi_ioc_transfer x;
        std::memcpy(&x, payload + i * sizeof x, sizeof x);
        const uint8_t *t = nullptr;
        if (x.tx_buf != 0) {
            t = tx;
            tx += x.len;
        }
        uint8_t *r = nullptr;
        if (x.rx_buf != 0) {
            r = out.data() + rx_pos;
            rx_pos += x.len;
        }
        bool valid = check(x);
        target_.transfer(t, r, x.len, valid);
    }
    ctx_.interrupts.count(irq_);
    // An injected short count: the chip got the whole message, but the
    // driver reports fewer bytes (what the programs must take as failed).
    int moved;
    if (ctx_.fail(FailKind::SpiShort, rules_.fail_target, &moved))
        return moved;
    return static_cast<int>(total);
}

}  // namespace optad::sim
