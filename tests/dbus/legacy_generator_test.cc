#include "dbus/legacy_generator.h"

#include "config/param_settings.h"
#include "tests/support/test_support.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

namespace optad {
namespace {

constexpr const char MAPPING_DIR[] = "/etc/legacyconfig/legacymappings.d";

// Start-up: all bounds 0.
constexpr const char STARTUP_FILE[] = R"xml(<mapping>
  <group name="root.ImageSource.I0.Sensor">
    <parameter name="Iris">
      <property dbus="com.tavik.ImcControl" object="/com/tavik/ImcControl"
      interface="com.tavik.Configuration.Legacy" name="Iris">
        <type type="int" />
      </property>
      <legacyoptions>
        <legacyoption name="type" value="enum:0|f/1.0" />
        <legacyoption name="accessControl" value="operator:3;admin:3;viewer:1"/>
      </legacyoptions>
    </parameter>
    <parameter name="Shutter">
      <property dbus="com.tavik.ImcControl" object="/com/tavik/ImcControl"
      interface="com.tavik.Configuration.Legacy" name="Shutter">
        <type type="int" />
      </property>
      <legacyoptions>
        <legacyoption name="type" value="enum:" />
        <legacyoption name="accessControl" value="operator:3;admin:3;viewer:1"/>
      </legacyoptions>
    </parameter>
    <parameter name="Gain">
      <property dbus="com.tavik.ImcControl" object="/com/tavik/ImcControl"
      interface="com.tavik.Configuration.Legacy" name="Gain">
        <type type="int" />
      </property>
      <legacyoptions>
        <legacyoption name="type" value="enum:0|0  (ISO 100)" />
        <legacyoption name="accessControl" value="operator:3;admin:3;viewer:1"/>
      </legacyoptions>
    </parameter>
  </group>
</mapping>
)xml";

constexpr const char MAP3_FILE[] = R"xml(<mapping>
  <group name="root.ImageSource.I0.Sensor">
    <parameter name="MaxExposureTime">
      <property dbus="com.tavik.ImcControl" object="/com/tavik/ImcControl"
      interface="com.tavik.Configuration.Legacy" name="MaxExposureTime">
        <type type="int" />
      </property>
      <legacyoptions>
        <legacyoption name="type" value="enum:20000|1/50 sec" />
        <legacyoption name="accessControl" value="operator:3;admin:3;viewer:1"/>
      </legacyoptions>
    </parameter>
  </group>
</mapping>
)xml";

constexpr const char IRIS_2_TO_12[] =
    "enum:2|f/1.2,3|f/1.3,4|f/1.4,5|f/1.5,6|f/1.6,7|f/1.8,8|f/2.0,9|f/2.1,10|f/2.3,11|f/2.5,"
    "12|f/2.8";
constexpr const char ALL_SHUTTERS[] =
    "enum:125|1/8000,156|1/6400,178|1/5600,208|1/4800,250|1/4000,294|1/3400,357|1/2800,"
    "416|1/2400,500|1/2000,588|1/1700,714|1/1400,833|1/1200,1000|1/1000,1190|1/840,1388|1/720,"
    "1666|1/600,2000|1/500,2380|1/420,2777|1/360,3333|1/300,4000|1/250,4761|1/210,5555|1/180,"
    "6666|1/150,8333|1/120,10000|1/100,11764|1/85,14285|1/70,16666|1/60,20000|1/50,23809|1/42,"
    "28571|1/35,33333|1/30,40000|1/25,47619|1/21,55555|1/18,66666|1/15,76923|1/13,90909|1/11,"
    "111111|1/9,125000|1/8,166666|1/6,200000|1/5,222222|1/4.5,250000|1/4,312500|1/3.2,"
    "370370|1/2.7,454545|1/2.2,500000|1/2,666666|1/1.5,833333|1/1.2,1000000|1";
