#include "tests/imc/fake_hw.h"

#include "imc/bitrev.h"
#include "platform/clock.h"
#include "platform/kernel_abi.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace optad::test {

// ---------------- GPIO ----------------

FakePinio::FakePinio()
{
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sock_) != 0) {
        std::perror("socketpair");
        std::abort();
    }
}

FakePinio::~FakePinio()
{
    for (int &fd : sock_)
        if (fd >= 0)
            ::close(fd);
}

FakeLine &FakePinio::line(const std::string &name)
{
    auto it = lines_.find(name);
    if (it == lines_.end()) {
        it = lines_.emplace(name, FakeLine{}).first;
        it->second.name = name;
    }
    return it->second;
}

std::vector<std::string> FakePinio::calls_starting(const std::string &prefix) const
{
    std::vector<std::string> out;
    for (const std::string &c : calls_)
        if (c.rfind(prefix, 0) == 0)
            out.push_back(c);
    return out;
}

void FakePinio::log(const std::string &what, const FakeLine &l)
{
    record(what + " " + l.name);
}

void FakePinio::record(std::string call)
{
    calls_.push_back(std::move(call));
    call_times_.push_back(clock_now_us());
}

void FakePinio::req_edge(int level)
{
    req_pending_.push_back(level);
    if (req_pending_.size() == 1) {
        char c = 'e';
        if (::send(sock_[1], &c, 1, MSG_OOB) != 1)
            std::perror("send MSG_OOB");
    }
}

void FakePinio::break_req_fd()
{
    ::close(sock_[0]);
    sock_[0] = -1;
}

pinio_line *FakePinio::request_named(const char *name)
{
    FakeLine &l = line(name);
    log("request", l);
    if (l.fail_request) {
        errno = l.fail_request;
        return nullptr;
    }
    ++l.requested;
    return reinterpret_cast<pinio_line *>(&l);
}

pinio_line *FakePinio::request(int gpio, const char *label)
{
    FakeLine &l = line(std::to_string(gpio));
    log(std::string("request_number ") + label, l);
    if (l.fail_request) {
        errno = l.fail_request;
        return nullptr;
    }
    ++l.requested;
    return reinterpret_cast<pinio_line *>(&l);
}

int FakePinio::full_open(pinio_line *p)
{
    FakeLine &l = of(p);
    log("open", l);
    if (l.fail_open) {
        errno = l.fail_open;
        return -1;
    }
    ++l.open_count;
    return 0;
}

int FakePinio::alterable_direction(pinio_line *p)
{
    FakeLine &l = of(p);
    log("alterable", l);
    if (!l.alterable)
        errno = EPERM;
    return l.alterable ? 1 : 0;
}

int FakePinio::get_direction(pinio_line *p)
{
    FakeLine &l = of(p);
    log("direction", l);
    if (l.fail_get_direction) {
        errno = l.fail_get_direction;
        return -1;
    }
    return l.direction;
}

int FakePinio::direction_input(pinio_line *p)
{
    FakeLine &l = of(p);
    log("input", l);
    l.direction = 1;
    return 0;
}

int FakePinio::direction_output(pinio_line *p, int level)
{
    FakeLine &l = of(p);
    record("output " + l.name + " " + std::to_string(level));
    if (l.fail_direction_output) {
        errno = l.fail_direction_output;
        return 1;
    }
    l.direction = 0;
    l.value = level;
    return 0;
}

int FakePinio::set_value(pinio_line *p, int level)
{
    FakeLine &l = of(p);
    record("set " + l.name + " " + std::to_string(level));
    ++l.sets;
    if (l.fail_set) {
        errno = l.fail_set;
        return -1;
    }
    if (l.fail_set_call == l.sets) {
        errno = EIO;
        return -1;
    }
    l.value = level;
    return 0;
}

int FakePinio::get_value(pinio_line *p)
{
    FakeLine &l = of(p);
    log("get", l);
    if (l.name == "imc_req" && !req_pending_.empty()) {
        l.value = req_pending_.front();
        req_pending_.pop_front();
        char c;
        if (::recv(sock_[0], &c, 1, MSG_OOB) != 1)
            std::perror("recv MSG_OOB");
        if (!req_pending_.empty()) {
            c = 'e';
            ::send(sock_[1], &c, 1, MSG_OOB);
        }
    }
    ++l.reads;
    if (l.get_result != 0)
        return l.get_result;
    if (l.fail_get) {
        errno = l.fail_get;
        return -1;
    }
    if (!l.next_levels.empty()) {
        const int level = l.next_levels.front();
        l.next_levels.pop_front();
        if (level < 0) {
            errno = EIO;
            return -1;
        }
        return level;
    }
    return l.value;
}

