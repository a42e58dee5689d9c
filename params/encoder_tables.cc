#include "params/encoder_tables.h"

#include "config/param_settings.h"

#include <cstring>

namespace optad {

namespace {

template <size_t N>
constexpr string_code_table table_of(const string_code (&rows)[N])
{
    return {rows, N};
}

constexpr int NO = SLOW_SHUTTER_NOT_ACCEPTED;

}  // namespace

const exposure_mode_code exposure_mode_codes[EXPOSURE_MODE_CODE_COUNT] = {
    // mode                          50 Hz  other
    {EXPOSURE_MODE_AUTO, 0, 0},
    {EXPOSURE_MODE_IRIS, EXPOSURE_CODE_IRIS, EXPOSURE_CODE_IRIS},
    {EXPOSURE_MODE_SHUTTER, EXPOSURE_CODE_SHUTTER, EXPOSURE_CODE_SHUTTER},
    {EXPOSURE_MODE_FLICKERFREE, 1, 2},
    {EXPOSURE_MODE_FLICKERREDUCED, 6, 7},
    {EXPOSURE_MODE_MANUAL, 3, 3},
};

const slow_shutter_row slow_shutter_table[SLOW_SHUTTER_ROW_COUNT] = {
    //  µs      0x05 0x0A 0x0B
    {8333, {13, NO, 13}},     // 1/120
    {10000, {12, 12, NO}},    // 1/100
    {16666, {11, NO, 11}},    // 1/60
    {20000, {10, 10, NO}},    // 1/50
    {33333, {9, NO, 9}},      // 1/30
    {40000, {8, 8, NO}},      // 1/25
    {66666, {7, NO, 7}},      // 1/15
    {80000, {6, 6, NO}},      // 1/12.5
    {125000, {5, NO, 5}},     // 1/8
    {166666, {4, 4, NO}},     // 1/6
    {250000, {3, NO, 3}},     // 1/4
    {312500, {2, 2, NO}},     // 1/3.2
    {500000, {1, 1, 1}},      // 1/2
    {1000000, {0, 0, 0}},     // 1
};

int slow_shutter_code(int max_exposure_us, slow_shutter_item item)
{
    for (const slow_shutter_row &row : slow_shutter_table) {
        if (row.max_exposure_us == max_exposure_us)
            return row.code[item];
    }
    return SLOW_SHUTTER_NOT_ACCEPTED;
}

const string_code *string_code_find(const string_code_table &table, const char *value)
{
    if (value == nullptr)
        return nullptr;
    for (size_t i = 0; i < table.count; ++i) {
        if (std::strcmp(table.rows[i].text, value) == 0)
            return &table.rows[i];
    }
    return nullptr;
}

namespace {

constexpr string_code metering_rows[] = {
    {"center", 0, 0},
    {"full", 1, 0},
    {"spot", 2, 0},
    {"custom", 3, 0},
};

// "auto_outdoor" runs the plain auto mode; the two fluorescent presets share
// codes with the outdoor ones.
constexpr string_code white_balance_rows[] = {
    {"auto", 0, 0},
    {"manual", 2, 0},
    {"oneshot", 3, 0},
    {"auto_outdoor", 0, 0},
    {"sodium", 4, 0},
    {"mercury", 9, 0},
    {"fixed_outdoor1", 7, 0},
    {"fixed_outdoor2", 8, 0},
    {"fixed_indoor", 5, 0},
    {"fixed_fluor1", 7, 0},
    {"fixed_fluor2", 6, 0},
};

// Only switching manual white balance on is a command of its own.
constexpr string_code white_balance_manual_rows[] = {
    {"yes", 2, 0},
};

constexpr string_code focus_drive_rows[] = {
    {"+minstep", 0x00, 0x01},  // +1
    {"+bigstep", 0x00, 0x08},  // +8
    {"-minstep", 0xFF, 0xFF},  // -1
    {"-bigstep", 0xFF, 0xF8},  // -8
};

constexpr string_code stabilizer_rows[] = {
    {"on", 1, 0},
    {"off", 0, 0},
};

constexpr string_code auto_day_night_rows[] = {
    {"auto", 1, 0},
    {"yes", 0, 0},
    {"no", 0, 0},
};

// "yes": the IR-cut filter is in (day).
constexpr string_code day_night_rows[] = {
    {"yes", 0, 0},
    {"no", 1, 0},
};

// Enable byte, then the wavelength code of the IR illumination.
constexpr string_code ir_focus_rows[] = {
    {"normal", 0, 0},
    {"fluorescent", 1, 0},
    {"740nm", 1, 2},
    {"850nm", 1, 3},
    {"940nm", 1, 4},
};

constexpr string_code wdr_mode_rows[] = {
    {"yes", 1, 0},
    {"on", 1, 0},
    {"no", 0, 0},
    {"off", 0, 0},
};

constexpr string_code sunlight_rows[] = {
    {"close", 0, 0},
    {"open", 1, 0},
};

// The IMC's correction commands take 0 to switch the correction on.
constexpr string_code lens_correction_rows[] = {
    {"yes", 0, 0},
};

}  // namespace

const string_code_table metering_codes = table_of(metering_rows);
const string_code_table white_balance_codes = table_of(white_balance_rows);
const string_code_table white_balance_manual_codes = table_of(white_balance_manual_rows);
const string_code_table focus_drive_codes = table_of(focus_drive_rows);
const string_code_table stabilizer_codes = table_of(stabilizer_rows);
const string_code_table auto_day_night_codes = table_of(auto_day_night_rows);
const string_code_table day_night_codes = table_of(day_night_rows);
const string_code_table ir_focus_codes = table_of(ir_focus_rows);
const string_code_table wdr_mode_codes = table_of(wdr_mode_rows);
const string_code_table sunlight_codes = table_of(sunlight_rows);
const string_code_table lens_correction_codes = table_of(lens_correction_rows);

const threshold_code switching_brightness_codes[SWITCHING_BRIGHTNESS_ROW_COUNT] = {
    {20, 4},
    {40, 3},
    {60, 2},
    {80, 1},
};

}  // namespace optad
