// optad-sim: the simulated image module board of the host build.
//
//   optad-sim start [--verbose] [--set name=value]...   run in the background
//   optad-sim stop                                     stop it
//   optad-sim ctl <command...>                         one control command
//   optad-sim --foreground [--verbose] [--exit-with-parent] [--set name=value]...
//
// The sandbox root comes from OPTAD_ROOT like for every host-built program;
// the socket is <root>/var/run/optad-sim/sim.sock. See README.md beside
// this file for the model and the control commands.
#include "platform/paths.h"
#include "sim/board.h"
#include "sim/server.h"
#include "platform/sim_protocol.h"
#include "platform/sim_wire.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using optad::platform_path;
namespace simproto = optad::simproto;
namespace simwire = optad::simwire;

int usage(FILE *out)
{
    std::fprintf(out,
                 "Usage: optad-sim start [--verbose] [--set name=value]...\n"
                 "       optad-sim stop\n"
                 "       optad-sim ctl <command...>\n"
                 "       optad-sim --foreground [--verbose] [--exit-with-parent] [--set name=value]...\n"
                 "The sandbox root is $OPTAD_ROOT. \"optad-sim ctl help\" lists the commands.\n");
    return out == stdout ? 0 : 2;
}

std::string socket_path()
{
    return platform_path(simproto::SOCKET_FIXED_PATH);
}

int64_t monotonic_us()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

struct Options {
    optad::sim::Config config;
    bool verbose = false;
    bool exit_with_parent = false;
};

bool parse_options(int argc, char **argv, int first, Options *opt)
{
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--verbose") {
            opt->verbose = true;
        } else if (a == "--set" && i + 1 < argc) {
            std::string kv = argv[++i];
            size_t eq = kv.find('=');
            std::string error;
            if (eq == std::string::npos ||
                !optad::sim::config_set(opt->config, kv.substr(0, eq), kv.substr(eq + 1), &error)) {
                std::fprintf(stderr, "optad-sim: %s\n",
                             error.empty() ? ("expected name=value: " + kv).c_str() : error.c_str());
                return false;
            }
        } else if (a == "--foreground") {
            continue;
        } else if (a == "--exit-with-parent") {
            opt->exit_with_parent = true;
        } else {
            std::fprintf(stderr, "optad-sim: unknown option %s\n", a.c_str());
            return false;
        }
    }
    return true;
}

int serve(const Options &opt)
{
    if (opt.exit_with_parent) {
        // A test that is killed (a time-out) must not leave its simulator
        // behind: stop with the parent, as if told to.
        pid_t parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            return 0;
    }
    optad::sim::Board board(opt.config, monotonic_us());
    board.ctx().verbose = opt.verbose;
    std::string interrupts = platform_path("/proc/interrupts");
    g_autofree char *dir = g_path_get_dirname(interrupts.c_str());
    g_mkdir_with_parents(dir, 0755);
    board.ctx().interrupts.set_path(interrupts, monotonic_us());

    optad::sim::Server server(board, socket_path());
    std::string error;
    if (!server.listen(&error)) {
        std::fprintf(stderr, "optad-sim: %s\n", error.c_str());
        return 1;
    }
    board.ctx().note("listening on %s", socket_path().c_str());
    int rc = server.run();
    board.ctx().note("stopped");
    return rc;
}

bool answers()
{
    std::string answer;
    return simwire::control(socket_path(), "ping", &answer, 1000) == 0 && answer == "pong\n";
}

int start(const Options &opt)
{
    if (answers()) {
        std::fprintf(stderr, "optad-sim: already running at %s\n", socket_path().c_str());
        return 1;
    }
    std::string log = platform_path(simproto::LOG_FIXED_PATH);
    g_autofree char *dir = g_path_get_dirname(log.c_str());
    g_mkdir_with_parents(dir, 0755);

    pid_t pid = fork();
    if (pid < 0) {
        std::perror("optad-sim: fork");
        return 1;
    }
    if (pid == 0) {
        setsid();
        int null = open("/dev/null", O_RDONLY);
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (null >= 0)
            dup2(null, STDIN_FILENO);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        _exit(serve(opt));
    }
    // Back as soon as the simulator answers; give up after 10 s.
    for (int i = 0; i < 1000; ++i) {
        if (answers()) {
            std::printf("optad-sim running (pid %d), socket %s, log %s\n", static_cast<int>(pid),
                        socket_path().c_str(), log.c_str());
            return 0;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "optad-sim: the simulator exited at start, see %s\n", log.c_str());
            return 1;
        }
        usleep(10000);
    }
    std::fprintf(stderr, "optad-sim: the simulator does not answer, see %s\n", log.c_str());
    return 1;
}

int stop()
{
    std::string answer;
    if (simwire::control(socket_path(), "quit", &answer, 5000) != 0) {
        std::fprintf(stderr, "optad-sim: not running at %s\n", socket_path().c_str());
        return 1;
    }
    for (int i = 0; i < 500; ++i) {
        if (access(socket_path().c_str(), F_OK) != 0)
            return 0;
        usleep(10000);
    }
    std::fprintf(stderr, "optad-sim: still running after quit\n");
    return 1;
}

int ctl(int argc, char **argv)
{
    std::string command;
    for (int i = 2; i < argc; ++i) {
        if (!command.empty())
            command += ' ';
        command += argv[i];
    }
    if (command.empty())
        return usage(stderr);
    std::string answer;
    if (simwire::control(socket_path(), command, &answer) != 0) {
        std::fprintf(stderr, "optad-sim: cannot reach the simulator at %s: %s\n",
                     socket_path().c_str(), std::strerror(errno));
        return 1;
    }
    std::fputs(answer.c_str(), stdout);
    return answer.rfind("error:", 0) == 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage(stderr);
    std::string cmd = argv[1];
    Options opt;
    if (cmd == "start")
        return parse_options(argc, argv, 2, &opt) ? start(opt) : 2;
    if (cmd == "--foreground")
        return parse_options(argc, argv, 2, &opt) ? serve(opt) : 2;
    if (cmd == "stop")
        return stop();
    if (cmd == "ctl")
        return ctl(argc, argv);
    if (cmd == "-h" || cmd == "--help")
        return usage(stdout);
    return usage(stderr);
}
