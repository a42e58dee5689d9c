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
