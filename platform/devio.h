// Kernel device I/O: the one way the programs reach /dev/spidev2.0,
// /dev/spidev3.0, /dev/i2c-4, /dev/cam0 and /dev/datacache0.
//
// The camera build is the libc call and nothing more. The host build serves
// the same device paths, request numbers and records from the module
// simulator, so the code above this layer is the camera's code, structs and
// request numbers included. Results and errno are those of the libc calls.
#pragma once

#include <sys/types.h>

namespace optad {

// Opens a fixed device path (for example "/dev/spidev2.0") with open(2) flags.
int dev_open(const char *path, int flags);
int dev_close(int fd);

// ioctl(2) with a pointer argument (a record, or an out value).
int dev_ioctl(int fd, unsigned long request, void *arg);
// ioctl(2) whose argument is an integer passed by value (I2C_SLAVE, the
// video input's stream and black-video switches).
int dev_ioctl_value(int fd, unsigned long request, unsigned long value);

ssize_t dev_read(int fd, void *buf, size_t count);
ssize_t dev_write(int fd, const void *buf, size_t count);

}  // namespace optad
