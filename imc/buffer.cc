// Command frames, the checksum, the status request and the frames of the
// reset and the firmware version-up start.
#include "imc/buffer.h"

#include "imc/spi.h"
#include "platform/log.h"

#include <cstring>

namespace optad {

namespace {

constexpr int64_t COMMAND_REQ_TIMEOUT_US = 10'000'000;
constexpr int STATUS_ATTEMPTS = 3;
constexpr unsigned MAX_FRAME_LENGTH = 512;

constexpr size_t SYSTEM_RESET_LENGTH = 14;
constexpr uint8_t SYSTEM_RESET[SYSTEM_RESET_LENGTH] = {
    0x00, 0x23, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x08, 0x00, 0x00, 0x00};

// Firmware version-up start, from byte 2 on: length 17, command frame, body
// length 9, command length 8, then the key 99 55 99 55 in place of the
// usual 0x00/group/item, and the image size (32-bit big-endian) at 13-16.
constexpr size_t VERSION_UP_START_LENGTH = 17;
constexpr uint8_t VERSION_UP_START[] = {0x00, 0x11, 0x00, 0x10, 0x00, 0x09, 0x08, 0x99, 0x55, 0x99, 0x55};
constexpr size_t VERSION_UP_SIZE = 13;
static_assert(2 + sizeof VERSION_UP_START + 4 == VERSION_UP_START_LENGTH);

// The buffer module's frame: the link's send buffer, taken on first use.
uint8_t *buffer_frame()
{
    static uint8_t *frame = spi_send_buffer();
    return frame;
}

// The one checksum rule: the 16-bit sum of bytes 4 .. length-1, stored
// big-endian in bytes 0-1. Frames longer than 512 bytes are refused.
int frame_checksum(uint8_t *frame, const char *oversize_message)
{
    const unsigned hi = frame[FRAME_LENGTH];
    const unsigned lo = frame[FRAME_LENGTH + 1];
    if (hi > 2 || (hi == 2 && lo != 0)) {
        OPTAD_LOG_ERROR("%s", oversize_message);
        return -1;
    }
    const unsigned length = hi * 256 + lo;
    uint32_t sum = 0;
    for (unsigned i = 4; i < length && i < MAX_FRAME_LENGTH; ++i)
        sum += frame[i];
    frame[FRAME_CHECKSUM] = static_cast<uint8_t>((sum >> 8) & 0xFF);
    frame[FRAME_CHECKSUM + 1] = static_cast<uint8_t>(sum & 0xFF);
    return 0;
}

bool all_zero(const uint8_t *buf, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (buf[i] != 0)
            return false;
    return true;
}

}  // namespace

int calculate_checksum()
{
    return frame_checksum(spi_send_buffer(), "ERROR:optad:main_loop:calculate_checksum - We have more than 512 bytes");
}

int buffer_calculate_checksum()
{
    return frame_checksum(buffer_frame(), "ERROR:optad:buffer_calculate_checksum - We have more than 512 bytes");
}

int buffer_send_camera_status_cmd(int64_t req_timeout_us)
{
    uint8_t *frame = buffer_frame();
    uint8_t *reply = spi_recv_buffer();
    for (int attempt = 1; attempt <= STATUS_ATTEMPTS; ++attempt) {
        std::memset(frame, 0, SPI_BUFFER_SIZE);
        std::memset(reply, 0, SPI_BUFFER_SIZE);
        std::memcpy(frame, CAMERA_STATUS_REQUEST, CAMERA_STATUS_REQUEST_LENGTH);
        if (spi_send_buffers(req_timeout_us) != 0)
            return -1;
        // The IMC answers all zeros while it has no status yet.
        if (!all_zero(reply, SPI_BUFFER_SIZE))
            return 0;
        // The warning announces a retry, so the third empty reply (after
        // which nothing is retried) gets none: two warnings for three.
        if (attempt < STATUS_ATTEMPTS && log_verbose())
            log_write(LOG_WARNING, "optad:buffer_send_camera_status_cmd - Failed to get camera status - retrying");
    }
    return -1;
}

int firmware_version_up_start(uint32_t size)
{
    uint8_t *frame = buffer_frame();
    std::memset(frame, 0, SPI_BUFFER_SIZE);
    std::memcpy(frame + 2, VERSION_UP_START, sizeof VERSION_UP_START);
    frame[VERSION_UP_SIZE] = static_cast<uint8_t>(size >> 24);
    frame[VERSION_UP_SIZE + 1] = static_cast<uint8_t>(size >> 16);
    frame[VERSION_UP_SIZE + 2] = static_cast<uint8_t>(size >> 8);
    frame[VERSION_UP_SIZE + 3] = static_cast<uint8_t>(size);
    OPTAD_LOG_DEBUG("DEBUG:optad:buffer:firmware_version_up_start - Going to send Firmware version up start command\n");
    buffer_calculate_checksum();
    return spi_send_buffers(COMMAND_REQ_TIMEOUT_US) == 0 ? 0 : -1;
}

int system_reset()
{
    uint8_t *frame = buffer_frame();
    std::memset(frame, 0, SPI_BUFFER_SIZE);
    std::memcpy(frame, SYSTEM_RESET, SYSTEM_RESET_LENGTH);
    OPTAD_LOG_DEBUG("DEBUG:optad:buffer:system_reset - Going to send System Reset command\n");
    buffer_calculate_checksum();
    return spi_send_buffers(COMMAND_REQ_TIMEOUT_US) == 0 ? 0 : -1;
}

void buffer_print_camera_status()
{
    const uint8_t *b = spi_recv_buffer();
    log_write(LOG_DEBUG, "   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n");
    for (unsigned line = 0; line < 16; ++line) {
        const uint8_t *r = b + 16 * line;
        log_write(LOG_DEBUG,
                  "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X\n", line,
                  r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8], r[9], r[10], r[11], r[12], r[13], r[14],
                  r[15]);
    }
}

}  // namespace optad
