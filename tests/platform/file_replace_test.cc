// Atomic file replacement: the target keeps its mode, owner and links, a
// failure changes nothing and leaves nothing, a reader sees only whole files.
#include "platform/file_replace.h"
#include "tests/support/test_support.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace optad {
namespace {

constexpr uid_t NOBODY = 65534;
constexpr gid_t NOGROUP = 65534;

class FileReplaceTest : public ::testing::Test {
protected:
    test::SandboxRoot root;
    test::LogCapture log;

    // A path inside the test's own directory.
    std::string at(const std::string &name) const { return root.dir() + "/" + name; }

    void mkdir(const std::string &name) const
    {
        ASSERT_EQ(g_mkdir_with_parents(at(name).c_str(), 0755), 0) << name;
    }

    void put(const std::string &name, const std::string &content, mode_t mode) const
    {
        std::ofstream(at(name), std::ios::binary | std::ios::trunc) << content;
        ASSERT_EQ(chmod(at(name).c_str(), mode), 0) << name;
    }

    void link(const std::string &name, const std::string &points_to) const
    {
        ASSERT_EQ(symlink(points_to.c_str(), at(name).c_str()), 0) << name;
    }

    static std::string read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static struct stat lstat_of(const std::string &path)
    {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return st;
    }

    std::set<std::string> entries(const std::string &dir) const
    {
        std::set<std::string> names;
        g_autoptr(GDir) d = g_dir_open(at(dir).c_str(), 0, nullptr);
        if (d == nullptr)
            return names;
        while (const char *name = g_dir_read_name(d))
            names.insert(name);
        return names;
    }

    int replace(const std::string &name, const std::string &content, mode_t mode = 0644,
                FileReplaceStep *step = nullptr) const
    {
        return file_replace(at(name).c_str(), content.data(), content.size(), mode, step);
    }
};

// Runs body in a forked child and returns its exit status (or -1 when it
// did not exit normally). The child must leave through _exit.
template <typename Body>
int in_child(Body body)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_F(FileReplaceTest, NewFileGetsExactlyTheModeAskedForWhateverTheUmask)
{
    const struct {
        mode_t umask;
        mode_t mode;
    } cases[] = {{0077, 0644}, {0022, 0666}, {0, 0600}, {0777, 0640}};
    for (const auto &c : cases) {
        g_autofree char *name_c = g_strdup_printf("new-%o", c.mode);
        const std::string name = name_c;
        const mode_t old_umask = umask(c.umask);
        const int rc = replace(name, "content", c.mode);
        umask(old_umask);
        ASSERT_EQ(rc, 0) << name;
        EXPECT_EQ(read(at(name)), "content");
        EXPECT_EQ(lstat_of(at(name)).st_mode & 07777, c.mode) << name;
    }
    // Empty content is a file too.
    ASSERT_EQ(replace("empty", "", 0644), 0);
    EXPECT_TRUE(S_ISREG(lstat_of(at("empty")).st_mode));
    EXPECT_EQ(lstat_of(at("empty")).st_size, 0);
}

TEST_F(FileReplaceTest, ExistingFileKeepsItsModeAndIsReplacedNotRewritten)
{
    // The set-id bit also survives the change of owner on the temporary
    // file, which clears it.
    for (mode_t mode : {0600u, 0640u, 0444u, 04755u}) {
        g_autofree char *name_c = g_strdup_printf("kept-%o", mode);
        const std::string name = name_c;
        put(name, "old content, longer than the new one", mode);
        const ino_t old_inode = lstat_of(at(name)).st_ino;
        ASSERT_EQ(replace(name, "new", 0666), 0) << name;
        EXPECT_EQ(read(at(name)), "new") << name;
        const struct stat st = lstat_of(at(name));
        EXPECT_EQ(st.st_mode & 07777, mode) << name;
        EXPECT_NE(st.st_ino, old_inode) << name;
    }
    EXPECT_EQ(entries(""), (std::set<std::string>{"kept-600", "kept-640", "kept-444", "kept-4755"}));
}

TEST_F(FileReplaceTest, ExistingFileKeepsItsOwnerAndGroup)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another owner";
    const struct {
        uid_t uid;
        gid_t gid;
    } owners[] = {{NOBODY, NOGROUP}, {0, NOGROUP}, {NOBODY, 0}};
    for (const auto &o : owners) {
        const std::string name = "owned-" + std::to_string(o.uid) + "-" + std::to_string(o.gid);
        put(name, "old", 0640);
        ASSERT_EQ(chown(at(name).c_str(), o.uid, o.gid), 0);
        ASSERT_EQ(replace(name, "new"), 0);
        const struct stat st = lstat_of(at(name));
        EXPECT_EQ(st.st_uid, o.uid) << name;
        EXPECT_EQ(st.st_gid, o.gid) << name;
        EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
        EXPECT_EQ(read(at(name)), "new");
    }
}

