// The video-bridge FPGA between the image module and the main SoC's video
// input, reached as 32-bit registers over /dev/spidev3.0 (mode 0, 8 bits,
// 5 MHz).
//
// Register frames (little-endian):
//   read:  one transfer 0x13 + address (5 bytes), then a separate transfer
//          receiving the 4-byte value (chip select released in between)
//   write: one transfer 0x12 + address + value (9 bytes)
//
// Every operation opens the device, works and closes it again. Only the
// main-loop thread (or the tool) calls these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace optad {

// Register map.
inline constexpr uint32_t FPGA_REG_RW_CAPT = 0x00;     // capture size
inline constexpr uint32_t FPGA_REG_PCI_RX = 0x04;      // bits 0-23: 32-bit words per frame
inline constexpr uint32_t FPGA_REG_CTRL = 0x08;        // control (FPGA_CTRL_*)
inline constexpr uint32_t FPGA_REG_CROP_X = 0x0C;      // bits 0-13 width, 14-26 start
inline constexpr uint32_t FPGA_REG_CUR_CROP_X = 0x10;  // bits 0-13 width, 14-26 start
inline constexpr uint32_t FPGA_REG_CROP_Y = 0x14;      // bits 0-13 height, 14-26 start
inline constexpr uint32_t FPGA_REG_CUR_CROP_Y = 0x18;  // bits 0-13 height, 14-26 start
inline constexpr uint32_t FPGA_REG_IO_EXP = 0x20;      // bits 0-7: the status byte

// Control register bits.
inline constexpr uint32_t FPGA_CTRL_CROP_EN = 1u << 0;
inline constexpr uint32_t FPGA_CTRL_STRM_EN = 1u << 1;
inline constexpr uint32_t FPGA_CTRL_MIN_Y_VAL = 0xFFu << 14;

// The io_exp status byte.
inline constexpr int IO_EXP_NOT_INITIALIZED = 0x80;  // every other bit disregarded
inline constexpr int IO_EXP_DTCT_STRM = 0x40;        // video stream detected
inline constexpr int IO_EXP_TWO_LANE = 0x20;         // both lanes up
inline constexpr int IO_EXP_LINK_UP = 0x10;          // video link up
inline constexpr int IO_EXP_LINK_MASK = IO_EXP_DTCT_STRM | IO_EXP_TWO_LANE | IO_EXP_LINK_UP;

// All status registers, in this order.
struct fpga_status {
    uint32_t rw_capt;     // 0x00
    uint32_t io_exp;      // 0x20 (the whole register; the status byte is bits 0-7)
    uint32_t pci_rx;      // 0x04
    uint32_t ctrl;        // 0x08
    uint32_t crop_x;      // 0x0C
    uint32_t cur_crop_x;  // 0x10
    uint32_t crop_y;      // 0x14
    uint32_t cur_crop_y;  // 0x18
};

// One field of the status dump: a bit field of one register of fpga_status.
// The table lists them in dump order; group_end marks where the dump puts a
// blank line.
struct FpgaField {
    const char *name;  // "ctrl.crop_en"
    uint32_t fpga_status::*reg;
    unsigned shift;
    uint32_t mask;  // after the shift
    bool group_end;
};
inline constexpr size_t FPGA_FIELD_COUNT = 17;
extern const FpgaField fpga_fields[FPGA_FIELD_COUNT];

// The value of one field.
inline uint32_t fpga_field_value(const fpga_status &st, const FpgaField &f)
{
    return (st.*(f.reg) >> f.shift) & f.mask;
}
// The capture size as the dump shows it: width bits 0-15, height bits
// 16-31 times 8.
inline int fpga_capt_width(uint32_t rw_capt) { return static_cast<int>(rw_capt & 0xFFFF); }
inline int fpga_capt_height(uint32_t rw_capt) { return static_cast<int>(rw_capt >> 16) * 8; }

// The register value that programs a capture window, and the number of
// 32-bit words in a frame of two bytes per pixel.
inline uint32_t fpga_rw_capt_value(int width, int height)
{
    return ((static_cast<uint32_t>(height) << 13) & 0x3FFE000u) | (static_cast<uint32_t>(width) & 0x1FFFu);
}
inline uint32_t fpga_pci_rx_value(int width, int height)
{
    return static_cast<uint32_t>(static_cast<int64_t>(width) * height / 2) & 0xFFFFFFu;
}

// Opens /dev/spidev3.0 and applies the bus settings. The descriptor, or -1.
int fpga_open();
int fpga_reg_read(int fd, uint32_t address, uint32_t *value);
int fpga_reg_write(int fd, uint32_t address, uint32_t value);

// The io_exp status byte (0 to 255), or -1 when the open or the read failed.
int fpga_read_io_exp();

// Reads every status register. 0, or -1 (record filled only up to the
// failing register).
int get_all_fpga_regs(fpga_status *status);

// The status dump in syslog at debug priority, whatever the verbose flag
// says. Returns the result of get_all_fpga_regs.
int print_fpga_status();

// Programs the capture window (stream stopped while the size changes).
// 0, or the first failing access's negative result.
int fpga_set_window(int width, int height);

}  // namespace optad
