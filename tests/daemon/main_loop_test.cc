// The main loop against fake operations: job taking and merging, the job
// handlers with their state changes, pauses and log lines, the idle status
// poll and the wait.
#include "daemon/jobs.h"
#include "daemon/main_loop.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "platform/log.h"
#include "tests/daemon/daemon_fixture.h"

#include <glib/gstdio.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace optad::test {
namespace {

using Jobs = std::vector<int>;
using Args = std::vector<std::pair<int, int>>;

constexpr int64_t SECOND = 1'000'000;

// --- taking jobs ---

class JobTaking : public DaemonTest {
protected:
    void SetUp() override
    {
        DaemonTest::SetUp();
        daemon_state.imc_ready.store(1);
        daemon_state.state = OPTAD_STARTUP_DONE;
    }
};

TEST_F(JobTaking, RepeatedParameterRequestsCollapseIntoOneSend)
{
    std::memset(fakes().send_buf, 0xAA, sizeof fakes().send_buf);
    std::memset(fakes().recv_buf, 0x55, sizeof fakes().recv_buf);
    queue({JOB_SHARPNESS, JOB_SHARPNESS, JOB_SHARPNESS});
    work();
    EXPECT_EQ(fakes().sent, Jobs{JOB_SHARPNESS});
    EXPECT_EQ(fakes().buffers_clear_at_send, std::vector<bool>{true});  // both cleared first
    EXPECT_TRUE(job_list.empty());
}

TEST_F(JobTaking, EveryFocusDriveRequestIsSent)
{
    queue({JOB_FOCUSDRIVE, JOB_FOCUSDRIVE, JOB_FOCUSDRIVE});
    work();
    EXPECT_EQ(fakes().sent, (Jobs{JOB_FOCUSDRIVE, JOB_FOCUSDRIVE, JOB_FOCUSDRIVE}));
}

TEST_F(JobTaking, MergingKeepsTheOrderOfFirstRequests)
{
    queue({JOB_SHARPNESS, JOB_EXP_COMP, JOB_FOCUSDRIVE, JOB_SHARPNESS, JOB_FOCUSDRIVE, JOB_EXP_COMP, JOB_DIAPHRAGM});
    work();
    EXPECT_EQ(fakes().sent, (Jobs{JOB_SHARPNESS, JOB_EXP_COMP, JOB_FOCUSDRIVE, JOB_FOCUSDRIVE, JOB_DIAPHRAGM}));
    EXPECT_EQ(log.count("DEBUG:optad:main_loop - Going to run id=27!\n"), 1);
}

TEST_F(JobTaking, JobTypesRunOncePerEntry)
{
    fakes().shutdown_like_real = false;
    queue({JT_FPGA_ERROR, JT_FPGA_ERROR});
    work();
    // Two FPGA errors, two restarts, two power-ups.
    EXPECT_EQ(fakes().count("shutdown"), 2);
    EXPECT_EQ(fakes().count("power_up"), 2);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop - Going to run id=7!\n"), 2);
}

TEST_F(JobTaking, ParameterJobsAreDroppedWhileTheImcIsNotReady)
{
    daemon_state.imc_ready.store(0);
    queue({JOB_SHARPNESS, JOB_FOCUSDRIVE});
    work();
    EXPECT_TRUE(fakes().sent.empty());
    EXPECT_TRUE(job_list.empty());
    EXPECT_EQ(log.count("DEBUG:optad:main_loop - Received a request for parameter Type=27\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop - Received a request for parameter Type=34\n"), 1);
}

TEST_F(JobTaking, FailedSendEndsThePassAndIsRetriedFirstInTheNext)
{
    // A dropped send (no frame) is not retried; a failed exchange is, at the
    // head of the list, but only after the loop's pause: the pass ends, so
    // that what other threads queued meanwhile is looked at first.
    fakes().send_param = {SEND_PARAM_DROPPED, SEND_PARAM_LINK_FAILED, SEND_PARAM_LINK_FAILED, SEND_PARAM_SENT};
    queue({JOB_GAIN, JOB_SHARPNESS, JOB_EXP_COMP, JOB_SHARPNESS});
    EXPECT_FALSE(work());
    EXPECT_EQ(fakes().sent, (Jobs{JOB_GAIN, JOB_SHARPNESS}));
    EXPECT_EQ(jobs(), (Jobs{JOB_SHARPNESS, JOB_EXP_COMP}));
    work();
    EXPECT_EQ(jobs(), (Jobs{JOB_SHARPNESS, JOB_EXP_COMP}));
    work();
    EXPECT_EQ(fakes().sent, (Jobs{JOB_GAIN, JOB_SHARPNESS, JOB_SHARPNESS, JOB_SHARPNESS, JOB_EXP_COMP}));
    EXPECT_EQ(log.count("ERROR:optad:main_loop - Something wrong with send_param_to_IMC_with_SPI, retry again "
                        "later!\n"),
              2);
    EXPECT_TRUE(jobs().empty());
}

TEST_F(JobTaking, ThreeFailedExchangesInARowAreAnImcError)
{
    // Each step is one pass: a parameter send that fails (f) or works (o),
    // a status poll that fails (s), or a send that fails because POWER_GOOD
    // or INIT_DONE fell (l: the REQ waits are abandoned).
    struct Case {
        const char *steps;
        bool imc_error;
    };
    const Case cases[] = {
        {"fff", true}, {"fsf", true}, {"sss", true}, {"ffoff", false}, {"fsosf", false}, {"lll", false},
        {"fflf", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.steps);
        process_state_reset_for_tests();
        ASSERT_EQ(sync_objects_create(), 0);
        daemon_state.imc_ready.store(1);
        daemon_state.status_polling = 1;
        log.clear();
        for (const char *step = c.steps; *step != '\0'; ++step) {
            job_list.clear();
            if (*step == 'l')
                spi_abandon_req_waits();
            if (*step == 's') {
                fakes().request_camera_status = {-1};
            } else {
                fakes().send_param = {*step == 'o' ? SEND_PARAM_SENT : SEND_PARAM_LINK_FAILED};
                queue({JOB_GAIN});
            }
            work();
            // A lost module's job is not put back: its restart is queued
            // by the listener, and the sync after it sends every parameter.
            if (*step == 'l') {
                EXPECT_TRUE(jobs().empty());
            }
            spi_resume_req_waits();
        }
        const bool error = !jobs().empty() && jobs().front() == JT_ERROR;
        EXPECT_EQ(error, c.imc_error);
        EXPECT_EQ(log.count_containing("times in a row (no REQ or a failed transfer)! The IMC is hung"),
                  c.imc_error ? 1 : 0);
        if (error) {
            // It runs before the job that failed last, and its restart comes
            // before anything else too.
            fakes().send_param = {SEND_PARAM_SENT};
            work();
            EXPECT_EQ(daemon_state.imc_error_count, 1);
            EXPECT_EQ(fakes().count("shutdown"), 1);
        }
        fakes().calls.clear();
    }
}

TEST_F(JobTaking, AClientsFloodOfFocusStepsLeavesRoomForFaultsAndRestarts)
{
    // A client keeps stepping the focus while the main loop waits on a hung
    // IMC: its jobs stop short of the last places, which the job types keep.
    int accepted = 0;
    for (int i = 0; i < 300; i++)
        accepted += queue_param_job(JOB_FOCUSDRIVE) == 0;
    EXPECT_EQ(accepted, 224);
    EXPECT_EQ(queue_job_at_head(JT_ERROR), 0);
    EXPECT_EQ(queue_job(JT_RESTART_IMC, false), 0);
    EXPECT_EQ(queue_param_job(JOB_SHARPNESS), -1);
    EXPECT_EQ(jobs().front(), JT_ERROR);
    EXPECT_EQ(jobs().back(), JT_RESTART_IMC);
}

TEST_F(JobTaking, UnknownIdentifiersAreLoggedAndDropped)
{
    queue({48, 48, -1, 1000, JOB_ONVIF_EXPOSURE_PRIORITY_NORMAL});
    work();
    EXPECT_EQ(log.count("ERROR:optad:main_loop - Received unknown parameter Type=48\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main_loop - Received unknown parameter Type=1000\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main_loop - Received an Handled Job Type=-1\n"), 1);
    EXPECT_EQ(fakes().sent, Jobs{JOB_ONVIF_EXPOSURE_PRIORITY_NORMAL});
    EXPECT_TRUE(job_list.empty());
}

// --- JT_CHECK_POWER ---

class CheckPower : public DaemonTest {};

TEST_F(CheckPower, OutsideWaitPowerOnlyRemovesItselfAndItsDuplicates)
{
    daemon_state.state = OPTAD_STARTUP_DONE;
    queue({JT_CHECK_POWER, JOB_SHARPNESS, JT_CHECK_POWER, JT_CHECK_POWER});
    main_loop_run_job(JT_CHECK_POWER);
    EXPECT_EQ(jobs(), Jobs{JOB_SHARPNESS});
    EXPECT_EQ(fakes().count("has_enough_power"), 0);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_DONE);
    EXPECT_FALSE(log.contains("Going to run id=8"));
}

