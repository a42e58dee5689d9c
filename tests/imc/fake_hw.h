// Fakes of the device and GPIO seams for unit tests that must force a
// timing, a reply or a failure: the IMC's SPI bus, the FPGA's register bus,
// the PMIC's I2C bus, /dev/cam0, /dev/datacache0 and the module's GPIO
// lines, with a REQ line whose edges a test queues one by one. Every GPIO
// call is stamped with the clock, so that tests on the virtual clock can
// check when a line was driven.
//
// The REQ descriptor is one end of a Unix socketpair: a queued edge sends an
// out-of-band byte, which select() reports as an exceptional condition until
// the line's value is read, like a GPIO value file after an edge.
#pragma once

#include "platform/backend.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace optad::test {

// ---- GPIO lines ----

struct FakeLine {
    std::string name;
    int value = 0;
    int direction = 1;  // 0 output, 1 input (the library's convention)
    bool alterable = true;
    // Failures to inject (errno given with each).
    int fail_request = 0;
    int fail_open = 0;
    int fail_get = 0;  // errno; get_value returns -1
    int get_result = 0;  // when non-zero, get_value returns it (e.g. -5)
    int fail_set = 0;
    int fail_direction_output = 0;
    int fail_get_direction = 0;
    int fail_set_edge = 0;
    int fail_fd = 0;
    int open_count = 0;  // currently open handles
    int requested = 0;   // handles not yet freed
    // Levels the next reads give, one per read, before `value` applies
    // again; a negative entry fails that read with EIO.
    std::deque<int> next_levels;
    int reads = 0;  // get_value calls so far
    // Only the set_value call of this number (1 for the first) fails, with
    // EIO; 0: none. For a line a sequence drives more than once.
    int fail_set_call = 0;
    int sets = 0;  // set_value calls so far
};

class FakePinio final : public PinioBackend {
public:
    FakePinio();
    ~FakePinio() override;

    // The line of that name (created on first use, as an input at 0).
    FakeLine &line(const std::string &name);
    // Every call, in order: "request imc_req", "open imc_req", "get imc_req",
    // "set fpga_reset 1", "output fpga_reset 0", "edge imc_req 12",
    // "fd imc_req", "direction imc_dcdc_en", "close imc_req", "free imc_req".
    const std::vector<std::string> &calls() const { return calls_; }
    // The clock (clock_now_us) at each call of calls().
    const std::vector<int64_t> &call_times() const { return call_times_; }
    void clear_calls()
    {
        calls_.clear();
        call_times_.clear();
    }
    // Calls whose text starts with prefix.
    std::vector<std::string> calls_starting(const std::string &prefix) const;

    // REQ: queue an edge after which the line reads `level`. Each queued
    // edge is reported once by select() and consumed by one value read.
    void req_edge(int level);
    size_t req_edges_pending() const { return req_pending_.size(); }
    // Makes the REQ descriptor unusable for select() (EBADF).
    void break_req_fd();
    int req_fd() const { return sock_[0]; }

    pinio_line *request_named(const char *name) override;
    pinio_line *request(int gpio, const char *label) override;
    int full_open(pinio_line *l) override;
    int alterable_direction(pinio_line *l) override;
    int get_direction(pinio_line *l) override;
    int direction_input(pinio_line *l) override;
    int direction_output(pinio_line *l, int level) override;
    int set_value(pinio_line *l, int level) override;
    int get_value(pinio_line *l) override;
    int set_edge(pinio_line *l, int edge) override;
    int fd(pinio_line *l) override;
    void close(pinio_line *l) override;
    void free(pinio_line *l) override;

private:
    FakeLine &of(pinio_line *l) { return *reinterpret_cast<FakeLine *>(l); }
    void log(const std::string &what, const FakeLine &l);
    void record(std::string call);

    std::map<std::string, FakeLine> lines_;
    std::vector<std::string> calls_;
    std::vector<int64_t> call_times_;
    std::deque<int> req_pending_;
    int sock_[2] = {-1, -1};
};

// ---- devices ----

// One SPI transfer as the driver saw it.
struct SpiTransfer {
    std::vector<uint8_t> tx;  // as sent on the wire (empty when no tx buffer)
    bool has_rx = false;
    uint32_t len = 0;
    uint32_t speed_hz = 0;
    uint16_t delay_usecs = 0;
    uint8_t bits_per_word = 0;
    uint8_t cs_change = 0;
    uint32_t other_fields = 0;  // OR of the fields that must stay zero
};

