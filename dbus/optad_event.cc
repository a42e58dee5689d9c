#include "dbus/optad_event.h"

#include "platform/herald.h"
#include "platform/log.h"

#include <gio/gio.h>

#include <iterator>
#include <mutex>

namespace optad {

namespace {

// The event library's type codes of the DayNightVision keys.
constexpr int TYPE_TOPIC = EVENT_VALUE_STRING;
constexpr int TYPE_TOKEN = EVENT_VALUE_INT;
constexpr int TYPE_DAY = EVENT_VALUE_BOOL;

struct Condition {
    int kind;
    const char *text_id;
    int flag;
};

constexpr size_t OVERLAY_CONDITIONS = 3;

// Overlay calls never wait for the service. A service that takes calls and
// never answers holds each one until its time-out; at most this many wait
// at a time (eight updates of every condition), beyond that updates are
// held back and the whole state is sent once the service has answered or
// the calls have timed out.
constexpr unsigned MAX_OVERLAY_CALLS_WAITING = 8 * OVERLAY_CONDITIONS;

struct OverlayState {
    std::mutex lock;
    GDBusConnection *connection = nullptr;  // a reference of our own while the service is present
    // In the order the overlay service is told about them.
    Condition conditions[OVERLAY_CONDITIONS] = {
        {OVERLAY_BLOCK_UPGRADE, "PTZ_BLOCK_UPGRADE", 0},
        {OVERLAY_TEMPERATURE_WARMING, "PTZ_TEMPERATURE_WARMING", 0},
        {OVERLAY_NOT_ENOUGH_POWER, "VIDEO_NOT_ENOUGH_POWER_CLASS4", 0},
    };
    guint watch_id = 0;
    // Calls sent and not yet answered, and whether an update was held back
    // meanwhile.
    unsigned calls_waiting = 0;
    bool update_held_back = false;
};
OverlayState overlay;

struct EventState {
    event_producer *producer = nullptr;
    int declaration_id = -1;
    int day = 0;           // the last state published
    int source_token = 1;  // "VideoSourceConfigurationToken"
};
EventState events;

Condition *find_condition(int kind)
{
    for (Condition &c : overlay.conditions) {
        if (c.kind == kind)
            return &c;
    }
    return nullptr;
}

// The library asks for the current state of the stateful "day" key.
void day_property_cb(event *ev, void *user_data)
{
    if (user_data != nullptr)
        event_set_value(ev, "day", user_data);
}

void declare_day_night_vision()
{
    event_declaration *d = event_declaration_new(0);
    event_declaration_add_key_value(d, "topic0", "VideoSource", TYPE_TOPIC);
    event_declaration_add_key_value(d, "topic1", "DayNightVision", TYPE_TOPIC);
    event_declaration_set_nice_names(d, "topic0", nullptr, "Video source");
    event_declaration_set_nice_names(d, "topic1", nullptr, "Day night vision");
    event_declaration_add_key_value(d, "VideoSourceConfigurationToken", &events.source_token, TYPE_TOKEN);
    event_declaration_set_nice_names(d, "VideoSourceConfigurationToken",
                                     "Video source configuration token", nullptr);
    event_declaration_add_key(d, "day", TYPE_DAY);
    event_declaration_set_nice_names(d, "day", "day", nullptr);
    event_declaration_add_key_tag(d, "VideoSourceConfigurationToken", "onvif-source");
    event_declaration_add_key_tag(d, "day", "onvif-data");
    event_declaration_set_property(d, "day", day_property_cb, &events.day);
    event_declaration_set_name_space(d, "topic0", "tns1");
    event_declaration_set_name_space(d, "topic1", "tnstavik");
    events.declaration_id = event_producer_declare(events.producer, d);
    event_declaration_free(d);
}

void update_captiond(GDBusConnection *connection);

// The answer to one overlay call. GDBus delivers it on the thread-default
// context of the thread that made the call; neither the main loop's thread
// nor the D-Bus thread pushes one of its own, so every answer arrives on the
// global default context, which the D-Bus listener thread runs. It needs
// nothing but the module's own state, and the call keeps its connection
// alive until it has ended.
void overlay_call_done(GObject *source, GAsyncResult *result, gpointer)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply == nullptr)
        OPTAD_LOG_ERROR("Could not call captiond: %s, %d\n", error->message, error->code);
    std::lock_guard<std::mutex> guard(overlay.lock);
    overlay.calls_waiting--;
    if (overlay.calls_waiting == 0 && overlay.update_held_back && overlay.connection != nullptr)
        update_captiond(overlay.connection);
}

