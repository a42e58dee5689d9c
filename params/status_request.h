// The camera status request of the main loop.
//
// Whenever the job list is empty and polling is on, the main loop asks the
// IMC for its 512-byte camera status block; the reply in recv_buf is what
// the fault checks and the confirmations of sent commands look at. After
// the firmware check (daemon state OPTAD_STARTUP_UPDATE_PARAMS) each reply
// is copied whole into scam_sts until the status check of a poll that
// worked starts the parameter sync: that reply is the first confirmed
// status, the baseline the sync compares against.
#pragma once

#include <cstdint>

namespace optad {

// How long the status request waits for the IMC's REQ.
inline constexpr int64_t STATUS_REQUEST_REQ_TIMEOUT_US = 10'000'000;

// One exchange of the camera status request frame (main loop only). 0 with
// the reply in recv_buf, -1 when the exchange failed (logged).
int request_camera_status();

}  // namespace optad
