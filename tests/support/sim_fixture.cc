#include "tests/support/sim_fixture.h"

#include "platform/sim_protocol.h"
#include "platform/sim_wire.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char **environ;

#ifndef OPTAD_BIN_DIR
#error "OPTAD_BIN_DIR must name the build's bin directory"
#endif
#ifndef OPTAD_EMULATOR
#define OPTAD_EMULATOR ""
#endif

namespace optad::test {

namespace {

bool reap(pid_t pid, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        int status;
        pid_t rc = waitpid(pid, &status, WNOHANG);
        if (rc == pid || (rc < 0 && errno == ECHILD))
            return true;
        usleep(10000);
    }
    return false;
}

}  // namespace

std::vector<std::string> program_command(const std::string &name)
{
    std::vector<std::string> cmd;
    // The emulator and its options, separated by '|'.
    std::string emulator = OPTAD_EMULATOR;
    size_t start = 0;
    while (start < emulator.size()) {
        size_t bar = emulator.find('|', start);
        if (bar == std::string::npos)
            bar = emulator.size();
        if (bar > start)
            cmd.push_back(emulator.substr(start, bar - start));
        start = bar + 1;
    }
    cmd.push_back(std::string(OPTAD_BIN_DIR) + "/" + name);
    return cmd;
}

Simulator::Simulator(const SandboxRoot &root, const std::vector<std::string> &args)
    : socket_(root.path(simproto::SOCKET_FIXED_PATH))
{
    std::vector<std::string> argv = program_command("optad-sim");
    argv.push_back("--foreground");
    argv.push_back("--exit-with-parent");
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> cargv;
    for (std::string &a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);

    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "OPTAD_ROOT=", 11) != 0)
            env.emplace_back(*e);
    }
    env.push_back("OPTAD_ROOT=" + root.dir());
    std::vector<char *> cenv;
    for (std::string &e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);

    pid_t pid;
    int rc = posix_spawn(&pid, cargv[0], nullptr, nullptr, cargv.data(), cenv.data());
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
        return;
    }
    // Up as soon as it answers; under an emulator the start takes longer.
    for (int i = 0; i < 2000; ++i) {
        std::string answer;
        if (simwire::control(socket_, "ping", &answer, 1000) == 0 && answer == "pong\n") {
            pid_ = pid;
            return;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            ADD_FAILURE() << "optad-sim exited at start (status " << status << ")";
            return;
        }
        usleep(10000);
    }
    ADD_FAILURE() << "optad-sim does not answer on " << socket_;
    kill(pid, SIGKILL);
    reap(pid, 5000);
}

Simulator::~Simulator()
{
    stop();
}

void Simulator::stop()
{
    if (pid_ <= 0)
        return;
    std::string answer;
    simwire::control(socket_, "quit", &answer, 2000);
    if (!reap(pid_, 5000)) {
        kill(pid_, SIGKILL);
        reap(pid_, 5000);
    }
    pid_ = -1;
}

std::string Simulator::ctl(const std::string &command)
{
    std::string answer;
    if (simwire::control(socket_, command, &answer) != 0)
        return std::string("error: simulator not reachable: ") + std::strerror(errno) + "\n";
    return answer;
}

bool Simulator::ok(const std::string &command)
{
    std::string answer = ctl(command);
    if (answer == "ok\n")
        return true;
    ADD_FAILURE() << "optad-sim ctl \"" << command << "\" answered: " << answer;
    return false;
}

std::string Simulator::violations()
{
    std::string all = ctl("log violations");
    std::string kept;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        end = end == std::string::npos ? all.size() : end + 1;
        std::string line = all.substr(start, end - start);
        if (line.find("while REQ was low") == std::string::npos)
            kept += line;
        start = end;
    }
    return kept;
}

bool Simulator::wait_for(const std::string &command, const std::string &expected, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 5) {
        if (ctl(command).find(expected) != std::string::npos)
            return true;
        usleep(5000);
    }
    return false;
}

}  // namespace optad::test
