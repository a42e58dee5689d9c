// The real optad program of the build, started in a sandbox with no
// simulated module: it cannot open the IMC link, tears down and exits with
// status 0.
#include "tests/support/sim_fixture.h"
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace optad::test {
namespace {

struct ProgramRun {
    int exit_status = -1;
    std::vector<std::string> lines;  // stderr, one syslog line each, "optad: " removed

    // Index of the first line containing the fragment, or -1.
    int find(const std::string &fragment) const
    {
        for (size_t i = 0; i < lines.size(); i++) {
            if (lines[i].find(fragment) != std::string::npos)
                return static_cast<int>(i);
        }
        return -1;
    }
};

ProgramRun run_optad(const SandboxRoot &root)
{
    ProgramRun run;
    std::vector<std::string> cmd = program_command("optad");
    std::vector<char *> argv;
    for (std::string &a : cmd)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string root_env = "OPTAD_ROOT=" + root.dir();
    std::string verbose_env = "OPTAD_VERBOSE=1";
    char *envp[] = {root_env.data(), verbose_env.data(), nullptr};

    // posix_spawn with stderr in a file (GLib's spawn closes every inherited
    // descriptor in the child, which the emulator of the armhf build does not
    // survive).
    const std::string err_path = root.path("/optad.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot run " << cmd.back() << ": " << std::strerror(rc);
        return run;
    }
    int wait_status = 0;
    while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wait_status))
        run.exit_status = WEXITSTATUS(wait_status);

    std::istringstream in(root.read("/optad.err"));
    for (std::string line; std::getline(in, line);) {
        const std::string prefix = "optad: ";
        if (line.compare(0, prefix.size(), prefix) == 0)
            line.erase(0, prefix.size());
        run.lines.push_back(line);
    }
    return run;
}

TEST(OptadProgram, WithoutTheModuleItTearsDownAndExitsZero)
{
    SandboxRoot root;
    ProgramRun run = run_optad(root);
    EXPECT_EQ(run.exit_status, 0);
    ASSERT_FALSE(run.lines.empty());

    EXPECT_EQ(run.lines.front(), "DEBUG:optad:main - Start");
    int init = run.find("DEBUG:optad:main:init");
    int link = run.find("ERROR:optad:spi_open_and_init");
    int failed = run.find("ERROR:optad:main - Failed to open and init SPI!");
    EXPECT_GT(init, 0);
    EXPECT_GT(link, init) << "the link's own message comes first";
    EXPECT_EQ(failed, link + 1);
    EXPECT_EQ(run.lines.back(), "optad:main - Optad is now exiting!");
    // No thread was started.
    EXPECT_EQ(run.find("dbus_listener_run"), -1);
}

TEST(OptadProgram, WritesTheDefaultConfiguration)
{
    // The camera's root file system has /etc/optad; the sandbox gets it too.
    SandboxRoot root;
    ASSERT_EQ(g_mkdir_with_parents(root.path("/etc/optad").c_str(), 0755), 0);
    ProgramRun run = run_optad(root);
    EXPECT_EQ(run.exit_status, 0);

    bool exists = false;
    std::string conf = root.read("/etc/optad/optad.conf", &exists);
    ASSERT_TRUE(exists);
    EXPECT_EQ(conf.rfind("[General]\nVersion=1\n", 0), 0u) << conf;
    size_t at = 0;
    for (const char *group : {"[ImageSource.I0.Sensor]", "[ImageSource.I0.DayNight]", "[ImageSource.I0]",
                              "[Rotation1]"}) {
        size_t next = conf.find(std::string("\n") + group + "\n", at);
        ASSERT_NE(next, std::string::npos) << group << " missing or out of order";
        at = next + 1;
    }

    // A second start leaves it as it was.
    run = run_optad(root);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(root.read("/etc/optad/optad.conf"), conf);
}

}  // namespace
}  // namespace optad::test
