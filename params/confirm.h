// Confirming sent parameter jobs against the IMC's status reply.
#pragma once

namespace optad {

// Compares, for each pending parameter job, the bytes its encoder expected
// in scam_sts with recv_buf: a match confirms the job (and runs its
// follow-up: capture-mode restart, one-shot focus, image stabilizer time,
// day/night event, protector timer), a mismatch waits or resends
// (wait_or_retry_command). Main-loop thread.
void check_sent_param();

}  // namespace optad
