// Host build only: replaceable backends behind the device and GPIO seams.
//
// By default the host build serves devices and GPIO lines from the module
// simulator. A unit test that must force a timing or a failure the
// simulator cannot produce installs its own backend; nullptr restores the
// simulator. Installing a backend is not thread-safe: do it while no other
// thread uses the seam.
#pragma once

#ifndef OPTAD_HOST_BUILD
#error "platform/backend.h is for the host build only"
#endif

#include "platform/pinio.h"

#include <sys/types.h>

namespace optad {

class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;
    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void *arg) = 0;
    virtual int ioctl_value(int fd, unsigned long request, unsigned long value) = 0;
    virtual ssize_t read(int fd, void *buf, size_t count) = 0;
    virtual ssize_t write(int fd, const void *buf, size_t count) = 0;
};

void dev_set_backend(DeviceBackend *backend);

// The GPIO library, as an object. Handles are the backend's own.
class PinioBackend {
public:
    virtual ~PinioBackend() = default;
    virtual pinio_line *request_named(const char *name) = 0;
    virtual pinio_line *request(int gpio, const char *label) = 0;
    virtual int full_open(pinio_line *line) = 0;
    virtual int alterable_direction(pinio_line *line) = 0;
    virtual int get_direction(pinio_line *line) = 0;
    virtual int direction_input(pinio_line *line) = 0;
    virtual int direction_output(pinio_line *line, int level) = 0;
    virtual int set_value(pinio_line *line, int level) = 0;
    virtual int get_value(pinio_line *line) = 0;
    virtual int set_edge(pinio_line *line, int edge) = 0;
    virtual int fd(pinio_line *line) = 0;
    virtual void close(pinio_line *line) = 0;
    virtual void free(pinio_line *line) = 0;
};

void pinio_set_backend(PinioBackend *backend);

// The simulator-backed implementations (platform/sim_client.cc), used when
// no backend is installed.
DeviceBackend &simulator_devices();
PinioBackend &simulator_pinio();

}  // namespace optad