constexpr const char ALL_GAINS[] =
    "enum:0|0  (ISO 100),1|1  (ISO 125),3|4  (ISO 160),4|6  (ISO 200),5|7  (ISO 250),"
    "7|10  (ISO 320),8|12  (ISO 400),9|13  (ISO 500),11|16  (ISO 640),12|18  (ISO 800),"
    "13|19  (ISO 1000),14|21  (ISO 1250),16|24  (ISO 1600),17|25  (ISO 2000),19|28  (ISO 2500),"
    "20|30  (ISO 3200),21|31  (ISO 4000),23|34  (ISO 5000),24|36  (ISO 6400),"
    "28|42  (ISO 12800),32|48  (ISO 25600),36|54  (ISO 51200),40|60  (ISO 102400)";

// The start-up file with other enumeration values.
std::string with_choices(const std::string &iris, const std::string &shutter,
                         const std::string &gain)
{
    std::string file = STARTUP_FILE;
    auto swap = [&file](const std::string &from, const std::string &to, size_t start) {
        size_t at = file.find(from, start);
        file.replace(at, from.size(), to);
        return at + to.size();
    };
    size_t at = swap("value=\"enum:0|f/1.0\"", "value=\"" + iris + "\"", 0);
    at = swap("value=\"enum:\"", "value=\"" + shutter + "\"", at);
    swap("value=\"enum:0|0  (ISO 100)\"", "value=\"" + gain + "\"", at);
    return file;
}

// The enumeration of the legacy "type" option of the n-th parameter block.
std::string choices(const std::string &file, int n = 0)
{
    const std::string key = "<legacyoption name=\"type\" value=\"";
    size_t at = 0;
    for (int i = 0; i <= n; ++i)
        at = file.find(key, at) + key.size();
    return file.substr(at, file.find('"', at) - at);
}

std::set<std::string> entries(const std::string &dir)
{
    std::set<std::string> names;
    g_autoptr(GDir) d = g_dir_open(dir.c_str(), 0, nullptr);
    if (d == nullptr)
        return names;
    while (const char *name = g_dir_read_name(d))
        names.insert(name);
    return names;
}

class LegacyGeneratorTest : public ::testing::Test {
protected:
    test::SandboxRoot root;
    test::LogCapture log;

    void SetUp() override { g_mkdir_with_parents(root.path(MAPPING_DIR).c_str(), 0755); }

    std::string sgi() { return root.read(LEGACY_SHUTTER_GAIN_IRIS_PATH); }
    std::string maxshutter() { return root.read(LEGACY_MAXSHUTTER_PATH); }
};

