#include "dbus/followed_peer.h"

namespace optad {

void followed_peer_vanished(GDBusConnection *, const gchar *, gpointer peer)
{
    FollowedPeer &p = *static_cast<FollowedPeer *>(peer);
    if (p.connection != nullptr && p.subscription_id >= 0) {
        g_dbus_connection_signal_unsubscribe(p.connection, static_cast<guint>(p.subscription_id));
        p.subscription_id = -1;
        p.connection = nullptr;
    }
}

void followed_peer_unwatch(FollowedPeer &peer)
{
    if (peer.watch_id == 0)
        return;
    g_bus_unwatch_name(peer.watch_id);
    peer.watch_id = 0;
}

}  // namespace optad
