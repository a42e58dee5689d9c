#include "tests/support/test_support.h"

#include "platform/log.h"
#include "platform/paths.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>

#include <fstream>
#include <mutex>
#include <sstream>

namespace optad::test {

namespace {
std::mutex capture_mutex;
std::vector<LogCapture::Line> captured;  // guarded by capture_mutex
}  // namespace

LogCapture::LogCapture(bool verbose) : old_verbose_(log_verbose())
{
    {
        std::lock_guard<std::mutex> lock(capture_mutex);
        captured.clear();
    }
    log_set_verbose(verbose);
    log_set_sink([](int priority, const std::string &line) {
        std::lock_guard<std::mutex> lock(capture_mutex);
        captured.push_back({priority, line});
    });
}

LogCapture::~LogCapture()
{
    log_set_sink(nullptr);
    log_set_verbose(old_verbose_);
}

std::vector<LogCapture::Line> LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(capture_mutex);
    return captured;
}

std::string LogCapture::text() const
{
    std::string all;
    for (const Line &l : lines()) {
        all += l.text;
        if (all.empty() || all.back() != '\n')
            all += '\n';
    }
    return all;
}

int LogCapture::count(const std::string &text) const
{
    int n = 0;
    for (const Line &l : lines())
        n += l.text == text;
    return n;
}

int LogCapture::count_containing(const std::string &fragment) const
{
    int n = 0;
    for (const Line &l : lines())
        n += l.text.find(fragment) != std::string::npos;
    return n;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(capture_mutex);
    captured.clear();
}

SandboxRoot::SandboxRoot() : old_root_(platform_root())
{
    GError *error = nullptr;
    char *tmp = g_dir_make_tmp("optad-test-XXXXXX", &error);
    if (tmp == nullptr) {
        g_error("cannot make sandbox: %s", error->message);
    }
    dir_ = tmp;
    g_free(tmp);
    platform_set_root(dir_);
}

static void remove_tree(const std::string &path)
{
    GDir *d = g_dir_open(path.c_str(), 0, nullptr);
    if (d != nullptr) {
        while (const char *name = g_dir_read_name(d)) {
            std::string child = path + "/" + name;
            if (g_file_test(child.c_str(), G_FILE_TEST_IS_DIR) &&
                !g_file_test(child.c_str(), G_FILE_TEST_IS_SYMLINK))
                remove_tree(child);
            else
                g_unlink(child.c_str());
        }
        g_dir_close(d);
    }
    g_rmdir(path.c_str());
}

SandboxRoot::~SandboxRoot()
{
    platform_set_root(old_root_);
    remove_tree(dir_);
}

void SandboxRoot::write(const std::string &fixed, const std::string &content) const
{
    std::string p = path(fixed);
    char *dirname = g_path_get_dirname(p.c_str());
    g_mkdir_with_parents(dirname, 0755);
    g_free(dirname);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string SandboxRoot::read(const std::string &fixed, bool *exists) const
{
    std::ifstream in(path(fixed), std::ios::binary);
    if (exists != nullptr)
        *exists = static_cast<bool>(in);
    if (!in)
        return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

FileReplacements::FileReplacements(const std::string &real_path)
{
    g_autofree char *dir = g_path_get_dirname(real_path.c_str());
    g_autofree char *base = g_path_get_basename(real_path.c_str());
    name_ = base;
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The temporary files moved away are watched too: the kernel merges an
    // event into the previous one when they are alike, and these come
    // between any two replacements.
    // Without a watch count() answers -1, which no expectation takes for a
    // count (this file is also built into the fuzz harnesses, without
    // GoogleTest).
    if (fd_ >= 0 && inotify_add_watch(fd_, dir, IN_MOVED_FROM | IN_MOVED_TO) < 0) {
        std::fprintf(stderr, "cannot watch %s: %s\n", dir, g_strerror(errno));
        close(fd_);
        fd_ = -1;
    }
}

FileReplacements::~FileReplacements()
{
    if (fd_ >= 0)
        close(fd_);
}

int FileReplacements::count()
{
    if (fd_ < 0)
        return -1;
    alignas(struct inotify_event) char buf[16 * (sizeof(struct inotify_event) + NAME_MAX + 1)];
    for (;;) {
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buf + at);
            if ((event->mask & IN_MOVED_TO) != 0 && event->len > 0 && name_ == event->name)
                count_++;
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    return count_;
}

}  // namespace optad::test
