// The private bus of a test: a dbus-daemon configured like the camera's
// system bus, with the daemon's own policy file and the rig's policy for the
// mocked peers (tests/rig/bus/), for one sandbox root.
//
//   test::PrivateBus bus(root);
//   ASSERT_TRUE(bus.running());
//   g_autoptr(GDBusConnection) c = bus.connect();
//   EXPECT_TRUE(test::bus_has_owner(c, "org.freedesktop.DBus"));
//
// The configuration is generated from tests/rig/bus/system-bus.conf.in into
// <root>/rig/bus.conf; the socket is <root>/var/run/dbus/system_bus_socket,
// on a path that unprivileged users can traverse (the policy tests connect
// as nobody). Programs reach it through DBUS_SYSTEM_BUS_ADDRESS.
#pragma once

#include "tests/support/program.h"
#include "tests/support/test_support.h"

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>

namespace optad::test {

// The fixed path of the system bus socket (under the sandbox root).
constexpr const char BUS_SOCKET_FIXED_PATH[] = "/var/run/dbus/system_bus_socket";
// The bus configuration for a listen address: the template with the
// daemon's and the peers' policy files of the source tree.
std::string bus_configuration(const std::string &listen_address);

class PrivateBus {
public:
    // Writes the configuration and starts /usr/bin/dbus-daemon on it; up once
    // it printed its address (bounded). A bus that does not come up fails the
    // test and leaves running() false.
    explicit PrivateBus(const SandboxRoot &root);
    // Stops the bus.
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    bool running() const { return !address_.empty() && program_ != nullptr && program_->started(); }
    // The address it printed (unix:path=...,guid=...).
    const std::string &address() const { return address_; }
    Program &program() { return *program_; }

    // A new connection to it (null with a test failure when it fails). The
    // caller owns it.
    GDBusConnection *connect() const;

    void stop();

private:
    std::string address_;
    std::unique_ptr<Program> program_;
};

// What a child is given as DBUS_SYSTEM_BUS_ADDRESS when a sandbox root runs
// no bus: the socket's place in the sandbox, where nothing listens, so that
// a program never reaches the machine's own system bus.
std::string absent_bus_address(const SandboxRoot &root);

// Timeout of one D-Bus call of the test support (scaled).
int bus_call_timeout_ms();

// A method call, synchronous, bounded by timeout_ms (bus_call_timeout_ms()
// when negative): the reply, or null with *error set (error may be null).
// args may be floating.
GVariant *bus_call(GDBusConnection *bus, const char *destination, const char *path, const char *interface,
                   const char *method, GVariant *args, GError **error, int timeout_ms = -1);

// Whether name has an owner on the bus (false also when the bus does not
// answer).
bool bus_has_owner(GDBusConnection *bus, const char *name);

// Waits until name has an owner (owned true) or none (false): true then,
// false after timeout_ms, or as soon as watched (if given) has ended.
bool bus_wait_for_owner(GDBusConnection *bus, const char *name, bool owned, int timeout_ms,
                        Program *watched = nullptr);

// Iterates context (which the calling thread must be able to acquire) until
// done() holds or timeout_ms have passed; done()'s last answer.
bool iterate_until(GMainContext *context, const std::function<bool()> &done, int timeout_ms);

}  // namespace optad::test
