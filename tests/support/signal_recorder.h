// Signals a test receives on its own connection to the rig's bus.
//
//   test::SignalRecorder changed(rig.bus(), rig.context(), nullptr, "/com/tavik/ImcControl",
//                                "org.freedesktop.DBus.Properties", "PropertiesChanged");
//   ... make the daemon change a property ...
//   ASSERT_TRUE(changed.wait_for(1, test::scaled_ms(5000)));
//   EXPECT_STREQ(g_variant_get_type_string(changed.body(0)), "(sa{sv}as)");
#pragma once

#include <gio/gio.h>

#include <string>
#include <vector>

namespace optad::test {

class SignalRecorder {
public:
    // Subscribes to the signals that match every given field (a null field
    // matches anything); they are delivered in context, which wait_for()
    // iterates.
    SignalRecorder(GDBusConnection *bus, GMainContext *context, const char *sender, const char *path,
                   const char *interface, const char *member);
    ~SignalRecorder();
    SignalRecorder(const SignalRecorder &) = delete;
    SignalRecorder &operator=(const SignalRecorder &) = delete;

    struct Signal {
        std::string sender;  // the unique name of the connection that sent it
        std::string path;
        std::string interface;
        std::string member;
        GVariant *body;  // owned by the recorder
    };

    size_t count() const { return signals_.size(); }
    const Signal &at(size_t i) const { return signals_.at(i); }
    // The body of the i-th signal (owned by the recorder).
    GVariant *body(size_t i) const { return signals_.at(i).body; }
    // The i-th body as text (g_variant_print with types).
    std::string text(size_t i) const;
    // Iterates the context until count signals have arrived in all; false
    // after timeout_ms.
    bool wait_for(size_t count, int timeout_ms);
    void clear();

private:
    GDBusConnection *bus_;
    GMainContext *context_;
    guint id_ = 0;
    std::vector<Signal> signals_;

    static void on_signal(GDBusConnection *, const char *sender, const char *path, const char *interface,
                          const char *member, GVariant *body, gpointer self);
};

}  // namespace optad::test
