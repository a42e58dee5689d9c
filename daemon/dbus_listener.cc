#include "daemon/dbus_listener.h"

#include "daemon/ops.h"
#include "platform/log.h"

namespace optad {

gpointer dbus_listener_run(gpointer)
{
    OPTAD_LOG_DEBUG("DEBUG:optad:dbus_listener_run - Started\n");
    daemon_ops.imc_control_start();
    daemon_ops.image_control_dbus_watch();
    daemon_ops.rotation_service_dbus_watch();
    daemon_ops.event_handler_dbus_watch_captiond();

    GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);

    daemon_ops.image_control_dbus_unwatch();
    daemon_ops.rotation_service_dbus_unwatch();
    daemon_ops.event_handler_dbus_unwatch_captiond();
    daemon_ops.imc_control_stop();
    OPTAD_LOG_DEBUG("DEBUG:optad:ImageControl:run - Exit image_control_listener_run\n");
    return nullptr;
}

}  // namespace optad
