// A fresh daemon for each test: process-wide objects reset, synchronisation
// objects created, fake operations installed, a virtual clock, captured log
// lines and a private sandbox root.
#pragma once

#include "daemon/job_queue.h"
#include "daemon/process_state.h"
#include "params/capture_settings.h"
#include "platform/clock.h"
#include "tests/daemon/fake_ops.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace optad::test {

// A virtual clock that also notes whether the job-list mutex was free
// whenever someone slept.
class PauseClock : public VirtualClock {
public:
    void sleep_us(int64_t us) override;
    std::vector<int64_t> sleeps;
    std::vector<bool> mutex_free_while_sleeping;
};

class DaemonTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Queues jobs as a producer would (the test thread plays the main loop
    // and holds the mutex, so this appends directly).
    void queue(std::initializer_list<int> ids);
    // The job list's contents, head first.
    std::vector<int> jobs() const;

    // The main loop's pass without the final wait.
    bool work();

    SandboxRoot root;
    LogCapture log;
    PauseClock clock;
};

}  // namespace optad::test
