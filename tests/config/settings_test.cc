#include "config/settings.h"

#include "platform/paths.h"
#include "tests/config/child_process.h"
#include "tests/support/test_support.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

namespace optad {
namespace {

constexpr const char CONF[] = "/etc/optad/optad.conf";

class SettingsTest : public ::testing::Test {
protected:
    test::SandboxRoot root;
    test::LogCapture log;

    SettingsPtr open_with(const std::string &content, int *existed = nullptr)
    {
        root.write(CONF, content);
        int e = -1;
        SettingsPtr kf(settings_open(CONF, &e));
        if (existed != nullptr)
            *existed = e;
        return kf;
    }
};

TEST_F(SettingsTest, MissingFileGivesEmptyKeyFileAndNoError)
{
    int existed = -1;
    SettingsPtr kf(settings_open(CONF, &existed));
    ASSERT_TRUE(kf);
    EXPECT_EQ(existed, 0);
    EXPECT_EQ(settings_get_int(kf.get(), "G", "K", 7), 7);
    EXPECT_EQ(log.count_containing("ERROR"), 0);
}

TEST_F(SettingsTest, Iso88591FileIsConvertedCompletelyAndRewrittenAsUtf8)
{
    // Five bytes above 0x7F: read with the length of the raw text the
    // converted text would lose its last key.
    int existed = -1;
    SettingsPtr kf = open_with("[G]\nName=Caf\xe9 \xe9\xe9\xe9\xe9\nLast=end\n", &existed);
    ASSERT_TRUE(kf);
    EXPECT_EQ(existed, 1);
    g_autofree char *name = settings_get_string(kf.get(), "G", "Name", nullptr);
    EXPECT_STREQ(name, "Caf\xc3\xa9 \xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9");
    g_autofree char *last = settings_get_string(kf.get(), "G", "Last", nullptr);
    EXPECT_STREQ(last, "end");

    EXPECT_EQ(settings_set_int(kf.get(), "G", "New", 1), 0);
    EXPECT_EQ(settings_write_to_disk(kf.get(), CONF), 1);
    std::string bytes = root.read(CONF);
    EXPECT_TRUE(g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr));
    EXPECT_NE(bytes.find("Name=Caf\xc3\xa9"), std::string::npos);
}

TEST_F(SettingsTest, ReadOnlyFileCannotBeOpenedEvenForReading)
{
    root.write(CONF, "[G]\nK=1\n");
    ASSERT_EQ(chmod(root.path(CONF).c_str(), 0444), 0);
    const std::string dir = root.dir();
    EXPECT_EXIT(
        {
            if (!test::become_unprivileged(dir))
                std::_Exit(2);
            // Readable, but not writable.
            g_autofree char *contents = nullptr;
            if (!g_file_get_contents(platform_path(CONF).c_str(), &contents, nullptr, nullptr))
                std::_Exit(3);
            int existed = -1;
            GKeyFile *kf = settings_open(CONF, &existed);
            bool logged = log.contains(
                "ERROR:optad:settings:settings_open - Could not open file '/etc/optad/optad.conf': ");
            std::_Exit(kf == nullptr && existed == 1 && logged ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SettingsTest, UnparsableFileGivesNothing)
{
    int existed = -1;
    SettingsPtr kf = open_with("this is not a key file\n", &existed);
    EXPECT_FALSE(kf);
    EXPECT_EQ(existed, 1);
    EXPECT_TRUE(log.contains(
        "ERROR:optad:settings:settings_open - Could not load settings from '/etc/optad/optad.conf': "));
}

TEST_F(SettingsTest, QuotedStringsAreUnwrapped)
{
    SettingsPtr kf = open_with("[G]\n"
                               "Open=\"open\"\n"
                               "Lone=\"\n"
                               "Empty=\"\"\n"
                               "Inner=\"a\"b\"\n"
                               "Plain=center\n"
                               "Half=\"half\n");
    ASSERT_TRUE(kf);
    struct {
        const char *key;
        const char *expected;
    } const cases[] = {
        {"Open", "open"}, {"Lone", ""},        {"Empty", ""},
        {"Inner", "a"},   {"Plain", "center"}, {"Half", "\"half"},
    };
    for (const auto &c : cases) {
        g_autofree char *value = settings_get_string(kf.get(), "G", c.key, "default");
        EXPECT_STREQ(value, c.expected) << c.key;
    }
    g_autofree char *missing = settings_get_string(kf.get(), "G", "Missing", "default");
    EXPECT_STREQ(missing, "default");
    g_autofree char *missing_null = settings_get_string(kf.get(), "G", "Missing", nullptr);
    EXPECT_EQ(missing_null, nullptr);
}

TEST_F(SettingsTest, IntegersFallBackToTheDefault)
{
    SettingsPtr kf = open_with("[G]\nGood=42\nNeg=-7\nBad=12abc\nText=abc\nHuge=99999999999\n");
    ASSERT_TRUE(kf);
    EXPECT_EQ(settings_get_int(kf.get(), "G", "Good", 5), 42);
    EXPECT_EQ(settings_get_int(kf.get(), "G", "Neg", 5), -7);
    EXPECT_EQ(settings_get_int(kf.get(), "G", "Bad", 5), 5);
    EXPECT_EQ(settings_get_int(kf.get(), "G", "Text", 5), 5);
    EXPECT_EQ(settings_get_int(kf.get(), "G", "Huge", 5), 5);
    EXPECT_EQ(settings_get_int(kf.get(), "G", "Missing", 5), 5);
    EXPECT_EQ(settings_get_int(kf.get(), "Nogroup", "Good", 5), 5);
}

TEST_F(SettingsTest, CommentsDisappearOnRewriteOtherKeysStay)
{
    SettingsPtr kf = open_with("# a comment\n[G]\n# another\nK=1\n[H]\nX=y\n");
    ASSERT_TRUE(kf);
    settings_set_int(kf.get(), "G", "K", 2);
    ASSERT_EQ(settings_write_to_disk(kf.get(), CONF), 1);
    EXPECT_EQ(root.read(CONF), "[G]\nK=2\n\n[H]\nX=y\n");
}

TEST_F(SettingsTest, RemoveKey)
{
    SettingsPtr kf = open_with("[G]\nK=1\n");
    ASSERT_TRUE(kf);
    EXPECT_TRUE(settings_remove_key(kf.get(), "G", "K"));
    EXPECT_FALSE(settings_remove_key(kf.get(), "G", "K"));
    EXPECT_FALSE(settings_remove_key(kf.get(), "Nogroup", "K"));
}

TEST_F(SettingsTest, EveryCallChecksForAMissingKeyFile)
{
    g_autofree char *s = settings_get_string(nullptr, "G", "K", "def");
    EXPECT_STREQ(s, "def");
    EXPECT_EQ(settings_get_int(nullptr, "G", "K", 9), 9);
    EXPECT_EQ(settings_set_string(nullptr, "G", "K", "v"), -1);
    EXPECT_EQ(settings_set_int(nullptr, "G", "K", 1), -1);
    EXPECT_FALSE(settings_remove_key(nullptr, "G", "K"));
    EXPECT_EQ(settings_write_to_disk(nullptr, CONF), 0);
    settings_free(nullptr);
    for (const char *func : {"settings_get_string", "settings_get_int", "settings_set_string",
                             "settings_set_int", "settings_remove_key"}) {
        EXPECT_EQ(log.count(std::string("ERROR:optad:settings:") + func +
                            " - Key file is not opened!\n"),
                  1)
            << func;
    }
}

TEST_F(SettingsTest, WriteReplacesTheFileAtomically)
{
    SettingsPtr kf = open_with("[G]\nK=old\n");
    ASSERT_TRUE(kf);
    settings_set_string(kf.get(), "G", "K", "new");
    ASSERT_EQ(settings_write_to_disk(kf.get(), CONF), 1);
    EXPECT_EQ(root.read(CONF), "[G]\nK=new\n");
    // Nothing but the file itself in the directory: no temporary file left.
    g_autoptr(GDir) dir = g_dir_open(root.path("/etc/optad").c_str(), 0, nullptr);
    ASSERT_NE(dir, nullptr);
    int entries = 0;
    while (const char *name = g_dir_read_name(dir)) {
        EXPECT_STREQ(name, "optad.conf");
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsTest, MissingDirectoryIsCreatedOnWrite)
{
    int existed = -1;
    SettingsPtr kf(settings_open(CONF, &existed));
    ASSERT_TRUE(kf);
    EXPECT_EQ(existed, 0);
    settings_set_int(kf.get(), "G", "K", 1);
    EXPECT_EQ(settings_write_to_disk(kf.get(), CONF), 1);
    EXPECT_EQ(root.read(CONF), "[G]\nK=1\n");
}

TEST_F(SettingsTest, WriteFailureIsReported)
{
    // A plain file where the directory should be.
    root.write("/etc/optad", "not a directory");
    int existed = -1;
    SettingsPtr kf(settings_open(CONF, &existed));
    ASSERT_TRUE(kf);
    settings_set_int(kf.get(), "G", "K", 1);
    EXPECT_EQ(settings_write_to_disk(kf.get(), CONF), 0);
    EXPECT_EQ(log.count("ERROR:optad:settings:settings_write_to_disk - Failed to write file "
                        "/etc/optad/optad.conf\n"),
              1);
}

}  // namespace
}  // namespace optad