TEST_F(CheckPower, EnoughPowerQueuesThePowerUp)
{
    queue({JT_CHECK_POWER, JT_CHECK_POWER});
    work();
    EXPECT_EQ(fakes().count("has_enough_power"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:Got enough power!\n"), 1);
    EXPECT_EQ(fakes().count("power_up"), 1);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_INT);
}

TEST_F(CheckPower, AGrantDuringTheCheckStillPowersUpOnce)
{
    // The power budget's answer arrives while the check runs (it queues a
    // check of its own): the module is powered up once, not twice.
    static int calls;
    calls = 0;
    daemon_ops.has_enough_power = [] {
        if (calls++ == 0)
            queue_job(JT_CHECK_POWER, true);
        return 1;
    };
    queue({JT_CHECK_POWER});
    work();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(fakes().count("power_up"), 1);
}

TEST_F(CheckPower, RefusalPausesWithTheMutexFreeAndChecksAgain)
{
    fakes().has_enough_power = {0, 0, 0, 1};
    queue({JT_CHECK_POWER});
    work();
    EXPECT_EQ(fakes().count("has_enough_power"), 4);
    EXPECT_EQ(clock.sleeps, (std::vector<int64_t>{100'000, 100'000, 100'000}));
    EXPECT_EQ(clock.mutex_free_while_sleeping, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(fakes().count("power_up"), 1);
}

TEST_F(CheckPower, RefusalIsLoggedFirstAndEveryHundredthTime)
{
    const std::string line = "DEBUG:optad:main_loop - JT_CHECK_POWER: Still not enough power...\n";
    fakes().has_enough_power.assign(201, 0);
    queue({JT_CHECK_POWER});
    work();
    EXPECT_EQ(log.count(line), 3);  // refusals 1, 101 and 201

    // The count only moves while DEBUG logging is on.
    log.clear();
    log_set_verbose(false);
    fakes().has_enough_power.assign(99, 0);
    daemon_state.state = OPTAD_STARTUP_WAIT_POWER;
    queue({JT_CHECK_POWER});
    work();
    log_set_verbose(true);
    fakes().has_enough_power = {0};
    daemon_state.state = OPTAD_STARTUP_WAIT_POWER;
    queue({JT_CHECK_POWER});
    work();
    EXPECT_EQ(log.count(line), 0);  // refusal 202 with DEBUG on
    fakes().has_enough_power.assign(99, 0);
    daemon_state.state = OPTAD_STARTUP_WAIT_POWER;
    queue({JT_CHECK_POWER});
    work();
    EXPECT_EQ(log.count(line), 1);  // refusal 301 counted with DEBUG on
}

// --- JT_POWER_UP_SEQ ---

class PowerUp : public DaemonTest {};

TEST_F(PowerUp, FiveFailuresRetryFourTimesThenGiveUpForGood)
{
    fakes().power_up = {-1, -1, -1, -1, -1};
    queue({JT_POWER_UP_SEQ});
    work();

    EXPECT_EQ(fakes().power_up_args, (Args{{0, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}));
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_POWER_UP_SEQ - IMC power up sequence failed!\n"), 5);
    for (int n = 1; n <= 4; n++) {
        EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_POWER_UP_SEQ - Retry startup sequence again! Retry number=" +
                            std::to_string(n) + "\n"),
                  1);
    }
    EXPECT_FALSE(log.contains("Retry number=5"));
    EXPECT_EQ(fakes().shutdown_args, (Args{{0, 0}, {0, 0}, {0, 0}, {0, 0}}));
    EXPECT_EQ(clock.sleeps, (std::vector<int64_t>(4, 3 * SECOND)));
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_POWER_UP_SEQ - IMC startup sequence failed even after 5 "
                        "retries!\n"),
              1);
    // Each retry comes after the shutdown that follows the failed attempt.
    std::vector<std::string> expected;
    for (int i = 0; i < 4; i++) {
        expected.insert(expected.end(), {"power_up", "shutdown"});
    }
    expected.push_back("power_up");
    EXPECT_EQ(fakes().calls, expected);
    EXPECT_TRUE(job_list.empty());
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_POWERUP);
    EXPECT_EQ(daemon_state.imc_ready.load(), 0);

    // A later power-up job does nothing but reset the state.
    job_records[JOB_GAIN].pending = 1;
    queue({JT_POWER_UP_SEQ});
    work();
    EXPECT_EQ(fakes().count("power_up"), 5);
    EXPECT_EQ(job_records[JOB_GAIN].pending, 0);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_POWERUP);
}

