// Client of the image pipeline service ("com.tavik.ImageControl").
//
// The capture mode and the mains frequency belong to the image pipeline
// service; the daemon follows them. When the service appears both values
// are read, later changes arrive as PropertiesChanged; each is stored in the
// parameter table and, while the IMC runs, queued for it. The first
// CaptureMode value also tells start-up that the image pipeline runs.
//
// Runs on the D-Bus listener thread, except image_control_wait_start()
// (main thread). Lock order: the parameter table's lock, then the start mutex.
#pragma once

#include <glib.h>

namespace optad {

inline constexpr const char IMAGE_CONTROL_BUS_NAME[] = "com.tavik.ImageControl";
inline constexpr const char IMAGE_CONTROL_OBJECT_PATH[] = "/com/tavik/ImageControl/0/0";
inline constexpr const char IMAGE_CONTROL_INTERFACE[] = "com.tavik.Configuration.Legacy";

// The time start-up waits for the first CaptureMode value.
inline constexpr gint64 IMAGE_CONTROL_START_TIMEOUT_US = 30'000'000;

void image_control_dbus_watch();
void image_control_dbus_unwatch();

// Waits until the first CaptureMode value was handled: 1, or 0 after 30 s.
// The first time-out is logged; start-up then calls it again, for as long
// as the service keeps it waiting.
int image_control_wait_start();

// One value from the service (name, value of type "s", "ay" or "i"), ready
// 1 when the IMC was started. Takes the parameter table's lock itself.
void handle_image_control_value(const char *name, GVariant *value, int ready);

// For tests: the started flag back to 0, the client state forgotten.
void image_control_reset_for_tests();

}  // namespace optad
