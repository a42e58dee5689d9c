#include "tests/support/rig.h"

#include <gtest/gtest.h>

#include <glib/gstdio.h>

#include <cstdio>
#include <cstdlib>

namespace optad::test {

namespace {

constexpr const char *const CAMERA_DIRECTORIES[] = {
    "/etc/optad",
    "/var/run/optad",
    "/etc/legacyconfig/legacymappings.d",
    "/lib/persistent/var/lib/optics",
};

// Drops to nobody:nogroup with no supplementary groups, then runs the rest
// of the command line. The change of user clears the parent-death signal
// that Program set, so it is set again.
constexpr const char *const AS_NOBODY[] = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                           "--clear-groups", "--pdeathsig", "KILL"};

// How long optad may take from its start to owning its name.
constexpr int OPTAD_ON_BUS_MS = 20000;

void print_tail(const char *name, Program *program)
{
    if (program == nullptr || !program->started())
        return;
    std::fprintf(stderr, "--- %s, last lines of %s:\n%s", name, program->path(Program::Stream::Err).c_str(),
                 program->tail(Program::Stream::Err, 40).c_str());
}

}  // namespace

Rig::Rig(const RigOptions &options) : dir_(rig_dir(root_))
{
    if (options.camera_directories) {
        for (const char *d : CAMERA_DIRECTORIES)
            g_mkdir_with_parents(root_.path(d).c_str(), 0755);
        if (options.board_data)
            ok_ = install_board_data(root_, options.board) && ok_;
    }
    if (options.simulator) {
        sim_ = std::make_unique<Simulator>(root_, options.simulator_args);
        ok_ = ok_ && sim_->running();
        for (const std::string &command : options.simulator_setup)
            ok_ = ok_ && sim_->ok(command);
    }

    bus_address_ = absent_bus_address(root_);
    if (options.bus) {
        private_bus_ = std::make_unique<PrivateBus>(root_);
        if (private_bus_->running()) {
            bus_address_ = private_bus_->address();
            context_ = g_main_context_new();
            g_main_context_push_thread_default(context_);
            connection_ = private_bus_->connect();
        }
        ok_ = ok_ && connection_ != nullptr;
    }
    if (connection_ != nullptr) {
        for (Peer p : ALL_PEERS)
            peers_[static_cast<size_t>(p)] = std::make_unique<MockPeer>(p, root_, bus_address_, connection_);
        for (const PeerStart &start : options.peers)
            ok_ = peer(start.peer).start(start.parameters) && ok_;
    } else if (!options.peers.empty()) {
        ADD_FAILURE() << "mocked peers need the rig's bus";
        ok_ = false;
    }

    if (options.optad) {
        ok_ = start_optad() != nullptr && ok_;
        ok_ = ok_ && wait_for_optad_on_bus(scaled_ms(OPTAD_ON_BUS_MS));
    }
}

