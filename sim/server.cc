#include "sim/server.h"

#include "sim/control.h"
#include "platform/sim_protocol.h"
#include "platform/sim_wire.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <glib.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace optad::sim {

namespace {

volatile sig_atomic_t stop_requested = 0;

void on_signal(int)
{
    stop_requested = 1;
}

int64_t monotonic_us()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

// A client that stops reading its replies must not stall the whole board.
constexpr int SEND_TIMEOUT_MS = 2000;

}  // namespace

Server::Server(Board &board, std::string socket_path)
    : board_(board), socket_path_(std::move(socket_path))
{
}

Server::~Server()
{
    for (auto &c : conns_) {
        if (c->fd >= 0)
            ::close(c->fd);
    }
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
        ::unlink(socket_path_.c_str());
    }
}

bool Server::listen(std::string *error)
{
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (socket_path_.size() >= sizeof addr.sun_path) {
        *error = "socket path too long for a Unix socket: " + socket_path_;
        return false;
    }
    std::memcpy(addr.sun_path, socket_path_.c_str(), socket_path_.size() + 1);

    g_autofree char *dir = g_path_get_dirname(socket_path_.c_str());
    if (g_mkdir_with_parents(dir, 0755) != 0) {
        *error = std::string("cannot create ") + dir + ": " + std::strerror(errno);
        return false;
    }
    int probe = simwire::connect_to(socket_path_);
    if (probe >= 0) {
        ::close(probe);
        *error = "a simulator already listens on " + socket_path_;
        return false;
    }
    ::unlink(socket_path_.c_str());  // a stale socket of a simulator that died

    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_fd_ < 0 ||
        ::bind(listen_fd_, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 64) != 0) {
        *error = "cannot listen on " + socket_path_ + ": " + std::strerror(errno);
        if (listen_fd_ >= 0)
            ::close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    return true;
}

int Server::run()
{
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // The signals are delivered only while waiting in ppoll.
    sigset_t blocked, wait_mask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, &wait_mask);
    sigdelset(&wait_mask, SIGTERM);
    sigdelset(&wait_mask, SIGINT);

    std::vector<struct pollfd> fds;
    while (!quit_ && !stop_requested) {
        int64_t now = monotonic_us();
        board_.advance(now);

        std::string answer;
        if (board_.sequence_result(&answer)) {
            for (auto &c : conns_) {
                if (c->awaiting_sequence) {
                    c->awaiting_sequence = false;
                    reply(*c, 0, 0, reinterpret_cast<const uint8_t *>(answer.data()), answer.size());
                }
            }
        }

        // Drop the connections that ended.
        for (size_t i = 0; i < conns_.size();) {
            if (conns_[i]->closing) {
                close_conn(*conns_[i]);
                conns_.erase(conns_.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }

        fds.clear();
        fds.push_back({listen_fd_, POLLIN, 0});
        for (auto &c : conns_)
            fds.push_back({c->fd, POLLIN, 0});

        int64_t next = board_.next_deadline();
        int64_t wait_us = next == Timers::NEVER ? 1'000'000 : next - monotonic_us();
        if (wait_us < 0)
            wait_us = 0;
        if (wait_us > 1'000'000)
            wait_us = 1'000'000;
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(wait_us / 1'000'000);
        ts.tv_nsec = static_cast<long>(wait_us % 1'000'000) * 1000;
        int n = ::ppoll(fds.data(), fds.size(), &ts, &wait_mask);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            board_.ctx().note("poll failed: %s", std::strerror(errno));
            return 1;
        }
        board_.advance(monotonic_us());
        if (fds[0].revents & POLLIN)
            accept_all();
        // conns_ may have grown: the first fds.size() - 1 match the poll set.
        for (size_t i = 1; i < fds.size() && !quit_; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                read_from(*conns_[i - 1]);
        }
    }
    if (stop_requested)
        board_.ctx().note("stopping on a signal");
    return 0;
}

void Server::accept_all()
{
    for (;;) {
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        struct timeval tv {SEND_TIMEOUT_MS / 1000, (SEND_TIMEOUT_MS % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        auto c = std::make_unique<Conn>();
        c->fd = fd;
        c->in.reserve(8192);
        conns_.push_back(std::move(c));
    }
}

void Server::read_from(Conn &c)
{
    if (c.closing)
        return;
    uint8_t buf[16384];
    ssize_t got = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        c.closing = true;
        return;
    }
    if (got < 0)
        return;
    if (c.kind == Kind::Events) {
        board_.ctx().violation("protocol: data on an event connection");
        c.closing = true;
        return;
    }
    c.in.insert(c.in.end(), buf, buf + got);
    for (;;) {
        size_t avail = c.in.size() - c.in_pos;
        if (avail < sizeof(simproto::Request))
            break;
        simproto::Request req;
        std::memcpy(&req, c.in.data() + c.in_pos, sizeof req);
        if (req.body_size > simproto::MAX_BODY) {
            board_.ctx().violation("protocol: request of %u bytes", req.body_size);
            c.closing = true;
            return;
        }
        if (avail < sizeof req + req.body_size)
            break;
        const uint8_t *body = c.in.data() + c.in_pos + sizeof req;
        handle(c, req.op, req.arg16, req.arg, body, req.body_size);
        c.in_pos += sizeof req + req.body_size;
        if (c.closing || quit_)
            return;
    }
    if (c.in_pos == c.in.size()) {
        c.in.clear();
        c.in_pos = 0;
    } else if (c.in_pos > 65536) {
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(c.in_pos));
        c.in_pos = 0;
    }
}

