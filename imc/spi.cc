// The IMC link: spidev transfers and the REQ handshake.
#include "imc/spi.h"

#include "board/gpio.h"
#include "imc/bitrev.h"
#include "platform/clock.h"
#include "platform/devio.h"
#include "platform/kernel_abi.h"
#include "platform/log.h"
#include "platform/pinio.h"
#include "platform/read_up_to.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace optad {

namespace {

constexpr const char *SPI_DEVICE = "/dev/spidev2.0";
constexpr uint32_t SPI_MODE = SPI_MODE_1;  // clock idle low, sampled on the falling edge
constexpr uint32_t SPI_SPEED_HZ = 3'000'000;
constexpr uint16_t SPI_DELAY_US = 1;
constexpr uint8_t SPI_BITS_PER_WORD = 8;

// How long after REQ was last found ready an exchange may still go out
// without waiting for the next rising edge.
constexpr int64_t REQ_WINDOW_US = 800'000;
// After each 512-byte exchange the IMC lowers and raises REQ again; give it
// up to 25 ms so the next exchange finds a fresh edge.
constexpr int64_t POST_EXCHANGE_WAIT_US = 25'000;
constexpr int64_t FIRMWARE_REQ_TIMEOUT_US = 10'000'000;

// Firmware message: 4-byte header (all 0x00, or all 0xFF on the last
// message) and up to 4092 bytes of the file.
constexpr size_t FW_MESSAGE_SIZE = 4096;
constexpr size_t FW_HEADER_SIZE = 4;
constexpr size_t FW_PAYLOAD_MAX = FW_MESSAGE_SIZE - FW_HEADER_SIZE;

struct Link {
    int spi_fd = -1;
    pinio_line *req_line = nullptr;
    int req_fd = -1;
    int64_t req_ref_us = 0;  // when REQ was last found ready; 0: never
};

Link link;

// Abandoned REQ waits: the flag for the checks before a wait, and an
// eventfd that a wait in progress selects on, readable while abandoned.
// The eventfd is made once, by the first open of the link (before any other
// thread runs), and kept for the life of the process.
struct ReqAbandon {
    std::atomic<bool> abandoned{false};
    std::atomic<int> fd{-1};
};
ReqAbandon req_abandon;

void log_abandoned_wait()
{
    OPTAD_LOG_ERROR("ERROR:optad:spi_check_req_timer - POWER_GOOD or INIT_DONE is gone: the IMC cannot raise REQ, "
                    "exchange given up!\n");
}

uint8_t send_buf[SPI_BUFFER_SIZE];
uint8_t recv_buf[SPI_BUFFER_SIZE];
// The firmware message and its debug hex text live here so that streaming
// allocates nothing.
uint8_t fw_message[FW_MESSAGE_SIZE];
char fw_hex[FW_MESSAGE_SIZE * 2 + 1];

spi_ioc_transfer make_transfer(const void *tx, void *rx, uint32_t len)
{
    spi_ioc_transfer t;
    std::memset(&t, 0, sizeof t);
    t.tx_buf = reinterpret_cast<uintptr_t>(tx);
    t.rx_buf = reinterpret_cast<uintptr_t>(rx);
    t.len = len;
    t.speed_hz = SPI_SPEED_HZ;
    t.delay_usecs = SPI_DELAY_US;
    t.bits_per_word = SPI_BITS_PER_WORD;
    t.cs_change = 0;
    return t;
}

void log_req_banner(const char *middle)
{
    log_write(LOG_WARNING, "/******************************************************/\n");
    log_write(LOG_WARNING, "%s", middle);
    log_write(LOG_WARNING, "/******************************************************/\n");
}

// Requests imc_req, opens it, asks for both edges and takes its descriptor.
int setup_req()
{
    const char *name = GPIO_REQ;
    pinio_line *line = pinio_request_named(name);
    if (line == nullptr) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:spi_setup_req - Not possible to request GPIO %s!\n", e,
                        strerror(e), name);
        return -1;
    }
    if (pinio_full_open(line) < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:spi_setup_req - Not possible to full open GPIO %s!\n", e,
                        strerror(e), name);
        pinio_free(line);
        return -1;
    }
    if (pinio_set_edge(line, PINIO_TRIG_BOTH) < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:spi_setup_req - Not possible to set edge on GPIO %s!\n", e,
                        strerror(e), name);
        pinio_close(line);
        pinio_free(line);
        return -1;
    }
    int fd = pinio_fd(line);
    if (fd < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:spi_setup_req - Not possible to get fd on GPIO %s!\n", e,
                        strerror(e), name);
        pinio_close(line);
        pinio_free(line);
        return -1;
    }
    link.req_line = line;
    link.req_fd = fd;
    return 0;
}

