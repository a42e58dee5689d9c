// Helpers of the simulator tests: talking to the simulated hardware through
// the real seam (dev_* and pinio_*) the way the camera code does, without
// the daemon's own link code.
#pragma once

#include "platform/kernel_abi.h"
#include "platform/pinio.h"

#include <cstdint>
#include <string>
#include <vector>

namespace optad::test {

// A GPIO line handle, requested by name (or number), opened, freed at the end.
class TestLine {
public:
    explicit TestLine(const char *name, int edge = -1);
    TestLine(int gpio, const char *label);
    ~TestLine();
    TestLine(const TestLine &) = delete;
    TestLine &operator=(const TestLine &) = delete;

    pinio_line *get() const { return line_; }
    int value() { return pinio_get_value(line_); }
    int fd() { return pinio_fd(line_); }
    // Waits up to timeout_ms for the descriptor to be flagged exceptional.
    bool wait_edge(int timeout_ms);
    // Waits for the line to read level (edges only; true at once if it does).
    bool wait_level(int level, int timeout_ms);

private:
    pinio_line *line_ = nullptr;
};

uint8_t reverse_bits(uint8_t b);

// A 512-byte frame buffer with the checksum and length rules of the link.
using Frame = std::vector<uint8_t>;
Frame status_request();
Frame command_frame(uint8_t group, uint8_t item, const std::vector<uint8_t> &values);
Frame version_up_start(uint32_t size);
void set_checksum(Frame &f);

// The IMC link opened like the camera opens it (mode 1 as 32 bits, 3 MHz).
int open_imc();
// One transfer record with the link's settings; tests change fields to
// provoke violations.
spi_ioc_transfer imc_transfer(const void *tx, void *rx, uint32_t len);
// Waits for REQ to rise, then one full-duplex 512-byte exchange with bit
// reversal both ways. reply may be null. Returns the ioctl result.
int imc_exchange(int fd, TestLine &req, const Frame &frame, std::vector<uint8_t> *reply);
// A status request; the decoded 512-byte block (empty on failure).
std::vector<uint8_t> imc_status(int fd, TestLine &req);

// A firmware image of size bytes that starts with head (its "Rev." text).
std::vector<uint8_t> firmware_image(size_t size, const std::string &head);
// Streams an image the way the firmware upgrade does: 4092 bytes per
// message with header 00000000, FFFFFFFF on the message with the last
// bytes, each after a REQ.
void stream_firmware(int fd, TestLine &req, const std::vector<uint8_t> &img);

// A line written the way the programs' gpio_write does it: request by
// name, open, make it an output at 0 when its direction may change, write
// the value, close, free. 0, or -1 with errno.
int write_line(const char *name, int value);
// A line's level the way gpio_read reads it (negative on failure).
int read_line(const char *name);

// The PMIC's bus opened like the PMIC command files address it (8-bit
// address 0x90, so slave 0x48). -1 on failure.
int open_pmic();
// One register write: the two bytes register and value. The write's result.
int pmic_write(int fd, uint8_t reg, uint8_t value);

}  // namespace optad::test
