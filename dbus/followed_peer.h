// A service of the camera that a client follows on the system bus.
//
// The image pipeline and rotation clients watch their service by its bus
// name. When it appears they read what they need from it and subscribe to
// its signals from its unique name; when it vanishes the subscription ends
// and the connection is forgotten, so that the next appearance reads and
// subscribes anew. All of it on the D-Bus listener thread.
#pragma once

#include <gio/gio.h>

namespace optad {

struct FollowedPeer {
    GDBusConnection *connection = nullptr;  // while the service is present
    gint64 subscription_id = -1;            // -1 while not subscribed
    guint watch_id = 0;                     // 0 while not watched
};

// The vanished handler of a name watch whose user data is the FollowedPeer.
void followed_peer_vanished(GDBusConnection *connection, const gchar *name, gpointer peer);

// Stops the name watch, if there is one.
void followed_peer_unwatch(FollowedPeer &peer);

}  // namespace optad
