// The unmodified optad on the rig: its parameter service on the private
// system bus, as the configuration system and the power budget service see
// it.
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace optad::test {
namespace {

class ServiceTest : public ::testing::Test {
protected:
    DaemonRig rig{peers_without_grant()};
};

// Every property of the interface with the value a fresh configuration
// gives it, in the interface's document order.
struct ExpectedProperty {
    const char *name;
    const char *value;  // printed with types
};
constexpr ExpectedProperty fresh_properties[] = {
    {"Iris", "7"},
    {"Shutter", "20000"},
    {"Gain", "7"},
    {"WhiteBalanceManualR", "63"},
    {"WhiteBalanceManualB", "57"},
    {"NoiseReduction", "b'on'"},
    {"NoiseReductionTuning", "50"},
    {"Stabilizer", "b'off'"},
    {"StabilizerType", "b'limitedOptical'"},
    {"FocusTraceCurve", "b'normal'"},
    {"DynamicContrastEnabled", "b'no'"},
    {"DynamicContrastLevel", "4"},
    {"Exposure", "b'auto'"},
    {"Brightness", "50"},
    {"MaxExposureTime", "40000"},
    {"ExposureWindow", "b'center'"},
    {"CustomExposureWindow.C0.Top", "3333"},
    {"CustomExposureWindow.C0.Bottom", "6666"},
    {"CustomExposureWindow.C0.Left", "3333"},
    {"CustomExposureWindow.C0.Right", "6666"},
    {"MaxGain", "60"},
    {"MaxAutoGainControlNormal", "50"},
    {"WhiteBalance", "b'auto'"},
    {"WhiteBalanceWindow", "b'auto'"},
    {"Sharpness", "40"},
    {"ColorLevel", "50"},
    {"IrCutFilter", "b'auto'"},
    {"ShiftLevel", "50"},
    {"AutoIrCutFilterHysteresis", "2"},
    {"FocusMode", "1"},
    {"FocusDrive", "b'+minstep'"},
    {"FocusW0", "b'0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555'"},
    {"SensorProtector", "b'open'"},
    {"WhiteBalanceManual", "b'no'"},
    {"ExposureProgress", "0"},
    {"VignettingCorrection", "b'yes'"},
    {"AberrationCorrection", "b'yes'"},
    {"OnvifExposurePriorityNormal", "100"},
};

TEST(StartUp, RegistersGetsPowerAndChecksItFirst)
{
    DaemonRig rig(all_peers());
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "Got enough power!"));
    MockPeer &wattd = rig.peer(Peer::Wattd);
    EXPECT_EQ(wattd.method_calls("Register"),
              std::vector<std::string>{"('optad', false, 'com.tavik.ImcControl', '/com/tavik/ImcControl', "
                                       "'com.tavik.Configuration.Legacy')"});
    EXPECT_EQ(wattd.method_calls("RequestPower"), std::vector<std::string>{"('optad', 'normal', 16.0)"});

    // The first job is the power check (it logs the grant); power-up comes
    // only after it.
    ASSERT_TRUE(optad_logged(rig, "Going to run id=0!"));
    const std::vector<std::string> lines = rig.optad()->lines(Program::Stream::Err);
    int first_job = -1, granted = -1;
    for (int i = 0; i < static_cast<int>(lines.size()); i++) {
        if (first_job < 0 && lines[i].find("Going to run id=") != std::string::npos)
            first_job = i;
        if (granted < 0 && lines[i].find("Got enough power!") != std::string::npos)
            granted = i;
    }
    ASSERT_GE(granted, 0);
    EXPECT_LT(granted, first_job);
    EXPECT_NE(lines[first_job].find("Going to run id=0!"), std::string::npos) << lines[first_job];

    // The overlay service learnt all three conditions, cleared, when it
    // appeared.
    const std::string cleared = "Unset ('PTZ_BLOCK_UPGRADE',)\n"
                                "Unset ('PTZ_TEMPERATURE_WARMING',)\n"
                                "Unset ('VIDEO_NOT_ENOUGH_POWER_CLASS4',)\n";
    EXPECT_TRUE(rig.iterate_until([&] { return rig.peer(Peer::Captiond).calls_text() == cleared; },
                                  scaled_ms(5000)))
        << rig.peer(Peer::Captiond).calls_text();
}

