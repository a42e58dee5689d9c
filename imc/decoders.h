// Decoders of the camera status block for the log, the lens status cache and
// the diagnostic tool. Each takes a status block (in practice recv_buf),
// returns a constant text or a number and allocates nothing. Before it
// reads, each writes its three-line banner at debug level (verbose only).
#pragma once

#include <cstddef>
#include <cstdint>

namespace optad {

// "Attached", "Detached", "Unknown state", or "Error code " when the lens
// reports an error; then the error code (byte 0x12) is stored in
// *error_code, which is left untouched otherwise.
const char *lens_get_status(const uint8_t *sts, int *error_code);

// "Resetting Focus Lens", "In Focus Movement", "Unknown state" or
// "Not running", the first matching bit of byte 0x14 winning.
const char *lens_get_drive_status(const uint8_t *sts);

// The display name of the mounted lens: "Detached" when no lens is
// attached, the display name of the lens table row whose reported name
// equals the status block's, "Unknown" when no row does.
const char *lens_get_name(const uint8_t *sts);

// "Closed", "Opened", "Error" or "Unknown state" (also while moving).
const char *sunlight_get_status(const uint8_t *sts);

// Requests a fresh status block first (10 s REQ wait) and returns the
// installed IMC firmware revision of the new reply, or -1 when the request
// failed. `recv_buf` must be the link's receive buffer, where the new reply
// lands.
int firmware_get_imc_revision(const uint8_t *recv_buf);

// The 16-bit hardware information (0 to 65535).
int hardware_get_info(const uint8_t *sts);

// Copies the camera serial id (at most 16 characters, stopping after a zero
// byte, the rest zero-filled) into serial, which holds at least
// CAMERA_SERIAL_BUF_SIZE bytes and was cleared by the caller.
inline constexpr size_t CAMERA_SERIAL_BUF_SIZE = 17;
void camera_get_serial_id(const uint8_t *sts, char *serial);

// The lens name table: names the IMC reports and the names shown for them.
// Ends with an empty row.
struct lens_name_row {
    const char *reported;
    const char *display;
};
extern const lens_name_row lens_name_table[];

}  // namespace optad