Rig::~Rig()
{
    if (::testing::Test::HasFailure())
        report_failure_context();
    if (optad_ != nullptr)
        optad_->stop();
    for (auto it = peers_.rbegin(); it != peers_.rend(); ++it)
        it->reset();
    if (connection_ != nullptr) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    if (context_ != nullptr) {
        // Whatever the closing queued is dispatched before the context goes.
        while (g_main_context_iteration(context_, FALSE)) {
        }
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    private_bus_.reset();
    sim_.reset();
}

void Rig::report_failure_context()
{
    print_tail("optad", optad_.get());
    for (const std::unique_ptr<MockPeer> &p : peers_) {
        if (p != nullptr)
            print_tail(p->info().key, p->program());
    }
    if (private_bus_ != nullptr && private_bus_->running())
        print_tail("dbus-daemon", &private_bus_->program());
    // (the simulator reports its own)
}

Simulator &Rig::sim()
{
    if (sim_ == nullptr) {
        std::fprintf(stderr, "test::Rig::sim(): the rig runs no simulator (RigOptions::simulator)\n");
        std::abort();
    }
    return *sim_;
}

MockPeer &Rig::peer(Peer p)
{
    std::unique_ptr<MockPeer> &slot = peers_[static_cast<size_t>(p)];
    if (slot == nullptr) {
        std::fprintf(stderr, "test::Rig::peer(): the rig runs no bus (RigOptions::bus)\n");
        std::abort();
    }
    return *slot;
}

Program *Rig::start_optad(const std::vector<std::string> &extra_env)
{
    if (optad_ != nullptr && optad_->running()) {
        ADD_FAILURE() << "optad runs already";
        return nullptr;
    }
    std::vector<std::string> env = {"OPTAD_ROOT=" + root_.dir(), "DBUS_SYSTEM_BUS_ADDRESS=" + bus_address_,
                                    "OPTAD_VERBOSE=1"};
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    optad_ = std::make_unique<Program>(program_command("optad"), clean_environment(env), dir_ + "/optad");
    if (!optad_->started())
        return nullptr;
    return optad_.get();
}

bool Rig::wait_for_optad_on_bus(int timeout_ms)
{
    if (optad_ == nullptr || connection_ == nullptr) {
        ADD_FAILURE() << "no optad on a bus to wait for";
        return false;
    }
    if (wait_for_owner(IMC_CONTROL_NAME, true, timeout_ms, optad_.get()))
        return true;
    if (optad_->running())
        ADD_FAILURE() << IMC_CONTROL_NAME << " has no owner " << timeout_ms << " ms after optad's start";
    else
        ADD_FAILURE() << IMC_CONTROL_NAME << " has no owner: optad ended with status " << optad_->status();
    return false;
}

int Rig::stop_optad()
{
    if (optad_ == nullptr)
        return -1;
    int status = optad_->stop();
    if (connection_ != nullptr && !wait_for_owner(IMC_CONTROL_NAME, false, scaled_ms(10000)))
        ADD_FAILURE() << IMC_CONTROL_NAME << " keeps an owner after optad ended";
    return status;
}

std::unique_ptr<Program> Rig::start_client(const std::vector<std::string> &argv, bool as_nobody)
{
    std::vector<std::string> command;
    if (as_nobody)
        command.assign(std::begin(AS_NOBODY), std::end(AS_NOBODY));
    command.insert(command.end(), argv.begin(), argv.end());
    return std::make_unique<Program>(command, clean_environment({"DBUS_SYSTEM_BUS_ADDRESS=" + bus_address_}),
                                     dir_ + "/client-" + std::to_string(++clients_));
}

Rig::ClientRun Rig::run_client(const std::vector<std::string> &argv, bool as_nobody, int timeout_ms)
{
    std::unique_ptr<Program> client = start_client(argv, as_nobody);
    ClientRun run;
    run.status = client->wait(timeout_ms);
    if (client->started() && run.status < 0) {
        ADD_FAILURE() << "client " << argv.front() << " still runs after " << timeout_ms << " ms";
        client->stop();
    }
    run.out = client->text(Program::Stream::Out);
    run.err = client->text(Program::Stream::Err);
    return run;
}

GVariant *Rig::call(const char *destination, const char *path, const char *interface, const char *method,
                    GVariant *args, GError **error, int timeout_ms)
{
    if (connection_ == nullptr) {
        ADD_FAILURE() << "no bus to call " << method << " on";
        if (args != nullptr)
            g_variant_unref(g_variant_ref_sink(args));
        return nullptr;
    }
    return bus_call(connection_, destination, path, interface, method, args, error, timeout_ms);
}

GVariant *Rig::get_property(const char *destination, const char *path, const char *interface, const char *name,
                            GError **error)
{
    g_autoptr(GVariant) reply = call(destination, path, "org.freedesktop.DBus.Properties", "Get",
                                     g_variant_new("(ss)", interface, name), error);
    if (reply == nullptr)
        return nullptr;
    if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)"))) {
        ADD_FAILURE() << "Get " << name << " answered " << g_variant_get_type_string(reply) << ", not (v)";
        return nullptr;
    }
    GVariant *value = nullptr;
    g_variant_get(reply, "(v)", &value);
    return value;
}

bool Rig::has_owner(const char *name)
{
    return connection_ != nullptr && bus_has_owner(connection_, name);
}

bool Rig::wait_for_owner(const char *name, bool owned, int timeout_ms, Program *watched)
{
    return connection_ != nullptr && bus_wait_for_owner(connection_, name, owned, timeout_ms, watched);
}

bool Rig::iterate_until(const std::function<bool()> &done, int timeout_ms)
{
    if (context_ == nullptr)
        return done();
    return test::iterate_until(context_, done, timeout_ms);
}

}  // namespace optad::test
