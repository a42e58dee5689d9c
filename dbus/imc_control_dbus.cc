#include "dbus/imc_control_dbus.h"

#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "dbus/legacy_generator.h"
#include "dbus/property_error.h"
#include "dbus/property_handlers.h"
#include "dbus/property_ranges.h"
#include "platform/log.h"

#include <gio/gio.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

namespace optad {

namespace {

constexpr const char PROPERTIES_INTERFACE[] = "org.freedesktop.DBus.Properties";

// No parameter needs more than a few dozen characters; a longer string is
// refused rather than written into the configuration file.
constexpr gsize PROPERTY_STRING_MAX = 4096;

// Properties with no parameter behind them: they read as a fixed value and
// accept only that value.
struct constant_property {
    const char *name;
    bool is_int;
    int number;
    const char *text;
};
constexpr constant_property constant_properties[] = {
    {"MaxAutoGainControlNormal", true, 50, nullptr},
    {"NoiseReduction", false, 0, "on"},
    {"StabilizerType", false, 0, "limitedOptical"},
    {"WhiteBalanceWindow", false, 0, "auto"},
};

struct ServiceState {
    // Read from any thread that emits PropertiesChanged.
    std::atomic<GDBusConnection *> connection{nullptr};
    std::atomic<int> name_owned{0};
    std::atomic<power_handler_cb> power_handler{nullptr};
    // D-Bus thread only.
    guint registration_id = 0;
    guint owner_id = 0;
    GDBusNodeInfo *introspection_data = nullptr;
    bool listener_registered = false;
};
ServiceState service;

const constant_property *find_constant(const char *name)
{
    for (const constant_property &c : constant_properties) {
        if (std::strcmp(c.name, name) == 0)
            return &c;
    }
    return nullptr;
}

// A fatal D-Bus event: without its service the daemon is of no use to the
// camera, and its service manager starts it afresh. The other threads are
// still running, so the process ends without running static destructors
// under them (log lines are already written: syslog and stderr are not
// buffered).
[[noreturn]] void stop_process()
{
    imc_control_stop();
    std::fflush(nullptr);
    _exit(1);
}

// ASCII control characters, NUL included, but for the tab, line feed and
// carriage return, which the configuration file escapes and gives back. The
// bytes of a multi-byte UTF-8 character are all 0x80 or above.
bool has_control_character(const char *data, gsize length)
{
    for (gsize i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F)
            return true;
    }
    return false;
}

// The decoded value of a property write.
struct DecodedValue {
    bool has_int = false;
    int number = 0;
    bool has_string = false;
    std::string text;
};

// "s" and "ay" give a string, "i" an int. A string must be text the
// configuration file can hold and give back: valid UTF-8, no embedded NUL
// (a C string would silently lose the rest), no other control character
// than a tab or a line break (the file drops a form feed or vertical tab at
// either end of a value, so the value would not come back as stored, and no
// parameter's value has one), not wrapped in double quotes, and of a
// sensible length.
bool decode_value(const char *property_name, GVariant *value, DecodedValue &out, GError **error)
{
    const char *type = g_variant_get_type_string(value);
    if (std::strcmp(type, "i") == 0) {
        out.has_int = true;
        out.number = g_variant_get_int32(value);
        return true;
    }
    const char *data = nullptr;
    gsize length = 0;
    if (std::strcmp(type, "s") == 0) {
        data = g_variant_get_string(value, &length);
    } else if (std::strcmp(type, "ay") == 0) {
        data = static_cast<const char *>(g_variant_get_fixed_array(value, &length, 1));
        // A byte string from a C sender usually carries its terminating NUL.
        if (length > 0 && data[length - 1] == '\0')
            length--;
    } else {
        property_error(error, "handle_set_property", "Unsupported type: %s", type);
        return false;
    }
    // The configuration file reads a value wrapped in double quotes (as
    // older tools wrote them) without its quotes, so such a value would not
    // come back as it was stored.
    const bool quoted = length > 0 && data[0] == '"' && data[length - 1] == '"';
    if (length > PROPERTY_STRING_MAX || has_control_character(data, length) ||
        !g_utf8_validate(data != nullptr ? data : "", static_cast<gssize>(length), nullptr) || quoted) {
        property_error(error, "handle_set_property", "Invalid value for property: %s", property_name);
        return false;
    }
    out.has_string = true;
    out.text.assign(data != nullptr ? data : "", length);
    return true;
}

bool constant_accepts(const constant_property &c, const DecodedValue &v)
{
    if (c.is_int)
        return v.has_int && v.number == c.number;
    return v.has_string && v.text == c.text;
}

void on_param_changed(int id, const char *name, GVariant *value)
{
    if (property_handler_find(id) != nullptr && service.connection.load() != nullptr)
        emit_properties_changed(name, value);
}

GVariant *vtable_get_property(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                              const gchar *property_name, GError **error, gpointer)
{
    return handle_get_property(property_name, error);
}

gboolean vtable_set_property(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                             const gchar *property_name, GVariant *value, GError **error, gpointer)
{
    return handle_set_property(property_name, value, error) ? TRUE : FALSE;
}

void handle_method_call(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                        const gchar *method_name, GVariant *parameters, GDBusMethodInvocation *invocation,
                        gpointer)
{
    g_autoptr(GError) error = nullptr;
    GVariant *result = nullptr;
    bool unknown_interface = false;
    const char *interface_name = nullptr;

    if (std::strcmp(method_name, "SetPower") == 0) {
        double power = 0;
        g_variant_get(parameters, "(d)", &power);
        if (power_handler_cb handler = service.power_handler.load())
            handler(power);
    } else if (std::strcmp(method_name, "GetRanges") == 0) {
        g_autoptr(GVariant) names = nullptr;
        g_variant_get(parameters, "(&s@as)", &interface_name, &names);
        result = get_ranges(interface_name, names, &error);
        unknown_interface = result == nullptr && error == nullptr;
    } else if (std::strcmp(method_name, "SetProperties") == 0) {
        g_autoptr(GVariant) list = nullptr;
        g_variant_get(parameters, "(&s@a(sv))", &interface_name, &list);
        result = dbus_set_properties(interface_name, list, &error);
        unknown_interface = result == nullptr && error == nullptr;
    }

    if (error != nullptr) {
        if (result != nullptr)
            g_variant_unref(g_variant_ref_sink(result));
        g_dbus_method_invocation_return_gerror(invocation, error);
    } else if (unknown_interface) {
        // There is nothing to answer for another interface; the caller
        // still gets a reply it can tell from success.
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE,
                                              "Unknown interface %s", interface_name);
    } else {
        g_dbus_method_invocation_return_value(invocation, result);
    }
}

