// Thousands of random writes to the parameter service, seeded and bounded:
// right and wrong names, right and wrong types, sensible and absurd values,
// single Set calls and SetProperties batches. Afterwards the daemon must be
// alive, its configuration file must load, every property must read back
// as its last PropertiesChanged announced it (the handlers announce every
// value they store), and a restarted daemon must read back the same.
//
// OPTAD_RANDOM_SEED replays a failed run (the seed is printed).
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace optad::test {
namespace {

const std::vector<std::string> other_names = {"CaptureMode", "CaptureFrequency", "ImageRotation", "", "brightness",
                                              "Brightness ", "Exposure\n", "[General]", "Version"};
const std::vector<std::string> words = {
    "auto", "iris", "shutter", "flickerfree", "flickerreduced", "manual", "center", "full", "spot", "custom",
    "oneshot", "sodium", "mercury", "fixed_outdoor1", "fixed_indoor", "yes", "no", "on", "off", "normal", "740nm",
    "open", "closed", "-minstep", "+minstep", "-bigstep", "+bigstep", "0.1,0.1:0.9,0.1:0.9,0.9:0.1,0.9",
    "0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555", "limitedOptical", "50Hz",
    ""};
// Text that is awkward for a key file.
const std::vector<std::string> awkward = {"\"quoted\"", "\"", " padded ", "trailing\t", "two\nlines", "[Group]",
                                          "k=v", "#hash", "back\\slash", "\"half", "\xc3\xa9t\xc3\xa9"};
const std::vector<int> ints = {0, 1, 2, 3, 4, 5, 6, 7, 10, 12, 50, 51, 60, 63, 99, 100, 255, 500, 4999, 9999,
                               10000, 8000, 16666, 20000, 33333, 40000, 66666, 125000, -1, -100000, 2147483647,
                               -2147483647 - 1};

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
    bool chance(int percent) { return static_cast<int>(below(100)) < percent; }

    std::string name()
    {
        if (chance(90))
            return interface_property_names[below(interface_property_names.size())];
        return other_names[below(other_names.size())];
    }

    std::string text()
    {
        if (chance(60))
            return words[below(words.size())];
        if (chance(25))
            return awkward[below(awkward.size())];
        // Random bytes: printable, key-file syntax, control characters,
        // non-ASCII and invalid UTF-8 alike.
        static const char alphabet[] = "abcXYZ019 .,:;=[]#\"\\\n\t\r-+_\xc3\xa9\xff\x80";
        std::string s;
        const size_t len = chance(2) ? 5000 : below(24);
        for (size_t i = 0; i < len; i++)
            s += alphabet[below(sizeof alphabet - 1)];
        return s;
    }

    GVariant *value()
    {
        switch (below(10)) {
        case 0: case 1: case 2: case 3:
            return g_variant_new_int32(chance(80) ? ints[below(ints.size())]
                                                  : static_cast<int>(rng_()));
        case 4: case 5: case 6: {
            const std::string s = text();
            return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, s.data(), s.size(), 1);
        }
        case 7: {
            std::string s = text();
            if (!g_utf8_validate(s.c_str(), -1, nullptr))
                s = "not utf-8";
            return g_variant_new_string(s.c_str());
        }
        case 8:
            return g_variant_new_double(1.5);
        default:
            return g_variant_new("(ii)", 1, 2);
        }
    }

private:
    std::mt19937 rng_;
};

unsigned seed_for_run()
{
    if (const char *s = std::getenv("OPTAD_RANDOM_SEED"))
        return static_cast<unsigned>(std::strtoul(s, nullptr, 10));
    return 20261208;
}

std::map<std::string, std::string> read_all(Rig &rig)
{
    std::map<std::string, std::string> values;
    for (const std::string &name : interface_property_names)
        values[name] = imc_get_text(rig, name.c_str());
    return values;
}

TEST(RandomInput, TheDaemonSurvivesAndStoresExactlyWhatItAnnounces)
{
    const unsigned seed = seed_for_run();
    SCOPED_TRACE("OPTAD_RANDOM_SEED=" + std::to_string(seed));
    DaemonRig rig(peers_without_grant());
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(optad_logged(rig, "Created datacache"));

    std::map<std::string, std::string> expected = read_all(rig);
    SignalRecorder changed(rig.bus(), rig.context(), nullptr, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged");

    // Slower builds make fewer calls, so that the case stays within its time.
    const int calls = std::max(300, 3000 / time_scale());
    Generator gen(seed);
    int refused = 0;
    for (int i = 0; i < calls; i++) {
        g_autoptr(GError) error = nullptr;
        g_autoptr(GVariant) reply = nullptr;
        if (gen.chance(30)) {
            const std::string name = gen.name();
            reply = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties", "Set",
                             g_variant_new("(ssv)", IMC_CONTROL_INTERFACE, name.c_str(), gen.value()), &error);
        } else {
            GVariantBuilder b;
            g_variant_builder_init(&b, G_VARIANT_TYPE("a(sv)"));
            const size_t n = gen.below(8);
            for (size_t k = 0; k < n; k++)
                g_variant_builder_add(&b, "(sv)", gen.name().c_str(), gen.value());
            reply = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, "SetProperties",
                             g_variant_new("(sa(sv))", IMC_CONTROL_INTERFACE, &b), &error);
        }
        if (reply == nullptr)
            refused++;
        // A refusal is an error reply, never a dead daemon.
        if (i % 100 == 0)
            ASSERT_TRUE(rig.optad()->running()) << "after call " << i;
    }
    // Last, awkward text for every property, so that what the restart below
    // reads back is not only what the random calls happened to leave.
    for (const std::string &name : interface_property_names) {
        const std::string &text = awkward[gen.below(awkward.size())];
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a(sv)"));
        g_variant_builder_add(&b, "(sv)", name.c_str(),
                              g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, text.data(), text.size(), 1));
        g_autoptr(GVariant) reply = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE,
                                             "SetProperties", g_variant_new("(sa(sv))", IMC_CONTROL_INTERFACE, &b));
    }
    ASSERT_TRUE(rig.optad()->running());
    EXPECT_GT(refused, calls / 10);
    EXPECT_LT(refused, calls);

    // Every signal sent before the last reply has arrived by now.
    while (g_main_context_iteration(rig.context(), FALSE)) {
    }
    for (size_t i = 0; i < changed.count(); i++) {
        g_autoptr(GVariant) dict = g_variant_get_child_value(changed.body(i), 1);
        GVariantIter iter;
        g_variant_iter_init(&iter, dict);
        const char *name = nullptr;
        GVariant *value = nullptr;
        while (g_variant_iter_next(&iter, "{&sv}", &name, &value)) {
            g_autofree char *text = g_variant_print(value, TRUE);
            expected[name] = text;
            g_variant_unref(value);
        }
    }
    EXPECT_EQ(read_all(rig), expected);

    g_autoptr(GKeyFile) kf = g_key_file_new();
    g_autoptr(GError) load_error = nullptr;
    EXPECT_TRUE(g_key_file_load_from_file(kf, rig.root().path("/etc/optad/optad.conf").c_str(), G_KEY_FILE_NONE,
                                          &load_error))
        << (load_error != nullptr ? load_error->message : "");

    ASSERT_EQ(rig.stop_optad(), 143);
    ASSERT_NE(rig.start_optad(), nullptr);
    ASSERT_TRUE(rig.wait_for_optad_on_bus(scaled_ms(20000)));
    EXPECT_EQ(read_all(rig), expected);
}

}  // namespace
}  // namespace optad::test
