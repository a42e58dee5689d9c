// The parameter service's entry points, called as the bus would call them:
// the introspection document, property reads and writes with their
// refusals, SetProperties, the start-up check of the stored exposure
// settings, and the change listener list under concurrent registration.
#include "config/param_settings.h"
#include "dbus/imc_control_dbus.h"
#include "dbus/imc_control_interface.h"
#include "dbus/legacy_generator.h"
#include "imc/status_block.h"
#include "params/status_monitor.h"
#include "tests/dbus/service_fixture.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <atomic>
#include <string>
#include <thread>

namespace optad {
namespace {

using test::bytes;
using test::Change;
using test::num;
using test::raw_bytes;
using test::text;

constexpr const char IFACE[] = "com.tavik.Configuration.Legacy";
constexpr const char SENSOR[] = "ImageSource.I0.Sensor";

std::string show(GVariant *v)
{
    g_autofree char *s = g_variant_print(v, TRUE);
    return s;
}

std::string set_refusal(const std::string &message)
{
    return "WARNING:optad:imc_control_dbus:handle_set_property - " + message + "\n";
}

std::string get_refusal(const std::string &message)
{
    return "WARNING:optad:imc_control_dbus:handle_get_property - " + message + "\n";
}

class ImcControlService : public test::ServiceTest {};

struct DeclaredProperty {
    const char *name;
    const char *type;
    GDBusPropertyInfoFlags flags;
};

constexpr auto RW = static_cast<GDBusPropertyInfoFlags>(G_DBUS_PROPERTY_INFO_FLAGS_READABLE |
                                                        G_DBUS_PROPERTY_INFO_FLAGS_WRITABLE);
constexpr auto RO = G_DBUS_PROPERTY_INFO_FLAGS_READABLE;

// The interface as the camera's configuration system knows it, in document
// order. ExposureProgress is an int the service always sends as one, so it
// is declared as an int (read-only: the IMC reports it).
constexpr DeclaredProperty declared_properties[] = {
    {"Iris", "i", RW}, {"Shutter", "i", RW}, {"Gain", "i", RW},
    {"WhiteBalanceManualR", "i", RW}, {"WhiteBalanceManualB", "i", RW},
    {"NoiseReduction", "ay", RO}, {"NoiseReductionTuning", "i", RW},
    {"Stabilizer", "ay", RW}, {"StabilizerType", "ay", RW},
    {"FocusTraceCurve", "ay", RW}, {"DynamicContrastEnabled", "ay", RW},
    {"DynamicContrastLevel", "i", RW}, {"Exposure", "ay", RW},
    {"Brightness", "i", RW}, {"MaxExposureTime", "i", RW}, {"ExposureWindow", "ay", RW},
    {"CustomExposureWindow.C0.Top", "i", RW}, {"CustomExposureWindow.C0.Bottom", "i", RW},
    {"CustomExposureWindow.C0.Left", "i", RW}, {"CustomExposureWindow.C0.Right", "i", RW},
    {"MaxGain", "i", RW}, {"MaxAutoGainControlNormal", "i", RW},
    {"WhiteBalance", "ay", RW}, {"WhiteBalanceWindow", "ay", RW},
    {"Sharpness", "i", RW}, {"ColorLevel", "i", RW}, {"IrCutFilter", "ay", RW},
    {"ShiftLevel", "i", RW}, {"AutoIrCutFilterHysteresis", "i", RW},
    {"FocusMode", "i", RW}, {"FocusDrive", "ay", RW}, {"FocusW0", "ay", RW},
    {"SensorProtector", "ay", RW}, {"WhiteBalanceManual", "ay", RW},
    {"ExposureProgress", "i", RO}, {"VignettingCorrection", "ay", RW},
    {"AberrationCorrection", "ay", RW}, {"OnvifExposurePriorityNormal", "i", RW},
};

std::string args_of(GDBusArgInfo **args)
{
    std::string s;
    for (; args != nullptr && *args != nullptr; ++args)
        s += std::string(s.empty() ? "" : " ") + (*args)->name + ":" + (*args)->signature;
    return s;
}

TEST_F(ImcControlService, DocumentDeclaresEveryPropertyAsItIsServed)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(imc_control_introspection_xml(), &error);
    ASSERT_NE(node, nullptr) << error->message;
    EXPECT_STREQ(node->path, "/com/tavik/ImcControl");
    ASSERT_NE(node->interfaces[0], nullptr);
    EXPECT_EQ(node->interfaces[1], nullptr);
    const GDBusInterfaceInfo *iface = node->interfaces[0];
    EXPECT_STREQ(iface->name, IFACE);