int FakePinio::set_edge(pinio_line *p, int edge)
{
    FakeLine &l = of(p);
    record("edge " + l.name + " " + std::to_string(edge));
    if (l.fail_set_edge) {
        errno = l.fail_set_edge;
        return -1;
    }
    return 0;
}

int FakePinio::fd(pinio_line *p)
{
    FakeLine &l = of(p);
    log("fd", l);
    if (l.fail_fd) {
        errno = l.fail_fd;
        return -1;
    }
    return sock_[0];
}

void FakePinio::close(pinio_line *p)
{
    FakeLine &l = of(p);
    log("close", l);
    --l.open_count;
}

void FakePinio::free(pinio_line *p)
{
    FakeLine &l = of(p);
    log("free", l);
    --l.requested;
}

// ---------------- devices ----------------

namespace {

SpiTransfer record_transfer(const spi_ioc_transfer &t)
{
    SpiTransfer r;
    if (t.tx_buf != 0) {
        const uint8_t *tx = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(t.tx_buf));
        r.tx.assign(tx, tx + t.len);
    }
    r.has_rx = t.rx_buf != 0;
    r.len = t.len;
    r.speed_hz = t.speed_hz;
    r.delay_usecs = t.delay_usecs;
    r.bits_per_word = t.bits_per_word;
    r.cs_change = t.cs_change;
    r.other_fields = t.tx_nbits | t.rx_nbits | t.word_delay_usecs | t.pad;
    return r;
}

uint32_t le32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

int FakeDevices::open_count() const
{
    return static_cast<int>(fds_.size());
}

int FakeDevices::open(const char *path, int flags)
{
    auto f = fail_open.find(path);
    if (f != fail_open.end()) {
        errno = f->second;
        return -1;
    }
    static const char *const known[] = {"/dev/spidev2.0", "/dev/spidev3.0", "/dev/cam0", "/dev/datacache0",
                                        "/dev/i2c-4"};
    bool ok = false;
    for (const char *k : known)
        ok |= std::strcmp(k, path) == 0;
    if (!ok) {
        errno = ENOENT;
        return -1;
    }
    int fd = next_fd_++;
    fds_[fd] = path;
    opened.push_back(path);
    return fd;
}