const GDBusInterfaceVTable interface_vtable = {
    handle_method_call,
    vtable_get_property,
    vtable_set_property,
    {nullptr},
};

void on_bus_acquired(GDBusConnection *connection, const gchar *, gpointer)
{
    // When the bus goes away the name is lost and the daemon ends with its
    // own status; GDBus would otherwise end the process with SIGTERM first.
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    service.connection.store(connection);
    g_autoptr(GError) error = nullptr;
    service.introspection_data = g_dbus_node_info_new_for_xml(imc_control_introspection_xml(), &error);
    if (service.introspection_data == nullptr) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - introspection_data is NULL!\n", "imc_control_dbus",
                        "on_bus_acquired");
        stop_process();
    }
    service.registration_id = g_dbus_connection_register_object(
        connection, IMC_CONTROL_OBJECT_PATH, service.introspection_data->interfaces[0], &interface_vtable,
        nullptr, nullptr, &error);
    if (service.registration_id == 0) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Failed to register object %s (%s)\n", "imc_control_dbus",
                        "register_object", IMC_CONTROL_OBJECT_PATH, error->message);
        stop_process();
    }
}

void on_name_acquired(GDBusConnection *, const gchar *, gpointer)
{
    service.name_owned.store(1);
}

void on_name_lost(GDBusConnection *, const gchar *, gpointer)
{
    service.name_owned.store(0);
    OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Lost the name %s on the system bus\n", "imc_control_dbus",
                    "on_name_lost", IMC_CONTROL_BUS_NAME);
    stop_process();
}

}  // namespace

