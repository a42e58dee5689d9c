#include "platform/read_up_to.h"

#include <unistd.h>

#include <cerrno>

namespace optad {

ssize_t read_up_to(int fd, void *buf, size_t want)
{
    auto *bytes = static_cast<unsigned char *>(buf);
    size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, bytes + got, want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

}  // namespace optad
