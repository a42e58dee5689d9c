// The camera status block: the IMC's 512-byte reply to the camera status
// request. recv_buf (imc/spi.h) holds the latest reply; scam_sts holds the
// last confirmed block, into which the parameter encoders also write the
// values they expect the IMC to report once a command is applied.
#pragma once

#include <cstddef>
#include <cstdint>

namespace optad {

inline constexpr size_t CAMERA_STATUS_SIZE = 512;

// Saved and expected camera status; cleared at start-up.
extern uint8_t scam_sts[CAMERA_STATUS_SIZE];

}  // namespace optad
