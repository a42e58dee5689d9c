#include "tests/support/program.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

extern char **environ;

#ifndef OPTAD_BIN_DIR
#error "OPTAD_BIN_DIR must name the build's bin directory"
#endif
#ifndef OPTAD_EMULATOR
#define OPTAD_EMULATOR ""
#endif

namespace optad::test {

namespace {

// Sets the parent-death signal of the child before it runs the program
// (posix_spawn has no attribute for it).
constexpr const char SETPRIV[] = "/usr/bin/setpriv";

// Of the test's environment, what a child may inherit: the exact names and
// the prefixes.
constexpr const char *const KEPT_NAMES[] = {"PATH", "LANG", "LC_ALL", "LC_CTYPE", "TZ", "TMPDIR"};
constexpr const char *const KEPT_PREFIXES[] = {"ASAN_", "UBSAN_", "LSAN_", "TSAN_", "QEMU_"};

int64_t now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

std::string variable_name(const std::string &entry)
{
    return entry.substr(0, entry.find('='));
}

bool kept(const std::string &name)
{
    for (const char *n : KEPT_NAMES) {
        if (name == n)
            return true;
    }
    for (const char *p : KEPT_PREFIXES) {
        if (name.rfind(p, 0) == 0)
            return true;
    }
    return false;
}

std::vector<char *> c_strings(std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (std::string &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int status_of(int wait_status)
{
    if (WIFEXITED(wait_status))
        return WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status))
        return 128 + WTERMSIG(wait_status);
    return -1;
}

const char *stream_suffix(Program::Stream stream)
{
    return stream == Program::Stream::Out ? ".out" : ".err";
}

}  // namespace

int time_scale()
{
    int scale = 1;
    if (OPTAD_EMULATOR[0] != '\0')
        scale *= 5;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    scale *= 3;
#endif
    return scale;
}

int scaled_ms(int ms)
{
    return ms * time_scale();
}

long resident_kib(pid_t pid)
{
    g_autofree char *path = g_strdup_printf("/proc/%d/status", static_cast<int>(pid));
    g_autofree char *text = nullptr;
    if (!g_file_get_contents(path, &text, nullptr, nullptr))
        return -1;
    const char *line = std::strstr(text, "VmRSS:");
    return line != nullptr ? std::strtol(line + 6, nullptr, 10) : -1;
}

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

std::string rig_dir(const SandboxRoot &root)
{
    std::string dir = root.path("/rig");
    g_mkdir_with_parents(dir.c_str(), 0755);
    return dir;
}

std::vector<std::string> clean_environment(const std::vector<std::string> &extra)
{
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (kept(variable_name(entry)))
            env.push_back(entry);
    }
    for (const std::string &x : extra) {
        std::string name = variable_name(x);
        std::erase_if(env, [&](const std::string &entry) { return variable_name(entry) == name; });
        env.push_back(x);
    }
    return env;
}

Program::Program(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                 const std::string &log_stem)
    : argv_(argv), stem_(log_stem)
{
    if (argv.empty()) {
        ADD_FAILURE() << "no program to start";
        return;
    }
    std::vector<std::string> full = {SETPRIV, "--pdeathsig", "KILL"};
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<std::string> env_copy = env;
    std::vector<char *> cargv = c_strings(full);
    std::vector<char *> cenv = c_strings(env_copy);

    // The output files are made (empty) here, before the child runs: under
    // qemu-arm posix_spawn returns before the child has run its file
    // actions, and a reader must find neither a missing file nor the output
    // of an earlier run.
    int out = open(path(Stream::Out).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = open(path(Stream::Err).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0) {
        ADD_FAILURE() << "cannot create " << stem_ << ".out/.err: " << std::strerror(errno);
        if (out >= 0)
            close(out);
        if (err >= 0)
            close(err);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);

    // The child starts with no blocked signals and the default action for
    // the signals that end programs, whatever the test runner set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, cargv[0], &actions, &attr, cargv.data(), cenv.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(out);
    close(err);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
        return;
    }
    pid_ = pid;
}

Program::~Program()
{
    stop();
}

bool Program::reap(bool block)
{
    if (pid_ <= 0 || reaped_)
        return true;
    int wait_status = 0;
    pid_t rc;
    do {
        rc = waitpid(pid_, &wait_status, block ? 0 : WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == pid_) {
        status_ = status_of(wait_status);
        reaped_ = true;
    } else if (rc < 0) {
        // Not our child any more (reaped elsewhere): nothing to wait for.
        ADD_FAILURE() << "waitpid " << pid_ << ": " << std::strerror(errno);
        reaped_ = true;
    }
    return reaped_;
}

bool Program::running()
{
    return pid_ > 0 && !reap(false);
}

int Program::wait(int timeout_ms)
{
    if (pid_ <= 0)
        return -1;
    const int64_t deadline = now_ms() + timeout_ms;
    useconds_t pause_us = 1000;
    while (!reap(false)) {
        if (now_ms() >= deadline)
            return -1;
        usleep(pause_us);
        if (pause_us < 10'000)
            pause_us *= 2;
    }
    return status_;
}

void Program::signal(int signo)
{
    if (pid_ > 0 && !reaped_)
        kill(pid_, signo);
}

int Program::stop(int grace_ms)
{
    if (pid_ <= 0)
        return -1;
    if (reap(false))
        return status_;
    kill(pid_, SIGTERM);
    if (wait(scaled_ms(grace_ms)) >= 0)
        return status_;
    kill(pid_, SIGKILL);
    reap(true);
    return status_;
}

std::string Program::path(Stream stream) const
{
    return stem_ + stream_suffix(stream);
}

std::string Program::text(Stream stream) const
{
    std::ifstream in(path(stream), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> Program::lines(Stream stream) const
{
    std::vector<std::string> out;
    std::istringstream in(text(stream));
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string Program::tail(Stream stream, size_t n) const
{
    std::vector<std::string> all = lines(stream);
    std::string out;
    for (size_t i = all.size() > n ? all.size() - n : 0; i < all.size(); ++i)
        out += all[i] + "\n";
    return out;
}

bool Program::wait_for_line(Stream stream, const std::string &fragment, int timeout_ms)
{
    const int64_t deadline = now_ms() + timeout_ms;
    int fd = open(path(stream).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ADD_FAILURE() << "cannot read " << path(stream) << ": " << std::strerror(errno);
        return false;
    }
    std::string pending;  // read, not yet a whole line
    char buf[4096];
    bool found = false;
    for (;;) {
        // Whether it had ended is known before the last read, so nothing it
        // wrote before ending is missed.
        const bool ended = !running();
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0)
                pending.append(buf, static_cast<size_t>(n));
        }
        size_t start = 0;
        for (size_t nl; !found && (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
            found = std::string_view(pending).substr(start, nl - start).find(fragment) != std::string_view::npos;
        pending.erase(0, start);
        if (!found && ended)
            found = pending.find(fragment) != std::string::npos;
        if (found || ended || now_ms() >= deadline)
            break;
        usleep(10'000);
    }
    close(fd);
    return found;
}

}  // namespace optad::test
