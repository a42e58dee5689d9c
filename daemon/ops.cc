#include "daemon/ops.h"

#include "board/fpga.h"
#include "board/gpio_listener.h"
#include "board/poe_client.h"
#include "board/power_sequence.h"
#include "config/param_settings.h"
#include "dbus/image_control_dbus.h"
#include "dbus/imc_control_dbus.h"
#include "dbus/legacy_generator.h"
#include "dbus/optad_event.h"
#include "dbus/rotation_service_dbus.h"
#include "imc/buffer.h"
#include "imc/firmware.h"
#include "imc/spi.h"
#include "params/send_param.h"
#include "params/status_request.h"
#include "params/stream_wait.h"
#include "video/datacache.h"
#include "video/morvel6.h"

namespace optad {

namespace {

constexpr DaemonOps default_ops = {
    // start-up and teardown
    .param_init = param_init,
    .param_free_values = param_free_values,
    .events_init = events_init,
    .events_free = events_free,
    .spi_open_and_init = spi_open_and_init,
    .spi_close = spi_close,
    .image_control_wait_start = image_control_wait_start,
    .gpio_power_good = gpio_power_good,
    .gpio_init_done = gpio_init_done,
    .gpio_i2n_int = gpio_i2n_int,
    .legacy_generate_shutter_gain_iris_config = legacy_generate_shutter_gain_iris_config,
    .open_datacache = open_datacache,
    .write_sensor_datacache = write_sensor_datacache,
    .write_limits_datacache = write_limits_datacache,
    .datacache_api_optics_type = datacache_api_optics_type,
    .poe_client_start = poe_client_start,
    .set_stream_morvel6 = set_stream_morvel6,

    // D-Bus listener thread
    .imc_control_start = imc_control_start,
    .imc_control_stop = imc_control_stop,
    .image_control_dbus_watch = image_control_dbus_watch,
    .image_control_dbus_unwatch = image_control_dbus_unwatch,
    .rotation_service_dbus_watch = rotation_service_dbus_watch,
    .rotation_service_dbus_unwatch = rotation_service_dbus_unwatch,
    .event_handler_dbus_watch_captiond = event_handler_dbus_watch_captiond,
    .event_handler_dbus_unwatch_captiond = event_handler_dbus_unwatch_captiond,

    // main loop jobs
    .has_enough_power = has_enough_power,
    .power_up = power_up,
    .shutdown = shutdown,
    .module_is_powered = module_is_powered,
    .check_firmware_version = check_firmware_version,
    .firmware_upgrade = firmware_upgrade,
    .wait_for_dtct_strm = wait_for_dtct_strm,
    .set_black_video_morvel6 = set_black_video_morvel6,
    .request_camera_status = request_camera_status,
    .print_camera_status = buffer_print_camera_status,
    .overlay_set_condition = overlay_set_condition,
    .send_param = send_param,
    .test_read_chunk_datacache = test_read_chunk_datacache,
    .print_fpga_status = print_fpga_status,
};

}  // namespace

DaemonOps daemon_ops = default_ops;

const DaemonOps &default_daemon_ops()
{
    return default_ops;
}

}  // namespace optad
