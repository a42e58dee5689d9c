#include "config/param_settings.h"

#include "config/fatal_assert.h"
#include "config/settings.h"
#include "platform/log.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

#define PARAM_ERROR(func, fmt, ...) \
    OPTAD_LOG_ERROR("ERROR:optad:param_settings:%s - " fmt, func, ##__VA_ARGS__)
#define PARAM_WARNING(func, fmt, ...) \
    OPTAD_LOG_WARNING("WARNING:optad:param_settings:%s - " fmt, func, ##__VA_ARGS__)

namespace optad {

namespace {

// Key-file groups of the configuration file.
constexpr const char GROUP_GENERAL[] = "General";
constexpr const char GROUP_SENSOR[] = "ImageSource.I0.Sensor";
constexpr const char GROUP_DAYNIGHT[] = "ImageSource.I0.DayNight";
constexpr const char GROUP_SOURCE[] = "ImageSource.I0";
constexpr const char GROUP_ROTATION[] = "Rotation1";

// "General"/"Version": 1 is the current layout. Older files (no Version, or
// below 1) stored Shutter as a shutter index instead of microseconds.
constexpr const char KEY_VERSION[] = "Version";
constexpr int CONF_VERSION = 1;

constexpr int UNSET_INT = -1;
constexpr int REMEMBERED_MAX_EXPOSURE_INITIAL = 33333;

struct param_value {
    int num;    // int rows; -1 = unset
    char *str;  // string rows; owned by the table, nullptr = absent
};

struct param_default {
    int num;
    const char *str;
};

struct param_row {
    int id;
    const char *name;   // also the key in the file and the D-Bus property name
    const char *group;  // nullptr: not persisted
    int type;
    param_value value;
    param_default default_value;
};

constexpr param_row int_row(int id, const char *name, const char *group, int def)
{
    return {id, name, group, PARAM_TYPE_INT, {UNSET_INT, nullptr}, {def, nullptr}};
}

constexpr param_row string_row(int id, const char *name, const char *group, const char *def)
{
    return {id, name, group, PARAM_TYPE_STRING, {UNSET_INT, nullptr}, {0, def}};
}

// The rows in identifier order; the file is written in this order too.
param_row param_map[PARAM_COUNT] = {
    string_row(PARAM_EXPOSURE, "Exposure", GROUP_SENSOR, "auto"),
    int_row(PARAM_BRIGHTNESS, "Brightness", GROUP_SENSOR, 50),
    int_row(PARAM_IRIS, "Iris", GROUP_SENSOR, 7),
    int_row(PARAM_SHUTTER, "Shutter", GROUP_SENSOR, 20000),
    int_row(PARAM_GAIN, "Gain", GROUP_SENSOR, 7),
    int_row(PARAM_MAX_EXPOSURE_TIME, "MaxExposureTime", GROUP_SENSOR, 40000),
    string_row(PARAM_EXPOSURE_WINDOW, "ExposureWindow", GROUP_SENSOR, "center"),
    int_row(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, "CustomExposureWindow.C0.Top", GROUP_SENSOR, 3333),
    int_row(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, "CustomExposureWindow.C0.Bottom", GROUP_SENSOR, 6666),
    int_row(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, "CustomExposureWindow.C0.Left", GROUP_SENSOR, 3333),
    int_row(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, "CustomExposureWindow.C0.Right", GROUP_SENSOR, 6666),
    int_row(PARAM_MAX_GAIN, "MaxGain", GROUP_SENSOR, 60),
    string_row(PARAM_WHITE_BALANCE, "WhiteBalance", GROUP_SENSOR, "auto"),
    string_row(PARAM_WHITE_BALANCE_MANUAL, "WhiteBalanceManual", GROUP_SENSOR, "no"),
    int_row(PARAM_WHITE_BALANCE_MANUAL_R, "WhiteBalanceManualR", GROUP_SENSOR, 63),
    int_row(PARAM_WHITE_BALANCE_MANUAL_B, "WhiteBalanceManualB", GROUP_SENSOR, 57),
    int_row(PARAM_SHARPNESS, "Sharpness", GROUP_SENSOR, 40),
    int_row(PARAM_NOISE_REDUCTION_TUNING, "NoiseReductionTuning", GROUP_SENSOR, 50),
    int_row(PARAM_COLOR_LEVEL, "ColorLevel", GROUP_SENSOR, 50),
    int_row(PARAM_CAPTURE_MODE, "CaptureMode", GROUP_SENSOR, 1),
    int_row(PARAM_FOCUS_MODE, "FocusMode", GROUP_SENSOR, 1),
    string_row(PARAM_FOCUS_W0, "FocusW0", GROUP_SENSOR, "0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555"),
    string_row(PARAM_FOCUS_DRIVE, "FocusDrive", GROUP_SENSOR, "+minstep"),
    string_row(PARAM_STABILIZER, "Stabilizer", GROUP_SENSOR, "off"),
    string_row(PARAM_FOCUS_TRACE_CURVE, "FocusTraceCurve", GROUP_SENSOR, "normal"),
    string_row(PARAM_DYNAMIC_CONTRAST_ENABLED, "DynamicContrastEnabled", GROUP_SENSOR, "no"),
    int_row(PARAM_DYNAMIC_CONTRAST_LEVEL, "DynamicContrastLevel", GROUP_SENSOR, 4),
    string_row(PARAM_IR_CUT_FILTER, "IrCutFilter", GROUP_DAYNIGHT, "auto"),
    int_row(PARAM_SHIFT_LEVEL, "ShiftLevel", GROUP_DAYNIGHT, 50),
    int_row(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, "AutoIrCutFilterHysteresis", GROUP_DAYNIGHT, 2),
    string_row(PARAM_CAPTURE_FREQUENCY, "CaptureFrequency", GROUP_SOURCE, "50Hz"),
    string_row(PARAM_SENSOR_PROTECTOR, "SensorProtector", GROUP_SENSOR, "open"),
    int_row(PARAM_IMAGE_ROTATION, "ImageRotation", GROUP_ROTATION, 0),
    int_row(PARAM_EXPOSURE_PROGRESS, "ExposureProgress", GROUP_SENSOR, 0),
    string_row(PARAM_VIGNETTING_CORRECTION, "VignettingCorrection", GROUP_SENSOR, "yes"),
    string_row(PARAM_ABERRATION_CORRECTION, "AberrationCorrection", GROUP_SENSOR, "yes"),
    int_row(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, "OnvifExposurePriorityNormal", GROUP_SENSOR, 100),
};

struct exposure_mode_name {
    const char *name;
    int mode;
};

constexpr exposure_mode_name exposure_modes[] = {
    {"auto", EXPOSURE_MODE_AUTO},
    {"iris", EXPOSURE_MODE_IRIS},
    {"shutter", EXPOSURE_MODE_SHUTTER},
    {"flickerfree", EXPOSURE_MODE_FLICKERFREE},
    {"flickerreduced", EXPOSURE_MODE_FLICKERREDUCED},
    {"manual", EXPOSURE_MODE_MANUAL},
};

// The flicker modes tie the longest exposure to the mains period: one half
// period (flickerfree) or one full period (flickerreduced) of light flicker.
struct flicker_exposure_limit {
    int mode;
    int time_50hz_us;
    int time_other_us;
};

constexpr flicker_exposure_limit flicker_exposure_limits[] = {
    {EXPOSURE_MODE_FLICKERFREE, 20000, 16666},
    {EXPOSURE_MODE_FLICKERREDUCED, 40000, 33333},
};

// The change listeners. Registered from any thread (the D-Bus thread
// registers the service's) while another thread may be announcing a
// change: slots are filled before the count that publishes them, and never
// removed, so a reader sees only complete entries and takes no lock.
constexpr size_t MAX_LISTENERS = 8;
std::atomic<param_changed_cb> listeners[MAX_LISTENERS];
std::atomic<size_t> listener_count{0};
std::mutex listener_register_lock;
int remembered_max_exposure_time = REMEMBERED_MAX_EXPOSURE_INITIAL;
std::recursive_mutex table_mutex;

bool id_exists(int id, const char *func)
{
    // Taken as unsigned, negative identifiers are out of range as well.
    if (static_cast<unsigned>(id) < static_cast<unsigned>(PARAM_COUNT))
        return true;
    PARAM_ERROR(func, "Parameter id %d does not exist!\n", id);
    return false;
}

// Old layouts stored Shutter as an index into the shutter speed table.
void update_deprecated_parameters(GKeyFile *key_file)
{
    const char *name = param_map[PARAM_SHUTTER].name;
    const char *group = param_map[PARAM_SHUTTER].group;
    int stored = settings_get_int(key_file, group, name, -1);
    int time_us = shutter_index_to_time(stored);
    if (time_us == -1) {
        PARAM_ERROR("update_deprecated_parameters", "Failed to update deprecated %s value %d\n",
                    name, stored);
        return;
    }
    settings_set_int(key_file, group, name, time_us);
}

// Writes the given parameters into the file in one rewrite, keeping every
// other key in it. A key the file lacks is added after the others, in the
// order given.
void save_param_to_file(const int *ids, size_t count)
{
    int persisted[PARAM_COUNT];
    size_t n = 0;
    for (size_t i = 0; i < count && n < std::size(persisted); ++i) {
        if (!id_exists(ids[i], "save_param_to_file"))
            continue;
        const param_row &row = param_map[ids[i]];
        if (row.group == nullptr) {
            PARAM_ERROR("save_param_to_file", "Parameter %s does not have a config file entry!\n",
                        row.name);
            continue;
        }
        persisted[n++] = ids[i];
    }
    if (n == 0)
        return;

    int existed = 0;
    SettingsPtr key_file(settings_open(OPTAD_CONF_PATH, &existed));
    if (!key_file)
        return;  // logged by settings_open
    if (!existed) {
        PARAM_WARNING("save_param_to_file", "Conf file doesn't exist\n");
        // A file created here holds only these keys. Mark it as the current
        // layout, or the next start would take a Shutter of 0 to 51 µs for an
        // old shutter index and "convert" it.
        settings_set_int(key_file.get(), GROUP_GENERAL, KEY_VERSION, CONF_VERSION);
    }

    for (size_t i = 0; i < n; ++i) {
        const param_row &row = param_map[persisted[i]];
        switch (row.type) {
        case PARAM_TYPE_INT:
            settings_set_int(key_file.get(), row.group, row.name, row.value.num);
            break;
        case PARAM_TYPE_STRING:
            settings_set_string(key_file.get(), row.group, row.name, row.value.str);
            break;
        default:
            PARAM_ERROR("save_param_to_file", "Unknown type %d!\n", row.type);
            break;
        }
    }
    settings_write_to_disk(key_file.get(), OPTAD_CONF_PATH);
}

// The value the listeners hear, an int32 or a bytestring, owned by the
// caller: a listener that sinks and drops it cannot free it under the next
// one.
GVariant *listener_value(const param_row &row)
{
    GVariant *value = nullptr;
    if (row.type == PARAM_TYPE_INT)
        value = g_variant_new_int32(row.value.num);
    else if (row.type == PARAM_TYPE_STRING && row.value.str != nullptr)
        value = g_variant_new_bytestring(row.value.str);
    OPTAD_FATAL_ASSERT("notify_param_changed", value != NULL);
    return g_variant_ref_sink(value);
}

void call_listeners(const param_row &row, GVariant *value)
{
    // A listener registered meanwhile hears from the next change on.
    const size_t count = listener_count.load(std::memory_order_acquire);
    for (size_t i = 0; i < count; ++i)
        listeners[i].load(std::memory_order_relaxed)(row.id, row.name, value);
}

void notify_param_changed(const param_row &row)
{
    if (listener_count.load(std::memory_order_acquire) == 0)
        return;
    GVariant *value = listener_value(row);
    call_listeners(row, value);
    g_variant_unref(value);
}

// The open batch (ParamBatch), guarded by the table's lock: the parameters
// changed in it, each once in the order of its first change (for the file),
// and every announcement with the value it carried when it was made.
struct Announcement {
    int id;
    GVariant *value;  // owned
};
struct OpenBatch {
    int depth = 0;
    bool changed[PARAM_COUNT] = {};
    int changed_ids[PARAM_COUNT] = {};
    size_t changed_count = 0;
    std::vector<Announcement> announcements;
};
OpenBatch open_batch;

// A new value is stored: it is written and announced now, or at the end of
// the open batch.
void param_changed(const param_row &row)
{
    if (open_batch.depth == 0) {
        save_param_to_file(&row.id, 1);
        notify_param_changed(row);
        return;
    }
    if (!open_batch.changed[row.id]) {
        open_batch.changed[row.id] = true;
        open_batch.changed_ids[open_batch.changed_count++] = row.id;
    }
    open_batch.announcements.push_back({row.id, listener_value(row)});
}

}  // namespace

std::recursive_mutex &param_table_mutex()
{
    return table_mutex;
}

ParamBatch::ParamBatch()
{
    ++open_batch.depth;
}

ParamBatch::~ParamBatch()
{
    if (--open_batch.depth > 0)
        return;
    // The batch is closed before anything is written or announced: a
    // listener that sets a parameter in turn makes a single set.
    if (open_batch.changed_count > 0)
        save_param_to_file(open_batch.changed_ids, open_batch.changed_count);
    for (size_t i = 0; i < open_batch.changed_count; ++i)
        open_batch.changed[open_batch.changed_ids[i]] = false;
    open_batch.changed_count = 0;
    std::vector<Announcement> announcements;
    announcements.swap(open_batch.announcements);
    for (const Announcement &a : announcements) {
        call_listeners(param_map[a.id], a.value);
        g_variant_unref(a.value);
    }
}

void param_init()
{
    ParamLock lock;
    int existed = 0;
    SettingsPtr key_file(settings_open(OPTAD_CONF_PATH, &existed));

    for (int i = 0; i < PARAM_COUNT; ++i) {
        param_row &row = param_map[i];
        OPTAD_FATAL_ASSERT("param_init", param_map[i].id == i);
        switch (row.type) {
        case PARAM_TYPE_INT:
            row.value.num = row.default_value.num;
            break;
        case PARAM_TYPE_STRING:
            OPTAD_FATAL_ASSERT("param_init", param_map[i].default_value.str != NULL);
            g_free(row.value.str);
            row.value.str = g_strdup(row.default_value.str);
            break;
        default:
            OPTAD_FATAL_ASSERT("param_init", FALSE);
        }
    }

    // No key file: the defaults stand, and a file that exists but could not
    // be read is left as it is rather than overwritten with them.
    if (!key_file)
        return;

    if (existed && settings_get_int(key_file.get(), GROUP_GENERAL, KEY_VERSION, 0) < CONF_VERSION)
        update_deprecated_parameters(key_file.get());
    settings_set_int(key_file.get(), GROUP_GENERAL, KEY_VERSION, CONF_VERSION);

    for (param_row &row : param_map) {
        if (row.group == nullptr)
            continue;
        if (row.type == PARAM_TYPE_INT) {
            row.value.num = settings_get_int(key_file.get(), row.group, row.name, row.value.num);
            settings_set_int(key_file.get(), row.group, row.name, row.value.num);
        } else {
            char *stored = settings_get_string(key_file.get(), row.group, row.name, nullptr);
            if (stored != nullptr) {
                g_free(row.value.str);
                row.value.str = stored;
            }
            settings_set_string(key_file.get(), row.group, row.name, row.value.str);
        }
    }
    settings_write_to_disk(key_file.get(), OPTAD_CONF_PATH);
}

int param_get_int_value(int id)
{
    ParamLock lock;
    if (!id_exists(id, "param_get_int_value"))
        return -1;
    const param_row &row = param_map[id];
    if (row.type != PARAM_TYPE_INT) {
        PARAM_ERROR("param_get_int_value", "Parameter %s is not a int!\n", row.name);
        return -1;
    }
    if (row.value.num == UNSET_INT)
        PARAM_ERROR("param_get_int_value", "Warning: Parameter %s is -1!\n", row.name);
    return row.value.num;
}

const char *param_get_string_value(int id)
{
    ParamLock lock;
    if (!id_exists(id, "param_get_string_value"))
        return nullptr;
    const param_row &row = param_map[id];
    if (row.type != PARAM_TYPE_STRING) {
        PARAM_ERROR("param_get_string_value", "Parameter %s is not a string!\n", row.name);
        return nullptr;
    }
    if (row.value.str == nullptr)
        PARAM_ERROR("param_get_string_value", "Warning: Parameter %s is NULL!\n", row.name);
    return row.value.str;
}

int param_set_int_value(int id, int value)
{
    ParamLock lock;
    if (!id_exists(id, "param_set_int_value"))
        return PARAM_SET_ERROR;
    param_row &row = param_map[id];
    if (row.type != PARAM_TYPE_INT) {
        PARAM_ERROR("param_set_int_value", "Parameter %s is not a int!\n", row.name);
        return PARAM_SET_ERROR;
    }
    if (row.value.num == value)
        return PARAM_SET_UNCHANGED;
    row.value.num = value;
    // A failure to write the file is logged there; the new value stays in
    // force and is announced all the same.
    param_changed(row);
    return PARAM_SET_CHANGED;
}

int param_set_string_value(int id, const char *value)
{
    ParamLock lock;
    if (!id_exists(id, "param_set_string_value"))
        return PARAM_SET_ERROR;
    param_row &row = param_map[id];
    if (row.type != PARAM_TYPE_STRING) {
        PARAM_ERROR("param_set_string_value", "Parameter %s is not a string!\n", row.name);
        return PARAM_SET_ERROR;
    }
    if (value == nullptr) {
        PARAM_ERROR("param_set_string_value", "Trying to set string to NULL for parameter %s!\n",
                    row.name);
        return PARAM_SET_ERROR;
    }
    if (g_strcmp0(row.value.str, value) == 0)
        return PARAM_SET_UNCHANGED;
    char *copy = g_strdup(value);
    g_free(row.value.str);
    row.value.str = copy;
    param_changed(row);
    return PARAM_SET_CHANGED;
}

int param_set_value(int id, const int *ival, const char *sval)
{
    ParamLock lock;
    if (!id_exists(id, "param_set_value"))
        return PARAM_SET_ERROR;
    const param_row &row = param_map[id];
    switch (row.type) {
    case PARAM_TYPE_INT:
        if (ival == nullptr) {
            PARAM_ERROR("param_set_value", "Missing int value for parameter %s\n", row.name);
            return PARAM_SET_ERROR;
        }
        return param_set_int_value(id, *ival);
    case PARAM_TYPE_STRING:
        if (sval == nullptr) {
            PARAM_ERROR("param_set_value", "Missing string value for parameter %s\n", row.name);
            return PARAM_SET_ERROR;
        }
        return param_set_string_value(id, sval);
    default:
        PARAM_ERROR("param_set_value", "Unknown type %d for parameter %s!\n", row.type, row.name);
        return PARAM_SET_ERROR;
    }
}

const int *param_get_type(int id)
{
    if (!id_exists(id, "param_get_type"))
        return nullptr;
    return &param_map[id].type;
}

const char *param_get_name(int id)
{
    if (!id_exists(id, "param_get_name"))
        return nullptr;
    return param_map[id].name;
}

int param_get_id(const char *name)
{
    if (name == nullptr)
        return -1;
    for (const param_row &row : param_map) {
        if (std::strcmp(row.name, name) == 0)
            return row.id;
    }
    return -1;
}

void param_announce(int id)
{
    ParamLock lock;
    if (!id_exists(id, "param_announce"))
        return;
    const param_row &row = param_map[id];
    if (open_batch.depth > 0)
        open_batch.announcements.push_back({row.id, listener_value(row)});
    else
        notify_param_changed(row);
}

void param_register_changed_cb(param_changed_cb cb)
{
    if (cb == nullptr) {
        PARAM_ERROR("param_register_changed_cb", "Refusing a NULL listener!\n");
        return;
    }
    std::lock_guard<std::mutex> guard(listener_register_lock);
    const size_t n = listener_count.load(std::memory_order_relaxed);
    if (n == MAX_LISTENERS) {
        PARAM_ERROR("param_register_changed_cb", "Too many listeners!\n");
        return;
    }
    listeners[n].store(cb, std::memory_order_relaxed);
    listener_count.store(n + 1, std::memory_order_release);
}

void param_free_values()
{
    ParamLock lock;
    for (param_row &row : param_map) {
        if (row.type == PARAM_TYPE_STRING) {
            g_free(row.value.str);
            row.value.str = nullptr;
        }
    }
}

int exposure_mode_from_string(const char *exposure)
{
    if (exposure == nullptr)
        return EXPOSURE_MODE_UNKNOWN;
    for (const exposure_mode_name &m : exposure_modes) {
        if (std::strcmp(m.name, exposure) == 0)
            return m.mode;
    }
    return EXPOSURE_MODE_UNKNOWN;
}

int param_update_max_exposure_time()
{
    ParamLock lock;
    int mode = exposure_mode_from_string(param_get_string_value(PARAM_EXPOSURE));
    bool mains_50hz = g_strcmp0(param_get_string_value(PARAM_CAPTURE_FREQUENCY), "50Hz") == 0;

    int time_us = remembered_max_exposure_time;
    for (const flicker_exposure_limit &limit : flicker_exposure_limits) {
        if (limit.mode == mode)
            time_us = mains_50hz ? limit.time_50hz_us : limit.time_other_us;
    }
    return param_set_int_value(PARAM_MAX_EXPOSURE_TIME, time_us);
}

int param_get_remembered_max_exposure_time()
{
    ParamLock lock;
    return remembered_max_exposure_time;
}

void param_set_remembered_max_exposure_time(int time_us)
{
    ParamLock lock;
    remembered_max_exposure_time = time_us;
}

void param_reset_for_tests()
{
    ParamLock lock;
    for (param_row &row : param_map) {
        g_free(row.value.str);
        row.value.str = nullptr;
        row.value.num = UNSET_INT;
    }
    listener_count.store(0, std::memory_order_release);
    remembered_max_exposure_time = REMEMBERED_MAX_EXPOSURE_INITIAL;
    for (const Announcement &a : open_batch.announcements)
        g_variant_unref(a.value);
    open_batch = OpenBatch{};
}

}  // namespace optad
