// Host build: the device and GPIO seam served by the module simulator.
//
// Each dev_open() is one connection to the simulator, and the descriptor the
// program gets is that socket: dev_close() closes it, and the simulator
// keeps per-open state (the I2C slave address) on its side, like the kernel
// keeps it per open file. Requests carry the real request numbers; the
// records and every buffer a record points to are copied across, so the
// simulator checks exactly the bytes the kernel would get.
//
// Each GPIO line handle is one connection too; its pinio_fd() is a second
// connection on which the simulator sends one byte of out-of-band data per
// edge of the kind asked for, which select() reports as an exceptional
// condition. pinio_get_value() first takes that byte (if any) and then asks
// for the level, so a read clears the pending edge the way reading a sysfs
// value file does, and an edge that comes after the read is reported anew.
// Like a freshly opened sysfs value file, the descriptor is reported ready
// once before the first read.
//
// With no simulator listening, devices and lines are missing: dev_open()
// fails with ENOENT and the line requests return nullptr with ENOENT, and
// nothing is logged, as on a board without the hardware. A connection that
// breaks halfway (the simulator died) fails the call with EIO and logs a
// warning, since that is a fault of the rig, not of the device.
//
// Nothing here allocates per exchange or per REQ wait: requests are sent
// with scatter-gather from the caller's own buffers and replies are read
// straight into them. Handles are not shared between threads (each thread
// requests its own), so the only locking is the kernel's.
#include "platform/backend.h"
#include "platform/kernel_abi.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/sim_protocol.h"
#include "platform/sim_wire.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace optad {

namespace {

using simproto::Reply;
using simproto::Request;

// The most transfers one SPI_IOC_MESSAGE may carry here; the programs send
// one at a time.
constexpr unsigned MAX_TRANSFERS = 32;

std::string socket_path()
{
    return platform_path(simproto::SOCKET_FIXED_PATH);
}

int connect_simulator()
{
    int fd = simwire::connect_to(socket_path());
    if (fd < 0 && errno != ENOENT) {
        int err = errno;
        log_write(LOG_WARNING, "sim_client: cannot reach the module simulator at %s: %s\n",
                  socket_path().c_str(), std::strerror(err));
        errno = err;
    }
    return fd;
}

// A request whose connection broke: the simulator went away. A descriptor
// that was never a device (closed, or -1 from a failed open) fails the way
// the kernel fails it, without a word.
int lost(const char *what)
{
    int err = errno;
    if (err == EBADF)
        return -1;
    if (err == ENOTSOCK) {
        errno = ENOTTY;
        return -1;
    }
    log_write(LOG_WARNING, "sim_client: %s: lost the module simulator (%s)\n", what,
              std::strerror(err));
    errno = EIO;
    return -1;
}

// The libc-style result of a reply.
int result_of(const Reply &reply)
{
    if (reply.result < 0) {
        errno = reply.error;
        return -1;
    }
    return reply.result;
}

// A request header and its ioctl body; they go out as two pieces (the
// struct has padding between them).
struct IoctlHead {
    Request req;
    simproto::IoctlBody body;
};

bool is_spi_message(unsigned long request)
{
    return _IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 &&
           _IOC_DIR(request) == _IOC_WRITE && _IOC_SIZE(request) % sizeof(spi_ioc_transfer) == 0;
}

class SimDevices final : public DeviceBackend {
public:
    int open(const char *path, int flags) override
    {
        int fd = connect_simulator();
        if (fd < 0)
            return -1;
        size_t len = std::strlen(path);
        Request req{static_cast<uint32_t>(len), simproto::OP_HELLO_DEVICE, 0, flags};
        Reply reply{};
        if (!simwire::request(fd, req, path, len, nullptr, 0, &reply)) {
            int rc = lost("open");
            ::close(fd);
            return rc;
        }
        if (reply.result < 0) {
            ::close(fd);
            errno = reply.error;
            return -1;
        }
        return fd;
    }

    int close(int fd) override { return ::close(fd); }

    int ioctl(int fd, unsigned long request, void *arg) override
    {
        if (is_spi_message(request))
            return spi_message(fd, request, arg);
        if (request == DATACACHE_WRITE)
            return datacache_write(fd, arg);
        if (request == DATACACHE_READ)
            return datacache_read(fd, arg);
        return generic(fd, request, arg);
    }

