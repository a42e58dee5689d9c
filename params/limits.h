// Keeping the camera's configuration inside what the IMC allows.
//
// The IMC reports in its status block the iris, shutter and gain ranges that
// the mounted lens and the current mode allow (the limits record s_sdl), and
// it accepts measurement windows only within fixed bounds. The operations
// here pull Iris, Shutter and Gain back into range when the limits change,
// and fit the exposure and focus windows into their bounds.
#pragma once

#include "params/sdl.h"

namespace optad {

// Bounds of a measurement window in one direction, in units of 1/256 of the
// image width or height.
struct window_limits {
    int lower_edge;  // lowest allowed near edge
    int upper_base;  // upper_base + min_size is the highest allowed far edge
    int min_size;
    int max_size;

    constexpr int upper_edge_limit() const { return upper_base + min_size; }
};

extern const window_limits exposure_window_limits;  // 11, 218, 26, 230 (far edge 244)
extern const window_limits focus_window_limits;     // 11, 218, 26, 179 (far edge 244)

// Pulls Iris, Shutter and Gain into the ranges of s_sdl (a value outside
// falls to the lower limit; for the shutter that is the longest exposure)
// and rewrites the Iris/Shutter/Gain mapping file with the allowed choices.
// Main-loop thread.
void update_shutter_gain_iris_config();

// Fits one direction of a rectangle into a limit set. p and q are edges as
// fractions of the image (0..1), in either order; on return p holds the
// smaller edge and q the larger, on the 1/256 grid. A window that is too
// small or too large keeps its near edge, or its far edge while the image is
// rotated (the IMC measures in sensor coordinates).
void clamp_window_edges(float *p, float *q, const window_limits &limits);

// Fits the CustomExposureWindow.C0 edges (0..9999 scale) into the
// exposure-window limits and stores the result back. Main-loop thread.
void adjust_exposure_window();

// Normalises a FocusW0 string "x0,y0:x1,y1:x2,y2:x3,y3": the rectangle from
// corner 0 to corner 2, fitted into the focus-window limits, written corner
// by corner from top-left clockwise. A new string for g_free(), or nullptr
// (logged) when the input is not eight numbers in that format.
char *adjust_focus_window_coordinates(const char *focus_w0);

}  // namespace optad
