#include "config/param_settings.h"

#include "platform/paths.h"
#include "tests/config/child_process.h"
#include "tests/support/test_support.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace optad {
namespace {

constexpr const char CONF[] = "/etc/optad/optad.conf";

// The file a fresh start writes: General first, then the groups in the order
// their first parameter appears in the table, each key in table order.
constexpr const char DEFAULT_FILE[] =
    "[General]\n"
    "Version=1\n"
    "\n"
    "[ImageSource.I0.Sensor]\n"
    "Exposure=auto\n"
    "Brightness=50\n"
    "Iris=7\n"
    "Shutter=20000\n"
    "Gain=7\n"
    "MaxExposureTime=40000\n"
    "ExposureWindow=center\n"
    "CustomExposureWindow.C0.Top=3333\n"
    "CustomExposureWindow.C0.Bottom=6666\n"
    "CustomExposureWindow.C0.Left=3333\n"
    "CustomExposureWindow.C0.Right=6666\n"
    "MaxGain=60\n"
    "WhiteBalance=auto\n"
    "WhiteBalanceManual=no\n"
    "WhiteBalanceManualR=63\n"
    "WhiteBalanceManualB=57\n"
    "Sharpness=40\n"
    "NoiseReductionTuning=50\n"
    "ColorLevel=50\n"
    "CaptureMode=1\n"
    "FocusMode=1\n"
    "FocusW0=0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555\n"
    "FocusDrive=+minstep\n"
    "Stabilizer=off\n"
    "FocusTraceCurve=normal\n"
    "DynamicContrastEnabled=no\n"
    "DynamicContrastLevel=4\n"
    "SensorProtector=open\n"
    "ExposureProgress=0\n"
    "VignettingCorrection=yes\n"
    "AberrationCorrection=yes\n"
    "OnvifExposurePriorityNormal=100\n"
    "\n"
    "[ImageSource.I0.DayNight]\n"
    "IrCutFilter=auto\n"
    "ShiftLevel=50\n"
    "AutoIrCutFilterHysteresis=2\n"
    "\n"
    "[ImageSource.I0]\n"
    "CaptureFrequency=50Hz\n"
    "\n"
    "[Rotation1]\n"
    "ImageRotation=0\n";

// What the listeners saw.
struct Notification {
    int id;
    std::string name;
    std::string type;
    std::string value;  // printed form
};
std::vector<Notification> first_seen;
std::vector<Notification> second_seen;

Notification describe(int id, const char *name, GVariant *value)
{
    g_autofree char *printed = g_variant_print(value, FALSE);
    return {id, name, g_variant_get_type_string(value), printed};
}

void first_listener(int id, const char *name, GVariant *value)
{
    first_seen.push_back(describe(id, name, value));
    // A listener that sinks and drops the value must not free it under the
    // next listener.
    g_variant_unref(g_variant_ref_sink(value));
}

void second_listener(int id, const char *name, GVariant *value)
{
    second_seen.push_back(describe(id, name, value));
}

class ParamSettingsTest : public ::testing::Test {
protected:
    test::SandboxRoot root;
    test::LogCapture log;

    void SetUp() override
    {
        param_reset_for_tests();
        first_seen.clear();
        second_seen.clear();
        g_mkdir_with_parents(root.path("/etc/optad").c_str(), 0755);
    }
    void TearDown() override { param_reset_for_tests(); }

    std::string conf() { return root.read(CONF); }

