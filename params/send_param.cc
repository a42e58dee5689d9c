#include "params/send_param.h"

#include "config/param_settings.h"
#include "daemon/jobs.h"
#include "daemon/job_queue.h"
#include "daemon/ops.h"
#include "daemon/process_state.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/encoders.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "video/morvel6.h"

namespace optad {

namespace {

// Commands the confirmation check has no row for: a focus drive is a
// relative step the status block does not show, and the exposure priority
// sets the exposure-mode byte, which job 12's row compares. A pending mark
// left on them would never be cleared and would hold the start-up sync open
// (it waits until no parameter job is pending) until the next power-up. So
// a successful send is all they get: their record goes idle at once, its
// try count back to 0 and its send time kept.
constexpr bool has_confirmation(int job)
{
    return job != JOB_FOCUSDRIVE && job != JOB_ONVIF_EXPOSURE_PRIORITY_NORMAL;
}

int64_t confirm_timeout_us(int job)
{
    return job == JOB_FOCUS ? FOCUS_MODE_CONFIRM_TIMEOUT_US : CONFIRM_TIMEOUT_US;
}

void give_up_action(int job)
{
    switch (job) {
    case JOB_RESOLUTION:
        // The IMC never showed the new capture mode: show whatever video it
        // sends rather than keep the picture black.
        set_black_video_morvel6(0);
        set_stream_morvel6(1);
        break;
    case JOB_FOCUS:
        // The focus mode always returns to its resting value.
        param_set_int_value(PARAM_FOCUS_MODE, 1);
        break;
    default:
        break;
    }
}

}  // namespace

int send_param(int job)
{
    int param;
    {
        // The encoder reads (and may substitute) the values its frame is
        // built from as one: a set from the D-Bus thread waits for it, and
        // never for the exchange below.
        ParamLock lock;
        param = encode_param_job(job);
    }
    if (param == ENCODER_NONE) {
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:send_param - Received unknown parameter=%d\n", job);
        return SEND_PARAM_DROPPED;
    }
    if (param < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:send_param - Failed to send SPI command=%d\n", job);
        return SEND_PARAM_DROPPED;
    }
    if (spi_send_buffers(SEND_PARAM_REQ_TIMEOUT_US) < 0)
        return SEND_PARAM_LINK_FAILED;

    JobRecord &record = job_records[job];
    record.sent_at = clock_now_us();
    if (has_confirmation(job)) {
        record.pending = 1;
        record.tries++;
    } else {
        record.pending = 0;
        record.tries = 0;
    }
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:send_param - Successfully sent command for %s\n", param_get_name(param));
    return SEND_PARAM_SENT;
}

int wait_or_retry_command(int job)
{
    JobRecord &record = job_records[job];
    int64_t elapsed = clock_now_us() - record.sent_at;
    if (elapsed <= confirm_timeout_us(job))
        return 1;

    if (record.tries >= SEND_TRIES_LIMIT) {
        if (job == JOB_AUTO_DN || job == JOB_DN) {
            const uint8_t *recv = spi_recv_buffer();
            OPTAD_LOG_ERROR("ERROR:optad:main_loop:wait_or_retry_command - Got no feedback from Image Chip for job "
                            "type %d! Tried sending 10 times! Status: %02X:%02X(%02X) %02X:%02X\n",
                            job, scam_sts[STS_AUTO_DAY_NIGHT], recv[STS_AUTO_DAY_NIGHT],
                            recv[STS_DAY_NIGHT_RECOMMENDATION], scam_sts[STS_DAY_NIGHT_STATE],
                            recv[STS_DAY_NIGHT_STATE]);
        } else {
            OPTAD_LOG_ERROR("ERROR:optad:main_loop:wait_or_retry_command - Got no feedback from Image Chip for job "
                            "type %d! Tried sending 10 times!\n",
                            job);
        }
        give_up_action(job);
        // The try count stays: until a confirmation or the next power-up
        // resets it, a later request for this job gets one send and no
        // resends.
        record.pending = 0;
        return 0;
    }

    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:wait_or_retry_command - No feedback from Image Chip! Resend param %d...\n",
                    job);
    queue_job(job, false);
    return 1;
}

}  // namespace optad
