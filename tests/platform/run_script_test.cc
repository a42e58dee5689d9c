// Running a fixed-path script: its exit status, the sandbox mapping, and a
// path that the shell must not interpret.
#include "platform/run_script.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

namespace optad {
namespace {

using test::SandboxRoot;

void write_script(const SandboxRoot &root, const std::string &fixed, const std::string &body)
{
    root.write(fixed, "#!/bin/sh\n" + body);
    ASSERT_EQ(chmod(root.path(fixed).c_str(), 0755), 0);
}

TEST(RunScript, ReturnsTheExitStatus)
{
    SandboxRoot root;
    for (int status : {0, 1, 3, 255}) {
        write_script(root, "/usr/bin/check.sh", "exit " + std::to_string(status) + "\n");
        EXPECT_EQ(run_script("/usr/bin/check.sh"), status);
    }
}

TEST(RunScript, RunsTheCopyUnderTheSandboxRoot)
{
    SandboxRoot root;
    write_script(root, "/usr/bin/check.sh", "touch \"$(dirname -- \"$0\")/ran\"\n");
    EXPECT_EQ(run_script("/usr/bin/check.sh"), 0);
    bool ran = false;
    root.read("/usr/bin/ran", &ran);
    EXPECT_TRUE(ran);
}

TEST(RunScript, PathIsNeverInterpretedByTheShell)
{
    SandboxRoot root;
    const std::string dir = "/opt/it's $(touch injected) `touch injected2`; a dir";
    write_script(root, dir + "/check.sh", "touch \"$(dirname -- \"$0\")/ran\"\nexit 7\n");
    EXPECT_EQ(run_script((dir + "/check.sh").c_str()), 7);
    bool ran = false;
    root.read(dir + "/ran", &ran);
    EXPECT_TRUE(ran);
    struct stat st;
    EXPECT_NE(stat("injected", &st), 0);
    EXPECT_NE(stat("injected2", &st), 0);
}

TEST(RunScript, MissingOrNotExecutableScriptIsTheShellsStatus)
{
    SandboxRoot root;
    EXPECT_EQ(run_script("/usr/bin/absent.sh"), 127);
    root.write("/usr/bin/plain.sh", "exit 0\n");
    ASSERT_EQ(chmod(root.path("/usr/bin/plain.sh").c_str(), 0644), 0);
    EXPECT_EQ(run_script("/usr/bin/plain.sh"), 126);
}

}  // namespace
}  // namespace optad