    // The value of a key in the file as written, or "" when it is missing.
    std::string stored(const char *group, const char *key)
    {
        g_autoptr(GKeyFile) kf = g_key_file_new();
        std::string text = conf();
        if (!g_key_file_load_from_data(kf, text.data(), text.size(), G_KEY_FILE_NONE, nullptr))
            return "";
        g_autofree char *v = g_key_file_get_value(kf, group, key, nullptr);
        return v != nullptr ? v : "";
    }
};

TEST_F(ParamSettingsTest, FreshStartWritesEveryKeyAndSecondStartChangesNothing)
{
    param_init();
    EXPECT_EQ(conf(), DEFAULT_FILE);
    EXPECT_EQ(log.count_containing("ERROR"), 0) << log.text();

    param_reset_for_tests();
    param_init();
    EXPECT_EQ(conf(), DEFAULT_FILE);
    EXPECT_EQ(log.count_containing("Failed to update deprecated"), 0);
}

TEST_F(ParamSettingsTest, NamesTypesAndIdentifiersAgree)
{
    param_init();
    for (int id = 0; id < PARAM_COUNT; ++id) {
        const char *name = param_get_name(id);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(param_get_id(name), id) << name;
        const int *type = param_get_type(id);
        ASSERT_NE(type, nullptr);
        if (*type == PARAM_TYPE_INT)
            EXPECT_NE(param_get_int_value(id), -1) << name;
        else
            EXPECT_NE(param_get_string_value(id), nullptr) << name;
    }
    EXPECT_EQ(param_get_id("Exposure"), PARAM_EXPOSURE);
    EXPECT_EQ(param_get_id("exposure"), -1);
    EXPECT_EQ(param_get_id(nullptr), -1);
    EXPECT_EQ(param_get_id("OnvifExposurePriorityNormal"), PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL);
    EXPECT_EQ(*param_get_type(PARAM_FOCUS_W0), PARAM_TYPE_STRING);
    EXPECT_EQ(*param_get_type(PARAM_IMAGE_ROTATION), PARAM_TYPE_INT);
}

TEST_F(ParamSettingsTest, SettingTheCurrentValueDoesNothing)
{
    param_init();
    param_register_changed_cb(first_listener);
    ASSERT_EQ(g_unlink(root.path(CONF).c_str()), 0);

    EXPECT_EQ(param_set_int_value(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, 100), PARAM_SET_UNCHANGED);
    EXPECT_EQ(param_set_string_value(PARAM_EXPOSURE, "auto"), PARAM_SET_UNCHANGED);
    int v = 50;
    EXPECT_EQ(param_set_value(PARAM_BRIGHTNESS, &v, nullptr), PARAM_SET_UNCHANGED);
    // The same text from the table itself.
    EXPECT_EQ(param_set_string_value(PARAM_FOCUS_W0, param_get_string_value(PARAM_FOCUS_W0)),
              PARAM_SET_UNCHANGED);

    bool exists = true;
    root.read(CONF, &exists);
    EXPECT_FALSE(exists);
    EXPECT_TRUE(first_seen.empty());
}

TEST_F(ParamSettingsTest, ChangePersistsAndCallsEachListenerOnce)
{
    param_init();
    param_register_changed_cb(first_listener);
    param_register_changed_cb(second_listener);
    test::FileReplacements writes(root.path(CONF));

    EXPECT_EQ(param_set_int_value(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, 100), PARAM_SET_UNCHANGED);
    EXPECT_EQ(param_set_int_value(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, 50), PARAM_SET_CHANGED);
    // A set on its own is on the disk when it returns.
    EXPECT_EQ(writes.count(), 1);
    EXPECT_EQ(stored("ImageSource.I0.Sensor", "OnvifExposurePriorityNormal"), "50");
    EXPECT_EQ(param_get_int_value(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL), 50);

    for (const auto *seen : {&first_seen, &second_seen}) {
        ASSERT_EQ(seen->size(), 1u);
        EXPECT_EQ((*seen)[0].id, 36);
        EXPECT_EQ((*seen)[0].name, "OnvifExposurePriorityNormal");
        EXPECT_EQ((*seen)[0].type, "i");
        EXPECT_EQ((*seen)[0].value, "50");
    }

    // A string travels as a bytestring.
    EXPECT_EQ(param_set_value(PARAM_EXPOSURE, nullptr, "manual"), PARAM_SET_CHANGED);
    ASSERT_EQ(second_seen.size(), 2u);
    EXPECT_EQ(second_seen[1].id, PARAM_EXPOSURE);
    EXPECT_EQ(second_seen[1].type, "ay");
    EXPECT_EQ(second_seen[1].value, "b'manual'");
    EXPECT_EQ(stored("ImageSource.I0.Sensor", "Exposure"), "manual");
    EXPECT_STREQ(param_get_string_value(PARAM_EXPOSURE), "manual");
    EXPECT_EQ(writes.count(), 2);

    // The rest of the file is as it was.
    std::string expected = DEFAULT_FILE;
    expected.replace(expected.find("Exposure=auto"), 13, "Exposure=manual");
    expected.replace(expected.find("OnvifExposurePriorityNormal=100"), 31,
                     "OnvifExposurePriorityNormal=50");
    EXPECT_EQ(conf(), expected);
}

TEST_F(ParamSettingsTest, IdentifiersOutOfRangeAreRejectedEverywhere)
{
    param_init();
    param_register_changed_cb(first_listener);
    const int v = 1;
    for (int id : {37, 38, -1, INT_MAX, INT_MIN}) {
        log.clear();
        EXPECT_EQ(param_get_int_value(id), -1);
        EXPECT_EQ(param_get_string_value(id), nullptr);
        EXPECT_EQ(param_set_int_value(id, 1), PARAM_SET_ERROR);
        EXPECT_EQ(param_set_string_value(id, "x"), PARAM_SET_ERROR);
        EXPECT_EQ(param_set_value(id, &v, "x"), PARAM_SET_ERROR);
        EXPECT_EQ(param_get_type(id), nullptr);
        EXPECT_EQ(param_get_name(id), nullptr);
        const std::string text = "Parameter id " + std::to_string(id) + " does not exist!\n";
        for (const char *func : {"param_get_int_value", "param_get_string_value",
                                 "param_set_int_value", "param_set_string_value", "param_set_value",
                                 "param_get_type", "param_get_name"}) {
            EXPECT_EQ(log.count(std::string("ERROR:optad:param_settings:") + func + " - " + text), 1)
                << func << " " << id;
        }
    }
    EXPECT_TRUE(first_seen.empty());
    EXPECT_EQ(conf(), DEFAULT_FILE);
}

TEST_F(ParamSettingsTest, WrongTypesAndMissingValuesAreRefused)
{
    param_init();
    struct {
        int result;
        const char *line;
    } const cases[] = {
        {param_set_int_value(PARAM_EXPOSURE, 1),
         "ERROR:optad:param_settings:param_set_int_value - Parameter Exposure is not a int!\n"},
        {param_set_string_value(PARAM_IRIS, "3"),
         "ERROR:optad:param_settings:param_set_string_value - Parameter Iris is not a string!\n"},
        {param_set_string_value(PARAM_EXPOSURE, nullptr),
         "ERROR:optad:param_settings:param_set_string_value - Trying to set string to NULL for "
         "parameter Exposure!\n"},
        {param_set_value(PARAM_IRIS, nullptr, "3"),
         "ERROR:optad:param_settings:param_set_value - Missing int value for parameter Iris\n"},
        {param_set_value(PARAM_EXPOSURE, nullptr, nullptr),
         "ERROR:optad:param_settings:param_set_value - Missing string value for parameter "
         "Exposure\n"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.result, PARAM_SET_ERROR) << c.line;
        EXPECT_EQ(log.count(c.line), 1) << c.line;
    }
    EXPECT_EQ(param_get_int_value(PARAM_EXPOSURE), -1);
    EXPECT_EQ(log.count("ERROR:optad:param_settings:param_get_int_value - Parameter Exposure is "
                        "not a int!\n"),
              1);
    EXPECT_EQ(param_get_string_value(PARAM_IRIS), nullptr);
    EXPECT_EQ(log.count("ERROR:optad:param_settings:param_get_string_value - Parameter Iris is "
                        "not a string!\n"),
              1);
    // Nothing was stored.
    EXPECT_STREQ(param_get_string_value(PARAM_EXPOSURE), "auto");
    EXPECT_EQ(param_get_int_value(PARAM_IRIS), 7);
    EXPECT_EQ(conf(), DEFAULT_FILE);
}

TEST_F(ParamSettingsTest, UnsetValuesBeforeInitAndAfterFree)
{
    EXPECT_EQ(param_get_int_value(PARAM_BRIGHTNESS), -1);
    EXPECT_EQ(log.count("ERROR:optad:param_settings:param_get_int_value - Warning: Parameter "
                        "Brightness is -1!\n"),
              1);
    EXPECT_EQ(param_get_string_value(PARAM_EXPOSURE), nullptr);
    EXPECT_EQ(log.count("ERROR:optad:param_settings:param_get_string_value - Warning: Parameter "
                        "Exposure is NULL!\n"),
              1);

    param_init();
    param_free_values();
    EXPECT_EQ(param_get_string_value(PARAM_FOCUS_W0), nullptr);
    EXPECT_EQ(param_get_int_value(PARAM_BRIGHTNESS), 50);
    param_free_values();  // twice is harmless
}

TEST_F(ParamSettingsTest, OldLayoutShutterIndexIsConvertedOnce)
{
    struct {
        const char *file;
        const char *shutter_after;
        bool error_logged;
    } const cases[] = {
        {"[ImageSource.I0.Sensor]\nShutter=0\n", "1000000", false},
        {"[ImageSource.I0.Sensor]\nShutter=51\n", "125", false},
        {"[General]\nVersion=0\n[ImageSource.I0.Sensor]\nShutter=22\n", "20000", false},
        {"[ImageSource.I0.Sensor]\nShutter=20000\n", "20000", true},
        {"[ImageSource.I0.Sensor]\nShutter=-1\n", "-1", true},
        // Current layout: an index-sized value is a time and stays.
        {"[General]\nVersion=1\n[ImageSource.I0.Sensor]\nShutter=10\n", "10", false},
    };
    for (const auto &c : cases) {
        param_reset_for_tests();
        root.write(CONF, c.file);
        log.clear();
        param_init();
        EXPECT_EQ(stored("ImageSource.I0.Sensor", "Shutter"), c.shutter_after) << c.file;
        EXPECT_EQ(stored("General", "Version"), "1") << c.file;
        EXPECT_EQ(param_get_int_value(PARAM_SHUTTER), atoi(c.shutter_after)) << c.file;
        std::string error = std::string("ERROR:optad:param_settings:update_deprecated_parameters - "
                                        "Failed to update deprecated Shutter value ") +
                            c.shutter_after + "\n";
        EXPECT_EQ(log.count(error), c.error_logged ? 1 : 0) << c.file << log.text();

        // A second start does nothing more.
        const std::string after_first = conf();
        param_reset_for_tests();
        log.clear();
        param_init();
        EXPECT_EQ(conf(), after_first) << c.file;
        EXPECT_EQ(log.count_containing("Failed to update deprecated"), 0) << c.file;
    }
}

TEST_F(ParamSettingsTest, ValuesFromTheFileQuotedInvalidAndUnknown)
{
    root.write(CONF, "# written by hand\n"
                     "[General]\nVersion=1\n"
                     "[ImageSource.I0.Sensor]\n"
                     "ExposureWindow=\"center\"\n"
                     "Brightness=abc\n"
                     "Sharpness=70\n"
                     "Stabilizer=on\n"
                     "Unknown=kept\n"
                     "[Other]\nFoo=bar\n");
    param_init();
    EXPECT_STREQ(param_get_string_value(PARAM_EXPOSURE_WINDOW), "center");
    EXPECT_EQ(param_get_int_value(PARAM_BRIGHTNESS), 50);
    EXPECT_EQ(param_get_int_value(PARAM_SHARPNESS), 70);
    EXPECT_STREQ(param_get_string_value(PARAM_STABILIZER), "on");
    EXPECT_EQ(stored("ImageSource.I0.Sensor", "ExposureWindow"), "center");
    EXPECT_EQ(stored("ImageSource.I0.Sensor", "Brightness"), "50");
    EXPECT_EQ(stored("ImageSource.I0.Sensor", "Unknown"), "kept");
    EXPECT_EQ(stored("Other", "Foo"), "bar");
    EXPECT_EQ(stored("Rotation1", "ImageRotation"), "0");
    EXPECT_EQ(conf().find("# written by hand"), std::string::npos);

    // Keys this table does not know survive every later change too.
    EXPECT_EQ(param_set_int_value(PARAM_SHARPNESS, 10), PARAM_SET_CHANGED);
    EXPECT_EQ(stored("Other", "Foo"), "bar");
    EXPECT_EQ(stored("ImageSource.I0.Sensor", "Sharpness"), "10");
}

TEST_F(ParamSettingsTest, Iso88591FileLoads)
{
    root.write(CONF, "[ImageSource.I0.Sensor]\nFocusDrive=\xe9t\xe9\nSharpness=33\n");
    param_init();
    EXPECT_STREQ(param_get_string_value(PARAM_FOCUS_DRIVE), "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(param_get_int_value(PARAM_SHARPNESS), 33);
    EXPECT_EQ(stored("ImageSource.I0.Sensor", "FocusDrive"), "\xc3\xa9t\xc3\xa9");
}

TEST_F(ParamSettingsTest, BrokenFileKeepsDefaultsAndIsNeverOverwritten)
{
    const std::string broken = "[ImageSource.I0.Sensor\nBrightness=10\n";
    root.write(CONF, broken);
    param_init();
    EXPECT_EQ(log.count_containing("Could not load settings from '/etc/optad/optad.conf'"), 1);
    EXPECT_EQ(param_get_int_value(PARAM_BRIGHTNESS), 50);
    EXPECT_STREQ(param_get_string_value(PARAM_EXPOSURE), "auto");
    EXPECT_EQ(conf(), broken);

    // A later change is in force but does not replace the broken file either.
    EXPECT_EQ(param_set_int_value(PARAM_BRIGHTNESS, 60), PARAM_SET_CHANGED);
    EXPECT_EQ(param_get_int_value(PARAM_BRIGHTNESS), 60);
    EXPECT_EQ(conf(), broken);
}

TEST_F(ParamSettingsTest, ReadOnlyFileKeepsDefaultsAndIsNotTouched)
{
    const std::string content = "[ImageSource.I0.Sensor]\nBrightness=10\n";
    root.write(CONF, content);
    ASSERT_EQ(chmod(root.path(CONF).c_str(), 0444), 0);
    const std::string dir = root.dir();
    EXPECT_EXIT(
        {
            if (!test::become_unprivileged(dir))
                std::_Exit(2);
            param_init();
            bool ok = param_get_int_value(PARAM_BRIGHTNESS) == 50 &&
                      log.contains("Could not open file '/etc/optad/optad.conf'");
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(conf(), content);
}

TEST_F(ParamSettingsTest, MissingFileGivesDefaultsWithoutConversion)
{
    param_init();
    EXPECT_EQ(log.count_containing("update_deprecated_parameters"), 0);
    EXPECT_EQ(param_get_int_value(PARAM_SHUTTER), 20000);
    EXPECT_EQ(conf(), DEFAULT_FILE);
}

TEST_F(ParamSettingsTest, WriteFailureKeepsTheNewValue)
{
    param_init();
    param_register_changed_cb(second_listener);
    // A plain file takes the directory's place: the configuration can
    // neither be read nor written.
    ASSERT_EQ(g_unlink(root.path(CONF).c_str()), 0);
    ASSERT_EQ(g_rmdir(root.path("/etc/optad").c_str()), 0);
    root.write("/etc/optad", "not a directory");

    EXPECT_EQ(param_set_int_value(PARAM_GAIN, 12), PARAM_SET_CHANGED);
    EXPECT_EQ(param_get_int_value(PARAM_GAIN), 12);
    ASSERT_EQ(second_seen.size(), 1u);
    EXPECT_EQ(second_seen[0].value, "12");
    EXPECT_EQ(log.count("WARNING:optad:param_settings:save_param_to_file - Conf file doesn't exist\n"),
              1);
    EXPECT_EQ(log.count("ERROR:optad:settings:settings_write_to_disk - Failed to write file "
                        "/etc/optad/optad.conf\n"),
              1);
}

TEST_F(ParamSettingsTest, FileRecreatedAtRunTimeIsMarkedCurrentLayout)
{
    param_init();
    ASSERT_EQ(g_unlink(root.path(CONF).c_str()), 0);
    EXPECT_EQ(param_set_int_value(PARAM_SHUTTER, 10), PARAM_SET_CHANGED);
    EXPECT_EQ(conf(), "[General]\nVersion=1\n\n[ImageSource.I0.Sensor]\nShutter=10\n");

    // The next start takes 10 as microseconds, not as an old shutter index.
    param_reset_for_tests();
    param_init();
    EXPECT_EQ(param_get_int_value(PARAM_SHUTTER), 10);
}

// A batch stores at once but writes the file once, at its end, and only
// then announces, every change in the order made and with the value it
// carried. The file is the one a write per change would have left: keys it
// has are replaced where they stand, keys it lacks follow in the order they
// first changed.
TEST_F(ParamSettingsTest, BatchWritesTheFileOnceThenAnnouncesEachChangeInOrder)
{
    param_init();
    param_register_changed_cb(second_listener);
    test::FileReplacements writes(root.path(CONF));
    {
        ParamBatch batch;
        EXPECT_EQ(param_set_int_value(PARAM_BRIGHTNESS, 70), PARAM_SET_CHANGED);
        EXPECT_EQ(param_set_string_value(PARAM_EXPOSURE, "iris"), PARAM_SET_CHANGED);
        EXPECT_EQ(param_set_int_value(PARAM_GAIN, 7), PARAM_SET_UNCHANGED);
        {
            ParamBatch inner;  // ends nothing: the outer batch is still open
            EXPECT_EQ(param_set_int_value(PARAM_IMAGE_ROTATION, 1), PARAM_SET_CHANGED);
        }
        param_announce(PARAM_CAPTURE_FREQUENCY);
        EXPECT_EQ(param_set_int_value(PARAM_BRIGHTNESS, 71), PARAM_SET_CHANGED);
        EXPECT_EQ(param_get_int_value(PARAM_BRIGHTNESS), 71);
        EXPECT_EQ(writes.count(), 0);
        EXPECT_EQ(conf(), DEFAULT_FILE);
        EXPECT_TRUE(second_seen.empty());
    }
    EXPECT_EQ(writes.count(), 1);
    std::string expected = DEFAULT_FILE;
    expected.replace(expected.find("Exposure=auto"), 13, "Exposure=iris");
    expected.replace(expected.find("Brightness=50"), 13, "Brightness=71");
    expected.replace(expected.find("ImageRotation=0"), 15, "ImageRotation=1");
    EXPECT_EQ(conf(), expected);
    std::vector<std::string> heard;
    for (const Notification &n : second_seen)
        heard.push_back(n.name + "=" + n.value);
    EXPECT_EQ(heard, (std::vector<std::string>{"Brightness=70", "Exposure=b'iris'", "ImageRotation=1",
                                               "CaptureFrequency=b'50Hz'", "Brightness=71"}));

    // Into a file that is gone.
    ASSERT_EQ(g_unlink(root.path(CONF).c_str()), 0);
    log.clear();
    {
        ParamBatch batch;
        param_set_int_value(PARAM_SHUTTER, 10);
        param_set_string_value(PARAM_CAPTURE_FREQUENCY, "60Hz");
        param_set_int_value(PARAM_GAIN, 12);
        param_set_int_value(PARAM_SHUTTER, 11);
    }
    EXPECT_EQ(writes.count(), 2);
    EXPECT_EQ(conf(), "[General]\nVersion=1\n\n[ImageSource.I0.Sensor]\nShutter=11\nGain=12\n\n"
                      "[ImageSource.I0]\nCaptureFrequency=60Hz\n");
    EXPECT_EQ(log.count("WARNING:optad:param_settings:save_param_to_file - Conf file doesn't exist\n"), 1);

    // A batch without a change writes nothing.
    { ParamBatch batch; param_set_int_value(PARAM_SHUTTER, 11); }
    EXPECT_EQ(writes.count(), 2);
}

// The process dies in the middle of a batch: the file keeps all of its old
// values, none of the batch's.
TEST_F(ParamSettingsTest, BatchCutShortLeavesTheFileAsItWas)
{
    param_init();
    EXPECT_EXIT(
        {
            ParamBatch batch;
            param_set_int_value(PARAM_BRIGHTNESS, 70);
            param_set_string_value(PARAM_EXPOSURE, "iris");
            _exit(3);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(conf(), DEFAULT_FILE);
}

TEST_F(ParamSettingsTest, MaxExposureTimeFollowsModeAndMainsFrequency)
{
    param_init();
    struct {
        const char *exposure;
        const char *frequency;
        int expected;
    } const cases[] = {
        {"flickerfree", "60Hz", 16666},   {"flickerfree", "50Hz", 20000},
        {"flickerreduced", "50Hz", 40000}, {"flickerreduced", "60Hz", 33333},
        {"manual", "50Hz", 33333},         {"auto", "60Hz", 33333},
        {"bogus", "50Hz", 33333},
    };
    for (const auto &c : cases) {
        param_set_string_value(PARAM_EXPOSURE, c.exposure);
        param_set_string_value(PARAM_CAPTURE_FREQUENCY, c.frequency);
        int before = param_get_int_value(PARAM_MAX_EXPOSURE_TIME);
        int result = param_update_max_exposure_time();
        EXPECT_EQ(param_get_int_value(PARAM_MAX_EXPOSURE_TIME), c.expected) << c.exposure;
        EXPECT_EQ(result, before == c.expected ? PARAM_SET_UNCHANGED : PARAM_SET_CHANGED);
        EXPECT_EQ(stored("ImageSource.I0.Sensor", "MaxExposureTime"), std::to_string(c.expected));
    }

    EXPECT_EQ(param_get_remembered_max_exposure_time(), 33333);
    param_set_remembered_max_exposure_time(66666);
    param_set_string_value(PARAM_EXPOSURE, "manual");
    EXPECT_EQ(param_update_max_exposure_time(), PARAM_SET_CHANGED);
    EXPECT_EQ(param_get_int_value(PARAM_MAX_EXPOSURE_TIME), 66666);
}

TEST(ExposureMode, NamesMapToNumbers)
{
    struct {
        const char *name;
        int mode;
    } const cases[] = {
        {"auto", 0},           {"iris", 1},   {"shutter", 2}, {"flickerfree", 3},
        {"flickerreduced", 4}, {"manual", 5}, {"Auto", -1},   {"", -1},
        {"auto ", -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(exposure_mode_from_string(c.name), c.mode) << c.name;
    EXPECT_EQ(exposure_mode_from_string(nullptr), -1);
}

}  // namespace
}  // namespace optad