void validate_exposure_config()
{
    if (exposure_mode_from_string(param_get_string_value(PARAM_EXPOSURE)) == EXPOSURE_MODE_UNKNOWN) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Unknown Exposure - Resetting to auto!\n", "imc_control_dbus",
                        "validate_exposure_config");
        param_set_string_value(PARAM_EXPOSURE, "auto");
        param_update_max_exposure_time();
    } else if (maxshutter_value_allowed(get_maxshutter_map_id(), param_get_int_value(PARAM_MAX_EXPOSURE_TIME)) ==
               0) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Invalid Max Exposure Time - Resetting to default!\n",
                        "imc_control_dbus", "validate_exposure_config");
        param_update_max_exposure_time();
    }
}

void imc_control_start()
{
    {
        // The main thread may be setting parameters in its start-up
        // meanwhile.
        ParamLock lock;
        validate_exposure_config();
        legacy_generate_maxshutter_xml(get_maxshutter_map_id());
    }

    service.owner_id = g_bus_own_name(G_BUS_TYPE_SYSTEM, IMC_CONTROL_BUS_NAME, G_BUS_NAME_OWNER_FLAGS_NONE,
                                      on_bus_acquired, on_name_acquired, on_name_lost, nullptr, nullptr);
    if (service.owner_id == 0) {
        OPTAD_LOG_ERROR("ERROR:optad:%s:%s - Failed to own name on local system bus\n", "imc_control_dbus",
                        "imc_control_start");
        stop_process();
    }
    if (!service.listener_registered) {
        param_register_changed_cb(on_param_changed);
        service.listener_registered = true;
    }
}

void imc_control_stop()
{
    GDBusConnection *connection = service.connection.load();
    if (service.registration_id != 0 && connection != nullptr) {
        g_dbus_connection_unregister_object(connection, service.registration_id);
        service.registration_id = 0;
    }
    if (service.owner_id != 0) {
        g_bus_unown_name(service.owner_id);
        service.owner_id = 0;
    }
    if (service.introspection_data != nullptr) {
        g_dbus_node_info_unref(service.introspection_data);
        service.introspection_data = nullptr;
    }
}

void imc_control_set_power_handler(power_handler_cb handler)
{
    service.power_handler.store(handler);
}

int imc_control_name_owned()
{
    return service.name_owned.load();
}

void emit_properties_changed(const char *name, GVariant *value)
{
    g_variant_ref_sink(value);
    GDBusConnection *connection = service.connection.load();
    if (connection != nullptr) {
        GVariantBuilder changed;
        g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&changed, "{sv}", name, value);
        g_autoptr(GError) error = nullptr;
        if (!g_dbus_connection_emit_signal(connection, nullptr, IMC_CONTROL_OBJECT_PATH, PROPERTIES_INTERFACE,
                                           "PropertiesChanged",
                                           g_variant_new("(sa{sv}as)", IMC_CONTROL_INTERFACE, &changed, nullptr),
                                           &error))
            OPTAD_LOG_ERROR("ERROR:optad:%s:%s - DBus: could not emit PropertiesChanged signal\n",
                            "imc_control_dbus", "emit_properties_changed");
    }
    g_variant_unref(value);
}

