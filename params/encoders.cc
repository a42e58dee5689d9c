#include "params/encoders.h"

#include "board/fpga.h"
#include "config/param_settings.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "imc/buffer.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/day_night.h"
#include "params/encoder_tables.h"
#include "params/limits.h"
#include "params/sdl.h"
#include "params/status_monitor.h"
#include "platform/log.h"
#include "platform/log_format.h"
#include "video/morvel6.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <variant>

namespace optad {

namespace {

// ---- the set-parameter frame ----

constexpr uint8_t GROUP_FOCUS = 0x01;
constexpr uint8_t GROUP_EXPOSURE = 0x03;
constexpr uint8_t GROUP_WHITE_BALANCE = 0x04;
constexpr uint8_t GROUP_DAY_NIGHT = 0x05;
constexpr uint8_t GROUP_PICTURE = 0x07;
constexpr uint8_t GROUP_SYSTEM = 0x08;
constexpr uint8_t GROUP_LENS_CORRECTION = 0x0B;

// Header bytes before the value bytes: checksum (2), length (2), frame type
// (2), body length (2), command length (1), 0x00, group, item.
constexpr size_t FRAME_HEADER_LENGTH = FRAME_ARGS;
constexpr size_t MAX_VALUE_BYTES = 4;

// What a value rule produces: the value bytes of the frame, the bytes the
// status block will show, and what the "Going to send" line prints.
struct encoding {
    uint8_t value[MAX_VALUE_BYTES] = {};
    // Bytes for scam_sts at the encoder's expect offsets. Unless the rule
    // sets own_expect, they are the value bytes in order.
    uint8_t expect[MAX_VALUE_BYTES] = {};
    bool own_expect = false;
    const char *text = nullptr;  // the string the line shows
    int number = 0;              // the number the line shows
};

// Reads the parameter(s) and fills the encoding. 0, or -1 to abort (the
// rule has logged why).
using value_rule = int (*)(encoding &e);
// Runs after the frame is complete (checksum done).
using follow_up = void (*)(const encoding &e);

// An encoder's "Going to send" line, by what it shows.
struct no_line {};
struct byte_line {  // value byte 0
    LogFormat<unsigned> format;
};
struct byte_text_line {  // value byte 0, the string
    LogFormat<unsigned, const char *> format;
};
struct two_bytes_line {  // value bytes 0, 1
    LogFormat<unsigned, unsigned> format;
};
struct two_bytes_text_line {  // value bytes 0, 1, the string
    LogFormat<unsigned, unsigned, const char *> format;
};
struct four_bytes_line {  // value bytes 0 to 3
    LogFormat<unsigned, unsigned, unsigned, unsigned> format;
};
struct byte_number_line {  // value byte 0, the number
    LogFormat<unsigned, int> format;
};
struct bytes_1_2_line {  // value bytes 1, 2
    LogFormat<unsigned, unsigned> format;
};
using going_to_send_line = std::variant<no_line, byte_line, byte_text_line, two_bytes_line, two_bytes_text_line,
                                        four_bytes_line, byte_number_line, bytes_1_2_line>;

struct encoder {
    int job;
    uint8_t group;
    uint8_t item;
    uint8_t value_bytes;   // N: 1 to 4
    uint8_t expect_count;  // 0 to 4
    uint16_t expect_at[MAX_VALUE_BYTES];
    int logged_as;         // the parameter the send step names
    value_rule rule;
    follow_up after;       // nullptr: none
    going_to_send_line going_to_send;
    const char *checksum_message;
};

// A string for a "%s" of a log line; a parameter can be absent.
const char *shown(const char *s)
{
    return s != nullptr ? s : "NULL";
}

uint8_t low_byte(long long v)
{
    return static_cast<uint8_t>(v & 0xFF);
}

bool is_50hz()
{
    const char *frequency = param_get_string_value(PARAM_CAPTURE_FREQUENCY);
    return frequency != nullptr && std::strcmp(frequency, "50Hz") == 0;
}

bool is_60hz()
{
    const char *frequency = param_get_string_value(PARAM_CAPTURE_FREQUENCY);
    return frequency != nullptr && std::strcmp(frequency, "60Hz") == 0;
}

// ---- string parameters ----

// What a string outside the table does, with the message it logs.
struct substitute {  // send the default byte(s); the message shows the first
    LogFormat<unsigned> message;
};
struct silent {};  // send the default byte(s), log nothing
struct refuse {    // no frame
    LogFormat<> message;
};
struct refuse_naming {  // no frame; the message shows the string
    LogFormat<const char *> message;
};
using unknown_string = std::variant<substitute, silent, refuse, refuse_naming>;

struct string_rule {
    int param;
    const string_code_table &codes;
    uint8_t default0;
    uint8_t default1;
    unknown_string unknown;
};

int encode_string(encoding &e, const string_rule &r)
{
    const char *value = param_get_string_value(r.param);
    e.text = value;
    if (const string_code *row = string_code_find(r.codes, value)) {
        e.value[0] = row->byte0;
        e.value[1] = row->byte1;
        return 0;
    }
    if (const refuse *a = std::get_if<refuse>(&r.unknown)) {
        log_line(LOG_ERR, a->message);
        return -1;
    }
    if (const refuse_naming *a = std::get_if<refuse_naming>(&r.unknown)) {
        log_line(LOG_ERR, a->message, shown(value));
        return -1;
    }
    if (const substitute *a = std::get_if<substitute>(&r.unknown))
        log_line(LOG_ERR, a->message, r.default0);
    e.value[0] = r.default0;
    e.value[1] = r.default1;
    return 0;
}

template <const string_rule &R>
int by_string(encoding &e)
{
    return encode_string(e, R);
}

constexpr string_rule metering_rule = {
    PARAM_EXPOSURE_WINDOW, metering_codes, 0, 0,
    substitute{"ERROR:optad:main_loop:metering - Received an invalid parameter. Using the default mode center=0x%02X\n"}};
constexpr string_rule white_balance_rule = {
    PARAM_WHITE_BALANCE, white_balance_codes, 0, 0,
    substitute{"ERROR:optad:main_loop:wb_mode - Received an invalid parameter. Using the default mode auto=0x%02X\n"}};
constexpr string_rule white_balance_manual_rule = {
    PARAM_WHITE_BALANCE_MANUAL, white_balance_manual_codes, 0, 0,
    refuse{"ERROR:optad:main_loop:wb_man - Received an invalid parameter. Aborting...\n"}};
constexpr string_rule focus_drive_rule = {
    PARAM_FOCUS_DRIVE, focus_drive_codes, 0, 0,
    refuse_naming{"ERROR:optad:main_loop:focusdrive - Invalid step value:%s\n"}};
constexpr string_rule stabilizer_rule = {
    PARAM_STABILIZER, stabilizer_codes, 0, 0,
    substitute{"ERROR:optad:main_loop:d/n - Received an invalid parameter. Using the default mode off=0x%02X\n"}};
constexpr string_rule auto_day_night_rule = {
    PARAM_IR_CUT_FILTER, auto_day_night_codes, 0, 0,
    substitute{"ERROR:optad:main_loop:auto_d/n - Received an invalid parameter. Using the default mode manual=0x%02X\n"}};
constexpr string_rule ir_focus_rule = {
    PARAM_FOCUS_TRACE_CURVE, ir_focus_codes, 0, 0,
    substitute{"ERROR:optad:main_loop:d/n - Received an invalid parameter. Using the default mode disable=0x%02X\n"}};
constexpr string_rule wdr_mode_rule = {
    PARAM_DYNAMIC_CONTRAST_ENABLED, wdr_mode_codes, 0, 0,
    substitute{"ERROR:optad:main_loop:set_wdr_mode - Received an invalid parameter. Using the default mode off=0x%02X\n"}};
constexpr string_rule sunlight_rule = {
    PARAM_SENSOR_PROTECTOR, sunlight_codes, 0, 0,
    refuse_naming{"ERROR:optad:main_loop:sunlight - Invalid command string:%s\n"}};
// Anything but "yes" switches the correction off.
constexpr string_rule vignetting_rule = {
    PARAM_VIGNETTING_CORRECTION, lens_correction_codes, 1, 0, silent{}};
constexpr string_rule aberration_rule = {
    PARAM_ABERRATION_CORRECTION, lens_correction_codes, 1, 0, silent{}};

// The IR focus correction is reported with the wavelength code in the high
// nibble.
int ir_focus(encoding &e)
{
    int r = encode_string(e, ir_focus_rule);
    e.expect[0] = static_cast<uint8_t>(e.value[1] << 4);
    e.own_expect = true;
    return r;
}

// The correction commands take 0 for "on", while the status block reports
// 1 for "on": the expected byte is the inverse of the sent one.
template <const string_rule &R>
int lens_correction(encoding &e)
{
    int r = encode_string(e, R);
    e.expect[0] = e.value[0] == 0 ? 1 : 0;
    e.own_expect = true;
    return r;
}

int focus_drive(encoding &e)
{
    OPTAD_LOG_DEBUG("Performing Relative focus movement:%s\n",
                    shown(param_get_string_value(PARAM_FOCUS_DRIVE)));
    return encode_string(e, focus_drive_rule);
}

// ---- exposure ----

int exposure_mode(encoding &e)
{
    e.text = param_get_string_value(PARAM_EXPOSURE);
    int mode = exposure_mode_from_string(e.text);
    for (const exposure_mode_code &row : exposure_mode_codes) {
        if (row.mode == mode) {
            e.value[0] = is_50hz() ? row.code_50hz : row.code_other;
            return 0;
        }
    }
    OPTAD_LOG_ERROR("ERROR:optad:main_loop:exp_mode - Unkown exposure mode\n");
    return -1;
}

// The compensation step: one step per 7 points of Brightness away from 50,
// rounded away from 50, -8 to +8. Values outside 0..100 are not expected
// (the property takes any int): below 0 gives -7, above 100 no compensation.
int exposure_compensation(encoding &e)
{
    int b = param_get_int_value(PARAM_BRIGHTNESS);
    int step = 0;
    if (b < 0)
        step = -7;
    else if (b <= 100)
        step = b >= 50 ? (b - 50 + 6) / 7 : -((50 - b + 6) / 7);
    e.value[0] = low_byte(step);
    return 0;
}

// An int parameter within limits, or the lower limit.
uint8_t within_or_lower(int value, int min, int max)
{
    return low_byte(value < min || value > max ? min : value);
}

int diaphragm(encoding &e)
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:diaphragm - s_sdl.diaphragm_min=%d, s_sdl.diaphragm_max=%d\n",
                    s_sdl.diaphragm_min, s_sdl.diaphragm_max);
    e.value[0] = within_or_lower(param_get_int_value(PARAM_IRIS), s_sdl.diaphragm_min, s_sdl.diaphragm_max);
    return 0;
}

