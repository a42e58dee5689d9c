// The unmodified optad on the rig with the camera's other services: the
// power budget, the image pipeline, the rotation and the overlay services,
// present, absent, changing their minds.
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

#include <string>
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

TEST(PowerBudget, AServiceThatRefusesTheRegistrationStopsTheStartButNotTheService)
{
    DaemonRig rig(all_peers({{Peer::Wattd, R"({"register_error": "org.freedesktop.DBus.Error.AccessDenied"})"}}));
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "power_control_dbus_register dbus call reported error"));
    EXPECT_TRUE(optad_logged(rig, "Failed to register power control dbus"));
    EXPECT_EQ(rig.peer(Peer::Wattd).method_calls("RequestPower").size(), 0u);
    EXPECT_EQ(optad_log_count(rig, "Going to run id="), 0);
    // Still serving its parameters, and still running.
    EXPECT_EQ(imc_get_text(rig, "Brightness"), "50");
    EXPECT_TRUE(rig.optad()->running());
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

// Start-up waits 30 s for the image pipeline service and then leaves the
// module alone for good: the real wait, so this case takes half a minute.
TEST(ImagePipeline, WithoutItTheServiceAnswersButThereIsNoPowerAndNoListener)
{
    std::vector<PeerStart> peers = {{Peer::Wattd, ""}, {Peer::Rotation, ""}, {Peer::Captiond, ""}};
    DaemonRig rig(peers);
    ASSERT_TRUE(rig.ok());
    EXPECT_EQ(imc_get_text(rig, "Brightness"), "50");
    ASSERT_TRUE(optad_logged(rig, "ERROR:optad:image_control_dbus:image_control_wait_start - Timeout while "
                                  "waiting for framerd to start",
                             40000));
    EXPECT_EQ(imc_set_properties(rig, "[('Brightness', <55>)]"), "(true,)");
    EXPECT_EQ(imc_get_text(rig, "Brightness"), "55");
    EXPECT_EQ(rig.peer(Peer::Wattd).calls_text(), "");
    EXPECT_EQ(optad_log_count(rig, "gpio_power_good"), 0);
    EXPECT_EQ(optad_log_count(rig, "Going to run id="), 0);
    EXPECT_TRUE(rig.optad()->running());
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
