// The module's own changes on the rig, as the running daemon follows them
// in the status block: a lens taken off and put back (the protector closed
// and opened again), the IMC's day/night recommendation, new limits from the
// lens, the temperature, and the image stabilizer's running time.
#include "tests/system/params_rig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace optad::test {
namespace {

constexpr const char *PROTECTOR_CONFIRMED = "Confirmed Sunlight Protection change";

TEST(ModuleChanges, LensDetachedAndAttachedClosesAndOpensTheProtector)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    EXPECT_EQ(lens_cache_info(rig), "Canon EF 50mm f/1.4 USM");
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    ASSERT_TRUE(sim.ok("clear imc"));

    // Off: the protector is closed by the daemon's job 40.
    ASSERT_TRUE(sim.ok("lens detach"));
    EXPECT_TRUE(wait_for_change(rig, changed, "SensorProtector", "b'close'", 5000));
    EXPECT_TRUE(optad_logged_times(rig, PROTECTOR_CONFIRMED, 2, 5000));
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{set_frame(0x08, 0x09, {0x00})});
    EXPECT_EQ(sim.ctl("show status 0x15 1"), "00\n");
    EXPECT_EQ(lens_cache_info(rig), "Detached");
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "SensorProtector"), "close");

    // On again: opened.
    ASSERT_TRUE(sim.ok("clear imc"));
    changed.clear();
    ASSERT_TRUE(sim.ok("lens attach"));
    EXPECT_TRUE(wait_for_change(rig, changed, "SensorProtector", "b'open'", 5000));
    EXPECT_TRUE(optad_logged_times(rig, PROTECTOR_CONFIRMED, 3, 5000));
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{set_frame(0x08, 0x09, {0x01})});
    EXPECT_EQ(sim.ctl("show status 0x15 1"), "01\n");
    EXPECT_TRUE(rig.iterate_until([&] { return lens_cache_info(rig) == "Canon EF 50mm f/1.4 USM"; }, scaled_ms(2000)))
        << lens_cache_info(rig);

    // A lens the daemon does not know.
    ASSERT_TRUE(sim.ok("lens detach"));
    ASSERT_TRUE(optad_logged_times(rig, PROTECTOR_CONFIRMED, 4, 5000));
    ASSERT_TRUE(sim.ok("lens attach Unlisted-35mm"));
    EXPECT_TRUE(optad_logged_times(rig, PROTECTOR_CONFIRMED, 5, 5000));
    EXPECT_TRUE(rig.iterate_until([&] { return lens_cache_info(rig) == "Unknown"; }, scaled_ms(2000)))
        << lens_cache_info(rig);
    EXPECT_EQ(optad_log_count(rig, "Got no feedback from Image Chip"), 0);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 0);
    EXPECT_EQ(sim.violations(), "");
}

// The protector's stuck check times one travel: a travel the module made
// on its own earlier (seen moving, then at rest) does not count towards the
// next one, which the daemon's own command starts much later.
TEST(ModuleChanges, AnEarlierTravelOfTheProtectorDoesNotMakeTheNextOneStuck)
{
    // A travel of 0.6 s: several polls see the protector moving, well
    // inside the 2 s a travel may take.
    ModuleSetup setup;
    setup.simulator_args = {"--set", "protector_move_ms=600"};
    RunningModule module(setup);
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    const int confirmed = optad_log_count(rig, PROTECTOR_CONFIRMED);

    // The module moves its protector by itself and stops it again. The
    // travel is the module's own time, 0.6 s in every build: scaled for a
    // slow build it would pass the 2 s limit and rightly count as stuck.
    ASSERT_TRUE(sim.ok("set protector moving"));
    g_usleep(600'000);
    ASSERT_TRUE(sim.ok("set protector open"));
    // Long past 2 s later the lens comes off and the daemon closes the
    // protector: a travel of its own, not a stuck one.
    g_usleep(2'500'000);
    ASSERT_TRUE(sim.ok("clear imc"));
    ASSERT_TRUE(sim.ok("lens detach"));
    EXPECT_TRUE(optad_logged_times(rig, PROTECTOR_CONFIRMED, confirmed + 1, 5000));
    EXPECT_EQ(optad_log_count(rig, "Sunlight protector stuck in Moving state!"), 0);
    EXPECT_EQ(optad_log_count(rig, "Restarting IMC from Main Loop"), 0);
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{set_frame(0x08, 0x09, {0x00})});
    EXPECT_EQ(sim.ctl("show status 0x15 1"), "00\n");
    EXPECT_EQ(sim.violations(), "");
}