TEST_F(ServiceTest, EveryPropertyReadsItsValueAlsoThroughGetAll)
{
    ASSERT_TRUE(rig.ok());
    for (const ExpectedProperty &p : fresh_properties)
        EXPECT_EQ(imc_get_text(rig, p.name), p.value) << p.name;

    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) all = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                                       "GetAll", g_variant_new("(s)", IMC_CONTROL_INTERFACE), &error);
    ASSERT_NE(all, nullptr) << error_text(error);
    g_autoptr(GVariant) dict = g_variant_get_child_value(all, 0);
    EXPECT_EQ(g_variant_n_children(dict), std::size(fresh_properties));
    for (const ExpectedProperty &p : fresh_properties) {
        g_autoptr(GVariant) v = g_variant_lookup_value(dict, p.name, nullptr);
        ASSERT_NE(v, nullptr) << p.name;
        g_autofree char *text = g_variant_print(v, TRUE);
        EXPECT_STREQ(text, p.value) << p.name;
    }
}

TEST_F(ServiceTest, ConstantsAcceptOnlyTheirValueAndHiddenParametersAreUnknown)
{
    ASSERT_TRUE(rig.ok());
    // Read-only on the bus (the bus refuses a Set itself), but a
    // SetProperties entry with its value is accepted.
    EXPECT_NE(imc_set(rig, "NoiseReduction", g_variant_new_bytestring("on")), "");
    EXPECT_EQ(imc_set_properties(rig, "[('NoiseReduction', <b'on'>)]"), "(true,)");
    EXPECT_EQ(imc_set_properties(rig, "[('NoiseReduction', <b'off'>)]"),
              "error: Invalid value for property: NoiseReduction");
    EXPECT_EQ(imc_set(rig, "MaxAutoGainControlNormal", g_variant_new_int32(50)), "");
    EXPECT_EQ(imc_set(rig, "MaxAutoGainControlNormal", g_variant_new_int32(51)),
              "Invalid value for property: MaxAutoGainControlNormal");
    EXPECT_EQ(imc_get_text(rig, "NoiseReduction"), "b'on'");

    // Not properties of the interface: the bus's own answer for reads, the
    // service's for writes.
    for (const char *hidden : {"CaptureMode", "CaptureFrequency", "ImageRotation"}) {
        g_autoptr(GError) error = nullptr;
        g_autoptr(GVariant) v = imc_get(rig, hidden, &error);
        EXPECT_EQ(v, nullptr) << hidden;
        EXPECT_NE(error_text(error).find(hidden), std::string::npos) << error_text(error);
        EXPECT_EQ(imc_set_properties(rig, std::string("[('") + hidden + "', <1>)]"),
                  std::string("error: Unknown property: ") + hidden);
    }
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "CaptureMode"), "1");
    EXPECT_TRUE(optad_logged(rig, "WARNING:optad:imc_control_dbus:handle_set_property - Unknown property: "
                                  "ImageRotation"));
    EXPECT_TRUE(optad_logged(rig, "WARNING:optad:imc_control_dbus:handle_set_property - Invalid value for "
                                  "property: NoiseReduction"));
}

