#include "platform/value_pool.h"

#include "platform/file_replace.h"
#include "platform/paths.h"

#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace optad {

namespace {

constexpr mode_t GROUP_FILE_MODE = 0644;
constexpr int GROUP_DIR_MODE = 0755;

bool group_name_valid(const char *name)
{
    return name != nullptr && name[0] != '\0' && std::strchr(name, '/') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

bool param_name_valid(const char *name)
{
    return name != nullptr && name[0] != '\0' && std::strpbrk(name, "=\n\r") == nullptr;
}

std::string group_path(const char *name)
{
    std::string path = platform_path(VALUE_POOL_DIR);
    path += '/';
    path += name;
    return path;
}

// 0 when the group file exists, -errno otherwise.
int group_exists(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return -errno;
    if (!S_ISREG(st.st_mode))
        return -EISDIR;
    return 0;
}

// Creates the directory and an empty group file; 0 or -errno.
int create_group_file(const std::string &path)
{
    const std::string dir = platform_path(VALUE_POOL_DIR);
    if (g_mkdir_with_parents(dir.c_str(), GROUP_DIR_MODE) != 0)
        return -errno;
    int rc = group_exists(path);
    if (rc == 0 || rc != -ENOENT)
        return rc;
    return file_replace(path.c_str(), "", 0, GROUP_FILE_MODE);
}

// The value as it goes into its line.
void append_escaped(std::string &out, const char *value, size_t len)
{
    for (size_t i = 0; i < len; ++i) {
        switch (value[i]) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += value[i]; break;
        }
    }
}

using Lines = std::vector<std::pair<std::string, std::string>>;  // name, escaped value

// Reads the group file into its lines; 0 or -errno.
int read_group(const std::string &path, Lines &lines)
{
    FILE *f = std::fopen(path.c_str(), "r");
    if (f == nullptr)
        return -errno;
    std::string text;
    char chunk[512];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    int err = std::ferror(f) ? EIO : 0;
    std::fclose(f);
    if (err != 0)
        return -err;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t line_end = nl == std::string::npos ? text.size() : nl;
        size_t eq = text.find('=', pos);
        if (eq != std::string::npos && eq > pos && eq < line_end)
            lines.emplace_back(text.substr(pos, eq - pos), text.substr(eq + 1, line_end - eq - 1));
        pos = line_end + 1;
    }
    return 0;
}

int create_group(const char *name, int size)
{
    if (!group_name_valid(name) || size <= 0) {
        errno = EINVAL;
        return -1;
    }
    int rc = create_group_file(group_path(name));
    if (rc < 0) {
        errno = -rc;
        return -1;
    }
    return 0;
}

int set_group(const char *name, const vp_param *params, int count, int flags)
{
    if (!group_name_valid(name) || count < 0 || (params == nullptr && count > 0)) {
        errno = EINVAL;
        return -1;
    }
    const std::string path = group_path(name);
    int rc = group_exists(path);
    if (rc == -ENOENT && (flags & VP_FLAG_CREATE) != 0)
        rc = create_group_file(path);
    if (rc < 0) {
        errno = -rc;
        return -1;
    }

    Lines lines;
    rc = read_group(path, lines);
    if (rc < 0) {
        errno = -rc;
        return -1;
    }

    int set = 0;
    int skipped_errno = 0;
    for (int i = 0; i < count; ++i) {
        const vp_param &param = params[i];
        if (!param_name_valid(param.name) || param.type != VP_TYPE_STRING || param.buffer == nullptr) {
            skipped_errno = EINVAL;
            continue;
        }
        const char *text = static_cast<const char *>(param.buffer);
        std::string value;
        append_escaped(value, text, strnlen(text, param.size));
        bool found = false;
        for (auto &line : lines) {
            if (line.first == param.name) {
                line.second = std::move(value);
                found = true;
                break;
            }
        }
        if (!found)
            lines.emplace_back(param.name, std::move(value));
        ++set;
    }

    if (set > 0) {
        std::string content;
        for (const auto &line : lines) {
            content += line.first;
            content += '=';
            content += line.second;
            content += '\n';
        }
        rc = file_replace(path.c_str(), content.data(), content.size(), GROUP_FILE_MODE);
        if (rc < 0) {
            errno = -rc;
            return -1;
        }
    }
    if (skipped_errno != 0)
        errno = skipped_errno;
    return set;
}

}  // namespace
}  // namespace optad

int vp_create_group(const char *name, int size, int flags)
{
    return optad::create_group(name, size);
}

int vp_set_group(const char *name, const vp_param *params, int count, int flags)
{
    return optad::set_group(name, params, count, flags);
}
