// The IMC's status replies, whatever their bytes, through the whole status
// path: the fault checks with their timers, the poll rate, the
// confirmations of the parameter jobs in flight, the exposure-settle watch
// and, by daemon state, the module's own changes with everything they
// publish (parameters, jobs, the data cache, the temperature file, the
// stabilizer time, the lens status cache) or the start-up sync. Between two
// polls the parameter jobs queued meanwhile are sent as the main loop sends
// them, so that their confirmations and resends follow the replies. The
// devices are the test fakes and time is virtual, so a run takes no sleep
// however long the timers.
//
// Input: a header, then up to five 512-byte blocks (missing bytes are 0).
//   byte 0-4  which parameter jobs 12..47 are in flight (bit n: job 12+n);
//             they are sent first
//   byte 5    the gap between two polls, (b + 1) x 250 ms
//   byte 6    the image stabilizer: 0 off, else running for b minutes
//   byte 7    the daemon state: running, or (b % 4 of 1, 2) the start-up
//             sync about to begin or waiting for its confirmations
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
#include "params/send_param.h"
#include "params/status_check.h"
#include "params/status_monitor.h"
#include "platform/clock.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/imc/fake_hw.h"
#include "video/datacache.h"

#include <unistd.h>

#include <algorithm>
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

// The main loop's turn between two polls: every parameter job queued
// meanwhile goes out over the fake link (both link buffers cleared first,
// REQ raised for it); any other job (a fault's restart, the stream wait)
// would take the module out of this path and is left alone.
void run_queued_jobs(test::FakeHardware &hw)
{
    int job = 0;
    while (job_list_take(&job)) {
        if (!job_is_param(job))
            continue;
        std::memset(spi_send_buffer(), 0, SPI_BUFFER_SIZE);
        std::memset(spi_recv_buffer(), 0, SPI_BUFFER_SIZE);
        hw.pins.req_edge(0);
        hw.pins.req_edge(1);
        send_param(job);
    }
}

// The daemon with its parameters from defaults, the link open, and the
// state, jobs in flight and stabilizer of the header. Returns the gap
// between two polls.
int64_t start_daemon(InputReader &in, test::FakeHardware &hw)
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
    hw.pins.line("imc_req").value = 1;
    hw.dev.after_imc_transfer = [&hw] { hw.pins.req_edge(1); };
    fuzz_check(spi_open_and_init(nullptr, nullptr) == 0, "the fake link opens");
    std::memset(scam_sts, 0, sizeof scam_sts);
    daemon_state.imc_ready = 1;
    daemon_state.status_polling = 1;

    uint8_t jobs[JOB_MASK_BYTES] = {};
    in.take(jobs, sizeof jobs);
    const int64_t gap_us = (in.byte() + 1) * GAP_UNIT_US;
    const int stabilizer_minutes = in.byte();
    static constexpr int states[] = {OPTAD_STARTUP_DONE, OPTAD_STARTUP_UPDATE_PARAMS, OPTAD_STARTUP_WAIT_UPDATE,
                                     OPTAD_STARTUP_DONE};
    daemon_state.state = states[in.byte() % 4];
    in.take(scam_sts, CAMERA_STATUS_SIZE);

    for (int job = JOB_FIRST_PARAM; job <= JOB_LAST_PARAM; ++job) {
        const int bit = job - JOB_FIRST_PARAM;
        if ((jobs[bit / 8] & (1u << (bit % 8))) != 0)
            queue_job(job, false);
    }
    run_queued_jobs(hw);
    if (stabilizer_minutes != 0) {
        daemon_state.stabilizer_active = 1;
        daemon_state.stabilizer_start_s = clock_now_us() / 1'000'000 - stabilizer_minutes * 60;
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
        const int64_t gap_us = start_daemon(in, hw);

        for (size_t poll = 0; poll < MAX_POLLS && in.left() > 0; ++poll) {
            uint8_t *recv = spi_recv_buffer();
            std::memset(recv, 0, SPI_BUFFER_SIZE);
            in.take(recv, SPI_BUFFER_SIZE);
            const bool empty = std::all_of(recv, recv + SPI_BUFFER_SIZE, [](uint8_t b) { return b == 0; });
            uint8_t saved[CAMERA_STATUS_SIZE];
            std::memcpy(saved, scam_sts, sizeof saved);
            const JobRecordTable records = job_records;
            const int state = daemon_state.state;
            const size_t queued = job_list.size();

            fuzz_check(check_camera_status() == 0, "check_camera_status returns 0");

            // The IMC answers all zeros while it has no status: such a reply
            // is skipped whole.
            if (empty) {
                fuzz_check(job_list.size() == queued && daemon_state.state == state &&
                               std::memcmp(saved, scam_sts, sizeof saved) == 0 &&
                               std::equal(records.begin(), records.end(), job_records.begin(),
                                          [](const JobRecord &a, const JobRecord &b) {
                                              return a.pending == b.pending && a.sent_at == b.sent_at &&
                                                     a.tries == b.tries;
                                          }),
                           "an empty reply changes nothing");
            }
            // The fault checks stop at the first fault: one restart per poll.
            int faults = 0;
            for (size_t i = queued; i < job_list.size(); ++i)
                faults += job_list.at(i) == JT_ERROR || job_list.at(i) == JT_FPGA_ERROR;
            fuzz_check(faults <= 1, "at most one fault per poll");
            // The main loop waits this long before the next poll: never 0,
            // or it would poll the IMC without pause.
            fuzz_check(s_capture.poll_interval_ms > 0, "poll interval is positive");
            fuzz_check(job_list.size() <= JobList::CAPACITY, "job list within its capacity");
            check_temperature_file();
            run_queued_jobs(hw);
            clock_source.advance(gap_us);
        }
        spi_close();
        events_free();
        set_preferred_day_night(nullptr);
        param_reset_for_tests();
        process_state_reset_for_tests();
    }
    clock_set_source(nullptr);
    return 0;
}
