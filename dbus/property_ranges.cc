#include "dbus/property_ranges.h"

#include "config/param_settings.h"
#include "platform/log.h"

#include <gio/gio.h>

#include <cstdarg>
#include <cstddef>

namespace optad {

namespace {

constexpr int NO_BOUND = -1;

struct range_row {
    int id;
    int min;
    int max;
    const int *int_values;  // int parameters; null: no list
    size_t int_count;
    const char *const *string_values;  // string parameters; null: no list
    size_t string_count;
};

constexpr int max_gain_values[] = {0, 6, 12, 18, 24, 30, 36, 42, 48, 54, 60};
constexpr int onvif_priority_values[] = {0, 100};
constexpr const char *exposure_values[] = {"auto", "iris", "shutter", "flickerfree", "flickerreduced",
                                           "manual"};
constexpr const char *exposure_window_values[] = {"center", "full", "spot", "custom"};
constexpr const char *white_balance_values[] = {"auto",          "oneshot",        "sodium",
                                                "mercury",       "fixed_outdoor1", "fixed_outdoor2",
                                                "fixed_indoor",  "fixed_fluor1",   "fixed_fluor2"};
constexpr const char *yes_no_values[] = {"yes", "no"};
constexpr const char *on_off_values[] = {"on", "off"};
constexpr const char *focus_trace_curve_values[] = {"normal", "fluorescent", "740nm", "850nm", "940nm"};
constexpr const char *dynamic_contrast_values[] = {"yes", "no", "on", "off"};
constexpr const char *ir_cut_filter_values[] = {"auto", "yes", "no"};

template <size_t N>
constexpr range_row ints(int id, int min, int max, const int (&values)[N])
{
    return {id, min, max, values, N, nullptr, 0};
}
constexpr range_row bounds(int id, int min, int max)
{
    return {id, min, max, nullptr, 0, nullptr, 0};
}
template <size_t N>
constexpr range_row strings(int id, const char *const (&values)[N])
{
    return {id, NO_BOUND, NO_BOUND, nullptr, 0, values, N};
}
constexpr range_row unbounded(int id)
{
    return bounds(id, NO_BOUND, NO_BOUND);
}

constexpr range_row range_table[] = {
    strings(PARAM_EXPOSURE, exposure_values),
    bounds(PARAM_BRIGHTNESS, 0, 100),
    unbounded(PARAM_IRIS),
    unbounded(PARAM_SHUTTER),
    unbounded(PARAM_GAIN),
    unbounded(PARAM_MAX_EXPOSURE_TIME),
    strings(PARAM_EXPOSURE_WINDOW, exposure_window_values),
    bounds(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, 0, 9999),
    bounds(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, 0, 9999),
    bounds(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 0, 9999),
    bounds(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 0, 9999),
    ints(PARAM_MAX_GAIN, 0, 60, max_gain_values),
    strings(PARAM_WHITE_BALANCE, white_balance_values),
    strings(PARAM_WHITE_BALANCE_MANUAL, yes_no_values),
    bounds(PARAM_WHITE_BALANCE_MANUAL_R, 0, 255),
    bounds(PARAM_WHITE_BALANCE_MANUAL_B, 0, 255),
    bounds(PARAM_SHARPNESS, 0, 100),
    bounds(PARAM_NOISE_REDUCTION_TUNING, 0, 100),
    bounds(PARAM_COLOR_LEVEL, 0, 100),
    unbounded(PARAM_FOCUS_MODE),
    unbounded(PARAM_FOCUS_W0),
    unbounded(PARAM_FOCUS_DRIVE),
    strings(PARAM_STABILIZER, on_off_values),
    strings(PARAM_FOCUS_TRACE_CURVE, focus_trace_curve_values),
    strings(PARAM_DYNAMIC_CONTRAST_ENABLED, dynamic_contrast_values),
    bounds(PARAM_DYNAMIC_CONTRAST_LEVEL, 1, 10),
    strings(PARAM_IR_CUT_FILTER, ir_cut_filter_values),
    bounds(PARAM_SHIFT_LEVEL, 0, 100),
    bounds(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, 0, 4),
    unbounded(PARAM_SENSOR_PROTECTOR),
    unbounded(PARAM_IMAGE_ROTATION),
    unbounded(PARAM_EXPOSURE_PROGRESS),
    unbounded(PARAM_VIGNETTING_CORRECTION),
    unbounded(PARAM_ABERRATION_CORRECTION),
    ints(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, 0, 100, onvif_priority_values),
};

constexpr range_row no_row = unbounded(-1);

const range_row &find_range(int id)
{
    for (const range_row &row : range_table) {
        if (row.id == id)
            return row;
    }
    return no_row;
}

// Records the first error of the call; every failure is logged.
void range_error(GError **error, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

void range_error(GError **error, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    g_autofree char *text = g_strdup_vprintf(fmt, args);
    va_end(args);
    // One refusal, one log line, whatever the caller put in the name.
    g_autofree char *shown = g_strescape(text, nullptr);
    OPTAD_LOG_WARNING("%.512s\n", shown);
    if (error != nullptr && *error == nullptr)
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, text);
}

GVariant *empty_dictionary()
{
    return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
}

}  // namespace

GVariant *get_property_range(const char *name, GError **error)
{
    const int id = param_get_id(name);
    if (id < 0) {
        range_error(error, "Unknown property: %s", name);
        return empty_dictionary();
    }
    const range_row &row = find_range(id);
    const int *type = param_get_type(id);
    if (type == nullptr) {
        range_error(error, "Get type failed for %s", name);
        return empty_dictionary();
    }

    GVariantBuilder dict;
    g_variant_builder_init(&dict, G_VARIANT_TYPE("a{sv}"));
    if (*type == PARAM_TYPE_INT) {
        g_variant_builder_add(&dict, "{sv}", "min", g_variant_new_int32(row.min));
        g_variant_builder_add(&dict, "{sv}", "max", g_variant_new_int32(row.max));
        if (row.int_values != nullptr) {
            GVariantBuilder values;
            g_variant_builder_init(&values, G_VARIANT_TYPE("ai"));
            for (size_t i = 0; i < row.int_count; i++)
                g_variant_builder_add(&values, "i", row.int_values[i]);
            g_variant_builder_add(&dict, "{sv}", "valid_values", g_variant_builder_end(&values));
        }
    } else if (*type == PARAM_TYPE_STRING) {
        // String parameters always carry the list, even an empty one.
        GVariantBuilder values;
        g_variant_builder_init(&values, G_VARIANT_TYPE("as"));
        for (size_t i = 0; i < row.string_count; i++)
            g_variant_builder_add(&values, "s", row.string_values[i]);
        g_variant_builder_add(&dict, "{sv}", "valid_values", g_variant_builder_end(&values));
    } else {
        g_variant_builder_clear(&dict);
        range_error(error, "Unknown type for %s", name);
        return empty_dictionary();
    }
    return g_variant_builder_end(&dict);
}

}  // namespace optad
