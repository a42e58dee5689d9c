// What the daemon publishes besides its parameters: the day/night event
// through the camera's event library (the host build's library writes each
// declaration, event and withdrawal as a line of events.log) and the
// overlay condition flags.
#include "dbus/optad_event.h"

#include "tests/support/test_support.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <sstream>
#include <string>
#include <vector>

namespace optad {
namespace {

constexpr const char EVENTS_LOG[] = "/var/run/herald/events.log";

// The DayNightVision declaration: topic VideoSource/DayNightVision in the
// namespaces tns1/tnstavik, the source token 1, and the stateful key "day"
// carrying the state of the first report.
std::string declaration(int id, int day)
{
    return "declare " + std::to_string(id) +
           " \"optad events\": topic0:4=\"VideoSource\" ns=\"tns1\" value_nice=\"Video source\"; "
           "topic1:4=\"DayNightVision\" ns=\"tnstavik\" value_nice=\"Day night vision\"; "
           "VideoSourceConfigurationToken:1=1 key_nice=\"Video source configuration token\" "
           "tag=\"onvif-source\"; day:2=" +
           std::to_string(day) + " key_nice=\"day\" tag=\"onvif-data\" property";
}

class Events : public ::testing::Test {
protected:
    void SetUp() override
    {
        events_free();
        events_init();
    }
    void TearDown() override { events_free(); }

    std::vector<std::string> published() const
    {
        std::vector<std::string> lines;
        std::istringstream in(root.read(EVENTS_LOG));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    test::SandboxRoot root;
    test::LogCapture log;
};

using Lines = std::vector<std::string>;

TEST_F(Events, FirstReportDeclaresTheStateLaterReportsSendOnlyChanges)
{
    event_handler_ircut_property_changed(0);
    EXPECT_EQ(published(), Lines{declaration(1, 0)});
    event_handler_ircut_property_changed(0);
    EXPECT_EQ(published(), Lines{declaration(1, 0)});
    event_handler_ircut_property_changed(1);
    event_handler_ircut_property_changed(1);
    event_handler_ircut_property_changed(0);
    events_free();
    EXPECT_EQ(published(), (Lines{declaration(1, 0), "event 1: day=1", "event 1: day=0", "undeclare 1"}));
    EXPECT_TRUE(log.lines().empty()) << log.text();
}

TEST_F(Events, DeclaredStateIsTheFirstReported)
{
    event_handler_ircut_property_changed(1);
    event_handler_ircut_property_changed(1);
    EXPECT_EQ(published(), Lines{declaration(1, 1)});
}

// The event service cannot take the declaration at the first report: the
// warning is logged, nothing is sent, and the next report declares again,
// with the state it brings.
TEST_F(Events, AFailedDeclarationIsMadeAgainAtTheNextReport)
{
    root.write("/var/run/herald", "");  // the event log cannot be written
    event_handler_ircut_property_changed(0);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u) << log.text();
    EXPECT_EQ(lines[0].priority, LOG_WARNING);
    EXPECT_EQ(lines[0].text, "WARNING:optad:optad_event:event_handler_ircut_property_changed - Could not declare "
                             "the IR cut property\n");

    ASSERT_EQ(g_unlink(root.path("/var/run/herald").c_str()), 0);
    log.clear();
    event_handler_ircut_property_changed(1);
    event_handler_ircut_property_changed(0);
    EXPECT_EQ(published(), (Lines{declaration(1, 1), "event 1: day=0"}));
    EXPECT_TRUE(log.lines().empty()) << log.text();
}

std::vector<std::string> criticals;
void keep_critical(const gchar *, GLogLevelFlags, const gchar *message, gpointer)
{
    criticals.push_back(message);
}

TEST_F(Events, ReportBeforeInitIsAProgrammingError)
{
    events_free();
    criticals.clear();
    const guint handler = g_log_set_handler(
        nullptr, static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
        keep_critical, nullptr);
    event_handler_ircut_property_changed(1);
    g_log_remove_handler(nullptr, handler);
    ASSERT_EQ(criticals.size(), 1u);
    EXPECT_NE(criticals[0].find("event_handler_ircut_property_changed"), std::string::npos) << criticals[0];
    EXPECT_NE(criticals[0].find("producer != NULL"), std::string::npos) << criticals[0];
    EXPECT_TRUE(published().empty());

    // Nothing was remembered: the first report after init declares its own
    // state.
    events_init();
    event_handler_ircut_property_changed(0);
    EXPECT_EQ(published(), Lines{declaration(1, 0)});
}

TEST_F(Events, OverlayConditions)
{
    for (int kind : {OVERLAY_NOT_ENOUGH_POWER, OVERLAY_TEMPERATURE_WARMING, OVERLAY_BLOCK_UPGRADE})
        EXPECT_EQ(overlay_condition(kind), 0) << kind;

    overlay_set_condition(OVERLAY_NOT_ENOUGH_POWER, 1);
    overlay_set_condition(OVERLAY_NOT_ENOUGH_POWER, 1);
    EXPECT_EQ(overlay_condition(OVERLAY_NOT_ENOUGH_POWER), 1);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u) << log.text();
    EXPECT_EQ(lines[0].priority, LOG_INFO);
    EXPECT_EQ(lines[0].text, "Not enough POE power\n");

    log.clear();
    overlay_set_condition(OVERLAY_NOT_ENOUGH_POWER, 0);
    overlay_set_condition(OVERLAY_TEMPERATURE_WARMING, 1);
    overlay_set_condition(OVERLAY_BLOCK_UPGRADE, 1);
    overlay_set_condition(3, 1);
    overlay_set_condition(-1, 1);
    EXPECT_EQ(overlay_condition(OVERLAY_NOT_ENOUGH_POWER), 0);
    EXPECT_EQ(overlay_condition(OVERLAY_TEMPERATURE_WARMING), 1);
    EXPECT_EQ(overlay_condition(OVERLAY_BLOCK_UPGRADE), 1);
    EXPECT_EQ(overlay_condition(3), -1);
    EXPECT_TRUE(log.lines().empty()) << log.text();

    events_init();
    for (int kind : {OVERLAY_NOT_ENOUGH_POWER, OVERLAY_TEMPERATURE_WARMING, OVERLAY_BLOCK_UPGRADE})
        EXPECT_EQ(overlay_condition(kind), 0) << kind;
}

}  // namespace
}  // namespace optad
