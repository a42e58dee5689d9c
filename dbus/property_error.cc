#include "dbus/property_error.h"

#include "platform/log.h"

#include <gio/gio.h>

#include <cstdarg>
#include <cstring>

namespace optad {

namespace {

constexpr int LOGGED_TEXT_MAX = 512;

}  // namespace

void property_error(GError **error, const char *function, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    g_autofree char *text = g_strdup_vprintf(fmt, args);
    va_end(args);
    // The text carries what the caller sent: control characters are escaped
    // so that one refusal stays one log line, and a huge value is cut.
    g_autofree char *shown = g_strescape(text, nullptr);
    OPTAD_LOG_WARNING("WARNING:optad:%s:%s - %.*s%s\n", "imc_control_dbus", function, LOGGED_TEXT_MAX,
                      shown, strlen(shown) > size_t{LOGGED_TEXT_MAX} ? "..." : "");
    if (error != nullptr && *error == nullptr)
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, text);
}

}  // namespace optad
