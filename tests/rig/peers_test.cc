// The mocked peers answer what optad expects of the real services: the
// message types, the signals and the controls a system test drives them
// with. Expected texts are the peers' interfaces as optad's clients read
// them, printed by g_variant_print with types.
#include "tests/support/rig.h"

#include <gtest/gtest.h>

#include <gio/gio.h>

#include <string>
#include <vector>

namespace optad::test {
namespace {

constexpr const char PROPERTIES[] = "org.freedesktop.DBus.Properties";
constexpr const char LEGACY[] = "com.tavik.Configuration.Legacy";

int64_t now_ms()
{
    return g_get_monotonic_time() / 1000;
}

std::string printed(GVariant *v)
{
    if (v == nullptr)
        return "(null)";
    g_autofree char *text = g_variant_print(v, TRUE);
    return text;
}

// The remote D-Bus error name of a failed call ("" if it did not fail).
std::string error_name(const GError *error)
{
    if (error == nullptr)
        return "";
    g_autofree char *name = g_dbus_error_get_remote_error(error);
    return name != nullptr ? name : error->message;
}

// An "av" of the given values (floating ones are taken).
GVariant *variant_array(std::initializer_list<GVariant *> values)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("av"));
    for (GVariant *v : values)
        g_variant_builder_add(&b, "v", v);
    return g_variant_builder_end(&b);
}

// The raw Properties.Get reply of a peer's main object.
GVariant *get_reply(Rig &rig, Peer peer, const char *interface, const char *name)
{
    const PeerInfo &p = peer_info(peer);
    g_autoptr(GError) error = nullptr;
    GVariant *reply =
        rig.call(p.bus_name, p.object_path, PROPERTIES, "Get", g_variant_new("(ss)", interface, name), &error);
    EXPECT_NE(reply, nullptr) << name << ": " << error_name(error);
    return reply;
}

// ---- framerd ---------------------------------------------------------------

struct PropertyReply {
    const char *name;
    const char *inner_type;  // what optad's handlers branch on
    const char *value;
};

void expect_replies(Rig &rig, Peer peer, const char *interface, std::initializer_list<PropertyReply> rows)
{
    for (const PropertyReply &row : rows) {
        g_autoptr(GVariant) reply = get_reply(rig, peer, interface, row.name);
        ASSERT_NE(reply, nullptr);
        ASSERT_STREQ(g_variant_get_type_string(reply), "(v)") << row.name;
        g_autoptr(GVariant) inner = nullptr;
        g_variant_get(reply, "(v)", &inner);
        EXPECT_STREQ(g_variant_get_type_string(inner), row.inner_type) << row.name;
        EXPECT_EQ(printed(inner), row.value) << row.name;
    }
}

TEST(FramerdMock, GetAnswersVariantsOfTheTypesOptadReads)
{
    Rig rig(RigOptions().with_peer(Peer::Framerd));
    ASSERT_TRUE(rig.ok());
    expect_replies(rig, Peer::Framerd, LEGACY, {{"CaptureFrequency", "s", "'50Hz'"}, {"CaptureMode", "i", "1"}});

    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) none =
        rig.call(peer_info(Peer::Framerd).bus_name, peer_info(Peer::Framerd).object_path, PROPERTIES, "Get",
                 g_variant_new("(ss)", LEGACY, "Brightness"), &error);
    EXPECT_EQ(none, nullptr) << "only the two capture properties exist";
}

TEST(FramerdMock, StartsWithTheValuesItIsGiven)
{
    Rig rig(RigOptions().with_peer(Peer::Framerd, R"({"CaptureFrequency": "60Hz", "CaptureMode": 3})"));
    ASSERT_TRUE(rig.ok());
    expect_replies(rig, Peer::Framerd, LEGACY, {{"CaptureFrequency", "s", "'60Hz'"}, {"CaptureMode", "i", "3"}});
}

