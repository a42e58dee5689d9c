// The camera build's GPIO library (platform/pinio_target.cc) against a
// sysfs GPIO tree made of plain files under the sandbox root: paths, the
// attribute texts it writes and the values it parses. Name lookup needs the
// GPIO character devices and is not covered here.
#include "platform/pinio.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>

namespace optad::test {
namespace {

class PinioTarget : public ::testing::Test {
protected:
    void SetUp() override
    {
        // gpio433 exported already; its direction file writable.
        root.write("/sys/class/gpio/export", "");
        root.write("/sys/class/gpio/gpio433/value", "0\n");
        root.write("/sys/class/gpio/gpio433/direction", "in\n");
        root.write("/sys/class/gpio/gpio433/edge", "none\n");
    }
    SandboxRoot root;
};

TEST_F(PinioTarget, ReadsAndWritesTheAttributeFiles)
{
    pinio_line *l = pinio_request(433, "imc_req");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(root.read("/sys/class/gpio/export"), "");  // exported already: not again
    ASSERT_EQ(pinio_full_open(l), 0);
    EXPECT_EQ(pinio_get_value(l), 0);
    EXPECT_EQ(pinio_get_direction(l), 1);
    EXPECT_EQ(pinio_alterable_direction(l), 1);

    EXPECT_EQ(pinio_set_edge(l, PINIO_TRIG_BOTH), 0);
    EXPECT_EQ(root.read("/sys/class/gpio/gpio433/edge"), "both");
    EXPECT_EQ(pinio_set_edge(l, PINIO_TRIG_RISE), 0);
    EXPECT_EQ(root.read("/sys/class/gpio/gpio433/edge"), "rising");
    EXPECT_EQ(pinio_set_edge(l, 3), -1);
    EXPECT_EQ(errno, EINVAL);

    EXPECT_EQ(pinio_direction_output(l, 1), 0);
    EXPECT_EQ(root.read("/sys/class/gpio/gpio433/direction"), "high");
    EXPECT_EQ(pinio_set_value(l, 1), 0);
    EXPECT_EQ(pinio_get_value(l), 1);
    EXPECT_GE(pinio_fd(l), 0);
    pinio_close(l);
    EXPECT_EQ(pinio_fd(l), -1);
    pinio_free(l);
}

TEST_F(PinioTarget, ExportsUnknownNumbersAndFailsWithErrno)
{
    // Exporting writes the number; the plain-file tree grows no gpio434.
    pinio_line *l = pinio_request(434, "x");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(root.read("/sys/class/gpio/export"), "434");
    EXPECT_EQ(pinio_full_open(l), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(pinio_get_value(l), -1);
    EXPECT_EQ(errno, EBADF);
    pinio_free(l);

    EXPECT_EQ(pinio_request_named("imc_req"), nullptr);  // no GPIO character devices here
    EXPECT_EQ(pinio_request(-1, "x"), nullptr);
}

}  // namespace
}  // namespace optad::test
