// How the parameter service refuses a property read, a property write or a
// method call: a GIO error (G_IO_ERROR, G_IO_ERROR_FAILED) that the caller
// receives as the D-Bus error reply, and the same text logged as a WARNING
// line naming the function that refused.
#pragma once

#include <glib.h>

namespace optad {

// Sets *error (when error is not null and not yet set) to the formatted
// text and logs "WARNING:optad:imc_control_dbus:<function> - <text>".
void property_error(GError **error, const char *function, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace optad
