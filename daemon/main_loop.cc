#include "daemon/main_loop.h"

#include "daemon/imc_status_file.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/ops.h"
#include "daemon/process_state.h"
#include "dbus/optad_event.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/status_check.h"
#include "params/status_monitor.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/log_format.h"

#include <cstring>

namespace optad {

namespace {

// Pause between two power checks while the power budget does not allow
// the module yet.
constexpr int64_t CHECK_POWER_PAUSE_US = 100'000;
// Exchanges with the IMC that may fail in a row before the IMC counts as
// hung. Each failure of a powered IMC is a 10 s wait for REQ that never
// came (or a failed transfer), and the IMC raises REQ every frame while it
// runs: three in a row is some 30 s of silence, far beyond anything a
// running IMC does. Only the main loop's parameter sends and idle status
// polls count, which happen only once the firmware check has passed and the
// IMC runs its application; the long waits of a firmware write-in and the
// safe-mode boot loader's answers go through other paths and never count.
// A failure because POWER_GOOD or INIT_DONE fell does not count either: the
// listener's restart handles that module.
constexpr int FAILED_EXCHANGE_LIMIT = 3;
// After a failed exchange the loop pauses this long before it tries again,
// so that what other threads queued meanwhile is looked at first.
constexpr int64_t FAILED_EXCHANGE_PAUSE_US = 100'000;
// Pause after each shutdown of a restart or a power-up retry, for the
// module's supplies to discharge.
constexpr int64_t RESTART_PAUSE_US = 3'000'000;
// How long after a power-up the IMC's first interrupt is waited for. A
// booted IMC raises it well within a second of INIT_DONE; without it the
// firmware check starts anyway, so that a lost edge never leaves the module
// waiting for good.
constexpr int64_t FIRST_INTERRUPT_WAIT_US = 10'000'000;
// One in this many power-check refusals is logged.
constexpr int CHECK_POWER_LOG_EVERY = 100;
// Power-up attempts per JT_POWER_UP_SEQ, and over the process once they
// have all failed.
constexpr int POWER_UP_ATTEMPTS = 5;
// IMC errors over the process after which the module stays off.
constexpr int IMC_ERROR_LIMIT = 5;

DaemonState &ds = daemon_state;

// A byte of the latest status reply (0 when the link never handed out its
// buffer).
uint8_t recv_byte(size_t offset)
{
    return imc_buffers.recv_buf != nullptr ? imc_buffers.recv_buf[offset] : 0;
}

void clear_link_buffers()
{
    if (imc_buffers.send_buf != nullptr)
        std::memset(imc_buffers.send_buf, 0, SPI_BUFFER_SIZE);
    if (imc_buffers.recv_buf != nullptr)
        std::memset(imc_buffers.recv_buf, 0, SPI_BUFFER_SIZE);
}

// --- power-up ---

// The retry step's texts: plain after a failed attempt, SAFE_MODE when the
// failure concerns (or leads to) a safe-mode boot.
struct PowerUpTexts {
    const char *gave_up;
    LogFormat<int> retry;  // the retry number
};
constexpr PowerUpTexts POWER_UP_PLAIN = {
    "ERROR:optad:main_loop:JT_POWER_UP_SEQ - IMC startup sequence failed even after 5 retries!\n",
    "ERROR:optad:main_loop:JT_POWER_UP_SEQ - Retry startup sequence again! Retry number=%d\n",
};
constexpr PowerUpTexts POWER_UP_SAFE_MODE = {
    "ERROR:optad:main_loop:JT_POWER_UP_SEQ:SAFE_MODE - IMC startup sequence failed even after 5 retries!\n",
    "ERROR:optad:main_loop:JT_POWER_UP_SEQ:SAFE_MODE - Retry startup sequence again! Retry number=%d\n",
};

// One power-up attempt and what its result leads to. Returns the texts of
// the retry step when the attempt failed, nullptr when the job is done.
const PowerUpTexts *power_up_attempt()
{
    int skip_checks = ds.first_power_up ? 1 : ds.imc_restart;
    ds.first_power_up = 0;
    int result = daemon_ops.power_up(ds.safe_mode, skip_checks);

    if (result >= 0) {
        ds.safe_mode = 0;
        ds.imc_restart = 0;
        ds.power_up_retry_count = 0;
        ds.power_ups.fetch_add(1);
        ds.imc_ready.store(1);
        ds.state = OPTAD_STARTUP_WAIT_INT;
        ds.first_interrupt_deadline_us = clock_now_us() + FIRST_INTERRUPT_WAIT_US;
        return nullptr;
    }
    switch (result) {
    case -4:  // the power budget refused
        ds.state = OPTAD_STARTUP_WAIT_POWER;
        queue_job(JT_CHECK_POWER, false);
        return nullptr;
    case -3:  // the IMC came up in safe mode: it needs its firmware
        if (daemon_ops.request_camera_status() >= 0) {
            ds.safe_mode = 0;
            queue_job(JT_PERFORM_FIRM_UP, false);
            return nullptr;
        }
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_POWER_UP_SEQ:SAFE_MODE - Something went wrong when "
                        "requesting Camera Status!\n");
        return &POWER_UP_SAFE_MODE;
    case -2:  // a normal boot never finished: try a safe-mode boot
        ds.safe_mode = 1;
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_POWER_UP_SEQ:SAFE_MODE - IMC power up sequence failed! "
                        "Retry with Safe Mode!\n");
        return &POWER_UP_SAFE_MODE;
    default:  // -1, and any other failure the same way
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_POWER_UP_SEQ - IMC power up sequence failed!\n");
        return &POWER_UP_PLAIN;
    }
}

