// Camera build of the device seam: the libc calls, nothing more.
#include "platform/devio.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace optad {

int dev_open(const char *path, int flags)
{
    return ::open(path, flags);
}

int dev_close(int fd)
{
    return ::close(fd);
}

int dev_ioctl(int fd, unsigned long request, void *arg)
{
    return ::ioctl(fd, request, arg);
}

int dev_ioctl_value(int fd, unsigned long request, unsigned long value)
{
    return ::ioctl(fd, request, value);
}

ssize_t dev_read(int fd, void *buf, size_t count)
{
    return ::read(fd, buf, count);
}

ssize_t dev_write(int fd, const void *buf, size_t count)
{
    return ::write(fd, buf, count);
}

}  // namespace optad