    size_t n = 0;
    for (GDBusPropertyInfo **p = iface->properties; p != nullptr && *p != nullptr; ++p, ++n) {
        ASSERT_LT(n, std::size(declared_properties)) << (*p)->name;
        const DeclaredProperty &want = declared_properties[n];
        EXPECT_STREQ((*p)->name, want.name) << "position " << n;
        EXPECT_STREQ((*p)->signature, want.type) << want.name;
        EXPECT_EQ((*p)->flags, want.flags) << want.name;
        // Every property reads, and as the type the document promises.
        g_autoptr(GError) get_error = nullptr;
        g_autoptr(GVariant) value = handle_get_property((*p)->name, &get_error);
        ASSERT_NE(value, nullptr) << (*p)->name << ": " << get_error->message;
        EXPECT_STREQ(g_variant_get_type_string(value), want.type) << want.name;
    }
    EXPECT_EQ(n, 38u);

    const char *methods[][3] = {
        {"SetPower", "power:d", ""},
        {"GetRanges", "interface_name:s properties:as", "ranges:a{sv}"},
        {"SetProperties", "interface_name:s properties:a(sv)", "status:b"},
    };
    size_t m = 0;
    for (GDBusMethodInfo **mi = iface->methods; mi != nullptr && *mi != nullptr; ++mi, ++m) {
        ASSERT_LT(m, std::size(methods));
        EXPECT_STREQ((*mi)->name, methods[m][0]);
        EXPECT_EQ(args_of((*mi)->in_args), methods[m][1]) << methods[m][0];
        EXPECT_EQ(args_of((*mi)->out_args), methods[m][2]) << methods[m][0];
    }
    EXPECT_EQ(m, 3u);
}

TEST_F(ImcControlService, ConstantsReadAsTheirValueAndAcceptOnlyIt)
{
    imc_ready(true);
    EXPECT_EQ(get("NoiseReduction").value, "b'on'");
    EXPECT_EQ(get("StabilizerType").value, "b'limitedOptical'");
    EXPECT_EQ(get("WhiteBalanceWindow").value, "b'auto'");
    EXPECT_EQ(get("MaxAutoGainControlNormal").value, "50");

    EXPECT_TRUE(set("NoiseReduction", bytes("on")).ok);
    EXPECT_TRUE(set("StabilizerType", text("limitedOptical")).ok);
    EXPECT_TRUE(set("MaxAutoGainControlNormal", num(50)).ok);
    EXPECT_TRUE(log.lines().empty()) << log.text();

    EXPECT_EQ(set("NoiseReduction", bytes("off")).error, "Invalid value for property: NoiseReduction");
    EXPECT_EQ(log.count(set_refusal("Invalid value for property: NoiseReduction")), 1) << log.text();
    EXPECT_EQ(set("MaxAutoGainControlNormal", num(51)).error,
              "Invalid value for property: MaxAutoGainControlNormal");
    // The int constant is compared as an int: its digits as text never match.
    EXPECT_EQ(set("MaxAutoGainControlNormal", bytes("50")).error,
              "Invalid value for property: MaxAutoGainControlNormal");
    EXPECT_EQ(set("WhiteBalanceWindow", num(0)).error, "Invalid value for property: WhiteBalanceWindow");

    EXPECT_EQ(get("NoiseReduction").value, "b'on'");
    EXPECT_TRUE(changes().empty());
    EXPECT_TRUE(jobs().empty());
}

TEST_F(ImcControlService, ParametersOutsideTheInterfaceAreUnknownProperties)
{
    for (const char *name : {"CaptureMode", "CaptureFrequency", "ImageRotation", "exposure", "NoSuchThing"}) {
        log.clear();
        const std::string message = std::string("Unknown property: ") + name;
        EXPECT_EQ(get(name).error, message);
        EXPECT_EQ(log.count(get_refusal(message)), 1) << log.text();
        EXPECT_EQ(set(name, num(2)).error, message);
        EXPECT_EQ(log.count(set_refusal(message)), 1) << log.text();
    }
    EXPECT_EQ(param(PARAM_CAPTURE_MODE), "1");
    EXPECT_EQ(param(PARAM_IMAGE_ROTATION), "0");
    EXPECT_TRUE(changes().empty());
}

TEST_F(ImcControlService, AbsentStringValueFailsTheRead)
{
    // Before the table is filled every string value is absent.
    param_reset_for_tests();
    EXPECT_EQ(get("Exposure").error, "Failed getting string value Exposure");
    EXPECT_EQ(log.count(get_refusal("Failed getting string value Exposure")), 1) << log.text();
}

TEST_F(ImcControlService, ValuesOfOtherTypesAreUnsupported)
{
    imc_ready(true);
    EXPECT_EQ(set("Brightness", g_variant_new_uint32(60)).error, "Unsupported type: u");
    EXPECT_EQ(log.count(set_refusal("Unsupported type: u")), 1) << log.text();
    EXPECT_EQ(set("Exposure", g_variant_new("(s)", "iris")).error, "Unsupported type: (s)");
    EXPECT_EQ(set("NoiseReduction", g_variant_new_boolean(TRUE)).error, "Unsupported type: b");
    EXPECT_EQ(param(PARAM_BRIGHTNESS), "50");
    EXPECT_EQ(param(PARAM_EXPOSURE), "b'auto'");
    EXPECT_TRUE(jobs().empty());
}

// A byte string goes into the configuration file and into C strings: it
// must be UTF-8 text without an embedded NUL or another control character
// and of a sane length. The NUL that C senders put at the end is not part
// of the value.
TEST_F(ImcControlService, ByteStringsMustBeText)
{
    imc_ready(true);
    EXPECT_TRUE(set("WhiteBalance", raw_bytes(std::string("sodium\0", 7))).ok);
    EXPECT_EQ(param(PARAM_WHITE_BALANCE), "b'sodium'");
    EXPECT_EQ(changes(), (std::vector<Change>{{"WhiteBalance", "b'sodium'"}}));
    clear_changes();
    clear_jobs();

    const std::string refused[] = {
        std::string("merc\0ury", 8),
        std::string("merc\0ury\0", 9),
        "merc\xff\xfeury",
        std::string(4097, 'a'),
        "\f",  // the file would give back an empty value
        "mercury\v",
        "merc\x1bury",
        "merc\x7fury",
    };
    for (const std::string &value : refused) {
        EXPECT_EQ(set("WhiteBalance", raw_bytes(value)).error, "Invalid value for property: WhiteBalance")
            << value.size() << " bytes";
    }
    EXPECT_EQ(log.count(set_refusal("Invalid value for property: WhiteBalance")), 8) << log.text();
    EXPECT_EQ(param(PARAM_WHITE_BALANCE), "b'sodium'");
    EXPECT_EQ(conf(SENSOR, "WhiteBalance"), "sodium");
    EXPECT_TRUE(changes().empty());
    EXPECT_TRUE(jobs().empty());

    // Tabs and line breaks the file escapes and gives back: taken (the
    // rig's test restarts the daemon on such values).
    EXPECT_TRUE(set("SensorProtector", raw_bytes("two\tcolumns\r\nlines")).ok);

    // 4096 bytes is the longest value taken.
    EXPECT_TRUE(set("SensorProtector", raw_bytes(std::string(4096, 'c'))).ok);
    EXPECT_EQ(conf(SENSOR, "SensorProtector"), std::string(4096, 'c'));
}

TEST_F(ImcControlService, SetPropertiesTriesEveryEntryAndAnswersTheFirstError)
{
    imc_ready(true);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) none = g_variant_ref_sink(g_variant_new_array(G_VARIANT_TYPE("(sv)"), nullptr, 0));
    g_autoptr(GVariant) empty = dbus_set_properties(IFACE, none, &error);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(show(empty), "(true,)");

    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sv)"));
    g_variant_builder_add(&list, "(sv)", "Brightness", num(70));
    g_variant_builder_add(&list, "(sv)", "Sharpness", bytes("sharp"));  // wrong type: taken, not stored
    g_variant_builder_add(&list, "(sv)", "WhiteBalance", text("sodium"));
    g_variant_builder_add(&list, "(sv)", "NoSuchThing", num(1));
    g_variant_builder_add(&list, "(sv)", "Exposure", bytes("sunny"));
    g_variant_builder_add(&list, "(sv)", "ColorLevel", num(20));
    g_autoptr(GVariant) entries = g_variant_ref_sink(g_variant_builder_end(&list));
    g_autoptr(GVariant) reply = dbus_set_properties(IFACE, entries, &error);
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error->message, "Unknown property: NoSuchThing");
    EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_FAILED));
    EXPECT_EQ(changes(), (std::vector<Change>{
                             {"Brightness", "70"}, {"WhiteBalance", "b'sodium'"}, {"ColorLevel", "20"}}));
    EXPECT_EQ(jobs(), (std::vector<int>{13, 24, 29}));
    EXPECT_EQ(param(PARAM_SHARPNESS), "40");
    EXPECT_EQ(param(PARAM_EXPOSURE), "b'auto'");
}

