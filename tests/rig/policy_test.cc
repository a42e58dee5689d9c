// The bus enforces the daemon's policy (dbus/com.tavik.ImcControl.conf) the
// way the camera's system bus does: an unprivileged client may read the
// parameters, their ranges and the object's description, and may not own
// the daemon's name, write a property, call SetProperties or SetPower;
// root may do all of it. The clients run as nobody through setpriv; each
// refused call is also made as root, so that a refusal is known to come
// from the policy and not from a broken call.
#include "tests/support/rig.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <string>
#include <vector>

#ifndef OPTAD_SOURCE_DIR
#error "OPTAD_SOURCE_DIR must name the source tree"
#endif

namespace optad::test {
namespace {

constexpr const char GDBUS[] = "/usr/bin/gdbus";
constexpr const char PYTHON[] = "/usr/bin/python3";
constexpr const char OWN_NAME_SCRIPT[] = OPTAD_SOURCE_DIR "/tests/rig/clients/own_name.py";
constexpr const char ACCESS_DENIED[] = "org.freedesktop.DBus.Error.AccessDenied";

constexpr bool AS_ROOT = false;
constexpr bool AS_NOBODY = true;

// The name owner client, given as program text: the source tree may lie
// where nobody cannot read.
std::vector<std::string> own_name(const char *name)
{
    g_autofree char *script = nullptr;
    if (!g_file_get_contents(OWN_NAME_SCRIPT, &script, nullptr, nullptr))
        ADD_FAILURE() << "cannot read " << OWN_NAME_SCRIPT;
    return {PYTHON, "-c", script != nullptr ? script : "", name};
}

// gdbus call on the daemon's object.
std::vector<std::string> call_daemon(const std::vector<std::string> &method_and_args)
{
    std::vector<std::string> argv = {GDBUS, "call", "--system", "--dest", IMC_CONTROL_NAME, "--object-path",
                                     IMC_CONTROL_PATH, "--method"};
    argv.insert(argv.end(), method_and_args.begin(), method_and_args.end());
    return argv;
}

TEST(BusPolicy, UnprivilegedClientsReachTheBus)
{
    Rig rig;
    ASSERT_TRUE(rig.ok());
    Rig::ClientRun run =
        rig.run_client({GDBUS, "call", "--system", "--dest", "org.freedesktop.DBus", "--object-path",
                        "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetId"},
                       AS_NOBODY, scaled_ms(10000));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("('", 0), 0u) << run.out;
}

TEST(BusPolicy, OnlyRootMayOwnTheServiceName)
{
    Rig rig;
    ASSERT_TRUE(rig.ok());
    Rig::ClientRun nobody = rig.run_client(own_name(IMC_CONTROL_NAME), AS_NOBODY, scaled_ms(10000));
    EXPECT_EQ(nobody.status, 1) << nobody.err;
    EXPECT_EQ(nobody.out, std::string(ACCESS_DENIED) + "\n") << nobody.err;

    Rig::ClientRun root = rig.run_client(own_name(IMC_CONTROL_NAME), AS_ROOT, scaled_ms(10000));
    EXPECT_EQ(root.status, 0) << root.err;
    EXPECT_EQ(root.out, "owned\n") << root.err;
}

// What an unprivileged client may call on the running daemon, and what not.
struct PolicyCase {
    const char *what;
    std::vector<std::string> call;  // --method and its arguments
    bool nobody_may;
};

const PolicyCase POLICY_CASES[] = {
    {"read a property", {"org.freedesktop.DBus.Properties.Get", IMC_CONTROL_INTERFACE, "Brightness"}, true},
    {"read all properties", {"org.freedesktop.DBus.Properties.GetAll", IMC_CONTROL_INTERFACE}, true},
    {"introspect", {"org.freedesktop.DBus.Introspectable.Introspect"}, true},
    {"ping", {"org.freedesktop.DBus.Peer.Ping"}, true},
    {"get ranges", {"com.tavik.Configuration.Legacy.GetRanges", IMC_CONTROL_INTERFACE, "['Brightness']"}, true},
    {"write a property",
     {"org.freedesktop.DBus.Properties.Set", IMC_CONTROL_INTERFACE, "MaxAutoGainControlNormal", "<int32 50>"},
     false},
    {"set properties", {"com.tavik.Configuration.Legacy.SetProperties", IMC_CONTROL_INTERFACE, "@a(sv) []"}, false},
    // Less than the module needs: root's call changes nothing else.
    {"set power", {"com.tavik.Configuration.Legacy.SetPower", "1.0"}, false},
};

class BusPolicyWithDaemon : public ::testing::Test {
protected:
    // optad gets as far as serving its object with the module simulated and
    // the image pipeline and power budget services there. The board runs on
    // Power over Ethernet and the budget service never grants power, so the
    // daemon never starts the module's power-up, during which its property
    // handlers wait for the main loop.
    Rig rig{RigOptions()
                .with_simulator()
                .with_simulator_setup({"drive dc_off 1"})
                .with_peer(Peer::Framerd)
                .with_peer(Peer::Wattd, R"({"answer": false})")
                .with_optad()};
};

TEST_F(BusPolicyWithDaemon, UnprivilegedClientsMayReadButNotChange)
{
    ASSERT_TRUE(rig.ok());
    for (const PolicyCase &c : POLICY_CASES) {
        std::vector<std::string> argv = call_daemon(c.call);
        Rig::ClientRun nobody = rig.run_client(argv, AS_NOBODY, scaled_ms(10000));
        if (c.nobody_may) {
            EXPECT_EQ(nobody.status, 0) << c.what << ": " << nobody.err;
            EXPECT_EQ(nobody.err, "") << c.what;
        } else {
            EXPECT_NE(nobody.status, 0) << c.what << ": " << nobody.out;
            EXPECT_NE(nobody.err.find(ACCESS_DENIED), std::string::npos) << c.what << ": " << nobody.err;
        }
        // Root passes the bus, and the daemon answers.
        Rig::ClientRun root = rig.run_client(argv, AS_ROOT, scaled_ms(10000));
        EXPECT_EQ(root.status, 0) << c.what << " as root: " << root.err;
        EXPECT_EQ(root.err.find(ACCESS_DENIED), std::string::npos) << c.what << " as root: " << root.err;
    }
}

TEST_F(BusPolicyWithDaemon, EveryoneHearsItsSignals)
{
    ASSERT_TRUE(rig.ok());
    std::unique_ptr<Program> monitor =
        rig.start_client({GDBUS, "monitor", "--system", "--dest", IMC_CONTROL_NAME, "--object-path", IMC_CONTROL_PATH},
                         AS_NOBODY);
    ASSERT_TRUE(monitor->wait_for_line(Program::Stream::Out, "is owned by", scaled_ms(10000)))
        << monitor->text(Program::Stream::Out) << monitor->text(Program::Stream::Err);

    // A change that root makes is announced with PropertiesChanged.
    g_autoptr(GVariant) now = rig.get_property(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, "Brightness");
    ASSERT_NE(now, nullptr);
    const int other = g_variant_get_int32(now) == 40 ? 41 : 40;
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) set =
        rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties", "Set",
                 g_variant_new("(ssv)", IMC_CONTROL_INTERFACE, "Brightness", g_variant_new_int32(other)), &error);
    ASSERT_NE(set, nullptr) << error->message;
    EXPECT_TRUE(monitor->wait_for_line(Program::Stream::Out, "'Brightness': <" + std::to_string(other) + ">",
                                       scaled_ms(10000)))
        << monitor->text(Program::Stream::Out);
}

}  // namespace
}  // namespace optad::test
