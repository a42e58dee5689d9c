#include "dbus/image_control_dbus.h"

#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "dbus/followed_peer.h"
#include "dbus/legacy_generator.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <gio/gio.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

namespace optad {

namespace {

struct image_control_row;
using image_control_handler = void (*)(const image_control_row &row, const int *ival, const char *sval,
                                       int ready);
struct image_control_row {
    const char *property;
    int param_id;
    image_control_handler handle;
};

void handle_capture_frequency(const image_control_row &row, const int *ival, const char *sval, int ready);
void handle_capture_mode(const image_control_row &row, const int *ival, const char *sval, int ready);

// Read in this order when the service appears.
constexpr image_control_row image_control_properties[] = {
    {"CaptureFrequency", PARAM_CAPTURE_FREQUENCY, handle_capture_frequency},
    {"CaptureMode", PARAM_CAPTURE_MODE, handle_capture_mode},
};

struct ClientState {
    FollowedPeer service;  // D-Bus thread only
    // Start-up waits for the first CaptureMode value.
    std::mutex start_lock;
    std::condition_variable start_cond;
    int started = 0;
    // A late service is reported once, however long start-up waits for it.
    bool timeout_logged = false;
};
ClientState client;

void handle_capture_mode(const image_control_row &row, const int *ival, const char *sval, int ready)
{
    std::lock_guard<std::mutex> guard(client.start_lock);
    if (client.started == 0) {
        // The first value only says that the pipeline runs; the start-up
        // sync sends the capture mode anyway.
        client.started = 1;
        param_set_value(row.param_id, ival, sval);
        client.start_cond.notify_all();
        return;
    }
    if (param_set_value(row.param_id, ival, sval) == PARAM_SET_CHANGED && ready == 1)
        queue_param_job(JOB_RESOLUTION);
}

void handle_capture_frequency(const image_control_row &row, const int *, const char *sval, int ready)
{
    if (sval == nullptr) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Capture Frequency is NULL!\n", "image_control_dbus",
                        "handle_capture_frequency");
        return;
    }
    if (param_set_value(row.param_id, nullptr, sval) != PARAM_SET_CHANGED)
        return;
    // The flicker modes' exposure code depends on the mains frequency.
    const int mode = exposure_mode_from_string(param_get_string_value(PARAM_EXPOSURE));
    if ((mode == EXPOSURE_MODE_FLICKERFREE || mode == EXPOSURE_MODE_FLICKERREDUCED) && ready == 1)
        queue_param_job(JOB_EXP_MODE);
    legacy_generate_maxshutter_xml(get_maxshutter_map_id());
    param_update_max_exposure_time();
}

const image_control_row *find_row(const char *name)
{
    for (const image_control_row &row : image_control_properties) {
        if (std::strcmp(row.property, name) == 0)
            return &row;
    }
    return nullptr;
}

// The answer to Properties.Get of one followed property (the row). The
// reads never wait on the D-Bus thread: an image pipeline service that
// takes a call and never answers must not stop the daemon's own service.
void property_read_done(GObject *source, GAsyncResult *result, gpointer user_data)
{
    const image_control_row &row = *static_cast<const image_control_row *>(user_data);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply == nullptr) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Did not receive a D-Bus reply for param %s\n", "image_control_dbus",
                        "get_all_dbus_values", row.property);
        return;
    }
    if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)"))) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Unexpected type: %s\n", "image_control_dbus", "get_all_dbus_values",
                        g_variant_get_type_string(reply));
        return;
    }
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(reply, "(v)", &value);
    handle_image_control_value(row.property, value, 0);
}

// Asks for every followed property; the answers come in this order.
void get_all_dbus_values(GDBusConnection *connection)
{
    for (const image_control_row &row : image_control_properties)
        g_dbus_connection_call(connection, IMAGE_CONTROL_BUS_NAME, IMAGE_CONTROL_OBJECT_PATH,
                               "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", IMAGE_CONTROL_INTERFACE, row.property), nullptr,
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, property_read_done,
                               const_cast<image_control_row *>(&row));
}

void properties_changed_cb(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                           GVariant *parameters, gpointer)
{
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)")))
        return;
    g_autoptr(GVariant) changed = g_variant_get_child_value(parameters, 1);
    GVariantIter iter;
    g_variant_iter_init(&iter, changed);
    const char *key = nullptr;
    GVariant *value = nullptr;
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
        handle_image_control_value(key, value, imc_is_started() ? 1 : 0);
        g_variant_unref(value);
    }
}

void bus_name_appeared_cb(GDBusConnection *connection, const gchar *, const gchar *owner, gpointer)
{
    if (connection == nullptr) {
        g_critical("bus_name_appeared_cb: assertion '%s' failed", "connection != NULL");
        return;
    }
    client.service.connection = connection;
    // Subscribed before the values are read, so that a change in between is
    // not lost: its signal comes after the reads' answers.
    client.service.subscription_id = g_dbus_connection_signal_subscribe(
        connection, owner, "org.freedesktop.DBus.Properties", nullptr, nullptr, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, properties_changed_cb, nullptr, nullptr);
    get_all_dbus_values(connection);
}

}  // namespace

void handle_image_control_value(const char *name, GVariant *value, int ready)
{
    const char *type = g_variant_get_type_string(value);
    int number = 0;
    const int *ival = nullptr;
    const char *sval = nullptr;
    if (std::strcmp(type, "i") == 0) {
        number = g_variant_get_int32(value);
        ival = &number;
    } else if (std::strcmp(type, "s") == 0) {
        sval = g_variant_get_string(value, nullptr);
    } else if (std::strcmp(type, "ay") == 0) {
        sval = g_variant_get_bytestring(value);
    } else {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Received unknown type_string=%s\n", "image_control_dbus",
                        "handle_image_control_value", type);
        return;
    }
    const image_control_row *row = find_row(name);
    if (row == nullptr)
        return;
    // The table's lock first, then the client's start-up lock inside the
    // capture-mode handler.
    ParamLock lock;
    row->handle(*row, ival, sval, ready);
}

void image_control_dbus_watch()
{
    client.service.watch_id =
        g_bus_watch_name(G_BUS_TYPE_SYSTEM, IMAGE_CONTROL_BUS_NAME, G_BUS_NAME_WATCHER_FLAGS_NONE,
                         bus_name_appeared_cb, followed_peer_vanished, &client.service, nullptr);
    if (client.service.watch_id == 0)
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Failed to watch name on local system bus\n", "image_control_dbus",
                        "image_control_dbus_watch");
}

void image_control_dbus_unwatch()
{
    followed_peer_unwatch(client.service);
}

int image_control_wait_start()
{
    std::unique_lock<std::mutex> lock(client.start_lock);
    const int64_t deadline = clock_now_us() + IMAGE_CONTROL_START_TIMEOUT_US;
    while (client.started == 0) {
        if (!clock_cond_wait_until(client.start_cond, lock, deadline) && client.started == 0) {
            const bool first_timeout = !client.timeout_logged;
            client.timeout_logged = true;
            lock.unlock();
            if (first_timeout)
                OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Timeout while waiting for framerd to start\n",
                                "image_control_dbus", "image_control_wait_start");
            return 0;
        }
    }
    return 1;
}

void image_control_reset_for_tests()
{
    std::lock_guard<std::mutex> guard(client.start_lock);
    client.started = 0;
    client.timeout_logged = false;
    client.service = FollowedPeer{};
}

}  // namespace optad
