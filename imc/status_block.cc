#include "imc/status_block.h"

namespace optad {

uint8_t scam_sts[CAMERA_STATUS_SIZE] = {};

}  // namespace optad