void log_fw_message_dump(const char *title)
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < FW_MESSAGE_SIZE; ++i) {
        fw_hex[2 * i] = digits[fw_message[i] >> 4];
        fw_hex[2 * i + 1] = digits[fw_message[i] & 0x0F];
    }
    fw_hex[2 * FW_MESSAGE_SIZE] = '\0';
    OPTAD_LOG_DEBUG("%s", title);
    OPTAD_LOG_DEBUG("%s\n", fw_hex);
}

}  // namespace

uint8_t *spi_send_buffer()
{
    return send_buf;
}

uint8_t *spi_recv_buffer()
{
    return recv_buf;
}

int spi_open_and_init(uint8_t **send_out, uint8_t **recv_out)
{
    link.spi_fd = dev_open(SPI_DEVICE, O_RDWR);
    if (link.spi_fd < 0) {
        int e = errno;
        OPTAD_LOG_ERROR("%d (%s) ERROR:optad:spi_open_and_init - Failed to open %s\n", e, strerror(e), SPI_DEVICE);
        return -1;
    }

    uint32_t mode = SPI_MODE;
    if (dev_ioctl(link.spi_fd, SPI_IOC_WR_MODE32, &mode) < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:spi_open_and_init - Can't set SPI mode!\n");
        spi_close();
        return -1;
    }
    uint32_t speed = SPI_SPEED_HZ;
    if (dev_ioctl(link.spi_fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:spi_open_and_init - Can't set SPI speed!\n");
        spi_close();
        return -1;
    }

    if (req_abandon.fd.load() < 0)
        req_abandon.fd.store(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));

    link.req_ref_us = 0;
    if (setup_req() < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:spi_open_and_init - Can't setup GPIO REQ!\n");
        spi_close();
        return -1;
    }

    std::memset(send_buf, 0, sizeof send_buf);
    std::memset(recv_buf, 0, sizeof recv_buf);
    if (send_out != nullptr)
        *send_out = send_buf;
    if (recv_out != nullptr)
        *recv_out = recv_buf;
    return 0;
}

void spi_close()
{
    // The REQ descriptor belongs to the line: the GPIO library releases it
    // in pinio_close(). Closing it here as well would close a descriptor
    // number that another thread may already have been given again.
    link.req_fd = -1;
    if (link.req_line != nullptr) {
        pinio_close(link.req_line);
        pinio_free(link.req_line);
        link.req_line = nullptr;
    }
    if (link.spi_fd != -1) {
        dev_close(link.spi_fd);
        link.spi_fd = -1;
    }
}

