// The D-Bus listener thread ("D-Bus Listener Thread").
//
// Its GLib main loop, on the global default context, carries every D-Bus
// service and client of the daemon: the parameter service, the image
// pipeline and rotation clients, the overlay watch and the power budget
// callbacks. Every GLib timeout that any thread adds to the default context
// is dispatched here too.
#pragma once

#include <glib.h>

namespace optad {

// Thread body (null argument). Starts the parameter service and the three
// watches, then runs the main loop. The loop's handle is kept nowhere, so
// nothing quits it and the thread runs for the life of the process; should
// it ever return, the clients and the service are stopped and the result is
// null (0).
gpointer dbus_listener_run(gpointer data);

}  // namespace optad
