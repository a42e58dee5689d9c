#include "params/startup_sync.h"

#include "board/fpga.h"
#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "dbus/optad_event.h"
#include "imc/decoders.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/lens_cache.h"
#include "params/limits.h"
#include "params/sdl.h"
#include "params/status_monitor.h"
#include "platform/log.h"
#include "video/datacache.h"
#include "video/morvel6.h"

#include <cstring>

namespace optad {

namespace {

bool string_is(int param, const char *value)
{
    const char *s = param_get_string_value(param);
    return s != nullptr && std::strcmp(s, value) == 0;
}

// When a job of the start-up push is queued.
enum class PushIf {
    always,
    wb_manual,      // WhiteBalanceManual is "yes": the manual white balance
    wb_not_manual,  // any other value: the white balance mode
    ircut_not_auto, // the day/night command only when the IMC does not choose
};

struct PushRow {
    int job;
    PushIf when;
};

// The parameter jobs pushed at every start of the IMC, in sending order.
// The sunlight protector, the slow-shutter job of the exposure mode, the
// shutter and the capture mode follow them, in that order.
constexpr PushRow startup_push[] = {
    {JOB_EXP_MODE, PushIf::always},
    {JOB_EXP_COMP, PushIf::always},
    {JOB_DIAPHRAGM, PushIf::always},
    {JOB_GAIN, PushIf::always},
    {JOB_METERING, PushIf::always},
    {JOB_EXPOSURE_WINDOW_POSITION, PushIf::always},
    {JOB_EXPOSURE_WINDOW_SIZE, PushIf::always},
    {JOB_AGC, PushIf::always},
    {JOB_WB_MAN, PushIf::wb_manual},
    {JOB_WB_MODE, PushIf::wb_not_manual},
    {JOB_RB_GAIN, PushIf::always},
    {JOB_AUTO_DN, PushIf::always},
    {JOB_DN, PushIf::ircut_not_auto},
    {JOB_SW_BRIGHTNESS, PushIf::always},
    {JOB_TIME_DN, PushIf::always},
    {JOB_SHARPNESS, PushIf::always},
    {JOB_NR, PushIf::always},
    {JOB_COLOR_LEVEL, PushIf::always},
    {JOB_STABILIZER, PushIf::always},
    {JOB_FOCUS_TRACE_CURVE, PushIf::always},
    {JOB_NOTIFY_ROTATE_IMAGE, PushIf::always},
    {JOB_SET_FOCUS_WINDOW, PushIf::always},
    {JOB_SET_FOCUS_WINDOW_SIZE, PushIf::always},
    {JOB_WDR_LEVEL, PushIf::always},
    {JOB_WDR_MODE, PushIf::always},
    {JOB_ABERRATION_CORRECTION, PushIf::always},
    {JOB_VIGNETTING_CORRECTION, PushIf::always},
};

bool push_wanted(PushIf when, bool wb_manual, bool ircut_auto)
{
    switch (when) {
    case PushIf::always:
        return true;
    case PushIf::wb_manual:
        return wb_manual;
    case PushIf::wb_not_manual:
        return !wb_manual;
    case PushIf::ircut_not_auto:
        return !ircut_auto;
    }
    return false;
}

void queue_parameter_push()
{
    // Read once, under the table's lock, so that a change from the D-Bus
    // thread meanwhile cannot make one pass mix two values.
    ParamLock lock;
    const bool wb_manual = string_is(PARAM_WHITE_BALANCE_MANUAL, "yes");
    const bool ircut_auto = string_is(PARAM_IR_CUT_FILTER, "auto");
    for (const PushRow &row : startup_push) {
        if (push_wanted(row.when, wb_manual, ircut_auto))
            queue_job(row.job, false);
    }
}

// The day/night state the module starts in, for the event's first report.
void init_day_night_event(const uint8_t *reply)
{
    const uint8_t state = reply[STS_DAY_NIGHT_STATE];
    if (state == 0)
        event_handler_ircut_property_changed(1);
    else if (state == 1)
        event_handler_ircut_property_changed(0);
    else
        OPTAD_LOG_WARNING("WARNING:optad:main_loop:init_imc_params - Not possible to init System Event for current "
                          "Day/Night status (status is %d)\n",
                          state);
}

// Limits of the mounted lens and mode, then everything that depends on them.
void publish_limits_and_exposure(const uint8_t *reply)
{
    s_sdl.diaphragm_min = reply[STS_IRIS_MIN];
    s_sdl.diaphragm_max = reply[STS_IRIS_MAX];
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - Updated Diaphragm to Min[0x46]=0x%02X, Max[0x47]=0x%02X!\n",
                    reply[STS_IRIS_MIN], reply[STS_IRIS_MAX]);
    s_sdl.shutter_speed_min = reply[STS_SHUTTER_MIN];
    s_sdl.shutter_speed_max = reply[STS_SHUTTER_MAX];
    OPTAD_LOG_DEBUG(
        "DEBUG:optad:main_loop:init_imc_params - Updated Shutter Speed to Min[0x48]=0x%02X, Max[0x49]=0x%02X!\n",
        reply[STS_SHUTTER_MIN], reply[STS_SHUTTER_MAX]);
    s_sdl.gain_min = reply[STS_GAIN_MIN];
    s_sdl.gain_max = reply[STS_GAIN_MAX];
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - Updated Gain to Min[0x4A]=0x%02X, Max[0x4B]=0x%02X!\n",
                    reply[STS_GAIN_MIN], reply[STS_GAIN_MAX]);

