#include "board/poe_client.h"

#include "board/gpio.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "dbus/imc_control_dbus.h"
#include "dbus/optad_event.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <gio/gio.h>

#include <atomic>
#include <mutex>

namespace optad {

namespace {

constexpr const char CONSUMER_NAME[] = "optad";
constexpr const char POWER_MODE[] = "normal";
constexpr int64_t NAME_POLL_US = 10'000;

struct PoeState {
    // Written by the D-Bus thread, read by the main loop's power check.
    std::atomic<double> granted_power{0.0};
    // Also read by the time-out check without the mutex.
    std::atomic<bool> answered{false};
    // Main loop only.
    bool wrong_class_logged = false;
    // Created by the start-up thread, kept for the daemon's life.
    std::mutex proxy_lock;
    GDBusProxy *proxy = nullptr;
    // The watch of the service's name once registered, and what it saw
    // (D-Bus thread only): a service that vanished has forgotten the
    // daemon, and each disappearance ends the registration under way.
    guint watch_id = 0;
    bool vanished = false;
    unsigned appearance = 0;
};
PoeState poe;

bool setup_proxy_if_needed()
{
    std::lock_guard<std::mutex> guard(poe.proxy_lock);
    if (poe.proxy != nullptr)
        return true;
    g_autoptr(GError) error = nullptr;
    poe.proxy = g_dbus_proxy_new_for_bus_sync(G_BUS_TYPE_SYSTEM, G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES,
                                              nullptr, WATTD_BUS_NAME, WATTD_OBJECT_PATH, WATTD_INTERFACE,
                                              nullptr, &error);
    if (poe.proxy == nullptr) {
        OPTAD_LOG_ERROR("%s dbus proxy reported error %s\n", "setup_proxy_if_needed", error->message);
        return false;
    }
    return true;
}

bool power_control_dbus_register()
{
    if (!setup_proxy_if_needed())
        return false;
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_proxy_call_sync(
        poe.proxy, "Register",
        g_variant_new("(sbsss)", CONSUMER_NAME, FALSE, IMC_CONTROL_BUS_NAME, IMC_CONTROL_OBJECT_PATH,
                      IMC_CONTROL_INTERFACE),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply == nullptr) {
        OPTAD_LOG_ERROR("%s dbus call reported error %s\n", "power_control_dbus_register", error->message);
        return false;
    }
    return true;
}

bool power_control_dbus_request_power(const char *mode, double watts)
{
    if (!setup_proxy_if_needed())
        return false;
    g_autofree char *owner = g_dbus_proxy_get_name_owner(poe.proxy);
    if (owner == nullptr) {
        OPTAD_LOG_ERROR("Can not request at wattd: wattd is down\n");
        return false;
    }
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply =
        g_dbus_proxy_call_sync(poe.proxy, "RequestPower", g_variant_new("(ssd)", CONSUMER_NAME, mode, watts),
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply == nullptr) {
        OPTAD_LOG_ERROR("%s dbus reported error %s\n", "power_control_dbus_request_power", error->message);
        return false;
    }
    return true;
}

// A service that comes back registers the daemon and requests its power
// again, with the calls and the arguments of the start. The calls are not
// waited for, so the D-Bus thread goes on serving meanwhile; each answer
// comes back on it (it runs the default main context and pushes no other).
// An answer that arrives after the service has gone again is dropped: the
// next appearance registers anew.

bool answer_is_current(gpointer appearance)
{
    return GPOINTER_TO_UINT(appearance) == poe.appearance;
}

void power_requested_again(GObject *source, GAsyncResult *result, gpointer appearance)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_proxy_call_finish(G_DBUS_PROXY(source), result, &error);
    if (!answer_is_current(appearance) || reply != nullptr)
        return;
    OPTAD_LOG_ERROR("%s dbus reported error %s\n", "power_control_dbus_request_power", error->message);
    OPTAD_LOG_ERROR("Failed to request power\n");
}

void registered_again(GObject *source, GAsyncResult *result, gpointer appearance)
{
    GDBusProxy *proxy = G_DBUS_PROXY(source);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_proxy_call_finish(proxy, result, &error);
    if (!answer_is_current(appearance))
        return;
    if (reply == nullptr) {
        OPTAD_LOG_ERROR("%s dbus call reported error %s\n", "power_control_dbus_register", error->message);
        OPTAD_LOG_ERROR("Failed to register power control dbus\n");
        return;
    }
    g_autofree char *owner = g_dbus_proxy_get_name_owner(proxy);
    if (owner == nullptr) {
        OPTAD_LOG_ERROR("Can not request at wattd: wattd is down\n");
        OPTAD_LOG_ERROR("Failed to request power\n");
        return;
    }
    g_dbus_proxy_call(proxy, "RequestPower", g_variant_new("(ssd)", CONSUMER_NAME, POWER_MODE, POE_REQUIRED_POWER_W),
                      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, power_requested_again, appearance);
}

void wattd_appeared(GDBusConnection *, const gchar *, const gchar *, gpointer)
{
    if (!poe.vanished)
        return;  // the service the daemon registered with at start
    poe.vanished = false;
    g_dbus_proxy_call(poe.proxy, "Register",
                      g_variant_new("(sbsss)", CONSUMER_NAME, FALSE, IMC_CONTROL_BUS_NAME, IMC_CONTROL_OBJECT_PATH,
                                    IMC_CONTROL_INTERFACE),
                      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, registered_again, GUINT_TO_POINTER(poe.appearance));
}

void wattd_vanished(GDBusConnection *, const gchar *, gpointer)
{
    poe.vanished = true;
    poe.appearance++;
}

}  // namespace