// The day values of the host event library's DayNightVision events, in
// order ("event <id>: ... day=<0|1>").
std::vector<int> day_events(Rig &rig)
{
    std::vector<int> days;
    for (const std::string &line : herald_events(rig)) {
        if (line.rfind("event ", 0) != 0)
            continue;
        const size_t at = line.find(" day=");
        if (at != std::string::npos)
            days.push_back(std::atoi(line.c_str() + at + 5));
    }
    return days;
}

TEST(ModuleChanges, DayNightRecommendationWithAutoDayNightIsSentAndPublished)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    // Declared at start-up with the day the module showed (0x66 = 0: day);
    // no event yet.
    bool declared = false;
    for (const std::string &line : herald_events(rig))
        declared = declared || (line.rfind("declare ", 0) == 0 && line.find("day:2=1") != std::string::npos);
    EXPECT_TRUE(declared) << rig.root().read("/var/run/herald/events.log");
    EXPECT_EQ(day_events(rig), std::vector<int>{});
    ASSERT_TRUE(sim.ok("clear imc"));

    // The IMC recommends night: the daemon sends night and, once the IMC
    // shows it, publishes it.
    ASSERT_TRUE(sim.ok("set daynight_rec night"));
    EXPECT_TRUE(optad_logged(rig, "Confirmed Day/Night mode: scam_sts[0x66]=0x01, recv_buf[0x66]=0x01", 5000));
    EXPECT_TRUE(rig.iterate_until([&] { return day_events(rig).size() >= 1; }, scaled_ms(3000)));
    EXPECT_EQ(day_events(rig), std::vector<int>{0});
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{set_frame(0x05, 0x01, {0x01})});
    EXPECT_EQ(sim.ctl("show status 0x66 1"), "01\n");

    // The same recommendation at the next polls queues nothing more; day
    // again goes back.
    ASSERT_TRUE(sim.ok("set daynight_rec day"));
    EXPECT_TRUE(optad_logged(rig, "Confirmed Day/Night mode: scam_sts[0x66]=0x00, recv_buf[0x66]=0x00", 5000));
    EXPECT_TRUE(rig.iterate_until([&] { return day_events(rig).size() >= 2; }, scaled_ms(3000)));
    EXPECT_EQ(day_events(rig), (std::vector<int>{0, 1}));
    EXPECT_EQ(command_frames(sim), (std::vector<std::string>{set_frame(0x05, 0x01, {0x01}), set_frame(0x05, 0x01, {0x00})}));
    // The preference is the IMC's; the configured value stays "auto".
    EXPECT_EQ(imc_get_text(rig, "IrCutFilter"), "b'auto'");
    EXPECT_EQ(sim.violations(), "");
}

// A mapping file's parameter block for one enumeration.
std::string mapping_block(const std::string &name, const std::string &enumeration)
{
    return "    <parameter name=\"" + name +
           "\">\n"
           "      <property dbus=\"com.tavik.ImcControl\" object=\"/com/tavik/ImcControl\"\n"
           "      interface=\"com.tavik.Configuration.Legacy\" name=\"" +
           name +
           "\">\n"
           "        <type type=\"int\" />\n"
           "      </property>\n"
           "      <legacyoptions>\n"
           "        <legacyoption name=\"type\" value=\"" +
           enumeration +
           "\" />\n"
           "        <legacyoption name=\"accessControl\" value=\"operator:3;admin:3;viewer:1\"/>\n"
           "      </legacyoptions>\n"
           "    </parameter>\n";
}

