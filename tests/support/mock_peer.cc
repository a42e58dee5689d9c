#include "tests/support/mock_peer.h"

#include "tests/support/bus.h"

#include <gtest/gtest.h>

#ifndef OPTAD_SOURCE_DIR
#error "OPTAD_SOURCE_DIR must name the source tree"
#endif

namespace optad::test {

namespace {

// Debian's interpreter: the python3 on PATH may be another build without
// Debian's modules.
constexpr const char PYTHON[] = "/usr/bin/python3";
constexpr const char MOCKS_DIR[] = OPTAD_SOURCE_DIR "/tests/rig/mocks/";

constexpr PeerInfo PEERS[] = {
    {"framerd", "com.tavik.ImageControl", "/com/tavik/ImageControl/0/0", "com.tavik.Configuration.Legacy"},
    {"wattd", "com.tavik.PowerControl.Consumer", "/com/tavik/PowerControl/Consumer",
     "com.tavik.PowerControl.Consumer"},
    {"rotation", "com.tavik.Rotation1", "/com/tavik/Rotation1/Channel/1", "com.tavik.Rotation1.Channel"},
    {"captiond", "com.tavik.PrioritizedTextOverlay", "/com/tavik/PrioritizedTextOverlay/1",
     "com.tavik.PrioritizedTextOverlay"},
};

// A recorded call's arguments (an "av") as one printed tuple.
std::string args_text(GVariant *args)
{
    GVariantBuilder tuple;
    g_variant_builder_init(&tuple, G_VARIANT_TYPE_TUPLE);
    GVariantIter iter;
    g_variant_iter_init(&iter, args);
    while (GVariant *boxed = g_variant_iter_next_value(&iter)) {
        g_variant_builder_add_value(&tuple, g_variant_get_variant(boxed));
        g_variant_unref(boxed);
    }
    g_autoptr(GVariant) value = g_variant_ref_sink(g_variant_builder_end(&tuple));
    g_autofree char *printed = g_variant_print(value, TRUE);
    return printed;
}

}  // namespace

const PeerInfo &peer_info(Peer peer)
{
    return PEERS[static_cast<size_t>(peer)];
}

MockPeer::MockPeer(Peer peer, const SandboxRoot &root, const std::string &bus_address, GDBusConnection *bus)
    : peer_(peer), log_stem_(rig_dir(root) + "/" + peer_info(peer).key), bus_address_(bus_address), bus_(bus)
{
}

MockPeer::~MockPeer()
{
    if (program_ != nullptr && program_->running())
        stop();
}

bool MockPeer::start(const std::string &parameters)
{
    const PeerInfo &p = info();
    if (running()) {
        ADD_FAILURE() << p.key << " runs already";
        return false;
    }
    if (bus_has_owner(bus_, p.bus_name)) {
        ADD_FAILURE() << p.bus_name << " has an owner already: " << p.key << " not started";
        return false;
    }
    parameters_ = parameters;
    std::vector<std::string> argv = {PYTHON, "-m", "dbusmock", "--system", "--template",
                                     std::string(MOCKS_DIR) + p.key + ".py"};
    if (!parameters.empty()) {
        argv.push_back("-p");
        argv.push_back(parameters);
    }
    program_ = std::make_unique<Program>(
        argv, clean_environment({"DBUS_SYSTEM_BUS_ADDRESS=" + bus_address_, "PYTHONDONTWRITEBYTECODE=1"}),
        log_stem_);
    if (!program_->started())
        return false;
    if (!bus_wait_for_owner(bus_, p.bus_name, true, scaled_ms(20000), program_.get())) {
        ADD_FAILURE() << p.key << " (" << p.bus_name << ") did not come up; its stderr:\n"
                      << program_->text(Program::Stream::Err);
        program_->stop();
        return false;
    }
    // The name is taken before the template is loaded; an answer from the
    // object means the mock serves what its template adds.
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply =
        call("org.freedesktop.DBus.Introspectable", "Introspect", nullptr, &error);
    if (reply == nullptr) {
        ADD_FAILURE() << p.key << " does not answer: " << error->message << "; its stderr:\n"
                      << program_->text(Program::Stream::Err);
        return false;
    }
    return true;
}

bool MockPeer::stop()
{
    if (program_ == nullptr)
        return true;
    program_->stop();
    if (!bus_wait_for_owner(bus_, info().bus_name, false, scaled_ms(10000))) {
        ADD_FAILURE() << info().bus_name << " keeps an owner after " << info().key << " ended";
        return false;
    }
    return true;
}

bool MockPeer::restart()
{
    return stop() && start(parameters_);
}

bool MockPeer::running()
{
    return program_ != nullptr && program_->running();
}

GVariant *MockPeer::call(const char *interface, const char *method, GVariant *args, GError **error)
{
    g_autoptr(GError) local = nullptr;
    GVariant *reply = bus_call(bus_, info().bus_name, info().object_path, interface, method, args, &local);
    if (reply == nullptr) {
        if (error == nullptr)
            ADD_FAILURE() << info().key << ": " << interface << "." << method << " failed: " << local->message;
        else
            g_propagate_error(error, g_steal_pointer(&local));
    }
    return reply;
}

GVariant *MockPeer::control(const char *method, GVariant *args, GError **error)
{
    return call(MOCK_INTERFACE, method, args, error);
}

GVariant *MockPeer::calls()
{
    return control("GetCalls", nullptr);
}

std::string MockPeer::calls_text()
{
    g_autoptr(GVariant) reply = calls();
    if (reply == nullptr)
        return {};
    std::string text;
    g_autoptr(GVariant) list = g_variant_get_child_value(reply, 0);
    GVariantIter iter;
    g_variant_iter_init(&iter, list);
    guint64 timestamp;
    const char *method;
    GVariant *args;
    while (g_variant_iter_loop(&iter, "(t&s@av)", &timestamp, &method, &args))
        text += std::string(method) + " " + args_text(args) + "\n";
    return text;
}

std::vector<std::string> MockPeer::method_calls(const char *method)
{
    std::vector<std::string> out;
    g_autoptr(GVariant) reply = control("GetMethodCalls", g_variant_new("(s)", method));
    if (reply == nullptr)
        return out;
    g_autoptr(GVariant) list = g_variant_get_child_value(reply, 0);
    GVariantIter iter;
    g_variant_iter_init(&iter, list);
    guint64 timestamp;
    GVariant *args;
    while (g_variant_iter_loop(&iter, "(t@av)", &timestamp, &args))
        out.push_back(args_text(args));
    return out;
}

bool MockPeer::clear_calls()
{
    g_autoptr(GVariant) reply = control("ClearCalls", nullptr);
    return reply != nullptr;
}

}  // namespace optad::test