gboolean poe_timeout(gpointer)
{
    if (poe.answered.load())
        return G_SOURCE_REMOVE;
    OPTAD_LOG_ERROR("ERROR:optad:poe_timeout - wattd has not responed for %d seconds\n",
                    static_cast<int>(POE_TIMEOUT_S));
    return G_SOURCE_CONTINUE;
}

int poe_client_start()
{
    while (imc_control_name_owned() == 0)
        clock_sleep_us(NAME_POLL_US);
    imc_control_set_power_handler(set_power_handler);
    if (!power_control_dbus_register()) {
        OPTAD_LOG_ERROR("Failed to register power control dbus\n");
        return 0;
    }
    if (!power_control_dbus_request_power(POWER_MODE, POE_REQUIRED_POWER_W)) {
        OPTAD_LOG_ERROR("Failed to request power\n");
        return 0;
    }
    // On the default context, which the D-Bus listener thread runs, as are
    // the watch's callbacks (this thread pushes no context of its own).
    g_timeout_add_seconds(POE_TIMEOUT_S, poe_timeout, nullptr);
    poe.watch_id = g_bus_watch_name(G_BUS_TYPE_SYSTEM, WATTD_BUS_NAME, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                    wattd_appeared, wattd_vanished, nullptr, nullptr);
    return 1;
}

void set_power_handler(double power)
{
    // Published before the job that reads it is queued; the main loop's
    // power check takes the job, then reads the grant.
    poe.granted_power.store(power);
    poe.answered.store(true);
    queue_job(JT_CHECK_POWER, true);
}

int has_enough_power()
{
    int dc_off = 1;
    if (gpio_read(GPIO_DC_OFF, &dc_off) < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:power_control - failed to read dc_off pin\n");
        dc_off = 1;
    }
    if (dc_off == 0) {
        overlay_set_condition(OVERLAY_NOT_ENOUGH_POWER, 0);
        return 1;
    }
    if (!poe.answered.load())
        return 0;
    const double granted = poe.granted_power.load();
    if (granted >= POE_REQUIRED_POWER_W) {
        overlay_set_condition(OVERLAY_NOT_ENOUGH_POWER, 0);
        return 1;
    }
    if (!poe.wrong_class_logged) {
        OPTAD_LOG_INFO("optad:power_up - wrong POE class, power=%.2fw, needed %.2fw \n", granted,
                       POE_REQUIRED_POWER_W);
        poe.wrong_class_logged = true;
    }
    overlay_set_condition(OVERLAY_NOT_ENOUGH_POWER, 1);
    return 0;
}

void poe_client_reset_for_tests()
{
    poe.granted_power.store(0.0);
    poe.answered.store(false);
    poe.wrong_class_logged = false;
}

}  // namespace optad