TEST(ModuleChanges, NewLimitsRewriteTheMappingFileAndTheLimitsCache)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");
    const size_t limits_before = datacache_entries(sim, "sensor_data_limits").size();

    // Iris 10-20 (f/2.3 to f/5.6), shutter 5-40 (1/2.7 s to 1/1200 s), gain
    // 3-30: Iris 7 falls to the new lower limit, Shutter 20000 and Gain 7
    // stay.
    ASSERT_TRUE(sim.ok("set limits 10 20 5 40 3 30"));
    EXPECT_TRUE(wait_for_change(rig, changed, "Iris", "10", 5000));
    EXPECT_TRUE(rig.iterate_until(
        [&] { return datacache_entries(sim, "sensor_data_limits").size() == limits_before + 1; }, scaled_ms(3000)));
    const std::vector<std::string> limits = datacache_entries(sim, "sensor_data_limits");
    ASSERT_FALSE(limits.empty());
    // Gain dB 4 and 45, ISO 160 and 19200, f-number x 10 23 and 56, exposure
    // 370370 us and 833 us.
    EXPECT_EQ(limits.back(), hex_words({4, 45, 160, 19200, 23, 56, 370370, 833}));
    EXPECT_EQ(conf_value(rig, "ImageSource.I0.Sensor", "Iris"), "10");
    EXPECT_EQ(imc_get_text(rig, "Shutter"), "20000");
    EXPECT_EQ(imc_get_text(rig, "Gain"), "7");

    const std::string iris = "enum:10|f/2.3,11|f/2.5,12|f/2.8,13|f/3.0,14|f/3.3,15|f/3.6,16|f/4.0,17|f/4.3,"
                             "18|f/4.7,19|f/5.1,20|f/5.6";
    // The shutter speeds from the shortest allowed (index 40) to the
    // longest (index 5).
    const std::string shutter =
        "enum:833|1/1200,1000|1/1000,1190|1/840,1388|1/720,1666|1/600,2000|1/500,2380|1/420,2777|1/360,"
        "3333|1/300,4000|1/250,4761|1/210,5555|1/180,6666|1/150,8333|1/120,10000|1/100,11764|1/85,14285|1/70,"
        "16666|1/60,20000|1/50,23809|1/42,28571|1/35,33333|1/30,40000|1/25,47619|1/21,55555|1/18,66666|1/15,"
        "76923|1/13,90909|1/11,111111|1/9,125000|1/8,166666|1/6,200000|1/5,222222|1/4.5,250000|1/4,"
        "312500|1/3.2,370370|1/2.7";
    const std::string gain = "enum:3|4  (ISO 160),4|6  (ISO 200),5|7  (ISO 250),7|10  (ISO 320),8|12  (ISO 400),"
                             "9|13  (ISO 500),11|16  (ISO 640),12|18  (ISO 800),13|19  (ISO 1000),14|21  (ISO 1250),"
                             "16|24  (ISO 1600),17|25  (ISO 2000),19|28  (ISO 2500),20|30  (ISO 3200),"
                             "21|31  (ISO 4000),23|34  (ISO 5000),24|36  (ISO 6400),28|42  (ISO 12800)";
    const std::string expected = "<mapping>\n  <group name=\"root.ImageSource.I0.Sensor\">\n" +
                                 mapping_block("Iris", iris) + mapping_block("Shutter", shutter) +
                                 mapping_block("Gain", gain) + "  </group>\n</mapping>\n";
    EXPECT_TRUE(rig.iterate_until(
        [&] { return rig.root().read("/etc/legacyconfig/legacymappings.d/optad_shutter_gain_iris.xml") == expected; },
        scaled_ms(3000)))
        << rig.root().read("/etc/legacyconfig/legacymappings.d/optad_shutter_gain_iris.xml");

    // The same limits again change nothing.
    ASSERT_TRUE(sim.ok("set limits 10 20 5 40 3 30"));
    g_usleep(static_cast<gulong>(scaled_ms(1000)) * 1000);
    EXPECT_EQ(datacache_entries(sim, "sensor_data_limits").size(), limits_before + 1);
    EXPECT_EQ(sim.violations(), "");
}

TEST(ModuleChanges, TemperatureChangesRewriteTheTemperatureFile)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    const char *file = "/var/run/optad/imc_temperature";
    const struct {
        const char *degrees;
        const char *text;
    } steps[] = {{"37", "37"}, {"-5", "-5"}, {"127", "127"}, {"-128", "-128"}, {"0", "0"}};
    for (const auto &s : steps) {
        SCOPED_TRACE(s.degrees);
        ASSERT_TRUE(sim.ok(std::string("set temperature ") + s.degrees));
        EXPECT_TRUE(rig.iterate_until([&] { return rig.root().read(file) == s.text; }, scaled_ms(3000)))
            << "\"" << rig.root().read(file) << "\"";
    }
    EXPECT_EQ(sim.violations(), "");
}

