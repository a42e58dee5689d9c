#include "dbus/rotation_service_dbus.h"

#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "dbus/followed_peer.h"
#include "platform/log.h"

#include <gio/gio.h>

#include <cstring>

namespace optad {

namespace {

FollowedPeer rotation_service;

// The answer to Properties.Get of the rotation. The read never waits on
// the D-Bus thread: a rotation service that takes the call and never
// answers must not stop the daemon's own service.
void rotation_read_done(GObject *source, GAsyncResult *result, gpointer)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply == nullptr) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Did not receive a D-Bus reply for param %s\n",
                        "rotation_service_dbus", "read_dbus_property", "Rotation");
        return;
    }
    if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)"))) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Unexpected type: %s\n", "rotation_service_dbus",
                        "read_dbus_property", g_variant_get_type_string(reply));
        return;
    }
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
        handle_rotation_changed(g_variant_get_int32(value));
    } else {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Unexpected type: %s\n", "rotation_service_dbus",
                        "bus_name_appeared_cb", g_variant_get_type_string(value));
    }
}

void rotation_signal_cb(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *signal_name,
                        GVariant *parameters, gpointer)
{
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(i)")) ||
        std::strcmp(signal_name, "RotationChanged") != 0)
        return;
    int rotation = 0;
    g_variant_get(parameters, "(i)", &rotation);
    handle_rotation_changed(rotation);
}

void bus_name_appeared_cb(GDBusConnection *connection, const gchar *, const gchar *owner, gpointer)
{
    if (connection == nullptr) {
        g_critical("bus_name_appeared_cb: assertion '%s' failed", "connection != NULL");
        return;
    }
    rotation_service.connection = connection;
    // Subscribed before the value is read, so that a rotation that changes
    // in between is not lost: its signal comes after the read's answer.
    rotation_service.subscription_id = g_dbus_connection_signal_subscribe(
        connection, owner, ROTATION_INTERFACE, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        rotation_signal_cb, nullptr, nullptr);
    g_dbus_connection_call(connection, ROTATION_BUS_NAME, ROTATION_OBJECT_PATH, "org.freedesktop.DBus.Properties",
                           "Get", g_variant_new("(ss)", ROTATION_INTERFACE, "Rotation"), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, rotation_read_done, nullptr);
}

}  // namespace

void handle_rotation_changed(int rotation)
{
    int stored;
    if (rotation == 0) {
        stored = 0;
    } else if (rotation == 180) {
        stored = 1;
    } else {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Invalid rotation value: %d\n", "rotation_service_dbus",
                        "handle_rotation_changed", rotation);
        return;
    }
    param_set_int_value(PARAM_IMAGE_ROTATION, stored);
    // Queued also when the value is the same: the service announced a
    // rotation, and telling the IMC again does no harm. Only a started IMC
    // gets it; the start-up sync sends the rotation anyway.
    queue_param_job(JOB_NOTIFY_ROTATE_IMAGE);
}

void rotation_service_dbus_watch()
{
    rotation_service.watch_id =
        g_bus_watch_name(G_BUS_TYPE_SYSTEM, ROTATION_BUS_NAME, G_BUS_NAME_WATCHER_FLAGS_NONE, bus_name_appeared_cb,
                         followed_peer_vanished, &rotation_service, nullptr);
    if (rotation_service.watch_id == 0)
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Failed to watch name on local system bus\n",
                        "rotation_service_dbus", "rotation_service_dbus_watch");
}

void rotation_service_dbus_unwatch()
{
    followed_peer_unwatch(rotation_service);
}

}  // namespace optad
