// GetRanges: the advisory range of each parameter the configuration system
// asks for, in the order asked, and the refusal of unknown names and of
// other interfaces.
#include "config/param_settings.h"
#include "dbus/imc_control_dbus.h"
#include "tests/dbus/service_fixture.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <string>
#include <vector>

namespace optad {
namespace {

constexpr const char IFACE[] = "com.tavik.Configuration.Legacy";

class Ranges : public test::ServiceTest {
protected:
    // The reply to GetRanges for these names; *error_text gets the error.
    GVariant *ranges(const std::vector<const char *> &names, std::string *error_text = nullptr,
                     const char *iface = IFACE)
    {
        GVariantBuilder list;
        g_variant_builder_init(&list, G_VARIANT_TYPE("as"));
        for (const char *n : names)
            g_variant_builder_add(&list, "s", n);
        g_autoptr(GVariant) request = g_variant_ref_sink(g_variant_builder_end(&list));
        g_autoptr(GError) error = nullptr;
        GVariant *reply = get_ranges(iface, request, &error);
        if (reply != nullptr)
            g_variant_ref_sink(reply);
        if (error != nullptr) {
            EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_FAILED));
            if (error_text != nullptr)
                *error_text = error->message;
        } else if (error_text != nullptr) {
            error_text->clear();
        }
        return reply;
    }

    // The reply must equal the text form of the expected dictionary.
    void expect_ranges(const std::vector<const char *> &names, const char *expected)
    {
        std::string error;
        g_autoptr(GVariant) reply = ranges(names, &error);
        ASSERT_NE(reply, nullptr);
        EXPECT_EQ(error, "");
        g_autoptr(GError) parse_error = nullptr;
        g_autoptr(GVariant) want = g_variant_parse(G_VARIANT_TYPE("(a{sv})"), expected, nullptr, nullptr,
                                                   &parse_error);
        ASSERT_NE(want, nullptr) << parse_error->message;
        g_autofree char *got = g_variant_print(reply, TRUE);
        g_autofree char *wanted = g_variant_print(want, TRUE);
        EXPECT_TRUE(g_variant_equal(reply, want)) << "got    " << got << "\nwanted " << wanted;
    }
};

TEST_F(Ranges, IntParametersGiveBoundsAndStringParametersTheirList)
{
    expect_ranges({"Brightness", "MaxGain", "Exposure"},
                  "({'Brightness': <{'min': <0>, 'max': <100>}>,"
                  "  'MaxGain': <{'min': <0>, 'max': <60>,"
                  "               'valid_values': <[0, 6, 12, 18, 24, 30, 36, 42, 48, 54, 60]>}>,"
                  "  'Exposure': <{'valid_values': <['auto', 'iris', 'shutter', 'flickerfree',"
                  "                                  'flickerreduced', 'manual']>}>},)");
    // A string parameter without a list still carries an empty one.
    expect_ranges({"FocusW0"}, "({'FocusW0': <{'valid_values': <@as []>}>},)");
    // Not properties of the interface, but parameters all the same.
    expect_ranges({"CaptureMode", "CaptureFrequency"},
                  "({'CaptureMode': <{'min': <-1>, 'max': <-1>}>,"
                  "  'CaptureFrequency': <{'valid_values': <@as []>}>},)");
    expect_ranges({}, "(@a{sv} {},)");
}

TEST_F(Ranges, AnUnknownNameFailsTheWholeCall)
{
    std::string error;
    g_autoptr(GVariant) reply = ranges({"Brightness", "Nope", "Exposure", "AlsoNope"}, &error);
    EXPECT_EQ(error, "Unknown property: Nope");
    // Every unknown name is logged, the first one answered.
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u) << log.text();
    EXPECT_EQ(lines[0].priority, LOG_WARNING);
    EXPECT_EQ(lines[0].text, "Unknown property: Nope\n");
    EXPECT_EQ(lines[1].text, "Unknown property: AlsoNope\n");
}

TEST_F(Ranges, AnotherInterfaceIsAnsweredWithoutAResult)
{
    std::string error;
    g_autoptr(GVariant) reply = ranges({"Brightness"}, &error, "com.example.Other");
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(error, "");
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u) << log.text();
    EXPECT_EQ(lines[0].priority, LOG_ERR);
    EXPECT_EQ(lines[0].text, "DBus API: cannot get properties for unknown interface com.example.Other\n");
}

}  // namespace
}  // namespace optad