TEST(ModuleChanges, StabilizerRunningTimeIsAddedToTheTotalWhenSwitchedOff)
{
    const char *file = "/lib/persistent/var/lib/optics/image_stabilization_total_time";
    ModuleSetup setup;
    setup.files = {{file, "100"}};
    RunningModule module(setup);
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    const char *on = "Confirmed Image Stabilizer Mode: scam_sts[0x67]=0x01, recv_buf[0x67]=0x01";
    const char *off = "Confirmed Image Stabilizer Mode: scam_sts[0x67]=0x00, recv_buf[0x67]=0x00";
    const int off_before = optad_log_count(rig, off);
    ASSERT_TRUE(sim.ok("clear imc"));

    ASSERT_EQ(imc_set_properties(rig, "[('Stabilizer', <b'on'>)]"), "(true,)");
    ASSERT_TRUE(optad_logged(rig, on, 5000));
    // The time under test: let it run for at least two whole seconds.
    g_usleep(2'500'000);
    ASSERT_EQ(imc_set_properties(rig, "[('Stabilizer', <b'off'>)]"), "(true,)");
    ASSERT_TRUE(optad_logged_times(rig, off, off_before + 1, 5000));
    const std::vector<SimEvent> sent = stamped_command_frames(sim);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].text, set_frame(0x08, 0x07, {0x01}));
    EXPECT_EQ(sent[1].text, set_frame(0x08, 0x07, {0x00}));

    ASSERT_TRUE(rig.iterate_until([&] { return rig.root().read(file) != "100"; }, scaled_ms(3000)));
    const std::string total = rig.root().read(file);
    EXPECT_EQ(total.find('\n'), std::string::npos) << "no newline";
    const int seconds = std::atoi(total.c_str()) - 100;
    // Whole seconds of the monotonic clock between the two confirmations;
    // the sends bracket them, give or take a polling period.
    const double between_sends = static_cast<double>(sent[1].us - sent[0].us) / 1e6;
    EXPECT_GE(seconds, 2) << total;
    EXPECT_LE(seconds, static_cast<int>(between_sends) + 2) << total << " after " << between_sends << " s";
    EXPECT_EQ(sim.violations(), "");
}

// The stabilizer runs, the module fails and is restarted (the push switches
// the stabilizer on again), then the stabilizer is switched off: the time it
// ran before the restart is in the total too.
TEST(ModuleChanges, StabilizerTimeBeforeARestartIsNotLost)
{
    const char *file = "/lib/persistent/var/lib/optics/image_stabilization_total_time";
    ModuleSetup setup;
    setup.files = {{file, "100"}};
    RunningModule module(setup);
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    const char *on = "Confirmed Image Stabilizer Mode: scam_sts[0x67]=0x01, recv_buf[0x67]=0x01";
    const char *off = "Confirmed Image Stabilizer Mode: scam_sts[0x67]=0x00, recv_buf[0x67]=0x00";
    const int off_before = optad_log_count(rig, off);

    ASSERT_EQ(imc_set_properties(rig, "[('Stabilizer', <b'on'>)]"), "(true,)");
    ASSERT_TRUE(optad_logged(rig, on, 5000));
    const int64_t on_at = g_get_monotonic_time();
    // The time under test: three seconds of running before the fault.
    g_usleep(3'000'000);
    ASSERT_TRUE(sim.ok("fault ircut_error on"));
    ASSERT_TRUE(optad_logged(rig, "IR Cut Filter responds error!", 5000));
    ASSERT_TRUE(sim.ok("fault ircut_error off"));
    ASSERT_TRUE(optad_logged_times(rig, STARTUP_DONE, 2, 60000));
    EXPECT_EQ(optad_log_count(rig, on), 2) << "switched on again by the push";

    ASSERT_EQ(imc_set_properties(rig, "[('Stabilizer', <b'off'>)]"), "(true,)");
    ASSERT_TRUE(optad_logged_times(rig, off, off_before + 1, 5000));
    const double ran = static_cast<double>(g_get_monotonic_time() - on_at) / 1e6;
    EXPECT_TRUE(rig.iterate_until([&] { return rig.root().read(file) != "100"; }, scaled_ms(3000)))
        << "nothing added";
    const int seconds = std::atoi(rig.root().read(file).c_str()) - 100;
    EXPECT_GE(seconds, 3) << rig.root().read(file);
    EXPECT_LE(seconds, static_cast<int>(ran) + 2) << rig.root().read(file) << " after " << ran << " s";
    EXPECT_EQ(sim.violations(), "");
}