TEST(FramerdMock, ChangesAreAnnouncedAndRawSignalsKeepTheirBody)
{
    Rig rig(RigOptions().with_peer(Peer::Framerd));
    ASSERT_TRUE(rig.ok());
    MockPeer &framerd = rig.peer(Peer::Framerd);
    SignalRecorder changed(rig.bus(), rig.context(), framerd.info().bus_name, framerd.info().object_path,
                           PROPERTIES, "PropertiesChanged");

    g_autoptr(GVariant) r1 = framerd.control("SetCaptureMode", g_variant_new("(i)", 2));
    ASSERT_TRUE(changed.wait_for(1, scaled_ms(5000)));
    EXPECT_EQ(changed.text(0), "('com.tavik.Configuration.Legacy', {'CaptureMode': <2>}, @as [])");
    g_autoptr(GVariant) r2 = framerd.control("SetCaptureFrequency", g_variant_new("(s)", "60Hz"));
    ASSERT_TRUE(changed.wait_for(2, scaled_ms(5000)));
    EXPECT_EQ(changed.text(1), "('com.tavik.Configuration.Legacy', {'CaptureFrequency': <'60Hz'>}, @as [])");
    expect_replies(rig, Peer::Framerd, LEGACY, {{"CaptureFrequency", "s", "'60Hz'"}, {"CaptureMode", "i", "2"}});

    // A PropertiesChanged with a body optad must refuse.
    g_autoptr(GVariant) r3 =
        framerd.control("EmitSignal", g_variant_new("(sss@av)", PROPERTIES, "PropertiesChanged", "s",
                                                    variant_array({g_variant_new_string("50Hz")})));
    ASSERT_TRUE(changed.wait_for(3, scaled_ms(5000)));
    EXPECT_EQ(changed.text(2), "('50Hz',)");
}

// ---- the rotation service ---------------------------------------------------

TEST(RotationMock, RotationIsAnInt32PropertyOfTheChannel)
{
    Rig rig(RigOptions().with_peer(Peer::Rotation));
    ASSERT_TRUE(rig.ok());
    expect_replies(rig, Peer::Rotation, "com.tavik.Rotation1.Channel", {{"Rotation", "i", "0"}});
}

TEST(RotationMock, SetRotationEmitsRotationChanged)
{
    Rig rig(RigOptions().with_peer(Peer::Rotation, R"({"Rotation": 180})"));
    ASSERT_TRUE(rig.ok());
    MockPeer &rotation = rig.peer(Peer::Rotation);
    expect_replies(rig, Peer::Rotation, "com.tavik.Rotation1.Channel", {{"Rotation", "i", "180"}});

    SignalRecorder turned(rig.bus(), rig.context(), rotation.info().bus_name, rotation.info().object_path,
                          "com.tavik.Rotation1.Channel", "RotationChanged");
    g_autoptr(GVariant) r1 = rotation.control("SetRotation", g_variant_new("(i)", 90));
    ASSERT_TRUE(turned.wait_for(1, scaled_ms(5000)));
    EXPECT_EQ(turned.text(0), "(90,)");
    expect_replies(rig, Peer::Rotation, "com.tavik.Rotation1.Channel", {{"Rotation", "i", "90"}});

    // Raw signals of other signatures, which optad must not take for a
    // rotation.
    g_autoptr(GVariant) r2 = rotation.control(
        "EmitSignal", g_variant_new("(sss@av)", "com.tavik.Rotation1.Channel", "RotationChanged", "s",
                                    variant_array({g_variant_new_string("270")})));
    g_autoptr(GVariant) r3 = rotation.control(
        "EmitSignal", g_variant_new("(sss@av)", "com.tavik.Rotation1.Channel", "RotationChanged", "ii",
                                    variant_array({g_variant_new_int32(1), g_variant_new_int32(2)})));
    ASSERT_TRUE(turned.wait_for(3, scaled_ms(5000)));
    EXPECT_EQ(turned.text(1), "('270',)");
    EXPECT_EQ(turned.text(2), "(1, 2)");
}

// ---- captiond ---------------------------------------------------------------

std::string owner_of(Rig &rig, const char *name)
{
    g_autoptr(GVariant) reply = rig.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         "GetNameOwner", g_variant_new("(s)", name));
    const char *owner = "";
    if (reply != nullptr)
        g_variant_get(reply, "(&s)", &owner);
    return owner;
}

