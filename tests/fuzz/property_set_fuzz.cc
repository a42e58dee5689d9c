// SetProperties with any names and any values, through the parameter
// service's set path and every set handler, with the IMC started: each
// accepted value is stored, written to the configuration file and
// announced, and its parameter jobs are queued. The main loop would then
// run the jobs: their command encoders build the frames from the stored
// values, here as well.
//
// What must hold: a refused value stores nothing, and every value the
// service stored comes back the same when the daemon starts again from the
// configuration file it wrote.
//
// Input: the a(sv) list, either in GVariant's text form (as gdbus prints it,
// "[('Exposure', <b'auto'>), ('Brightness', <50>)]") when it begins with
// '[' or '@', or else in its serialised form, taken in normal form as the
// bus would deliver it. A first byte "!" puts the lens on auto focus and
// the exposure at 1/100 s first, so that the focus handlers take their
// values too.
#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "dbus/imc_control_dbus.h"
#include "dbus/imc_control_interface.h"
#include "imc/spi.h"
#include "params/capture_settings.h"
#include "params/encoders.h"
#include "params/status_monitor.h"
#include "platform/clock.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/imc/fake_hw.h"

#include <glib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

using namespace optad;
using optad::fuzz::fuzz_check;

namespace {

constexpr uint8_t SHUTTER_INDEX_1_100 = 26;

GVariant *decode_list(const uint8_t *data, size_t size)
{
    if (size > 0 && (data[0] == '[' || data[0] == '@')) {
        // The text form is UTF-8 text (GLib's parser refuses anything
        // else); what the bus delivers is the serialised form below.
        const std::string text(reinterpret_cast<const char *>(data), size);
        if (!g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), nullptr))
            return nullptr;
        return g_variant_parse(G_VARIANT_TYPE("a(sv)"), text.c_str(), text.c_str() + text.size(), nullptr,
                               nullptr);
    }
    // GVariant reads serialised data in place: it must be aligned.
    g_autoptr(GBytes) bytes = g_bytes_new(data, size);
    g_autoptr(GVariant) raw = g_variant_new_from_bytes(G_VARIANT_TYPE("a(sv)"), bytes, FALSE);
    return g_variant_get_normal_form(raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::FuzzRun run;
    process_state_reset_for_tests();
    sync_objects_create();
    job_queue_reset_for_tests();
    s_capture = capture_settings_initial();
    param_reset_for_tests();
    ::unlink((fuzz::fuzz_setup() + OPTAD_CONF_PATH).c_str());
    param_init();
    set_lens_focus_switch(0);
    publish_current_shutter_index(0);
    (void)take_exposure_settle_request();
    daemon_state.imc_ready = 1;

    if (size > 0 && data[0] == '!') {
        set_lens_focus_switch(1);
        publish_current_shutter_index(SHUTTER_INDEX_1_100);
        ++data;
        --size;
    }
    if (GVariant *list = decode_list(data, size)) {
        g_variant_take_ref(list);  // parsed ones are full references already
        // Entry by entry as the service takes them: a refused value
        // stores nothing (a maximum exposure time that the exposure
        // mode then refuses excepted: it stays stored for a mode that
        // takes it).
        GVariantIter iter;
        g_variant_iter_init(&iter, list);
        const char *name = nullptr;
        GVariant *value = nullptr;
        while (g_variant_iter_next(&iter, "(&sv)", &name, &value)) {
            const std::vector<std::string> before = fuzz::table_snapshot();
            GError *error = nullptr;
            const bool ok = handle_set_property(name, value, &error);
            fuzz_check(ok == (error == nullptr), "an error exactly with a refusal");
            if (!ok && std::strcmp(error->message, "Invalid exposure mode!") != 0)
                fuzz_check(fuzz::table_snapshot() == before, "a refused value stores nothing");
            g_clear_error(&error);
            g_variant_unref(value);
        }
        // And the whole list as one SetProperties call.
        GError *error = nullptr;
        GVariant *reply = dbus_set_properties(IMC_CONTROL_INTERFACE, list, &error);
        fuzz_check(reply != nullptr, "the service's own interface always gets a reply");
        g_variant_unref(g_variant_ref_sink(reply));
        g_clear_error(&error);
        g_variant_unref(list);
    }

    // The main loop's turn: each queued job's encoder.
    int job = 0;
    while (job_list_take(&job)) {
        std::memset(spi_send_buffer(), 0, SPI_BUFFER_SIZE);
        encode_param_job(job);
    }

    const std::vector<std::string> stored = fuzz::table_snapshot();
    param_reset_for_tests();
    param_init();
    fuzz_check(fuzz::table_snapshot() == stored, "every stored value comes back from the file");
    param_reset_for_tests();
    process_state_reset_for_tests();
    return 0;
}