TEST_F(ServiceTest, GetRangesGivesTheTableAndFailsWholeOnAnUnknownName)
{
    ASSERT_TRUE(rig.ok());
    EXPECT_EQ(imc_get_ranges(rig, {"Brightness", "MaxGain", "Exposure"}),
              "({'Brightness': <{'min': <0>, 'max': <100>}>, "
              "'MaxGain': <{'min': <0>, 'max': <60>, 'valid_values': <[0, 6, 12, 18, 24, 30, 36, 42, 48, 54, 60]>}>, "
              "'Exposure': <{'valid_values': <['auto', 'iris', 'shutter', 'flickerfree', 'flickerreduced', "
              "'manual']>}>},)");
    EXPECT_EQ(imc_get_ranges(rig, {"FocusW0"}), "({'FocusW0': <{'valid_values': <@as []>}>},)");
    EXPECT_EQ(imc_get_ranges(rig, {"CaptureMode"}), "({'CaptureMode': <{'min': <-1>, 'max': <-1>}>},)");
    EXPECT_EQ(imc_get_ranges(rig, {}), "(@a{sv} {},)");
    EXPECT_EQ(imc_get_ranges(rig, {"Brightness", "NoSuchThing", "Exposure"}),
              "error: Unknown property: NoSuchThing");
    EXPECT_EQ(imc_get_ranges(rig, {"Brightness"}, "com.example.Other"),
              "error: Unknown interface com.example.Other");
    EXPECT_TRUE(optad_logged(rig, "DBus API: cannot get properties for unknown interface com.example.Other"));
}

TEST_F(ServiceTest, SetPropertiesStoresGoodEntriesAroundBadOnes)
{
    ASSERT_TRUE(rig.ok());
    EXPECT_EQ(imc_set_properties(rig, "@a(sv) []"), "(true,)");
    EXPECT_EQ(imc_set_properties(rig, "[('Brightness', <70>), ('WhiteBalance', <b'sodium'>)]"), "(true,)");
    EXPECT_EQ(imc_get_text(rig, "Brightness"), "70");
    EXPECT_EQ(imc_get_text(rig, "WhiteBalance"), "b'sodium'");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "Brightness"), "70");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "WhiteBalance"), "sodium");

    // A plain string is as good as a byte string; a string for an int is
    // accepted without effect.
    EXPECT_EQ(imc_set_properties(rig, "[('WhiteBalance', <'mercury'>), ('Sharpness', <'sharp'>)]"), "(true,)");
    EXPECT_EQ(imc_get_text(rig, "WhiteBalance"), "b'mercury'");
    EXPECT_EQ(imc_get_text(rig, "Sharpness"), "40");

    // Mixed: the first error answers the call, every entry was tried.
    EXPECT_EQ(imc_set_properties(rig, "[('Sharpness', <10>), ('NoSuchThing', <1>), ('Exposure', <b'bogus'>), "
                                      "('ColorLevel', <20>)]"),
              "error: Unknown property: NoSuchThing");
    EXPECT_EQ(imc_get_text(rig, "Sharpness"), "10");
    EXPECT_EQ(imc_get_text(rig, "ColorLevel"), "20");
    EXPECT_EQ(imc_get_text(rig, "Exposure"), "b'auto'");
    EXPECT_TRUE(optad_logged(rig, "WARNING:optad:imc_control_dbus:handle_exposure - Invalid exposure value: bogus. "
                                  "Valid values are auto, iris, shutter, flickerfree, flickerreduced and manual"));

    EXPECT_EQ(imc_set_properties(rig, "[('Brightness', <1>)]", "com.example.Other"),
              "error: Unknown interface com.example.Other");
    EXPECT_EQ(imc_get_text(rig, "Brightness"), "70");
    EXPECT_TRUE(optad_logged(rig, "DBus API[dbus_set_properties]: cannot get properties for unknown interface "
                                  "com.example.Other"));
}