int FakeDevices::close(int fd)
{
    if (fds_.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

int FakeDevices::ioctl(int fd, unsigned long request, void *arg)
{
    auto it = fds_.find(fd);
    if (it == fds_.end()) {
        errno = EBADF;
        return -1;
    }
    const std::string &path = it->second;
    if (path == "/dev/spidev2.0")
        return imc_ioctl(request, arg);
    if (path == "/dev/spidev3.0")
        return fpga_ioctl(request, arg);
    if (path == "/dev/cam0")
        return cam0_ioctl(request, arg);
    if (path == "/dev/datacache0")
        return datacache_ioctl(request, arg);
    errno = ENOTTY;
    return -1;
}

int FakeDevices::ioctl_value(int fd, unsigned long request, unsigned long value)
{
    auto it = fds_.find(fd);
    if (it == fds_.end()) {
        errno = EBADF;
        return -1;
    }
    if (it->second == "/dev/cam0") {
        cam0_log.push_back({request, value, {}});
        return 0;
    }
    if (it->second == "/dev/i2c-4")
        return i2c_ioctl_value(request, value);
    errno = ENOTTY;
    return -1;
}

ssize_t FakeDevices::read(int, void *, size_t)
{
    errno = EINVAL;
    return -1;
}

ssize_t FakeDevices::write(int fd, const void *buf, size_t count)
{
    auto it = fds_.find(fd);
    if (it == fds_.end()) {
        errno = EBADF;
        return -1;
    }
    if (it->second == "/dev/i2c-4")
        return i2c_write(buf, count);
    errno = EINVAL;
    return -1;
}

int FakeDevices::i2c_ioctl_value(unsigned long request, unsigned long value)
{
    if (request != I2C_SLAVE) {
        errno = ENOTTY;
        return -1;
    }
    char text[32];
    std::snprintf(text, sizeof text, "slave 0x%02lX", value);
    i2c_log.push_back(text);
    if (fail_i2c_slave) {
        errno = fail_i2c_slave;
        return -1;
    }
    return 0;
}

ssize_t FakeDevices::i2c_write(const void *buf, size_t count)
{
    std::string text = "write";
    const uint8_t *bytes = static_cast<const uint8_t *>(buf);
    for (size_t i = 0; i < count; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        text += hex;
    }
    i2c_log.push_back(text);
    if (!i2c_write_results.empty()) {
        const int forced = i2c_write_results.front();
        i2c_write_results.pop_front();
        if (forced < 0) {
            errno = i2c_errno;
            return -1;
        }
        return forced;
    }
    return static_cast<ssize_t>(count);
}

int FakeDevices::imc_ioctl(unsigned long request, void *arg)
{
    if (request == SPI_IOC_WR_MODE32) {
        if (fail_imc_mode) {
            errno = fail_imc_mode;
            return -1;
        }
        imc_mode = *static_cast<uint32_t *>(arg);
        return 0;
    }
    if (request == SPI_IOC_WR_MAX_SPEED_HZ) {
        if (fail_imc_speed) {
            errno = fail_imc_speed;
            return -1;
        }
        imc_speed = *static_cast<uint32_t *>(arg);
        return 0;
    }
    if (request != SPI_IOC_MESSAGE(1)) {
        errno = ENOTTY;
        return -1;
    }
    const spi_ioc_transfer &t = *static_cast<spi_ioc_transfer *>(arg);
    imc_transfers.push_back(record_transfer(t));
    int result = static_cast<int>(t.len);
    if (!imc_results.empty()) {
        int forced = imc_results.front();
        imc_results.pop_front();
        if (forced < 0) {
            errno = imc_errno;
            if (after_imc_transfer)
                after_imc_transfer();
            return -1;
        }
        result = forced;
    }
    if (t.rx_buf != 0) {
        uint8_t *rx = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(t.rx_buf));
        std::vector<uint8_t> reply(t.len, 0);
        if (!imc_replies.empty()) {
            reply = imc_replies.front();
            imc_replies.pop_front();
            reply.resize(t.len, 0);
        }
        for (uint32_t i = 0; i < t.len; ++i)
            rx[i] = bitrev(reply[i]);
    }
    if (after_imc_transfer)
        after_imc_transfer();
    return result;
}

int FakeDevices::fpga_ioctl(unsigned long request, void *arg)
{
    if (request == SPI_IOC_WR_MODE) {
        if (fail_fpga_mode) {
            errno = fail_fpga_mode;
            return -1;
        }
        fpga_mode_written = *static_cast<uint8_t *>(arg);
        return 0;
    }
    if (request == SPI_IOC_RD_MODE) {
        ++fpga_mode_reads;
        *static_cast<uint8_t *>(arg) = fpga_mode_written;
        return 0;
    }
    if (request == SPI_IOC_WR_MAX_SPEED_HZ) {
        if (fail_fpga_speed) {
            errno = fail_fpga_speed;
            return -1;
        }
        fpga_speed = *static_cast<uint32_t *>(arg);
        return 0;
    }
    if (request != SPI_IOC_MESSAGE(1)) {
        errno = ENOTTY;
        return -1;
    }
    const spi_ioc_transfer &t = *static_cast<spi_ioc_transfer *>(arg);
    SpiTransfer rec = record_transfer(t);
    fpga_transfers.push_back(rec);
    if (rec.tx.size() == 5 && rec.tx[0] == 0x13) {
        uint32_t addr = le32(&rec.tx[1]);
        char text[32];
        std::snprintf(text, sizeof text, "R 0x%02X", addr);
        fpga_log.push_back(text);
        auto f = fpga_fail_read.find(addr);
        if (f != fpga_fail_read.end()) {
            errno = f->second;
            return -1;
        }
        fpga_pending_read_ = addr;
        return 5;
    }
    if (rec.tx.empty() && t.rx_buf != 0 && t.len == 4) {
        uint32_t v = fpga_regs[fpga_pending_read_];
        uint8_t *rx = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(t.rx_buf));
        for (int i = 0; i < 4; ++i)
            rx[i] = static_cast<uint8_t>(v >> (8 * i));
        fpga_pending_read_ = 0xFFFFFFFF;
        return 4;
    }
    if (rec.tx.size() == 9 && rec.tx[0] == 0x12) {
        uint32_t addr = le32(&rec.tx[1]);
        uint32_t value = le32(&rec.tx[5]);
        char text[48];
        std::snprintf(text, sizeof text, "W 0x%02X=0x%08X", addr, value);
        fpga_log.push_back(text);
        if (fpga_fail_write_errno) {
            errno = fpga_fail_write_errno;
            return -1;
        }
        fpga_regs[addr] = value;
        return 9;
    }
    errno = EINVAL;
    return -1;
}

