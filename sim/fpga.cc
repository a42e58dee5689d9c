#include "sim/fpga.h"

#include <cstdio>

namespace optad::sim {

namespace {

constexpr uint8_t CMD_READ = 0x13;
constexpr uint8_t CMD_WRITE = 0x12;
constexpr uint32_t IO_EXP = 0x20;

struct RegName {
    uint32_t address;
    const char *name;
};
constexpr RegName REG_NAMES[] = {
    {0x00, "rw_capt"}, {0x04, "pci_rx"}, {0x08, "ctrl"}, {0x0C, "crop_x"},
    {0x10, "cur_crop_x"}, {0x14, "crop_y"}, {0x18, "cur_crop_y"}, {0x20, "io_exp"},
};

uint32_t le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

int Fpga::index(uint32_t address)
{
    if (address % 4 != 0 || address > 0x18)
        return -1;
    return static_cast<int>(address / 4);
}

void Fpga::hold_in_reset()
{
    for (uint32_t &r : regs_)
        r = 0;
    initialized_ = false;
    link_up_ = two_lane_ = stream_ = false;
    pending_read_ = -1;
}

void Fpga::set_link(bool up, bool two_lane, bool stream)
{
    link_up_ = up;
    two_lane_ = up && two_lane;
    stream_ = up && stream;
}

uint8_t Fpga::io_exp() const
{
    if (ctx_.faults.fpga_io_exp >= 0)
        return static_cast<uint8_t>(ctx_.faults.fpga_io_exp);
    uint8_t v = 0;
    if (!initialized_ || ctx_.faults.fpga_not_init)
        v |= NOT_INITIALIZED;
    if (initialized_) {
        v |= link_up_ ? LINK_UP : 0;
        v |= two_lane_ ? TWO_LANE : 0;
        v |= stream_ ? DTCT_STRM : 0;
    }
    return v;
}

uint32_t Fpga::reg(uint32_t address) const
{
    if (address == IO_EXP)
        return io_exp();
    if (!initialized_)
        return 0;
    int i = index(address);
    return i < 0 ? 0 : regs_[i];
}

void Fpga::write(uint32_t address, uint32_t value)
{
    int i = index(address);
    if (i < 0 || i == CUR_CROP_X || i == CUR_CROP_Y) {
        ctx_.violation("fpga: write to %s register 0x%02X", i < 0 ? "unknown" : "read-only",
                       address);
        return;
    }
    if (!initialized_) {
        ctx_.violation("fpga: write to register 0x%02X while the FPGA is %s", address,
                       ctx_.lines.level(Line::FpgaReset) ? "not initialised" : "held in reset");
        return;
    }
    bool stream_was_on = stream_enabled();
    regs_[i] = value;
    // Starting the stream takes the crop settings into the current crop.
    if (i == CTRL && !stream_was_on && stream_enabled()) {
        regs_[CUR_CROP_X] = regs_[CROP_X];
        regs_[CUR_CROP_Y] = regs_[CROP_Y];
    }
}

void Fpga::transfer(const uint8_t *tx, uint8_t *rx, uint32_t len, bool valid)
{
    if (!valid) {
        ctx_.record(LogKind::Fpga, "garbled transfer of %u bytes", len);
        pending_read_ = -1;
        return;
    }
    if (pending_read_ >= 0) {
        // The read-back: four bytes out, least significant first.
        uint32_t address = static_cast<uint32_t>(pending_read_);
        pending_read_ = -1;
        if (len != 4 || rx == nullptr) {
            ctx_.violation("fpga: read-back of register 0x%02X needs a 4-byte receive transfer, "
                           "got %u bytes%s",
                           address, len, rx == nullptr ? " without a receive buffer" : "");
            return;
        }
        uint32_t value = reg(address);
        for (int i = 0; i < 4; ++i)
            rx[i] = static_cast<uint8_t>(value >> (8 * i));
        ctx_.record(LogKind::Fpga, "read 0x%02X 0x%08X", address, value);
        return;
    }
    if (tx == nullptr) {
        ctx_.violation("fpga: %u-byte transfer without a command", len);
        return;
    }
    if (len == 5 && tx[0] == CMD_READ) {
        uint32_t address = le32(tx + 1);
        if (address != IO_EXP && index(address) < 0)
            ctx_.violation("fpga: read of unknown register 0x%08X", address);
        pending_read_ = address;
        return;
    }
    if (len == 9 && tx[0] == CMD_WRITE) {
        uint32_t address = le32(tx + 1);
        uint32_t value = le32(tx + 5);
        ctx_.record(LogKind::Fpga, "write 0x%02X 0x%08X", address, value);
        write(address, value);
        return;
    }
    ctx_.violation("fpga: %u-byte transfer starting 0x%02X is neither a read (5 bytes, 0x13) "
                   "nor a write (9 bytes, 0x12)",
                   len, len > 0 ? tx[0] : 0);
}

std::string Fpga::describe() const
{
    std::string out;
    char line[64];
    for (const RegName &r : REG_NAMES) {
        std::snprintf(line, sizeof line, "%s 0x%08X\n", r.name, reg(r.address));
        out += line;
    }
    return out;
}

}  // namespace optad::sim
