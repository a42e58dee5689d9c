// The run-time file "/var/run/optad/imc_status", which tells the camera's
// other services that the IMC firmware check is done.
#pragma once

namespace optad {

// Writes the 19 bytes "FIRMWARE_UP_TO_DATE" (no newline, no terminator).
// Readers never see a half-written file: the text goes to a temporary file
// in the same directory, which then replaces the old one. Failures are
// logged and otherwise ignored; returns 0 or -1.
int write_imc_status_file();

}  // namespace optad