    int ioctl_value(int fd, unsigned long request, unsigned long value) override
    {
        IoctlHead head{{sizeof(simproto::IoctlBody), simproto::OP_IOCTL, 0, 0},
                       {static_cast<uint32_t>(request), simproto::IOCTL_VALUE, value}};
        Reply reply{};
        if (!simwire::request(fd, head.req, &head.body, sizeof head.body, nullptr, 0, &reply))
            return lost("ioctl");
        if (reply.payload_size != 0 && !simwire::discard(fd, reply.payload_size))
            return lost("ioctl");
        return result_of(reply);
    }

    ssize_t read(int fd, void *buf, size_t count) override
    {
        if (count > simproto::MAX_BODY)
            count = simproto::MAX_BODY;
        Request req{0, simproto::OP_READ, 0, static_cast<int32_t>(count)};
        Reply reply{};
        if (!simwire::request(fd, req, nullptr, 0, nullptr, 0, &reply) ||
            reply.payload_size > count || !simwire::recv_all(fd, buf, reply.payload_size))
            return lost("read");
        return result_of(reply);
    }

    ssize_t write(int fd, const void *buf, size_t count) override
    {
        if (count > simproto::MAX_BODY) {
            errno = EMSGSIZE;
            return -1;
        }
        Request req{static_cast<uint32_t>(count), simproto::OP_WRITE, 0, 0};
        Reply reply{};
        if (!simwire::request(fd, req, buf, count, nullptr, 0, &reply))
            return lost("write");
        if (reply.payload_size != 0 && !simwire::discard(fd, reply.payload_size))
            return lost("write");
        return result_of(reply);
    }

private:
    // Records plus the transmit buffers go out in one message; the receive
    // bytes come back straight into the receive buffers.
    int spi_message(int fd, unsigned long request, void *arg)
    {
        unsigned size = _IOC_SIZE(request);
        unsigned n = size / sizeof(spi_ioc_transfer);
        if (n > MAX_TRANSFERS) {
            errno = EINVAL;
            return -1;
        }
        if (arg == nullptr && size > 0) {
            errno = EFAULT;
            return -1;
        }
        const auto *xfer = static_cast<const spi_ioc_transfer *>(arg);

        IoctlHead head{{0, simproto::OP_IOCTL, 0, 0},
                       {static_cast<uint32_t>(request), simproto::IOCTL_POINTER, 0}};
        struct iovec iov[4 + MAX_TRANSFERS];
        int count = 0;
        iov[count++] = {&head.req, sizeof head.req};
        iov[count++] = {&head.body, sizeof head.body};
        iov[count++] = {arg, size};
        size_t body = sizeof head.body + size;
        size_t rx_total = 0;
        for (unsigned i = 0; i < n; ++i) {
            if (xfer[i].tx_buf != 0) {
                iov[count++] = {reinterpret_cast<void *>(static_cast<uintptr_t>(xfer[i].tx_buf)),
                                xfer[i].len};
                body += xfer[i].len;
            }
            if (xfer[i].rx_buf != 0)
                rx_total += xfer[i].len;
        }
        if (body > simproto::MAX_BODY) {
            errno = EMSGSIZE;
            return -1;
        }
        head.req.body_size = static_cast<uint32_t>(body);
        Reply reply{};
        if (!simwire::send_all(fd, iov, count) || !simwire::recv_all(fd, &reply, sizeof reply))
            return lost("SPI_IOC_MESSAGE");
        if (reply.payload_size != 0) {
            if (reply.payload_size != rx_total)
                return lost("SPI_IOC_MESSAGE reply");
            for (unsigned i = 0; i < n; ++i) {
                if (xfer[i].rx_buf == 0)
                    continue;
                void *rx = reinterpret_cast<void *>(static_cast<uintptr_t>(xfer[i].rx_buf));
                if (!simwire::recv_all(fd, rx, xfer[i].len))
                    return lost("SPI_IOC_MESSAGE");
            }
        }
        return result_of(reply);
    }