TEST_F(FileReplaceTest, WriterThatIsNotRootTakesOverAFileItCannotGiveBack)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to set up a file owned by someone else";
    // A directory everybody may write to, holding a file of root's.
    ASSERT_EQ(chmod(root.dir().c_str(), 0755), 0);
    mkdir("shared");
    ASSERT_EQ(chmod(at("shared").c_str(), 0777), 0);
    put("shared/file", "root's", 0640);

    const int status = in_child([this] {
        if (setgid(NOGROUP) != 0 || setuid(NOBODY) != 0)
            return 10;
        if (replace("shared/file", "nobody's") != 0)
            return 11;
        return log.contains("DEBUG:optad:file_replace:file_replace - Not root: ") ? 0 : 12;
    });
    EXPECT_EQ(status, 0);
    const struct stat st = lstat_of(at("shared/file"));
    EXPECT_EQ(st.st_uid, NOBODY);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(read(at("shared/file")), "nobody's");
    EXPECT_EQ(entries("shared"), std::set<std::string>{"file"});
}

TEST_F(FileReplaceTest, LinksAreFollowedAndStayLinks)
{
    mkdir("etc");
    mkdir("data/real");
    put("data/real/abs.conf", "old", 0600);
    put("data/real/rel.conf", "old", 0640);
    put("data/real/chain.conf", "old", 0600);

    // Absolute link.
    link("etc/abs.conf", at("data/real/abs.conf"));
    // Relative link into another directory: read against the link's own
    // directory, not the process's working directory.
    link("etc/rel.conf", "../data/real/rel.conf");
    // A chain: relative to absolute to relative.
    link("etc/chain.conf", "../data/first");
    link("data/first", at("data/second"));
    link("data/second", "real/chain.conf");

    const struct {
        const char *link;
        const char *target;
        mode_t mode;
    } cases[] = {
        {"etc/abs.conf", "data/real/abs.conf", 0600},
        {"etc/rel.conf", "data/real/rel.conf", 0640},
        {"etc/chain.conf", "data/real/chain.conf", 0600},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(replace(c.link, std::string("new through ") + c.link), 0) << c.link;
        EXPECT_TRUE(S_ISLNK(lstat_of(at(c.link)).st_mode)) << c.link;
        EXPECT_EQ(read(at(c.target)), std::string("new through ") + c.link);
        EXPECT_EQ(lstat_of(at(c.target)).st_mode & 07777, c.mode) << c.link;
    }
    EXPECT_TRUE(S_ISLNK(lstat_of(at("data/first")).st_mode));
    EXPECT_TRUE(S_ISLNK(lstat_of(at("data/second")).st_mode));
    g_autofree char *kept = g_file_read_link(at("etc/rel.conf").c_str(), nullptr);
    EXPECT_STREQ(kept, "../data/real/rel.conf");
    // The temporary files lay beside the targets and are gone.
    EXPECT_EQ(entries("etc"), (std::set<std::string>{"abs.conf", "rel.conf", "chain.conf"}));
    EXPECT_EQ(entries("data/real"),
              (std::set<std::string>{"abs.conf", "rel.conf", "chain.conf"}));
    EXPECT_EQ(entries("data"), (std::set<std::string>{"real", "first", "second"}));
}

