#include "params/sdl.h"

namespace optad {

sdl_limits s_sdl = {};

}  // namespace optad
