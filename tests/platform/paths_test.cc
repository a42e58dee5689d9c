#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace optad {
namespace {

TEST(PlatformPath, RelocatesUnderTheSandboxRoot)
{
    test::SandboxRoot root;
    EXPECT_EQ(platform_path("/etc/optad/optad.conf"), root.dir() + "/etc/optad/optad.conf");
    EXPECT_EQ(platform_root(), root.dir());
}

TEST(PlatformPath, EmptyRootIsIdentity)
{
    std::string old = platform_root();
    platform_set_root("");
    EXPECT_EQ(platform_path("/proc/interrupts"), "/proc/interrupts");
    platform_set_root("/tmp/x///");
    EXPECT_EQ(platform_path("/proc/interrupts"), "/tmp/x/proc/interrupts");
    platform_set_root(old);
}

}  // namespace
}  // namespace optad
