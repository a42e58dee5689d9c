// The unmodified optad on the rig with the camera's other services: the
// power budget, the image pipeline, the rotation and the overlay services,
// present, absent, changing their minds, hanging, late or restarted.
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace optad::test {
namespace {

constexpr const char OVERLAYS_CLEARED[] =
    "Unset ('PTZ_BLOCK_UPGRADE',)\n"
    "Unset ('PTZ_TEMPERATURE_WARMING',)\n"
    "Unset ('VIDEO_NOT_ENOUGH_POWER_CLASS4',)\n";

TEST(PowerBudget, TooLittlePowerRaisesTheOverlayOnceAndALaterGrantPowersUp)
{
    DaemonRig rig(all_peers({{Peer::Wattd, R"({"grant": 15.99})"}}));
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "optad:power_up - wrong POE class, power=15.99w, needed 16.00w"));
    MockPeer &captiond = rig.peer(Peer::Captiond);
    ASSERT_TRUE(rig.iterate_until([&] { return captiond.method_calls("Set").size() == 1; }, scaled_ms(5000)));
    EXPECT_EQ(captiond.calls_text(), std::string(OVERLAYS_CLEARED) +
                                         "Unset ('PTZ_BLOCK_UPGRADE',)\n"
                                         "Unset ('PTZ_TEMPERATURE_WARMING',)\n"
                                         "Set ('VIDEO_NOT_ENOUGH_POWER_CLASS4', uint32 0)\n");

    // The check repeats every 100 ms; the message and the overlay do not.
    EXPECT_EQ(optad_log_count(rig, "JT_CHECK_POWER: Still not enough power..."), 1);
    rig.iterate_until([] { return false; }, 1000);
    EXPECT_EQ(optad_log_count(rig, "wrong POE class"), 1);
    EXPECT_EQ(optad_log_count(rig, "Not enough POE power"), 1);
    EXPECT_EQ(optad_log_count(rig, "Going to run id=0!"), 0);
    EXPECT_EQ(captiond.method_calls("Set").size(), 1u);

    captiond.clear_calls();
    g_autoptr(GVariant) r = rig.peer(Peer::Wattd).control("Grant", g_variant_new("(d)", 20.0));
    ASSERT_TRUE(optad_logged(rig, "Got enough power!"));
    EXPECT_TRUE(optad_logged(rig, "Going to run id=0!"));
    EXPECT_TRUE(rig.iterate_until([&] { return captiond.calls_text() == OVERLAYS_CLEARED; }, scaled_ms(5000)))
        << captiond.calls_text();
}

// A refused registration or power request stops the start: the module is
// never powered, but the parameters are still served.
TEST(PowerBudget, AServiceThatRefusesTheRegistrationOrTheRequestStopsTheStartButNotTheService)
{
    const struct {
        const char *wattd;
        const char *reported;  // the D-Bus error, as logged
        const char *failed;
        size_t requests;
    } refusals[] = {
        {R"({"register_error": "org.freedesktop.DBus.Error.AccessDenied"})",
         "power_control_dbus_register dbus call reported error", "Failed to register power control dbus", 0},
        {R"({"request_error": "org.freedesktop.DBus.Error.LimitsExceeded"})",
         "power_control_dbus_request_power dbus reported error", "Failed to request power", 1},
    };
    for (const auto &r : refusals) {
        SCOPED_TRACE(r.failed);
        DaemonRig rig(all_peers({{Peer::Wattd, r.wattd}}));
        ASSERT_TRUE(rig.ok());
        ASSERT_TRUE(optad_logged(rig, r.reported));
        EXPECT_TRUE(optad_logged(rig, r.failed));
        EXPECT_EQ(optad_log_count(rig, r.failed), 1);
        EXPECT_EQ(rig.peer(Peer::Wattd).method_calls("Register").size(), 1u);
        EXPECT_EQ(rig.peer(Peer::Wattd).method_calls("RequestPower").size(), r.requests);
        EXPECT_EQ(optad_log_count(rig, "Going to run id="), 0);
        // Still serving its parameters, and still running.
        EXPECT_EQ(imc_get_text(rig, "Brightness"), "50");
        EXPECT_TRUE(rig.optad()->running());
    }
}

TEST(PowerBudget, ADcBoardNeedsNoGrant)
{
    DaemonRig rig(peers_without_grant(), Board::DC);
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "Got enough power!"));
    EXPECT_TRUE(rig.iterate_until([&] { return rig.peer(Peer::Captiond).calls_text() == OVERLAYS_CLEARED; },
                                  scaled_ms(5000)))
        << rig.peer(Peer::Captiond).calls_text();
    EXPECT_EQ(optad_log_count(rig, "wrong POE class"), 0);
}