// Restoring the camera's settings sets some 34 values in one call: the
// configuration file goes to the flash once, after every entry is stored,
// and the changes are announced after it, in the entries' order, side
// effects where they happen. A single Set is written at once.
TEST_F(ImcControlService, SetPropertiesWritesTheFileOnceThenAnnouncesInEntryOrder)
{
    imc_ready(true);
    constexpr const char window[] = "0.199219,0.199219:0.500000,0.199219:0.500000,0.500000:0.199219,0.500000";
    ASSERT_TRUE(set("FocusW0", bytes(window)).ok);
    clear_changes();
    clear_jobs();
    // Written anew: the keys follow in the order they first changed.
    ASSERT_EQ(g_unlink(root.path(OPTAD_CONF_PATH).c_str()), 0);
    test::FileReplacements writes(root.path(OPTAD_CONF_PATH));

    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sv)"));
    g_variant_builder_add(&list, "(sv)", "WhiteBalanceManual", bytes("yes"));
    g_variant_builder_add(&list, "(sv)", "Brightness", num(70));
    g_variant_builder_add(&list, "(sv)", "WhiteBalance", bytes("sodium"));  // ends manual white balance
    g_variant_builder_add(&list, "(sv)", "FocusW0", bytes("0.1992,0.1992:0.5,0.1992:0.5,0.5:0.1992,0.5"));
    g_variant_builder_add(&list, "(sv)", "Exposure", bytes("iris"));
    g_variant_builder_add(&list, "(sv)", "Sharpness", num(40));  // unchanged
    g_variant_builder_add(&list, "(sv)", "ColorLevel", num(20));
    g_autoptr(GVariant) entries = g_variant_ref_sink(g_variant_builder_end(&list));
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = dbus_set_properties(IFACE, entries, &error);
    ASSERT_NE(reply, nullptr) << error->message;
    EXPECT_EQ(show(reply), "(true,)");

    EXPECT_EQ(writes.count(), 1);
    EXPECT_EQ(root.read(OPTAD_CONF_PATH), "[General]\n"
                                          "Version=1\n"
                                          "\n"
                                          "[ImageSource.I0.Sensor]\n"
                                          "WhiteBalanceManual=no\n"
                                          "Brightness=70\n"
                                          "WhiteBalance=sodium\n"
                                          "Exposure=iris\n"
                                          "MaxExposureTime=33333\n"
                                          "ExposureProgress=1\n"
                                          "ColorLevel=20\n");
    EXPECT_EQ(changes(), (std::vector<Change>{{"WhiteBalanceManual", "b'yes'"},
                                              {"Brightness", "70"},
                                              {"WhiteBalance", "b'sodium'"},
                                              {"WhiteBalanceManual", "b'no'"},
                                              {"FocusW0", std::string("b'") + window + "'"},
                                              {"Exposure", "b'iris'"},
                                              {"MaxExposureTime", "33333"},
                                              {"ExposureProgress", "1"},
                                              {"ColorLevel", "20"}}));
    EXPECT_EQ(jobs(), (std::vector<int>{25, 13, 24, 12, 29}));

    clear_changes();
    EXPECT_TRUE(set("Sharpness", num(10)).ok);
    EXPECT_EQ(writes.count(), 2);
    EXPECT_EQ(conf(SENSOR, "Sharpness"), "10");
    EXPECT_EQ(changes(), (std::vector<Change>{{"Sharpness", "10"}}));
}

