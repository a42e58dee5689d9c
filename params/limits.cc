#include "params/limits.h"

#include "config/param_settings.h"
#include "dbus/legacy_generator.h"
#include "platform/log.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace optad {

const window_limits exposure_window_limits = {11, 218, 26, 230};
const window_limits focus_window_limits = {11, 218, 26, 179};

namespace {

// Window edges are fractions of the image on the IMC's 1/256 grid.
constexpr float WINDOW_GRID = 256.0f;
// The exposure window parameters run from 0 to 9999.
constexpr float EXPOSURE_WINDOW_SCALE = 9999.0f;
// Exposure time used when the IMC reports no valid longest exposure: 1 s.
constexpr int FALLBACK_LONGEST_SHUTTER_US = 1000000;

// Grid values beyond this are far outside any window; clamping them first
// keeps the conversion to int defined for any number a caller sends.
constexpr float GRID_VALUE_BOUND = 1048576.0f;

// Single precision, half away from zero, as the IMC's own tools round.
int round_to_int(float v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::roundf(std::clamp(v, -GRID_VALUE_BOUND, GRID_VALUE_BOUND)));
}

// Sets an int parameter to its lower limit when it lies outside [min, max].
void clamp_to_lower_limit(int id, int min, int max)
{
    int value = param_get_int_value(id);
    if (value < min || value > max)
        param_set_int_value(id, min);
}

}  // namespace

void update_shutter_gain_iris_config()
{
    clamp_to_lower_limit(PARAM_IRIS, s_sdl.diaphragm_min, s_sdl.diaphragm_max);

    // The lowest shutter index is the longest exposure.
    int longest = shutter_index_to_time(s_sdl.shutter_speed_min);
    int shortest = shutter_index_to_time(s_sdl.shutter_speed_max);
    int shutter = param_get_int_value(PARAM_SHUTTER);
    if (shutter < shortest || shutter > longest) {
        if (longest == -1) {
            OPTAD_LOG_WARNING("WARNING:optad:%s:%s - s_sdl.shutter_speed_min invalid value: %d\n",
                              "optad", "update_shutter_gain_iris_config",
                              s_sdl.shutter_speed_min);
            longest = FALLBACK_LONGEST_SHUTTER_US;
        }
        param_set_int_value(PARAM_SHUTTER, longest);
    }

    clamp_to_lower_limit(PARAM_GAIN, s_sdl.gain_min, s_sdl.gain_max);

    legacy_generate_shutter_gain_iris_config(s_sdl.diaphragm_min, s_sdl.diaphragm_max, shortest,
                                             longest, s_sdl.gain_min, s_sdl.gain_max);
}

void clamp_window_edges(float *p, float *q, const window_limits &limits)
{
    const int a = round_to_int(*p * WINDOW_GRID);
    const int b = round_to_int(*q * WINDOW_GRID);
    int lo = std::min(a, b);
    int hi = std::max(a, b);
    const int size = std::clamp(hi - lo, limits.min_size, limits.max_size);

    if (size != hi - lo) {
        // With the image turned by 180 degrees the far edge on the sensor is
        // the near edge of the picture the user sees: that one stays put.
        if (param_get_int_value(PARAM_IMAGE_ROTATION) != 0)
            lo = hi - size;
        else
            hi = lo + size;
    }

    if (lo < limits.lower_edge) {
        lo = limits.lower_edge;
        hi = limits.lower_edge + size;
    } else if (hi > limits.upper_edge_limit()) {
        lo = limits.upper_edge_limit() - size;
        hi = limits.upper_edge_limit();
    }

    *p = static_cast<float>(lo) / WINDOW_GRID;
    *q = static_cast<float>(hi) / WINDOW_GRID;
}

void adjust_exposure_window()
{
    // Order of the edges as they are stored back.
    constexpr int edge_ids[] = {
        PARAM_CUSTOM_EXPOSURE_WINDOW_TOP,
        PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM,
        PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT,
        PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT,
    };
    float edge[4];
    for (int i = 0; i < 4; ++i)
        edge[i] = static_cast<float>(param_get_int_value(edge_ids[i])) / EXPOSURE_WINDOW_SCALE;

    clamp_window_edges(&edge[2], &edge[3], exposure_window_limits);  // left, right
    clamp_window_edges(&edge[0], &edge[1], exposure_window_limits);  // top, bottom

    // Each edge is stored (and so persisted and announced) on its own; the
    // table skips the ones that did not move.
    for (int i = 0; i < 4; ++i)
        param_set_int_value(edge_ids[i], round_to_int(edge[i] * EXPOSURE_WINDOW_SCALE));
}

char *adjust_focus_window_coordinates(const char *focus_w0)
{
    float x[4];
    float y[4];
    // "nan" and "inf" scan as numbers but are no coordinates: refused like
    // any other malformed window.
    if (focus_w0 == nullptr ||
        std::sscanf(focus_w0, "%f,%f:%f,%f:%f,%f:%f,%f", &x[0], &y[0], &x[1], &y[1], &x[2], &y[2],
                    &x[3], &y[3]) != 8 ||
        !std::isfinite(x[0]) || !std::isfinite(y[0]) || !std::isfinite(x[2]) ||
        !std::isfinite(y[2])) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - invalid window co-ords format!\n", "optad",
                        "adjust_focus_window_coordinates");
        return nullptr;
    }

    // Corners 0 and 2 span the rectangle; 1 and 3 follow from them.
    clamp_window_edges(&x[0], &x[2], focus_window_limits);
    clamp_window_edges(&y[0], &y[2], focus_window_limits);

    return g_strdup_printf("%f,%f:%f,%f:%f,%f:%f,%f", x[0], y[0], x[2], y[0], x[2], y[2], x[0],
                           y[2]);
}

}  // namespace optad
