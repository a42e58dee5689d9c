// Host build only: blocking socket I/O for the simulator protocol
// (platform/sim_protocol.h), shared by the seam's client, the optad-sim
// command and the test fixture.
#pragma once

#ifndef OPTAD_HOST_BUILD
#error "platform/sim_wire.h is for the host build only"
#endif

#include "platform/sim_protocol.h"

#include <sys/uio.h>

#include <cstddef>
#include <string>

namespace optad::simwire {

// Connects to the simulator's socket at a real path. Returns the socket
// (close-on-exec) or -1 with errno: ENOENT when no simulator listens there
// (also for a stale socket file), ENAMETOOLONG for a path a Unix socket
// cannot hold.
int connect_to(const std::string &socket_path);

// Writes all of the vectors (retrying short writes and EINTR, never raising
// SIGPIPE). False with errno on failure. iov is modified.
bool send_all(int fd, struct iovec *iov, int count);

// Reads exactly n bytes. False with errno on failure; a closed peer gives
// ECONNRESET.
bool recv_all(int fd, void *buf, size_t n);

// Reads and throws away n bytes (a payload nobody wants). False on failure.
bool discard(int fd, size_t n);

// Sends one request with a body of up to two parts and reads the reply
// header. False with errno when the connection failed.
bool request(int fd, const simproto::Request &req, const void *body1, size_t len1,
             const void *body2, size_t len2, simproto::Reply *reply);

// One control command on a fresh connection. The answer text goes to
// *answer. Returns 0, or -1 with errno when the simulator could not be
// reached or did not answer within timeout_ms.
int control(const std::string &socket_path, const std::string &command, std::string *answer,
            int timeout_ms = 30000);

}  // namespace optad::simwire