    int datacache_write(int fd, void *arg)
    {
        if (arg == nullptr) {
            errno = EFAULT;
            return -1;
        }
        const auto *rec = static_cast<const datacache_write_rec *>(arg);
        // The driver copies one entry of the registered size; ask for it.
        Request ask{0, simproto::OP_DC_ENTRY_SIZE, 0, static_cast<int32_t>(rec->cache_id)};
        Reply reply{};
        if (!simwire::request(fd, ask, nullptr, 0, nullptr, 0, &reply))
            return lost("DATACACHE_WRITE");
        if (reply.result < 0)
            return result_of(reply);
        size_t entry_size = static_cast<size_t>(reply.result);
        if (rec->entry == 0 && entry_size > 0) {
            errno = EFAULT;
            return -1;
        }

        simproto::WireDatacacheWrite wire{rec->entry, rec->cache_id, {rec->zero[0], rec->zero[1]}, 0};
        IoctlHead head{{static_cast<uint32_t>(sizeof head.body + sizeof wire + entry_size),
                        simproto::OP_IOCTL, 0, 0},
                       {static_cast<uint32_t>(DATACACHE_WRITE), simproto::IOCTL_POINTER, 0}};
        struct iovec iov[4] = {{&head.req, sizeof head.req},
                               {&head.body, sizeof head.body},
                               {&wire, sizeof wire},
                               {reinterpret_cast<void *>(rec->entry), entry_size}};
        if (!simwire::send_all(fd, iov, entry_size > 0 ? 4 : 3) ||
            !simwire::recv_all(fd, &reply, sizeof reply))
            return lost("DATACACHE_WRITE");
        if (reply.payload_size != 0 && !simwire::discard(fd, reply.payload_size))
            return lost("DATACACHE_WRITE");
        return result_of(reply);
    }

    int datacache_read(int fd, void *arg)
    {
        if (arg == nullptr) {
            errno = EFAULT;
            return -1;
        }
        const auto *rec = static_cast<const datacache_read_rec *>(arg);
        simproto::WireDatacacheRead wire{rec->entries, rec->stamps, rec->cache_id,
                                         rec->one,     rec->count,  rec->zero};
        IoctlHead head{{static_cast<uint32_t>(sizeof head.body + sizeof wire), simproto::OP_IOCTL, 0, 0},
                       {static_cast<uint32_t>(DATACACHE_READ), simproto::IOCTL_POINTER, 0}};
        Reply reply{};
        if (!simwire::request(fd, head.req, &head.body, sizeof head.body, &wire, sizeof wire, &reply))
            return lost("DATACACHE_READ");
        if (reply.result > 0 && reply.payload_size > 0) {
            size_t stamps = static_cast<size_t>(reply.result) * simproto::DATACACHE_STAMP_SIZE;
            if (reply.payload_size < stamps)
                return lost("DATACACHE_READ reply");
            size_t entries = reply.payload_size - stamps;
            bool ok = rec->entries != 0
                          ? simwire::recv_all(fd, reinterpret_cast<void *>(rec->entries), entries)
                          : simwire::discard(fd, entries);
            ok = ok && (rec->stamps != 0
                            ? simwire::recv_all(fd, reinterpret_cast<void *>(rec->stamps), stamps)
                            : simwire::discard(fd, stamps));
            if (!ok)
                return lost("DATACACHE_READ");
        } else if (reply.payload_size != 0 && !simwire::discard(fd, reply.payload_size)) {
            return lost("DATACACHE_READ");
        }
        return result_of(reply);
    }

    // Any other record: its bytes go over, and come back when the device
    // fills it.
    int generic(int fd, unsigned long request, void *arg)
    {
        unsigned size = _IOC_SIZE(request);
        if (arg == nullptr && size > 0) {
            errno = EFAULT;
            return -1;
        }
        IoctlHead head{{static_cast<uint32_t>(sizeof head.body + size), simproto::OP_IOCTL, 0, 0},
                       {static_cast<uint32_t>(request), simproto::IOCTL_POINTER, 0}};
        Reply reply{};
        if (!simwire::request(fd, head.req, &head.body, sizeof head.body, arg, size, &reply))
            return lost("ioctl");
        if (reply.payload_size > size)
            return lost("ioctl reply");
        if (reply.payload_size > 0 && !simwire::recv_all(fd, arg, reply.payload_size))
            return lost("ioctl");
        return result_of(reply);
    }
};

// One GPIO line handle.
struct SimLine {
    int ctl = -1;     // the line connection
    int events = -1;  // the pinio_fd() connection, once asked for
    int32_t id = 0;   // the simulator's handle id
};

SimLine *as_sim(pinio_line *line)
{
    return reinterpret_cast<SimLine *>(line);
}

class SimLines final : public PinioBackend {
public:
    pinio_line *request_named(const char *name) override
    {
        if (name == nullptr) {
            errno = EINVAL;
            return nullptr;
        }
        return hello(-1, name);
    }

    pinio_line *request(int gpio, const char *label) override
    {
        if (gpio < 0) {
            errno = EINVAL;
            return nullptr;
        }
        return hello(gpio, label != nullptr ? label : "");
    }

    int full_open(pinio_line *line) override { return op(line, simproto::LINE_FULL_OPEN, 0); }

    int alterable_direction(pinio_line *line) override
    {
        int rc = op(line, simproto::LINE_ALTERABLE, 0);
        return rc > 0 ? rc : 0;
    }