// The lowest allowed index is the longest allowed exposure; a time that is
// no shutter speed takes it as well.
int shutter(encoding &e)
{
    int index = shutter_time_to_index(param_get_int_value(PARAM_SHUTTER));
    if (index == -1)
        index = s_sdl.shutter_speed_min;
    e.value[0] = within_or_lower(index, s_sdl.shutter_speed_min, s_sdl.shutter_speed_max);
    return 0;
}

int gain(encoding &e)
{
    e.value[0] = within_or_lower(param_get_int_value(PARAM_GAIN), s_sdl.gain_min, s_sdl.gain_max);
    return 0;
}

// Flicker-free exposure only works with the half period of the mains as
// the longest exposure: any other MaxExposureTime is put right first.
int flicker_free_max_exposure(int max_exposure)
{
    if (exposure_mode_from_string(param_get_string_value(PARAM_EXPOSURE)) != EXPOSURE_MODE_FLICKERFREE)
        return max_exposure;
    if (is_50hz()) {
        if (max_exposure != 20000) {
            OPTAD_LOG_ERROR("ERROR:optad:main_loop:slow_shutter - Received an invalid parameter. Using the default slow shutter: 1/50\n");
            max_exposure = 20000;
            param_set_int_value(PARAM_MAX_EXPOSURE_TIME, max_exposure);
        }
    } else if (is_60hz()) {
        if (max_exposure != 16666) {
            OPTAD_LOG_ERROR("ERROR:optad:main_loop:slow_shutter - Received an invalid parameter. Using the default slow shutter: 1/60\n");
            max_exposure = 16666;
            param_set_int_value(PARAM_MAX_EXPOSURE_TIME, max_exposure);
        }
    }
    return max_exposure;
}