GVariant *handle_get_property(const char *property_name, GError **error)
{
    if (const constant_property *c = find_constant(property_name))
        return c->is_int ? g_variant_new_int32(c->number) : g_variant_new_bytestring(c->text);

    // The parameter table's own lock only: a read never waits for the main
    // loop, whatever the module is doing.
    ParamLock lock;
    GVariant *result = nullptr;
    const int id = param_get_id(property_name);
    const int *type = id >= 0 ? param_get_type(id) : nullptr;
    if (id < 0 || property_handler_find(id) == nullptr) {
        property_error(error, "handle_get_property", "Unknown property: %s", property_name);
    } else if (type == nullptr) {
        property_error(error, "handle_get_property", "Get type failed for %s", property_name);
    } else if (*type == PARAM_TYPE_INT) {
        result = g_variant_new_int32(param_get_int_value(id));
    } else if (*type == PARAM_TYPE_STRING) {
        const char *text = param_get_string_value(id);
        if (text != nullptr)
            result = g_variant_new_bytestring(text);
        else
            property_error(error, "handle_get_property", "Failed getting string value %s", property_name);
    } else {
        property_error(error, "handle_get_property", "Unknown type for %s", property_name);
    }
    return result;
}

bool handle_set_property(const char *property_name, GVariant *value, GError **error)
{
    DecodedValue v;
    if (!decode_value(property_name, value, v, error))
        return false;

    if (const constant_property *c = find_constant(property_name)) {
        if (constant_accepts(*c, v))
            return true;
        property_error(error, "handle_set_property", "Invalid value for property: %s", property_name);
        return false;
    }

    const int id = param_get_id(property_name);
    const property_handler_row *row = id >= 0 ? property_handler_find(id) : nullptr;
    if (row == nullptr) {
        property_error(error, "handle_set_property", "Unknown property: %s", property_name);
        return false;
    }
    // A set is validated, stored, written and announced under the parameter
    // table's lock alone; its job goes to the list for the main loop's next
    // wake-up, and only while the IMC is started (queue_param_job). Nothing
    // here waits for the main loop.
    ParamLock lock;
    const int ready = imc_is_started() ? 1 : 0;
    return row->set(*row, v.has_int ? &v.number : nullptr, v.has_string ? v.text.c_str() : nullptr, ready,
                    error);
}

GVariant *get_ranges(const char *interface_name, GVariant *names, GError **error)
{
    if (std::strcmp(interface_name, IMC_CONTROL_INTERFACE) != 0) {
        OPTAD_LOG_ERROR("DBus API: cannot get properties for unknown interface %s\n", interface_name);
        return nullptr;
    }
    GVariantBuilder ranges;
    g_variant_builder_init(&ranges, G_VARIANT_TYPE("a{sv}"));
    GVariantIter iter;
    g_variant_iter_init(&iter, names);
    const char *name = nullptr;
    // Fixed tables only: no lock.
    while (g_variant_iter_next(&iter, "&s", &name))
        g_variant_builder_add(&ranges, "{sv}", name, get_property_range(name, error));
    return g_variant_new("(a{sv})", &ranges);
}

GVariant *dbus_set_properties(const char *interface_name, GVariant *properties, GError **error)
{
    if (std::strcmp(interface_name, IMC_CONTROL_INTERFACE) != 0) {
        OPTAD_LOG_ERROR("DBus API[%s]: cannot get properties for unknown interface %s\n", "dbus_set_properties",
                        interface_name);
        return nullptr;
    }
    // Every entry is tried, also after a failure; the reply carries the
    // first error.
    bool status = true;
    {
        // The call is one change of the configuration (restoring the
        // camera's settings sets some 34 values): the file is written to the
        // flash once, after every entry is stored, and no other thread sees
        // the entries half applied. The changes are announced after that
        // write, in the entries' order, and before the reply.
        ParamBatch batch;
        GVariantIter iter;
        g_variant_iter_init(&iter, properties);
        const char *name = nullptr;
        GVariant *value = nullptr;
        while (g_variant_iter_next(&iter, "(&sv)", &name, &value)) {
            status = handle_set_property(name, value, error) && status;
            g_variant_unref(value);
        }
    }
    return g_variant_new("(b)", status ? TRUE : FALSE);
}

void imc_control_reset_for_tests()
{
    service.connection.store(nullptr);
    service.name_owned.store(0);
    service.power_handler.store(nullptr);
    service.registration_id = 0;
    service.owner_id = 0;
    service.listener_registered = false;
}

}  // namespace optad
