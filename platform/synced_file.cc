#include "platform/synced_file.h"

#include "platform/file_replace.h"
#include "platform/paths.h"

#include <cerrno>
#include <string>

int storix_set_file_contents_with_sync(const char *path, const char *contents, size_t length)
{
    if (path == nullptr || path[0] != '/' || (contents == nullptr && length > 0)) {
        errno = EINVAL;
        return 0;
    }
    const std::string real = optad::platform_path(path);
    int rc = optad::file_replace(real.c_str(), contents != nullptr ? contents : "", length, 0644);
    if (rc < 0) {
        errno = -rc;
        return 0;
    }
    return 1;
}