template <slow_shutter_item Item>
int slow_shutter(encoding &e)
{
    int max_exposure = param_get_int_value(PARAM_MAX_EXPOSURE_TIME);
    if constexpr (Item == SLOW_SHUTTER_ANY)
        max_exposure = flicker_free_max_exposure(max_exposure);
    e.number = max_exposure;

    int code = slow_shutter_code(max_exposure, Item);
    if (code == SLOW_SHUTTER_NOT_ACCEPTED) {
        // The 50 and 60 Hz items fall back to 1/8 s (code 5); their messages
        // name the usual 1/25 and 1/30.
        if constexpr (Item == SLOW_SHUTTER_ANY) {
            code = 0;
            OPTAD_LOG_ERROR("ERROR:optad:main_loop:slow_shutter - Received an invalid parameter. Using the default slow shutter=0x%02X\n", code);
        } else if constexpr (Item == SLOW_SHUTTER_50HZ) {
            code = 5;
            OPTAD_LOG_ERROR("ERROR:optad:main_loop:slow_shutter_50hz - Received an invalid parameter:%d Using the default mode 1/25=0x%02X\n", max_exposure, code);
        } else {
            code = 5;
            OPTAD_LOG_ERROR("ERROR:optad:main_loop:slow_shutter_60hz - Received an invalid parameter:%d Using the default mode 1/30=0x%02X\n", max_exposure, code);
        }
    }
    e.value[0] = low_byte(code);
    return 0;
}

// In the automatic modes MaxExposureTime is the user's own choice, to come
// back to after a flicker mode has imposed its limit.
void remember_max_exposure(const encoding &e)
{
    int mode = exposure_mode_from_string(param_get_string_value(PARAM_EXPOSURE));
    if (mode == EXPOSURE_MODE_AUTO || mode == EXPOSURE_MODE_IRIS)
        param_set_remembered_max_exposure_time(e.number);
}

void exposure_changed(const encoding &)
{
    start_exposure_settle_watch();
}

// A window edge on the 0..9999 scale in the IMC's 1/256 of the image, in
// single precision, rounded half away from zero. Negative results (an edge
// pair in the wrong order) are sent as 0; only the low byte goes out.
uint8_t window_grid(int edge)
{
    float v = std::roundf(static_cast<float>(edge) * 256.0f / 9999.0f);
    if (!(v > 0.0f))
        return 0;
    if (v > 65535.0f)  // far outside any window; keeps the conversion defined
        v = 65535.0f;
    return low_byte(static_cast<unsigned>(v));
}

int exposure_window_position(encoding &e)
{
    adjust_exposure_window();
    e.value[0] = window_grid(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT));
    e.value[1] = window_grid(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP));
    return 0;
}

int exposure_window_size(encoding &e)
{
    adjust_exposure_window();
    int left = param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT);
    int right = param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT);
    int top = param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP);
    int bottom = param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM);
    e.value[0] = window_grid(right - left);
    e.value[1] = window_grid(bottom - top);
    return 0;
}

// The AGC limit in steps of 6 dB, at most 10.
int agc(encoding &e)
{
    int max_gain = param_get_int_value(PARAM_MAX_GAIN);
    e.value[0] = low_byte(max_gain < 66 ? max_gain / 6 : 10);
    return 0;
}

