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

gboolean poe_timeout(gpointer)
{
    if (poe.answered.load())
        return G_SOURCE_REMOVE;
    OPTAD_LOG_ERROR("ERROR:optad:poe_timeout - wattd has not responed for %d seconds\n",
                    static_cast<int>(POE_TIMEOUT_S));
    return G_SOURCE_CONTINUE;
}

}  // namespace

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
    // On the default context, which the D-Bus listener thread runs.
    g_timeout_add_seconds(POE_TIMEOUT_S, poe_timeout, nullptr);
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