TEST_F(PowerUp, NormalBootFailureRetriesInSafeModeUntilSuccess)
{
    daemon_state.first_power_up = 0;
    daemon_state.imc_restart = 1;
    fakes().power_up = {-2, 0};
    queue({JT_POWER_UP_SEQ});
    work();
    EXPECT_EQ(fakes().power_up_args, (Args{{0, 1}, {1, 1}}));
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_POWER_UP_SEQ:SAFE_MODE - IMC power up sequence failed! Retry "
                        "with Safe Mode!\n"),
              1);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_POWER_UP_SEQ:SAFE_MODE - Retry startup sequence again! Retry "
                        "number=1\n"),
              1);
    EXPECT_EQ(fakes().shutdown_args, (Args{{1, 0}}));
    EXPECT_EQ(daemon_state.safe_mode, 0);
    EXPECT_EQ(daemon_state.imc_restart, 0);
    EXPECT_EQ(daemon_state.power_up_retry_count, 0);
    EXPECT_EQ(daemon_state.imc_ready.load(), 1);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_INT);
}

TEST_F(PowerUp, SafeModeBootWithStatusReplyGoesToTheUpgrade)
{
    daemon_state.safe_mode = 1;
    fakes().power_up = {-3};
    main_loop_run_job(JT_POWER_UP_SEQ);
    EXPECT_EQ(fakes().calls, (std::vector<std::string>{"power_up", "request_camera_status"}));
    EXPECT_EQ(jobs(), Jobs{JT_PERFORM_FIRM_UP});
    EXPECT_EQ(daemon_state.safe_mode, 0);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_POWERUP);
    EXPECT_EQ(daemon_state.imc_ready.load(), 0);
}

