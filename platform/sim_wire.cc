#include "platform/sim_wire.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace optad::simwire {

int connect_to(const std::string &socket_path)
{
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        ::close(fd);
        // A socket file without a listener is as good as no simulator: the
        // programs must see the device as missing.
        errno = (err == ECONNREFUSED || err == ENOENT || err == ENOTDIR) ? ENOENT : err;
        return -1;
    }
    return fd;
}

bool send_all(int fd, struct iovec *iov, int count)
{
    while (count > 0) {
        struct msghdr msg {};
        msg.msg_iov = iov;
        msg.msg_iovlen = static_cast<decltype(msg.msg_iovlen)>(count);
        ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        size_t left = static_cast<size_t>(n);
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<char *>(iov->iov_base) + left;
            iov->iov_len -= left;
        }
    }
    return true;
}

bool recv_all(int fd, void *buf, size_t n)
{
    char *p = static_cast<char *>(buf);
    while (n > 0) {
        ssize_t got = ::recv(fd, p, n, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0) {
            errno = ECONNRESET;
            return false;
        }
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool discard(int fd, size_t n)
{
    char sink[256];
    while (n > 0) {
        size_t chunk = n < sizeof sink ? n : sizeof sink;
        if (!recv_all(fd, sink, chunk))
            return false;
        n -= chunk;
    }
    return true;
}

bool request(int fd, const simproto::Request &req, const void *body1, size_t len1,
             const void *body2, size_t len2, simproto::Reply *reply)
{
    struct iovec iov[3];
    int count = 0;
    iov[count++] = {const_cast<simproto::Request *>(&req), sizeof req};
    if (len1 > 0)
        iov[count++] = {const_cast<void *>(body1), len1};
    if (len2 > 0)
        iov[count++] = {const_cast<void *>(body2), len2};
    if (!send_all(fd, iov, count))
        return false;
    return recv_all(fd, reply, sizeof *reply);
}

int control(const std::string &socket_path, const std::string &command, std::string *answer,
            int timeout_ms)
{
    int fd = connect_to(socket_path);
    if (fd < 0)
        return -1;
    struct timeval tv;
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    simproto::Request hello{0, simproto::OP_HELLO_CONTROL, 0, 0};
    simproto::Reply reply{};
    bool ok = request(fd, hello, nullptr, 0, nullptr, 0, &reply) && reply.payload_size == 0;
    if (ok) {
        simproto::Request req{static_cast<uint32_t>(command.size()), simproto::OP_CONTROL, 0, 0};
        ok = request(fd, req, command.data(), command.size(), nullptr, 0, &reply) &&
             reply.payload_size <= simproto::MAX_ANSWER;
    }
    if (ok) {
        answer->assign(reply.payload_size, '\0');
        ok = recv_all(fd, answer->data(), reply.payload_size);
    }
    int err = errno;
    ::close(fd);
    if (!ok) {
        errno = err == EAGAIN ? ETIMEDOUT : err;
        return -1;
    }
    return 0;
}

}  // namespace optad::simwire