// 0 means the longer exposures of "shutter" priority, anything else "iris".
int exposure_priority(encoding &e)
{
    e.number = param_get_int_value(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL);
    e.value[0] = e.number == 0 ? EXPOSURE_CODE_SHUTTER : EXPOSURE_CODE_IRIS;
    return 0;
}

// ---- white balance and picture ----

// The manual gains, 0..255, are sent as 10-bit values, big-endian; the
// status block shows them little-endian.
int rb_gain(encoding &e)
{
    long long r10 = static_cast<long long>(param_get_int_value(PARAM_WHITE_BALANCE_MANUAL_R)) * 1023 / 255;
    long long b10 = static_cast<long long>(param_get_int_value(PARAM_WHITE_BALANCE_MANUAL_B)) * 1023 / 255;
    e.value[0] = low_byte(r10 >> 8);
    e.value[1] = low_byte(r10);
    e.value[2] = low_byte(b10 >> 8);
    e.value[3] = low_byte(b10);
    e.expect[0] = e.value[1];
    e.expect[1] = e.value[0];
    e.expect[2] = e.value[3];
    e.expect[3] = e.value[2];
    e.own_expect = true;
    return 0;
}

// value x Mul / Div, low byte.
template <int Param, int Mul, int Div>
int scaled(encoding &e)
{
    e.value[0] = low_byte(static_cast<long long>(param_get_int_value(Param)) * Mul / Div);
    return 0;
}

// ---- system ----

// A new capture mode needs the video path (the SoC's input and the FPGA's
// capture window) set up for its size before the IMC switches. When the
// start-up sync found the IMC already in this mode, the path is right.
int capture_mode(encoding &e)
{
    if (!daemon_state.same_capture_mode) {
        if (const capture_mode_row *row = capture_mode_find(param_get_int_value(PARAM_CAPTURE_MODE))) {
            init_morvel6(row->width, row->height);
            fpga_set_window(row->width, row->height);
        }
    }

    // Read again: the value may have changed while the path was set up.
    // Modes the table does not know run as mode 1.
    const capture_mode_row *row = capture_mode_find(param_get_int_value(PARAM_CAPTURE_MODE));
    if (row == nullptr)
        row = &capture_mode_table[0];
    capture_settings_apply(s_capture, *row);
    e.value[0] = 0x00;
    e.value[1] = low_byte(row->resolution_code);
    e.value[2] = low_byte(row->frame_rate);
    e.expect[0] = e.value[1];
    e.expect[1] = e.value[2];
    e.own_expect = true;
    return 0;
}

// ---- focus ----

// FocusMode 5 asks for a one-shot focus; the status block shows 5 while it
// runs and 1 at rest.
int focus_mode(encoding &e)
{
    int mode = param_get_int_value(PARAM_FOCUS_MODE);
    e.value[0] = low_byte(mode);
    e.expect[0] = mode == 5 ? 5 : 1;
    e.own_expect = true;
    return 0;
}

bool is_fraction(float v)
{
    return v >= 0.0f && v <= 1.0f;  // false for NaN
}

int grid(float fraction)
{
    return static_cast<int>(std::roundf(fraction * 256.0f));
}

void invalid_focus_window(const char *word, const char *window)
{
    OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Invalid focus measure window \"%s\" specified", "optad", word,
                    shown(window));
}

// The IMC takes the window's first corner within 11..218 of 256.
int focus_window_position(encoding &e)
{
    const char *window = param_get_string_value(PARAM_FOCUS_W0);
    float x0, y0, x1, y1;
    if (window == nullptr || std::sscanf(window, "%f,%f:%f,%f", &x0, &y0, &x1, &y1) != 4 ||
        !is_fraction(x0) || !is_fraction(y0) || !is_fraction(x1) || !is_fraction(y1)) {
        invalid_focus_window("set_focus_window", window);
        return -1;
    }
    auto clamp_position = [](int v) { return v < 11 ? 11 : v > 218 ? 218 : v; };
    e.value[0] = low_byte(clamp_position(grid(x0)));
    e.value[1] = low_byte(clamp_position(grid(y0)));
    return 0;
}

// The size from the first to the third corner, 26..179 of 256, with the
// far edge no further than 244.
uint8_t focus_window_extent(float first, float third)
{
    int near_edge = grid(first);
    int far_edge = grid(third);
    int size = far_edge - near_edge;
    if (size < 26)
        return 26;
    if (size > 179)
        return 179;
    return low_byte((far_edge < 244 ? far_edge : 244) - near_edge);
}

int focus_window_size(encoding &e)
{
    const char *window = param_get_string_value(PARAM_FOCUS_W0);
    float x[4], y[4];
    if (window == nullptr ||
        std::sscanf(window, "%f,%f:%f,%f:%f,%f:%f,%f", &x[0], &y[0], &x[1], &y[1], &x[2], &y[2], &x[3],
                    &y[3]) != 8 ||
        !is_fraction(x[0]) || !is_fraction(y[0]) || !is_fraction(x[2]) || !is_fraction(y[2])) {
        invalid_focus_window("set_focus_window_size", window);
        return -1;
    }
    e.value[0] = focus_window_extent(x[0], x[2]);
    e.value[1] = focus_window_extent(y[0], y[2]);
    return 0;
}

// ---- day/night ----

