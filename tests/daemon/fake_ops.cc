#include "tests/daemon/fake_ops.h"

#include "daemon/process_state.h"
#include "imc/spi.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

namespace optad::test {

namespace {

FakeOps *the_fakes = nullptr;
std::mutex the_mutex;

void record(const char *name)
{
    std::lock_guard<std::mutex> lock(the_mutex);
    fakes().calls.push_back(name);
}

int take(std::deque<int> &results, int fallback)
{
    std::lock_guard<std::mutex> lock(the_mutex);
    if (results.empty())
        return fallback;
    int r = results.front();
    results.pop_front();
    return r;
}

bool all_zero(const uint8_t *buf)
{
    return buf != nullptr && std::all_of(buf, buf + SPI_BUFFER_SIZE, [](uint8_t b) { return b == 0; });
}

gpointer listener(const char *name)
{
    record(name);
    std::string thread = current_thread_name();
    std::lock_guard<std::mutex> lock(the_mutex);
    fakes().thread_names.push_back(thread);
    return nullptr;
}

DaemonOps make_fake_ops()
{
    DaemonOps ops{};
    ops.param_init = [] { record("param_init"); };
    ops.param_free_values = [] { record("param_free_values"); };
    ops.events_init = [] { record("events_init"); };
    ops.events_free = [] { record("events_free"); };
    ops.spi_open_and_init = [](uint8_t **send, uint8_t **recv) {
        record("spi_open_and_init");
        if (fakes().spi_open_result < 0)
            return fakes().spi_open_result;
        *send = fakes().send_buf;
        *recv = fakes().recv_buf;
        return 0;
    };
    ops.spi_close = [] { record("spi_close"); };
    ops.image_control_wait_start = [] {
        record("image_control_wait_start");
        if (fakes().image_control_wait_start_timeouts == 0)
            return 1;
        fakes().image_control_wait_start_timeouts--;
        return 0;
    };
    ops.gpio_power_good = [](gpointer) { return listener("gpio_power_good"); };
    ops.gpio_init_done = [](gpointer) { return listener("gpio_init_done"); };
    ops.gpio_i2n_int = [](gpointer) { return listener("gpio_i2n_int"); };
    ops.legacy_generate_shutter_gain_iris_config = [](int a, int b, int c, int d, int e, int f) {
        record((a | b | c | d | e | f) == 0 ? "legacy_generate(0,0,0,0,0,0)" : "legacy_generate(other)");
    };
    ops.open_datacache = [] { record("open_datacache"); };
    ops.write_sensor_datacache = [](int shutter, int gain, int iris) {
        record("write_sensor_datacache");
        fakes().datacache_args.push_back({shutter, gain, iris});
        return 0;
    };
    ops.write_limits_datacache = [](const sdl_limits &) {
        record("write_limits_datacache");
        return 0;
    };
    ops.datacache_api_optics_type = [](int f, int second, int third) {
        record("datacache_api_optics_type");
        fakes().datacache_args.push_back({f, second, third});
        return 0;
    };
    ops.poe_client_start = [] {
        record("poe_client_start");
        return fakes().poe_client_start_result;
    };
    ops.set_stream_morvel6 = [](int on) {
        record("set_stream_morvel6");
        fakes().stream_args.push_back(on);
    };

    ops.imc_control_start = [] {
        record("imc_control_start");
        std::string thread = current_thread_name();
        std::lock_guard<std::mutex> lock(the_mutex);
        fakes().dbus_thread_name = thread;
    };
    ops.imc_control_stop = [] { record("imc_control_stop"); };
    ops.image_control_dbus_watch = [] { record("image_control_dbus_watch"); };
    ops.image_control_dbus_unwatch = [] { record("image_control_dbus_unwatch"); };
    ops.rotation_service_dbus_watch = [] { record("rotation_service_dbus_watch"); };
    ops.rotation_service_dbus_unwatch = [] { record("rotation_service_dbus_unwatch"); };
    ops.event_handler_dbus_watch_captiond = [] { record("event_handler_dbus_watch_captiond"); };
    ops.event_handler_dbus_unwatch_captiond = [] { record("event_handler_dbus_unwatch_captiond"); };

    ops.has_enough_power = [] {
        record("has_enough_power");
        return take(fakes().has_enough_power, 1);
    };
    ops.power_up = [](int safe_boot, int skip_checks) {
        record("power_up");
        fakes().power_up_args.push_back({safe_boot, skip_checks});
        return take(fakes().power_up, 0);
    };
    // A read, not an action: not in the calls.
    ops.module_is_powered = [] { return fakes().module_powered; };
    ops.shutdown = [](int skip_checks, int skip_reset) {
        record("shutdown");
        fakes().shutdown_args.push_back({skip_checks, skip_reset});
        if (fakes().shutdown_like_real) {
            job_list.clear();
            daemon_state.imc_ready.store(0);
        }
        return fakes().shutdown_result;
    };
    ops.check_firmware_version = [] {
        record("check_firmware_version");
        return fakes().check_firmware_version_result;
    };
    ops.firmware_upgrade = [] {
        record("firmware_upgrade");
        return fakes().firmware_upgrade_result;
    };
    ops.wait_for_dtct_strm = [] {
        record("wait_for_dtct_strm");
        return fakes().wait_for_dtct_strm_result;
    };
    ops.set_black_video_morvel6 = [](int on) {
        record("set_black_video_morvel6");
        fakes().black_video_args.push_back(on);
    };
    ops.request_camera_status = [] {
        record("request_camera_status");
        return take(fakes().request_camera_status, 0);
    };
    ops.print_camera_status = [] { record("print_camera_status"); };
    ops.overlay_set_condition = [](int kind, int value) {
        record("overlay_set_condition");
        fakes().overlay_args.push_back({kind, value});
    };
    ops.send_param = [](int job) {
        record("send_param");
        fakes().sent.push_back(job);
        fakes().buffers_clear_at_send.push_back(all_zero(imc_buffers.send_buf) && all_zero(imc_buffers.recv_buf));
        return take(fakes().send_param, SEND_PARAM_SENT);
    };
    ops.test_read_chunk_datacache = [] { record("test_read_chunk_datacache"); };
    ops.print_fpga_status = [] {
        record("print_fpga_status");
        return 0;
    };
    return ops;
}

}  // namespace

int FakeOps::count(const std::string &name) const
{
    std::lock_guard<std::mutex> lock(the_mutex);
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

FakeOps &fakes()
{
    return *the_fakes;
}

std::mutex &fakes_mutex()
{
    return the_mutex;
}

void install_fake_ops()
{
    std::lock_guard<std::mutex> lock(the_mutex);
    delete the_fakes;
    the_fakes = new FakeOps();
    daemon_ops = make_fake_ops();
}

std::string current_thread_name()
{
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

}  // namespace optad::test