TEST(CaptiondMock, RecordsSetAndUnsetInOrderAndForgetsOnClearAndRestart)
{
    Rig rig(RigOptions().with_peer(Peer::Captiond));
    ASSERT_TRUE(rig.ok());
    MockPeer &captiond = rig.peer(Peer::Captiond);
    const char *iface = captiond.info().interface;

    g_autoptr(GVariant) set = captiond.call(iface, "Set", g_variant_new("(su)", "Lens error", 3u));
    ASSERT_NE(set, nullptr);
    EXPECT_STREQ(g_variant_get_type_string(set), "()");
    g_autoptr(GVariant) set2 = captiond.call(iface, "Set", g_variant_new("(su)", "Protector error", 1u));
    g_autoptr(GVariant) unset = captiond.call(iface, "Unset", g_variant_new("(s)", "Lens error"));
    ASSERT_NE(unset, nullptr);
    EXPECT_STREQ(g_variant_get_type_string(unset), "()");

    EXPECT_EQ(captiond.calls_text(), "Set ('Lens error', uint32 3)\n"
                                     "Set ('Protector error', uint32 1)\n"
                                     "Unset ('Lens error',)\n");
    EXPECT_EQ(captiond.method_calls("Set"),
              (std::vector<std::string>{"('Lens error', uint32 3)", "('Protector error', uint32 1)"}));
    g_autoptr(GVariant) all = captiond.calls();
    ASSERT_NE(all, nullptr);
    EXPECT_STREQ(g_variant_get_type_string(all), "(a(tsav))");

    // A call of the wrong signature is refused and not recorded.
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) wrong = captiond.call(iface, "Set", g_variant_new("(s)", "no priority"), &error);
    EXPECT_EQ(wrong, nullptr);

    ASSERT_TRUE(captiond.clear_calls());
    EXPECT_EQ(captiond.calls_text(), "");

    // Stopped and started again: the service vanishes and comes back with
    // another connection and an empty record.
    g_autoptr(GVariant) set3 = captiond.call(iface, "Set", g_variant_new("(su)", "before", 2u));
    std::string before = owner_of(rig, captiond.info().bus_name);
    ASSERT_TRUE(captiond.stop());
    EXPECT_FALSE(rig.has_owner(captiond.info().bus_name));
    ASSERT_TRUE(captiond.restart());
    std::string after = owner_of(rig, captiond.info().bus_name);
    EXPECT_NE(after, "");
    EXPECT_NE(after, before);
    EXPECT_EQ(captiond.calls_text(), "");
    g_autoptr(GVariant) set4 = captiond.call(iface, "Set", g_variant_new("(su)", "after", 2u));
    EXPECT_EQ(captiond.calls_text(), "Set ('after', uint32 2)\n");
}

// ---- wattd ------------------------------------------------------------------

// The test standing in for optad's receiving end of the power budget: it
// owns com.tavik.ImcControl on the rig's bus and serves SetPower on
// /com/tavik/ImcControl, answering as told. Not a peer: what it checks is
// that the wattd mock calls back the daemon's name, object, interface and
// signature.
class PowerReceiver {
public:
    explicit PowerReceiver(Rig &rig, std::string error_name = "") : rig_(rig), error_name_(std::move(error_name))
    {
        static const char XML[] =
            "<node><interface name='com.tavik.Configuration.Legacy'>"
            "<method name='SetPower'><arg type='d' name='power' direction='in'/></method>"
            "</interface></node>";
        static const GDBusInterfaceVTable VTABLE = {on_call, nullptr, nullptr, {}};
        g_autoptr(GError) error = nullptr;
        node_ = g_dbus_node_info_new_for_xml(XML, &error);
        // Registered in the rig's context, the thread-default one.
        id_ = g_dbus_connection_register_object(rig.bus(), IMC_CONTROL_PATH, node_->interfaces[0], &VTABLE, this,
                                                nullptr, &error);
        EXPECT_NE(id_, 0u) << (error != nullptr ? error->message : "");
        g_autoptr(GVariant) reply = rig.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                             "RequestName", g_variant_new("(su)", IMC_CONTROL_NAME, 4u));
        guint32 code = 0;
        if (reply != nullptr)
            g_variant_get(reply, "(u)", &code);
        owned_ = code == 1;
        EXPECT_TRUE(owned_) << "root may own " << IMC_CONTROL_NAME;
    }

    ~PowerReceiver()
    {
        if (id_ != 0)
            g_dbus_connection_unregister_object(rig_.bus(), id_);
        g_autoptr(GVariant) reply = rig_.call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "ReleaseName",
                                              g_variant_new("(s)", IMC_CONTROL_NAME));
        g_dbus_node_info_unref(node_);
    }

    bool ok() const { return id_ != 0 && owned_; }

    // Waits until n SetPower calls in all have been answered.
    bool wait_for(size_t n, int timeout_ms)
    {
        return rig_.iterate_until([&] { return grants.size() >= n; }, timeout_ms);
    }

    std::vector<double> grants;
    std::vector<int64_t> times_ms;

