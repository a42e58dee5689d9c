// What the simulated module saw, as system tests compare it: the
// simulator's time-stamped observation logs, and the GPIO writes of a power
// sequence against a table of expected steps.
#pragma once

#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace optad::test {

// One line of a stamped log: the simulator's time in microseconds and the
// line's text.
struct SimEvent {
    int64_t us = 0;
    std::string text;
};

// "log <name> stamped" of the simulator.
std::vector<SimEvent> stamped_log(Simulator &sim, const std::string &name);

// The GPIO writes the programs made (not those of the control interface).
std::vector<SimEvent> program_gpio_writes(Simulator &sim);

// One step of a power sequence: the program drives line to value, at least
// delay_ms after the previous step's write. after_wait: the step follows a
// wait for an input (POWER_GOOD, INIT_DONE), so only the lower bound of its
// delay is checked.
struct GpioStep {
    const char *line;
    int value;
    int delay_ms;
    bool after_wait = false;
};

// Whether events, from index *from on, hold exactly the writes of steps:
// each step made the line an output at level 0 ("<line> out 0") and then
// wrote its value ("<line> <value>"), with its delay before it. On success
// *from moves past the steps.
::testing::AssertionResult gpio_steps_match(const std::vector<SimEvent> &events, size_t *from,
                                            const std::vector<GpioStep> &steps);

// The lines of a plain (unstamped) log of the simulator.
std::vector<std::string> sim_log_lines(Simulator &sim, const std::string &name);

}  // namespace optad::test