// One /dev/cam0 request.
struct Cam0Request {
    unsigned long request;
    unsigned long value;          // for requests by value
    std::vector<uint8_t> record;  // the record as passed (pointer requests)
};

class FakeDevices final : public DeviceBackend {
public:
    // ---- /dev/spidev2.0: the IMC ----
    std::vector<SpiTransfer> imc_transfers;
    // Replies the IMC gives, one per 512-byte exchange, in normal bit order
    // (the fake reverses them onto the wire). When empty: all zeros.
    std::deque<std::vector<uint8_t>> imc_replies;
    // Results of the next transfers, in place of the full length. A
    // negative value fails with errno imc_errno.
    std::deque<int> imc_results;
    int imc_errno = EIO;
    uint32_t imc_mode = 0xFFFF;
    uint32_t imc_speed = 0;
    int fail_imc_mode = 0;
    int fail_imc_speed = 0;
    // Called after every IMC transfer (for example to raise REQ again).
    std::function<void()> after_imc_transfer;

    // ---- /dev/spidev3.0: the FPGA ----
    std::map<uint32_t, uint32_t> fpga_regs;
    std::vector<std::string> fpga_log;  // "R 0x08", "W 0x08=0x00000002"
    std::vector<SpiTransfer> fpga_transfers;
    std::map<uint32_t, int> fpga_fail_read;  // address -> errno
    int fpga_fail_write_errno = 0;
    uint8_t fpga_mode_written = 0xFF;
    int fpga_mode_reads = 0;
    uint32_t fpga_speed = 0;
    int fail_fpga_mode = 0;
    int fail_fpga_speed = 0;

    // ---- /dev/cam0 ----
    std::vector<Cam0Request> cam0_log;
    int fail_cam0_get_window = 0;
    int fail_cam0_set_window = 0;
    std::vector<uint8_t> cam0_window = std::vector<uint8_t>(60, 0);
    std::vector<uint8_t> cam0_pipeline = std::vector<uint8_t>(436, 0);

    // ---- /dev/datacache0 ----
    struct Cache {
        std::string name;
        uint32_t entry_size = 0;
        uint32_t entries = 0;
        std::vector<std::vector<uint8_t>> written;
    };
    std::vector<Cache> caches;
    std::vector<std::pair<unsigned long, std::vector<uint8_t>>> datacache_log;  // request, record
    int fail_datacache_register = 0;

    // ---- /dev/i2c-4: the PMIC ----
    // Every slave selection and write, in order: "slave 0x48", "write 10 05".
    std::vector<std::string> i2c_log;
    int fail_i2c_slave = 0;  // errno; every I2C_SLAVE request fails
    // Results of the next writes, in place of the full length. A negative
    // value fails with errno i2c_errno; a smaller count is a short write.
    std::deque<int> i2c_write_results;
    int i2c_errno = EIO;

    // ---- common ----
    std::map<std::string, int> fail_open;  // path -> errno
    std::vector<std::string> opened;       // every successful open, in order
    int open_count() const;                // descriptors still open

    int open(const char *path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void *arg) override;
    int ioctl_value(int fd, unsigned long request, unsigned long value) override;
    ssize_t read(int fd, void *buf, size_t count) override;
    ssize_t write(int fd, const void *buf, size_t count) override;

private:
    int imc_ioctl(unsigned long request, void *arg);
    int fpga_ioctl(unsigned long request, void *arg);
    int cam0_ioctl(unsigned long request, void *arg);
    int datacache_ioctl(unsigned long request, void *arg);
    int i2c_ioctl_value(unsigned long request, unsigned long value);
    ssize_t i2c_write(const void *buf, size_t count);

    std::map<int, std::string> fds_;
    int next_fd_ = 1000;
    uint32_t fpga_pending_read_ = 0xFFFFFFFF;
};

// Installs both fakes for the life of the object.
class FakeHardware {
public:
    FakeHardware();
    ~FakeHardware();
    FakeHardware(const FakeHardware &) = delete;
    FakeHardware &operator=(const FakeHardware &) = delete;

    FakeDevices dev;
    FakePinio pins;
};

// A 512-byte status reply with the given bytes set.
std::vector<uint8_t> status_reply(std::initializer_list<std::pair<size_t, uint8_t>> bytes);

// Bytes of a transfer's tx in normal bit order.
std::vector<uint8_t> unreversed(const std::vector<uint8_t> &wire);

}  // namespace optad::test