void jt_power_up_seq()
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:JT_POWER_UP_SEQ - OPTAD state changed to OPTAD_STARTUP_POWERUP\n");
    ds.state = OPTAD_STARTUP_POWERUP;
    job_records_clear(job_records);
    ds.imc_ready.store(0);
    // A new module life: the link waits for REQ again, and earlier failed
    // exchanges no longer count.
    resume_req_waits();
    ds.failed_exchanges = 0;

    // Five failed attempts end power-up for the life of the process (only
    // a success resets the count).
    if (ds.power_up_retry_count >= POWER_UP_ATTEMPTS)
        return;

    // A module found powered at the process's first power-up is left over
    // from an earlier run of the daemon (restarted after a crash): its state
    // is unknown, and an IMC that was never reset sends no first interrupt.
    // It is shut down first and started afresh.
    if (ds.first_power_up && daemon_ops.module_is_powered() == 1) {
        OPTAD_LOG_WARNING("WARNING:optad:main_loop:JT_POWER_UP_SEQ - The module is still powered from an earlier "
                          "run! Shutting it down first\n");
        daemon_ops.shutdown(1, 0);
        clock_sleep_us(RESTART_PAUSE_US);
    }

    // All attempts run inside this one job.
    for (;;) {
        const PowerUpTexts *texts = power_up_attempt();
        if (texts == nullptr)
            return;
        ds.power_up_retry_count++;
        if (ds.power_up_retry_count >= POWER_UP_ATTEMPTS) {
            // The module stays as the last attempt left it; nothing more is
            // queued.
            log_write(LOG_ERR, "%s", texts->gave_up);
            return;
        }
        log_line(LOG_ERR, texts->retry, ds.power_up_retry_count);
        daemon_ops.shutdown(ds.imc_restart, 0);
        clock_sleep_us(RESTART_PAUSE_US);
    }
}

// --- the other job types ---

void jt_i2n_int()
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:JT_I2N_INT - Received IMC Interrupt! => Need to check information in "
                    "next Camera Status\n");
    // Only the first interrupt after power-up means something here; later
    // ones are news that the next status poll brings anyway.
    if (ds.state != OPTAD_STARTUP_WAIT_INT)
        return;
    ds.state = OPTAD_STARTUP_CHECK_FIRM;
    queue_job(JT_CHECK_FIRM_UP, false);
}

