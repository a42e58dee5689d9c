#include "dbus/legacy_generator.h"

#include "config/fatal_assert.h"
#include "config/param_settings.h"
#include "config/shutter_table.h"
#include "platform/file_replace.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <glib.h>

#include <iterator>
#include <memory>
#include <span>
#include <string>

namespace optad {

namespace {

// Iris values as the IMC takes them, with their f-numbers.
constexpr labelled_value iris_table[] = {
    {0, "f/1.0"},  {1, "f/1.1"},  {2, "f/1.2"},  {3, "f/1.3"},  {4, "f/1.4"},   {5, "f/1.5"},
    {6, "f/1.6"},  {7, "f/1.8"},  {8, "f/2.0"},  {9, "f/2.1"},  {10, "f/2.3"},  {11, "f/2.5"},
    {12, "f/2.8"}, {13, "f/3.0"}, {14, "f/3.3"}, {15, "f/3.6"}, {16, "f/4.0"},  {17, "f/4.3"},
    {18, "f/4.7"}, {19, "f/5.1"}, {20, "f/5.6"}, {21, "f/6.1"}, {22, "f/6.7"},  {23, "f/7.3"},
    {24, "f/8.0"}, {25, "f/8.7"}, {26, "f/9.5"}, {27, "f/10.3"}, {28, "f/11.3"},
    {-1, nullptr},
};

// Gain values as the IMC takes them; the label gives the gain in dB and the
// equivalent ISO speed.
constexpr labelled_value gain_table[] = {
    {0, "0  (ISO 100)"},     {1, "1  (ISO 125)"},     {3, "4  (ISO 160)"},
    {4, "6  (ISO 200)"},     {5, "7  (ISO 250)"},     {7, "10  (ISO 320)"},
    {8, "12  (ISO 400)"},    {9, "13  (ISO 500)"},    {11, "16  (ISO 640)"},
    {12, "18  (ISO 800)"},   {13, "19  (ISO 1000)"},  {14, "21  (ISO 1250)"},
    {16, "24  (ISO 1600)"},  {17, "25  (ISO 2000)"},  {19, "28  (ISO 2500)"},
    {20, "30  (ISO 3200)"},  {21, "31  (ISO 4000)"},  {23, "34  (ISO 5000)"},
    {24, "36  (ISO 6400)"},  {28, "42  (ISO 12800)"}, {32, "48  (ISO 25600)"},
    {36, "54  (ISO 51200)"}, {40, "60  (ISO 102400)"},
    {-1, nullptr},
};

// Maximum exposure times offered for MaxExposureTime (µs).
constexpr labelled_value maxshutter_table[] = {
    {8333, "1/120 sec"},   {10000, "1/100 sec"},  {16666, "1/60 sec"},   {20000, "1/50 sec"},
    {33333, "1/30 sec"},   {40000, "1/25 sec"},   {66666, "1/15 sec"},   {80000, "1/12.5 sec"},
    {125000, "1/8 sec"},   {166666, "1/6 sec"},   {250000, "1/4 sec"},   {312500, "1/3.2 sec"},
    {500000, "1/2 sec"},   {1000000, "1 sec"},
    {-1, nullptr},
};
// Labelled rows of the max-shutter table.
constexpr int MAXSHUTTER_ROWS = static_cast<int>(std::size(maxshutter_table)) - 1;

// The max-shutter maps, as indices into the max-shutter table. Flickerreduced
// offers whole multiples of the mains period (10 ms at 50 Hz, 8.3 ms at
// 60 Hz) and the long exposures; flickerfree offers exactly one.
constexpr int map_all[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
constexpr int map_flickerreduced_50hz[] = {1, 3, 5, 7, 9, 11, 12, 13};
constexpr int map_flickerreduced_60hz[] = {0, 2, 4, 6, 8, 10, 12, 13};
constexpr int map_flickerfree_50hz[] = {3};
constexpr int map_flickerfree_60hz[] = {2};

constexpr std::span<const int> maxshutter_maps[MAXSHUTTER_MAP_COUNT] = {
    map_all, map_flickerreduced_50hz, map_flickerreduced_60hz, map_flickerfree_50hz,
    map_flickerfree_60hz,
};

// Which map an exposure mode selects, by mains frequency; modes not listed
// get MAXSHUTTER_MAP_ALL.
struct maxshutter_map_choice {
    int mode;
    int map_50hz;
    int map_other;
};

constexpr maxshutter_map_choice maxshutter_map_choices[] = {
    {EXPOSURE_MODE_FLICKERREDUCED, MAXSHUTTER_MAP_FLICKERREDUCED_50HZ,
     MAXSHUTTER_MAP_FLICKERREDUCED_60HZ},
    {EXPOSURE_MODE_FLICKERFREE, MAXSHUTTER_MAP_FLICKERFREE_50HZ, MAXSHUTTER_MAP_FLICKERFREE_60HZ},
};

constexpr const char MAPPING_GROUP[] = "root.ImageSource.I0.Sensor";
constexpr const char ENUM_PREFIX[] = "enum:";

std::span<const int> get_maxshutter_map_id_list(int map)
{
    if (static_cast<unsigned>(map) >= static_cast<unsigned>(MAXSHUTTER_MAP_COUNT))
        OPTAD_FATAL_ASSERT("get_maxshutter_map_id_list", FALSE);
    return maxshutter_maps[map];
}

void check_valid_index(int index)
{
    const int i = MAXSHUTTER_ROWS;
    OPTAD_FATAL_ASSERT("check_valid_index", index >= 0);
    OPTAD_FATAL_ASSERT("check_valid_index", index < i);
}

// Appends "value|label," for every row from min to max (inclusive, rows in
// ascending order), then drops the last comma.
void append_range_enum(GString *out, const labelled_value *table, int min, int max)
{
    g_string_append(out, ENUM_PREFIX);
    const gsize start = out->len;
    for (const labelled_value *row = table; row->label != nullptr; ++row) {
        if (row->value > max)
            break;
        if (row->value < min)
            continue;
        g_string_append_printf(out, "%d|%s,", row->value, row->label);
    }
    if (out->len > start)
        g_string_truncate(out, out->len - 1);
}

void append_parameter_block(GString *out, const char *name, const char *enum_value)
{
    g_string_append_printf(out, "    <parameter name=\"%s\">\n", name);
    g_string_append(out,
                    "      <property dbus=\"com.tavik.ImcControl\" object=\"/com/tavik/ImcControl\"\n");
    g_string_append_printf(out,
                           "      interface=\"com.tavik.Configuration.Legacy\" name=\"%s\">\n",
                           name);
    g_string_append_printf(out, "        <type type=\"%s\" />\n", "int");
    g_string_append(out, "      </property>\n");
    g_string_append(out, "      <legacyoptions>\n");
    g_string_append_printf(out, "        <legacyoption name=\"type\" value=\"%s\" />\n", enum_value);
    g_string_append(out,
                    "        <legacyoption name=\"accessControl\" "
                    "value=\"operator:3;admin:3;viewer:1\"/>\n");
    g_string_append(out, "      </legacyoptions>\n");
    g_string_append(out, "    </parameter>\n");
}

void append_mapping_head(GString *out)
{
    g_string_append(out, "<mapping>\n");
    g_string_append_printf(out, "  <group name=\"%s\">\n", MAPPING_GROUP);
}

void append_mapping_tail(GString *out)
{
    g_string_append(out, "  </group>\n");
    g_string_append(out, "</mapping>\n");
}

// Replaces the file at a fixed path with the content in one step: the new
// file is written beside the old one and renamed over it, so the
// configuration system reads either the old file or the new one, never a
// mix. A file that an installation gave its own mode or owner, or made a
// link to elsewhere, keeps them. The directory belongs to the configuration
// system and is not created here: without it there is nobody to read the
// file, and creating it would hide a broken installation. On failure the old
// file stays as it was and no temporary file is left behind.
bool replace_file(const char *fixed_path, const GString *content)
{
    const std::string real = platform_path(fixed_path);
    const int rc = file_replace(real.c_str(), content->str, content->len, 0644);
    if (rc < 0) {
        OPTAD_LOG_DEBUG("DEBUG:optad:legacy_generator:replace_file - %s: %s\n", fixed_path,
                        g_strerror(-rc));
        return false;
    }
    return true;
}

struct GStringDeleter {
    void operator()(GString *s) const { g_string_free(s, TRUE); }
};
using GStringPtr = std::unique_ptr<GString, GStringDeleter>;

// Room for the larger of the two files (about 3 KiB) without regrowing.
constexpr gsize MAPPING_FILE_RESERVE = 4096;

}  // namespace

void legacy_generate_shutter_gain_iris_config(int iris_min, int iris_max, int shutter_min_us,
                                              int shutter_max_us, int gain_min, int gain_max)
{
    GStringPtr out(g_string_sized_new(MAPPING_FILE_RESERVE));
    GStringPtr choices(g_string_sized_new(MAPPING_FILE_RESERVE / 2));

    append_mapping_head(out.get());
    struct {
        const char *name;
        const labelled_value *table;
        int min;
        int max;
    } const parameters[] = {
        {"Iris", iris_table, iris_min, iris_max},
        {"Shutter", shutter_speed_table, shutter_min_us, shutter_max_us},
        {"Gain", gain_table, gain_min, gain_max},
    };
    for (const auto &p : parameters) {
        g_string_truncate(choices.get(), 0);
        append_range_enum(choices.get(), p.table, p.min, p.max);
        append_parameter_block(out.get(), p.name, choices->str);
    }
    append_mapping_tail(out.get());

    if (!replace_file(LEGACY_SHUTTER_GAIN_IRIS_PATH, out.get()))
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Failed to open optad_shutter_gain_iris.xml!\n",
                        "legacy_generator", "legacy_generate_shutter_gain_iris_config");
}

void legacy_generate_maxshutter_xml(int map)
{
    std::span<const int> indices = get_maxshutter_map_id_list(map);

    GStringPtr choices(g_string_sized_new(MAPPING_FILE_RESERVE / 4));
    g_string_append(choices.get(), ENUM_PREFIX);
    for (size_t n = 0; n < indices.size(); ++n) {
        const int index = indices[n];
        check_valid_index(index);
        g_string_append_printf(choices.get(), "%d|%s%s", maxshutter_table[index].value,
                               maxshutter_table[index].label, n + 1 < indices.size() ? "," : "");
    }

    GStringPtr out(g_string_sized_new(MAPPING_FILE_RESERVE / 2));
    append_mapping_head(out.get());
    append_parameter_block(out.get(), "MaxExposureTime", choices->str);
    append_mapping_tail(out.get());

    if (!replace_file(LEGACY_MAXSHUTTER_PATH, out.get()))
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Failed to open optad_maxshutter.xml!\n",
                        "legacy_generator", "legacy_generate_maxshutter_xml");
}

int get_maxshutter_map_id()
{
    ParamLock lock;  // the two strings are borrowed from the table
    int mode = exposure_mode_from_string(param_get_string_value(PARAM_EXPOSURE));
    bool mains_50hz = g_strcmp0(param_get_string_value(PARAM_CAPTURE_FREQUENCY), "50Hz") == 0;
    for (const maxshutter_map_choice &choice : maxshutter_map_choices) {
        if (choice.mode == mode)
            return mains_50hz ? choice.map_50hz : choice.map_other;
    }
    return MAXSHUTTER_MAP_ALL;
}

int maxshutter_value_allowed(int map, int time_us)
{
    for (int index : get_maxshutter_map_id_list(map)) {
        check_valid_index(index);
        if (maxshutter_table[index].value == time_us)
            return 1;
    }
    return 0;
}

}  // namespace optad
