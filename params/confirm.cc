#include "params/confirm.h"

#include "config/param_settings.h"
#include "daemon/jobs.h"
#include "daemon/job_queue.h"
#include "daemon/process_state.h"
#include "dbus/optad_event.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/send_param.h"
#include "params/stabilizer_time.h"
#include "params/status_check.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/log_format.h"

#include <cstddef>
#include <cstdint>

namespace optad {

namespace {

// The IMC needs this long to take up a new capture mode before it is
// restarted into it.
constexpr int64_t CAPTURE_MODE_SETTLE_US = 2'000'000;

// How a log line takes its bytes: each offset's saved byte then its
// received byte ("scam_sts[a]=.., recv_buf[a]=.., scam_sts[b]=.."), or all
// saved bytes first and then all received ones ("scam_sts[0x12-13-15]=..-..-..,
// recv_buf[0x12-13-15]=..-..-..").
enum class Layout : uint8_t { PAIRS, GROUPED };

// Up to three offsets: six bytes. A format shows as many as it names (the
// capture mode's confirmation shows only the saved pair).
constexpr size_t LINE_VALUES_MAX = 6;

struct LogLine {
    LogFormatUpTo<unsigned, LINE_VALUES_MAX> format;  // no text: no line
    uint8_t offsets[3];
    uint8_t count;
    Layout layout;
};

// What happens on a confirmation besides the record going idle. Returns
// false when the job is to stay pending after all.
using FollowUp = bool (*)();

struct ConfirmRow {
    int job;
    uint8_t compare[4];  // status offsets the encoder wrote its expectation to
    uint8_t compare_count;
    uint8_t recv_mask;   // applied to the received byte before the comparison
    LogLine confirmed[2];
    LogLine unconfirmed[2];
    FollowUp follow_up;
};

bool capture_mode_confirmed()
{
    DaemonState &ds = daemon_state;
    if (ds.same_capture_mode) {
        // The IMC already ran this mode when start-up found it.
        ds.same_capture_mode = 0;
        return true;
    }
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop - Sleep 2s, so that IMC can update capture mode\n");
    clock_sleep_us(CAPTURE_MODE_SETTLE_US);
    ds.imc_restart = 1;
    queue_job(JT_RESTART_IMC, false);
    return true;
}

bool focus_mode_confirmed()
{
    // A one-shot focus reports 5 while it runs: wait for the IMC to report
    // the resting mode 1 before the job counts as done.
    if (spi_recv_buffer()[STS_FOCUS_MODE] == 5) {
        scam_sts[STS_FOCUS_MODE] = 1;
        return false;
    }
    param_set_int_value(PARAM_FOCUS_MODE, 1);
    return true;
}

bool stabilizer_confirmed()
{
    DaemonState &ds = daemon_state;
    int64_t now_s = clock_now_us() / 1'000'000;
    if (spi_recv_buffer()[STS_STABILIZER] != 0) {
        // Switched on again while it runs (the start-up push after a module
        // restart sends it again): the time it ran so far is still to be
        // added, so its start stays. Restarting the count here would drop
        // those seconds from the total.
        if (!ds.stabilizer_active) {
            ds.stabilizer_active = 1;
            ds.stabilizer_start_s = now_s;
        }
    } else if (ds.stabilizer_active) {
        ds.stabilizer_active = 0;
        if (save_is_time(static_cast<int>(now_s - ds.stabilizer_start_s)) < 0)
            OPTAD_LOG_ERROR("ERROR:optad:main_loop:check_sent_param - Failed to save lib/persistant/optics\n");
    }
    return true;
}

bool day_night_confirmed()
{
    uint8_t state = spi_recv_buffer()[STS_DAY_NIGHT_STATE];
    if (state == 0)
        event_handler_ircut_property_changed(1);
    else if (state == 1)
        event_handler_ircut_property_changed(0);
    return true;
}

bool protector_confirmed()
{
    reset_protector_moving_timer();
    return true;
}

#define CONFIRMED(what) "DEBUG:optad:main_loop:check_sent_param - Confirmed " what
#define UNCONFIRMED(what) "DEBUG:optad:main_loop - Couldn't confirm - " what
#define ONE(off) {off}, 1, Layout::PAIRS
#define TWO(a, b) {a, b}, 2, Layout::PAIRS

// One row per confirmable job, in the order the jobs are visited. Jobs that
// share a status byte (17, 18 and 19 at 0x4E; 24 and 25 at 0x70) each
// compare it on their own: the encoders write the same expected byte, so a
// match confirms every one of them that is pending, at the same poll.
// Jobs 34 and 47 have nothing to confirm (send_param leaves them idle).
constexpr ConfirmRow confirm_rows[] = {
    {12, {0x40}, 1, 0xFF,
     {{CONFIRMED("Exposure change: scam_sts[0x40]=0x%02X, recv_buf[0x40]=0x%02X\n"), ONE(0x40)}},
     {{UNCONFIRMED("Exposure: scam_sts[0x40]=0x%02X, recv_buf[0x40]=0x%02X\n"), ONE(0x40)}}, nullptr},
    {13, {0x45}, 1, 0xFF,
     {{CONFIRMED("Exposure Compensation change: scam_sts[0x45]=0x%02X, recv_buf[0x45]=0x%02X\n"), ONE(0x45)}},
     {{UNCONFIRMED("Exposure Compensation: scam_sts[0x45]=0x%02X, recv_buf[0x45]=0x%02X\n"), ONE(0x45)}}, nullptr},
    {14, {0x52}, 1, 0xFF,
     {{CONFIRMED("Diaphragm change: scam_sts[0x52]=0x%02X, recv_buf[0x52]=0x%02X\n"), ONE(0x52)}},
     {{UNCONFIRMED("Diaphragm: scam_sts[0x52]=0x%02X, recv_buf[0x52]=0x%02X\n"), ONE(0x52)}}, nullptr},
    {15, {0x53}, 1, 0xFF,
     {{CONFIRMED("shutter speed change: scam_sts[0x53]=0x%02X, recv_buf[0x53]=0x%02X\n"), ONE(0x53)}},
     {{UNCONFIRMED("shutter speed: scam_sts[0x53]=0x%02X, recv_buf[0x53]=0x%02X\n"), ONE(0x53)}}, nullptr},
    {16, {0x54}, 1, 0xFF,
     {{CONFIRMED("Gain change: scam_sts[0x54]=0x%02X, recv_buf[0x54]=0x%02X\n"), ONE(0x54)}},
     {{UNCONFIRMED("Gain: scam_sts[0x54]=0x%02X, recv_buf[0x54]=0x%02X\n"), ONE(0x54)}}, nullptr},
    {17, {0x4E}, 1, 0xFF,
     {{CONFIRMED("slow shutter speed change: scam_sts[0x4e]=0x%02X, recv_buf[0x4e]=0x%02X\n"), ONE(0x4E)}},
     {{UNCONFIRMED("Slow shutter speed: scam_sts[0x4e]=0x%02X, recv_buf[0x4e]=0x%02X\n"), ONE(0x4E)}}, nullptr},
    {18, {0x4E}, 1, 0xFF,
     {{CONFIRMED("slow shutter speed 50Hz change: scam_sts[0x4e]=0x%02X, recv_buf[0x4e]=0x%02X\n"), ONE(0x4E)}},
     {{UNCONFIRMED("Slow shutter speed 50Hz: scam_sts[0x4e]=0x%02X, recv_buf[0x4e]=0x%02X\n"), ONE(0x4E)}},
     nullptr},
    {19, {0x4E}, 1, 0xFF,
     {{CONFIRMED("slow shutter speed 60Hz change: scam_sts[0x4e]=0x%02X, recv_buf[0x4e]=0x%02X\n"), ONE(0x4E)}},
     {{UNCONFIRMED("Slow shutter speed 60Hz: scam_sts[0x4e]=0x%02X, recv_buf[0x4e]=0x%02X\n"), ONE(0x4E)}},
     nullptr},
    {20, {0x41}, 1, 0xFF,
     {{CONFIRMED("metering mode change: scam_sts[0x41]=0x%02X, recv_buf[0x41]=0x%02X\n"), ONE(0x41)}},
     {{UNCONFIRMED("metering mode: scam_sts[0x41]=0x%02X, recv_buf[0x41]=0x%02X\n"), ONE(0x41)}}, nullptr},
    {21, {0x56, 0x57}, 2, 0xFF,
     {{CONFIRMED("exposure window position change:scam_sts[0x56]=0x%02X, recv_buf[0x56]=0x%02X, "
                 "scam_sts[0x57]=0x%02X, recv_buf[0x57]=0x%02X\n"),
       TWO(0x56, 0x57)}},
     {{UNCONFIRMED("exposure window position:scam_sts[0x56]=0x%02X, recv_buf[0x56]=0x%02X, "
                   "scam_sts[0x57]=0x%02X, recv_buf[0x57]=0x%02X\n"),
       TWO(0x56, 0x57)}},
     nullptr},
    {22, {0x5C, 0x5D}, 2, 0xFF,
     {{CONFIRMED("exposure window size change:scam_sts[0x5C]=0x%02X, recv_buf[0x5C]=0x%02X, "
                 "scam_sts[0x5D]=0x%02X, recv_buf[0x5D]=0x%02X\n"),
       TWO(0x5C, 0x5D)}},
     {{UNCONFIRMED("exposure window size:scam_sts[0x5C]=0x%02X, recv_buf[0x5C]=0x%02X, "
                   "scam_sts[0x5D]=0x%02X, recv_buf[0x5D]=0x%02X\n"),
       TWO(0x5C, 0x5D)}},
     nullptr},
    {23, {0x4F}, 1, 0xFF,
     {{CONFIRMED("AGC limit / Max Gain: scam_sts[0x4f]=0x%02X, recv_buf[0x4f]=0x%02X\n"), ONE(0x4F)}},
     {{UNCONFIRMED("AGC limit / Max Gain: scam_sts[0x4f]=0x%02X, recv_buf[0x4f]=0x%02X\n"), ONE(0x4F)}}, nullptr},
    {24, {0x70}, 1, 0xFF,
     {{CONFIRMED("White Balance Mode: scam_sts[0x70]=0x%02X, recv_buf[0x70]=0x%02X\n"), ONE(0x70)}},
     {{UNCONFIRMED("White Balance Mode: scam_sts[0x70]=0x%02X, recv_buf[0x70]=0x%02X\n"), ONE(0x70)}}, nullptr},
    {25, {0x70}, 1, 0xFF,
     {{CONFIRMED("White Balance Mode set to Manual: scam_sts[0x70]=0x%02X, recv_buf[0x70]=0x%02X\n"), ONE(0x70)}},
     {{UNCONFIRMED("White Balance Mode set to Manual: scam_sts[0x70]=0x%02X, recv_buf[0x70]=0x%02X\n"), ONE(0x70)}},
     nullptr},
    {26, {0x6C, 0x6D, 0x6E, 0x6F}, 4, 0xFF,
     {{CONFIRMED("White Balance R Gain: scam_sts[0x6C6D]=0x%02X%02X, recv_buf[0x6C6D]=0x%02X%02X\n"), {0x6C, 0x6D},
       2, Layout::GROUPED},
      {CONFIRMED("White Balance B Gain: scam_sts[0x6E6F]=0x%02X%02X, recv_buf[0x6E6F]=0x%02X%02X\n"), {0x6E, 0x6F},
       2, Layout::GROUPED}},
     {{UNCONFIRMED("White Balance R Gain: scam_sts[0x6C6D]=0x%02X%02X, recv_buf[0x6C6D]=0x%02X%02X\n"),
       {0x6C, 0x6D}, 2, Layout::GROUPED},
      {UNCONFIRMED("White Balance B Gain: scam_sts[0x6E6F]=0x%02X%02X, recv_buf[0x6E6F]=0x%02X%02X\n"),
       {0x6E, 0x6F}, 2, Layout::GROUPED}},
     nullptr},
    {27, {0x80}, 1, 0xFF,
     {{CONFIRMED("Sharpness: scam_sts[0x80]=0x%02X, recv_buf[0x80]=0x%02X\n"), ONE(0x80)}},
     {{UNCONFIRMED("Sharpness: scam_sts[0x80]=0x%02X, recv_buf[0x80]=0x%02X\n"), ONE(0x80)}}, nullptr},
    {28, {0x84}, 1, 0xFF,
     {{CONFIRMED("Noise Reduction: scam_sts[0x84]=0x%02X, recv_buf[0x84]=0x%02X\n"), ONE(0x84)}},
     {{UNCONFIRMED("Noise Reduction: scam_sts[0x84]=0x%02X, recv_buf[0x84]=0x%02X\n"), ONE(0x84)}}, nullptr},
    {29, {0x82}, 1, 0xFF,
     {{CONFIRMED("Color Level: scam_sts[0x82]=0x%02X, recv_buf[0x82]=0x%02X\n"), ONE(0x82)}},
     {{UNCONFIRMED("Color Level: scam_sts[0x82]=0x%02X, recv_buf[0x82]=0x%02X\n"), ONE(0x82)}}, nullptr},
    // The confirmed line shows the two saved bytes only (they equal the
    // received ones).
    {30, {0x16, 0x17}, 2, 0xFF,
     {{CONFIRMED("Capture Mode change: scam_sts[0x16]=0x%02X, scam_sts[0x17]=0x%02X\n"), {0x16, 0x17}, 2,
       Layout::GROUPED}},
     {{"DEBUG:optad:main_loop - Couldn't confirm Capture Mode: scam_sts[0x16]=0x%02X, scam_sts[0x17]=0x%02X, "
       "recv_buf[0x16]=0x%02X, recv_buf[0x17]=0x%02X\n",
       {0x16, 0x17}, 2, Layout::GROUPED}},
     capture_mode_confirmed},
    {31, {0x20}, 1, 0xFF,
     {{CONFIRMED("Focus mode change: scam_sts[0x20]=0x%02X, recv_buf[0x20]=0x%02X\n"), ONE(0x20)}},
     {{UNCONFIRMED("Focus mode: scam_sts[0x20]=0x%02X, recv_buf[0x20]=0x%02X\n"), ONE(0x20)}},
     focus_mode_confirmed},
    {32, {0x2B, 0x2C}, 2, 0xFF,
     {{CONFIRMED("FocusWindow: scam_sts[0x2B]=0x%02X,recv_buf[0x2B]=0x%02X,scam_sts[0x2C]=0x%02X, "
                 "recv_buf[0x2C]=0x%02X\n"),
       TWO(0x2B, 0x2C)}},
     {{UNCONFIRMED("FocusWindow: scam_sts[0x2B]=0x%02X,recv_buf[0x2B]=0x%02X,scam_sts[0x2C]=0x%02X, "
                   "recv_buf[0x2C]=0x%02X\n"),
       TWO(0x2B, 0x2C)}},
     nullptr},
    {33, {0x2D, 0x2E}, 2, 0xFF,
     {{CONFIRMED("FocusWindowSize: scam_sts[0x2D]=0x%02X,recv_buf[0x2D]=0x%02X,scam_sts[0x2E]=0x%02X, "
                 "recv_buf[0x2E]=0x%02X\n"),
       TWO(0x2D, 0x2E)}},
     {{UNCONFIRMED("FocusWindowSize: scam_sts[0x2D]=0x%02X,recv_buf[0x2D]=0x%02X,scam_sts[0x2E]=0x%02X, "
                   "recv_buf[0x2E]=0x%02X\n"),
       TWO(0x2D, 0x2E)}},
     nullptr},
    {35, {0x67}, 1, 0xFF,
     {{CONFIRMED("Image Stabilizer Mode: scam_sts[0x67]=0x%02X, recv_buf[0x67]=0x%02X\n"), ONE(0x67)}},
     {{UNCONFIRMED("Image Stabilizer Mode: scam_sts[0x67]=0x%02X, recv_buf[0x67]=0x%02X\n"), ONE(0x67)}},
     stabilizer_confirmed},
    // Only the wavelength code in the high nibble is compared; the lines
    // show the whole received byte.
    {42, {0x2F}, 1, 0xF0,
     {{CONFIRMED("IR Focus Correction: scam_sts[0x2F]=0x%02X,recv_buf[0x2F]=0x%02X\n"), ONE(0x2F)}},
     {{UNCONFIRMED("IR Focus Correction: scam_sts[0x2F]=0x%02X,recv_buf[0x2F]=0x%02X\n"), ONE(0x2F)}}, nullptr},
    {36, {0x60}, 1, 0xFF,
     {{CONFIRMED("Auto Day/Night mode: scam_sts[0x60]=0x%02X, recv_buf[0x60]=0x%02X\n"), ONE(0x60)}},
     {{UNCONFIRMED("Auto Day/Night mode: scam_sts[0x60]=0x%02X, recv_buf[0x60]=0x%02X\n"), ONE(0x60)}}, nullptr},
    {37, {0x66}, 1, 0xFF,
     {{CONFIRMED("Day/Night mode: scam_sts[0x66]=0x%02X, recv_buf[0x66]=0x%02X\n"), ONE(0x66)}},
     {{UNCONFIRMED("Day/Night mode: scam_sts[0x66]=0x%02X, recv_buf[0x66]=0x%02X\n"), ONE(0x66)}},
     day_night_confirmed},
    {38, {0x62}, 1, 0xFF,
     {{CONFIRMED("Switching brightness: scam_sts[0x62]=0x%02X, recv_buf[0x62]=0x%02X\n"), ONE(0x62)}},
     {{UNCONFIRMED("Switching brightness: scam_sts[0x62]=0x%02X, recv_buf[0x62]=0x%02X\n"), ONE(0x62)}}, nullptr},
    {39, {0x63}, 1, 0xFF,
     {{CONFIRMED("Time of Day/Night filter: scam_sts[0x63]=0x%02X, recv_buf[0x63]=0x%02X\n"), ONE(0x63)}},
     {{UNCONFIRMED("Time of Day/Night filter: scam_sts[0x63]=0x%02X, recv_buf[0x63]=0x%02X\n"), ONE(0x63)}},
     nullptr},
    // Compared at 0x15; the lines show the lens and protector bytes.
    {40, {0x15}, 1, 0xFF,
     {{CONFIRMED("Sunlight Protection change: scam_sts[0x12-13-15]=0x%02X-%02X-%02X, "
                 "recv_buf[0x12-13-15]=0x%02X-%02X-%02X\n"),
       {0x12, 0x13, 0x15}, 3, Layout::GROUPED}},
     {{"DEBUG:optad:main_loop:check_sent_param - Couldn't confirm Sunlight Protection: "
       "scam_sts[0x12-13-15]=0x%02X-%02X-%02X, recv_buf[0x12-13-15]=0x%02X-%02X-%02X\n",
       {0x12, 0x13, 0x15}, 3, Layout::GROUPED}},
     protector_confirmed},
    {41, {0x9E}, 1, 0xFF,
     {{CONFIRMED("Notify Rotate Image: scam_sts[0x9E]=0x%02X, recv_buf[0x9E]=0x%02X\n"), ONE(0x9E)}},
     {{UNCONFIRMED("Notify Rotate Image: scam_sts[0x9E]=0x%02X, recv_buf[0x9E]=0x%02X\n"), ONE(0x9E)}}, nullptr},
    {43, {0x86}, 1, 0xFF,
     {{CONFIRMED("WDR Mode: scam_sts[0x86]=0x%02X, recv_buf[0x86]=0x%02X\n"), ONE(0x86)}},
     {{UNCONFIRMED("WDR Mode: scam_sts[0x86]=0x%02X, recv_buf[0x86]=0x%02X\n"), ONE(0x86)}}, nullptr},
    {44, {0x87}, 1, 0xFF,
     {{CONFIRMED("WDR Level: scam_sts[0x87]=0x%02X, recv_buf[0x87]=0x%02X\n"), ONE(0x87)}},
     {{UNCONFIRMED("WDR Level: scam_sts[0x87]=0x%02X, recv_buf[0x87]=0x%02X\n"), ONE(0x87)}}, nullptr},
    {45, {0x8A}, 1, 0xFF,
     {{CONFIRMED("Vignetting Correction: scam_sts[0x8A]=0x%02X, recv_buf[0x8A]=0x%02X\n"), ONE(0x8A)}},
     {{UNCONFIRMED("Vignetting Correction: scam_sts[0x8A]=0x%02X, recv_buf[0x8A]=0x%02X\n"), ONE(0x8A)}}, nullptr},
    {46, {0x8B}, 1, 0xFF,
     {{CONFIRMED("Aberration Correction: scam_sts[0x8B]=0x%02X, recv_buf[0x8B]=0x%02X\n"), ONE(0x8B)}},
     {{UNCONFIRMED("Aberration Correction: scam_sts[0x8B]=0x%02X, recv_buf[0x8B]=0x%02X\n"), ONE(0x8B)}}, nullptr},
};

#undef CONFIRMED
#undef UNCONFIRMED
#undef ONE
#undef TWO

bool matches(const ConfirmRow &row, const uint8_t *recv)
{
    for (size_t i = 0; i < row.compare_count; i++) {
        uint8_t off = row.compare[i];
        if (scam_sts[off] != (recv[off] & row.recv_mask))
            return false;
    }
    return true;
}

// A line shows no more bytes than its offsets give.
consteval bool lines_fit_their_offsets()
{
    for (const ConfirmRow &row : confirm_rows) {
        for (const LogLine &line : {row.confirmed[0], row.confirmed[1], row.unconfirmed[0], row.unconfirmed[1]}) {
            if (line.format.count() > 2 * line.count)
                return false;
        }
    }
    return true;
}
static_assert(lines_fit_their_offsets());

void log_lines(const LogLine (&lines)[2], const uint8_t *recv)
{
    for (const LogLine &line : lines) {
        if (line.format.text() == nullptr)
            return;
        unsigned v[LINE_VALUES_MAX] = {};
        for (size_t i = 0; i < line.count; i++) {
            uint8_t off = line.offsets[i];
            if (line.layout == Layout::PAIRS) {
                v[2 * i] = scam_sts[off];
                v[2 * i + 1] = recv[off];
            } else {
                v[i] = scam_sts[off];
                v[line.count + i] = recv[off];
            }
        }
        log_line(LOG_DEBUG, line.format, v);
    }
}

}  // namespace

void check_sent_param()
{
    const uint8_t *recv = spi_recv_buffer();
    bool verbose = log_verbose();
    for (const ConfirmRow &row : confirm_rows) {
        JobRecord &record = job_records[row.job];
        if (!record.pending)
            continue;
        if (matches(row, recv)) {
            bool done = row.follow_up == nullptr || row.follow_up();
            if (done) {
                record.pending = 0;
                record.tries = 0;
            }
            if (verbose)
                log_lines(row.confirmed, recv);
        } else if (wait_or_retry_command(row.job) != 0 && verbose) {
            log_lines(row.unconfirmed, recv);
        }
    }
}

}  // namespace optad
