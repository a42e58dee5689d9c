#include "params/status_request.h"

#include "daemon/process_state.h"
#include "imc/buffer.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "platform/log.h"

#include <cstring>

namespace optad {

int request_camera_status()
{
    uint8_t *send = spi_send_buffer();
    uint8_t *recv = spi_recv_buffer();
    std::memset(send, 0, SPI_BUFFER_SIZE);
    std::memset(recv, 0, SPI_BUFFER_SIZE);
    std::memcpy(send, CAMERA_STATUS_REQUEST, CAMERA_STATUS_REQUEST_LENGTH);

    int result = 0;
    if (spi_send_buffers(STATUS_REQUEST_REQ_TIMEOUT_US) < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:request_camera_status - Couldn't send buffers!\n");
        result = -1;
    }

    // The baseline is taken from every poll of this state, whatever its
    // result. A failed exchange ends the pass before the status check, which
    // is what starts the sync and moves the state on; so the next poll, in
    // the same state, takes the baseline again, and the sync always starts
    // from a reply that arrived.
    if (daemon_state.state == OPTAD_STARTUP_UPDATE_PARAMS) {
        if (log_verbose()) {
            OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:request_camera_status - Saving First Confirmed Camera Status!\n");
            buffer_print_camera_status();
        }
        static_assert(sizeof(scam_sts) == SPI_BUFFER_SIZE);
        std::memcpy(scam_sts, recv, SPI_BUFFER_SIZE);
    }
    return result;
}

}  // namespace optad
