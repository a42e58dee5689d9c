// What a careless or hostile client can throw at the parameter service:
// wrong types, unknown names, absurd values, huge calls. Each gets a clear
// error or is stored as the handlers store it; nothing else is lost, also
// across a restart of the daemon.
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace optad::test {
namespace {

using KeyFileMap = std::map<std::string, std::string>;

// Every "group/key" of the configuration file with its raw value.
KeyFileMap conf_entries(Rig &rig, bool *loaded)
{
    KeyFileMap entries;
    g_autoptr(GKeyFile) kf = g_key_file_new();
    *loaded = g_key_file_load_from_file(kf, rig.root().path("/etc/optad/optad.conf").c_str(), G_KEY_FILE_NONE,
                                        nullptr) != FALSE;
    if (!*loaded)
        return entries;
    g_auto(GStrv) groups = g_key_file_get_groups(kf, nullptr);
    for (char **g = groups; *g != nullptr; g++) {
        g_auto(GStrv) keys = g_key_file_get_keys(kf, *g, nullptr, nullptr);
        for (char **k = keys; *k != nullptr; k++) {
            g_autofree char *v = g_key_file_get_value(kf, *g, *k, nullptr);
            entries[std::string(*g) + "/" + *k] = v != nullptr ? v : "";
        }
    }
    return entries;
}

GVariant *bytes(const std::string &s)
{
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, s.data(), s.size(), 1);
}

// One SetProperties entry with a value built in code.
std::string set_one(Rig &rig, const char *name, GVariant *value)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(sv)"));
    g_variant_builder_add(&b, "(sv)", name, value);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, "SetProperties",
                                         g_variant_new("(sa(sv))", IMC_CONTROL_INTERFACE, &b), &error);
    if (reply == nullptr)
        return "error: " + error_text(error);
    g_autofree char *text = g_variant_print(reply, TRUE);
    return text;
}

class BadInputTest : public ::testing::Test {
protected:
    DaemonRig rig{peers_without_grant()};
};

TEST_F(BadInputTest, WrongTypesAreRefusedWithTheirTypeNamed)
{
    ASSERT_TRUE(rig.ok());
    // Properties.Set checks the declared type itself.
    const std::string wrong = imc_set(rig, "Brightness", g_variant_new_string("bright"));
    EXPECT_NE(wrong.find("Brightness"), std::string::npos) << wrong;
    EXPECT_NE(imc_set(rig, "Exposure", g_variant_new_int32(3)), "");
    EXPECT_NE(imc_set(rig, "NoSuchThing", g_variant_new_int32(3)), "");

    EXPECT_EQ(set_one(rig, "Brightness", g_variant_new("(ii)", 1, 2)), "error: Unsupported type: (ii)");
    EXPECT_EQ(set_one(rig, "Exposure", g_variant_new_double(1.5)), "error: Unsupported type: d");
    EXPECT_EQ(set_one(rig, "WhiteBalance", g_variant_new_strv(nullptr, 0)), "error: Unsupported type: as");
    EXPECT_EQ(set_one(rig, "MaxAutoGainControlNormal", g_variant_new_string("50")),
              "error: Invalid value for property: MaxAutoGainControlNormal");
    EXPECT_EQ(set_one(rig, "FocusMode", g_variant_new_string("5")), "error: Focus Mode is NULL!");
    EXPECT_EQ(set_one(rig, "IrCutFilter", g_variant_new_int32(1)), "error: IrCutFilter is NULL!");
    EXPECT_EQ(set_one(rig, "CustomExposureWindow.C0.Top", g_variant_new_string("10")),
              "error: Missing int value for CustomExposureWindow.C0.Top!");
    EXPECT_EQ(set_one(rig, "FocusDrive", g_variant_new_int32(1)), "error: Missing string value for FocusDrive!");
    EXPECT_EQ(imc_get_text(rig, "Brightness"), "50");
    EXPECT_EQ(imc_get_text(rig, "Exposure"), "b'auto'");
}

TEST_F(BadInputTest, UnknownNamesOfAnyShapeAreUnknown)
{
    ASSERT_TRUE(rig.ok());
    const std::string huge_name(1 << 20, 'B');
    for (const std::string &name : {std::string(""), std::string("Brightness\n"), std::string("brightness"),
                                    std::string("[ImageSource.I0.Sensor]"), std::string("Brightness=1"), huge_name}) {
        const std::string reply = set_one(rig, name.c_str(), g_variant_new_int32(1));
        EXPECT_EQ(reply, "error: Unknown property: " + name) << name.substr(0, 40);
    }
    // One refusal is one log line, however the name looks.
    EXPECT_EQ(optad_log_count(rig, "Unknown property: Brightness\\n"), 1);
    EXPECT_EQ(imc_get_text(rig, "Brightness"), "50");
}

