#include "sim/errno_names.h"

#include <cerrno>
#include <cstdlib>

namespace optad::sim {

namespace {

struct Name {
    const char *name;
    int value;
};

// The errors the programs' device and GPIO calls can meet.
constexpr Name NAMES[] = {
    {"EPERM", EPERM},         {"ENOENT", ENOENT},   {"EINTR", EINTR},     {"EIO", EIO},
    {"ENXIO", ENXIO},         {"EBADF", EBADF},     {"EAGAIN", EAGAIN},   {"ENOMEM", ENOMEM},
    {"EACCES", EACCES},       {"EFAULT", EFAULT},   {"EBUSY", EBUSY},     {"EEXIST", EEXIST},
    {"ENODEV", ENODEV},       {"EINVAL", EINVAL},   {"ENOSPC", ENOSPC},   {"ENOTTY", ENOTTY},
    {"EPIPE", EPIPE},         {"ERANGE", ERANGE},   {"ENOSYS", ENOSYS},   {"EPROTO", EPROTO},
    {"EMSGSIZE", EMSGSIZE},   {"EOPNOTSUPP", EOPNOTSUPP}, {"ECONNRESET", ECONNRESET},
    {"ETIMEDOUT", ETIMEDOUT}, {"EREMOTEIO", EREMOTEIO}, {"ESHUTDOWN", ESHUTDOWN},
};

}  // namespace

bool errno_from_word(const std::string &word, int *value)
{
    for (const Name &n : NAMES) {
        if (word == n.name) {
            *value = n.value;
            return true;
        }
    }
    if (word.empty())
        return false;
    char *end = nullptr;
    long v = std::strtol(word.c_str(), &end, 0);
    if (*end != '\0' || v < 1 || v > 4095)
        return false;
    *value = static_cast<int>(v);
    return true;
}

std::string errno_name(int value)
{
    for (const Name &n : NAMES) {
        if (n.value == value)
            return n.name;
    }
    return std::to_string(value);
}

}  // namespace optad::sim