private:
    Rig &rig_;
    std::string error_name_;
    GDBusNodeInfo *node_ = nullptr;
    guint id_ = 0;
    bool owned_ = false;

    static void on_call(GDBusConnection *, const char *, const char *, const char *, const char *method,
                        GVariant *args, GDBusMethodInvocation *invocation, gpointer data)
    {
        PowerReceiver *self = static_cast<PowerReceiver *>(data);
        double watts = 0;
        g_variant_get(args, "(d)", &watts);
        self->grants.push_back(watts);
        self->times_ms.push_back(now_ms());
        if (self->error_name_.empty())
            g_dbus_method_invocation_return_value(invocation, nullptr);
        else
            g_dbus_method_invocation_return_dbus_error(invocation, self->error_name_.c_str(), "refused by the test");
    }
};

// optad's calls, with the values it sends.
GVariant *register_consumer(MockPeer &wattd, GError **error = nullptr)
{
    return wattd.call(wattd.info().interface, "Register",
                      g_variant_new("(sbsss)", "optad", FALSE, IMC_CONTROL_NAME, IMC_CONTROL_PATH,
                                    IMC_CONTROL_INTERFACE),
                      error);
}

GVariant *request_power(MockPeer &wattd, GError **error = nullptr)
{
    return wattd.call(wattd.info().interface, "RequestPower", g_variant_new("(ssd)", "optad", "normal", 16.0), error);
}