    update_shutter_gain_iris_config();
    write_limits_datacache(s_sdl);
    write_sensor_datacache(scam_sts[STS_SHUTTER_INDEX], scam_sts[STS_GAIN_INDEX], scam_sts[STS_IRIS_INDEX]);
    datacache_api_optics_type(sts_u16(scam_sts, STS_OPTICS_FOCAL_LENGTH), sts_u16(scam_sts, STS_OPTICS_SECOND),
                              sts_u16(scam_sts, STS_OPTICS_THIRD));
}

// A lens needs the protector open to see anything; without a lens the
// protector keeps dust off the sensor. Anything else (moving, error, already
// right) needs no command, and a protector job left over from before the
// restart must not hold the start-up open.
void sync_sunlight_protector(const uint8_t *reply)
{
    const uint8_t attached = reply[STS_LENS_ATTACHED];
    const uint8_t protector = reply[STS_SUNLIGHT];
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - Lens Status: recv_buf[0x12-13-15]=0x%02X-%02X-%02X\n",
                    attached, reply[STS_LENS_STATUS], protector);
    if (attached == 1 && protector == STS_SUNLIGHT_CLOSED) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - Detected Lens Attached => Open Sunlight Protector!\n");
        param_set_string_value(PARAM_SENSOR_PROTECTOR, "open");
        scam_sts[STS_SUNLIGHT] = STS_SUNLIGHT_OPEN;
        queue_job(JOB_SUNLIGHT, false);
    } else if (attached == 0 && protector == STS_SUNLIGHT_OPEN) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - Detected Lens Detached => Close Sunlight Protector!\n");
        param_set_string_value(PARAM_SENSOR_PROTECTOR, "close");
        scam_sts[STS_SUNLIGHT] = STS_SUNLIGHT_CLOSED;
        queue_job(JOB_SUNLIGHT, false);
    } else {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - No need to update Sunlight Protector!");
        job_records[JOB_SUNLIGHT].pending = 0;
        job_records[JOB_SUNLIGHT].tries = 0;
    }
}

