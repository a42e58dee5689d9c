// The IMC firmware: the revision check and the upgrade procedure.
//
// The daemon carries the IMC's firmware image as the file
// /usr/lib/firmware/optad/IMC.app and keeps the IMC at its revision. The
// image's first 60 bytes hold a version text with the marker "Rev.", the
// revision number and a blank; the IMC reports its installed revision in the
// camera status block. The upgrade follows the numbered steps of the IMC's
// firmware-upgrade document and reports them in boxed banners: start
// command, the IMC's OK, the whole image streamed, the IMC's write-in
// answer, then the wait for the IMC to raise FWUP_CMPLT.
//
// Both run on the main loop, holding no lock another thread needs; the upgrade can block
// it for about five minutes (the FWUP_CMPLT wait).
#pragma once

namespace optad {

// The firmware image's fixed path.
inline constexpr const char *FIRMWARE_FILE_PATH = "/usr/lib/firmware/optad/IMC.app";

// The revision written in the image: the number (negative when written so,
// which the check refuses), 0 when its version text has no "Rev." marker or
// no number after it, -1 when it cannot be opened, is shorter than the
// 60-byte version text, or the number has no blank after it within five
// characters.
int get_firmware_file_revision();

// The revision installed in the IMC, or -1 when the status request failed.
int get_imc_firmware_revision();

// -1 when either revision could not be obtained, -2 when they are equal, 0
// when the IMC's is lower (upgrade), 1 when it is higher (downgrade).
int check_firmware_version();

// Streams the image to the IMC. 0 when the IMC reported completion; negative
// when a step failed (file, start command, transfer, status request, GPIO,
// FWUP_CMPLT time-out); zero or more after the IMC answered NG or its
// write-in wait timed out. The caller restarts the IMC in every case.
int firmware_upgrade();

}  // namespace optad
