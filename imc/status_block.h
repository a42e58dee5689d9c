// The camera status block: the IMC's 512-byte reply to the camera status
// request. recv_buf (imc/spi.h) holds the latest reply; scam_sts holds the
// last confirmed block, into which the parameter encoders also write the
// values they expect the IMC to report once a command is applied.
//
// The offsets below address both blocks. Multi-byte numbers are
// little-endian unless said otherwise. Bytes not named here are not
// interpreted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace optad {

inline constexpr size_t CAMERA_STATUS_SIZE = 512;

// Saved and expected camera status; cleared at start-up.
extern uint8_t scam_sts[CAMERA_STATUS_SIZE];

// ---- IMC, lens and protector state ----
inline constexpr size_t STS_FIRMWARE_REVISION = 0x08;  // 32-bit: installed IMC firmware revision
inline constexpr size_t STS_LENS_ATTACHED = 0x12;      // 0 detached, 1 attached; lens error code while 0x13 is 0x80
inline constexpr size_t STS_LENS_STATUS = 0x13;        // STS_LENS_ERROR: lens error
inline constexpr size_t STS_LENS_DRIVE = 0x14;         // lens drive activity bits (STS_LENS_DRIVE_*)
inline constexpr size_t STS_SUNLIGHT = 0x15;           // sunlight protector (STS_SUNLIGHT_*)
inline constexpr size_t STS_RESOLUTION = 0x16;         // resolution code (0x72, 0x60, 0x61)
inline constexpr size_t STS_FRAME_RATE = 0x17;         // frame rate (8, 25, 15)
inline constexpr size_t STS_FWUP_START_ANSWER = 0x1A;  // version-up start answer: 0x01 OK
inline constexpr size_t STS_FWUP_WRITE_ANSWER = 0x1B;  // write-in answer: 0x01 OK, 0x00 wait time-out
inline constexpr size_t STS_HARDWARE_INFO = 0x1C;      // 16-bit hardware information

// ---- focus ----
inline constexpr size_t STS_FOCUS_MODE = 0x20;
inline constexpr size_t STS_FOCUS_WINDOW_X = 0x2B;  // 1/256 of the image
inline constexpr size_t STS_FOCUS_WINDOW_Y = 0x2C;
inline constexpr size_t STS_FOCUS_WINDOW_WIDTH = 0x2D;
inline constexpr size_t STS_FOCUS_WINDOW_HEIGHT = 0x2E;
inline constexpr size_t STS_IR_FOCUS_CORRECTION = 0x2F;  // high nibble: wavelength code

// ---- optics: three 16-bit values ----
inline constexpr size_t STS_OPTICS_FOCAL_LENGTH = 0x32;
inline constexpr size_t STS_OPTICS_SECOND = 0x34;
inline constexpr size_t STS_OPTICS_THIRD = 0x36;
inline constexpr size_t STS_KEPT_IN_STEP = 0x38;  // 8 bytes copied into scam_sts, not interpreted
inline constexpr size_t STS_KEPT_IN_STEP_LEN = 8;

// ---- exposure ----
inline constexpr size_t STS_EXPOSURE_MODE = 0x40;
inline constexpr size_t STS_METERING_MODE = 0x41;
inline constexpr size_t STS_IRIS_INDEX = 0x42;     // current iris index
inline constexpr size_t STS_SHUTTER_INDEX = 0x43;  // current shutter index (0 = 1 s ... 51 = 1/8000 s)
inline constexpr size_t STS_GAIN_INDEX = 0x44;     // current gain index
inline constexpr size_t STS_EXPOSURE_COMP = 0x45;  // signed
inline constexpr size_t STS_IRIS_MIN = 0x46;
inline constexpr size_t STS_IRIS_MAX = 0x47;
inline constexpr size_t STS_SHUTTER_MIN = 0x48;
inline constexpr size_t STS_SHUTTER_MAX = 0x49;
inline constexpr size_t STS_GAIN_MIN = 0x4A;
inline constexpr size_t STS_GAIN_MAX = 0x4B;
inline constexpr size_t STS_SLOW_SHUTTER = 0x4E;  // maximum exposure code
inline constexpr size_t STS_AGC_LIMIT = 0x4F;
inline constexpr size_t STS_IRIS_SETTING = 0x52;
inline constexpr size_t STS_SHUTTER_SETTING = 0x53;
inline constexpr size_t STS_GAIN_SETTING = 0x54;
inline constexpr size_t STS_EXPOSURE_WINDOW_X = 0x56;  // 1/256 of the image
inline constexpr size_t STS_EXPOSURE_WINDOW_Y = 0x57;
inline constexpr size_t STS_EXPOSURE_WINDOW_WIDTH = 0x5C;
inline constexpr size_t STS_EXPOSURE_WINDOW_HEIGHT = 0x5D;

