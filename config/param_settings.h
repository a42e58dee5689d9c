// The parameter table: every image parameter the daemon controls.
//
// One static table holds the current value of each parameter. It is filled
// from the configuration file at start (param_init), every change is written
// to the file at once and announced to the registered change listeners.
// Parameters are named everywhere by the identifiers below, which are the
// rows of the table.
//
// The table has a lock of its own (recursive), taken by every get and set,
// so an int can be read or a value set from any thread without more ado.
// A string value is borrowed from the table: a caller that uses it while
// another thread may change that parameter holds a ParamLock around the use.
// Listeners run synchronously in the thread that made the change, after the
// file has been written, with the lock held. Several sets made as one
// (ParamBatch) write the file once and announce their changes at its end. The lock is never held while
// waiting for the module, a peer or a timer; it may be taken while holding
// nothing or only other ParamLocks, and the small private locks of the
// clients and the job-list mutex may be taken under it, never the other way
// round.
#pragma once

#include "config/shutter_table.h"

#include <glib.h>

#include <mutex>

namespace optad {

// The configuration file (a fixed path; see platform_path()).
inline constexpr const char OPTAD_CONF_PATH[] = "/etc/optad/optad.conf";

// The table's lock, for a caller that reads several values as one (or uses a
// borrowed string) while other threads may set them.
std::recursive_mutex &param_table_mutex();
class ParamLock {
public:
    ParamLock() : guard_(param_table_mutex()) {}
    ParamLock(const ParamLock &) = delete;
    ParamLock &operator=(const ParamLock &) = delete;

private:
    std::lock_guard<std::recursive_mutex> guard_;
};

// Several sets made as one change of the configuration, on the thread that
// creates it. While it lives, the table's lock is held, so no other thread
// sees or writes a half-applied batch, and a setter stores its value but
// leaves the file and the listeners for the end: the end writes the file
// once with every parameter that changed (the same file that one write per
// change would have left) and then calls the listeners with each change in
// the order made, each with the value it carried. A crash before the end
// leaves the file as it was. Batches nest; the outermost one ends them all.
// It holds the lock while it writes the file, and must not be kept open
// while waiting for anything else.
class ParamBatch {
public:
    ParamBatch();
    ~ParamBatch();
    ParamBatch(const ParamBatch &) = delete;
    ParamBatch &operator=(const ParamBatch &) = delete;

private:
    ParamLock lock_;
};

// Parameter types, as param_get_type() reports them.
inline constexpr int PARAM_TYPE_INT = 0;     // 32-bit signed; -1 means unset
inline constexpr int PARAM_TYPE_STRING = 1;  // NUL-terminated, owned by the table

// Results of the setters.
inline constexpr int PARAM_SET_CHANGED = 0;    // stored, persisted, listeners called
inline constexpr int PARAM_SET_UNCHANGED = 1;  // equal to the current value, nothing done
inline constexpr int PARAM_SET_ERROR = 2;

// Parameter identifiers: the row of each parameter in the table.
enum param_id : int {
    PARAM_EXPOSURE = 0,
    PARAM_BRIGHTNESS = 1,
    PARAM_IRIS = 2,
    PARAM_SHUTTER = 3,                      // exposure time in µs
    PARAM_GAIN = 4,
    PARAM_MAX_EXPOSURE_TIME = 5,            // µs
    PARAM_EXPOSURE_WINDOW = 6,
    PARAM_CUSTOM_EXPOSURE_WINDOW_TOP = 7,   // window edges on a 0..9999 scale
    PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM = 8,
    PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT = 9,
    PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT = 10,
    PARAM_MAX_GAIN = 11,
    PARAM_WHITE_BALANCE = 12,
    PARAM_WHITE_BALANCE_MANUAL = 13,
    PARAM_WHITE_BALANCE_MANUAL_R = 14,
    PARAM_WHITE_BALANCE_MANUAL_B = 15,
    PARAM_SHARPNESS = 16,
    PARAM_NOISE_REDUCTION_TUNING = 17,
    PARAM_COLOR_LEVEL = 18,
    PARAM_CAPTURE_MODE = 19,                // as the image pipeline service reports it
    PARAM_FOCUS_MODE = 20,                  // 1 at rest, 5 while a one-shot focus is asked for
    PARAM_FOCUS_W0 = 21,                    // "x0,y0:x1,y1:x2,y2:x3,y3", fractions 0..1
    PARAM_FOCUS_DRIVE = 22,
    PARAM_STABILIZER = 23,
    PARAM_FOCUS_TRACE_CURVE = 24,
    PARAM_DYNAMIC_CONTRAST_ENABLED = 25,
    PARAM_DYNAMIC_CONTRAST_LEVEL = 26,
    PARAM_IR_CUT_FILTER = 27,
    PARAM_SHIFT_LEVEL = 28,
    PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS = 29,
    PARAM_CAPTURE_FREQUENCY = 30,           // "50Hz" or another mains frequency
    PARAM_SENSOR_PROTECTOR = 31,
    PARAM_IMAGE_ROTATION = 32,              // 0 upright, 1 rotated by 180 degrees
    PARAM_EXPOSURE_PROGRESS = 33,           // 1 while a new exposure setting settles
    PARAM_VIGNETTING_CORRECTION = 34,
    PARAM_ABERRATION_CORRECTION = 35,
    PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL = 36,
    PARAM_COUNT = 37,
};

// Exposure modes, the numbers of the Exposure strings.
enum exposure_mode : int {
    EXPOSURE_MODE_UNKNOWN = -1,
    EXPOSURE_MODE_AUTO = 0,            // "auto"
    EXPOSURE_MODE_IRIS = 1,            // "iris"
    EXPOSURE_MODE_SHUTTER = 2,         // "shutter"
    EXPOSURE_MODE_FLICKERFREE = 3,     // "flickerfree"
    EXPOSURE_MODE_FLICKERREDUCED = 4,  // "flickerreduced"
    EXPOSURE_MODE_MANUAL = 5,          // "manual"
};

// A change listener: the identifier, the name and the new value, an int32
// ("i") for int parameters or a bytestring ("ay") for string parameters. The
// value is released after the last listener returns; a listener that keeps
// it takes its own reference.
using param_changed_cb = void (*)(int id, const char *name, GVariant *value);

// Fills the table with the defaults, then from the configuration file, and
// writes the file back complete (Version=1 first, every parameter). A file
// that cannot be opened or parsed leaves the defaults in force and is not
// touched. An old-layout file (no Version, or below 1) has its Shutter index
// converted to microseconds once.
void param_init();

// The value of an int parameter; -1 on an unknown identifier, a string
// parameter or an unset value (each logged).
int param_get_int_value(int id);

// The value of a string parameter, borrowed from the table until the next
// change of that parameter; nullptr on an unknown identifier, an int
// parameter or an absent value (each logged).
const char *param_get_string_value(int id);

// Store a new value: PARAM_SET_CHANGED when it differed (then it is written
// to the file and announced), PARAM_SET_UNCHANGED when it was equal,
// PARAM_SET_ERROR on an unknown identifier, a parameter of the other type or
// (strings) a missing value. A failure to write the file keeps the new value.
int param_set_int_value(int id, int value);
int param_set_string_value(int id, const char *value);  // the table keeps a copy

// Dispatches on the parameter's type: ival for int parameters, sval for
// string parameters (the other is ignored). Same results as the setters.
int param_set_value(int id, const int *ival, const char *sval);

// Read-only reference to the parameter's type; nullptr on an unknown
// identifier.
const int *param_get_type(int id);

// The parameter's name (also its configuration key and D-Bus property name);
// nullptr on an unknown identifier.
const char *param_get_name(int id);

// The identifier of the parameter with exactly this (case-sensitive) name;
// -1 if none.
int param_get_id(const char *name);

// Calls the listeners with the parameter's current value as a change would
// (at the end of an open batch, in its place among the changes), without
// writing the file: for a caller that gave a value in another form than the
// one stored, and must learn the stored form although nothing changed.
void param_announce(int id);

// Appends a change listener; listeners are called in registration order and
// never removed.
void param_register_changed_cb(param_changed_cb cb);

// Frees every string value and marks it absent. Called once at shutdown.
void param_free_values();

// The exposure mode number of an Exposure string; EXPOSURE_MODE_UNKNOWN (-1)
// for anything else and for nullptr.
int exposure_mode_from_string(const char *exposure);

// Sets MaxExposureTime for the current Exposure and CaptureFrequency: the
// flicker limits of the mains frequency for flickerfree and flickerreduced,
// the remembered maximum exposure time for every other mode. Returns the
// result of the setter.
int param_update_max_exposure_time();

// The remembered maximum exposure time (µs): the MaxExposureTime last sent
// to the IMC while Exposure was "auto" or "iris"; 33333 until then. The
// slow-shutter encoders record it.
int param_get_remembered_max_exposure_time();
void param_set_remembered_max_exposure_time(int time_us);

// For tests only: frees the values, marks every int -1 and every string
// absent (the state before param_init), drops the listeners and restores the
// remembered maximum exposure time to 33333.
void param_reset_for_tests();

}  // namespace optad