TEST_F(PowerUp, SafeModeBootWithoutStatusReplyRetries)
{
    fakes().power_up = {-3, 0};
    fakes().request_camera_status = {-1};
    main_loop_run_job(JT_POWER_UP_SEQ);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_POWER_UP_SEQ:SAFE_MODE - Something went wrong when requesting "
                        "Camera Status!\n"),
              1);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_POWER_UP_SEQ:SAFE_MODE - Retry startup sequence again! Retry "
                        "number=1\n"),
              1);
    EXPECT_EQ(fakes().count("shutdown"), 1);
    EXPECT_EQ(clock.sleeps, std::vector<int64_t>{3 * SECOND});
    EXPECT_EQ(fakes().count("power_up"), 2);
    EXPECT_TRUE(job_list.empty());
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_INT);
}

TEST_F(PowerUp, NotEnoughPowerWaitsForPowerAgain)
{
    fakes().power_up = {-4};
    main_loop_run_job(JT_POWER_UP_SEQ);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_POWER);
    EXPECT_EQ(jobs(), Jobs{JT_CHECK_POWER});
    EXPECT_EQ(daemon_state.power_up_retry_count, 0);
    EXPECT_EQ(fakes().count("shutdown"), 0);
}

TEST_F(PowerUp, StartClearsRecordsAndReadiness)
{
    daemon_state.imc_ready.store(1);
    job_records[JOB_SHARPNESS] = {1, 123, 4};
    fakes().power_up = {-4};
    main_loop_run_job(JT_POWER_UP_SEQ);
    EXPECT_EQ(job_records[JOB_SHARPNESS].pending, 0);
    EXPECT_EQ(job_records[JOB_SHARPNESS].sent_at, 0);
    EXPECT_EQ(job_records[JOB_SHARPNESS].tries, 0);
    EXPECT_EQ(daemon_state.imc_ready.load(), 0);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:JT_POWER_UP_SEQ - OPTAD state changed to OPTAD_STARTUP_POWERUP\n"),
              1);
}

TEST_F(PowerUp, AModuleLeftPoweredByAnEarlierRunIsShutDownFirst)
{
    // Only the process's first power-up looks: later ones follow a shutdown
    // of the daemon's own.
    struct Case {
        int first, powered;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {1, 1, {"shutdown", "power_up"}},
        {1, 0, {"power_up"}},
        {0, 1, {"power_up"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + std::to_string(c.powered));
        fakes().calls.clear();
        fakes().shutdown_args.clear();
        clock.sleeps.clear();
        daemon_state.first_power_up = c.first;
        fakes().module_powered = c.powered;
        main_loop_run_job(JT_POWER_UP_SEQ);
        EXPECT_EQ(fakes().calls, c.calls);
        if (c.calls.size() == 2) {
            // With the heart-beat and marker checks skipped, like the first
            // power-up itself, and the IMC reset; then the restart's pause.
            EXPECT_EQ(fakes().shutdown_args, (std::vector<std::pair<int, int>>{{1, 0}}));
            EXPECT_EQ(clock.sleeps, std::vector<int64_t>{3 * SECOND});
        }
        EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_INT);
    }
}

// --- interrupt, firmware check and upgrade, stream ---

class StartupJobs : public DaemonTest {};

