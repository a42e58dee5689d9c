// The IMC's camera status block as the simulated IMC keeps it: 512 bytes,
// offsets as the IMC reports them, multi-byte numbers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace optad::sim {

namespace sts {
inline constexpr size_t SIZE = 512;
inline constexpr int REVISION = 0x08;       // 32-bit
inline constexpr int LENS = 0x12;           // 0 detached, 1 attached; error code while 0x13 is 0x80
inline constexpr int LENS_STATUS = 0x13;    // 0x80 lens error
inline constexpr int LENS_DRIVE = 0x14;     // bit 7 resetting focus, bit 6 focus moving
inline constexpr int PROTECTOR = 0x15;      // 0 closed, 1 open, 2 moving, 0x80 error
inline constexpr int RESOLUTION = 0x16;
inline constexpr int FRAME_RATE = 0x17;
inline constexpr int FWUP_START = 0x1A;     // answer to the version-up start: 1 OK
inline constexpr int FWUP_WRITE = 0x1B;     // answer about the write-in: 1 OK, 0 wait time-out
inline constexpr int HW_INFO = 0x1C;        // 16-bit
inline constexpr int FOCUS_MODE = 0x20;
inline constexpr int IR_FOCUS = 0x2F;       // high nibble wavelength code, low nibble enable
inline constexpr int OPTICS = 0x32;         // 3 x 16-bit
inline constexpr int IRIS = 0x42;
inline constexpr int SHUTTER = 0x43;
inline constexpr int GAIN = 0x44;
inline constexpr int LIMITS = 0x46;         // iris, shutter, gain: min and max each
inline constexpr int DAY_NIGHT_AUTO = 0x60;
inline constexpr int DAY_NIGHT_REC = 0x61;  // 0x10 day, 0x11 night
inline constexpr int DAY_NIGHT = 0x66;      // 0 day, 1 night, 0x80 IR-cut error
inline constexpr int TEMPERATURE = 0x98;    // signed
inline constexpr int FOCUS_SWITCH = 0x9C;
inline constexpr int HEARTBEAT = 0xA0;      // 2 bytes
inline constexpr int SERIAL = 0xB0;         // 16 chars
inline constexpr int SERIAL_LEN = 16;
inline constexpr int LENS_NAME = 0xC0;      // 80 chars, zero-padded
inline constexpr int LENS_NAME_LEN = 80;
}  // namespace sts

class StatusBlock {
public:
    // The module as it leaves the factory: a lens attached, protector
    // closed, the first capture mode, default limits and settings.
    StatusBlock();

    uint8_t *data() { return bytes_; }
    const uint8_t *data() const { return bytes_; }
    uint8_t &operator[](int offset) { return bytes_[offset]; }
    uint8_t operator[](int offset) const { return bytes_[offset]; }

    // The IMC's settings go back to their start values (they are not kept
    // over a restart; the physical state, the capture mode and the data of
    // the lens and the module are).
    void boot_defaults();

    void set_u16(int offset, unsigned value);
    unsigned u16(int offset) const;
    void set_u32(int offset, uint32_t value);
    uint32_t u32(int offset) const;
    // A zero-padded text field of the given width (cut to fit).
    void set_text(int offset, int width, const std::string &text);
    std::string text(int offset, int width) const;

private:
    uint8_t bytes_[sts::SIZE];
};

}  // namespace optad::sim
