#include "tests/support/bus.h"

#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#ifndef OPTAD_SOURCE_DIR
#error "OPTAD_SOURCE_DIR must name the source tree"
#endif

namespace optad::test {

namespace {

constexpr const char DBUS_DAEMON[] = "/usr/bin/dbus-daemon";
constexpr const char BUS_TEMPLATE[] = OPTAD_SOURCE_DIR "/tests/rig/bus/system-bus.conf.in";
constexpr const char SERVICE_POLICY[] = OPTAD_SOURCE_DIR "/dbus/com.tavik.ImcControl.conf";
constexpr const char PEERS_POLICY[] = OPTAD_SOURCE_DIR "/tests/rig/bus/peers.conf";
// Longest path a Unix socket address takes (sun_path less its terminator).
constexpr size_t SOCKET_PATH_MAX = 107;

// The placeholders of the template and what replaces them.
struct Substitution {
    const char *placeholder;
    std::string value;
};

std::string read_file(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

int64_t now_ms()
{
    return g_get_monotonic_time() / 1000;
}

// Makes the directories from the sandbox root down to the socket's
// traversable by others (the root is made 0700). Everything above the root
// must be already; a test run from a private TMPDIR cannot serve an
// unprivileged client, which is reported here.
bool open_path_to(const SandboxRoot &root, const std::string &socket_dir)
{
    if (g_mkdir_with_parents(socket_dir.c_str(), 0755) != 0) {
        ADD_FAILURE() << "cannot create " << socket_dir << ": " << std::strerror(errno);
        return false;
    }
    std::string dir = root.dir();
    if (chmod(dir.c_str(), 0711) != 0) {
        ADD_FAILURE() << "chmod " << dir << ": " << std::strerror(errno);
        return false;
    }
    for (size_t slash = socket_dir.find('/', dir.size() + 1);; slash = socket_dir.find('/', slash + 1)) {
        std::string part = socket_dir.substr(0, slash);
        chmod(part.c_str(), 0755);
        if (slash == std::string::npos)
            break;
    }
    for (std::string up = dir; up.size() > 1;) {
        up = up.substr(0, up.rfind('/'));
        if (up.empty())
            up = "/";
        struct stat st;
        if (stat(up.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) {
            ADD_FAILURE() << up << " cannot be traversed by others: unprivileged clients cannot reach the bus "
                          << "socket (choose another TMPDIR)";
            return false;
        }
    }
    return true;
}

}  // namespace

std::string bus_configuration(const std::string &listen_address)
{
    std::string text = read_file(BUS_TEMPLATE);
    if (text.empty()) {
        ADD_FAILURE() << "cannot read " << BUS_TEMPLATE;
        return {};
    }
    const Substitution substitutions[] = {
        {"@LISTEN_ADDRESS@", listen_address},
        {"@SERVICE_POLICY@", SERVICE_POLICY},
        {"@PEERS_POLICY@", PEERS_POLICY},
    };
    for (const Substitution &s : substitutions) {
        size_t at = text.find(s.placeholder);
        if (at == std::string::npos) {
            ADD_FAILURE() << BUS_TEMPLATE << " has no " << s.placeholder;
            return {};
        }
        for (; at != std::string::npos; at = text.find(s.placeholder, at + s.value.size()))
            text.replace(at, std::strlen(s.placeholder), s.value);
    }
    return text;
}

std::string absent_bus_address(const SandboxRoot &root)
{
    return "unix:path=" + root.path(BUS_SOCKET_FIXED_PATH);
}

PrivateBus::PrivateBus(const SandboxRoot &root)
{
    const std::string socket = root.path(BUS_SOCKET_FIXED_PATH);
    if (socket.size() > SOCKET_PATH_MAX) {
        ADD_FAILURE() << "socket path too long for a Unix socket: " << socket;
        return;
    }
    g_autofree char *socket_dir = g_path_get_dirname(socket.c_str());
    if (!open_path_to(root, socket_dir))
        return;
    g_unlink(socket.c_str());

    const std::string dir = rig_dir(root);
    const std::string config_path = dir + "/bus.conf";
    std::string config = bus_configuration("unix:path=" + socket);
    if (config.empty() || !write_file(config_path, config)) {
        ADD_FAILURE() << "cannot write " << config_path;
        return;
    }
    program_ = std::make_unique<Program>(
        std::vector<std::string>{DBUS_DAEMON, "--nofork", "--print-address", "--config-file=" + config_path},
        clean_environment(), dir + "/dbus-daemon");
    if (!program_->started())
        return;
    if (!program_->wait_for_line(Program::Stream::Out, "unix:", scaled_ms(10000))) {
        ADD_FAILURE() << "dbus-daemon did not print its address; its stderr:\n"
                      << program_->text(Program::Stream::Err);
        return;
    }
    address_ = program_->lines(Program::Stream::Out).front();
}

PrivateBus::~PrivateBus()
{
    stop();
}

void PrivateBus::stop()
{
    if (program_ != nullptr)
        program_->stop();
}

GDBusConnection *PrivateBus::connect() const
{
    if (address_.empty()) {
        ADD_FAILURE() << "no bus to connect to";
        return nullptr;
    }
    g_autoptr(GError) error = nullptr;
    GDBusConnection *c = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (c == nullptr)
        ADD_FAILURE() << "cannot connect to " << address_ << ": " << error->message;
    return c;
}

int bus_call_timeout_ms()
{
    return scaled_ms(10000);
}

GVariant *bus_call(GDBusConnection *bus, const char *destination, const char *path, const char *interface,
                   const char *method, GVariant *args, GError **error, int timeout_ms)
{
    return g_dbus_connection_call_sync(bus, destination, path, interface, method, args, nullptr,
                                       G_DBUS_CALL_FLAGS_NONE, timeout_ms < 0 ? bus_call_timeout_ms() : timeout_ms,
                                       nullptr, error);
}

bool bus_has_owner(GDBusConnection *bus, const char *name)
{
    g_autoptr(GVariant) reply = bus_call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         "NameHasOwner", g_variant_new("(s)", name), nullptr);
    gboolean owned = FALSE;
    if (reply != nullptr && g_variant_is_of_type(reply, G_VARIANT_TYPE("(b)")))
        g_variant_get(reply, "(b)", &owned);
    return owned;
}

bool bus_wait_for_owner(GDBusConnection *bus, const char *name, bool owned, int timeout_ms, Program *watched)
{
    const int64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        if (bus_has_owner(bus, name) == owned)
            return true;
        if (now_ms() >= deadline || (watched != nullptr && !watched->running()))
            return bus_has_owner(bus, name) == owned;
        g_usleep(10'000);
    }
}

bool iterate_until(GMainContext *context, const std::function<bool()> &done, int timeout_ms)
{
    bool timed_out = false;
    GSource *timeout = g_timeout_source_new(static_cast<guint>(timeout_ms));
    g_source_set_callback(
        timeout,
        [](gpointer flag) {
            *static_cast<bool *>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &timed_out, nullptr);
    g_source_attach(timeout, context);
    // done() may wait for something outside the context (a file, a log
    // line): a tick makes sure it is asked again soon.
    GSource *tick = g_timeout_source_new(10);
    g_source_set_callback(tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
    g_source_attach(tick, context);
    while (!done() && !timed_out)
        g_main_context_iteration(context, TRUE);
    g_source_destroy(tick);
    g_source_unref(tick);
    g_source_destroy(timeout);
    g_source_unref(timeout);
    return done();
}

}  // namespace optad::test
