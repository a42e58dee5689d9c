// Camera build: the GPIO library over the kernel's sysfs GPIO interface.
//
// A line is exported by its number under /sys/class/gpio and used through
// its direction, value and edge files. A named line's number is found from
// the GPIO character devices: the line info of every line of every
// /dev/gpiochip* is searched for the name, and the chip's sysfs base (the
// /sys/class/gpio/gpiochip<base> with the same label and line count) plus
// the line's offset gives the number. Found numbers are remembered.
//
// pinio_fd() is the open value file: after an edge of the kind set with
// pinio_set_edge() the kernel flags it as an exceptional condition for
// select(), and reading the value (pinio_get_value) clears that.
//
// Deliberately simple, as it cannot be run off the camera: lines are never
// unexported (another handle of the same line, such as a listener thread's,
// may still be using it), and every failure returns -1 (or nullptr) with the
// errno of the call that failed.
#include "platform/paths.h"
#include "platform/pinio.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

namespace optad {
namespace {

struct TargetLine {
    int gpio = -1;
    int value_fd = -1;
};

TargetLine *as_target(pinio_line *line)
{
    return reinterpret_cast<TargetLine *>(line);
}

std::string gpio_path(int gpio, const char *attribute)
{
    char rel[64];
    std::snprintf(rel, sizeof rel, "/sys/class/gpio/gpio%d/%s", gpio, attribute);
    return platform_path(rel);
}

int write_file(const std::string &path, const char *text)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);  // as "echo text > file"
    if (fd < 0)
        return -1;
    size_t len = std::strlen(text);
    ssize_t n = ::write(fd, text, len);
    int err = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(len)) {
        errno = n < 0 ? err : EIO;
        return -1;
    }
    return 0;
}

// Reads a short text file; the text without its newline, or "" on failure.
std::string read_file(const std::string &path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buf[64];
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    int err = errno;
    ::close(fd);
    if (n < 0) {
        errno = err;
        return {};
    }
    std::string s(buf, static_cast<size_t>(n));
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// The sysfs base of the chip with this label and line count, or -1.
int sysfs_base(const char *label, unsigned lines)
{
    std::string dir = platform_path("/sys/class/gpio");
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr)
        return -1;
    int base = -1;
    while (struct dirent *e = ::readdir(d)) {
        if (std::strncmp(e->d_name, "gpiochip", 8) != 0)
            continue;
        std::string chip = dir + "/" + e->d_name;
        if (read_file(chip + "/label") == label &&
            std::strtoul(read_file(chip + "/ngpio").c_str(), nullptr, 10) == lines) {
            base = std::atoi(read_file(chip + "/base").c_str());
            break;
        }
    }
    ::closedir(d);
    return base;
}

// The number of the line with this name, searched across /dev/gpiochip*.
int find_by_name(const char *name)
{
    std::string dev = platform_path("/dev");
    DIR *d = ::opendir(dev.c_str());
    if (d == nullptr)
        return -1;
    int found = -1;
    while (found < 0) {
        struct dirent *e = ::readdir(d);
        if (e == nullptr)
            break;
        if (std::strncmp(e->d_name, "gpiochip", 8) != 0)
            continue;
        int fd = ::open((dev + "/" + e->d_name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct gpiochip_info chip {};
        if (::ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &chip) == 0) {
            for (unsigned offset = 0; offset < chip.lines; ++offset) {
                struct gpioline_info info {};
                info.line_offset = offset;
                if (::ioctl(fd, GPIO_GET_LINEINFO_IOCTL, &info) != 0 ||
                    std::strncmp(info.name, name, sizeof info.name) != 0)
                    continue;
                int base = sysfs_base(chip.label, chip.lines);
                if (base >= 0)
                    found = base + static_cast<int>(offset);
                break;
            }
        }
        ::close(fd);
    }
    ::closedir(d);
    if (found < 0)
        errno = ENODEV;
    return found;
}

// Names already looked up (the module has a fixed set of lines).
struct Known {
    char name[32];
    int gpio;
};
std::mutex known_mutex;
Known known[32];  // guarded by known_mutex
size_t known_count = 0;

int line_number(const char *name)
{
    {
        std::lock_guard<std::mutex> lock(known_mutex);
        for (size_t i = 0; i < known_count; ++i) {
            if (std::strcmp(known[i].name, name) == 0)
                return known[i].gpio;
        }
    }
    int gpio = find_by_name(name);
    if (gpio >= 0 && std::strlen(name) < sizeof known[0].name) {
        std::lock_guard<std::mutex> lock(known_mutex);
        if (known_count < std::size(known)) {
            std::strcpy(known[known_count].name, name);
            known[known_count].gpio = gpio;
            ++known_count;
        }
    }
    return gpio;
}

}  // namespace
}  // namespace optad

