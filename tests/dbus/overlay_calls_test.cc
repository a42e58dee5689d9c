// The overlay calls on a bus, against the overlay service's mock holding
// its answers: no call waits for the service, only a bounded number of
// calls waits for answers however often the conditions change meanwhile,
// and the service learns the latest state once it answers again.
#include "dbus/optad_event.h"
#include "tests/support/rig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace optad::test {
namespace {

// The three overlays as the service is told them, in their order, with the
// warming overlay raised or cleared and the other two cleared.
std::string update(bool warming)
{
    return std::string("Unset ('PTZ_BLOCK_UPGRADE',)\n") +
           (warming ? "Set ('PTZ_TEMPERATURE_WARMING', uint32 0)\n" : "Unset ('PTZ_TEMPERATURE_WARMING',)\n") +
           "Unset ('VIDEO_NOT_ENOUGH_POWER_CLASS4',)\n";
}

TEST(OverlayCalls, AHungServiceHoldsEightUpdatesAtMostAndLearnsTheLatestStateOnceItAnswers)
{
    Rig rig(RigOptions().with_peer(Peer::Captiond, R"({"hang": true})"));
    ASSERT_TRUE(rig.ok());
    // The module watches the service on the process's system bus: the rig's.
    // Its callbacks run in the rig's context, this thread's default one.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", rig.bus_address().c_str(), 1);
    LogCapture log;
    events_init();
    event_handler_dbus_watch_captiond();
    MockPeer &captiond = rig.peer(Peer::Captiond);
    ASSERT_TRUE(rig.iterate_until([&] { return captiond.calls_text() == update(false); }, scaled_ms(5000)))
        << captiond.calls_text();

    // Twenty-one changes while the first update waits: seven more updates
    // go out, the rest are held back.
    for (int i = 0; i < 21; ++i)
        overlay_set_condition(OVERLAY_TEMPERATURE_WARMING, i % 2 == 0 ? 1 : 0);
    std::string sent = update(false);
    for (int i = 0; i < 7; ++i)
        sent += update(i % 2 == 0);
    EXPECT_TRUE(rig.iterate_until([&] { return captiond.calls_text() == sent; }, scaled_ms(5000)))
        << captiond.calls_text();
    rig.iterate_until([] { return false; }, 300);
    EXPECT_EQ(captiond.calls_text(), sent);

    // Answered, the service is told the state as it is now, once.
    g_autoptr(GVariant) r = captiond.control("SetHang", g_variant_new("(b)", FALSE));
    sent += "SetHang (false,)\n" + update(true);
    EXPECT_TRUE(rig.iterate_until([&] { return captiond.calls_text() == sent; }, scaled_ms(5000)))
        << captiond.calls_text();
    rig.iterate_until([] { return false; }, 300);
    EXPECT_EQ(captiond.calls_text(), sent);
    EXPECT_EQ(log.count_containing("Could not call captiond"), 0) << log.text();

    event_handler_dbus_unwatch_captiond();
    events_init();
}

}  // namespace
}  // namespace optad::test
