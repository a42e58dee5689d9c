#include "dbus/property_handlers.h"

#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "dbus/legacy_generator.h"
#include "dbus/property_error.h"
#include "params/limits.h"
#include "params/status_monitor.h"

#include <cstring>

namespace optad {

namespace {

// One-shot focus needs the lens on auto focus and an exposure no longer
// than 1/8 s; the IMC does not focus reliably on longer exposures.
constexpr int ONE_SHOT_FOCUS_MODE = 5;
constexpr int FOCUS_MODE_AT_REST = 1;
constexpr int ONE_SHOT_FOCUS_MAX_SHUTTER_US = 125000;
constexpr unsigned EXPOSURE_WINDOW_EDGE_MAX = 9999;

void queue(int ready, int job)
{
    if (ready == 1)
        queue_param_job(job);
}

bool str_eq(const char *a, const char *b)
{
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

bool handle_simple_property(const property_handler_row &row, const int *ival, const char *sval, int ready,
                            GError **)
{
    // A value of the wrong type is refused by the setter (logged) and,
    // like an unchanged one, neither stored nor queued.
    if (param_set_value(row.param_id, ival, sval) == PARAM_SET_CHANGED && job_is_param(row.job))
        queue(ready, row.job);
    return true;
}

bool handle_exposure(const property_handler_row &, const int *ival, const char *sval, int ready,
                     GError **error)
{
    // The two rows share the handler: the value's type tells which one the
    // caller meant.
    if (ival != nullptr) {
        param_set_int_value(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, *ival);
        queue(ready, JOB_ONVIF_EXPOSURE_PRIORITY_NORMAL);
        return true;
    }
    if (sval == nullptr) {
        property_error(error, "handle_exposure", "Exposure is NULL!");
        return false;
    }
    if (exposure_mode_from_string(sval) == EXPOSURE_MODE_UNKNOWN) {
        property_error(error, "handle_exposure",
                       "Invalid exposure value: %s. Valid values are auto, iris, shutter, flickerfree, "
                       "flickerreduced and manual",
                       sval);
        return false;
    }
    if (param_set_string_value(PARAM_EXPOSURE, sval) == PARAM_SET_CHANGED) {
        queue(ready, JOB_EXP_MODE);
        legacy_generate_maxshutter_xml(get_maxshutter_map_id());
        param_update_max_exposure_time();
        param_set_int_value(PARAM_EXPOSURE_PROGRESS, 1);
    } else {
        // The same mode again: the caller waits for the exposure to settle
        // once more.
        param_set_int_value(PARAM_EXPOSURE_PROGRESS, 1);
        request_exposure_settle_watch();
    }
    return true;
}

bool handle_max_exposure_time(const property_handler_row &, const int *ival, const char *, int ready,
                              GError **error)
{
    if (ival == nullptr) {
        property_error(error, "handle_max_exposure_time", "Missing int value for MaxExposureTime!");
        return false;
    }
    if (maxshutter_value_allowed(get_maxshutter_map_id(), *ival) == 0) {
        property_error(error, "handle_max_exposure_time", "Invalid max exposure time!");
        return false;
    }
    if (param_set_int_value(PARAM_MAX_EXPOSURE_TIME, *ival) != PARAM_SET_CHANGED)
        return true;
    switch (exposure_mode_from_string(param_get_string_value(PARAM_EXPOSURE))) {
    case EXPOSURE_MODE_AUTO:
    case EXPOSURE_MODE_IRIS:
    case EXPOSURE_MODE_FLICKERFREE:
        queue(ready, JOB_SLOW_SHUTTER);
        return true;
    case EXPOSURE_MODE_FLICKERREDUCED:
        queue(ready, str_eq(param_get_string_value(PARAM_CAPTURE_FREQUENCY), "50Hz") ? JOB_SLOW_SHUTTER_50HZ
                                                                                     : JOB_SLOW_SHUTTER_60HZ);
        return true;
    default:
        // Shutter and manual modes have no slow shutter; the value stays
        // stored for when the mode allows it again.
        property_error(error, "handle_max_exposure_time", "Invalid exposure mode!");
        return false;
    }
}

bool handle_cust_exposure_window(const property_handler_row &row, const int *ival, const char *, int ready,
                                 GError **error)
{
    if (ival == nullptr) {
        property_error(error, "handle_cust_exposure_window", "Missing int value for %s!",
                       param_get_name(row.param_id));
        return false;
    }
    if (static_cast<unsigned>(*ival) > EXPOSURE_WINDOW_EDGE_MAX) {
        property_error(error, "handle_cust_exposure_window", "Invalid exposure window value!");
        return false;
    }
    if (param_set_value(row.param_id, ival, nullptr) != PARAM_SET_CHANGED)
        return true;
    // Moving the top or left edge moves the window and changes its size;
    // the bottom and right edges change the size only.
    if (row.param_id == PARAM_CUSTOM_EXPOSURE_WINDOW_TOP || row.param_id == PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT)
        queue(ready, JOB_EXPOSURE_WINDOW_POSITION);
    queue(ready, JOB_EXPOSURE_WINDOW_SIZE);
    return true;
}

bool handle_white_balance(const property_handler_row &, const int *, const char *sval, int ready,
                          GError **error)
{
    if (sval == nullptr) {
        property_error(error, "handle_white_balance", "WhiteBalance is NULL!");
        return false;
    }
    if (param_set_value(PARAM_WHITE_BALANCE, nullptr, sval) != PARAM_SET_CHANGED)
        return true;
    // A white balance mode ends manual white balance.
    if (str_eq(param_get_string_value(PARAM_WHITE_BALANCE_MANUAL), "yes"))
        param_set_string_value(PARAM_WHITE_BALANCE_MANUAL, "no");
    queue(ready, JOB_WB_MODE);
    return true;
}

bool handle_white_balance_manual(const property_handler_row &, const int *, const char *sval, int ready,
                                 GError **error)
{
    if (sval == nullptr) {
        property_error(error, "handle_white_balance_manual", "WhiteBalanceManual is NULL!");
        return false;
    }
    if (param_set_value(PARAM_WHITE_BALANCE_MANUAL, nullptr, sval) != PARAM_SET_CHANGED)
        return true;
    queue(ready, str_eq(sval, "yes") ? JOB_WB_MAN : JOB_WB_MODE);
    return true;
}

bool handle_ir_cut_filter(const property_handler_row &, const int *, const char *sval, int ready,
                          GError **error)
{
    if (sval == nullptr) {
        property_error(error, "handle_ir_cut_filter", "IrCutFilter is NULL!");
        return false;
    }
    const bool was_auto = str_eq(param_get_string_value(PARAM_IR_CUT_FILTER), "auto");
    if (param_set_value(PARAM_IR_CUT_FILTER, nullptr, sval) != PARAM_SET_CHANGED)
        return true;
    // Leaving automatic day/night switches it off before the filter is set.
    if (str_eq(sval, "auto")) {
        queue(ready, JOB_AUTO_DN);
    } else {
        if (was_auto)
            queue(ready, JOB_AUTO_DN);
        queue(ready, JOB_DN);
    }
    return true;
}

bool handle_focus_mode(const property_handler_row &, const int *ival, const char *, int ready, GError **error)
{
    if (ival == nullptr) {
        property_error(error, "handle_focus_mode", "Focus Mode is NULL!");
        return false;
    }
    // Only a one-shot focus request means anything; the rest is accepted
    // so that a configuration system writing back what it read succeeds.
    if (*ival != ONE_SHOT_FOCUS_MODE)
        return true;
    const int shutter_us = get_current_shutter_time();
    if (get_lens_focus_switch() == 1 && shutter_us <= ONE_SHOT_FOCUS_MAX_SHUTTER_US) {
        param_set_int_value(PARAM_FOCUS_MODE, ONE_SHOT_FOCUS_MODE);
        queue(ready, JOB_FOCUS);
    } else {
        param_set_int_value(PARAM_FOCUS_MODE, FOCUS_MODE_AT_REST);
    }
    return true;
}

bool handle_focus_drive(const property_handler_row &, const int *, const char *sval, int ready,
                        GError **error)
{
    static constexpr const char *steps[] = {"-minstep", "+minstep", "-bigstep", "+bigstep"};
    if (sval == nullptr) {
        property_error(error, "handle_focus_drive", "Missing string value for FocusDrive!");
        return false;
    }
    if (get_lens_focus_switch() != 1) {
        property_error(error, "handle_focus_drive", "The lens is in manual focus mode!");
        return false;
    }
    bool known = false;
    for (const char *step : steps)
        known = known || str_eq(sval, step);
    if (!known) {
        property_error(error, "handle_focus_drive", "Invalid FocusDrive value!");
        return false;
    }
    // Every request is one more step, also the same step again.
    param_set_string_value(PARAM_FOCUS_DRIVE, sval);
    queue(ready, JOB_FOCUSDRIVE);
    return true;
}

bool handle_w0(const property_handler_row &, const int *, const char *sval, int ready, GError **error)
{
    g_autofree char *normalised = sval != nullptr ? adjust_focus_window_coordinates(sval) : nullptr;
    if (normalised == nullptr) {
        property_error(error, "handle_w0", "Invalid window format: %s!", sval != nullptr ? sval : "(null)");
        return false;
    }
    if (param_set_string_value(PARAM_FOCUS_W0, normalised) == PARAM_SET_CHANGED) {
        queue(ready, JOB_SET_FOCUS_WINDOW);
        queue(ready, JOB_SET_FOCUS_WINDOW_SIZE);
    } else if (std::strcmp(normalised, sval) != 0) {
        // Nothing changed, but the caller's text differs from the stored
        // form: tell it what is stored.
        param_announce(PARAM_FOCUS_W0);
    }
    return true;
}

}  // namespace

const property_handler_row property_handlers[PROPERTY_HANDLER_COUNT] = {
    {PARAM_EXPOSURE, handle_exposure, NO_JOB},
    {PARAM_BRIGHTNESS, handle_simple_property, JOB_EXP_COMP},
    {PARAM_IRIS, handle_simple_property, JOB_DIAPHRAGM},
    {PARAM_SHUTTER, handle_simple_property, JOB_SHUTTER},
    {PARAM_GAIN, handle_simple_property, JOB_GAIN},
    {PARAM_MAX_EXPOSURE_TIME, handle_max_exposure_time, NO_JOB},
    {PARAM_EXPOSURE_WINDOW, handle_simple_property, JOB_METERING},
    {PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, handle_cust_exposure_window, NO_JOB},
    {PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, handle_cust_exposure_window, NO_JOB},
    {PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, handle_cust_exposure_window, NO_JOB},
    {PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, handle_cust_exposure_window, NO_JOB},
    {PARAM_MAX_GAIN, handle_simple_property, JOB_AGC},
    {PARAM_WHITE_BALANCE, handle_white_balance, NO_JOB},
    {PARAM_WHITE_BALANCE_MANUAL, handle_white_balance_manual, NO_JOB},
    {PARAM_WHITE_BALANCE_MANUAL_R, handle_simple_property, JOB_RB_GAIN},
    {PARAM_WHITE_BALANCE_MANUAL_B, handle_simple_property, JOB_RB_GAIN},
    {PARAM_SHARPNESS, handle_simple_property, JOB_SHARPNESS},
    {PARAM_NOISE_REDUCTION_TUNING, handle_simple_property, JOB_NR},
    {PARAM_COLOR_LEVEL, handle_simple_property, JOB_COLOR_LEVEL},
    {PARAM_FOCUS_MODE, handle_focus_mode, NO_JOB},
    {PARAM_FOCUS_W0, handle_w0, NO_JOB},
    {PARAM_FOCUS_DRIVE, handle_focus_drive, NO_JOB},
    {PARAM_STABILIZER, handle_simple_property, JOB_STABILIZER},
    {PARAM_FOCUS_TRACE_CURVE, handle_simple_property, JOB_FOCUS_TRACE_CURVE},
    {PARAM_DYNAMIC_CONTRAST_ENABLED, handle_simple_property, JOB_WDR_MODE},
    {PARAM_DYNAMIC_CONTRAST_LEVEL, handle_simple_property, JOB_WDR_LEVEL},
    {PARAM_IR_CUT_FILTER, handle_ir_cut_filter, NO_JOB},
    {PARAM_SHIFT_LEVEL, handle_simple_property, JOB_SW_BRIGHTNESS},
    {PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, handle_simple_property, JOB_TIME_DN},
    {PARAM_SENSOR_PROTECTOR, handle_simple_property, JOB_SUNLIGHT},
    // The IMC reports exposure progress; a value written here is only
    // stored (and announced). There is no IMC command for it, and queueing
    // job 0 would power-cycle a running module.
    {PARAM_EXPOSURE_PROGRESS, handle_simple_property, NO_JOB},
    {PARAM_VIGNETTING_CORRECTION, handle_simple_property, JOB_VIGNETTING_CORRECTION},
    {PARAM_ABERRATION_CORRECTION, handle_simple_property, JOB_ABERRATION_CORRECTION},
    {PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, handle_exposure, NO_JOB},
};

const property_handler_row *property_handler_find(int param_id)
{
    for (const property_handler_row &row : property_handlers) {
        if (row.param_id == param_id)
            return &row;
    }
    return nullptr;
}

}  // namespace optad
