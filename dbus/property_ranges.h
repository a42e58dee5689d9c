// The advisory ranges of the parameters, as the service's GetRanges method
// reports them: min and max for int parameters (-1: no bound) and, where
// there is one, the list of valid values. The set handlers do not enforce
// them.
#pragma once

#include <glib.h>

namespace optad {

// The a{sv} range of one parameter by name: {"min": i, "max": i[,
// "valid_values": ai]} for an int parameter, {"valid_values": as} for a
// string parameter. Every parameter of the table has one, also those that
// are not properties of the interface. An unknown name, or one whose type
// cannot be told, records the first error in *error, logs a WARNING and
// yields an empty dictionary. Returns a floating reference.
GVariant *get_property_range(const char *name, GError **error);

}  // namespace optad
