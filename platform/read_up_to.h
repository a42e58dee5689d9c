// Reading a regular file in pieces of a chosen size.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace optad {

// Reads up to `want` bytes into buf, as far as the file gives them (a short
// read is retried until end of file; EINTR is retried). The count read, or
// -1 on a read error (errno set).
ssize_t read_up_to(int fd, void *buf, size_t want);

}  // namespace optad
