#include "platform/file_replace.h"

#include "platform/log.h"

#include <glib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace optad {

namespace {

// The kernel gives up on a path lookup after this many symbolic links
// (ELOOP); following more here would only replace a file nobody else can
// open through the same path.
constexpr int MAX_SYMLINKS = 40;

#define FILE_REPLACE_DEBUG(fmt, ...) \
    OPTAD_LOG_DEBUG("DEBUG:optad:file_replace:file_replace - " fmt, ##__VA_ARGS__)

std::string dir_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string base_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What a replacement works on: the file a write through the caller's path
// would land on, and what it is now.
struct Target {
    std::string path;
    bool exists = false;
    struct stat st {};
};

// Follows symbolic links from path to the file they finally name. A
// relative link is read against the directory holding the link, as the
// kernel does. A missing file at the end (also behind a dangling link) is
// not an error: it is the new file's place. Returns 0 or -errno.
int resolve_target(const char *path, Target *target)
{
    target->path = path;
    for (int links = 0;; ++links) {
        if (lstat(target->path.c_str(), &target->st) != 0) {
            if (errno != ENOENT)
                return -errno;
            target->exists = false;
            return 0;
        }
        if (!S_ISLNK(target->st.st_mode)) {
            if (S_ISDIR(target->st.st_mode))
                return -EISDIR;
            target->exists = true;
            return 0;
        }
        if (links == MAX_SYMLINKS)
            return -ELOOP;
        char link[PATH_MAX];
        const ssize_t n = readlink(target->path.c_str(), link, sizeof link);
        if (n < 0)
            return -errno;
        if (n == 0)
            return -ENOENT;
        if (static_cast<size_t>(n) == sizeof link)
            return -ENAMETOOLONG;
        if (link[0] == '/')
            target->path.assign(link, static_cast<size_t>(n));
        else
            target->path = dir_of(target->path) + "/" + std::string(link, static_cast<size_t>(n));
    }
}

int write_all(int fd, const char *data, size_t len)
{
    while (len > 0) {
        const ssize_t n = write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        if (n == 0)
            return -EIO;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return 0;
}

// Gives the temporary file the target's owner, group and permission bits,
// or the new file's mode. Owner first: a change of owner clears the set-id
// bits, which the mode then puts back.
int take_over_attributes(int fd, const Target &target, mode_t new_file_mode, const char *tmp)
{
    if (target.exists && fchown(fd, target.st.st_uid, target.st.st_gid) != 0) {
        const int err = errno;
        if (err != EPERM || geteuid() == 0) {
            FILE_REPLACE_DEBUG("Could not give %s the owner of %s: %s\n", tmp, target.path.c_str(),
                               g_strerror(err));
            return -err;
        }
        // Only root gives a file away; a process that is not root could not
        // have changed the owner of the file either, so the file simply
        // becomes its own, as after any rewrite by its new owner.
        FILE_REPLACE_DEBUG("Not root: %s keeps the owner of its writer: %s\n", target.path.c_str(),
                           g_strerror(err));
    }
    // fchmod applies no umask: a new file gets exactly the mode asked for.
    const mode_t mode = target.exists ? target.st.st_mode & 07777 : new_file_mode & 07777;
    if (fchmod(fd, mode) != 0) {
        const int err = errno;
        FILE_REPLACE_DEBUG("Could not set mode %04o on %s: %s\n", static_cast<unsigned>(mode), tmp,
                           g_strerror(err));
        return -err;
    }
    return 0;
}

// Makes the rename itself durable. The file is in place whatever this
// says, so a failure here is reported but is not a failed replacement.
void sync_directory(const std::string &dir)
{
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0)
        OPTAD_LOG_WARNING("WARNING:optad:file_replace:file_replace - Could not sync directory %s: "
                          "%s\n",
                          dir.c_str(), g_strerror(errno));
    if (fd >= 0)
        close(fd);
}

}  // namespace

int file_replace(const char *real_path, const void *data, size_t len, mode_t new_file_mode,
                 FileReplaceStep *failed_step)
{
    FileReplaceStep unused;
    if (failed_step == nullptr)
        failed_step = &unused;

    *failed_step = FileReplaceStep::OPEN;
    Target target;
    int rc = resolve_target(real_path, &target);
    if (rc < 0) {
        FILE_REPLACE_DEBUG("Could not look up %s: %s\n", real_path, g_strerror(-rc));
        return rc;
    }

    // Same directory as the final target: rename(2) is atomic only within
    // one file system. The leading dot keeps the half-written file out of
    // the way of readers that pick files by name (*.xml, *.conf). Close on
    // exec, because the daemon runs helper scripts from other threads.
    const std::string dir = dir_of(target.path);
    std::string tmp = dir + "/." + base_of(target.path) + ".XXXXXX";
    const int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        rc = -errno;
        FILE_REPLACE_DEBUG("Could not create a temporary file beside %s: %s\n",
                           target.path.c_str(), g_strerror(-rc));
        return rc;
    }

    *failed_step = FileReplaceStep::WRITE;
    rc = take_over_attributes(fd, target, new_file_mode, tmp.c_str());
    if (rc == 0) {
        rc = write_all(fd, static_cast<const char *>(data), len);
        if (rc < 0)
            FILE_REPLACE_DEBUG("Could not write %s: %s\n", tmp.c_str(), g_strerror(-rc));
    }
    // The data reaches the flash before the rename. The camera's flash file
    // system commits a rename in its journal on its own schedule, and the
    // data of a new file with it only if it was synced first: a power cut
    // between the two would otherwise leave an empty or short file in the
    // old one's place, which for the parameter file means the camera comes
    // up with no settings at all. An fsync costs a flash write per
    // replacement; these files change when a setting or a limit changes,
    // not in any polling path, and on the run-time tmpfs it is free.
    if (rc == 0 && fsync(fd) != 0) {
        rc = -errno;
        FILE_REPLACE_DEBUG("Could not sync %s: %s\n", tmp.c_str(), g_strerror(-rc));
    }
    if (close(fd) != 0 && rc == 0 && errno != EINTR) {
        rc = -errno;
        FILE_REPLACE_DEBUG("Could not close %s: %s\n", tmp.c_str(), g_strerror(-rc));
    }
    if (rc == 0 && rename(tmp.c_str(), target.path.c_str()) != 0) {
        rc = -errno;
        FILE_REPLACE_DEBUG("Could not rename %s to %s: %s\n", tmp.c_str(), target.path.c_str(),
                           g_strerror(-rc));
    }
    if (rc < 0) {
        unlink(tmp.c_str());
        return rc;
    }
    // And the rename reaches the flash before the caller is told the new
    // content is kept (a setting confirmed to a client must not come back
    // as the old value after a power cut).
    sync_directory(dir);
    return 0;
}

}  // namespace optad
