// The IMC link: SPI transport with the REQ handshake.
//
// The NWC side is the bus master on /dev/spidev2.0. The IMC says it is ready
// for an exchange by raising its request line imc_req; every transfer waits
// until REQ has been seen high recently enough (the 800 ms REQ window). A
// command exchange is one full-duplex transfer of the 512-byte send buffer
// and the 512-byte receive buffer; the firmware image goes out in 4096-byte
// transmit-only messages. The IMC shifts LSB first and the SPI controller
// MSB first, so every byte is bit-reversed on the way out and on the way in.
//
// One link per process. The link has no lock: in the daemon only the main
// loop uses it; the tool is single-threaded. The one exception is
// spi_abandon_req_waits(), which the GPIO listeners call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace optad {

inline constexpr size_t SPI_BUFFER_SIZE = 512;

// Opens /dev/spidev2.0 (mode 1, 3 MHz), sets up the REQ line and clears both
// buffers. Stores the send-buffer and receive-buffer (recv_buf) pointers in
// the places asked for; either may be null. Returns 0, or -1 with everything
// closed again. Resets the REQ reference time, so the first exchange after
// opening always waits for a fresh rising edge.
int spi_open_and_init(uint8_t **send_buf, uint8_t **recv_buf);

// Closes the SPI device and frees the REQ line. Idempotent.
void spi_close();

// 0 when REQ is ready for a transfer (it has been high within the last
// 800 ms, or a rising edge arrived within timeout_us), -1 on time-out or
// error (both logged).
int spi_check_req_timer(int64_t timeout_us);

// One full-duplex exchange of the send buffer and recv_buf after the REQ
// handshake. The send buffer is left in wire bit order; recv_buf holds the
// IMC's answer in normal bit order. 0, or -1 on failure.
int spi_send_buffers(int64_t req_timeout_us);

// Streams `bytes` bytes of the firmware file open on fd (an ordinary file,
// positioned at its start) in messages of a 4-byte header and up to 4092
// bytes. 0 when every byte went out, -1 on failure.
int spi_send_firmware_file(int fd, int bytes);

// Waits up to timeout_us for an edge event on the REQ line. Returns the REQ
// level read after the event (0 or 1, or the GPIO library's negative error),
// -1 on time-out, -2 when the wait itself failed, -3 when REQ waits are
// abandoned (below).
int spi_wait_req_edge(int64_t timeout_us);

// An IMC that has lost POWER_GOOD or INIT_DONE can never raise REQ. The
// GPIO listener that sees the line fall abandons REQ waits: a wait in
// progress ends at once and every later one fails at once (logged), until
// the main loop resumes them when it starts the next power-up. Abandoning
// is safe from any thread and allocates nothing.
void spi_abandon_req_waits();
void spi_resume_req_waits();
bool spi_req_waits_abandoned();

// The link's two buffers. They exist for the life of the process, whether
// or not the link is open (the frame builders and tests use them directly).
uint8_t *spi_send_buffer();
uint8_t *spi_recv_buffer();

}  // namespace optad