TEST_F(ServiceTest, SubscribersSeeEveryChangeInOrder)
{
    ASSERT_TRUE(rig.ok());
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    ASSERT_EQ(imc_set_properties(rig, "[('WhiteBalanceManual', <b'yes'>)]"), "(true,)");
    ASSERT_EQ(imc_set_properties(rig, "[('WhiteBalance', <b'sodium'>), ('ExposureProgress', <1>)]"), "(true,)");
    ASSERT_TRUE(changed.wait_for(4, scaled_ms(5000)));
    EXPECT_EQ(changed.text(0), "('com.tavik.Configuration.Legacy', {'WhiteBalanceManual': <b'yes'>}, @as [])");
    EXPECT_EQ(changed.text(1), "('com.tavik.Configuration.Legacy', {'WhiteBalance': <b'sodium'>}, @as [])");
    EXPECT_EQ(changed.text(2), "('com.tavik.Configuration.Legacy', {'WhiteBalanceManual': <b'no'>}, @as [])");
    EXPECT_EQ(changed.text(3), "('com.tavik.Configuration.Legacy', {'ExposureProgress': <1>}, @as [])");
    EXPECT_EQ(imc_get_text(rig, "ExposureProgress"), "1");

    // The same value again announces nothing; the change listener also
    // signals changes the daemon makes itself (Exposure moves the maximum
    // exposure time with it).
    changed.clear();
    ASSERT_EQ(imc_set_properties(rig, "[('WhiteBalance', <b'sodium'>), ('Exposure', <b'flickerfree'>)]"),
              "(true,)");
    // (ExposureProgress is 1 already: nothing to announce for it.)
    ASSERT_TRUE(changed.wait_for(2, scaled_ms(5000)));
    EXPECT_EQ(changed.text(0), "('com.tavik.Configuration.Legacy', {'Exposure': <b'flickerfree'>}, @as [])");
    EXPECT_EQ(changed.text(1), "('com.tavik.Configuration.Legacy', {'MaxExposureTime': <20000>}, @as [])");
    EXPECT_EQ(imc_get_text(rig, "ExposureProgress"), "1");
    EXPECT_FALSE(changed.wait_for(3, scaled_ms(300)));
}

TEST_F(ServiceTest, AFocusWindowIsAnnouncedInItsStoredForm)
{
    ASSERT_TRUE(rig.ok());
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    const std::string given = "[('FocusW0', <b'0.25,0.25:0.5,0.25:0.5,0.5:0.25,0.5'>)]";
    const std::string stored = "0.250000,0.250000:0.500000,0.250000:0.500000,0.500000:0.250000,0.500000";
    const std::string announced = "('com.tavik.Configuration.Legacy', {'FocusW0': <b'" + stored + "'>}, @as [])";
    ASSERT_EQ(imc_set_properties(rig, given), "(true,)");
    ASSERT_TRUE(changed.wait_for(1, scaled_ms(5000)));
    EXPECT_EQ(changed.text(0), announced);
    // The same window in other words: nothing stored, but the caller is
    // told the stored form. In the stored form itself: nothing at all.
    ASSERT_EQ(imc_set_properties(rig, given), "(true,)");
    ASSERT_TRUE(changed.wait_for(2, scaled_ms(5000)));
    EXPECT_EQ(changed.text(1), announced);
    ASSERT_EQ(imc_set_properties(rig, "[('FocusW0', <b'" + stored + "'>)]"), "(true,)");
    EXPECT_FALSE(changed.wait_for(3, scaled_ms(300)));
    EXPECT_EQ(imc_set_properties(rig, "[('FocusW0', <b'0.1,0.1:0.2'>)]"),
              "error: Invalid window format: 0.1,0.1:0.2!");
    EXPECT_EQ(imc_get_text(rig, "FocusW0"), "b'" + stored + "'");
}

TEST_F(ServiceTest, SetPowerReachesThePowerCheck)
{
    ASSERT_TRUE(rig.ok());
    // The grant is heard once the power client has registered.
    ASSERT_TRUE(rig.iterate_until([&] { return rig.peer(Peer::Wattd).method_calls("RequestPower").size() == 1; },
                                  scaled_ms(10000)));
    EXPECT_EQ(optad_log_count(rig, "Got enough power!"), 0);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, "SetPower",
                                         g_variant_new("(d)", 30.0), &error);
    ASSERT_NE(reply, nullptr) << error_text(error);
    EXPECT_STREQ(g_variant_get_type_string(reply), "()");
    EXPECT_TRUE(optad_logged(rig, "Got enough power!"));
}

}  // namespace
}  // namespace optad::test