void jt_check_firm_up()
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - Received Check Firmware upgrade\n");
    int result = daemon_ops.check_firmware_version();
    if (result == 0 || result == 1) {  // the IMC's revision differs from the file's
        queue_job(JT_PERFORM_FIRM_UP, false);
        return;
    }
    // A failed check does not hold start-up: it counts as up to date.
    if (result == -1)
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_CHECK_FIRM_UP - Firmware version check failed!\n");
    else if (result == -2)
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - IMC firmware is already the latest firmware!\n");

    write_imc_status_file();
    daemon_ops.overlay_set_condition(OVERLAY_BLOCK_UPGRADE, 0);
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - OPTAD state changed to OPTAD_STARTUP_UPDATE_PARAMS\n");
    // The next idle pass polls the status block, and the status monitor
    // starts the parameter sync from that poll.
    ds.state = OPTAD_STARTUP_UPDATE_PARAMS;
    ds.status_polling = 1;
}

void jt_perform_firm_up()
{
    // The overlay stays on until a firmware check finds nothing to do.
    daemon_ops.overlay_set_condition(OVERLAY_BLOCK_UPGRADE, 1);
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:JT_PERFORM_FIRM_UP - Received Perform Firmware upgrade\n");
    OPTAD_LOG_INFO("Image Chip is being upgraded...\n");
    if (daemon_ops.firmware_upgrade() < 0)
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_PERFORM_FIRM_UP - IMC firmware upgrade failed\n");
    OPTAD_LOG_INFO("Image Chip upgrade completed!\n");
    // Restart in every case: after a failure the restart leads to a new
    // check and a new attempt. The IMC restarts by itself after an upgrade,
    // so the restart sends no reset command and skips the heart-beat checks.
    ds.imc_restart = 1;
    ds.skip_reset = 1;
    queue_job(JT_RESTART_IMC, false);
}

void jt_wait_stream()
{
    if (daemon_ops.wait_for_dtct_strm() < 0) {
        queue_job(JT_RESTART_IMC, false);
        return;
    }
    daemon_ops.set_black_video_morvel6(0);
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:JT_WAIT_STREAM - OPTAD state changed to OPTAD_STARTUP_DONE\n");
    ds.state = OPTAD_STARTUP_DONE;
}

void jt_restart_imc()
{
    // Close the gate: other threads see the IMC as not started until the
    // next parameter sync opens it again.
    imc_gate_close();
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:JT_RESTART_IMC - Restarting IMC from Main Loop\n");
    reset_heart_beat_watch();
    ds.imc_ready.store(0);
    ds.status_polling = 0;
    int result = daemon_ops.shutdown(ds.imc_restart, ds.skip_reset);
    ds.skip_reset = 0;
    if (result < 0)
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_RESTART_IMC - IMC shut down failed\n");
    clock_sleep_us(RESTART_PAUSE_US);
    queue_job(JT_POWER_UP_SEQ, false);
}

void jt_error()
{
    ds.imc_error_count++;
    OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_ERROR - Image Error Status = 0x%02X\n", recv_byte(STS_IMAGE_ERROR));
    OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_ERROR - Power Error Status = 0x%02X\n", recv_byte(STS_POWER_ERROR));
    OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_ERROR - IMC Log Status = 0x%02X%02X\n", recv_byte(STS_IMC_LOG + 1),
                    recv_byte(STS_IMC_LOG));
    if (ds.imc_error_count >= IMC_ERROR_LIMIT) {
        // The module stays off for the rest of the process: nothing queues
        // a power-up again and, with the IMC-ready flag cleared by the
        // shutdown, parameter jobs are dropped.
        OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_ERROR - Image Chip (IMC) has failed 5 times!\n");
        if (daemon_ops.shutdown(ds.imc_restart, 0) < 0)
            OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_ERROR - IMC shut down failed\n");
        ds.status_polling = 0;
        return;
    }
    OPTAD_LOG_ERROR("ERROR:optad:main_loop:JT_ERROR - Received error status from IMC! Restarting Image Chip (IMC)...");
    // Before anything else queued: every job left is for the failing IMC,
    // and the restart's shutdown voids them anyway.
    queue_job_at_head(JT_RESTART_IMC);
}

void jt_fpga_error()
{
    // An FPGA fault restarts the IMC but does not count as an IMC error.
    queue_job_at_head(JT_RESTART_IMC);
}

