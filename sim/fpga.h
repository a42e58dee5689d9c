// The video-bridge FPGA on /dev/spidev3.0: its 32-bit registers, the
// read (5-byte command, then a separate 4-byte read-back) and write (9-byte)
// frames, and the io_exp status byte that follows reset, link and stream.
#pragma once

#include "sim/context.h"
#include "sim/spi_bus.h"

#include <cstdint>
#include <string>

namespace optad::sim {

class Fpga final : public SpiTarget {
public:
    static constexpr uint8_t NOT_INITIALIZED = 0x80;
    static constexpr uint8_t DTCT_STRM = 0x40;
    static constexpr uint8_t TWO_LANE = 0x20;
    static constexpr uint8_t LINK_UP = 0x10;

    explicit Fpga(Context &ctx) : ctx_(ctx) {}

    // fpga_reset low: held in reset, registers back to zero.
    void hold_in_reset();
    // Finished its own start after reset release.
    void initialized() { initialized_ = true; }
    bool is_initialized() const { return initialized_; }

    // Link state, driven by the board model.
    void set_link(bool up, bool two_lane, bool stream);
    bool link_up() const { return link_up_; }
    bool two_lane() const { return two_lane_; }
    bool stream_enabled() const { return (regs_[CTRL] & 0x2) != 0; }

    uint8_t io_exp() const;
    uint32_t reg(uint32_t address) const;

    void transfer(const uint8_t *tx, uint8_t *rx, uint32_t len, bool valid) override;

    std::string describe() const;

private:
    enum { CAPT, PCI_RX, CTRL, CROP_X, CUR_CROP_X, CROP_Y, CUR_CROP_Y, COUNT };
    static int index(uint32_t address);
    void write(uint32_t address, uint32_t value);

    Context &ctx_;
    uint32_t regs_[COUNT] = {};
    bool initialized_ = false;
    bool link_up_ = false;
    bool two_lane_ = false;
    bool stream_ = false;
    // The address of a read command waiting for its read-back transfer (the
    // FPGA keeps it while the chip select is released in between).
    int64_t pending_read_ = -1;
};

}  // namespace optad::sim