using optad::as_target;
using optad::gpio_path;
using optad::TargetLine;
using optad::write_file;

extern "C" {

pinio_line *pinio_request(int gpio, const char *)
{
    if (gpio < 0) {
        errno = EINVAL;
        return nullptr;
    }
    // Export it unless it is exported already (then the kernel says EBUSY).
    if (::access(gpio_path(gpio, "value").c_str(), F_OK) != 0) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", gpio);
        if (write_file(optad::platform_path("/sys/class/gpio/export"), number) != 0 && errno != EBUSY)
            return nullptr;
    }
    auto *line = new TargetLine;
    line->gpio = gpio;
    return reinterpret_cast<pinio_line *>(line);
}

pinio_line *pinio_request_named(const char *name)
{
    if (name == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    int gpio = optad::line_number(name);
    return gpio < 0 ? nullptr : pinio_request(gpio, name);
}

int pinio_full_open(pinio_line *l)
{
    TargetLine *line = as_target(l);
    if (line == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (line->value_fd >= 0)
        return 0;
    std::string path = gpio_path(line->gpio, "value");
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM))
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);  // an input-only line
    if (fd < 0)
        return -1;
    line->value_fd = fd;
    return 0;
}

int pinio_alterable_direction(pinio_line *l)
{
    TargetLine *line = as_target(l);
    if (line == nullptr)
        return 0;
    // sysfs offers a writable direction file only where it may change.
    return ::access(gpio_path(line->gpio, "direction").c_str(), W_OK) == 0 ? 1 : 0;
}

int pinio_get_direction(pinio_line *l)
{
    TargetLine *line = as_target(l);
    if (line == nullptr) {
        errno = EINVAL;
        return -1;
    }
    errno = 0;
    std::string dir = optad::read_file(gpio_path(line->gpio, "direction"));
    if (dir == "out")
        return 0;
    if (dir == "in")
        return 1;
    if (errno == 0)
        errno = EIO;
    return -1;
}

int pinio_direction_input(pinio_line *l)
{
    TargetLine *line = as_target(l);
    if (line == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return write_file(gpio_path(line->gpio, "direction"), "in");
}

int pinio_direction_output(pinio_line *l, int level)
{
    TargetLine *line = as_target(l);
    if (line == nullptr) {
        errno = EINVAL;
        return -1;
    }
    // "low"/"high" set the direction and the level in one step.
    return write_file(gpio_path(line->gpio, "direction"), level ? "high" : "low");
}

int pinio_set_value(pinio_line *l, int level)
{
    TargetLine *line = as_target(l);
    if (line == nullptr || line->value_fd < 0) {
        errno = line == nullptr ? EINVAL : EBADF;
        return -1;
    }
    return ::pwrite(line->value_fd, level ? "1" : "0", 1, 0) == 1 ? 0 : -1;
}

int pinio_get_value(pinio_line *l)
{
    TargetLine *line = as_target(l);
    if (line == nullptr || line->value_fd < 0) {
        errno = line == nullptr ? EINVAL : EBADF;
        return -1;
    }
    // Reading from the start is what clears the pending edge.
    char c;
    if (::lseek(line->value_fd, 0, SEEK_SET) < 0 || ::read(line->value_fd, &c, 1) != 1)
        return -1;
    if (c != '0' && c != '1') {
        errno = EIO;
        return -1;
    }
    return c - '0';
}

int pinio_set_edge(pinio_line *l, int edge)
{
    TargetLine *line = as_target(l);
    if (line == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const char *text;
    switch (edge) {
    case PINIO_EDGE_NONE: text = "none"; break;
    case PINIO_TRIG_RISE: text = "rising"; break;
    case PINIO_TRIG_FALL: text = "falling"; break;
    case PINIO_TRIG_BOTH: text = "both"; break;
    default:
        errno = EINVAL;
        return -1;
    }
    return write_file(gpio_path(line->gpio, "edge"), text);
}

int pinio_fd(pinio_line *l)
{
    TargetLine *line = as_target(l);
    if (line == nullptr || line->value_fd < 0) {
        errno = line == nullptr ? EINVAL : EBADF;
        return -1;
    }
    return line->value_fd;
}

void pinio_close(pinio_line *l)
{
    TargetLine *line = as_target(l);
    if (line != nullptr && line->value_fd >= 0) {
        int err = errno;
        ::close(line->value_fd);
        line->value_fd = -1;
        errno = err;
    }
}

void pinio_free(pinio_line *l)
{
    TargetLine *line = as_target(l);
    if (line == nullptr)
        return;
    pinio_close(l);
    delete line;
}

}  // extern "C"
