#include "params/settle_watch.h"

#include "config/param_settings.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/status_monitor.h"
#include "platform/clock.h"

#include <cstddef>
#include <cstdint>

namespace optad {

namespace {

constexpr settle_count_row settle_count_table[] = {
    {2, 3, 12},
    {3, 2, 7},
    {0, 1, 4},  // any other mode
};
constexpr size_t SETTLE_COUNT_ROWS = sizeof settle_count_table / sizeof settle_count_table[0];

// The first second after the start always passes; from then on both
// indices steady ends the watch, and 4 s later it ends anyway.
constexpr int64_t SETTLE_MIN_MS = 1000;
constexpr int64_t SETTLE_MAX_AFTER_MIN_MS = 4000;

// One index: the same as last poll adds to its count, and it counts as
// settled at the poll where the count reaches its settle count.
bool index_settled(uint8_t now, int &last, int &unchanged, int settle_count)
{
    if (now == last) {
        ++unchanged;
        return unchanged == settle_count;
    }
    last = now;
    unchanged = 0;
    return false;
}

}  // namespace

const settle_count_row &settle_counts_for(int capture_mode)
{
    for (size_t i = 0; i + 1 < SETTLE_COUNT_ROWS; ++i)
        if (settle_count_table[i].capture_mode == capture_mode)
            return settle_count_table[i];
    return settle_count_table[SETTLE_COUNT_ROWS - 1];
}

void start_exposure_settle_watch()
{
    s_capture.settle_in_progress = 1;
    s_capture.settle_deadline_ms = -1;
}

void exposure_settle_watch()
{
    // The same exposure setting given again over D-Bus.
    if (take_exposure_settle_request())
        start_exposure_settle_watch();
    capture_settings &c = s_capture;
    if (!c.settle_in_progress || job_records[JOB_EXP_MODE].pending)
        return;

    const int64_t now_ms = clock_now_us() / 1000;
    if (c.settle_deadline_ms == -1) {
        const settle_count_row &row = settle_counts_for(param_get_int_value(PARAM_CAPTURE_MODE));
        c.gain_settle_count = row.gain_count;
        c.shutter_settle_count = row.shutter_count;
        c.settle_deadline_ms = now_ms + SETTLE_MIN_MS;
    }

    const uint8_t *recv = spi_recv_buffer();
    bool gain_settled = index_settled(recv[STS_GAIN_INDEX], c.gain_index, c.gain_unchanged, c.gain_settle_count);
    bool shutter_settled =
        index_settled(recv[STS_SHUTTER_INDEX], c.shutter_index, c.shutter_unchanged, c.shutter_settle_count);

    const int64_t past = now_ms - c.settle_deadline_ms;
    if (past >= 1 && (past >= SETTLE_MAX_AFTER_MIN_MS || (gain_settled && shutter_settled))) {
        c.settle_in_progress = 0;
        c.settle_deadline_ms = -1;
        param_set_int_value(PARAM_EXPOSURE_PROGRESS, 0);
    }
}

}  // namespace optad
