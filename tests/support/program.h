// Child processes of a test: the one place where tests start programs.
//
//   test::Program sim(test::program_command("optad-sim"), test::clean_environment({"OPTAD_ROOT=" + dir}),
//                     dir + "/rig/optad-sim");
//   ASSERT_TRUE(sim.started());
//   EXPECT_TRUE(sim.wait_for_line(test::Program::Stream::Err, "listening on", test::scaled_ms(5000)));
//   sim.stop();                        // or let the destructor do it
//
// A program is started with posix_spawn (GLib's spawn closes every inherited
// descriptor in the child, which qemu-arm does not survive) with exactly the
// environment given, its stdout and stderr in two files (<stem>.out,
// <stem>.err), and the parent-death signal set (through setpriv), so that a
// test that crashes or is killed by a time-out leaves nothing behind. The
// destructor kills and reaps whatever still runs, so no assertion that
// returns early leaves a process or a zombie. Every wait is bounded.
#pragma once

#include "tests/support/test_support.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace optad::test {

// How much slower this build runs than a plain native one: the ARM test
// programs run under qemu-arm, the sanitizer builds run several times
// slower. Every wait of the test support is scaled by it.
int time_scale();
// ms scaled by time_scale().
int scaled_ms(int ms);

// The resident memory of a running process in KiB (VmRSS), -1 when it
// cannot be read.
long resident_kib(pid_t pid);

// How to run one of the build's programs (optad-sim, optad, rigdump): its
// path in the build's bin directory, behind the build's emulator when the
// build is cross-compiled (qemu-arm for armhf). Native programs of the
// machine (dbus-daemon, /usr/bin/python3, gdbus, setpriv) are run by their
// path alone, also in the armhf build: the emulated test program execs
// them like any program.
std::vector<std::string> program_command(const std::string &name);

// An explicit environment for a child: of the test's own environment only
// PATH, the locale, TMPDIR and the options of the sanitizers and of qemu
// (ASAN_, UBSAN_, LSAN_, TSAN_, QEMU_ variables) are kept; nothing else, in
// particular no DBUS_SESSION_BUS_ADDRESS or DBUS_SYSTEM_BUS_ADDRESS of the
// machine and no OPTAD_ variable. Then each "NAME=value" of extra, which
// replaces a kept variable of the same name.
std::vector<std::string> clean_environment(const std::vector<std::string> &extra = {});

// Where the test support keeps, under a sandbox root, the files it
// generates and the outputs of the programs it starts: <root>/rig (created,
// 0755; no fixed path of the camera lies there).
std::string rig_dir(const SandboxRoot &root);

class Program {
public:
    enum class Stream { Out, Err };

    // Starts argv (argv[0] is a path, run as it is) with exactly env. Its
    // stdout and stderr go to log_stem + ".out" and ".err" (the directory
    // must exist; the files are truncated). A program that cannot be
    // started fails the test and leaves started() false.
    Program(const std::vector<std::string> &argv, const std::vector<std::string> &env,
            const std::string &log_stem);
    // Kills and reaps it if it still runs (stop()).
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The command line it was started with.
    const std::vector<std::string> &argv() const { return argv_; }

    // True while it runs (reaps it when it has ended).
    bool running();
    // Waits up to timeout_ms for it to end. Its status: the exit code
    // (0..255), 128 + the signal number when a signal ended it, -1 when it
    // still runs after timeout_ms or was never started.
    int wait(int timeout_ms);
    // Sends a signal (nothing once it has been reaped).
    void signal(int signo);
    // Ends it: SIGTERM, up to grace_ms to end, then SIGKILL; reaped either
    // way. Its status as for wait(); a program that had already ended keeps
    // its own status.
    int stop(int grace_ms = 2000);
    // The status of an ended program (as for wait()), -1 while it runs.
    int status() const { return status_; }

    // The file a stream goes to.
    std::string path(Stream stream) const;
    // Everything written to a stream so far.
    std::string text(Stream stream) const;
    // The same, one entry per line, without the newline (an unfinished last
    // line counts as a line).
    std::vector<std::string> lines(Stream stream) const;
    // Its last n lines, for a report after a failed test.
    std::string tail(Stream stream, size_t n) const;
    // Waits until a line of the stream contains fragment: true as soon as
    // one does, false after timeout_ms or once the program has ended without
    // writing one.
    bool wait_for_line(Stream stream, const std::string &fragment, int timeout_ms);

private:
    std::vector<std::string> argv_;
    std::string stem_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = -1;

    bool reap(bool block);
};

}  // namespace optad::test