int spi_wait_req_edge(int64_t timeout_us)
{
    if (link.req_fd < 0 || link.req_fd >= FD_SETSIZE) {
        errno = EBADF;
        return -2;
    }
    if (timeout_us < 0)
        timeout_us = 0;
    if (req_abandon.abandoned.load())
        return -3;
    fd_set except;
    FD_ZERO(&except);
    FD_SET(link.req_fd, &except);
    fd_set readable;
    FD_ZERO(&readable);
    const int abandon_fd = req_abandon.fd.load();
    const bool watch_abandon = abandon_fd >= 0 && abandon_fd < FD_SETSIZE;
    if (watch_abandon)
        FD_SET(abandon_fd, &readable);
    // Time-outs above one second are split into seconds and microseconds;
    // select() refuses a tv_usec of a million or more.
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(timeout_us / 1'000'000);
    tv.tv_usec = static_cast<suseconds_t>(timeout_us % 1'000'000);
    int r = select(std::max(link.req_fd, watch_abandon ? abandon_fd : -1) + 1, &readable, nullptr, &except, &tv);
    if (r < 0)
        return -2;
    if (r == 0)
        return -1;
    if (watch_abandon && FD_ISSET(abandon_fd, &readable))
        return -3;
    return pinio_get_value(link.req_line);
}

void spi_abandon_req_waits()
{
    req_abandon.abandoned.store(true);
    const int fd = req_abandon.fd.load();
    if (fd >= 0) {
        const uint64_t one = 1;
        // Non-blocking; a full counter is readable all the same.
        (void)!write(fd, &one, sizeof one);
    }
}

void spi_resume_req_waits()
{
    req_abandon.abandoned.store(false);
    const int fd = req_abandon.fd.load();
    if (fd >= 0) {
        uint64_t count = 0;
        (void)!read(fd, &count, sizeof count);
    }
}

bool spi_req_waits_abandoned()
{
    return req_abandon.abandoned.load();
}

int spi_check_req_timer(int64_t timeout_us)
{
    if (req_abandon.abandoned.load()) {
        log_abandoned_wait();
        return -1;
    }
    const int64_t start = clock_now_us();
    int level = link.req_line != nullptr ? pinio_get_value(link.req_line) : -1;
    bool ready = false;

    if (link.req_ref_us == 0) {
        OPTAD_LOG_DEBUG("DEBUG:optad:spi_check_req_timer - Always fail first time to learn IMC REQ cycle!\n");
    } else {
        int64_t since = start - link.req_ref_us;
        if (since > REQ_WINDOW_US) {
            // The whole 64-bit difference is printed: after more than about
            // 71 minutes a 32-bit conversion would show a wrapped value.
            OPTAD_LOG_DEBUG("DEBUG:optad:spi_check_req_timer - Too late, try next rising edge! Difference=%" PRIu64
                            "\n",
                            static_cast<uint64_t>(since));
        } else if (level == 1) {
            ready = true;
        }
    }

    // Wait for a rising edge: a reading of 1 after a reading of 0.
    while (!ready) {
        int64_t left = timeout_us - (clock_now_us() - start);
        if (left < 0) {
            log_req_banner("/* Timeout (10s) occurred while waiting for GPIO REQ! */\n");
            return -1;
        }
        int r = spi_wait_req_edge(left);
        if (r == -3) {
            log_abandoned_wait();
            return -1;
        }
        if (r == -1) {
            log_req_banner("/* Timeout (10s) occurred while waiting for GPIO REQ! */\n");
            return -1;
        }
        if (r < -1) {
            log_req_banner("/* Error occurred while waiting for GPIO REQ!         */\n");
            return -1;
        }
        if (r == 1 && level == 0)
            ready = true;
        else
            level = r;
    }

    link.req_ref_us = clock_now_us();
    // Drop edge events that piled up meanwhile, so the next wait sees only
    // edges that come after this exchange.
    while (spi_wait_req_edge(0) > 0) {
    }
    // POWER_GOOD or INIT_DONE may have fallen since REQ was read. Once the
    // listener has said so, the exchange would clock a frame into a module
    // that cannot take it: give it up like a wait that was abandoned.
    if (req_abandon.abandoned.load()) {
        log_abandoned_wait();
        return -1;
    }
    return 0;
}

