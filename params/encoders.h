// The parameter command encoders: one per parameter job (12 to 47).
//
// An encoder reads its parameter's current value from the parameter table,
// builds the IMC's set-parameter frame in the link's send buffer (the main
// loop has cleared it), has the checksum filled in and writes into scam_sts
// the byte or bytes the IMC's status block will show once it has applied
// the value; the confirmation check compares exactly those bytes with the
// next status replies. Main-loop thread only.
#pragma once

namespace optad {

// Results of encode_param_job besides a parameter identifier.
inline constexpr int ENCODER_FAILED = -1;  // value refused or checksum failed: no frame (logged)
inline constexpr int ENCODER_NONE = -2;    // the job has no encoder (nothing logged)

// Runs the encoder of a parameter job. On success the identifier (0 or
// more) of the parameter whose name the send step logs as sent; otherwise
// ENCODER_FAILED or ENCODER_NONE, and nothing is to be sent.
int encode_param_job(int job);

}  // namespace optad