// With IrCutFilter "auto" the IMC's own recommendation (stored by the
// status monitor) decides; otherwise the user's choice does.
int day_night(encoding &e)
{
    const char *ir_cut = param_get_string_value(PARAM_IR_CUT_FILTER);
    if (ir_cut == nullptr || std::strcmp(ir_cut, "auto") != 0) {
        set_preferred_day_night(ir_cut);
    } else {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:d/n - Processing preferred day-night:%s setting recommended by IMC \n",
                        shown(preferred_day_night()));
    }

    const char *preferred = preferred_day_night();
    e.text = preferred;
    if (const string_code *row = string_code_find(day_night_codes, preferred)) {
        e.value[0] = row->byte0;
    } else {
        e.value[0] = 1;
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:d/n - Received an invalid parameter value: %s. Using the default mode: 0x%02X\n",
                        shown(preferred), e.value[0]);
    }
    return 0;
}

int switching_brightness(encoding &e)
{
    int level = param_get_int_value(PARAM_SHIFT_LEVEL);
    e.value[0] = SWITCHING_BRIGHTNESS_ABOVE;
    for (const threshold_code &row : switching_brightness_codes) {
        if (level <= row.up_to) {
            e.value[0] = row.code;
            break;
        }
    }
    return 0;
}

int day_night_time(encoding &e)
{
    int time = param_get_int_value(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS);
    if (time >= 0 && time <= 4) {
        e.value[0] = low_byte(time);
    } else {
        e.value[0] = 2;
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:time_day_night_filter - Received an invalid parameter:%d Using the default time=0x%02X\n",
                        time, e.value[0]);
    }
    return 0;
}

// ---- the encoders ----