TEST_F(ImcControlService, SetPropertiesForAnotherInterfaceAnswersNothing)
{
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sv)"));
    g_variant_builder_add(&list, "(sv)", "Brightness", num(70));
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) entries = g_variant_ref_sink(g_variant_builder_end(&list));
    g_autoptr(GVariant) reply = dbus_set_properties("com.example.Other", entries, &error);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(error, nullptr);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u) << log.text();
    EXPECT_EQ(lines[0].priority, LOG_ERR);
    EXPECT_EQ(lines[0].text,
              "DBus API[dbus_set_properties]: cannot get properties for unknown interface com.example.Other\n");
    EXPECT_EQ(param(PARAM_BRIGHTNESS), "50");
}

// While the IMC is not started nothing is queued: the start-up parameter
// sync sends every value anyway. The values are still stored, persisted and
// announced, whichever handler takes them.
TEST_F(ImcControlService, WithTheImcNotReadyWritesStoreButQueueNothing)
{
    set_lens_focus_switch(1);
    publish_current_shutter_index(11);  // 1/8 s
    imc_ready(false);
    struct Write {
        const char *property;
        GVariant *value;
        int id;
        const char *group;
        const char *stored;
    } writes[] = {
        {"Brightness", num(77), PARAM_BRIGHTNESS, SENSOR, "77"},
        {"Exposure", bytes("iris"), PARAM_EXPOSURE, SENSOR, "iris"},
        {"OnvifExposurePriorityNormal", num(0), PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, SENSOR, "0"},
        {"MaxExposureTime", num(66666), PARAM_MAX_EXPOSURE_TIME, SENSOR, "66666"},
        {"CustomExposureWindow.C0.Top", num(1000), PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, SENSOR, "1000"},
        {"WhiteBalance", bytes("mercury"), PARAM_WHITE_BALANCE, SENSOR, "mercury"},
        {"IrCutFilter", bytes("no"), PARAM_IR_CUT_FILTER, "ImageSource.I0.DayNight", "no"},
        {"FocusMode", num(5), PARAM_FOCUS_MODE, SENSOR, "5"},
        {"FocusDrive", bytes("-bigstep"), PARAM_FOCUS_DRIVE, SENSOR, "-bigstep"},
    };
    for (const Write &w : writes) {
        clear_changes();
        const char *name = param_get_name(w.id);
        EXPECT_TRUE(set(w.property, w.value).ok) << w.property;
        EXPECT_EQ(conf(w.group, name), w.stored) << w.property;
        const auto heard = changes();
        bool announced = false;
        for (const Change &c : heard)
            announced = announced || c.name == name;
        EXPECT_TRUE(announced) << w.property;
    }
    EXPECT_TRUE(jobs().empty());

    imc_ready(true);
    EXPECT_TRUE(set("Brightness", num(78)).ok);
    EXPECT_EQ(jobs(), std::vector<int>{13});
}