TEST(PowerBudget, WithoutTheServiceNoPowerIsRequested)
{
    std::vector<PeerStart> peers = {{Peer::Framerd, ""}, {Peer::Rotation, ""}, {Peer::Captiond, ""}};
    DaemonRig rig(peers);
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "Failed to register power control dbus"));
    EXPECT_EQ(optad_log_count(rig, "Going to run id="), 0);
    EXPECT_EQ(imc_get_text(rig, "Exposure"), "b'auto'");
}

TEST(ImagePipeline, FollowsCaptureModeAndFrequency)
{
    DaemonRig rig(peers_without_grant({{Peer::Framerd, R"({"CaptureMode": 2})"}}));
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "Created datacache"));
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "CaptureMode"), "2");

    MockPeer &framerd = rig.peer(Peer::Framerd);
    g_autoptr(GVariant) r1 = framerd.control("SetCaptureMode", g_variant_new("(i)", 3));
    EXPECT_TRUE(rig.iterate_until([&] { return conf_value(rig, "ImageSource.I0.Sensor", "CaptureMode") == "3"; },
                                  scaled_ms(5000)));

    // In flickerfree mode the longest exposure follows the mains: half a
    // period, 1/120 s at 60 Hz; the max-shutter choices change with it.
    ASSERT_EQ(imc_set_properties(rig, "[('Exposure', <b'flickerfree'>)]"), "(true,)");
    ASSERT_EQ(imc_get_text(rig, "MaxExposureTime"), "20000");
    const std::string maxshutter_50 =
        rig.root().read("/etc/legacyconfig/legacymappings.d/optad_maxshutter.xml");
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    g_autoptr(GVariant) r2 = framerd.control("SetCaptureFrequency", g_variant_new("(s)", "60Hz"));
    ASSERT_TRUE(changed.wait_for(1, scaled_ms(5000)));
    EXPECT_EQ(changed.text(0), "('com.tavik.Configuration.Legacy', {'MaxExposureTime': <16666>}, @as [])");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0", "CaptureFrequency"), "60Hz");
    const std::string maxshutter_60 =
        rig.root().read("/etc/legacyconfig/legacymappings.d/optad_maxshutter.xml");
    EXPECT_NE(maxshutter_60, maxshutter_50);
    EXPECT_NE(maxshutter_60.find("16666"), std::string::npos);
    // CaptureFrequency and CaptureMode are not properties of the service:
    // their changes are stored, not announced.
    EXPECT_FALSE(changed.wait_for(2, scaled_ms(300)));

    // Bodies of another shape, and keys it does not follow, change nothing.
    // Each offers capture mode 2 while 3 is stored, so taking one would
    // show: the changes without their invalidated list, a bare name, an
    // unknown key.
    const char *ignored[] = {
        "('org.freedesktop.DBus.Properties', 'PropertiesChanged', 'sa{sv}', "
        "[<'com.tavik.Configuration.Legacy'>, <{'CaptureMode': <2>}>])",
        "('org.freedesktop.DBus.Properties', 'PropertiesChanged', 'ss', "
        "[<'com.tavik.Configuration.Legacy'>, <'CaptureMode'>])",
        "('org.freedesktop.DBus.Properties', 'PropertiesChanged', 'sa{sv}as', "
        "[<'com.tavik.Configuration.Legacy'>, <{'Foo': <2>}>, <@as []>])",
    };
    for (const char *signal : ignored) {
        g_autoptr(GVariant) r = framerd.control("EmitSignal", g_variant_new_parsed(signal));
        ASSERT_NE(r, nullptr) << signal;
    }
    // Then a change it follows, of the frequency: once it is stored (and its
    // longest exposure announced), the signals before it have been handled.
    g_autoptr(GVariant) r3 = framerd.control("SetCaptureFrequency", g_variant_new("(s)", "50Hz"));
    EXPECT_TRUE(changed.wait_for(2, scaled_ms(5000)));
    EXPECT_EQ(changed.text(1), "('com.tavik.Configuration.Legacy', {'MaxExposureTime': <20000>}, @as [])");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0", "CaptureFrequency"), "50Hz");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "CaptureMode"), "3");
    EXPECT_EQ(changed.count(), 2u);
    EXPECT_TRUE(rig.optad()->running());
}