TEST_F(StartupJobs, TheFirstInterruptIsWaitedForTenSecondsAtMost)
{
    main_loop_run_job(JT_POWER_UP_SEQ);
    ASSERT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_INT);
    // Nothing comes: the loop's wait ends at the deadline (not never), and
    // the firmware check starts as if the interrupt had come.
    const int64_t start = clock.now_us();
    main_loop_run_once();
    EXPECT_EQ(clock.now_us() - start, 10 * SECOND);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_INT);
    main_loop_work();
    EXPECT_EQ(log.count("ERROR:optad:main_loop - No interrupt from the IMC within 10 s of its power-up! Checking "
                        "its firmware anyway\n"),
              1);
    EXPECT_EQ(fakes().count("check_firmware_version"), 1);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_UPDATE_PARAMS);
}

TEST_F(StartupJobs, FirstInterruptAfterPowerUpStartsTheFirmwareCheck)
{
    daemon_state.state = OPTAD_STARTUP_WAIT_INT;
    main_loop_run_job(JT_I2N_INT);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_CHECK_FIRM);
    EXPECT_EQ(jobs(), Jobs{JT_CHECK_FIRM_UP});

    for (int state : {OPTAD_STARTUP_WAIT_POWER, OPTAD_STARTUP_POWERUP, OPTAD_STARTUP_CHECK_FIRM,
                      OPTAD_STARTUP_UPDATE_PARAMS, OPTAD_STARTUP_WAIT_UPDATE, OPTAD_STARTUP_DONE}) {
        job_list.clear();
        daemon_state.state = state;
        main_loop_run_job(JT_I2N_INT);
        EXPECT_EQ(daemon_state.state, state);
        EXPECT_TRUE(job_list.empty());
    }
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:JT_I2N_INT - Received IMC Interrupt! => Need to check information "
                        "in next Camera Status\n"),
              7);
}

TEST_F(StartupJobs, CurrentFirmwareWritesTheStatusFileAndStartsPolling)
{
    ASSERT_EQ(g_mkdir_with_parents(root.path("/var/run/optad").c_str(), 0755), 0);
    root.write("/var/run/optad/imc_status", "SOMETHING MUCH LONGER FROM BEFORE");
    daemon_state.state = OPTAD_STARTUP_CHECK_FIRM;
    fakes().check_firmware_version_result = -2;
    main_loop_run_job(JT_CHECK_FIRM_UP);

    bool exists = false;
    EXPECT_EQ(root.read("/var/run/optad/imc_status", &exists), "FIRMWARE_UP_TO_DATE");
    EXPECT_TRUE(exists);
    struct stat st {};
    ASSERT_EQ(stat(root.path("/var/run/optad/imc_status").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // Nothing but the file itself is left in the directory.
    GDir *dir = g_dir_open(root.path("/var/run/optad").c_str(), 0, nullptr);
    ASSERT_NE(dir, nullptr);
    int entries = 0;
    while (g_dir_read_name(dir) != nullptr)
        entries++;
    g_dir_close(dir);
    EXPECT_EQ(entries, 1);

    EXPECT_EQ(fakes().overlay_args, (Args{{2, 0}}));
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_UPDATE_PARAMS);
    EXPECT_EQ(daemon_state.status_polling, 1);
    EXPECT_TRUE(job_list.empty());
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - IMC firmware is already the latest firmware!\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:JT_CHECK_FIRM_UP - OPTAD state changed to "
                        "OPTAD_STARTUP_UPDATE_PARAMS\n"),
              1);
}

TEST_F(StartupJobs, FailedFirmwareCheckCountsAsCurrent)
{
    ASSERT_EQ(g_mkdir_with_parents(root.path("/var/run/optad").c_str(), 0755), 0);
    fakes().check_firmware_version_result = -1;
    main_loop_run_job(JT_CHECK_FIRM_UP);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_CHECK_FIRM_UP - Firmware version check failed!\n"), 1);
    EXPECT_EQ(root.read("/var/run/optad/imc_status"), "FIRMWARE_UP_TO_DATE");
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_UPDATE_PARAMS);
    EXPECT_EQ(daemon_state.status_polling, 1);
}

TEST_F(StartupJobs, UnwritableStatusFileIsLoggedAndStartupGoesOn)
{
    // No /var/run/optad in the sandbox.
    main_loop_run_job(JT_CHECK_FIRM_UP);
    EXPECT_EQ(log.count("OPTAD failed to open /var/run/optad/imc_status: 2"), 1);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_UPDATE_PARAMS);
    EXPECT_EQ(daemon_state.status_polling, 1);
    EXPECT_EQ(fakes().overlay_args, (Args{{2, 0}}));
}