// At start, before the service is on the bus: the bus here is one that is
// not there, and the request for the name is withdrawn before it could
// have been answered.
TEST_F(ImcControlService, UnknownStoredExposureIsResetToAutoAtStart)
{
    root.write(OPTAD_CONF_PATH, "[General]\nVersion=1\n[ImageSource.I0.Sensor]\nExposure=sunny\n");
    param_reset_for_tests();
    param_init();
    log.clear();
    const char *bus = g_getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved_bus = bus != nullptr ? bus : "";
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + root.path("/no-bus")).c_str(), TRUE);
    imc_control_start();
    imc_control_stop();
    if (bus != nullptr)
        g_setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_bus.c_str(), TRUE);
    else
        g_unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    EXPECT_EQ(log.count("ERROR:optad:imc_control_dbus:validate_exposure_config - Unknown Exposure - "
                        "Resetting to auto!\n"),
              1)
        << log.text();
    EXPECT_EQ(get("Exposure").value, "b'auto'");
    EXPECT_EQ(conf(SENSOR, "Exposure"), "auto");
    // auto: the remembered maximum exposure time, and its choices offered.
    EXPECT_EQ(param(PARAM_MAX_EXPOSURE_TIME), "33333");
    bool written = false;
    root.read(LEGACY_MAXSHUTTER_PATH, &written);
    EXPECT_TRUE(written);
}

