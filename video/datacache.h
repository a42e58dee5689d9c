// Publishing to the kernel data cache (/dev/datacache0): three named ring
// buffers of ten fixed-size entries that other parts of the camera read.
//
//   "sensor_data"         16 bytes: gain dB, ISO, f-number x 10, exposure us
//   "sensor_data_limits"  32 bytes: the same at the minimum and maximum index
//   "optics"              20 bytes: horizontal and vertical field of view,
//                         focal length / second optics value, focal length
//                         (floats), and the integer -1
//
// The IMC reports iris, shutter and gain as table indices; the tables here
// turn them into physical values. The descriptor and cache identifiers are
// set once at start-up and only read afterwards (main thread, then the main
// loop).
#pragma once

#include "params/sdl.h"

#include <cstddef>
#include <cstdint>

namespace optad {

struct sensor_data_entry {
    uint32_t gain_db;
    uint32_t iso;
    uint32_t f_number_x10;
    uint32_t exposure_us;
};
static_assert(sizeof(sensor_data_entry) == 16);

struct sensor_limits_entry {
    uint32_t gain_db_min;
    uint32_t gain_db_max;
    uint32_t iso_min;
    uint32_t iso_max;
    uint32_t f_number_x10_min;  // at the minimum iris index
    uint32_t f_number_x10_max;  // at the maximum iris index
    uint32_t exposure_us_min;   // at the minimum shutter index
    uint32_t exposure_us_max;   // at the maximum shutter index
};
static_assert(sizeof(sensor_limits_entry) == 32);

struct optics_entry {
    float hfov_deg;
    float vfov_deg;
    float focal_ratio;  // focal length / second optics value
    float focal_mm;
    int32_t last;       // always -1
};
static_assert(sizeof(optics_entry) == 20);

// Index tables; an index beyond a table (or negative) gives its default.
uint32_t datacache_iris_f_number_x10(int index);  // default 113
uint32_t datacache_shutter_us(int index);         // default 125
uint32_t datacache_gain_db(int index);            // default 60
uint32_t datacache_gain_iso(int index);           // default 102400

// The entries as written.
sensor_data_entry datacache_sensor_entry(int shutter, int gain, int iris);
sensor_limits_entry datacache_limits_entry(const sdl_limits &limits);
optics_entry datacache_optics_entry(int f, int second);

// Opens the device and registers the three caches (failures logged; every
// later write then fails and logs).
void open_datacache();

// One "sensor_data" entry from the current indices (status bytes 0x43,
// 0x44, 0x42). The request's result.
int write_sensor_datacache(int shutter, int gain, int iris);

// One "sensor_data_limits" entry. The request's result.
int write_limits_datacache(const sdl_limits &limits);

// One "optics" entry from the optics values (status 0x32, 0x34, 0x36; the
// third is not used). The request's result when 0 or more, else 0.
int datacache_api_optics_type(int f, int second, int third);

// Reads the last ten "sensor_data" entries back into the log.
void test_read_chunk_datacache();

}  // namespace optad
