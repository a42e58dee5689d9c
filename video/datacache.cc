// The kernel data cache: "sensor_data", "sensor_data_limits" and "optics".
#include "video/datacache.h"

#include "platform/devio.h"
#include "platform/kernel_abi.h"
#include "platform/log.h"
#include "platform/log_format.h"

#include <fcntl.h>

#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstring>

namespace optad {

namespace {

constexpr const char *DATACACHE_DEVICE = "/dev/datacache0";
constexpr uint32_t CACHE_ENTRIES = 10;

// Iris index -> f-number x 10.
constexpr uint32_t iris_table[] = {10, 11, 12, 13, 14, 15, 16, 18, 20, 21, 23, 25, 28, 30, 33,
                                   36, 40, 43, 47, 51, 56, 61, 67, 73, 80, 87, 95, 103, 113};
constexpr uint32_t IRIS_DEFAULT = 113;

// Shutter index -> exposure time in microseconds (0 = 1 s ... 51 = 1/8000 s).
constexpr uint32_t shutter_table[] = {
    1000000, 833333, 666667, 500000, 454545, 370370, 312500, 250000, 222222, 200000, 166667, 125000, 111111,
    90909,   76923,  66667,  55556,  47619,  40000,  33333,  28571,  23810,  20000,  16667,  14286,  11765,
    10000,   8333,   6667,   5556,   4762,   4000,   3333,   2778,   2381,   2000,   1667,   1389,   1190,
    1000,    833,    714,    588,    500,    417,    357,    294,    250,    208,    179,    156,    125};
constexpr uint32_t SHUTTER_DEFAULT = 125;

// Gain index -> ISO value; the gain in dB is index x 3 / 2, rounded down.
constexpr uint32_t iso_table[] = {100,   125,   140,   160,   200,   250,   285,   320,   400,   500,   570,
                                  640,   800,   1000,  1250,  1425,  1600,  2000,  2225,  2500,  3200,  4000,
                                  4500,  5000,  6400,  8000,  9600,  11200, 12800, 16000, 19200, 22400, 25600,
                                  32000, 38400, 44800, 51200, 64000, 76800, 89600, 102400};
constexpr int GAIN_INDEX_COUNT = sizeof iso_table / sizeof iso_table[0];
constexpr uint32_t GAIN_DB_DEFAULT = 60;
constexpr uint32_t ISO_DEFAULT = 102400;

static_assert(sizeof iris_table / sizeof iris_table[0] == 29);
static_assert(sizeof shutter_table / sizeof shutter_table[0] == 52);
static_assert(GAIN_INDEX_COUNT == 41);

// The sensor, for the field of view.
constexpr float SENSOR_WIDTH_MM = 22.4f;
constexpr float SENSOR_HEIGHT_MM = 15.0f;
// 2 x 180 / pi: twice the arctangent, in degrees.
constexpr double TWICE_RAD_TO_DEG = 114.591559026;

// Indices come from status bytes; a negative index (never sent by the IMC)
// is treated like one beyond the table instead of reading before it.
template <size_t N>
uint32_t lookup(const uint32_t (&table)[N], int index, uint32_t fallback)
{
    if (index < 0 || static_cast<size_t>(index) >= N)
        return fallback;
    return table[index];
}

// The field of view for one sensor side: the quotient in single precision,
// the arctangent and the scaling in double precision, stored as a float.
float field_of_view(float size_mm, float focal_mm)
{
    float q = size_mm / (2.0f * focal_mm);
    return static_cast<float>(std::atan(static_cast<double>(q)) * TWICE_RAD_TO_DEG);
}

// Set once at start-up, only read afterwards.
int dc_fd = -1;
int sensor_cache = -1;
int limits_cache = -1;
int optics_cache = -1;

// The driver takes a cache name NUL-padded in its 20 bytes (a 20-character
// name fills them without a terminator). rec must be zeroed.
void set_cache_name(datacache_register_rec &rec, const char *name)
{
    std::memcpy(rec.name, name, std::min(std::strlen(name), sizeof rec.name));
}

int register_cache(const char *name, uint32_t entry_size)
{
    datacache_register_rec rec;
    std::memset(&rec, 0, sizeof rec);
    set_cache_name(rec, name);
    rec.entry_size = entry_size;
    rec.entries = CACHE_ENTRIES;
    return dev_ioctl(dc_fd, DATACACHE_REGISTER, &rec);
}

int write_entry(int cache, const void *entry)
{
    datacache_write_rec rec;
    std::memset(&rec, 0, sizeof rec);
    rec.cache_id = static_cast<uint32_t>(cache);
    rec.entry = reinterpret_cast<uintptr_t>(entry);
    return dev_ioctl(dc_fd, DATACACHE_WRITE, &rec);
}

}  // namespace

uint32_t datacache_iris_f_number_x10(int index)
{
    return lookup(iris_table, index, IRIS_DEFAULT);
}

uint32_t datacache_shutter_us(int index)
{
    return lookup(shutter_table, index, SHUTTER_DEFAULT);
}

uint32_t datacache_gain_db(int index)
{
    if (index < 0 || index >= GAIN_INDEX_COUNT)
        return GAIN_DB_DEFAULT;
    return static_cast<uint32_t>(index * 3 / 2);
}

uint32_t datacache_gain_iso(int index)
{
    return lookup(iso_table, index, ISO_DEFAULT);
}

sensor_data_entry datacache_sensor_entry(int shutter, int gain, int iris)
{
    return {datacache_gain_db(gain), datacache_gain_iso(gain), datacache_iris_f_number_x10(iris),
            datacache_shutter_us(shutter)};
}

sensor_limits_entry datacache_limits_entry(const sdl_limits &l)
{
    return {datacache_gain_db(l.gain_min),
            datacache_gain_db(l.gain_max),
            datacache_gain_iso(l.gain_min),
            datacache_gain_iso(l.gain_max),
            datacache_iris_f_number_x10(l.diaphragm_min),
            datacache_iris_f_number_x10(l.diaphragm_max),
            datacache_shutter_us(l.shutter_speed_min),
            datacache_shutter_us(l.shutter_speed_max)};
}

optics_entry datacache_optics_entry(int f, int second)
{
    optics_entry e;
    if (f >= 1) {
        const float focal = static_cast<float>(f);
        e.hfov_deg = field_of_view(SENSOR_WIDTH_MM, focal);
        e.vfov_deg = field_of_view(SENSOR_HEIGHT_MM, focal);
        e.focal_mm = focal;
    } else {
        e.hfov_deg = -1.0f;
        e.vfov_deg = -1.0f;
        e.focal_mm = -1.0f;
    }
    e.focal_ratio = second >= 1 ? static_cast<float>(f) / static_cast<float>(second) : -1.0f;
    e.last = -1;
    return e;
}

namespace {

// The three caches, registered in this order, with the lines that report
// each registration.
struct CacheRegistration {
    const char *name;
    uint32_t entry_size;
    int *id;
    LogFormat<const char *, int> failed;  // error text, errno
    LogFormat<int, int> registered;       // descriptor, identifier
};
constexpr CacheRegistration cache_registrations[] = {
    {"sensor_data", sizeof(sensor_data_entry), &sensor_cache,
     "ERROR:optad:main:register_datacache (sensor) error %s (%d)\n",
     "DEBUG:optad:main:register_datacache: s_fd_dc=%d, s_dc_cache=%d\n"},
    {"sensor_data_limits", sizeof(sensor_limits_entry), &limits_cache,
     "ERROR:optad:main:register_datacache (limits) error %s (%d)\n",
     "DEBUG:optad:main:register_datacache: sl_fd_dc=%d, l_dc_cache=%d\n"},
    {"optics", sizeof(optics_entry), &optics_cache,
     "ERROR:optad:main:register_datacache (optics) error %s (%d)\n",
     "DEBUG:optad:main:register_datacache: sl_fd_dc=%d, o_dc_cache=%d\n"},
};

}  // namespace

void open_datacache()
{
    // The descriptor is kept even when the open failed: the registrations
    // and writes then fail and log on their own.
    dc_fd = dev_open(DATACACHE_DEVICE, O_RDWR);
    if (dc_fd < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("%d (%s) ERROR:optad:main:open_datacache - Failed to open /dev/datacache0!\n", e,
                        strerror(e));
    } else {
        OPTAD_LOG_DEBUG("DEBUG:optad:main:open_datacache: sl_fd_dc=%d\n", dc_fd);
    }

    for (const CacheRegistration &c : cache_registrations) {
        *c.id = register_cache(c.name, c.entry_size);
        if (*c.id < 0) {
            int e = errno;
            log_line(LOG_ERR, c.failed, strerror(e), e);
        } else if (log_verbose()) {
            log_line(LOG_DEBUG, c.registered, dc_fd, *c.id);
        }
    }
}

int write_sensor_datacache(int shutter, int gain, int iris)
{
    const sensor_data_entry entry = datacache_sensor_entry(shutter, gain, iris);
    int r = write_entry(sensor_cache, &entry);
    if (r < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("ERROR:optad:main:write_sensor_datacache error %s (%d)\n", strerror(e), e);
    }
    return r;
}

int write_limits_datacache(const sdl_limits &limits)
{
    const sensor_limits_entry entry = datacache_limits_entry(limits);
    int r = write_entry(limits_cache, &entry);
    if (r < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("ERROR:optad:main:write_limits_datacache error %s (%d)\n", strerror(e), e);
    }
    return r;
}

int datacache_api_optics_type(int f, int second, int third)
{
    (void)third;  // reported by the IMC, not published
    const optics_entry entry = datacache_optics_entry(f, second);
    int r = write_entry(optics_cache, &entry);
    if (r < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("ERROR:optad:main:datacache_api_optics_type error %s (%d)\n", strerror(e), e);
        return 0;
    }
    return r;
}

void test_read_chunk_datacache()
{
    // These lines are a diagnostic the caller asked for: written at debug
    // priority whatever the verbose flag says.
    datacache_register_rec lookup_rec;
    std::memset(&lookup_rec, 0, sizeof lookup_rec);
    set_cache_name(lookup_rec, "sensor_data");
    int cache = dev_ioctl(dc_fd, DATACACHE_LOOKUP, &lookup_rec);
    if (cache < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("ERROR:optad:main:test_read_chunk_datacache - error %s (%d)\n", strerror(e), e);
    } else {
        log_write(LOG_DEBUG, "DEBUG:optad:main:test_read_chunk_datacache - sl_fd_dc=%d, dc_cache=%d\n", dc_fd,
                  cache);
    }

    sensor_data_entry entries[CACHE_ENTRIES];
    uint8_t stamps[CACHE_ENTRIES * 8];
    std::memset(entries, 0, sizeof entries);
    std::memset(stamps, 0, sizeof stamps);
    datacache_read_rec rec;
    std::memset(&rec, 0, sizeof rec);
    rec.cache_id = static_cast<uint32_t>(cache);
    rec.one = 1;
    rec.entries = reinterpret_cast<uintptr_t>(entries);
    rec.stamps = reinterpret_cast<uintptr_t>(stamps);
    rec.count = CACHE_ENTRIES;
    rec.zero = 0;

    int r = dev_ioctl(dc_fd, DATACACHE_READ, &rec);
    if (r < 0) {
        int e = errno;
        if (r == -1 && e == EAGAIN)
            log_write(LOG_DEBUG,
                      "DEBUG:optad:main:test_read_chunk_datacache - OK, if reading before anything has been written "
                      "to cache. %s (%d)\n",
                      strerror(e), e);
        else
            OPTAD_LOG_ERROR("ERROR:optad:main:test_read_chunk_datacache - error %s (%d)\n", strerror(e), e);
        return;
    }
    const sensor_data_entry *x = entries;
    log_write(LOG_DEBUG,
              "DEBUG:optad:main:test_read_chunk_datacache - from oldest to newest, %u:%u, %u:%u, %u:%u, %u:%u, %u:%u, "
              "%u:%u, %u:%u, %u:%u, %u:%u, %u:%u\n",
              x[0].gain_db, x[0].exposure_us, x[1].gain_db, x[1].exposure_us, x[2].gain_db, x[2].exposure_us,
              x[3].gain_db, x[3].exposure_us, x[4].gain_db, x[4].exposure_us, x[5].gain_db, x[5].exposure_us,
              x[6].gain_db, x[6].exposure_us, x[7].gain_db, x[7].exposure_us, x[8].gain_db, x[8].exposure_us,
              x[9].gain_db, x[9].exposure_us);
}

}  // namespace optad
