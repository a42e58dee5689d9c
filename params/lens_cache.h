// The lens name in the status cache, where other processes of the camera
// read it (group "LENS", parameter "INFO").
#pragma once

namespace optad {

// Publishes the name (cut to 63 characters), or "Unknown" for nullptr.
// Returns the number of parameters set (1), or 0 after a failure (logged).
int update_lens_cache(const char *lens_name);

}  // namespace optad