// Focus requests follow what the IMC reports: a one-shot focus needs an
// exposure of 1/8 s or shorter and the lens switched to auto focus; focus
// steps need auto focus.
TEST(ModuleChanges, FocusRequestsFollowTheLensSwitchAndTheExposure)
{
    ModuleSetup setup;
    setup.simulator_args = {"--set", "focus_oneshot_ms=1000"};
    RunningModule module(setup);
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    const auto settle = [&] { g_usleep(static_cast<gulong>(scaled_ms(1000)) * 1000); };

    // 1/2.7 s (shutter index 5): no one-shot focus, FocusMode stays 1.
    ASSERT_TRUE(sim.ok("set exposure 8 5 0"));
    settle();
    ASSERT_TRUE(sim.ok("clear imc"));
    ASSERT_EQ(imc_set_properties(rig, "[('FocusMode', <5>)]"), "(true,)");
    settle();
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{});
    EXPECT_EQ(imc_get_text(rig, "FocusMode"), "1");

    // 1/30 s (index 19): the one-shot focus runs.
    ASSERT_TRUE(sim.ok("set exposure 8 19 0"));
    settle();
    ASSERT_EQ(imc_set_properties(rig, "[('FocusMode', <5>)]"), "(true,)");
    EXPECT_TRUE(optad_logged(rig, "Confirmed Focus mode change: scam_sts[0x20]=0x01, recv_buf[0x20]=0x01", 10000));
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{set_frame(0x01, 0x00, {0x05})});
    EXPECT_EQ(imc_get_text(rig, "FocusMode"), "1");

    // The lens switched to manual focus: steps are refused, a one-shot focus
    // is not run.
    ASSERT_TRUE(sim.ok("set focus_switch 0"));
    settle();
    ASSERT_TRUE(sim.ok("clear imc"));
    EXPECT_EQ(imc_set_properties(rig, "[('FocusDrive', <b'-minstep'>)]"), "error: The lens is in manual focus mode!");
    ASSERT_EQ(imc_set_properties(rig, "[('FocusMode', <5>)]"), "(true,)");
    settle();
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{});
    EXPECT_EQ(imc_get_text(rig, "FocusDrive"), "b'+minstep'");

    // Back to auto focus: a step goes out.
    ASSERT_TRUE(sim.ok("set focus_switch 1"));
    settle();
    ASSERT_EQ(imc_set_properties(rig, "[('FocusDrive', <b'-minstep'>)]"), "(true,)");
    EXPECT_TRUE(rig.iterate_until([&] { return !command_frames(sim).empty(); }, scaled_ms(3000)));
    EXPECT_EQ(command_frames(sim), std::vector<std::string>{set_frame(0x01, 0x06, {0xFF, 0xFF})});
    EXPECT_EQ(sim.violations(), "");
}

// A new exposure mode: the IMC's exposure moves and settles; the daemon
// shows the change in progress until both indices have been steady for
// their counts (at least 1 s, at most 5 s after the watch began) and
// publishes each exposure it sees.
TEST(ModuleChanges, AnExposureChangeIsInProgressUntilTheExposureSettles)
{
    RunningModule module;
    ASSERT_TRUE(module.ready());
    DaemonRig &rig = module.rig();
    Simulator &sim = module.sim();
    ASSERT_NE(settled_sensor_entry(rig, sim), "");
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");

    const int64_t set_at = g_get_monotonic_time();
    ASSERT_EQ(imc_set_properties(rig, "[('Exposure', <b'shutter'>), ('Shutter', <2000>)]"), "(true,)");
    ASSERT_TRUE(wait_for_change(rig, changed, "ExposureProgress", "1", 5000));
    EXPECT_EQ(imc_get_text(rig, "ExposureProgress"), "1");
    ASSERT_TRUE(wait_for_change(rig, changed, "ExposureProgress", "0", 10000));
    const int64_t settled_at = g_get_monotonic_time();
    EXPECT_GE(settled_at - set_at, 1'000'000);
    EXPECT_LE(settled_at - set_at, 5'000'000 + static_cast<int64_t>(scaled_ms(2000)) * 1000);
    EXPECT_EQ(imc_get_text(rig, "ExposureProgress"), "0");

    // The newest published exposure is the one the IMC settled at.
    const std::string settled = settled_sensor_entry(rig, sim);
    ASSERT_NE(settled, "");
    const auto newest_sensor = [&] {
        const std::vector<std::string> entries = datacache_entries(sim, "sensor_data");
        return entries.empty() ? std::string() : entries.back();
    };
    EXPECT_TRUE(rig.iterate_until([&] { return newest_sensor() == settled; }, scaled_ms(3000)))
        << newest_sensor() << " for " << sim.ctl("show status 0x42 3");
    EXPECT_EQ(sim.ctl("show status 0x40 1"), "05\n") << "shutter priority";
    EXPECT_EQ(sim.ctl("show status 0x53 1"), "23\n") << "1/500 s is index 35";
    EXPECT_EQ(sim.violations(), "");
}

}  // namespace
}  // namespace optad::test
