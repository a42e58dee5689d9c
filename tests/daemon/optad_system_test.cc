// The real optad program of the build, started in a sandbox with no
// simulated module: it cannot open the IMC link, tears down and exits with
// status 0.
#include "tests/support/rig.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <gtest/gtest.h>

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

// A rig with no module and none of the camera's directories, as a bare
// sandbox.
RigOptions no_module()
{
    return RigOptions().without_camera_directories();
}

ProgramRun run_optad(Rig &rig)
{
    ProgramRun run;
    Program *optad = rig.start_optad();
    if (optad == nullptr)
        return run;
    run.exit_status = optad->wait(scaled_ms(30000));
    EXPECT_GE(run.exit_status, 0) << "optad still runs";
    for (std::string line : optad->lines(Program::Stream::Err)) {
        const std::string prefix = "optad: ";
        if (line.compare(0, prefix.size(), prefix) == 0)
            line.erase(0, prefix.size());
        run.lines.push_back(line);
    }
    return run;
}

TEST(OptadProgram, WithoutTheModuleItTearsDownAndExitsZero)
{
    Rig rig(no_module());
    ASSERT_TRUE(rig.ok());
    ProgramRun run = run_optad(rig);
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
    Rig rig(no_module());
    ASSERT_TRUE(rig.ok());
    SandboxRoot &root = rig.root();
    ASSERT_EQ(g_mkdir_with_parents(root.path("/etc/optad").c_str(), 0755), 0);
    ProgramRun run = run_optad(rig);
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
    run = run_optad(rig);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(root.read("/etc/optad/optad.conf"), conf);
}

}  // namespace
}  // namespace optad::test
