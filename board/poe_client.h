// The PoE power budget client.
//
// On Power over Ethernet the image module may only be powered once the
// camera's power budget service has granted enough power. The daemon
// registers as a power consumer, requests 16 W, and is told the grant
// through a SetPower call into its own parameter service; every grant queues
// a new power check for the main loop. A restarted service is told again. On a DC supply (line dc_off at 0)
// the budget is not consulted.
#pragma once

#include <glib.h>

namespace optad {

inline constexpr const char WATTD_BUS_NAME[] = "com.tavik.PowerControl.Consumer";
inline constexpr const char WATTD_OBJECT_PATH[] = "/com/tavik/PowerControl/Consumer";
inline constexpr const char WATTD_INTERFACE[] = "com.tavik.PowerControl.Consumer";

// What the module needs, in watts, and how long the service may take to
// answer before the daemon complains (it keeps complaining every period).
inline constexpr double POE_REQUIRED_POWER_W = 16.0;
inline constexpr unsigned POE_TIMEOUT_S = 90;

// Start-up (main thread, before the main loop): waits for the parameter
// service's bus name, registers, requests power and starts the time-out
// check. 1 when registered and requested, 0 on failure (logged). From then
// on it watches the service: one that restarts has forgotten the daemon, so
// when it comes back the daemon registers and requests its power again, as
// at start, without waiting for the answers on the D-Bus thread.
int poe_client_start();

// The SetPower receiver (D-Bus thread).
void set_power_handler(double power);

// The time-out check, a GLib timer callback every POE_TIMEOUT_S on the
// D-Bus thread: while the service has not answered it logs and keeps its
// timer (G_SOURCE_CONTINUE), so the error repeats; once an answer came it
// removes the timer (G_SOURCE_REMOVE) without a word.
gboolean poe_timeout(gpointer);

// Whether the module may be powered now (main loop).
int has_enough_power();

// For tests: forget the grant and both flags (the proxy stays).
void poe_client_reset_for_tests();

}  // namespace optad