TEST_F(FileReplaceTest, DanglingLinkGetsItsTargetCreated)
{
    // Like open(2) with O_CREAT through the link: the file it names is made.
    mkdir("etc");
    mkdir("store");
    link("etc/file", "../store/file");
    ASSERT_EQ(replace("etc/file", "first", 0600), 0);
    EXPECT_TRUE(S_ISLNK(lstat_of(at("etc/file")).st_mode));
    EXPECT_EQ(read(at("store/file")), "first");
    EXPECT_EQ(lstat_of(at("store/file")).st_mode & 07777, 0600u);
    EXPECT_EQ(entries("store"), std::set<std::string>{"file"});

    // A link into a directory that does not exist creates nothing.
    link("etc/nowhere", "../missing/file");
    FileReplaceStep step = FileReplaceStep::WRITE;
    EXPECT_EQ(replace("etc/nowhere", "x", 0644, &step), -ENOENT);
    EXPECT_EQ(step, FileReplaceStep::OPEN);
    EXPECT_FALSE(g_file_test(at("missing").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(FileReplaceTest, LinkLoopIsRefused)
{
    link("a", "b");
    link("b", "a");
    EXPECT_EQ(replace("a", "x"), -ELOOP);
    EXPECT_EQ(entries(""), (std::set<std::string>{"a", "b"}));
}

TEST_F(FileReplaceTest, LookupFailuresChangeNothingAndLeaveNothing)
{
    put("plain", "a regular file", 0644);
    mkdir("dir");
    const struct {
        const char *path;
        int rc;
    } cases[] = {
        {"missing/file", -ENOENT},  // the directory is not created
        {"plain/file", -ENOTDIR},   // the parent is a regular file
        {"dir", -EISDIR},           // a directory is not replaced by a file
    };
    for (const auto &c : cases) {
        FileReplaceStep step = FileReplaceStep::WRITE;
        EXPECT_EQ(replace(c.path, "x", 0644, &step), c.rc) << c.path;
        EXPECT_EQ(step, FileReplaceStep::OPEN) << c.path;
    }
    EXPECT_EQ(entries(""), (std::set<std::string>{"plain", "dir"}));
    EXPECT_TRUE(entries("dir").empty());
    EXPECT_EQ(read(at("plain")), "a regular file");
    EXPECT_TRUE(log.contains("DEBUG:optad:file_replace:file_replace - Could not "));
}

TEST_F(FileReplaceTest, FailedWriteKeepsTheOldFileAndRemovesTheTemporaryOne)
{
    // The file size limit makes the write fail half-way (EFBIG), after the
    // temporary file was created and partly written.
    mkdir("etc");
    put("etc/file", "old", 0640);
    const int status = in_child([this] {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 10;
        FileReplaceStep step = FileReplaceStep::OPEN;
        if (replace("etc/file", std::string(64 * 1024, 'n'), 0644, &step) != -EFBIG)
            return 11;
        return step == FileReplaceStep::WRITE ? 0 : 12;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read(at("etc/file")), "old");
    EXPECT_EQ(lstat_of(at("etc/file")).st_mode & 07777, 0640u);
    EXPECT_EQ(entries("etc"), std::set<std::string>{"file"});
}

TEST_F(FileReplaceTest, ReaderNeverSeesAPartialFile)
{
    // Two versions of different length and content, large enough that a
    // write in place would be seen half done.
    const std::string a(256 * 1024, 'a');
    const std::string b(192 * 1024 + 17, 'b');
    ASSERT_EQ(replace("big", a), 0);

    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> missing{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        std::string buf;
        while (!done.load()) {
            const int fd = open(at("big").c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                missing++;
                continue;
            }
            buf.clear();
            char chunk[16384];
            ssize_t n;
            while ((n = ::read(fd, chunk, sizeof chunk)) > 0)
                buf.append(chunk, static_cast<size_t>(n));
            close(fd);
            if (buf != a && buf != b)
                torn++;
            reads++;
        }
    });
    for (int i = 0; i < 60; ++i)
        ASSERT_EQ(replace("big", i % 2 == 0 ? b : a), 0);
    // Let the reader look at the last version at least once more.
    const int seen = reads.load();
    while (reads.load() < seen + 2)
        std::this_thread::yield();
    done = true;
    reader.join();

    EXPECT_EQ(missing.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(read(at("big")), a);
    EXPECT_EQ(entries(""), std::set<std::string>{"big"});
}

}  // namespace
}  // namespace optad