// The mock's record of its SetPower calls once it holds n of them.
std::string callbacks_when(MockPeer &wattd, size_t n)
{
    const int64_t deadline = now_ms() + scaled_ms(5000);
    for (;;) {
        g_autoptr(GVariant) reply = wattd.control("GetCallbacks", nullptr);
        if (reply == nullptr)
            return {};
        g_autoptr(GVariant) list = g_variant_get_child_value(reply, 0);
        if (g_variant_n_children(list) >= n || now_ms() >= deadline)
            return printed(list);
        g_usleep(10'000);
    }
}

TEST(WattdMock, GrantsThroughSetPowerAfterTheRequestHasBeenAnswered)
{
    Rig rig(RigOptions().with_peer(Peer::Wattd));
    ASSERT_TRUE(rig.ok());
    PowerReceiver receiver(rig);
    ASSERT_TRUE(receiver.ok());
    MockPeer &wattd = rig.peer(Peer::Wattd);

    g_autoptr(GVariant) registered = register_consumer(wattd);
    ASSERT_NE(registered, nullptr);
    EXPECT_STREQ(g_variant_get_type_string(registered), "()");
    // The receiver is not served while this call waits (nothing iterates the
    // rig's context), as optad's SetPower is not while its RequestPower
    // waits: the answer must not depend on the call back.
    g_autoptr(GVariant) requested = request_power(wattd);
    ASSERT_NE(requested, nullptr);
    EXPECT_STREQ(g_variant_get_type_string(requested), "()");
    EXPECT_TRUE(receiver.grants.empty());

    ASSERT_TRUE(receiver.wait_for(1, scaled_ms(5000)));
    EXPECT_EQ(receiver.grants, std::vector<double>{25.0});
    EXPECT_EQ(callbacks_when(wattd, 1), "[(25.0, '', '')]");
    EXPECT_EQ(wattd.method_calls("Register"),
              std::vector<std::string>{
                  "('optad', false, 'com.tavik.ImcControl', '/com/tavik/ImcControl', 'com.tavik.Configuration.Legacy')"});
    EXPECT_EQ(wattd.method_calls("RequestPower"), std::vector<std::string>{"('optad', 'normal', 16.0)"});
}

TEST(WattdMock, GrantAndDelayFromItsParameters)
{
    // Long against one call's round trip, also in a slow build.
    const int delay_ms = scaled_ms(500);
    Rig rig(RigOptions().with_peer(Peer::Wattd,
                                   R"({"grant": 12.5, "delay_ms": )" + std::to_string(delay_ms) + "}"));
    ASSERT_TRUE(rig.ok());
    PowerReceiver receiver(rig);
    ASSERT_TRUE(receiver.ok());
    MockPeer &wattd = rig.peer(Peer::Wattd);

    const int64_t asked = now_ms();
    g_autoptr(GVariant) requested = request_power(wattd);
    ASSERT_NE(requested, nullptr);
    EXPECT_LT(now_ms() - asked, delay_ms) << "the delay is the call back's, not the reply's";
    ASSERT_TRUE(receiver.wait_for(1, scaled_ms(5000)));
    EXPECT_EQ(receiver.grants, std::vector<double>{12.5});
    EXPECT_GE(receiver.times_ms[0] - asked, delay_ms);

    // Changed at run time.
    g_autoptr(GVariant) g = wattd.control("SetGrant", g_variant_new("(d)", 8.0));
    g_autoptr(GVariant) d = wattd.control("SetDelay", g_variant_new("(u)", 0u));
    g_autoptr(GVariant) again = request_power(wattd);
    ASSERT_TRUE(receiver.wait_for(2, scaled_ms(5000)));
    EXPECT_EQ(receiver.grants, (std::vector<double>{12.5, 8.0}));
}

TEST(WattdMock, NeverAnswersUntilToldToGrant)
{
    Rig rig(RigOptions().with_peer(Peer::Wattd, R"({"answer": false})"));
    ASSERT_TRUE(rig.ok());
    PowerReceiver receiver(rig);
    ASSERT_TRUE(receiver.ok());
    MockPeer &wattd = rig.peer(Peer::Wattd);

    g_autoptr(GVariant) requested = request_power(wattd);
    ASSERT_NE(requested, nullptr);
    // A call back would be there well within this time (it comes at once
    // otherwise, see above).
    EXPECT_FALSE(receiver.wait_for(1, 1000));
    EXPECT_EQ(callbacks_when(wattd, 0), "@a(dss) []");

    // A later budget change, on demand.
    g_autoptr(GVariant) granted = wattd.control("Grant", g_variant_new("(d)", 30.0));
    ASSERT_TRUE(receiver.wait_for(1, scaled_ms(5000)));
    EXPECT_EQ(receiver.grants, std::vector<double>{30.0});

    // Answering again from now on.
    g_autoptr(GVariant) on = wattd.control("SetAnswer", g_variant_new("(b)", TRUE));
    g_autoptr(GVariant) again = request_power(wattd);
    ASSERT_TRUE(receiver.wait_for(2, scaled_ms(5000)));
    EXPECT_EQ(receiver.grants, (std::vector<double>{30.0, 25.0}));
}

TEST(WattdMock, RegisterAndRequestPowerCanFail)
{
    Rig rig(RigOptions().with_peer(Peer::Wattd, R"({"register_error": "com.tavik.PowerControl.Error.Refused"})"));
    ASSERT_TRUE(rig.ok());
    PowerReceiver receiver(rig);
    ASSERT_TRUE(receiver.ok());
    MockPeer &wattd = rig.peer(Peer::Wattd);

    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) refused = register_consumer(wattd, &error);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(error_name(error), "com.tavik.PowerControl.Error.Refused");

    g_autoptr(GVariant) r1 = wattd.control(
        "SetError", g_variant_new("(ss)", "RequestPower", "org.freedesktop.DBus.Error.LimitsExceeded"));
    g_clear_error(&error);
    g_autoptr(GVariant) refused2 = request_power(wattd, &error);
    EXPECT_EQ(refused2, nullptr);
    EXPECT_EQ(error_name(error), "org.freedesktop.DBus.Error.LimitsExceeded");
    EXPECT_FALSE(receiver.wait_for(1, 500)) << "a refused request grants nothing";

    g_autoptr(GVariant) r2 = wattd.control("SetError", g_variant_new("(ss)", "Register", ""));
    g_autoptr(GVariant) registered = register_consumer(wattd);
    EXPECT_NE(registered, nullptr);

    g_clear_error(&error);
    g_autoptr(GVariant) bogus = wattd.control("SetError", g_variant_new("(ss)", "Bogus", "x.y"), &error);
    EXPECT_EQ(bogus, nullptr);
    EXPECT_EQ(error_name(error), "org.freedesktop.DBus.Error.InvalidArgs");
}

TEST(WattdMock, RecordsHowEachCallBackEnded)
{
    Rig rig(RigOptions().with_peer(Peer::Wattd));
    ASSERT_TRUE(rig.ok());
    MockPeer &wattd = rig.peer(Peer::Wattd);

    // Nobody serves com.tavik.ImcControl.
    g_autoptr(GVariant) r1 = wattd.control("Grant", g_variant_new("(d)", 20.0));
    std::string record = callbacks_when(wattd, 1);
    EXPECT_EQ(record.rfind("[(20.0, 'org.freedesktop.DBus.Error.ServiceUnknown', ", 0), 0u) << record;

    // A receiver that refuses.
    {
        PowerReceiver receiver(rig, "com.tavik.Test.Error.Refused");
        ASSERT_TRUE(receiver.ok());
        g_autoptr(GVariant) r2 = wattd.control("Grant", g_variant_new("(d)", 21.0));
        ASSERT_TRUE(receiver.wait_for(1, scaled_ms(5000)));
        record = callbacks_when(wattd, 2);
        EXPECT_NE(record.find("(21.0, 'com.tavik.Test.Error.Refused', "), std::string::npos) << record;
    }
}

}  // namespace
}  // namespace optad::test
