// Client side of the module simulator: placeholder until the simulator's
// protocol lands. Every device and line is reported missing.
#include "platform/backend.h"

#include <cerrno>

namespace optad {

namespace {

class NoDevices final : public DeviceBackend {
public:
    int open(const char *, int) override { errno = ENOENT; return -1; }
    int close(int) override { errno = EBADF; return -1; }
    int ioctl(int, unsigned long, void *) override { errno = EBADF; return -1; }
    int ioctl_value(int, unsigned long, unsigned long) override { errno = EBADF; return -1; }
    ssize_t read(int, void *, size_t) override { errno = EBADF; return -1; }
    ssize_t write(int, const void *, size_t) override { errno = EBADF; return -1; }
};

class NoLines final : public PinioBackend {
public:
    pinio_line *request_named(const char *) override { errno = ENODEV; return nullptr; }
    pinio_line *request(int, const char *) override { errno = ENODEV; return nullptr; }
    int full_open(pinio_line *) override { errno = ENODEV; return -1; }
    int alterable_direction(pinio_line *) override { return 0; }
    int get_direction(pinio_line *) override { errno = ENODEV; return -1; }
    int direction_input(pinio_line *) override { errno = ENODEV; return -1; }
    int direction_output(pinio_line *, int) override { errno = ENODEV; return -1; }
    int set_value(pinio_line *, int) override { errno = ENODEV; return -1; }
    int get_value(pinio_line *) override { errno = ENODEV; return -1; }
    int set_edge(pinio_line *, int) override { errno = ENODEV; return -1; }
    int fd(pinio_line *) override { errno = ENODEV; return -1; }
    void close(pinio_line *) override {}
    void free(pinio_line *) override {}
};

}  // namespace

DeviceBackend &simulator_devices()
{
    static NoDevices d;
    return d;
}

PinioBackend &simulator_pinio()
{
    static NoLines l;
    return l;
}

}  // namespace optad