TEST_F(BadInputTest, TextTheConfigurationFileCannotHoldIsRefused)
{
    ASSERT_TRUE(rig.ok());
    const std::string refused = "error: Invalid value for property: ExposureWindow";
    EXPECT_EQ(set_one(rig, "ExposureWindow", bytes(std::string(1 << 20, 'x'))), refused);
    EXPECT_EQ(set_one(rig, "ExposureWindow", bytes(std::string("cen\0ter", 7))), refused);
    EXPECT_EQ(set_one(rig, "ExposureWindow", bytes("\xff\xfe spot")), refused);
    EXPECT_EQ(set_one(rig, "ExposureWindow", g_variant_new_string(std::string(5000, 'y').c_str())), refused);
    // The file gives back a value wrapped in double quotes without them.
    EXPECT_EQ(set_one(rig, "ExposureWindow", bytes("\"spot\"")), refused);
    EXPECT_EQ(set_one(rig, "ExposureWindow", g_variant_new_string("\"")), refused);
    EXPECT_EQ(imc_get_text(rig, "ExposureWindow"), "b'center'");
    // A byte string with its C terminator is the usual form, and fine.
    EXPECT_EQ(set_one(rig, "ExposureWindow", bytes(std::string("spot\0", 5))), "(true,)");
    EXPECT_EQ(imc_get_text(rig, "ExposureWindow"), "b'spot'");
}

TEST_F(BadInputTest, OddButValidTextIsStoredAndSurvivesARestart)
{
    ASSERT_TRUE(rig.ok());
    const std::vector<std::pair<const char *, std::string>> odd = {
        {"ExposureWindow", "two\nlines"},
        {"Stabilizer", "[ImageSource.I0.Sensor]"},
        {"FocusTraceCurve", "Brightness=99"},
        {"DynamicContrastEnabled", "# not a comment"},
        {"VignettingCorrection", "  leading blanks"},
        {"AberrationCorrection", "half \"quoted\""},
        {"SensorProtector", "tab\there"},
    };
    for (const auto &[name, value] : odd)
        EXPECT_EQ(set_one(rig, name, bytes(value)), "(true,)") << name;
    bool loaded = false;
    const KeyFileMap before = conf_entries(rig, &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(before.at("ImageSource.I0.Sensor/Brightness"), "50");

    ASSERT_EQ(rig.stop_optad(), 143);
    ASSERT_NE(rig.start_optad(), nullptr);
    ASSERT_TRUE(rig.wait_for_optad_on_bus(scaled_ms(20000)));
    for (const auto &[name, value] : odd) {
        g_autoptr(GVariant) v = imc_get(rig, name);
        ASSERT_NE(v, nullptr) << name;
        EXPECT_EQ(g_variant_get_bytestring(v), value) << name;
    }
    const KeyFileMap after = conf_entries(rig, &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(after, before);
}

TEST_F(BadInputTest, ThousandsOfEntriesInOneCallAreAllApplied)
{
    ASSERT_TRUE(rig.ok());
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(sv)"));
    const int entries = 5000;
    for (int i = 0; i < entries; i++) {
        if (i % 3 == 2)
            g_variant_builder_add(&b, "(sv)", "NoSuchThing", g_variant_new_int32(i));
        else
            g_variant_builder_add(&b, "(sv)", i % 3 == 0 ? "Brightness" : "Sharpness", g_variant_new_int32(i % 101));
    }
    g_autoptr(GError) error = nullptr;
    // Every stored change rewrites the configuration file and syncs it to
    // the flash: thousands of them take their time on a busy disk.
    g_autoptr(GVariant) reply = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, "SetProperties",
                                         g_variant_new("(sa(sv))", IMC_CONTROL_INTERFACE, &b), &error,
                                         scaled_ms(60000));
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(error_text(error), "Unknown property: NoSuchThing");
    // The last Brightness entry is i = 4998 (4998 % 101 = 49), the last
    // Sharpness i = 4999 (50).
    EXPECT_EQ(imc_get_text(rig, "Brightness"), "49");
    EXPECT_EQ(imc_get_text(rig, "Sharpness"), "50");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "Sharpness"), "50");
    EXPECT_TRUE(rig.optad()->running());
}

}  // namespace
}  // namespace optad::test