// The maximum exposure goes to the item that fits the exposure mode: with
// flicker reduction the IMC takes only the exposure times of the mains
// frequency.
int slow_shutter_job()
{
    if (!string_is(PARAM_EXPOSURE, "flickerreduced"))
        return JOB_SLOW_SHUTTER;
    return string_is(PARAM_CAPTURE_FREQUENCY, "50Hz") ? JOB_SLOW_SHUTTER_50HZ : JOB_SLOW_SHUTTER_60HZ;
}

}  // namespace

void capture_mode_init()
{
    const int mode = param_get_int_value(PARAM_CAPTURE_MODE);
    const capture_mode_row *row = capture_mode_find(mode);
    if (row == nullptr) {
        // An unknown mode falls back to mode 1, the 20-megapixel mode the
        // message names, and not to whatever the record held before: the
        // capture-mode job encodes mode 1 for such a value, so the video
        // path set up from this record, the comparison with the mode the
        // IMC runs and the frame sent must all agree on mode 1. A record
        // left at an earlier mode 2 or 3 would let the IMC be switched to
        // mode 1 with the video input still sized for the old mode.
        OPTAD_LOG_ERROR("ERROR:optad:main:capture_mode_init - Received an invalid parameter. Using the default mode "
                        "20MP!\n");
        row = &capture_mode_table[0];
    }
    capture_settings_apply(s_capture, *row);
}

int startup_init_nwc_params()
{
    capture_mode_init();
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:startup_init_nwc_params - Setup Morvel6 and FPGA: width=%d, height=%d\n",
                    s_capture.width, s_capture.height);
    init_morvel6(s_capture.width, s_capture.height);
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:startup_init_nwc_params - After setup Morvel6\n");
    return fpga_set_window(s_capture.width, s_capture.height);
}

void init_imc_params()
{
    // From here on other threads see the IMC as started and queue their
    // parameter jobs; they run after the push below.
    imc_gate_open();
    startup_init_nwc_params();

    const uint8_t *reply = spi_recv_buffer();
    init_day_night_event(reply);

    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - Capture Mode: recv_buf[0x16]=0x%02X, "
                    "recv_buf[0x17]=0x%02X\n",
                    reply[STS_RESOLUTION], reply[STS_FRAME_RATE]);
    if (reply[STS_RESOLUTION] == s_capture.resolution_code && reply[STS_FRAME_RATE] == s_capture.frame_rate) {
        publish_limits_and_exposure(reply);
        update_lens_cache(lens_get_name(reply));
        set_lens_focus_switch(reply[STS_LENS_FOCUS_SWITCH]);
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - Updated lens focus switch to =0x%02X!\n",
                        reply[STS_LENS_FOCUS_SWITCH]);

        queue_parameter_push();
        sync_sunlight_protector(reply);
        queue_job(slow_shutter_job(), false);
        queue_job(JOB_SHUTTER, false);

        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - Sending same Capture Mode %d!!\n",
                        param_get_int_value(PARAM_CAPTURE_MODE));
        daemon_state.same_capture_mode = 1;
    } else {
        // The IMC runs another mode: only the capture-mode job goes out. Its
        // confirmation restarts the IMC in the new mode, and the next
        // start-up pushes everything.
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - Requesting new Capture Mode %d!!\n",
                        param_get_int_value(PARAM_CAPTURE_MODE));
        daemon_state.same_capture_mode = 0;
    }

    queue_job(JOB_RESOLUTION, false);
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:init_imc_params - OPTAD state changed to OPTAD_STARTUP_WAIT_UPDATE\n");
    daemon_state.state = OPTAD_STARTUP_WAIT_UPDATE;
}

void startup_check_confirmations()
{
    // A job given up after its last send is idle too, so start-up completes
    // without it. The jobs with nothing to confirm (focus drive, exposure
    // priority) are left idle by their send.
    for (int job = JOB_FIRST_PARAM; job <= JOB_LAST_PARAM; ++job) {
        if (job_records[job].pending)
            return;
    }
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:startup_check_confirmations - Done updating params!");
    queue_job(JT_WAIT_STREAM, false);
}

}  // namespace optad
