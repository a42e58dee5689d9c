// Host build only: the wire protocol between the device and GPIO seam of the
// programs (platform/sim_client.cc) and the module simulator (optad-sim).
//
// The simulator listens on a Unix stream socket at a fixed path inside the
// sandbox root. Every connection starts with one hello message that says
// what the connection is:
//
//   - a device connection: one per dev_open(); the descriptor returned to
//     the program is the socket itself, so dev_close() is close(2);
//   - a line connection: one per GPIO line handle (pinio_request...);
//   - an event connection: the descriptor of pinio_fd(). The simulator sends
//     nothing on it but one byte of out-of-band data per reported edge, so
//     select() flags it as an exceptional condition exactly like a sysfs
//     GPIO value file;
//   - a control connection: the text commands of optad-sim ctl.
//
// After the hello every request gets exactly one reply. All numbers are
// little-endian; addresses of the program's memory travel as 64-bit values
// whatever the program's pointer width, so a 32-bit program under qemu and
// a 64-bit simulator understand each other.
#pragma once

#ifndef OPTAD_HOST_BUILD
#error "platform/sim_protocol.h is for the host build only"
#endif

#include <cstdint>

namespace optad::simproto {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the simulator protocol is little-endian like both boards");

// The socket, as a fixed path (platform_path() relocates it under the
// sandbox root). The simulator's log file lives beside it.
inline constexpr const char *SOCKET_FIXED_PATH = "/var/run/optad-sim/sim.sock";
inline constexpr const char *LOG_FIXED_PATH = "/var/run/optad-sim/optad-sim.log";

// Largest request body the simulator accepts (a 4096-byte SPI message with
// its records fits with room to spare).
inline constexpr uint32_t MAX_BODY = 64 * 1024;
// Largest control answer (a full observation log is a few megabytes).
inline constexpr uint32_t MAX_ANSWER = 64 * 1024 * 1024;

enum Op : uint16_t {
    // Hellos: the first message of a connection.
    OP_HELLO_DEVICE = 1,   // arg: open flags; body: the fixed device path
    OP_HELLO_LINE = 2,     // arg: GPIO number, or -1 for a name; body: name or label
    OP_HELLO_EVENTS = 3,   // arg: handle id of a line connection
    OP_HELLO_CONTROL = 4,  // no body
    // Device connections.
    OP_IOCTL = 10,           // body: IoctlBody, then the request's payload
    OP_READ = 11,            // arg: byte count; reply payload: the bytes
    OP_WRITE = 12,           // body: the bytes
    OP_DC_ENTRY_SIZE = 13,   // arg: data cache id; result: its entry size
    // Line connections.
    OP_LINE = 20,  // arg16: LineOp; arg: its value
    // Control connections.
    OP_CONTROL = 30,  // body: one command line; reply payload: the answer text
};

enum LineOp : uint16_t {
    LINE_FULL_OPEN = 1,
    LINE_ALTERABLE = 2,
    LINE_GET_DIRECTION = 3,
    LINE_DIRECTION_INPUT = 4,
    LINE_DIRECTION_OUTPUT = 5,  // arg: initial level
    LINE_SET_VALUE = 6,         // arg: level
    LINE_GET_VALUE = 7,
    LINE_SET_EDGE = 8,  // arg: edge mask
    LINE_CLOSE = 9,
};

// Every request: this header, then body_size bytes.
struct Request {
    uint32_t body_size;
    uint16_t op;
    uint16_t arg16;
    int32_t arg;
};
static_assert(sizeof(Request) == 12);

// Every reply: this header, then payload_size bytes. result and error are
// the libc-style result and errno of the operation.
struct Reply {
    uint32_t payload_size;
    int32_t result;
    int32_t error;
};
static_assert(sizeof(Reply) == 12);

enum IoctlKind : uint32_t {
    IOCTL_POINTER = 0,  // the argument points to a record
    IOCTL_VALUE = 1,    // the argument is an integer passed by value
};

struct IoctlBody {
    uint32_t request;
    uint32_t kind;   // IoctlKind
    uint64_t value;  // IOCTL_VALUE only
};
static_assert(sizeof(IoctlBody) == 16);

// Payload of an ioctl request after IoctlBody:
//
//  - SPI_IOC_MESSAGE(n): the n spi_ioc_transfer records exactly as the
//    kernel gets them (their buffer fields are already 64-bit), then the
//    transmit bytes of every transfer that has a transmit buffer, in order.
//    Reply payload: the receive bytes of every transfer that has a receive
//    buffer, in order (only on success).
//  - DATACACHE_WRITE: WireDatacacheWrite, then the entry's bytes (the
//    client asks OP_DC_ENTRY_SIZE first, as the driver knows the size).
//  - DATACACHE_READ: WireDatacacheRead. Reply payload on success: result x
//    entry size bytes of entries, then result x 8 bytes of stamps.
//  - every other pointer request: the _IOC_SIZE(request) bytes the argument
//    points to. Reply payload: nothing, or _IOC_SIZE bytes to copy back.

// The data cache records with their addresses widened to 64 bits. The
// records' sizes on the camera are those their request numbers encode.
struct WireDatacacheWrite {
    uint64_t entry;
    uint32_t cache_id;
    uint32_t zero[2];
    uint32_t pad;
};
static_assert(sizeof(WireDatacacheWrite) == 24);

struct WireDatacacheRead {
    uint64_t entries;
    uint64_t stamps;
    uint32_t cache_id;
    uint32_t one;
    uint32_t count;
    uint32_t zero;
};
static_assert(sizeof(WireDatacacheRead) == 32);

inline constexpr uint32_t DATACACHE_STAMP_SIZE = 8;

}  // namespace optad::simproto