TEST_F(LegacyGeneratorTest, StartUpWithAllBoundsZero)
{
    legacy_generate_shutter_gain_iris_config(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(sgi(), STARTUP_FILE);
    EXPECT_EQ(log.count_containing("ERROR"), 0);
}

TEST_F(LegacyGeneratorTest, FullRanges)
{
    legacy_generate_shutter_gain_iris_config(2, 12, 125, 1000000, 0, 40);
    EXPECT_EQ(sgi(), with_choices(IRIS_2_TO_12, ALL_SHUTTERS, ALL_GAINS));
}

TEST_F(LegacyGeneratorTest, BoundsAreInclusiveAndBetweenRows)
{
    // A max between two rows ends the list at the row below it.
    legacy_generate_shutter_gain_iris_config(0, 28, 0, 20001, 2, 2);
    EXPECT_TRUE(choices(sgi(), 1).starts_with("enum:125|1/8000,"));
    EXPECT_TRUE(choices(sgi(), 1).ends_with(",16666|1/60,20000|1/50")) << choices(sgi(), 1);
    EXPECT_EQ(choices(sgi(), 2), "enum:");  // no gain row has the value 2
    EXPECT_TRUE(choices(sgi(), 0).starts_with("enum:0|f/1.0,1|f/1.1,"));
    EXPECT_TRUE(choices(sgi(), 0).ends_with(",27|f/10.3,28|f/11.3")) << choices(sgi(), 0);

    // A min just below a row starts the list there.
    legacy_generate_shutter_gain_iris_config(28, 28, 19999, 20000, 40, 1000);
    EXPECT_EQ(choices(sgi(), 0), "enum:28|f/11.3");
    EXPECT_EQ(choices(sgi(), 1), "enum:20000|1/50");
    EXPECT_EQ(choices(sgi(), 2), "enum:40|60  (ISO 102400)");

    // Min above max, and negative bounds.
    legacy_generate_shutter_gain_iris_config(5, 4, -1, -1, -5, 0);
    EXPECT_EQ(choices(sgi(), 0), "enum:");
    EXPECT_EQ(choices(sgi(), 1), "enum:");
    EXPECT_EQ(choices(sgi(), 2), "enum:0|0  (ISO 100)");
}

TEST_F(LegacyGeneratorTest, MaxShutterMaps)
{
    legacy_generate_maxshutter_xml(MAXSHUTTER_MAP_FLICKERFREE_50HZ);
    EXPECT_EQ(maxshutter(), MAP3_FILE);

    struct {
        int map;
        const char *choices;
    } const cases[] = {
        {0, "enum:8333|1/120 sec,10000|1/100 sec,16666|1/60 sec,20000|1/50 sec,33333|1/30 sec,"
            "40000|1/25 sec,66666|1/15 sec,80000|1/12.5 sec,125000|1/8 sec,166666|1/6 sec,"
            "250000|1/4 sec,312500|1/3.2 sec,500000|1/2 sec,1000000|1 sec"},
        {1, "enum:10000|1/100 sec,20000|1/50 sec,40000|1/25 sec,80000|1/12.5 sec,166666|1/6 sec,"
            "312500|1/3.2 sec,500000|1/2 sec,1000000|1 sec"},
        {2, "enum:8333|1/120 sec,16666|1/60 sec,33333|1/30 sec,66666|1/15 sec,125000|1/8 sec,"
            "250000|1/4 sec,500000|1/2 sec,1000000|1 sec"},
        {3, "enum:20000|1/50 sec"},
        {4, "enum:16666|1/60 sec"},
    };
    for (const auto &c : cases) {
        legacy_generate_maxshutter_xml(c.map);
        std::string expected = MAP3_FILE;
        expected.replace(expected.find("enum:20000|1/50 sec"), 19, c.choices);
        EXPECT_EQ(maxshutter(), expected) << c.map;
    }
}

TEST_F(LegacyGeneratorTest, MaxShutterValueAllowed)
{
    EXPECT_EQ(maxshutter_value_allowed(0, 80000), 1);
    EXPECT_EQ(maxshutter_value_allowed(2, 80000), 0);
    EXPECT_EQ(maxshutter_value_allowed(3, 16666), 0);
    EXPECT_EQ(maxshutter_value_allowed(3, 20000), 1);
    EXPECT_EQ(maxshutter_value_allowed(4, 16666), 1);
    EXPECT_EQ(maxshutter_value_allowed(1, 1000000), 1);
    EXPECT_EQ(maxshutter_value_allowed(1, 8333), 0);
    EXPECT_EQ(maxshutter_value_allowed(0, 20001), 0);
    EXPECT_EQ(maxshutter_value_allowed(0, -1), 0);
}

TEST_F(LegacyGeneratorTest, MapNumberOutsideTheTableIsFatal)
{
    EXPECT_DEATH(legacy_generate_maxshutter_xml(5),
                 "get_maxshutter_map_id_list: assertion failed: \\(FALSE\\)");
    EXPECT_DEATH(maxshutter_value_allowed(-1, 20000),
                 "get_maxshutter_map_id_list: assertion failed: \\(FALSE\\)");
}

TEST_F(LegacyGeneratorTest, MapFollowsExposureModeAndMainsFrequency)
{
    g_mkdir_with_parents(root.path("/etc/optad").c_str(), 0755);
    param_reset_for_tests();
    param_init();
    struct {
        const char *exposure;
        const char *frequency;
        int map;
    } const cases[] = {
        {"auto", "50Hz", 0},           {"manual", "60Hz", 0},         {"bogus", "50Hz", 0},
        {"flickerreduced", "50Hz", 1}, {"flickerreduced", "60Hz", 2}, {"flickerfree", "50Hz", 3},
        {"flickerfree", "60Hz", 4},    {"flickerfree", "50hz", 4},
    };
    for (const auto &c : cases) {
        param_set_string_value(PARAM_EXPOSURE, c.exposure);
        param_set_string_value(PARAM_CAPTURE_FREQUENCY, c.frequency);
        EXPECT_EQ(get_maxshutter_map_id(), c.map) << c.exposure << " " << c.frequency;
    }
    param_reset_for_tests();
}

TEST_F(LegacyGeneratorTest, FilesAreReplacedWholeWithNothingLeftBehind)
{
    root.write(LEGACY_SHUTTER_GAIN_IRIS_PATH, std::string(10000, 'x'));
    root.write(LEGACY_MAXSHUTTER_PATH, "old");
    // A reader that has the old file open keeps reading the old file whole.
    GStatBuf before;
    ASSERT_EQ(g_stat(root.path(LEGACY_SHUTTER_GAIN_IRIS_PATH).c_str(), &before), 0);
    legacy_generate_shutter_gain_iris_config(0, 0, 0, 0, 0, 0);
    GStatBuf after;
    ASSERT_EQ(g_stat(root.path(LEGACY_SHUTTER_GAIN_IRIS_PATH).c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    legacy_generate_maxshutter_xml(3);
    EXPECT_EQ(sgi(), STARTUP_FILE);
    EXPECT_EQ(maxshutter(), MAP3_FILE);
    EXPECT_EQ(entries(root.path(MAPPING_DIR)),
              (std::set<std::string>{"optad_shutter_gain_iris.xml", "optad_maxshutter.xml"}));
}

TEST_F(LegacyGeneratorTest, ReplacedFileKeepsTheModeItWasGiven)
{
    // An installation that narrowed who may read the mapping keeps it so.
    root.write(LEGACY_MAXSHUTTER_PATH, "old");
    ASSERT_EQ(g_chmod(root.path(LEGACY_MAXSHUTTER_PATH).c_str(), 0640), 0);
    legacy_generate_maxshutter_xml(3);
    EXPECT_EQ(maxshutter(), MAP3_FILE);
    GStatBuf st;
    ASSERT_EQ(g_stat(root.path(LEGACY_MAXSHUTTER_PATH).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // A file made new gets the usual 0644.
    legacy_generate_shutter_gain_iris_config(0, 0, 0, 0, 0, 0);
    ASSERT_EQ(g_stat(root.path(LEGACY_SHUTTER_GAIN_IRIS_PATH).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(LegacyGeneratorTest, FailureIsLoggedAndLeavesNoTemporaryFile)
{
    // Something that cannot be replaced by a file stands at the path.
    g_mkdir_with_parents(root.path(LEGACY_SHUTTER_GAIN_IRIS_PATH).c_str(), 0755);
    legacy_generate_shutter_gain_iris_config(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(log.count("ERROR:optad:legacy_generator:legacy_generate_shutter_gain_iris_config - "
                        "Failed to open optad_shutter_gain_iris.xml!\n"),
              1);
    EXPECT_EQ(entries(root.path(MAPPING_DIR)),
              std::set<std::string>{"optad_shutter_gain_iris.xml"});
}

TEST_F(LegacyGeneratorTest, MissingDirectoryIsNotCreated)
{
    ASSERT_EQ(g_rmdir(root.path(MAPPING_DIR).c_str()), 0);
    legacy_generate_maxshutter_xml(0);
    legacy_generate_shutter_gain_iris_config(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(log.count("ERROR:optad:legacy_generator:legacy_generate_maxshutter_xml - Failed to "
                        "open optad_maxshutter.xml!\n"),
              1);
    EXPECT_EQ(log.count("ERROR:optad:legacy_generator:legacy_generate_shutter_gain_iris_config - "
                        "Failed to open optad_shutter_gain_iris.xml!\n"),
              1);
    EXPECT_FALSE(g_file_test(root.path(MAPPING_DIR).c_str(), G_FILE_TEST_EXISTS));
}

}  // namespace
}  // namespace optad