constexpr encoder encoders[] = {
    // job, group, item, N, expect count, expect offsets, logged as,
    // value rule, follow-up,
    // "Going to send" line (by the values it shows),
    // checksum message
    {JOB_EXP_MODE, GROUP_EXPOSURE, 0x00, 1, 1, {STS_EXPOSURE_MODE}, PARAM_EXPOSURE,
     exposure_mode, exposure_changed,
     byte_text_line{"DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x%02X and string=%s\n"},
     "ERROR:optad:main_loop:exp_mode - Invalid checksum\n"},
    {JOB_EXP_COMP, GROUP_EXPOSURE, 0x01, 1, 1, {STS_EXPOSURE_COMP}, PARAM_BRIGHTNESS,
     exposure_compensation, nullptr,
     byte_line{"DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x%02X\n"},
     "ERROR:optad:main_loop:exp_comp - Invalid checksum\n"},
    {JOB_DIAPHRAGM, GROUP_EXPOSURE, 0x02, 1, 1, {STS_IRIS_SETTING}, PARAM_IRIS,
     diaphragm, nullptr,
     byte_line{"DEBUG:optad:main_loop:diaphragm - Going to send Diaphragm=0x%02X\n"},
     "ERROR:optad:main_loop:diaphragm - Invalid checksum\n"},
    {JOB_SHUTTER, GROUP_EXPOSURE, 0x03, 1, 1, {STS_SHUTTER_SETTING}, PARAM_SHUTTER,
     shutter, nullptr,
     byte_line{"DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x%02X\n"},
     "ERROR:optad:main_loop:shutter - Invalid checksum\n"},
    {JOB_GAIN, GROUP_EXPOSURE, 0x04, 1, 1, {STS_GAIN_SETTING}, PARAM_GAIN,
     gain, nullptr,
     byte_line{"DEBUG:optad:main_loop:gain - Going to send Gain=0x%02X\n"},
     "ERROR:optad:main_loop:gain - Invalid checksum\n"},
    {JOB_SLOW_SHUTTER, GROUP_EXPOSURE, 0x05, 1, 1, {STS_SLOW_SHUTTER}, PARAM_MAX_EXPOSURE_TIME,
     slow_shutter<SLOW_SHUTTER_ANY>, remember_max_exposure,
     byte_line{"DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x%02X\n"},
     "ERROR:optad:main_loop:slow_shutter - Invalid checksum\n"},
    {JOB_SLOW_SHUTTER_50HZ, GROUP_EXPOSURE, 0x0A, 1, 1, {STS_SLOW_SHUTTER}, PARAM_MAX_EXPOSURE_TIME,
     slow_shutter<SLOW_SHUTTER_50HZ>, remember_max_exposure,
     byte_line{"DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x%02X\n"},
     "ERROR:optad:main_loop:slow_shutter_50hz - Invalid checksum\n"},
    {JOB_SLOW_SHUTTER_60HZ, GROUP_EXPOSURE, 0x0B, 1, 1, {STS_SLOW_SHUTTER}, PARAM_MAX_EXPOSURE_TIME,
     slow_shutter<SLOW_SHUTTER_60HZ>, remember_max_exposure,
     byte_line{"DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x%02X\n"},
     "ERROR:optad:main_loop:slow_shutter_60hz - Invalid checksum\n"},
    {JOB_METERING, GROUP_EXPOSURE, 0x06, 1, 1, {STS_METERING_MODE}, PARAM_EXPOSURE_WINDOW,
     by_string<metering_rule>, nullptr,
     byte_text_line{"DEBUG:optad:main_loop:metering - Going to send Metering Mode=0x%02X and string=%s\n"},
     "ERROR:optad:main_loop:metering - Invalid checksum\n"},
    {JOB_EXPOSURE_WINDOW_POSITION, GROUP_EXPOSURE, 0x11, 2, 2, {STS_EXPOSURE_WINDOW_X, STS_EXPOSURE_WINDOW_Y},
     PARAM_CUSTOM_EXPOSURE_WINDOW_TOP,
     exposure_window_position, nullptr,
     two_bytes_line{"DEBUG:optad:main_loop:exposure_window_position - Going to send Exposure Window Position=0x%02X,0x%02X\n"},
     "ERROR:optad:main_loop:exposure_window_position - Invalid checksum\n"},
    {JOB_EXPOSURE_WINDOW_SIZE, GROUP_EXPOSURE, 0x12, 2, 2,
     {STS_EXPOSURE_WINDOW_WIDTH, STS_EXPOSURE_WINDOW_HEIGHT}, PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT,
     exposure_window_size, nullptr,
     two_bytes_line{"DEBUG:optad:main_loop:exposure_window_size - Going to send Focus Window size=0x%02X,0x%02X\n"},
     "ERROR:optad:main_loop:exposure_window_size - Invalid checksum\n"},
    {JOB_AGC, GROUP_EXPOSURE, 0x07, 1, 1, {STS_AGC_LIMIT}, PARAM_MAX_GAIN,
     agc, nullptr,
     byte_line{"DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x%02X\n"},
     "ERROR:optad:main_loop:AGC - Invalid checksum\n"},
    {JOB_WB_MODE, GROUP_WHITE_BALANCE, 0x00, 1, 1, {STS_WB_MODE}, PARAM_WHITE_BALANCE,
     by_string<white_balance_rule>, nullptr,
     byte_text_line{"DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x%02X and string=%s\n"},
     "ERROR:optad:main_loop:wb_mode - Invalid checksum\n"},
    {JOB_WB_MAN, GROUP_WHITE_BALANCE, 0x00, 1, 1, {STS_WB_MODE}, PARAM_WHITE_BALANCE_MANUAL,
     by_string<white_balance_manual_rule>, nullptr,
     byte_text_line{"DEBUG:optad:main_loop:wb_man - Going to send White Balance Mode=0x%02X and string=%s\n"},
     "ERROR:optad:main_loop:wb_man - Invalid checksum\n"},
    {JOB_RB_GAIN, GROUP_WHITE_BALANCE, 0x02, 4, 4,
     {STS_WB_R_GAIN, STS_WB_R_GAIN + 1, STS_WB_B_GAIN, STS_WB_B_GAIN + 1}, PARAM_WHITE_BALANCE_MANUAL_R,
     rb_gain, nullptr,
     four_bytes_line{"DEBUG:optad:main_loop:rb_gain - Going to send RGain=0x%02X%02X and BGain=0x%02X%02X\n"},
     "ERROR:optad:main_loop:rb_gain - Invalid checksum\n"},
    {JOB_SHARPNESS, GROUP_PICTURE, 0x00, 1, 1, {STS_SHARPNESS}, PARAM_SHARPNESS,
     scaled<PARAM_SHARPNESS, 6, 100>, nullptr,
     byte_line{"DEBUG:optad:main_loop:sharpness - Going to send Sharpness=0x%02X\n"},
     "ERROR:optad:main_loop:sharpness - Invalid checksum\n"},
    {JOB_NR, GROUP_PICTURE, 0x01, 1, 1, {STS_NOISE_REDUCTION}, PARAM_NOISE_REDUCTION_TUNING,
     scaled<PARAM_NOISE_REDUCTION_TUNING, 1, 50>, nullptr,
     byte_line{"DEBUG:optad:main_loop:NR - Going to send Noise Reduction=0x%02X\n"},
     "ERROR:optad:main_loop:NR - Invalid checksum\n"},
    {JOB_COLOR_LEVEL, GROUP_PICTURE, 0x03, 1, 1, {STS_COLOUR_LEVEL}, PARAM_COLOR_LEVEL,
     scaled<PARAM_COLOR_LEVEL, 6, 100>, nullptr,
     byte_line{"DEBUG:optad:main_loop:color_level - Going to send Color Level=0x%02X\n"},
     "ERROR:optad:main_loop:color_level - Invalid checksum\n"},
    {JOB_RESOLUTION, GROUP_SYSTEM, 0x04, 3, 2, {STS_RESOLUTION, STS_FRAME_RATE}, PARAM_CAPTURE_MODE,
     capture_mode, nullptr,
     bytes_1_2_line{"DEBUG:optad:main_loop:resolution - Going to send Resolution=0x%02X and Frame rate=0x%02X\n"},
     "ERROR:optad:main_loop:resolution - Invalid checksum\n"},
    {JOB_FOCUS, GROUP_FOCUS, 0x00, 1, 1, {STS_FOCUS_MODE}, PARAM_FOCUS_MODE,
     focus_mode, nullptr,
     byte_line{"DEBUG:optad:main_loop:focus - Going to send Focus Mode=0x%02X\n"},
     "ERROR:optad:main_loop:focus - Invalid checksum\n"},
    {JOB_SET_FOCUS_WINDOW, GROUP_FOCUS, 0x05, 2, 2, {STS_FOCUS_WINDOW_X, STS_FOCUS_WINDOW_Y}, PARAM_FOCUS_W0,
     focus_window_position, nullptr,
     no_line{},
     "ERROR:optad:optad:set_focus_window - Invalid checksum\n"},
    {JOB_SET_FOCUS_WINDOW_SIZE, GROUP_FOCUS, 0x09, 2, 2, {STS_FOCUS_WINDOW_WIDTH, STS_FOCUS_WINDOW_HEIGHT},
     PARAM_FOCUS_W0,
     focus_window_size, nullptr,
     no_line{},
     "ERROR:optad:optad:set_focus_window_size - Invalid checksum\n"},
    {JOB_FOCUSDRIVE, GROUP_FOCUS, 0x06, 2, 0, {}, PARAM_FOCUS_DRIVE,
     focus_drive, nullptr,
     two_bytes_line{"DEBUG:optad:main_loop:focus - Going to send Focus Drive=0x%02X0x%02X\n"},
     "ERROR:optad:main_loop:focus - Invalid checksum\n"},
    {JOB_STABILIZER, GROUP_SYSTEM, 0x07, 1, 1, {STS_STABILIZER}, PARAM_STABILIZER,
     by_string<stabilizer_rule>, nullptr,
     byte_text_line{"DEBUG:optad:main_loop:d/n - Going to send Image Stabilizer Mode=0x%02X and string=%s\n"},
     "ERROR:optad:main_loop:d/n - Invalid checksum\n"},
    {JOB_AUTO_DN, GROUP_DAY_NIGHT, 0x00, 1, 1, {STS_AUTO_DAY_NIGHT}, PARAM_IR_CUT_FILTER,
     by_string<auto_day_night_rule>, nullptr,
     byte_text_line{"DEBUG:optad:main_loop:auto_d/n - Going to send Auto Day Night Mode=0x%02X and string=%s\n"},
     "ERROR:optad:main_loop:auto_d/n - Invalid checksum\n"},
    {JOB_DN, GROUP_DAY_NIGHT, 0x01, 1, 1, {STS_DAY_NIGHT_STATE}, PARAM_IR_CUT_FILTER,
     day_night, nullptr,
     byte_text_line{"DEBUG:optad:main_loop:d/n - Going to send Day Night Mode=0x%02X and string=%s\n"},
     "ERROR:optad:main_loop:d/n - Invalid checksum\n"},
    {JOB_SW_BRIGHTNESS, GROUP_DAY_NIGHT, 0x02, 1, 1, {STS_DAY_NIGHT_LEVEL}, PARAM_SHIFT_LEVEL,
     switching_brightness, nullptr,
     byte_line{"DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x%02X\n"},
     "ERROR:optad:main_loop:sw_brightness - Invalid checksum\n"},
    {JOB_TIME_DN, GROUP_DAY_NIGHT, 0x03, 1, 1, {STS_DAY_NIGHT_TIME}, PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS,
     day_night_time, nullptr,
     byte_line{"DEBUG:optad:main_loop:time_d/n - Going to send Time of Day Night Filter=0x%02X\n"},
     "ERROR:optad:main_loop:time_d/n - Invalid checksum\n"},
    // No expected byte: the protector's position at 0x15 belongs to the
    // lens rule. The start-up sync and the lens follow-up write there the
    // position the lens needs (open in front of a lens, closed over a bare
    // sensor) before they queue this job, and the confirmation compares with
    // that. A position set over D-Bus against the lens therefore stays
    // unconfirmed: it is resent every 5 s and given up after ten sends, and
    // the lens follow-up of the poll that gives it up finds the protector
    // where the lens does not want it and moves it back. Were the position
    // sent expected here, "open" with no lens would be confirmed and leave
    // the bare sensor facing the sun.
    {JOB_SUNLIGHT, GROUP_SYSTEM, 0x09, 1, 0, {}, PARAM_SENSOR_PROTECTOR,
     by_string<sunlight_rule>, nullptr,
     byte_line{"DEBUG:optad:main_loop:sunlight - Going to send Sunlight Protector=0x%02X\n"},
     "ERROR:optad:main_loop:sunlight - Invalid checksum\n"},
    {JOB_NOTIFY_ROTATE_IMAGE, GROUP_SYSTEM, 0x0A, 1, 1, {STS_ROTATION}, PARAM_IMAGE_ROTATION,
     scaled<PARAM_IMAGE_ROTATION, 1, 1>, nullptr,
     byte_line{"DEBUG:optad:main_loop:set_notify_rotate_image - Going to send Notify Rotate Image=0x%02X\n"},
     "ERROR:optad:main_loop:set_notify_rotate_image - Invalid checksum\n"},
    {JOB_FOCUS_TRACE_CURVE, GROUP_FOCUS, 0x07, 2, 1, {STS_IR_FOCUS_CORRECTION}, PARAM_FOCUS_TRACE_CURVE,
     ir_focus, nullptr,
     two_bytes_text_line{"DEBUG:optad:main_loop:d/n - Going to send IR Focus correction=0x%02X,0x%02X and string=%s\n"},
     "ERROR:optad:main_loop:d/n - Invalid checksum\n"},
    {JOB_WDR_MODE, GROUP_PICTURE, 0x14, 1, 1, {STS_WDR_MODE}, PARAM_DYNAMIC_CONTRAST_ENABLED,
     by_string<wdr_mode_rule>, nullptr,
     byte_line{"DEBUG:optad:main_loop:set_wdr_mode - Going to send WDR Mode=0x%02X\n"},
     "ERROR:optad:main_loop:set_wdr_mode - Invalid checksum\n"},
    {JOB_WDR_LEVEL, GROUP_PICTURE, 0x15, 1, 1, {STS_WDR_LEVEL}, PARAM_DYNAMIC_CONTRAST_LEVEL,
     scaled<PARAM_DYNAMIC_CONTRAST_LEVEL, 1, 1>, nullptr,
     byte_line{"DEBUG:optad:main_loop:set_wdr_level - Going to send WDR Level=0x%02X\n"},
     "ERROR:optad:main_loop:set_wdr_level - Invalid checksum\n"},
    {JOB_VIGNETTING_CORRECTION, GROUP_LENS_CORRECTION, 0x00, 1, 1, {STS_VIGNETTING}, PARAM_VIGNETTING_CORRECTION,
     lens_correction<vignetting_rule>, nullptr,
     byte_line{"DEBUG:optad:main_loop:set_vignetting_correction - Going to send Vignetting Correction=0x%02X\n"},
     "ERROR:optad:main_loop:set_vignetting_correction - Invalid checksum\n"},
    {JOB_ABERRATION_CORRECTION, GROUP_LENS_CORRECTION, 0x01, 1, 1, {STS_ABERRATION}, PARAM_ABERRATION_CORRECTION,
     lens_correction<aberration_rule>, nullptr,
     byte_line{"DEBUG:optad:main_loop:set_aberration_correction - Going to send Vignetting Correction=0x%02X\n"},
     "ERROR:optad:main_loop:set_aberration_correction - Invalid checksum\n"},
    {JOB_ONVIF_EXPOSURE_PRIORITY_NORMAL, GROUP_EXPOSURE, 0x00, 1, 1, {STS_EXPOSURE_MODE},
     PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL,
     exposure_priority, nullptr,
     byte_number_line{"DEBUG:optad:main_loop:set_onvif_exposure_priority_normal - Going to send Exposure Mode=0x%02X and int=%d\n"},
     "ERROR:optad:main_loop:set_onvif_exposure_priority_normal - Invalid checksum\n"},
};

