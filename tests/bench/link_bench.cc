// The IMC link's own software cost, without the wire: a 512-byte exchange
// (REQ check, bit reversal both ways, the transfer request through the
// seam, the post-exchange REQ wait) and a 4096-byte firmware message, with a
// bus that answers at once and a REQ line that is always ready. Compare with
// the wire time at 3 MHz: 512 bytes take 1.37 ms, 4096 bytes 10.9 ms.
#include "imc/bitrev.h"
#include "imc/spi.h"
#include "platform/backend.h"
#include "platform/kernel_abi.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace optad;

constexpr double WIRE_HZ = 3'000'000.0;

double wire_us(size_t bytes)
{
    return bytes * 8 / WIRE_HZ * 1e6;
}

// REQ is high and, after every transfer, the IMC raises it again at once:
// an out-of-band byte on a socketpair makes the edge select()-able, and
// reading the value consumes it.
class ReadyReq final : public PinioBackend {
public:
    ReadyReq()
    {
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sock_) != 0)
            std::abort();
    }
    ~ReadyReq() override
    {
        ::close(sock_[0]);
        ::close(sock_[1]);
    }
    void edge()
    {
        char c = 'e';
        if (!pending_ && ::send(sock_[1], &c, 1, MSG_OOB) == 1)
            pending_ = true;
    }

    pinio_line *request_named(const char *) override { return reinterpret_cast<pinio_line *>(this); }
    pinio_line *request(int, const char *) override { return reinterpret_cast<pinio_line *>(this); }
    int full_open(pinio_line *) override { return 0; }
    int alterable_direction(pinio_line *) override { return 0; }
    int get_direction(pinio_line *) override { return 1; }
    int direction_input(pinio_line *) override { return 0; }
    int direction_output(pinio_line *, int) override { return 0; }
    int set_value(pinio_line *, int) override { return 0; }
    int get_value(pinio_line *) override
    {
        if (pending_) {
            char c;
            ::recv(sock_[0], &c, 1, MSG_OOB);
            pending_ = false;
            if (priming_ > 0) {
                // The first exchange after opening needs a low reading and
                // then a rising edge.
                --priming_;
                if (priming_ > 0) {
                    edge();
                    return 0;
                }
            }
        }
        return 1;
    }
    // The next readings are a low then a high, each after an edge.
    void prime()
    {
        priming_ = 2;
        edge();
    }
    int set_edge(pinio_line *, int) override { return 0; }
    int fd(pinio_line *) override { return sock_[0]; }
    void close(pinio_line *) override {}
    void free(pinio_line *) override {}

private:
    int sock_[2];
    bool pending_ = false;
    int priming_ = 0;
};

// A bus that completes every transfer at once and raises REQ after it.
class InstantBus final : public DeviceBackend {
public:
    explicit InstantBus(ReadyReq &req) : req_(req) {}
    int open(const char *, int) override { return 3; }
    int close(int) override { return 0; }
    int ioctl(int, unsigned long request, void *arg) override
    {
        if (request == SPI_IOC_MESSAGE(1)) {
            const spi_ioc_transfer *t = static_cast<const spi_ioc_transfer *>(arg);
            if (t->rx_buf != 0)
                std::memset(reinterpret_cast<void *>(static_cast<uintptr_t>(t->rx_buf)), 0xA5, t->len);
            req_.edge();
            return static_cast<int>(t->len);
        }
        return 0;
    }
    int ioctl_value(int, unsigned long, unsigned long) override { return 0; }
    ssize_t read(int, void *, size_t) override { return -1; }
    ssize_t write(int, const void *, size_t) override { return -1; }

private:
    ReadyReq &req_;
};

struct Link {
    Link() : bus(req)
    {
        dev_set_backend(&bus);
        pinio_set_backend(&req);
        if (spi_open_and_init(&send, &recv) != 0)
            std::abort();
        // The first exchange after opening waits for a rising edge.
        req.prime();
        if (spi_check_req_timer(1'000'000) != 0)
            std::abort();
    }
    ~Link()
    {
        spi_close();
        dev_set_backend(nullptr);
        pinio_set_backend(nullptr);
    }
    ReadyReq req;
    InstantBus bus;
    uint8_t *send = nullptr;
    uint8_t *recv = nullptr;
};

void BM_BitReverse512(benchmark::State &state)
{
    uint8_t buf[512];
    for (size_t i = 0; i < sizeof buf; ++i)
        buf[i] = static_cast<uint8_t>(i);
    for (auto _ : state) {
        bitrev_in_place(buf, sizeof buf);
        benchmark::DoNotOptimize(buf);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 512);
}
BENCHMARK(BM_BitReverse512);

void BM_Exchange512(benchmark::State &state)
{
    Link link;
    for (auto _ : state) {
        link.send[0] = 0x00;  // a caller rebuilds its frame before each send
        if (spi_send_buffers(1'000'000) != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(link.recv[0]);
    }
    state.counters["wire_us"] = wire_us(512);
}
BENCHMARK(BM_Exchange512)->Unit(benchmark::kMicrosecond);

void BM_FirmwareMessage4096(benchmark::State &state)
{
    constexpr int MESSAGES = 32;
    constexpr int BYTES = MESSAGES * 4092;
    char path[] = "/tmp/optad-bench-fw-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    unlink(path);
    std::vector<uint8_t> image(BYTES);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 13);
    if (::write(fd, image.data(), image.size()) != static_cast<ssize_t>(image.size())) {
        state.SkipWithError("cannot write the image");
        ::close(fd);
        return;
    }
    Link link;
    for (auto _ : state) {
        lseek(fd, 0, SEEK_SET);
        if (spi_send_firmware_file(fd, BYTES) != 0) {
            state.SkipWithError("stream failed");
            break;
        }
    }
    ::close(fd);
    // Time per item = time per 4096-byte message.
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * MESSAGES);
    state.counters["wire_us_per_msg"] = wire_us(4096);
    state.counters["us_per_msg"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * MESSAGES,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FirmwareMessage4096)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
