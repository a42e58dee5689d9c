// The image stabilizer's accumulated running time, kept in a persistent
// file that survives the daemon and the camera's restarts.
#pragma once

namespace optad {

// The total-time file and its directory (before the sandbox mapping).
inline constexpr const char *STABILIZER_TIME_DIR = "/lib/persistent/var/lib/optics";
inline constexpr const char *STABILIZER_TIME_FILE =
    "/lib/persistent/var/lib/optics/image_stabilization_total_time";

// Adds seconds (more than 0) to the stored total and writes it back
// durably. 0 on success, -1 on failure (logged) or for seconds <= 0.
int save_is_time(int seconds);

}  // namespace optad
