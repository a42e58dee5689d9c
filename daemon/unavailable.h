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
void events_init();
void events_free();
int image_control_wait_start();
void capture_mode_init();
gpointer gpio_power_good(gpointer);
gpointer gpio_init_done(gpointer);
gpointer gpio_i2n_int(gpointer);
int update_lens_cache(const char *lens_name);
int poe_client_start();

// D-Bus listener thread.
void imc_control_start();
void imc_control_stop();
void image_control_dbus_watch();
void image_control_dbus_unwatch();
void rotation_service_dbus_watch();
void rotation_service_dbus_unwatch();
void event_handler_dbus_watch_captiond();
void event_handler_dbus_unwatch_captiond();

// Main loop jobs.
int has_enough_power();
int power_up(int safe_boot, int skip_checks);
int shutdown(int skip_checks, int skip_reset);
int check_firmware_version();
int firmware_upgrade();
int wait_for_dtct_strm();
int request_camera_status();
int check_camera_status();
void overlay_set_condition(int kind, int value);
int send_param(int job);
void reset_heart_beat_watch();

}  // namespace optad::unavailable
