// One of the four services optad is a client of, as a python3-dbusmock mock
// on the rig's bus (templates in tests/rig/mocks/, their headers say what
// each models and which controls it has).
//
//   test::MockPeer captiond(test::Peer::Captiond, root, bus.address(), connection);
//   ASSERT_TRUE(captiond.start());
//   ... the daemon sets overlays ...
//   EXPECT_EQ(captiond.calls_text(), "Set ('lens error', uint32 3)\n");
//   captiond.clear_calls();
//   ASSERT_TRUE(captiond.restart());   // vanishes from the bus and comes back
//
// Run as /usr/bin/python3 -m dbusmock --system --template <template> [-p
// <json>] (Debian's interpreter, which has python3-dbusmock and python3-gi).
// Up means: its name has an owner and its object has answered a call.
#pragma once

#include "tests/support/program.h"
#include "tests/support/test_support.h"

#include <gio/gio.h>

#include <memory>
#include <string>

namespace optad::test {

enum class Peer { Framerd, Wattd, Rotation, Captiond };

// The peers in the order a rig starts and lists them.
constexpr Peer ALL_PEERS[] = {Peer::Framerd, Peer::Wattd, Peer::Rotation, Peer::Captiond};

struct PeerInfo {
    const char *key;          // "framerd": the template's and the log files' name
    const char *bus_name;     // "com.tavik.ImageControl"
    const char *object_path;  // its main object
    const char *interface;    // the main object's main interface
};
const PeerInfo &peer_info(Peer peer);

// The interface through which a test drives a mock.
constexpr const char MOCK_INTERFACE[] = "org.freedesktop.DBus.Mock";

class MockPeer {
public:
    // A peer that is not started yet. bus is the test's connection to the
    // bus at bus_address (borrowed; it must outlive the peer).
    MockPeer(Peer peer, const SandboxRoot &root, const std::string &bus_address, GDBusConnection *bus);
    // Stops it if it runs.
    ~MockPeer();
    MockPeer(const MockPeer &) = delete;
    MockPeer &operator=(const MockPeer &) = delete;

    Peer peer() const { return peer_; }
    const PeerInfo &info() const { return peer_info(peer_); }

    // Starts the mock with its template's parameters (a JSON object, "" for
    // the defaults) and waits until it is up. False, with a test failure,
    // when it does not come up, also when its name has another owner.
    bool start(const std::string &parameters = "");
    // Ends the mock and waits until its name has no owner. False, with a test
    // failure, when the name stays owned.
    bool stop();
    // stop() and start() with the parameters of the last start.
    bool restart();
    bool running();
    // The mock's process (null before the first start).
    Program *program() { return program_.get(); }

    // A method of the mock's control interface (MOCK_INTERFACE): its reply,
    // or null. Without error a failed call fails the test.
    GVariant *control(const char *method, GVariant *args, GError **error = nullptr);
    // A method of another interface of the mock's main object, as a client
    // of the service calls it.
    GVariant *call(const char *interface, const char *method, GVariant *args, GError **error = nullptr);
    // Every recorded call since the start or the last clear_calls(): the
    // reply of GetCalls, "(a(tsav))" (timestamp, method, arguments).
    GVariant *calls();
    // The same as text, one line per call in order: the method name and its
    // arguments as a tuple printed with their types, for example
    //   Set ('lens error', uint32 3)
    //   Unset ('lens error',)
    // (dbusmock also records the calls of a template's own control methods.)
    std::string calls_text();
    // The recorded calls of one method: their arguments, one tuple each,
    // printed as in calls_text().
    std::vector<std::string> method_calls(const char *method);
    bool clear_calls();

private:
    Peer peer_;
    std::string log_stem_;
    std::string bus_address_;
    GDBusConnection *bus_;
    std::string parameters_;
    std::unique_ptr<Program> program_;
};

}  // namespace optad::test