const encoder *find_encoder(int job)
{
    for (const encoder &d : encoders) {
        if (d.job == job)
            return &d;
    }
    return nullptr;
}

void put_u16(uint8_t *at, unsigned v)
{
    at[0] = static_cast<uint8_t>(v >> 8);
    at[1] = static_cast<uint8_t>(v);
}

// Writes an encoder's "Going to send" line with the values it shows.
struct going_to_send_writer {
    const encoding &e;
    void operator()(const no_line &) const {}
    void operator()(const byte_line &l) const { log_line(LOG_DEBUG, l.format, e.value[0]); }
    void operator()(const byte_text_line &l) const { log_line(LOG_DEBUG, l.format, e.value[0], shown(e.text)); }
    void operator()(const two_bytes_line &l) const { log_line(LOG_DEBUG, l.format, e.value[0], e.value[1]); }
    void operator()(const two_bytes_text_line &l) const
    {
        log_line(LOG_DEBUG, l.format, e.value[0], e.value[1], shown(e.text));
    }
    void operator()(const four_bytes_line &l) const
    {
        log_line(LOG_DEBUG, l.format, e.value[0], e.value[1], e.value[2], e.value[3]);
    }
    void operator()(const byte_number_line &l) const { log_line(LOG_DEBUG, l.format, e.value[0], e.number); }
    void operator()(const bytes_1_2_line &l) const { log_line(LOG_DEBUG, l.format, e.value[1], e.value[2]); }
};