TEST_F(StartupJobs, DifferentFirmwareQueuesTheUpgrade)
{
    for (int result : {0, 1}) {
        job_list.clear();
        daemon_state.state = OPTAD_STARTUP_CHECK_FIRM;
        fakes().check_firmware_version_result = result;
        main_loop_run_job(JT_CHECK_FIRM_UP);
        EXPECT_EQ(jobs(), Jobs{JT_PERFORM_FIRM_UP});
        EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_CHECK_FIRM);
        EXPECT_EQ(daemon_state.status_polling, 0);
    }
    EXPECT_TRUE(fakes().overlay_args.empty());
    bool exists = true;
    root.read("/var/run/optad/imc_status", &exists);
    EXPECT_FALSE(exists);
}

TEST_F(StartupJobs, FailedUpgradeStillCompletesAndRestarts)
{
    fakes().firmware_upgrade_result = -1;
    main_loop_run_job(JT_PERFORM_FIRM_UP);
    EXPECT_EQ(fakes().calls, (std::vector<std::string>{"overlay_set_condition", "firmware_upgrade"}));
    EXPECT_EQ(fakes().overlay_args, (Args{{2, 1}}));
    EXPECT_EQ(log.count("Image Chip is being upgraded...\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_PERFORM_FIRM_UP - IMC firmware upgrade failed\n"), 1);
    auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().text, "Image Chip upgrade completed!\n");
    EXPECT_EQ(lines.back().priority, LOG_INFO);
    EXPECT_EQ(daemon_state.imc_restart, 1);
    EXPECT_EQ(daemon_state.skip_reset, 1);
    EXPECT_EQ(jobs(), Jobs{JT_RESTART_IMC});
}

TEST_F(StartupJobs, StreamWait)
{
    daemon_state.state = OPTAD_STARTUP_WAIT_UPDATE;
    fakes().wait_for_dtct_strm_result = -1;
    main_loop_run_job(JT_WAIT_STREAM);
    EXPECT_EQ(jobs(), Jobs{JT_RESTART_IMC});
    EXPECT_TRUE(fakes().black_video_args.empty());
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_UPDATE);

    job_list.clear();
    fakes().wait_for_dtct_strm_result = 0;
    main_loop_run_job(JT_WAIT_STREAM);
    EXPECT_TRUE(job_list.empty());
    EXPECT_EQ(fakes().black_video_args, std::vector<int>{0});
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_DONE);
    EXPECT_EQ(log.count("DEBUG:optad:main_loop:JT_WAIT_STREAM - OPTAD state changed to OPTAD_STARTUP_DONE\n"), 1);
}

// --- restart and errors ---

class Recovery : public DaemonTest {
protected:
    void SetUp() override
    {
        DaemonTest::SetUp();
        daemon_state.state = OPTAD_STARTUP_DONE;
        daemon_state.imc_ready.store(1);
        daemon_state.status_polling = 1;
    }
};

TEST_F(Recovery, RestartClosesTheGateStopsPollingAndPowersUpAgain)
{
    daemon_state.skip_reset = 1;
    queue({JOB_SHARPNESS});  // discarded by the shutdown
    main_loop_run_job(JT_RESTART_IMC);

    EXPECT_TRUE(imc_gate_is_closed());
    EXPECT_EQ(fakes().calls, (std::vector<std::string>{"shutdown"}));
    EXPECT_EQ(fakes().shutdown_args, (Args{{0, 1}}));
    EXPECT_EQ(daemon_state.skip_reset, 0);
    EXPECT_EQ(daemon_state.imc_ready.load(), 0);
    EXPECT_EQ(daemon_state.status_polling, 0);
    EXPECT_EQ(clock.sleeps, std::vector<int64_t>{3 * SECOND});
    EXPECT_EQ(jobs(), Jobs{JT_POWER_UP_SEQ});
    EXPECT_FALSE(log.contains("shut down failed"));

    // A second restart while the gate is closed changes nothing about it.
    fakes().shutdown_result = -1;
    main_loop_run_job(JT_RESTART_IMC);
    EXPECT_TRUE(imc_gate_is_closed());
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_RESTART_IMC - IMC shut down failed\n"), 1);
    imc_gate_open();
    EXPECT_FALSE(imc_gate_is_closed());
}

TEST_F(Recovery, ErrorLogsTheStatusBytesAndRestarts)
{
    fakes().recv_buf[0x90] = 0x12;
    fakes().recv_buf[0x91] = 0x34;
    fakes().recv_buf[0x92] = 0x78;
    fakes().recv_buf[0x93] = 0x56;
    main_loop_run_job(JT_ERROR);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_ERROR - Image Error Status = 0x12\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_ERROR - Power Error Status = 0x34\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_ERROR - IMC Log Status = 0x5678\n"), 1);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_ERROR - Received error status from IMC! Restarting Image Chip "
                        "(IMC)..."),
              1);
    EXPECT_EQ(jobs(), Jobs{JT_RESTART_IMC});
    EXPECT_EQ(daemon_state.imc_error_count, 1);
    EXPECT_EQ(daemon_state.status_polling, 1);
}