    int get_direction(pinio_line *line) override
    {
        return op(line, simproto::LINE_GET_DIRECTION, 0);
    }

    int direction_input(pinio_line *line) override
    {
        return op(line, simproto::LINE_DIRECTION_INPUT, 0);
    }

    int direction_output(pinio_line *line, int level) override
    {
        return op(line, simproto::LINE_DIRECTION_OUTPUT, level) < 0 ? -1 : 0;
    }

    int set_value(pinio_line *line, int level) override
    {
        return op(line, simproto::LINE_SET_VALUE, level);
    }

    int get_value(pinio_line *line) override
    {
        SimLine *l = as_sim(line);
        if (l != nullptr && l->events >= 0) {
            // Take the pending edge before asking: an edge after this point
            // is reported again.
            char c;
            while (::recv(l->events, &c, 1, MSG_OOB | MSG_DONTWAIT) < 0 && errno == EINTR) {
            }
        }
        return op(line, simproto::LINE_GET_VALUE, 0);
    }

    int set_edge(pinio_line *line, int edge) override
    {
        return op(line, simproto::LINE_SET_EDGE, edge);
    }

    int fd(pinio_line *line) override
    {
        SimLine *l = as_sim(line);
        if (l == nullptr) {
            errno = EINVAL;
            return -1;
        }
        if (l->events >= 0)
            return l->events;
        int fd = connect_simulator();
        if (fd < 0)
            return -1;
        Request req{0, simproto::OP_HELLO_EVENTS, 0, l->id};
        Reply reply{};
        // The reply is the only in-band data ever sent on this connection;
        // out-of-band edge bytes come after it.
        if (!simwire::request(fd, req, nullptr, 0, nullptr, 0, &reply)) {
            int rc = lost("pinio_fd");
            ::close(fd);
            return rc;
        }
        if (reply.result < 0) {
            ::close(fd);
            errno = reply.error;
            return -1;
        }
        // Like a sysfs value file that was never read, the new descriptor is
        // flagged at once: the simulator sends the byte right after its
        // reply, so wait for it here and hand out a descriptor that is
        // already in that state.
        struct pollfd pfd {fd, POLLPRI, 0};
        while (::poll(&pfd, 1, 2000) < 0 && errno == EINTR) {
        }
        l->events = fd;
        return fd;
    }

    void close(pinio_line *line) override
    {
        SimLine *l = as_sim(line);
        if (l == nullptr)
            return;
        if (l->events >= 0) {
            ::close(l->events);
            l->events = -1;
        }
        int err = errno;
        op(line, simproto::LINE_CLOSE, 0);
        errno = err;
    }

    void free(pinio_line *line) override
    {
        SimLine *l = as_sim(line);
        if (l == nullptr)
            return;
        int err = errno;
        if (l->events >= 0)
            ::close(l->events);
        if (l->ctl >= 0)
            ::close(l->ctl);
        delete l;
        errno = err;
    }

private:
    static pinio_line *hello(int gpio, const char *text)
    {
        int fd = connect_simulator();
        if (fd < 0)
            return nullptr;
        size_t len = std::strlen(text);
        Request req{static_cast<uint32_t>(len), simproto::OP_HELLO_LINE, 0, gpio};
        Reply reply{};
        if (!simwire::request(fd, req, text, len, nullptr, 0, &reply)) {
            lost("pinio_request");
            ::close(fd);
            return nullptr;
        }
        if (reply.result <= 0) {
            ::close(fd);
            errno = reply.error != 0 ? reply.error : ENODEV;
            return nullptr;
        }
        auto *l = new SimLine;
        l->ctl = fd;
        l->id = reply.result;
        return reinterpret_cast<pinio_line *>(l);
    }

    static int op(pinio_line *line, simproto::LineOp what, int arg)
    {
        SimLine *l = as_sim(line);
        if (l == nullptr) {
            errno = EINVAL;
            return -1;
        }
        Request req{0, simproto::OP_LINE, what, arg};
        Reply reply{};
        if (!simwire::request(l->ctl, req, nullptr, 0, nullptr, 0, &reply))
            return lost("pinio");
        if (reply.payload_size != 0 && !simwire::discard(l->ctl, reply.payload_size))
            return lost("pinio");
        return result_of(reply);
    }
};

}  // namespace

DeviceBackend &simulator_devices()
{
    static SimDevices d;
    return d;
}

PinioBackend &simulator_pinio()
{
    static SimLines l;
    return l;
}

}  // namespace optad
