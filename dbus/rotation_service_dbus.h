// Client of the rotation service ("com.tavik.Rotation1").
//
// When the image is turned upside down the IMC must be told. The rotation
// of channel 1 is read when the service appears and followed through its
// RotationChanged signal; 0 and 180 degrees are stored as ImageRotation (0
// or 1) and, while the IMC runs, queued for it. Any other rotation is
// refused. Runs on the D-Bus listener thread.
#pragma once

namespace optad {

inline constexpr const char ROTATION_BUS_NAME[] = "com.tavik.Rotation1";
inline constexpr const char ROTATION_OBJECT_PATH[] = "/com/tavik/Rotation1/Channel/1";
inline constexpr const char ROTATION_INTERFACE[] = "com.tavik.Rotation1.Channel";

void rotation_service_dbus_watch();
void rotation_service_dbus_unwatch();

// A rotation in degrees (D-Bus thread).
void handle_rotation_changed(int rotation);

}  // namespace optad