// ---- day/night ----
inline constexpr size_t STS_AUTO_DAY_NIGHT = 0x60;            // 1 auto, 0 manual
inline constexpr size_t STS_DAY_NIGHT_RECOMMENDATION = 0x61;  // 0x10 day, 0x11 night (0, 1 before the first)
inline constexpr size_t STS_DAY_NIGHT_LEVEL = 0x62;           // switching brightness level
inline constexpr size_t STS_DAY_NIGHT_TIME = 0x63;            // filter time
inline constexpr size_t STS_DAY_NIGHT_STATE = 0x66;           // 0 day, 1 night, 0x80 IR-cut filter error
inline constexpr size_t STS_STABILIZER = 0x67;                // 0 off, other on

// ---- picture ----
inline constexpr size_t STS_WB_R_GAIN = 0x6C;  // 16-bit, 10-bit value
inline constexpr size_t STS_WB_B_GAIN = 0x6E;  // 16-bit, 10-bit value
inline constexpr size_t STS_WB_MODE = 0x70;
inline constexpr size_t STS_SHARPNESS = 0x80;
inline constexpr size_t STS_COLOUR_LEVEL = 0x82;
inline constexpr size_t STS_NOISE_REDUCTION = 0x84;
inline constexpr size_t STS_WDR_MODE = 0x86;
inline constexpr size_t STS_WDR_LEVEL = 0x87;
inline constexpr size_t STS_VIGNETTING = 0x8A;  // 1 on
inline constexpr size_t STS_ABERRATION = 0x8B;  // 1 on

// ---- health ----
inline constexpr size_t STS_IMAGE_ERROR = 0x90;
inline constexpr size_t STS_POWER_ERROR = 0x91;
inline constexpr size_t STS_IMC_LOG = 0x92;            // 16-bit (logged as 0x93 then 0x92)
inline constexpr size_t STS_TEMPERATURE = 0x98;        // signed, degrees Celsius
inline constexpr size_t STS_LENS_FOCUS_SWITCH = 0x9C;  // 1: lens switched to auto focus
inline constexpr size_t STS_ROTATION = 0x9E;           // image rotation notification
inline constexpr size_t STS_HEART_BEAT = 0xA0;         // 2 bytes; 0xFF 0xFF: no supervision

// ---- identity ----
inline constexpr size_t STS_SERIAL_ID = 0xB0;  // not necessarily zero-terminated
inline constexpr size_t STS_SERIAL_ID_LEN = 16;
inline constexpr size_t STS_LENS_NAME = 0xC0;  // zero-padded
inline constexpr size_t STS_LENS_NAME_LEN = 80;

// ---- values ----
inline constexpr uint8_t STS_LENS_ERROR = 0x80;  // in STS_LENS_STATUS
inline constexpr uint8_t STS_LENS_DRIVE_RESETTING = 0x80;  // resetting the focus lens
inline constexpr uint8_t STS_LENS_DRIVE_FOCUSING = 0x40;   // in focus movement
inline constexpr uint8_t STS_LENS_DRIVE_OTHER = 0x3F;      // other activity
inline constexpr uint8_t STS_SUNLIGHT_CLOSED = 0x00;
inline constexpr uint8_t STS_SUNLIGHT_OPEN = 0x01;
inline constexpr uint8_t STS_SUNLIGHT_MOVING = 0x02;
inline constexpr uint8_t STS_SUNLIGHT_ERROR = 0x80;
inline constexpr uint8_t STS_IR_CUT_ERROR = 0x80;  // in STS_DAY_NIGHT_STATE

// Little-endian 16- and 32-bit reads from a block.
inline uint16_t sts_u16(const uint8_t *sts, size_t off)
{
    return static_cast<uint16_t>(sts[off] | (sts[off + 1] << 8));
}
inline uint32_t sts_u32(const uint8_t *sts, size_t off)
{
    return static_cast<uint32_t>(sts[off]) | (static_cast<uint32_t>(sts[off + 1]) << 8) |
           (static_cast<uint32_t>(sts[off + 2]) << 16) | (static_cast<uint32_t>(sts[off + 3]) << 24);
}

}  // namespace optad
