#include "sim/status_block.h"

#include <cstring>

namespace optad::sim {

namespace {

struct ByteValue {
    uint16_t offset;
    uint8_t value;
};

// The IMC's settings at start-up, as every restart brings them back.
constexpr ByteValue BOOT_DEFAULTS[] = {
    {sts::LENS_DRIVE, 0x00},
    {sts::FWUP_START, 0x00},
    {sts::FWUP_WRITE, 0x00},
    {sts::FOCUS_MODE, 0x01},
    {0x2B, 0x73}, {0x2C, 0x73}, {0x2D, 0x1B}, {0x2E, 0x1B},  // focus window
    {sts::IR_FOCUS, 0x00},
    {0x40, 0x00},  // exposure mode auto
    {0x41, 0x00},  // metering center
    {sts::IRIS, 0x08},
    {sts::SHUTTER, 0x13},
    {sts::GAIN, 0x00},
    {0x45, 0x00},  // exposure compensation
    {0x4E, 0x09},  // slow shutter 1/30
    {0x4F, 0x0A},  // AGC limit
    {0x52, 0x00}, {0x53, 0x13}, {0x54, 0x00},  // iris, shutter, gain settings
    {0x56, 0x40}, {0x57, 0x40}, {0x5C, 0x80}, {0x5D, 0x80},  // exposure window
    {sts::DAY_NIGHT_AUTO, 0x01},
    {sts::DAY_NIGHT_REC, 0x00},
    {0x62, 0x02}, {0x63, 0x02},
    {sts::DAY_NIGHT, 0x00},
    {0x67, 0x00},  // image stabilizer off
    {0x6C, 0x00}, {0x6D, 0x02}, {0x6E, 0x00}, {0x6F, 0x02},  // white balance gains 512
    {0x70, 0x00},
    {0x80, 0x03}, {0x82, 0x03}, {0x84, 0x01},
    {0x86, 0x00}, {0x87, 0x00},
    {0x8A, 0x01}, {0x8B, 0x01},
    {0x90, 0x00}, {0x91, 0x00}, {0x92, 0x00}, {0x93, 0x00},
    {0x9E, 0x00},
};

// The module's own data, kept over restarts.
constexpr ByteValue FACTORY[] = {
    {sts::LENS, 0x01},
    {sts::LENS_STATUS, 0x00},
    {sts::PROTECTOR, 0x00},
    {sts::RESOLUTION, 0x72},
    {sts::FRAME_RATE, 0x08},
    {0x38, 0x11}, {0x39, 0x22}, {0x3A, 0x33}, {0x3B, 0x44},
    {0x3C, 0x55}, {0x3D, 0x66}, {0x3E, 0x77}, {0x3F, 0x08},
    {0x46, 0x00}, {0x47, 0x1C},  // iris index limits 0..28
    {0x48, 0x00}, {0x49, 0x33},  // shutter index limits 0..51
    {0x4A, 0x00}, {0x4B, 0x28},  // gain index limits 0..40
    {sts::TEMPERATURE, 0x2A},    // 42 degrees
    {sts::FOCUS_SWITCH, 0x01},
};

}  // namespace

StatusBlock::StatusBlock()
{
    std::memset(bytes_, 0, sizeof bytes_);
    for (const ByteValue &b : FACTORY)
        bytes_[b.offset] = b.value;
    set_u32(sts::REVISION, 300);
    set_u16(sts::HW_INFO, 0x0102);
    set_u16(sts::OPTICS, 50);      // focal length in mm
    set_u16(sts::OPTICS + 2, 10);  // second optics value
    set_u16(sts::OPTICS + 4, 1);   // third optics value
    set_text(sts::SERIAL, sts::SERIAL_LEN, "2026120800000042");
    set_text(sts::LENS_NAME, sts::LENS_NAME_LEN, "EF50mm f/1.4 USM");
    boot_defaults();
}

void StatusBlock::boot_defaults()
{
    for (const ByteValue &b : BOOT_DEFAULTS)
        bytes_[b.offset] = b.value;
}

void StatusBlock::set_u16(int offset, unsigned value)
{
    bytes_[offset] = static_cast<uint8_t>(value);
    bytes_[offset + 1] = static_cast<uint8_t>(value >> 8);
}

unsigned StatusBlock::u16(int offset) const
{
    return bytes_[offset] | (bytes_[offset + 1] << 8);
}

void StatusBlock::set_u32(int offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t StatusBlock::u32(int offset) const
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | bytes_[offset + i];
    return v;
}

void StatusBlock::set_text(int offset, int width, const std::string &text)
{
    std::memset(bytes_ + offset, 0, static_cast<size_t>(width));
    std::memcpy(bytes_ + offset, text.data(), text.size() < static_cast<size_t>(width)
                                                  ? text.size()
                                                  : static_cast<size_t>(width));
}

std::string StatusBlock::text(int offset, int width) const
{
    const char *p = reinterpret_cast<const char *>(bytes_ + offset);
    return std::string(p, strnlen(p, static_cast<size_t>(width)));
}

}  // namespace optad::sim
