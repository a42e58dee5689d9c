// The parameter service on the system bus: "com.tavik.ImcControl", object
// "/com/tavik/ImcControl", interface "com.tavik.Configuration.Legacy".
//
// The camera's configuration system reads and writes the image parameters
// here. One D-Bus property per exposed parameter plus four constants; a
// write goes through the parameter's set handler (property_handlers.h),
// which stores, persists and queues the job for the main loop. Every change
// of an exposed parameter, from whatever thread, is announced with
// PropertiesChanged. Methods: SetPower (the power budget service grants
// power), GetRanges (advisory ranges) and SetProperties (several writes in
// one call, made as one change: the configuration file is written once and
// the changes are announced after it, in the entries' order).
//
// Runs on the D-Bus listener thread's main loop, except the change listener
// and emit_properties_changed(), which run in the thread that changed a
// parameter. Losing the bus name, or failing to export the object, ends the
// process with status 1: the camera's service manager restarts it.
#pragma once

#include "dbus/imc_control_interface.h"

#include <glib.h>

namespace optad {

// Checks Exposure and MaxExposureTime, writes the max-shutter mapping file,
// requests the bus name and registers the change listener.
void imc_control_start();
// Unregisters the object, releases the name, frees the introspection data;
// each only if present. Safe to call twice.
void imc_control_stop();

// The receiver of SetPower (the power budget client installs its own).
using power_handler_cb = void (*)(double watts);
void imc_control_set_power_handler(power_handler_cb handler);

// 1 while the service owns its bus name.
int imc_control_name_owned();

// Emits PropertiesChanged for one property. Takes ownership of a floating
// value. Nothing is sent before the service has its connection.
void emit_properties_changed(const char *name, GVariant *value);

// The entry points behind the bus, for tests that drive the service in
// process. handle_get_property returns a new value or null with *error set;
// handle_set_property returns true, or false with *error set (the first
// error of a call is kept). get_ranges and dbus_set_properties return the
// reply body, or null for an unknown interface (logged, no error set) or
// with *error set.
GVariant *handle_get_property(const char *property_name, GError **error);
bool handle_set_property(const char *property_name, GVariant *value, GError **error);
GVariant *get_ranges(const char *interface_name, GVariant *names, GError **error);
GVariant *dbus_set_properties(const char *interface_name, GVariant *properties, GError **error);

// The validation of the stored exposure settings made at start.
void validate_exposure_config();

// For tests: forget the connection, the flags and the handler.
void imc_control_reset_for_tests();

}  // namespace optad