TEST_F(Recovery, FifthErrorStopsTheModuleForGood)
{
    for (int i = 1; i <= 4; i++) {
        job_list.clear();
        main_loop_run_job(JT_ERROR);
        EXPECT_EQ(jobs(), Jobs{JT_RESTART_IMC}) << "error " << i;
    }
    EXPECT_EQ(fakes().count("shutdown"), 0);
    job_list.clear();
    daemon_state.imc_restart = 1;
    main_loop_run_job(JT_ERROR);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_ERROR - Image Chip (IMC) has failed 5 times!\n"), 1);
    EXPECT_EQ(fakes().shutdown_args, (Args{{1, 0}}));
    EXPECT_EQ(daemon_state.status_polling, 0);
    EXPECT_TRUE(job_list.empty());
    EXPECT_FALSE(log.contains("shut down failed"));

    // From now on: no poll, parameter jobs dropped, the power check idle.
    queue({JOB_SHARPNESS, JT_CHECK_POWER});
    EXPECT_FALSE(work());
    EXPECT_EQ(fakes().count("request_camera_status"), 0);
    EXPECT_TRUE(fakes().sent.empty());
    EXPECT_EQ(fakes().count("has_enough_power"), 0);

    // A further error shuts down again and does not restart either.
    fakes().shutdown_result = -1;
    main_loop_run_job(JT_ERROR);
    EXPECT_EQ(log.count("ERROR:optad:main_loop:JT_ERROR - IMC shut down failed\n"), 1);
    EXPECT_TRUE(job_list.empty());
}

TEST_F(Recovery, FpgaErrorRestartsWithoutCountingAsImcError)
{
    main_loop_run_job(JT_FPGA_ERROR);
    EXPECT_EQ(jobs(), Jobs{JT_RESTART_IMC});
    EXPECT_EQ(daemon_state.imc_error_count, 0);
}

// --- diagnostics ---

TEST_F(DaemonTest, DiagnosticJobs)
{
    queue({JT_TEST_PRINT_CAMERA_STATUS, JT_TEST_READ_CHUNK_DATACACHE, JT_TEST_READ_FPGA});
    work();
    EXPECT_EQ(fakes().calls, (std::vector<std::string>{"request_camera_status", "print_camera_status",
                                                       "test_read_chunk_datacache", "print_fpga_status"}));
    fakes().calls.clear();
    fakes().request_camera_status = {-1};
    main_loop_run_job(JT_TEST_PRINT_CAMERA_STATUS);
    EXPECT_EQ(fakes().calls, std::vector<std::string>{"request_camera_status"});
    EXPECT_EQ(log.count("ERROR:optad:test_print_camera_status - Something went wrong when requesting Camera "
                        "Status!\n"),
              1);
}

// --- idle poll and wait ---

class IdlePoll : public DaemonTest {};

TEST_F(IdlePoll, PollsOnlyWhileReadyAndPolling)
{
    struct Case {
        int ready, polling;
        bool polls;
    };
    for (Case c : {Case{0, 0, false}, Case{1, 0, false}, Case{0, 1, false}, Case{1, 1, true}}) {
        fakes().calls.clear();
        daemon_state.imc_ready.store(c.ready);
        daemon_state.status_polling = c.polling;
        EXPECT_EQ(work(), c.polls);
        EXPECT_EQ(fakes().count("request_camera_status"), c.polls ? 1 : 0);
        // The status check ran on the reply (an empty one here).
        EXPECT_EQ(log.count_containing("Received empty Camera Status!"), c.polls ? 1 : 0);
        log.clear();
    }
}

TEST_F(IdlePoll, FailuresAreLogged)
{
    daemon_state.imc_ready.store(1);
    daemon_state.status_polling = 1;
    fakes().request_camera_status = {-1};
    EXPECT_TRUE(work());
    EXPECT_FALSE(log.contains("Received empty Camera Status!")) << "no check after a failed request";
    EXPECT_EQ(log.count("ERROR:optad:main_loop - Something went wrong when requesting Camera Status!\n"), 1);
}

TEST_F(IdlePoll, JobsQueuedByTheCheckWaitForTheNextPass)
{
    daemon_state.imc_ready.store(1);
    daemon_state.status_polling = 1;
    // The reply shows an IR-cut filter error: the check queues JT_ERROR,
    // which waits for the next pass.
    spi_recv_buffer()[STS_DAY_NIGHT_STATE] = STS_IR_CUT_ERROR;
    EXPECT_TRUE(work());
    EXPECT_EQ(jobs(), Jobs{JT_ERROR});
}