void jt_check_power()
{
    // One check answers every queued request.
    job_list_remove(JT_CHECK_POWER);
    if (ds.state != OPTAD_STARTUP_WAIT_POWER)
        return;
    if (daemon_ops.has_enough_power()) {
        OPTAD_LOG_DEBUG("DEBUG:optad:Got enough power!\n");
        // A grant that came in while this check ran has queued another
        // check, which runs before the power-up and finds the state still
        // waiting for power: one power-up is enough.
        queue_job_once(JT_POWER_UP_SEQ);
        return;
    }
    if (log_verbose()) {
        if (ds.check_power_refusals % CHECK_POWER_LOG_EVERY == 0)
            log_write(LOG_DEBUG, "DEBUG:optad:main_loop - JT_CHECK_POWER: Still not enough power...\n");
        ds.check_power_refusals++;
    }
    clock_sleep_us(CHECK_POWER_PAUSE_US);
    queue_job(JT_CHECK_POWER, false);
}

// Diagnostic jobs. Nothing in the daemon queues them; they are there for a
// developer who queues one from a debugger or a test.
void jt_test_print_camera_status()
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop - JT_TEST_PRINT_CAMERA_STATUS\n");
    if (daemon_ops.request_camera_status() < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:test_print_camera_status - Something went wrong when requesting Camera "
                        "Status!\n");
        return;
    }
    daemon_ops.print_camera_status();
}

void jt_test_read_chunk_datacache()
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop - JT_TEST_READ_CHUNK_DATACACHE\n");
    daemon_ops.test_read_chunk_datacache();
}

void jt_test_read_fpga()
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop - JT_TEST_READ_FPGA\n");
    daemon_ops.print_fpga_status();
}

using JobHandler = void (*)();
constexpr JobHandler job_handlers[JT_JOB_TYPE_COUNT] = {
    jt_power_up_seq,               // JT_POWER_UP_SEQ
    jt_i2n_int,                    // JT_I2N_INT
    jt_check_firm_up,              // JT_CHECK_FIRM_UP
    jt_perform_firm_up,            // JT_PERFORM_FIRM_UP
    jt_wait_stream,                // JT_WAIT_STREAM
    jt_restart_imc,                // JT_RESTART_IMC
    jt_error,                      // JT_ERROR
    jt_fpga_error,                 // JT_FPGA_ERROR
    jt_check_power,                // JT_CHECK_POWER
    jt_test_print_camera_status,   // JT_TEST_PRINT_CAMERA_STATUS
    jt_test_read_chunk_datacache,  // JT_TEST_READ_CHUNK_DATACACHE
    jt_test_read_fpga,             // JT_TEST_READ_FPGA
};

// --- failed exchanges ---

// Set when a pass must end early: a failed exchange pauses the loop before
// the next try. Main loop only.
bool pass_cut_short = false;

void exchange_succeeded()
{
    ds.failed_exchanges = 0;
}

// One exchange with a running IMC failed. Returns true when the IMC now
// counts as hung (JT_ERROR queued to run next).
bool exchange_failed()
{
    pass_cut_short = true;
    // POWER_GOOD or INIT_DONE fell: the listener has queued the restart.
    if (spi_req_waits_abandoned())
        return false;
    if (++ds.failed_exchanges < FAILED_EXCHANGE_LIMIT)
        return false;
    OPTAD_LOG_ERROR("ERROR:optad:main_loop - No exchange with the IMC worked %d times in a row (no REQ or a failed "
                    "transfer)! The IMC is hung\n",
                    ds.failed_exchanges);
    ds.failed_exchanges = 0;
    queue_job_at_head(JT_ERROR);
    return true;
}

// --- parameter jobs ---

