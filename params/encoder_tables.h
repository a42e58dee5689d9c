// The IMC's value codes for the parameter commands: what each exposure
// mode, maximum exposure time and parameter string is sent as.
//
// Pure data for the encoders (params/encoders.cc). Each table is searched
// front to back; the first matching row wins.
#pragma once

#include <cstddef>
#include <cstdint>

namespace optad {

// ---- exposure mode (command group 0x03, item 0x00) ----

// The IMC's exposure mode code of an exposure mode number (exposure_mode in
// config/param_settings.h). The flicker modes depend on the mains frequency.
struct exposure_mode_code {
    int mode;
    uint8_t code_50hz;   // CaptureFrequency "50Hz"
    uint8_t code_other;  // any other CaptureFrequency
};
inline constexpr size_t EXPOSURE_MODE_CODE_COUNT = 6;
extern const exposure_mode_code exposure_mode_codes[EXPOSURE_MODE_CODE_COUNT];

// The codes of the plain iris and shutter priority modes.
inline constexpr uint8_t EXPOSURE_CODE_IRIS = 4;
inline constexpr uint8_t EXPOSURE_CODE_SHUTTER = 5;

// ---- slow shutter: the longest exposure the IMC may choose ----

// Three commands carry it: item 0x05 accepts every time of the table, the
// 50 Hz item 0x0A only the multiples of the 50 Hz half period, the 60 Hz
// item 0x0B only those of 60 Hz.
enum slow_shutter_item : int {
    SLOW_SHUTTER_ANY = 0,   // item 0x05
    SLOW_SHUTTER_50HZ = 1,  // item 0x0A
    SLOW_SHUTTER_60HZ = 2,  // item 0x0B
};
inline constexpr int SLOW_SHUTTER_ITEM_COUNT = 3;
inline constexpr int SLOW_SHUTTER_NOT_ACCEPTED = -1;

struct slow_shutter_row {
    int max_exposure_us;
    int code[SLOW_SHUTTER_ITEM_COUNT];  // SLOW_SHUTTER_NOT_ACCEPTED: not for that item
};
inline constexpr size_t SLOW_SHUTTER_ROW_COUNT = 14;
extern const slow_shutter_row slow_shutter_table[SLOW_SHUTTER_ROW_COUNT];

// The code of a maximum exposure time for an item; SLOW_SHUTTER_NOT_ACCEPTED
// when the item does not take that time.
int slow_shutter_code(int max_exposure_us, slow_shutter_item item);

// ---- parameter strings ----

// A parameter string and the one or two value bytes it is sent as.
struct string_code {
    const char *text;
    uint8_t byte0;
    uint8_t byte1;
};

struct string_code_table {
    const string_code *rows;
    size_t count;
};

// The row whose text equals value exactly; nullptr for none (and for a
// missing value).
const string_code *string_code_find(const string_code_table &table, const char *value);

extern const string_code_table metering_codes;          // ExposureWindow
extern const string_code_table white_balance_codes;     // WhiteBalance
extern const string_code_table white_balance_manual_codes;  // WhiteBalanceManual
extern const string_code_table focus_drive_codes;       // FocusDrive: signed 16-bit steps, big-endian
extern const string_code_table stabilizer_codes;        // Stabilizer
extern const string_code_table auto_day_night_codes;    // IrCutFilter, auto day/night
extern const string_code_table day_night_codes;         // preferred day/night: day 0, night 1
extern const string_code_table ir_focus_codes;          // FocusTraceCurve: enable, wavelength
extern const string_code_table wdr_mode_codes;          // DynamicContrastEnabled
extern const string_code_table sunlight_codes;          // SensorProtector
extern const string_code_table lens_correction_codes;   // Vignetting/AberrationCorrection

// ---- day/night switching brightness ----

// ShiftLevel up to and including `up_to` is sent as `code`; above the last
// row the code is SWITCHING_BRIGHTNESS_ABOVE.
struct threshold_code {
    int up_to;
    uint8_t code;
};
inline constexpr size_t SWITCHING_BRIGHTNESS_ROW_COUNT = 4;
extern const threshold_code switching_brightness_codes[SWITCHING_BRIGHTNESS_ROW_COUNT];
inline constexpr uint8_t SWITCHING_BRIGHTNESS_ABOVE = 0;

}  // namespace optad