TEST_F(IdlePoll, PollingWaitsOnePollInterval)
{
    daemon_state.imc_ready.store(1);
    daemon_state.status_polling = 1;
    int64_t start = clock.now_us();
    main_loop_run_once();
    EXPECT_EQ(clock.now_us() - start, 250'000);

    s_capture.poll_interval_ms = 80;
    start = clock.now_us();
    main_loop_run_once();
    EXPECT_EQ(clock.now_us() - start, 80'000);
    EXPECT_EQ(fakes().count("request_camera_status"), 2);
}

TEST_F(IdlePoll, WaitIsLoggedOnlyAfterAPassWithoutPoll)
{
    const char *lines[] = {
        "DEBUG:optad:main_loop - Handled all data!\n",
        "DEBUG:optad:main_loop:run - unlock - waiting for data available\n",
        "DEBUG:optad:main_loop:run - Received data available!\n",
    };
    daemon_state.imc_ready.store(1);
    daemon_state.status_polling = 1;
    main_loop_run_once();
    for (const char *l : lines)
        EXPECT_EQ(log.count(l), 0) << l;

    daemon_state.imc_ready.store(0);  // no poll, but still a timed wait
    main_loop_run_once();
    for (const char *l : lines)
        EXPECT_EQ(log.count(l), 1) << l;
    auto all = log.lines();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(all[all.size() - 1].text, lines[2]);
}

// Other threads on the real clock: producers waking the main loop and
// testing the IMC-ready gate.
class OtherThreads : public DaemonTest {
protected:
    void SetUp() override
    {
        DaemonTest::SetUp();
        clock_set_source(nullptr);
    }

    static bool started_seen_from_elsewhere()
    {
        bool started = false;
        std::thread t([&] { started = imc_is_started(); });
        t.join();
        return started;
    }
};

TEST_F(OtherThreads, OtherThreadsSeeTheGate)
{
    EXPECT_TRUE(started_seen_from_elsewhere());
    main_loop_run_job(JT_RESTART_IMC);
    EXPECT_FALSE(started_seen_from_elsewhere());
    imc_gate_open();
    EXPECT_TRUE(started_seen_from_elsewhere());
}

TEST_F(OtherThreads, GateClosesEvenWhileAnotherThreadIsTestingIt)
{
    // Another thread holding the IMC-ready mutex for its test must not leave
    // the gate open through a restart.
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::thread tester([&] {
        g_mutex_lock(imc_ready_mutex);
        holding = true;
        while (!release)
            g_usleep(1000);
        g_mutex_unlock(imc_ready_mutex);
    });
    while (!holding)
        g_usleep(1000);
    std::thread releaser([&] {
        g_usleep(20'000);
        release = true;
    });
    main_loop_run_job(JT_RESTART_IMC);
    tester.join();
    releaser.join();
    EXPECT_TRUE(imc_gate_is_closed());
    EXPECT_FALSE(started_seen_from_elsewhere());
    imc_gate_open();  // must not abort: the main thread holds it
    EXPECT_TRUE(started_seen_from_elsewhere());
}

TEST_F(OtherThreads, ProducerSignalWakesTheUnboundedWait)
{
    daemon_state.imc_ready.store(1);
    daemon_state.status_polling = 0;
    std::thread producer([] {
        g_usleep(20'000);
        queue_job(JOB_SHARPNESS, true);
    });
    int passes = 0;
    for (;;) {
        bool polled = work();
        if (!fakes().sent.empty())
            break;
        ASSERT_LT(++passes, 1000);
        main_loop_wait(polled);
    }
    producer.join();
    EXPECT_EQ(fakes().sent, Jobs{JOB_SHARPNESS});
}

TEST_F(OtherThreads, PowerCheckPauseLetsTheBudgetHandlerIn)
{
    // The budget handler on another thread can only queue its answer while
    // the main loop pauses between two checks.
    fakes().has_enough_power = {0, 0, 0, 0, 0};
    std::atomic<bool> delivered{false};
    std::thread handler([&] {
        while (fakes().count("has_enough_power") == 0)
            g_usleep(1000);
        queue_job(JT_CHECK_POWER, true);
        delivered = true;
    });
    queue({JT_CHECK_POWER});
    work();
    handler.join();
    EXPECT_TRUE(delivered);
    EXPECT_EQ(fakes().count("power_up"), 1);
    EXPECT_EQ(daemon_state.state, OPTAD_STARTUP_WAIT_INT);
}

}  // namespace
}  // namespace optad::test