// One overlay: raised conditions are set, cleared ones unset. The call
// leaves at once (a connection sends its messages in the order they are
// made) and is not waited for; its reply carries nothing of interest, a
// failure is logged and otherwise ignored. With the overlay mutex held.
void set_overlay(GDBusConnection *connection, const char *text_id, int flag)
{
    if (connection == nullptr) {
        g_critical("set_overlay: assertion '%s' failed", "connection != NULL");
        return;
    }
    GVariant *args = flag != 0 ? g_variant_new("(su)", text_id, 0u) : g_variant_new("(s)", text_id);
    overlay.calls_waiting++;
    g_dbus_connection_call(connection, CAPTIOND_BUS_NAME, CAPTIOND_OBJECT_PATH, CAPTIOND_INTERFACE,
                           flag != 0 ? "Set" : "Unset", args, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                           overlay_call_done, nullptr);
}

// Tells the service every condition. With the overlay mutex held.
void update_captiond(GDBusConnection *connection)
{
    if (overlay.calls_waiting + OVERLAY_CONDITIONS > MAX_OVERLAY_CALLS_WAITING) {
        overlay.update_held_back = true;
        return;
    }
    overlay.update_held_back = false;
    for (const Condition &c : overlay.conditions)
        set_overlay(connection, c.text_id, c.flag);
}

void forget_connection()
{
    g_clear_object(&overlay.connection);
}

void captiond_bus_name_appeared_cb(GDBusConnection *connection, const gchar *, const gchar *, gpointer)
{
    if (connection == nullptr) {
        g_critical("captiond_bus_name_appeared_cb: assertion '%s' failed", "connection != NULL");
        return;
    }
    std::lock_guard<std::mutex> guard(overlay.lock);
    g_set_object(&overlay.connection, connection);
    update_captiond(connection);
}

void captiond_bus_name_vanished_cb(GDBusConnection *, const gchar *, gpointer)
{
    std::lock_guard<std::mutex> guard(overlay.lock);
    forget_connection();
}

}  // namespace

void events_init()
{
    {
        std::lock_guard<std::mutex> guard(overlay.lock);
        for (Condition &c : overlay.conditions)
            c.flag = 0;
        forget_connection();
        overlay.update_held_back = false;
    }
    if (events.producer == nullptr)
        events.producer = event_producer_new("optad events");
    events.declaration_id = -1;
}

void events_free()
{
    if (events.producer == nullptr)
        return;
    if (events.declaration_id != -1) {
        event_producer_undeclare(events.producer, events.declaration_id);
        events.declaration_id = -1;
    }
    event_producer_free(events.producer);
    events.producer = nullptr;
}

void event_handler_ircut_property_changed(int day)
{
    if (events.producer == nullptr) {
        g_critical("event_handler_ircut_property_changed: assertion '%s' failed", "producer != NULL");
        return;
    }
    if (events.declaration_id == -1) {
        // The declared property carries the initial state: no event now.
        events.day = day;
        events.source_token = 1;
        declare_day_night_vision();
        if (events.declaration_id == -1)
            OPTAD_LOG_WARNING("WARNING:optad:%s:%s - Could not declare the IR cut property\n", "optad_event",
                              "event_handler_ircut_property_changed");
        return;
    }
    if (day == events.day)
        return;
    events.day = day;
    event *ev = event_producer_prepare_event(events.producer, events.declaration_id);
    if (ev == nullptr)
        return;
    event_set_value(ev, "day", &events.day);
    event_producer_send_event_async(events.producer, ev);
    event_free(ev);
}

void overlay_set_condition(int kind, int value)
{
    std::lock_guard<std::mutex> guard(overlay.lock);
    Condition *c = find_condition(kind);
    if (c == nullptr || c->flag == value)
        return;
    c->flag = value;
    if (kind == OVERLAY_NOT_ENOUGH_POWER && value != 0)
        OPTAD_LOG_INFO("Not enough POE power\n");
    if (overlay.connection != nullptr)
        update_captiond(overlay.connection);
}

int overlay_condition(int kind)
{
    std::lock_guard<std::mutex> guard(overlay.lock);
    const Condition *c = find_condition(kind);
    return c != nullptr ? c->flag : -1;
}

void event_handler_dbus_watch_captiond()
{
    overlay.watch_id = g_bus_watch_name(G_BUS_TYPE_SYSTEM, CAPTIOND_BUS_NAME, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                        captiond_bus_name_appeared_cb, captiond_bus_name_vanished_cb,
                                        nullptr, nullptr);
    if (overlay.watch_id == 0)
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Failed to watch captiond D-Bus service on local system bus\n",
                        "optad_event", "event_handler_dbus_watch_captiond");
}

void event_handler_dbus_unwatch_captiond()
{
    if (overlay.watch_id == 0)
        return;
    g_bus_unwatch_name(overlay.watch_id);
    overlay.watch_id = 0;
    std::lock_guard<std::mutex> guard(overlay.lock);
    forget_connection();
}

}  // namespace optad