TEST_F(ImcControlService, StoredMaxExposureOutsideTheMapIsReset)
{
    root.write(OPTAD_CONF_PATH,
               "[General]\nVersion=1\n[ImageSource.I0.Sensor]\nExposure=flickerfree\nMaxExposureTime=40000\n");
    param_reset_for_tests();
    param_init();
    log.clear();
    validate_exposure_config();
    EXPECT_EQ(log.count("ERROR:optad:imc_control_dbus:validate_exposure_config - Invalid Max Exposure Time - "
                        "Resetting to default!\n"),
              1)
        << log.text();
    EXPECT_EQ(param(PARAM_MAX_EXPOSURE_TIME), "20000");  // flickerfree at 50 Hz
    EXPECT_EQ(param(PARAM_EXPOSURE), "b'flickerfree'");

    // A consistent configuration is left alone.
    log.clear();
    validate_exposure_config();
    EXPECT_TRUE(log.lines().empty()) << log.text();
    EXPECT_EQ(param(PARAM_MAX_EXPOSURE_TIME), "20000");
}

// The D-Bus thread registers the service's listener while the main loop may
// already be changing parameters. A listener registered meanwhile must hear
// the changes made after its registration, and no change may call a
// half-registered slot.
std::atomic<int> listener_calls[6];
template <int N>
void counting_listener(int, const char *, GVariant *value)
{
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32))
        listener_calls[N].fetch_add(1);
}

TEST_F(ImcControlService, ListenerRegisteredWhileChangesAreAnnounced)
{
    for (std::atomic<int> &c : listener_calls)
        c.store(0);
    std::atomic<bool> done{false};
    std::thread registering([&] {
        const param_changed_cb listeners[] = {counting_listener<0>, counting_listener<1>, counting_listener<2>,
                                              counting_listener<3>, counting_listener<4>, counting_listener<5>};
        for (param_changed_cb cb : listeners) {
            param_register_changed_cb(cb);
            std::this_thread::yield();
        }
        done.store(true);
    });
    int changes_made = 0;
    for (int i = 0; !done.load() || i < 20; i++, changes_made++)
        EXPECT_EQ(param_set_int_value(PARAM_BRIGHTNESS, 10 + i % 2), PARAM_SET_CHANGED);
    registering.join();

    EXPECT_EQ(param_set_int_value(PARAM_BRIGHTNESS, 99), PARAM_SET_CHANGED);
    for (int n = 0; n < 6; n++) {
        EXPECT_GE(listener_calls[n].load(), 1) << "listener " << n;
        EXPECT_LE(listener_calls[n].load(), changes_made + 1) << "listener " << n;
    }
    // Registered earlier, heard at least as much.
    for (int n = 1; n < 6; n++)
        EXPECT_GE(listener_calls[n - 1].load(), listener_calls[n].load()) << "listener " << n;
    EXPECT_EQ(changes().size(), static_cast<size_t>(changes_made + 1));
}

}  // namespace
}  // namespace optad
