// What the daemon tells the rest of the camera besides its parameters.
//
// - The image module's day/night state, published as the stateful event
//   DayNightVision (topic VideoSource) through the camera's event library.
//   The first report declares the event carrying the state; later reports
//   send an event only when the state changes.
// - Three operational conditions shown to the user as prioritized text
//   overlays by the overlay service on the system bus: a firmware upgrade
//   in progress, the module warming up, not enough PoE power. The service
//   is told all three whenever one changes and whenever it appears, so an
//   overlay service that restarts is brought up to date at once.
//
// Threads: the overlay conditions are raised and cleared from the main loop
// and the power code, the overlay service is watched on the D-Bus thread; a
// private mutex serialises them, and the overlay calls are made under it,
// so they leave in the order the conditions changed. No call waits for the
// service: answers come back on the D-Bus thread, so a service that hangs
// holds up neither the main loop nor the parameter service.
// It may be taken with the parameter table's lock held, never the other way
// round; the job-list mutex is never held with it.
// The day/night report runs on the main loop only.
#pragma once

namespace optad {

// Overlay condition kinds.
enum overlay_kind : int {
    OVERLAY_NOT_ENOUGH_POWER = 0,     // "VIDEO_NOT_ENOUGH_POWER_CLASS4"
    OVERLAY_TEMPERATURE_WARMING = 1,  // "PTZ_TEMPERATURE_WARMING"
    OVERLAY_BLOCK_UPGRADE = 2,        // "PTZ_BLOCK_UPGRADE"
};

// The overlay service.
inline constexpr const char CAPTIOND_BUS_NAME[] = "com.tavik.PrioritizedTextOverlay";
inline constexpr const char CAPTIOND_OBJECT_PATH[] = "/com/tavik/PrioritizedTextOverlay/1";
inline constexpr const char CAPTIOND_INTERFACE[] = "com.tavik.PrioritizedTextOverlay";

// Clears the conditions and creates the event producer ("optad events");
// called before any other thread starts.
void events_init();
// Withdraws the declaration and frees the producer; called after every other
// thread has stopped using it.
void events_free();

// The module's day/night state (1 day, 0 night) as found at start-up or
// confirmed by the IMC.
void event_handler_ircut_property_changed(int day);

// Raises (value not 0) or clears (0) an overlay condition; any other kind
// is ignored.
void overlay_set_condition(int kind, int value);

// Watches the overlay service on the system bus (D-Bus thread).
void event_handler_dbus_watch_captiond();
void event_handler_dbus_unwatch_captiond();

// For tests: the current flag of a condition kind (-1 for an unknown kind).
int overlay_condition(int kind);

}  // namespace optad