int spi_send_buffers(int64_t req_timeout_us)
{
    if (spi_check_req_timer(req_timeout_us) == -1)
        return -1;

    // Every sender clears the whole buffer before it builds its frame, and a
    // zero byte reversed is zero: only the frame itself needs reversing (the
    // whole buffer when the length field is out of range).
    size_t frame_length = static_cast<size_t>(send_buf[2]) << 8 | send_buf[3];
    if (frame_length == 0 || frame_length > SPI_BUFFER_SIZE)
        frame_length = SPI_BUFFER_SIZE;
    bitrev_in_place(send_buf, frame_length);
    spi_ioc_transfer t = make_transfer(send_buf, recv_buf, SPI_BUFFER_SIZE);
    int r = dev_ioctl(link.spi_fd, SPI_IOC_MESSAGE(1), &t);
    if (r < 1) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:spi_send_buffers - SPI_IOC_MESSAGE failed\n", e, strerror(e));
        return -1;
    }
    bitrev_in_place(recv_buf, SPI_BUFFER_SIZE);

    (void)spi_wait_req_edge(POST_EXCHANGE_WAIT_US);
    return 0;
}

int spi_send_firmware_file(int fd, int bytes)
{
    OPTAD_LOG_DEBUG("DEBUG:optad:spi_send_firmware_file - bytes left of firmware file=%d\n", bytes);
    std::memset(fw_message, 0, sizeof fw_message);
    int messages = 0;
    int sent = 0;
    int left = bytes;

    while (left > 0) {
        if (spi_check_req_timer(FIRMWARE_REQ_TIMEOUT_US) == -1)
            return -1;

        const bool last = left <= static_cast<int>(FW_PAYLOAD_MAX);
        std::memset(fw_message, last ? 0xFF : 0x00, FW_HEADER_SIZE);

        // Only the bytes still announced are read, so a file longer than
        // announced does not spill into the last message. A file that ends
        // (or fails) before the announced count ends the stream here, before
        // a message with a header that would claim otherwise goes out.
        const size_t want = std::min(static_cast<size_t>(left), FW_PAYLOAD_MAX);
        ssize_t n = read_up_to(fd, fw_message + FW_HEADER_SIZE, want);
        if (n < 0) {
            int e = errno;
            OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:spi_send_firmware_file - Failed to read the firmware file\n", e,
                            strerror(e));
            return -1;
        }
        if (static_cast<size_t>(n) < want) {
            OPTAD_LOG_ERROR(
                "ERROR:optad:spi_send_firmware_file - Firmware file ended %d bytes short of the announced %d bytes\n",
                left - static_cast<int>(n), bytes);
            return -1;
        }
        const int len = static_cast<int>(n) + static_cast<int>(FW_HEADER_SIZE);

        if (log_verbose()) {
            if (messages == 0)
                log_fw_message_dump("DEBUG:optad:spi_send_firmware_file - (printing 4096 bytes of the first buffer "
                                    "printed in MSB) send_buf=");
            if (last)
                log_fw_message_dump("DEBUG:optad:spi_send_firmware_file - (printing 4096 bytes of the last buffer "
                                    "printed in MSB) send_buf=");
        }

        bitrev_in_place(fw_message, FW_MESSAGE_SIZE);
        spi_ioc_transfer t = make_transfer(fw_message, nullptr, static_cast<uint32_t>(len));
        int r = dev_ioctl(link.spi_fd, SPI_IOC_MESSAGE(1), &t);
        ++messages;
        if (r > 0)
            sent += r;
        if (r <= 0) {
            int e = errno;
            OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:spi_send_firmware_file - SPI_IOC_MESSAGE failed\n", e,
                            strerror(e));
            return -1;
        }
        if (r != len) {
            OPTAD_LOG_ERROR("ERROR:optad:spi_send_firmware_file - SPI_IOC_MESSAGE transferred %d bytes, (expected %d)\n",
                            r, len);
            return -1;
        }
        left -= static_cast<int>(n);
    }

    OPTAD_LOG_DEBUG(
        "DEBUG:optad:spi_send_firmware_file - Total bytes sent (including headers)=%d, Total messages sent=%d\n", sent,
        messages);
    return 0;
}

}  // namespace optad
