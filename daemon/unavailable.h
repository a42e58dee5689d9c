// "Not available" versions of the operations whose modules are not part of
// the daemon yet. Each logs one ERROR line naming the operation and reports
// failure in the operation's own terms: a negative result, or 0 where
// success is nonzero. None pretends to succeed, so the daemon takes its
// failure path (for instance, without the image pipeline client start-up
// stops waiting at once instead of controlling an IMC it cannot configure).
#pragma once

#include <glib.h>

namespace optad::unavailable {

// Start-up and teardown.
void capture_mode_init();
int update_lens_cache(const char *lens_name);

// Main loop jobs.
int wait_for_dtct_strm();
int check_camera_status();
int send_param(int job);
void reset_heart_beat_watch();

}  // namespace optad::unavailable