TEST(Rotation, StoresZeroAndOneEightyAndRefusesTheRest)
{
    DaemonRig rig(peers_without_grant({{Peer::Rotation, R"({"Rotation": 180})"}}));
    ASSERT_TRUE(rig.ok());
    EXPECT_TRUE(rig.iterate_until([&] { return conf_value(rig, "Rotation1", "ImageRotation") == "1"; },
                                  scaled_ms(5000)));

    MockPeer &rotation = rig.peer(Peer::Rotation);
    g_autoptr(GVariant) r1 = rotation.control("SetRotation", g_variant_new("(i)", 0));
    EXPECT_TRUE(rig.iterate_until([&] { return conf_value(rig, "Rotation1", "ImageRotation") == "0"; },
                                  scaled_ms(5000)));
    g_autoptr(GVariant) r2 = rotation.control("SetRotation", g_variant_new("(i)", 90));
    EXPECT_TRUE(optad_logged(rig, "ERROR:optad:rotation_service_dbus:handle_rotation_changed - Invalid rotation "
                                  "value: 90"));
    // Of another signature: ignored, without a message. Both say 180 while
    // 0 is stored, so taking either for a rotation would show.
    g_autoptr(GVariant) r3 = rotation.control(
        "EmitSignal",
        g_variant_new_parsed("('com.tavik.Rotation1.Channel', 'RotationChanged', 'u', [<uint32 180>])"));
    g_autoptr(GVariant) r4 = rotation.control(
        "EmitSignal",
        g_variant_new_parsed("('com.tavik.Rotation1.Channel', 'RotationChanged', 'ii', [<180>, <180>])"));
    // A refused rotation after them: once it is logged, both have been
    // handled (signals arrive in order), and it changes nothing itself.
    g_autoptr(GVariant) r5 = rotation.control(
        "EmitSignal", g_variant_new_parsed("('com.tavik.Rotation1.Channel', 'RotationChanged', 'i', [<270>])"));
    ASSERT_TRUE(optad_logged(rig, "Invalid rotation value: 270"));
    EXPECT_EQ(conf_value(rig, "Rotation1", "ImageRotation"), "0");
    EXPECT_EQ(optad_log_count(rig, "Invalid rotation value"), 2);
    // Not a property of the service: nothing is announced for it.
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) v = imc_get(rig, "ImageRotation", &error);
    EXPECT_EQ(v, nullptr);
}

TEST(Overlays, AReappearingOverlayServiceLearnsEveryConditionAgain)
{
    DaemonRig rig(all_peers({{Peer::Wattd, R"({"grant": 10.0})"}}));
    ASSERT_TRUE(rig.ok());
    MockPeer &captiond = rig.peer(Peer::Captiond);
    ASSERT_TRUE(rig.iterate_until([&] { return captiond.method_calls("Set").size() == 1; }, scaled_ms(5000)));
    ASSERT_TRUE(captiond.restart());
    const std::string raised =
        "Unset ('PTZ_BLOCK_UPGRADE',)\n"
        "Unset ('PTZ_TEMPERATURE_WARMING',)\n"
        "Set ('VIDEO_NOT_ENOUGH_POWER_CLASS4', uint32 0)\n";
    EXPECT_TRUE(rig.iterate_until([&] { return captiond.calls_text() == raised; }, scaled_ms(5000)))
        << captiond.calls_text();

    // Gone while the condition clears: the next appearance brings the news.
    ASSERT_TRUE(captiond.stop());
    g_autoptr(GVariant) r = rig.peer(Peer::Wattd).control("Grant", g_variant_new("(d)", 16.0));
    ASSERT_TRUE(optad_logged(rig, "Got enough power!"));
    ASSERT_TRUE(captiond.start());
    EXPECT_TRUE(rig.iterate_until([&] { return captiond.calls_text() == OVERLAYS_CLEARED; }, scaled_ms(5000)))
        << captiond.calls_text();
}

// ---- peers that hang, come late or restart, and a missing temperature script ----

constexpr const char STARTUP_DONE[] =
    "DEBUG:optad:main_loop:JT_WAIT_STREAM - OPTAD state changed to OPTAD_STARTUP_DONE";
constexpr const char FRAMERD_TIMEOUT[] =
    "ERROR:optad:image_control_dbus:image_control_wait_start - Timeout while waiting for framerd to start";
constexpr const char CAPTIOND_FAILED[] = "Could not call captiond: ";