void log_going_to_send(const encoder &d, const encoding &e)
{
    if (log_verbose())
        std::visit(going_to_send_writer{e}, d.going_to_send);
}

}  // namespace

int encode_param_job(int job)
{
    const encoder *d = find_encoder(job);
    if (d == nullptr)
        return ENCODER_NONE;

    uint8_t *frame = spi_send_buffer();
    const unsigned n = d->value_bytes;
    put_u16(frame + FRAME_LENGTH, FRAME_HEADER_LENGTH + n);
    put_u16(frame + FRAME_TYPE, FRAME_TYPE_COMMAND);
    put_u16(frame + FRAME_BODY_LENGTH, n + 4);
    frame[FRAME_COMMAND_LENGTH] = static_cast<uint8_t>(n + 3);
    frame[FRAME_COMMAND] = 0x00;
    frame[FRAME_GROUP] = d->group;
    frame[FRAME_ITEM] = d->item;

    encoding e;
    if (d->rule(e) != 0)
        return ENCODER_FAILED;
    std::memcpy(frame + FRAME_ARGS, e.value, n);

    log_going_to_send(*d, e);

    if (calculate_checksum() != 0) {
        log_write(LOG_ERR, "%s", d->checksum_message);
        return ENCODER_FAILED;
    }

    const uint8_t *expect = e.own_expect ? e.expect : e.value;
    for (unsigned i = 0; i < d->expect_count; ++i)
        scam_sts[d->expect_at[i]] = expect[i];
    if (d->after != nullptr)
        d->after(e);
    return d->logged_as;
}

}  // namespace optad
