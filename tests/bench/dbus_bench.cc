// The parameter service's cost on the rig, as its callers see it: the real
// optad, the private system bus, the mocked services.
//
//   build/host/tests/dbus_bench [calls]      (1000 by default)
//
// For each kind of call: median and 99th percentile of the round trip, in
// microseconds, over `calls` calls:
//   get         Properties.Get of one int property
//   get_ranges  GetRanges of every property with a parameter behind it (the
//               four constant properties have no range: naming one fails
//               the whole call)
//   set         SetProperties of one int parameter until its
//               PropertiesChanged has arrived (includes the rewrite of the
//               configuration file)
//   set_all     SetProperties of every settable property at once, each with
//               a new value (as when the camera's settings are restored),
//               until the PropertiesChanged of its last entry has arrived
// and the daemon's resident memory after start-up and after the calls.
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace optad::test {
namespace {

int calls_to_make = 1000;

// Round trips of fn in microseconds.
std::vector<double> measure(int n, const std::function<bool()> &fn)
{
    std::vector<double> us;
    us.reserve(n);
    for (int i = 0; i < n; i++) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!fn()) {
            ADD_FAILURE() << "call " << i << " failed";
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    return us;
}

void report(const char *what, std::vector<double> us)
{
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    const double median = us[us.size() / 2];
    const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    std::printf("%-11s %6zu calls  median %8.0f us  p99 %8.0f us  max %8.0f us\n", what, us.size(), median, p99,
                us.back());
}

// Two values of every property a configuration restore writes, in the
// interface's order; every call sends the other column, so that each
// parameter changes. Both columns are consistent in themselves (the
// MaxExposureTime of each is allowed for its Exposure). Left out: the two
// read-only properties (NoiseReduction, ExposureProgress) and FocusDrive, a
// command the daemon refuses while the unpowered module's lens counts as
// switched to manual focus.
struct RestoredValue {
    const char *name;
    const char *a;  // GVariant text
    const char *b;
};
constexpr RestoredValue restored_values[] = {
    {"Iris", "5", "6"},
    {"Shutter", "20000", "10000"},
    {"Gain", "5", "6"},
    {"WhiteBalanceManualR", "60", "61"},
    {"WhiteBalanceManualB", "50", "51"},
    {"NoiseReductionTuning", "40", "41"},
    {"Stabilizer", "b'on'", "b'off'"},
    {"StabilizerType", "b'limitedOptical'", "b'limitedOptical'"},
    {"FocusTraceCurve", "b'normal'", "b'850nm'"},
    {"DynamicContrastEnabled", "b'yes'", "b'no'"},
    {"DynamicContrastLevel", "3", "4"},
    {"Exposure", "b'auto'", "b'iris'"},
    {"Brightness", "40", "41"},
    {"MaxExposureTime", "66666", "40000"},
    {"ExposureWindow", "b'center'", "b'full'"},
    {"CustomExposureWindow.C0.Top", "1000", "1001"},
    {"CustomExposureWindow.C0.Bottom", "8000", "8001"},
    {"CustomExposureWindow.C0.Left", "1000", "1001"},
    {"CustomExposureWindow.C0.Right", "8000", "8001"},
    {"MaxGain", "54", "60"},
    {"MaxAutoGainControlNormal", "50", "50"},
    {"WhiteBalance", "b'sodium'", "b'auto'"},
    {"WhiteBalanceWindow", "b'auto'", "b'auto'"},
    {"Sharpness", "30", "31"},
    {"ColorLevel", "30", "31"},
    {"IrCutFilter", "b'no'", "b'auto'"},
    {"ShiftLevel", "30", "31"},
    {"AutoIrCutFilterHysteresis", "1", "3"},
    {"FocusMode", "1", "1"},
    {"FocusW0", "b'0.25,0.25:0.5,0.25:0.5,0.5:0.25,0.5'", "b'0.5,0.5:0.75,0.5:0.75,0.75:0.5,0.75'"},
    {"SensorProtector", "b'close'", "b'open'"},
    {"WhiteBalanceManual", "b'yes'", "b'no'"},
    {"VignettingCorrection", "b'no'", "b'yes'"},
    {"AberrationCorrection", "b'no'", "b'yes'"},
    {"OnvifExposurePriorityNormal", "0", "100"},
};

GVariant *restore_list(bool column_a)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(sv)"));
    for (const RestoredValue &v : restored_values) {
        g_autoptr(GError) error = nullptr;
        GVariant *value = g_variant_parse(nullptr, column_a ? v.a : v.b, nullptr, nullptr, &error);
        if (value == nullptr) {
            ADD_FAILURE() << v.name << ": " << error->message;
            continue;
        }
        g_variant_builder_add(&b, "(sv)", v.name, value);
        g_variant_unref(value);
    }
    return g_variant_ref_sink(g_variant_new("(sa(sv))", IMC_CONTROL_INTERFACE, &b));
}

// Whether the signal announces the property.
bool announces(GVariant *body, const char *name)
{
    g_autoptr(GVariant) changed = g_variant_get_child_value(body, 1);
    g_autoptr(GVariant) value = g_variant_lookup_value(changed, name, nullptr);
    return value != nullptr;
}

long resident_kib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

TEST(DbusBench, ServiceRoundTrips)
{
    // Without a grant: a power-up attempt would hold the job-list mutex,
    // and the parameter calls with it, for seconds.
    DaemonRig rig(peers_without_grant());
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "Created datacache"));
    rig.iterate_until([] { return false; }, 500);
    std::printf("optad resident after start-up: %ld KiB\n", resident_kib(rig.optad()->pid()));

    report("get", measure(calls_to_make, [&] {
               g_autoptr(GVariant) v = imc_get(rig, "Brightness");
               return v != nullptr;
           }));

    GVariantBuilder names;
    g_variant_builder_init(&names, G_VARIANT_TYPE("as"));
    for (const std::string &p : interface_property_names) {
        if (p != "NoiseReduction" && p != "StabilizerType" && p != "WhiteBalanceWindow" &&
            p != "MaxAutoGainControlNormal")
            g_variant_builder_add(&names, "s", p.c_str());
    }
    g_autoptr(GVariant) names_list = g_variant_ref_sink(g_variant_builder_end(&names));
    report("get_ranges", measure(calls_to_make, [&] {
               g_autoptr(GError) error = nullptr;
               g_autoptr(GVariant) r =
                   rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, "GetRanges",
                            g_variant_new("(s@as)", IMC_CONTROL_INTERFACE, names_list), &error);
               if (r == nullptr)
                   ADD_FAILURE() << error_text(error);
               return r != nullptr;
           }));

    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    int value = 0;
    report("set", measure(calls_to_make, [&] {
               const size_t before = changed.count();
               value = value == 60 ? 61 : 60;
               GVariantBuilder b;
               g_variant_builder_init(&b, G_VARIANT_TYPE("a(sv)"));
               g_variant_builder_add(&b, "(sv)", "Sharpness", g_variant_new_int32(value));
               g_autoptr(GVariant) r =
                   rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, "SetProperties",
                            g_variant_new("(sa(sv))", IMC_CONTROL_INTERFACE, &b));
               return r != nullptr && changed.wait_for(before + 1, scaled_ms(5000));
           }));

    // The last entry that changes in every call: once its announcement is
    // here, the call's whole work is done.
    const char *last = "OnvifExposurePriorityNormal";
    g_autoptr(GVariant) list_a = restore_list(true);
    g_autoptr(GVariant) list_b = restore_list(false);
    bool column_a = true;
    report("set_all", measure(calls_to_make, [&] {
               changed.clear();
               g_autoptr(GError) error = nullptr;
               g_autoptr(GVariant) r = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE,
                                                "SetProperties", column_a ? list_a : list_b, &error);
               column_a = !column_a;
               if (r == nullptr) {
                   ADD_FAILURE() << error_text(error);
                   return false;
               }
               return rig.iterate_until(
                   [&] { return changed.count() > 0 && announces(changed.body(changed.count() - 1), last); },
                   scaled_ms(5000));
           }));
    std::printf("optad resident after the calls: %ld KiB\n", resident_kib(rig.optad()->pid()));
}

}  // namespace
}  // namespace optad::test

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1)
        optad::test::calls_to_make = std::max(1, std::atoi(argv[1]));
    return RUN_ALL_TESTS();
}