// The longest of five reads of a property, 100 ms apart, in ms.
int64_t slowest_get_ms(Rig &rig)
{
    int64_t slowest = 0;
    for (int i = 0; i < 5; ++i) {
        const int64_t start = g_get_monotonic_time();
        g_autoptr(GError) error = nullptr;
        g_autoptr(GVariant) value = imc_get(rig, "Brightness", &error);
        EXPECT_NE(value, nullptr) << error_text(error);
        slowest = std::max(slowest, (g_get_monotonic_time() - start) / 1000);
        g_usleep(100'000);
    }
    return slowest;
}

// Whether the parameter service answers at once, while a peer keeps the
// daemon waiting.
void expect_answers_at_once(Rig &rig)
{
    EXPECT_LT(slowest_get_ms(rig), scaled_ms(500));
}

// The rig's temperature script: installed or not, and how often it fails.
ModuleSetup temperature_script(bool installed, int failures)
{
    ModuleSetup setup;
    setup.board.temperature_script = installed;
    setup.board.temperature_failures = failures;
    return setup;
}

struct Trouble {
    const char *name;
    std::vector<PeerStart> peers;
    Board board;
    ModuleSetup module;
    // What goes wrong, checked while it lasts, and put right.
    std::function<void(DaemonRig &)> trouble;
    // From then on, how soon the module must be running.
    int running_within_ms;
    // Log lines (fragments) and how often each must appear in the end.
    std::vector<std::pair<std::string, int>> lines;
    // What must hold once it runs.
    std::function<void(DaemonRig &)> after;
};

// What a hung overlay service received, in order: every condition when it
// appeared; the power overlay raised by a grant of too little; cleared by a
// grant of enough; the warming overlay raised while the temperature script
// fails; cleared when it passes.
constexpr const char HUNG_OVERLAY_CALLS[] =
    "Unset ('PTZ_BLOCK_UPGRADE',)\n"
    "Unset ('PTZ_TEMPERATURE_WARMING',)\n"
    "Unset ('VIDEO_NOT_ENOUGH_POWER_CLASS4',)\n"
    "Unset ('PTZ_BLOCK_UPGRADE',)\n"
    "Unset ('PTZ_TEMPERATURE_WARMING',)\n"
    "Set ('VIDEO_NOT_ENOUGH_POWER_CLASS4', uint32 0)\n"
    "Unset ('PTZ_BLOCK_UPGRADE',)\n"
    "Unset ('PTZ_TEMPERATURE_WARMING',)\n"
    "Unset ('VIDEO_NOT_ENOUGH_POWER_CLASS4',)\n"
    "Unset ('PTZ_BLOCK_UPGRADE',)\n"
    "Set ('PTZ_TEMPERATURE_WARMING', uint32 0)\n"
    "Unset ('VIDEO_NOT_ENOUGH_POWER_CLASS4',)\n"
    "Unset ('PTZ_BLOCK_UPGRADE',)\n"
    "Unset ('PTZ_TEMPERATURE_WARMING',)\n"
    "Unset ('VIDEO_NOT_ENOUGH_POWER_CLASS4',)\n";

const Trouble troubles[] = {
    {"HungOverlayService",
     all_peers({{Peer::Wattd, R"({"grant": 15.99})"}, {Peer::Captiond, R"({"hang": true})"}}),
     Board::PoE,
     temperature_script(true, 2),
     [](DaemonRig &rig) {
         ASSERT_TRUE(optad_logged(rig, "Not enough POE power"));
         expect_answers_at_once(rig);
         g_autoptr(GVariant) r = rig.peer(Peer::Wattd).control("Grant", g_variant_new("(d)", 20.0));
     },
     15000,
     {{"Not enough POE power", 1}},
     [](DaemonRig &rig) {
         MockPeer &captiond = rig.peer(Peer::Captiond);
         EXPECT_EQ(captiond.calls_text(), HUNG_OVERLAY_CALLS);
         // Every call waits for its answer still, or has timed out: once the
         // service is gone each has failed, and is logged, once.
         ASSERT_TRUE(captiond.stop());
         EXPECT_TRUE(rig.iterate_until([&] { return optad_log_count(rig, CAPTIOND_FAILED) >= 15; }, scaled_ms(5000)));
         rig.iterate_until([] { return false; }, 300);
         EXPECT_EQ(optad_log_count(rig, CAPTIOND_FAILED), 15);
     }},
    // The real 30 s wait for the image pipeline service: over half a minute.
    {"LateImagePipelineService",
     {{Peer::Wattd, ""}, {Peer::Rotation, ""}, {Peer::Captiond, ""}},
     Board::PoE,
     {},
     [](DaemonRig &rig) {
         EXPECT_EQ(imc_get_text(rig, "Brightness"), "50");
         ASSERT_TRUE(optad_logged(rig, FRAMERD_TIMEOUT, 40000));
         // Still waiting: the service answers, the module is left alone.
         EXPECT_EQ(imc_set_properties(rig, "[('Brightness', <55>)]"), "(true,)");
         EXPECT_EQ(imc_get_text(rig, "Brightness"), "55");
         expect_answers_at_once(rig);
         EXPECT_EQ(rig.peer(Peer::Wattd).calls_text(), "");
         EXPECT_EQ(optad_log_count(rig, "gpio_power_good"), 0);
         EXPECT_EQ(optad_log_count(rig, "Going to run id="), 0);
         ASSERT_TRUE(rig.peer(Peer::Framerd).start());
     },
     15000,
     {{FRAMERD_TIMEOUT, 1}},
     nullptr},
    {"RestartedPowerBudgetService",
     all_peers({{Peer::Wattd, R"({"grant": 15.99})"}}),
     Board::PoE,
     {},
     [](DaemonRig &rig) {
         ASSERT_TRUE(optad_logged(rig, "wrong POE class"));
         // It comes back knowing nobody, and holds its answers a while.
         MockPeer &wattd = rig.peer(Peer::Wattd);
         ASSERT_TRUE(wattd.stop());
         ASSERT_TRUE(wattd.start(R"({"grant": 20.0, "hang": true})"));
         ASSERT_TRUE(rig.iterate_until([&] { return wattd.method_calls("Register").size() == 1; }, scaled_ms(5000)));
         expect_answers_at_once(rig);
         EXPECT_EQ(wattd.method_calls("RequestPower").size(), 0u) << "requested before registered";
         g_autoptr(GVariant) r = wattd.control("SetHang", g_variant_new("(b)", FALSE));
     },
     15000,
     {{"wrong POE class", 1}, {"Failed to register power control dbus", 0}, {"Failed to request power", 0}},
     [](DaemonRig &rig) {
         MockPeer &wattd = rig.peer(Peer::Wattd);
         EXPECT_EQ(wattd.method_calls("Register"),
                   std::vector<std::string>{"('optad', false, 'com.tavik.ImcControl', '/com/tavik/ImcControl', "
                                            "'com.tavik.Configuration.Legacy')"});
         EXPECT_EQ(wattd.method_calls("RequestPower"), std::vector<std::string>{"('optad', 'normal', 16.0)"});
     }},
    {"MissingTemperatureScript",
     all_peers(),
     Board::DC,
     temperature_script(false, 0),
     [](DaemonRig &rig) {
         ASSERT_TRUE(optad_logged(rig, "is missing (exit status 127)"));
         // Tried once a second, reported once.
         rig.iterate_until([] { return false; }, 2500);
         // Installed whole, so that no run finds it half there.
         const std::string path = rig.root().path(TEMPERATURE_SCRIPT);
         rig.root().write(std::string(TEMPERATURE_SCRIPT) + ".new", "#!/bin/sh\nexit 0\n");
         ASSERT_EQ(chmod((path + ".new").c_str(), 0755), 0);
         ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
     },
     15000,
     {{"ERROR:optad:power_up - /usr/bin/optad_temperature.sh is missing (exit status 127), power-up waits until "
       "it succeeds!",
       1},
      {"ERROR:optad:power_up - /usr/bin/optad_temperature.sh", 1}},
     nullptr},
};

void PrintTo(const Trouble &t, std::ostream *os)
{
    *os << t.name;
}

class PeerTrouble : public ::testing::TestWithParam<Trouble> {};

TEST_P(PeerTrouble, TheModuleIsRunningSoonAfterItIsPutRight)
{
    const Trouble &t = GetParam();
    DaemonRig rig(t.peers, t.board, t.module);
    ASSERT_TRUE(rig.ok());
    t.trouble(rig);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(optad_logged(rig, STARTUP_DONE, t.running_within_ms));
    for (const auto &[fragment, n] : t.lines)
        EXPECT_EQ(optad_log_count(rig, fragment), n) << fragment;
    if (t.after)
        t.after(rig);
    EXPECT_EQ(rig.sim().violations(), "");
}

INSTANTIATE_TEST_SUITE_P(Peers, PeerTrouble, ::testing::ValuesIn(troubles),
                         [](const ::testing::TestParamInfo<Trouble> &info) { return info.param.name; });

TEST(Lifecycle, TheDaemonEndsWithStatusOneWhenItsBusGoesAway)
{
    DaemonRig rig(peers_without_grant());
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "Created datacache"));
    ASSERT_TRUE(kill_bus(rig));
    EXPECT_EQ(rig.optad()->wait(scaled_ms(10000)), 1);
}

}  // namespace
}  // namespace optad::test
