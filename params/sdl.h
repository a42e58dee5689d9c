// The limits record: the iris, shutter-index and gain ranges that the IMC
// reports for the mounted lens and the current mode (status bytes 0x46 to
// 0x4B). One record per daemon, all zero at start, written and read on the
// main-loop thread only.
#pragma once

#include <cstdint>

namespace optad {

struct sdl_limits {
    int32_t diaphragm_min;      // status 0x46
    int32_t diaphragm_max;      // status 0x47
    int32_t shutter_speed_min;  // status 0x48: lowest shutter index, longest exposure
    int32_t shutter_speed_max;  // status 0x49: highest shutter index, shortest exposure
    int32_t gain_min;           // status 0x4A
    int32_t gain_max;           // status 0x4B
};

extern sdl_limits s_sdl;

}  // namespace optad
