#include "params/status_check.h"

#include "board/fpga.h"
#include "config/shutter_table.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/confirm.h"
#include "params/settle_watch.h"
#include "params/startup_sync.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <cstddef>
#include <cstdint>

namespace optad {

namespace {

// Fault timers, monotonic microseconds; 0 = not started.
int64_t heart_beat_timer_us = 0;
int64_t protector_moving_timer_us = 0;
int64_t fpga_check_timer_us = 0;

// From this exposure time on, the poll interval follows the exposure
// (half of it), since the IMC refreshes its status only once per frame.
constexpr int LONG_EXPOSURE_US = 1'000'000;

bool reply_is_empty(const uint8_t *reply)
{
    for (size_t i = 0; i < CAMERA_STATUS_SIZE; ++i)
        if (reply[i] != 0)
            return false;
    return true;
}

int raise_fault(int job)
{
    queue_job(job, false);
    return -1;
}

// The IMC toggles its heart-beat word while its firmware runs. A word that
// stays the same for more than 5 s means the IMC stopped; 0xFFFF means it
// runs without heart-beat supervision.
int check_heart_beat(const uint8_t *recv, int64_t now)
{
    if (recv[STS_HEART_BEAT] != scam_sts[STS_HEART_BEAT] ||
        recv[STS_HEART_BEAT + 1] != scam_sts[STS_HEART_BEAT + 1]) {
        scam_sts[STS_HEART_BEAT] = recv[STS_HEART_BEAT];
        scam_sts[STS_HEART_BEAT + 1] = recv[STS_HEART_BEAT + 1];
        heart_beat_timer_us = now;
        return 0;
    }
    if (scam_sts[STS_HEART_BEAT] == 0xFF && scam_sts[STS_HEART_BEAT + 1] == 0xFF)
        return 0;
    if (heart_beat_timer_us == 0) {
        heart_beat_timer_us = now;
        return 0;
    }
    if (now - heart_beat_timer_us > HEARTBEAT_TIMEOUT_US) {
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:check_for_errors - IMC system stopped unexpectedly (Heartbeat ERROR)!\n");
        heart_beat_timer_us = 0;
        return raise_fault(JT_ERROR);
    }
    return 0;
}

// A lens error is reported once, when the lens status turns to the error
// value; the error code is in byte 0x12 then.
int check_lens(const uint8_t *recv)
{
    if (recv[STS_LENS_STATUS] == scam_sts[STS_LENS_STATUS])
        return 0;
    scam_sts[STS_LENS_STATUS] = recv[STS_LENS_STATUS];
    scam_sts[STS_LENS_ATTACHED] = recv[STS_LENS_ATTACHED];
    if (recv[STS_LENS_STATUS] != STS_LENS_ERROR)
        return 0;
    OPTAD_LOG_ERROR("ERROR:optad:main_loop:check_for_errors - Lens Error! (Code: 0x%02X)!\n", recv[STS_LENS_ATTACHED]);
    return raise_fault(JT_ERROR);
}

// The protector takes well under 2 s to open or close. The timer times one
// travel: it runs from the first poll that saw the protector moving, and is
// cleared when it fires, when a protector command is confirmed, and when the
// protector is seen at rest. Were a rest not to clear it, a travel the module
// made earlier (on its own, or for a command whose confirmation never came)
// would still be counted when the next travel starts, and that travel would
// be taken for a stuck protector at its first poll and restart the module.
int check_protector(const uint8_t *recv, int64_t now)
{
    if (recv[STS_SUNLIGHT] != STS_SUNLIGHT_MOVING) {
        protector_moving_timer_us = 0;
        return 0;
    }
    if (protector_moving_timer_us == 0) {
        protector_moving_timer_us = now;
        return 0;
    }
    if (now - protector_moving_timer_us > PROTECTOR_MOVING_TIMEOUT_US) {
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:check_for_errors - Sunlight protector stuck in Moving state!\n");
        protector_moving_timer_us = 0;
        return raise_fault(JT_ERROR);
    }
    return 0;
}

int check_ir_cut(const uint8_t *recv)
{
    if (recv[STS_DAY_NIGHT_STATE] != STS_IR_CUT_ERROR)
        return 0;
    OPTAD_LOG_ERROR("ERROR:optad:main_loop:check_for_errors - IR Cut Filter responds error!\n");
    return raise_fault(JT_ERROR);
}

// Once a minute while running: the video bridge must be initialised, its
// link up on both lanes and the stream detected.
int check_fpga(int64_t now)
{
    if (fpga_check_timer_us == 0) {
        fpga_check_timer_us = now;
        return 0;
    }
    if (now - fpga_check_timer_us <= FPGA_CHECK_PERIOD_US)
        return 0;
    fpga_check_timer_us = 0;

    int io_exp = fpga_read_io_exp();
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:check_for_errors - Current FPGA status: io_exp=0x%02X\n", io_exp);
    if (io_exp == -1) {
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:check_for_errors - FPGA error!!!, io_exp=0x%02X\n", io_exp);
    } else if ((io_exp & IO_EXP_NOT_INITIALIZED) != 0) {
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:check_for_errors - FPGA not initialized!!!, io_exp=0x%02X\n", io_exp);
    } else if ((io_exp & IO_EXP_LINK_MASK) != IO_EXP_LINK_MASK) {
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:check_for_errors - Lost link in FPGA!!!, io_exp=0x%02X\n", io_exp);
    } else {
        return 0;
    }
    return raise_fault(JT_FPGA_ERROR);
}

// Two frame periods, or half the exposure once exposures reach a second.
void adapt_poll_interval()
{
    int exposure_us = shutter_index_to_time(scam_sts[STS_SHUTTER_INDEX]);
    if (exposure_us >= LONG_EXPOSURE_US)
        s_capture.poll_interval_ms = exposure_us / 2000;
    else if (s_capture.frame_rate > 0)
        s_capture.poll_interval_ms = 2000 / s_capture.frame_rate;
}

}  // namespace

int check_for_errors()
{
    const uint8_t *recv = spi_recv_buffer();
    const int64_t now = clock_now_us();
    int rc = check_heart_beat(recv, now);
    if (rc == 0)
        rc = check_lens(recv);
    if (rc == 0)
        rc = check_protector(recv, now);
    if (rc == 0)
        rc = check_ir_cut(recv);
    if (rc == 0 && daemon_state.state == OPTAD_STARTUP_DONE)
        rc = check_fpga(now);
    return rc;
}

int check_camera_status()
{
    const uint8_t *recv = spi_recv_buffer();
    if (reply_is_empty(recv)) {
        if (log_verbose())
            log_write(LOG_WARNING, "optad:check_camera_status - Received empty Camera Status!");
        return 0;
    }
    if (check_for_errors() < 0)
        return 0;

    adapt_poll_interval();
    check_sent_param();
    exposure_settle_watch();

    switch (daemon_state.state) {
    case OPTAD_STARTUP_DONE:
        check_new_values();
        break;
    case OPTAD_STARTUP_UPDATE_PARAMS:
        init_imc_params();
        break;
    case OPTAD_STARTUP_WAIT_UPDATE:
        startup_check_confirmations();
        break;
    default:
        break;
    }
    return 0;
}

void reset_heart_beat_watch()
{
    heart_beat_timer_us = 0;
}

void reset_protector_moving_timer()
{
    protector_moving_timer_us = 0;
}

void status_check_reset_for_tests()
{
    heart_beat_timer_us = 0;
    protector_moving_timer_us = 0;
    fpga_check_timer_us = 0;
}

}  // namespace optad
