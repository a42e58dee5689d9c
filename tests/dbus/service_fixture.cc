#include "tests/dbus/service_fixture.h"

#include "board/poe_client.h"
#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "daemon/process_state.h"
#include "dbus/image_control_dbus.h"
#include "dbus/imc_control_dbus.h"
#include "dbus/legacy_generator.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/status_monitor.h"
#include "platform/clock.h"

#include <gio/gio.h>

#include <cstring>
#include <mutex>
#include <ostream>

namespace optad::test {

namespace {

std::mutex heard_lock;
std::vector<Change> heard;  // guarded by heard_lock

std::string printed(GVariant *value)
{
    g_autofree char *s = g_variant_print(value, TRUE);
    return s;
}

void record_change(int, const char *name, GVariant *value)
{
    std::lock_guard<std::mutex> guard(heard_lock);
    heard.push_back({name, printed(value)});
}

}  // namespace

std::ostream &operator<<(std::ostream &os, const Change &c)
{
    return os << c.name << "=" << c.value;
}

GVariant *raw_bytes(const std::string &data)
{
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, data.data(), data.size(), 1);
}

void ServiceTest::SetUp()
{
    clock_set_source(nullptr);
    // The mapping files' directory belongs to the installation.
    g_autofree char *mappings = g_path_get_dirname(root.path(LEGACY_MAXSHUTTER_PATH).c_str());
    ASSERT_EQ(g_mkdir_with_parents(mappings, 0755), 0);
    process_state_reset_for_tests();
    ASSERT_EQ(sync_objects_create(), 0);
    param_reset_for_tests();
    param_init();
    imc_control_reset_for_tests();
    image_control_reset_for_tests();
    poe_client_reset_for_tests();
    s_capture = capture_settings_initial();
    std::memset(scam_sts, 0, sizeof scam_sts);
    set_lens_focus_switch(0);
    param_register_changed_cb(record_change);
    clear_changes();
    log.clear();
}

void ServiceTest::TearDown()
{
    imc_gate_open();
    process_state_reset_for_tests();
    param_reset_for_tests();
    clock_set_source(nullptr);
}

void ServiceTest::imc_ready(bool ready)
{
    if (ready)
        imc_gate_open();
    else
        imc_gate_close();
    ASSERT_EQ(imc_is_started(), ready) << "the gate does not decide readiness";
}

Reply ServiceTest::set(const char *property, GVariant *value)
{
    g_autoptr(GVariant) owned = g_variant_take_ref(value);
    g_autoptr(GError) error = nullptr;
    Reply r;
    r.ok = handle_set_property(property, owned, &error);
    if (error != nullptr) {
        EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_FAILED)) << error->message;
        r.error = error->message;
    }
    EXPECT_EQ(r.ok, error == nullptr) << property << ": a refusal sets an error, a success none";
    return r;
}

Reply ServiceTest::get(const char *property)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) value = handle_get_property(property, &error);
    Reply r;
    r.ok = value != nullptr;
    if (value != nullptr)
        r.value = printed(value);
    if (error != nullptr) {
        EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_FAILED)) << error->message;
        r.error = error->message;
    }
    EXPECT_EQ(r.ok, error == nullptr) << property;
    return r;
}

std::vector<int> ServiceTest::jobs() const
{
    job_list_lock();
    std::vector<int> v;
    for (size_t i = 0; i < job_list.size(); i++)
        v.push_back(job_list.at(i));
    job_list_unlock();
    return v;
}

void ServiceTest::clear_jobs()
{
    job_list_lock();
    job_list.clear();
    job_list_unlock();
}

std::vector<Change> ServiceTest::changes() const
{
    std::lock_guard<std::mutex> guard(heard_lock);
    return heard;
}

void ServiceTest::clear_changes()
{
    std::lock_guard<std::mutex> guard(heard_lock);
    heard.clear();
}

std::string ServiceTest::conf(const char *group, const char *key) const
{
    g_autoptr(GKeyFile) file = g_key_file_new();
    if (!g_key_file_load_from_file(file, root.path(OPTAD_CONF_PATH).c_str(), G_KEY_FILE_NONE, nullptr))
        return "";
    g_autofree char *value = g_key_file_get_value(file, group, key, nullptr);
    return value != nullptr ? value : "";
}

std::string ServiceTest::param(int id)
{
    const int *type = param_get_type(id);
    if (type == nullptr)
        return "(none)";
    if (*type == PARAM_TYPE_INT) {
        g_autoptr(GVariant) v = g_variant_ref_sink(g_variant_new_int32(param_get_int_value(id)));
        return printed(v);
    }
    const char *s = param_get_string_value(id);
    if (s == nullptr)
        return "(null)";
    g_autoptr(GVariant) v = g_variant_ref_sink(g_variant_new_bytestring(s));
    return printed(v);
}

}  // namespace optad::test
