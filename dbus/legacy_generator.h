// Mapping files for the camera's older, enumeration-based parameter model.
//
// The configuration system reads mapping files from
// /etc/legacyconfig/legacymappings.d/; each binds a legacy parameter to a
// property of the daemon's D-Bus service and lists the values a user may
// choose, with their labels. Two files are written here: one for Iris,
// Shutter and Gain, whose choices follow the limits the IMC reports for the
// mounted lens, and one for MaxExposureTime, whose choices follow the
// exposure mode and the mains frequency. Every call writes a complete file
// and replaces the old one atomically, so the configuration system never
// reads half a file.
#pragma once

namespace optad {

inline constexpr const char LEGACY_SHUTTER_GAIN_IRIS_PATH[] =
    "/etc/legacyconfig/legacymappings.d/optad_shutter_gain_iris.xml";
inline constexpr const char LEGACY_MAXSHUTTER_PATH[] =
    "/etc/legacyconfig/legacymappings.d/optad_maxshutter.xml";

// Max-shutter maps: which maximum exposure times are offered.
enum maxshutter_map : int {
    MAXSHUTTER_MAP_ALL = 0,                  // any mode but the two flicker modes
    MAXSHUTTER_MAP_FLICKERREDUCED_50HZ = 1,
    MAXSHUTTER_MAP_FLICKERREDUCED_60HZ = 2,  // any frequency but "50Hz"
    MAXSHUTTER_MAP_FLICKERFREE_50HZ = 3,
    MAXSHUTTER_MAP_FLICKERFREE_60HZ = 4,     // any frequency but "50Hz"
    MAXSHUTTER_MAP_COUNT = 5,
};

// Rewrites the Iris/Shutter/Gain file with the choices inside the given
// bounds (all inclusive; shutter bounds are exposure times in µs). A file
// that cannot be written is logged and left as it was.
void legacy_generate_shutter_gain_iris_config(int iris_min, int iris_max, int shutter_min_us,
                                              int shutter_max_us, int gain_min, int gain_max);

// Rewrites the MaxExposureTime file for a max-shutter map (0 to 4; any other
// number is a programming error and aborts).
void legacy_generate_maxshutter_xml(int map);

// The map for the current Exposure and CaptureFrequency parameters.
int get_maxshutter_map_id();

// 1 when time_us is one of the map's maximum exposure times, else 0.
int maxshutter_value_allowed(int map, int time_us);

}  // namespace optad