int FakeDevices::cam0_ioctl(unsigned long request, void *arg)
{
    static const std::map<unsigned long, size_t> sizes = {
        {CAM0_GET_WINDOW, CAM0_WINDOW_RECORD_SIZE},     {CAM0_SET_WINDOW, CAM0_WINDOW_RECORD_SIZE},
        {CAM0_SET_INPUT, CAM0_INPUT_RECORD_SIZE},       {CAM0_GET_PIPELINE, CAM0_PIPELINE_RECORD_SIZE},
        {CAM0_SET_PIPELINE, CAM0_PIPELINE_RECORD_SIZE}, {CAM0_SET_SIZE, CAM0_SIZE_RECORD_SIZE},
    };
    auto s = sizes.find(request);
    if (s == sizes.end()) {
        errno = ENOTTY;
        return -1;
    }
    uint8_t *rec = static_cast<uint8_t *>(arg);
    if (request == CAM0_GET_WINDOW) {
        if (fail_cam0_get_window) {
            cam0_log.push_back({request, 0, {}});
            errno = fail_cam0_get_window;
            return -1;
        }
        std::memcpy(rec, cam0_window.data(), CAM0_WINDOW_RECORD_SIZE);
    } else if (request == CAM0_GET_PIPELINE) {
        std::memcpy(rec, cam0_pipeline.data(), CAM0_PIPELINE_RECORD_SIZE);
    }
    cam0_log.push_back({request, 0, std::vector<uint8_t>(rec, rec + s->second)});
    if (request == CAM0_SET_WINDOW && fail_cam0_set_window) {
        errno = fail_cam0_set_window;
        return -1;
    }
    return 0;
}

int FakeDevices::datacache_ioctl(unsigned long request, void *arg)
{
    if (request == DATACACHE_REGISTER || request == DATACACHE_LOOKUP) {
        auto *rec = static_cast<datacache_register_rec *>(arg);
        datacache_log.push_back(
            {request, std::vector<uint8_t>(reinterpret_cast<uint8_t *>(rec),
                                           reinterpret_cast<uint8_t *>(rec) + sizeof *rec)});
        std::string name(rec->name, strnlen(rec->name, sizeof rec->name));
        if (request == DATACACHE_REGISTER && fail_datacache_register) {
            errno = fail_datacache_register;
            return -1;
        }
        for (size_t i = 0; i < caches.size(); ++i)
            if (caches[i].name == name) {
                if (request == DATACACHE_REGISTER) {
                    errno = EEXIST;
                    return -1;
                }
                return static_cast<int>(i);
            }
        if (request == DATACACHE_LOOKUP) {
            errno = ENOENT;
            return -1;
        }
        caches.push_back({name, rec->entry_size, rec->entries, {}});
        return static_cast<int>(caches.size() - 1);
    }
    if (request == DATACACHE_WRITE) {
        auto *rec = static_cast<datacache_write_rec *>(arg);
        datacache_log.push_back(
            {request, std::vector<uint8_t>(reinterpret_cast<uint8_t *>(rec),
                                           reinterpret_cast<uint8_t *>(rec) + sizeof *rec)});
        if (rec->cache_id >= caches.size()) {
            errno = EINVAL;
            return -1;
        }
        Cache &c = caches[rec->cache_id];
        const uint8_t *e = reinterpret_cast<const uint8_t *>(rec->entry);
        c.written.emplace_back(e, e + c.entry_size);
        return 0;
    }
    if (request == DATACACHE_READ) {
        auto *rec = static_cast<datacache_read_rec *>(arg);
        datacache_log.push_back(
            {request, std::vector<uint8_t>(reinterpret_cast<uint8_t *>(rec),
                                           reinterpret_cast<uint8_t *>(rec) + sizeof *rec)});
        if (rec->cache_id >= caches.size()) {
            errno = EINVAL;
            return -1;
        }
        Cache &c = caches[rec->cache_id];
        if (c.written.empty()) {
            errno = EAGAIN;
            return -1;
        }
        size_t n = std::min<size_t>(rec->count, c.written.size());
        size_t first = c.written.size() - n;
        uint8_t *out = reinterpret_cast<uint8_t *>(rec->entries);
        for (size_t i = 0; i < n; ++i)
            std::memcpy(out + i * c.entry_size, c.written[first + i].data(), c.entry_size);
        return static_cast<int>(n);
    }
    errno = ENOTTY;
    return -1;
}

// ---------------- helpers ----------------

FakeHardware::FakeHardware()
{
    dev_set_backend(&dev);
    pinio_set_backend(&pins);
}

FakeHardware::~FakeHardware()
{
    dev_set_backend(nullptr);
    pinio_set_backend(nullptr);
}

std::vector<uint8_t> status_reply(std::initializer_list<std::pair<size_t, uint8_t>> bytes)
{
    std::vector<uint8_t> r(512, 0);
    for (const auto &b : bytes)
        r.at(b.first) = b.second;
    return r;
}

std::vector<uint8_t> unreversed(const std::vector<uint8_t> &wire)
{
    std::vector<uint8_t> out(wire.size());
    for (size_t i = 0; i < wire.size(); ++i)
        out[i] = bitrev(wire[i]);
    return out;
}

}  // namespace optad::test
