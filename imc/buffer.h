// IMC command frames, their checksum, and the frames that are not parameter
// commands: the camera status request, the system reset and the firmware
// version-up start.
//
// Every frame is built in the link's 512-byte send buffer (imc/spi.h):
//
//   bytes 0-1   checksum: 16-bit sum of bytes 4 .. length-1 (big-endian)
//   bytes 2-3   length: total frame length, these four bytes included
//   bytes 4-5   frame type: 0x0010 command, 0x00F8 camera status request
//   bytes 6-7   body length: length - 8 (0 in the status request)
//   byte  8     command length: length - 9 (absent in the status request)
//   bytes 9..   command: 0x00, group, item, arguments
//
// The rest of the buffer is zero: every sender clears the whole send buffer
// (and recv_buf) before it builds a frame. The IMC's answer to every exchange
// lands in recv_buf; only the answer to the status request means anything.
#pragma once

#include <cstddef>
#include <cstdint>

namespace optad {

// Frame field offsets.
inline constexpr size_t FRAME_CHECKSUM = 0;
inline constexpr size_t FRAME_LENGTH = 2;
inline constexpr size_t FRAME_TYPE = 4;
inline constexpr size_t FRAME_BODY_LENGTH = 6;
inline constexpr size_t FRAME_COMMAND_LENGTH = 8;
inline constexpr size_t FRAME_COMMAND = 9;
inline constexpr size_t FRAME_GROUP = 10;
inline constexpr size_t FRAME_ITEM = 11;
inline constexpr size_t FRAME_ARGS = 12;

inline constexpr uint16_t FRAME_TYPE_COMMAND = 0x0010;
inline constexpr uint16_t FRAME_TYPE_STATUS_REQUEST = 0x00F8;

// The camera status request, checksum included (0x00F8 is also what the
// checksum rule gives).
inline constexpr size_t CAMERA_STATUS_REQUEST_LENGTH = 8;
inline constexpr uint8_t CAMERA_STATUS_REQUEST[CAMERA_STATUS_REQUEST_LENGTH] = {
    0x00, 0xF8, 0x00, 0x08, 0x00, 0xF8, 0x00, 0x00};

// The checksum of the frame in the send buffer, as the main loop's encoders
// use it. Returns 0, or -1 (logged) for a length field above 512, leaving
// the frame unchanged.
int calculate_checksum();

// The same rule on the buffer module's frame (the same 512 bytes).
int buffer_calculate_checksum();

// Requests the camera status block: up to three exchanges of the status
// request, as long as the IMC answers with an all-zero block. Returns 0 when
// recv_buf holds a status reply, -1 after a link failure (no retry) or after
// three empty replies.
int buffer_send_camera_status_cmd(int64_t req_timeout_us);

// Tells the IMC that a firmware image of `size` bytes follows. 0 sent, -1 failed.
int firmware_version_up_start(uint32_t size);

// Sends the IMC system reset command. 0 sent, -1 failed.
int system_reset();

// Hex dump of the first 256 bytes of recv_buf at debug priority, whatever
// the verbose flag says (callers decide when to dump).
void buffer_print_camera_status();

}  // namespace optad
