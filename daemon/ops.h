// The operations of other modules that start-up, the D-Bus listener thread
// and the main loop call, gathered in one table of function pointers.
//
// The daemon's spine calls these outside operations through daemon_ops, so
// that a test can put fakes in place of the hardware, the IMC and the D-Bus
// peers and drive the main loop job by job: what goes through the table is
// what talks to the module, the board or another process (power sequences,
// firmware, the IMC link, the video bridge and video input, the data cache,
// the D-Bus services and the listener threads), whose results a test of the
// loop must be able to force. Parameter control's own logic (the status
// checks, the start-up sync, the capture-mode set-up, the lens cache) is
// called directly; its tests run it on the fake hardware seam and the
// simulator. The default table points at the real functions.
#pragma once

#include "params/sdl.h"

#include <glib.h>

#include <cstdint>

namespace optad {

// Results of send_param.
enum : int {
    SEND_PARAM_SENT = 0,          // frame sent; the job's record is pending
    SEND_PARAM_DROPPED = -1,      // no frame (no encoder, or the encoder failed; logged)
    SEND_PARAM_LINK_FAILED = -2,  // the link exchange failed; the main loop puts the job back
};

struct DaemonOps {
    // --- start-up and teardown (main thread) ---
    void (*param_init)();
    void (*param_free_values)();
    void (*events_init)();
    void (*events_free)();
    // 0, or negative with the link closed again; stores both buffer pointers.
    int (*spi_open_and_init)(uint8_t **send_buf, uint8_t **recv_buf);
    void (*spi_close)();
    // Nonzero once the image pipeline service has announced itself, 0
    // after its time-out.
    int (*image_control_wait_start)();
    // The GPIO listener thread bodies (null argument).
    GThreadFunc gpio_power_good;
    GThreadFunc gpio_init_done;
    GThreadFunc gpio_i2n_int;
    void (*legacy_generate_shutter_gain_iris_config)(int iris_min, int iris_max, int shutter_min_us,
                                                     int shutter_max_us, int gain_min, int gain_max);
    void (*open_datacache)();
    int (*write_sensor_datacache)(int shutter, int gain, int iris);
    int (*write_limits_datacache)(const sdl_limits &limits);
    int (*datacache_api_optics_type)(int f, int second, int third);
    // Nonzero when registered with the power budget service and power was
    // requested.
    int (*poe_client_start)();
    void (*set_stream_morvel6)(int on);

    // --- D-Bus listener thread ---
    void (*imc_control_start)();
    void (*imc_control_stop)();
    void (*image_control_dbus_watch)();
    void (*image_control_dbus_unwatch)();
    void (*rotation_service_dbus_watch)();
    void (*rotation_service_dbus_unwatch)();
    void (*event_handler_dbus_watch_captiond)();
    void (*event_handler_dbus_unwatch_captiond)();

    // --- main loop jobs ---
    // Nonzero when the power budget allows the module to be powered.
    int (*has_enough_power)();
    // 0 or more on success; -1 failed, -2 INIT_DONE never rose (normal
    // boot), -3 the IMC came up in safe mode, -4 not enough power.
    int (*power_up)(int safe_boot, int skip_checks);
    // Negative on failure. Empties the job list and clears the IMC-ready flag.
    int (*shutdown)(int skip_checks, int skip_reset);
    // 1 when the module's POWER_GOOD is high before anything was done.
    int (*module_is_powered)();
    // -1 error, -2 equal, 0 upgrade, 1 downgrade.
    int (*check_firmware_version)();
    // Negative when a step failed.
    int (*firmware_upgrade)();
    // 0 when the video stream was detected, negative on time-out.
    int (*wait_for_dtct_strm)();
    void (*set_black_video_morvel6)(int on);
    // One camera status exchange into recv_buf; negative on failure.
    int (*request_camera_status)();
    // Hex dump of recv_buf.
    void (*print_camera_status)();
    // Overlay condition kind 0, 1 or 2 (2: upgrade in progress); value 0
    // clears it.
    void (*overlay_set_condition)(int kind, int value);
    // Encodes a parameter job (12..47) into the send buffer, sends it with a
    // 10 s REQ wait and, once sent, marks the job's record pending. The main
    // loop has already checked that the IMC is ready and cleared both
    // buffers. Returns a SEND_PARAM_ value.
    int (*send_param)(int job);
    void (*test_read_chunk_datacache)();
    int (*print_fpga_status)();
};

// The table in use.
extern DaemonOps daemon_ops;

// The default table (tests restore it after installing fakes).
const DaemonOps &default_daemon_ops();

}  // namespace optad
