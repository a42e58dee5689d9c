// The status cache's group files and the durable file write: what another
// process reading the files sees, the create-or-fail rule of vp_set_group,
// values that would break the line format, and failures that leave the
// files as they were.
#include "platform/synced_file.h"
#include "platform/value_pool.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace optad {
namespace {

class ValuePoolTest : public ::testing::Test {
protected:
    test::SandboxRoot root;

    std::string group_file(const std::string &group) const
    {
        return root.read(std::string("/var/run/valuepool/") + group);
    }

    // What another process sees: the file read by a child process.
    std::string read_in_child(const std::string &fixed) const
    {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            FILE *f = std::fopen(root.path(fixed).c_str(), "r");
            if (f != nullptr) {
                char buf[512];
                size_t n = std::fread(buf, 1, sizeof buf, f);
                if (write(fds[1], buf, n) < 0)
                    _exit(2);
            }
            _exit(0);
        }
        close(fds[1]);
        std::string out;
        char buf[512];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        return out;
    }
};

vp_param string_param(const char *name, char *buffer, size_t size)
{
    return vp_param{name, size, buffer, VP_TYPE_STRING};
}

TEST_F(ValuePoolTest, SetWithoutCreateFailsUntilTheGroupExists)
{
    char info[64] = "Lens A";
    vp_param p = string_param("INFO", info, sizeof info);

    errno = 0;
    EXPECT_EQ(vp_set_group("LENS", &p, 1, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    bool exists = true;
    root.read("/var/run/valuepool/LENS", &exists);
    EXPECT_FALSE(exists);

    ASSERT_EQ(vp_create_group("LENS", 100, 0), 0);
    EXPECT_EQ(group_file("LENS"), "");
    EXPECT_EQ(vp_set_group("LENS", &p, 1, 0), 1);
    EXPECT_EQ(group_file("LENS"), "INFO=Lens A\n");
}

TEST_F(ValuePoolTest, CreateFlagMakesTheGroupAndAnotherProcessReadsTheValue)
{
    char info[64] = "Zoom 24-70";
    vp_param p = string_param("INFO", info, sizeof info);
    EXPECT_EQ(vp_set_group("LENS", &p, 1, VP_FLAG_CREATE), 1);
    EXPECT_EQ(read_in_child("/var/run/valuepool/LENS"), "INFO=Zoom 24-70\n");

    // A new value replaces the line; other parameters keep theirs and
    // their order.
    char other[16] = "x";
    vp_param two[2] = {string_param("OTHER", other, sizeof other), string_param("INFO", info, sizeof info)};
    std::strcpy(info, "Prime 50");
    EXPECT_EQ(vp_set_group("LENS", two, 2, 0), 2);
    EXPECT_EQ(read_in_child("/var/run/valuepool/LENS"), "INFO=Prime 50\nOTHER=x\n");
}

TEST_F(ValuePoolTest, CreatingAnExistingGroupKeepsItsValues)
{
    char info[64] = "kept";
    vp_param p = string_param("INFO", info, sizeof info);
    ASSERT_EQ(vp_set_group("LENS", &p, 1, VP_FLAG_CREATE), 1);
    EXPECT_EQ(vp_create_group("LENS", 100, 0), 0);
    EXPECT_EQ(group_file("LENS"), "INFO=kept\n");
}

TEST_F(ValuePoolTest, ValuesStayOnTheirLine)
{
    struct Case {
        const char *value;
        const char *line;
    } cases[] = {
        {"two\nlines", "INFO=two\\nlines\n"},
        {"back\\slash", "INFO=back\\\\slash\n"},
        {"cr\rhere", "INFO=cr\\rhere\n"},
        {"a=b", "INFO=a=b\n"},
        {"", "INFO=\n"},
    };
    for (const Case &c : cases) {
        char info[64];
        std::snprintf(info, sizeof info, "%s", c.value);
        vp_param p = string_param("INFO", info, sizeof info);
        EXPECT_EQ(vp_set_group("LENS", &p, 1, VP_FLAG_CREATE), 1) << c.value;
        EXPECT_EQ(group_file("LENS"), c.line) << c.value;
    }
}

TEST_F(ValuePoolTest, ValueIsBoundedByItsBuffer)
{
    // No terminator within the buffer: only size bytes are taken.
    char info[4] = {'a', 'b', 'c', 'd'};
    vp_param p = string_param("INFO", info, sizeof info);
    EXPECT_EQ(vp_set_group("LENS", &p, 1, VP_FLAG_CREATE), 1);
    EXPECT_EQ(group_file("LENS"), "INFO=abcd\n");
}

TEST_F(ValuePoolTest, BadNamesAndTypesAreRefused)
{
    char info[8] = "v";
    EXPECT_EQ(vp_create_group("../escape", 100, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(vp_create_group("", 100, 0), -1);
    EXPECT_EQ(vp_create_group("..", 100, 0), -1);
    EXPECT_EQ(vp_create_group("LENS", 0, 0), -1);
    EXPECT_EQ(errno, EINVAL);

    // Parameters with a bad name or type are left out of the count.
    vp_param ps[3] = {
        string_param("A=B", info, sizeof info),
        vp_param{"INT", sizeof info, info, 1},
        string_param("GOOD", info, sizeof info),
    };
    errno = 0;
    EXPECT_EQ(vp_set_group("LENS", ps, 3, VP_FLAG_CREATE), 1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(group_file("LENS"), "GOOD=v\n");

    // Nothing settable: 0, and the group file is untouched.
    EXPECT_EQ(vp_set_group("LENS", ps, 2, 0), 0);
    EXPECT_EQ(group_file("LENS"), "GOOD=v\n");
}

TEST_F(ValuePoolTest, UnwritableGroupFailsWithItsErrno)
{
    // The pool's directory is a plain file: nothing can be created in it.
    root.write("/var/run/valuepool", "not a directory");
    char info[8] = "v";
    vp_param p = string_param("INFO", info, sizeof info);
    errno = 0;
    EXPECT_EQ(vp_create_group("LENS", 100, 0), -1);
    EXPECT_NE(errno, 0);
    errno = 0;
    EXPECT_EQ(vp_set_group("LENS", &p, 1, VP_FLAG_CREATE), -1);
    EXPECT_NE(errno, 0);
}

// ---- storix_set_file_contents_with_sync ----

TEST(SyncedFileTest, ReplacesTheWholeContent)
{
    test::SandboxRoot root;
    root.write("/data/total", "123456789");
    EXPECT_NE(storix_set_file_contents_with_sync("/data/total", "42", 2), 0);
    EXPECT_EQ(root.read("/data/total"), "42");

    // A new file is created, mode 0644.
    EXPECT_NE(storix_set_file_contents_with_sync("/data/new", "7", 1), 0);
    EXPECT_EQ(root.read("/data/new"), "7");
    struct stat st;
    ASSERT_EQ(stat(root.path("/data/new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    // Empty content empties the file.
    EXPECT_NE(storix_set_file_contents_with_sync("/data/new", "", 0), 0);
    bool exists = false;
    EXPECT_EQ(root.read("/data/new", &exists), "");
    EXPECT_TRUE(exists);
}

TEST(SyncedFileTest, MissingDirectoryFailsWithErrnoAndCreatesNothing)
{
    test::SandboxRoot root;
    errno = 0;
    EXPECT_EQ(storix_set_file_contents_with_sync("/no/such/dir/file", "1", 1), 0);
    EXPECT_EQ(errno, ENOENT);
    struct stat st;
    EXPECT_NE(stat(root.path("/no").c_str(), &st), 0);

    errno = 0;
    EXPECT_EQ(storix_set_file_contents_with_sync("relative", "1", 1), 0);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
}  // namespace optad