void param_job(int id)
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop - Received a request for parameter Type=%d\n", id);
    // Without a started IMC the job is dropped, not deferred: the start-up
    // sync sends every parameter anyway.
    if (ds.imc_ready.load() == 0)
        return;
    clear_link_buffers();
    if (daemon_ops.send_param(id) != SEND_PARAM_LINK_FAILED) {
        exchange_succeeded();
        return;
    }
    OPTAD_LOG_ERROR("ERROR:optad:main_loop - Something wrong with send_param_to_IMC_with_SPI, retry again "
                    "later!\n");
    // Tried again after a pause, first among the jobs queued by then. Not
    // when the IMC is lost or hung: its restart comes next, and the start-up
    // sync after it sends every parameter.
    if (!exchange_failed() && !spi_req_waits_abandoned())
        queue_job_at_head(id);
}

// --- the loop ---

// Step 6 of a pass: the idle status poll. Returns whether one was made.
bool poll_camera_status()
{
    if (ds.imc_ready.load() == 0 || ds.status_polling == 0)
        return false;
    if (daemon_ops.request_camera_status() < 0) {
        OPTAD_LOG_ERROR("ERROR:optad:main_loop - Something went wrong when requesting Camera Status!\n");
        exchange_failed();
        return true;
    }
    exchange_succeeded();
    if (check_camera_status() < 0)
        OPTAD_LOG_ERROR("ERROR:optad:main_loop - Check Camera Status failed!\n");
    // For the D-Bus thread's one-shot focus check.
    publish_current_shutter_index(scam_sts[STS_SHUTTER_INDEX]);
    return true;
}

}  // namespace

void main_loop_run_job(int id)
{
    if (id != JT_CHECK_POWER)
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop - Going to run id=%d!\n", id);
    if (id >= 0 && id <= JT_LAST_JOB_TYPE)
        job_handlers[id]();
    else if (job_is_param(id))
        param_job(id);
    else if (id > JOB_LAST_PARAM)
        OPTAD_LOG_ERROR("ERROR:optad:main_loop - Received unknown parameter Type=%d\n", id);
    else
        OPTAD_LOG_ERROR("ERROR:optad:main_loop - Received an Handled Job Type=%d\n", id);
}

namespace {

// A start-up state never waits without end: the first interrupt after a
// power-up is given up on after FIRST_INTERRUPT_WAIT_US, and the firmware
// check runs as if it had come.
void check_first_interrupt_deadline()
{
    if (ds.state != OPTAD_STARTUP_WAIT_INT || clock_now_us() < ds.first_interrupt_deadline_us)
        return;
    OPTAD_LOG_ERROR("ERROR:optad:main_loop - No interrupt from the IMC within %d s of its power-up! Checking its "
                    "firmware anyway\n",
                    static_cast<int>(FIRST_INTERRUPT_WAIT_US / 1'000'000));
    ds.state = OPTAD_STARTUP_CHECK_FIRM;
    queue_job(JT_CHECK_FIRM_UP, false);
}

}  // namespace

bool main_loop_work()
{
    // Each job is taken under the job-list mutex and run without it, so
    // other threads queue at any time and never wait for a job.
    pass_cut_short = false;
    check_first_interrupt_deadline();
    int id = 0;
    while (!pass_cut_short && job_list_take(&id))
        main_loop_run_job(id);
    if (pass_cut_short)
        return false;
    // Jobs that the status check queues wait for the next pass.
    return poll_camera_status();
}

void main_loop_wait(bool polled)
{
    // Idle polling would flood the log, so the wait is only logged after a
    // pass without a poll.
    if (!polled) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop - Handled all data!\n");
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:run - unlock - waiting for data available\n");
    }
    if (pass_cut_short)
        job_list_wait_for_signal(clock_now_us() + FAILED_EXCHANGE_PAUSE_US);
    else if (ds.status_polling)
        job_list_wait_for_signal(clock_now_us() + static_cast<int64_t>(s_capture.poll_interval_ms) * 1000);
    else if (ds.state == OPTAD_STARTUP_WAIT_INT)
        job_list_wait_for_signal(ds.first_interrupt_deadline_us);
    else
        job_list_wait_for_signal(-1);
    // Woken, timed out or woken spuriously: the next pass looks at the list.
    if (!polled)
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:run - Received data available!\n");
}

void main_loop_run_once()
{
    main_loop_wait(main_loop_work());
}

void main_loop_run()
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:run - lock\n");
    for (;;)
        main_loop_run_once();
}

}  // namespace optad
