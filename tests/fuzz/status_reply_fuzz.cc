// A running module's status replies, whatever their bytes, through the
// whole status path: the fault checks with their timers, the poll rate, the
// confirmations of the parameter jobs in flight, the exposure-settle watch
// and the module's own changes with everything they publish (parameters,
// jobs, the data cache, the temperature file, the stabilizer time, the lens
// status cache). The devices are the test fakes and time is virtual, so a
// run takes no sleep however long the timers.
//
// Input: a header, then up to five 512-byte blocks (missing bytes are 0).
//   byte 0-4  which parameter jobs 12..47 are in flight (bit n: job 12+n);
//             their encoders run first and write what they expect
//   byte 5    the gap between two polls, (b + 1) x 250 ms
//   byte 6    the image stabilizer: 0 off, else running for b minutes
//   block 0   the block the start-up sync saved (scam_sts)
//   block 1.. the replies of the following polls (recv_buf)
#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "dbus/optad_event.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/day_night.h"
#include "params/encoders.h"
#include "params/sdl.h"
#include "params/status_check.h"
#include "params/status_monitor.h"
#include "platform/clock.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/imc/fake_hw.h"
#include "video/datacache.h"

#include <unistd.h>

#include <cstring>
#include <string>

using namespace optad;
using optad::fuzz::InputReader;
using optad::fuzz::fuzz_check;

namespace {

constexpr size_t JOB_MASK_BYTES = 5;
constexpr size_t MAX_POLLS = 4;
constexpr int64_t GAP_UNIT_US = 250'000;
constexpr int64_t CLOCK_START_US = 1'000'000'000;

VirtualClock clock_source;

// The daemon as it is once the start-up sync is done, from defaults.
// Returns the gap between two polls.
int64_t start_running(InputReader &in)
{
    process_state_reset_for_tests();
    sync_objects_create();
    job_queue_reset_for_tests();
    param_reset_for_tests();
    ::unlink((fuzz::fuzz_setup() + OPTAD_CONF_PATH).c_str());
    param_init();
    status_check_reset_for_tests();
    s_capture = capture_settings_initial();
    s_sdl = {};
    set_preferred_day_night(nullptr);
    set_lens_focus_switch(0);
    (void)take_exposure_settle_request();
    open_datacache();
    events_init();
    std::memset(scam_sts, 0, sizeof scam_sts);
    std::memset(spi_recv_buffer(), 0, SPI_BUFFER_SIZE);
    daemon_state.state = OPTAD_STARTUP_DONE;
    daemon_state.imc_ready = 1;
    daemon_state.status_polling = 1;

    uint8_t jobs[JOB_MASK_BYTES] = {};
    in.take(jobs, sizeof jobs);
    const int64_t gap_us = (in.byte() + 1) * GAP_UNIT_US;
    const int stabilizer_minutes = in.byte();
    in.take(scam_sts, CAMERA_STATUS_SIZE);

    const int64_t now = clock_now_us();
    for (int job = JOB_FIRST_PARAM; job <= JOB_LAST_PARAM; ++job) {
        const int bit = job - JOB_FIRST_PARAM;
        if ((jobs[bit / 8] & (1u << (bit % 8))) == 0)
            continue;
        std::memset(spi_send_buffer(), 0, SPI_BUFFER_SIZE);
        if (encode_param_job(job) < 0)
            continue;
        job_records[job] = {1, now, 1};
    }
    if (stabilizer_minutes != 0) {
        daemon_state.stabilizer_active = 1;
        daemon_state.stabilizer_start_s = now / 1'000'000 - stabilizer_minutes * 60;
    }
    return gap_us;
}

// The temperature file holds the last temperature byte the daemon took, as
// a signed decimal without a newline.
void check_temperature_file()
{
    const std::string text = fuzz::read_fixed_file("/var/run/optad/imc_temperature");
    if (text.empty())
        return;
    const int expected = static_cast<int8_t>(scam_sts[STS_TEMPERATURE]);
    fuzz_check(text == std::to_string(expected), "temperature file holds the signed temperature byte");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::fuzz_setup();
    clock_source = VirtualClock(CLOCK_START_US);
    clock_set_source(&clock_source);
    {
        test::FakeHardware hw;
        ::unlink((fuzz::fuzz_setup() + "/var/run/optad/imc_temperature").c_str());
        InputReader in(data, size);
        const int64_t gap_us = start_running(in);

        for (size_t poll = 0; poll < MAX_POLLS && in.left() > 0; ++poll) {
            uint8_t *recv = spi_recv_buffer();
            std::memset(recv, 0, SPI_BUFFER_SIZE);
            in.take(recv, SPI_BUFFER_SIZE);
            fuzz_check(check_camera_status() == 0, "check_camera_status returns 0");
            // The main loop waits this long before the next poll: never 0,
            // or it would poll the IMC without pause.
            fuzz_check(s_capture.poll_interval_ms > 0, "poll interval is positive");
            fuzz_check(job_list.size() <= JobList::CAPACITY, "job list within its capacity");
            check_temperature_file();
            clock_source.advance(gap_us);
        }
        events_free();
        set_preferred_day_night(nullptr);
        param_reset_for_tests();
        process_state_reset_for_tests();
    }
    clock_set_source(nullptr);
    return 0;
}
