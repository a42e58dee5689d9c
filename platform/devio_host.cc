// Host build of the device seam: the simulator, or a test's backend.
#include "platform/backend.h"
#include "platform/devio.h"

#include <atomic>

namespace optad {

namespace {
std::atomic<DeviceBackend *> installed{nullptr};

DeviceBackend &backend()
{
    DeviceBackend *b = installed.load(std::memory_order_acquire);
    return b != nullptr ? *b : simulator_devices();
}
}  // namespace

void dev_set_backend(DeviceBackend *b)
{
    installed.store(b, std::memory_order_release);
}

int dev_open(const char *path, int flags)
{
    return backend().open(path, flags);
}

int dev_close(int fd)
{
    return backend().close(fd);
}

int dev_ioctl(int fd, unsigned long request, void *arg)
{
    return backend().ioctl(fd, request, arg);
}

int dev_ioctl_value(int fd, unsigned long request, unsigned long value)
{
    return backend().ioctl_value(fd, request, value);
}

ssize_t dev_read(int fd, void *buf, size_t count)
{
    return backend().read(fd, buf, count);
}

ssize_t dev_write(int fd, const void *buf, size_t count)
{
    return backend().write(fd, buf, count);
}

}  // namespace optad
