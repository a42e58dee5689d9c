// test::Program, through which every test starts a program: exit status,
// captured output, bounded waits, and that nothing outlives the test.
#include "tests/support/program.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace optad::test {
namespace {

constexpr const char SH[] = "/bin/sh";

class ProgramTest : public ::testing::Test {
protected:
    SandboxRoot root;
    std::string stem = rig_dir(root) + "/child";

    std::unique_ptr<Program> sh(const std::string &script)
    {
        return std::make_unique<Program>(std::vector<std::string>{SH, "-c", script}, clean_environment(), stem);
    }
};

int64_t now_ms()
{
    return g_get_monotonic_time() / 1000;
}

// Whether a process of that id exists; a zombie still does.
bool exists(pid_t pid)
{
    return kill(pid, 0) == 0 || errno != ESRCH;
}

// Whether it still runs: it exists and is not a zombie waiting for its
// parent (a container's first process may never reap orphans).
bool alive(pid_t pid)
{
    g_autofree char *stat = nullptr;
    g_autofree char *path = g_strdup_printf("/proc/%d/stat", static_cast<int>(pid));
    if (!g_file_get_contents(path, &stat, nullptr, nullptr))
        return false;
    const char *end = std::strrchr(stat, ')');  // the state follows the command name
    return end != nullptr && end[1] == ' ' && end[2] != 'Z' && end[2] != 'X';
}

TEST_F(ProgramTest, ExitStatusAndBothStreams)
{
    auto p = sh("echo out; echo first >&2; printf 'second, unfinished' >&2; exit 3");
    ASSERT_TRUE(p->started());
    EXPECT_EQ(p->wait(scaled_ms(10000)), 3);
    EXPECT_EQ(p->status(), 3);
    EXPECT_FALSE(p->running());
    EXPECT_EQ(p->text(Program::Stream::Out), "out\n");
    EXPECT_EQ(p->lines(Program::Stream::Err), (std::vector<std::string>{"first", "second, unfinished"}));
    EXPECT_EQ(p->tail(Program::Stream::Err, 1), "second, unfinished\n");
    // Its status stays when it is stopped afterwards.
    EXPECT_EQ(p->stop(), 3);
}

TEST_F(ProgramTest, EndedBySignal)
{
    auto p = sh("kill -USR1 $$");
    EXPECT_EQ(p->wait(scaled_ms(10000)), 128 + SIGUSR1);
}

TEST_F(ProgramTest, MissingProgramIsStartFailureOfItsWrapper)
{
    // The parent-death wrapper runs and reports the missing program with
    // setpriv's own exit status.
    Program p({"/nonexistent/program"}, clean_environment(), stem);
    ASSERT_TRUE(p.started());
    int status = p.wait(scaled_ms(10000));
    EXPECT_NE(status, 0);
    EXPECT_GT(status, 0);
    EXPECT_NE(p.text(Program::Stream::Err).find("/nonexistent/program"), std::string::npos);
}

TEST_F(ProgramTest, WaitsAreBounded)
{
    auto p = sh("sleep 60");
    int64_t start = now_ms();
    EXPECT_EQ(p->wait(200), -1);
    EXPECT_TRUE(p->running());
    EXPECT_FALSE(p->wait_for_line(Program::Stream::Out, "never", 200));
    EXPECT_LT(now_ms() - start, 5000);
    EXPECT_EQ(p->status(), -1);
}

TEST_F(ProgramTest, DestructionKillsAndReaps)
{
    pid_t pid;
    {
        auto p = sh("sleep 60");
        pid = p->pid();
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(exists(pid));
    }
    // Reaped, not a zombie: the id is gone.
    EXPECT_FALSE(exists(pid));
}

TEST_F(ProgramTest, StopEscalatesToKill)
{
    auto p = sh("trap '' TERM; echo ready; while :; do sleep 0.05; done");
    ASSERT_TRUE(p->wait_for_line(Program::Stream::Out, "ready", scaled_ms(10000)));
    EXPECT_EQ(p->stop(100), 128 + SIGKILL);
    EXPECT_FALSE(exists(p->pid()));
}

TEST_F(ProgramTest, WaitForLineSeesLaterLinesAndGivesUpWhenTheProgramEnds)
{
    auto p = sh("echo first; sleep 0.2; echo 'the second line'; echo three");
    EXPECT_TRUE(p->wait_for_line(Program::Stream::Out, "second", scaled_ms(10000)));
    EXPECT_TRUE(p->wait_for_line(Program::Stream::Out, "first", 0)) << "earlier lines count too";
    EXPECT_EQ(p->wait(scaled_ms(10000)), 0);
    int64_t start = now_ms();
    EXPECT_FALSE(p->wait_for_line(Program::Stream::Out, "fourth", 60000));
    EXPECT_LT(now_ms() - start, 5000) << "an ended program writes nothing more";

    auto q = sh("printf 'no newline at the end'");
    EXPECT_TRUE(q->wait_for_line(Program::Stream::Out, "at the end", scaled_ms(10000)));
}

TEST_F(ProgramTest, EnvironmentIsExactlyTheOneGiven)
{
    // The machine's buses and the caller's sandbox root must not leak into
    // a child.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/0/bus", 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/run/dbus/system_bus_socket", 1);
    setenv("OPTAD_ROOT", "/elsewhere", 1);
    setenv("PATH", "/usr/bin:/bin", 1);
    std::vector<std::string> env = clean_environment({"OPTAD_ROOT=/sandbox", "PATH=/bin"});
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    unsetenv("OPTAD_ROOT");

    Program p({"/usr/bin/env"}, env, stem);
    ASSERT_EQ(p.wait(scaled_ms(10000)), 0);
    std::vector<std::string> lines = p.lines(Program::Stream::Out);
    int optad_root = 0;
    int path = 0;
    for (const std::string &line : lines) {
        EXPECT_NE(line.rfind("DBUS_", 0), 0u) << line;
        optad_root += line == "OPTAD_ROOT=/sandbox";
        path += line == "PATH=/bin";
        EXPECT_NE(line, "OPTAD_ROOT=/elsewhere");
    }
    EXPECT_EQ(optad_root, 1);
    EXPECT_EQ(path, 1) << "an extra entry replaces the kept one";
}

TEST_F(ProgramTest, ChildEndsWithTheProcessThatStartedIt)
{
    // A test process that dies (a crash, a time-out of ctest) must not leave
    // its programs behind. A forked child stands in for it: it starts a
    // program, reports its id and dies.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t middle = fork();
    ASSERT_GE(middle, 0);
    if (middle == 0) {
        close(fds[0]);
        Program p({SH, "-c", "echo started; exec sleep 60"}, clean_environment(), stem);
        pid_t pid = p.pid();
        // The signal is set before the program runs.
        if (!p.wait_for_line(Program::Stream::Out, "started", scaled_ms(10000)))
            _exit(1);
        if (write(fds[1], &pid, sizeof pid) != static_cast<ssize_t>(sizeof pid))
            _exit(1);
        _exit(0);  // no destructor: the program is left to the kernel
    }
    close(fds[1]);
    pid_t pid = -1;
    ASSERT_EQ(read(fds[0], &pid, sizeof pid), static_cast<ssize_t>(sizeof pid));
    close(fds[0]);
    int status;
    ASSERT_EQ(waitpid(middle, &status, 0), middle);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the stand-in did not start its program";
    ASSERT_GT(pid, 0);
    // Orphaned, it is killed and then reaped by the machine's init (or the
    // container's subreaper).
    bool gone = false;
    for (int waited = 0; waited < scaled_ms(5000) && !gone; waited += 10) {
        gone = !alive(pid);
        if (!gone)
            usleep(10'000);
    }
    EXPECT_TRUE(gone) << "the program outlived the process that started it";
    if (!gone)
        kill(pid, SIGKILL);
}

}  // namespace
}  // namespace optad::test