void Server::handle(Conn &c, uint16_t op, uint16_t arg16, int32_t arg, const uint8_t *body, size_t len)
{
    board_.ctx().now_us = monotonic_us();
    switch (c.kind) {
    case Kind::New:
        handle_hello(c, op, arg, body, len);
        break;
    case Kind::Device:
        handle_device(c, op, arg, body, len);
        break;
    case Kind::Line:
        if (op != simproto::OP_LINE) {
            c.closing = true;
            break;
        }
        {
            int rc = board_.line_op(c.line_id, arg16, arg);
            reply(c, rc < 0 ? -1 : rc, rc < 0 ? -rc : 0);
        }
        break;
    case Kind::Control:
        if (op != simproto::OP_CONTROL) {
            c.closing = true;
            break;
        }
        {
            ControlAnswer a = control(board_, std::string(reinterpret_cast<const char *>(body), len));
            if (a.deferred) {
                c.awaiting_sequence = true;
            } else {
                reply(c, 0, 0, reinterpret_cast<const uint8_t *>(a.text.data()), a.text.size());
                quit_ = quit_ || a.quit;
            }
        }
        break;
    case Kind::Events:
        c.closing = true;
        break;
    }
    board_.evaluate();
}

void Server::handle_hello(Conn &c, uint16_t op, int32_t arg, const uint8_t *body, size_t len)
{
    std::string text(reinterpret_cast<const char *>(body), len);
    switch (op) {
    case simproto::OP_HELLO_DEVICE: {
        int err = 0;
        c.device = board_.open_device(text, arg, &err);
        if (!c.device) {
            reply(c, -1, err);
            c.closing = true;
            return;
        }
        c.kind = Kind::Device;
        reply(c, 0, 0);
        return;
    }
    case simproto::OP_HELLO_LINE: {
        int id = board_.line_request(arg, text);
        if (id < 0) {
            reply(c, -1, -id);
            c.closing = true;
            return;
        }
        c.kind = Kind::Line;
        c.line_id = id;
        reply(c, id, 0);
        return;
    }
    case simproto::OP_HELLO_EVENTS:
        if (int rc = board_.events_request(arg); rc < 0) {
            reply(c, -1, -rc);
            c.closing = true;
            return;
        }
        c.kind = Kind::Events;
        // The reply goes first: the edge bytes that follow are out of band.
        if (reply(c, 0, 0))
            board_.line_attach_events(arg, c.fd);
        return;
    case simproto::OP_HELLO_CONTROL:
        c.kind = Kind::Control;
        reply(c, 0, 0);
        return;
    default:
        board_.ctx().violation("protocol: connection starts with request %u", op);
        c.closing = true;
        return;
    }
}

void Server::handle_device(Conn &c, uint16_t op, int32_t arg, const uint8_t *body, size_t len)
{
    out_.clear();
    int rc;
    switch (op) {
    case simproto::OP_IOCTL: {
        simproto::IoctlBody io;
        if (len < sizeof io) {
            c.closing = true;
            return;
        }
        std::memcpy(&io, body, sizeof io);
        rc = c.device->ioctl(io.request, io.kind == simproto::IOCTL_VALUE, io.value,
                             body + sizeof io, len - sizeof io, out_);
        break;
    }
    case simproto::OP_READ:
        rc = c.device->read(arg < 0 ? 0 : static_cast<size_t>(arg), out_);
        break;
    case simproto::OP_WRITE:
        rc = c.device->write(body, len);
        break;
    case simproto::OP_DC_ENTRY_SIZE:
        rc = c.device->entry_size(static_cast<uint32_t>(arg));
        break;
    default:
        c.closing = true;
        return;
    }
    if (rc < 0)
        reply(c, -1, -rc);
    else
        reply(c, rc, 0, out_.data(), out_.size());
}

bool Server::reply(Conn &c, int result, int error, const uint8_t *payload, size_t len)
{
    simproto::Reply r{static_cast<uint32_t>(len), result, error};
    struct iovec iov[2] = {{&r, sizeof r}, {const_cast<uint8_t *>(payload), len}};
    if (!simwire::send_all(c.fd, iov, len > 0 ? 2 : 1)) {
        c.closing = true;
        return false;
    }
    return true;
}

void Server::close_conn(Conn &c)
{
    if (c.kind == Kind::Line)
        board_.line_closed(c.line_id);
    else if (c.kind == Kind::Events)
        board_.events_closed(c.fd);
    ::close(c.fd);
    c.fd = -1;
}

}  // namespace optad::sim
