#include "tests/system/module_trace.h"

#include "tests/support/program.h"

#include <sstream>

namespace optad::test {

namespace {

// How late a step may come after its delay on a loaded machine (scaled for
// slow builds). The lower bound is exact: a step may never come early.
int64_t late_us()
{
    return static_cast<int64_t>(scaled_ms(250)) * 1000;
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::vector<std::string> sim_log_lines(Simulator &sim, const std::string &name)
{
    return split_lines(sim.ctl("log " + name));
}

std::vector<SimEvent> stamped_log(Simulator &sim, const std::string &name)
{
    std::vector<SimEvent> events;
    for (const std::string &line : split_lines(sim.ctl("log " + name + " stamped"))) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) {
            ADD_FAILURE() << "not a stamped line: " << line;
            continue;
        }
        events.push_back({std::stoll(line.substr(0, blank)), line.substr(blank + 1)});
    }
    return events;
}

std::vector<SimEvent> program_gpio_writes(Simulator &sim)
{
    std::vector<SimEvent> writes;
    for (SimEvent &e : stamped_log(sim, "gpio")) {
        if (e.text.rfind("ctl ", 0) != 0)
            writes.push_back(std::move(e));
    }
    return writes;
}

::testing::AssertionResult gpio_steps_match(const std::vector<SimEvent> &events, size_t *from,
                                            const std::vector<GpioStep> &steps)
{
    size_t i = *from;
    int64_t previous_us = -1;
    for (size_t s = 0; s < steps.size(); ++s) {
        const GpioStep &step = steps[s];
        const std::string output = std::string(step.line) + " out 0";
        const std::string write = std::string(step.line) + " " + std::to_string(step.value);
        if (i + 1 >= events.size())
            return ::testing::AssertionFailure() << "step " << s << " (" << write << "): the trace ends";
        if (events[i].text != output || events[i + 1].text != write) {
            return ::testing::AssertionFailure() << "step " << s << ": expected \"" << output << "\", \"" << write
                                                 << "\", got \"" << events[i].text << "\", \""
                                                 << events[i + 1].text << "\"";
        }
        if (previous_us >= 0) {
            const int64_t gap = events[i].us - previous_us;
            const int64_t delay = static_cast<int64_t>(step.delay_ms) * 1000;
            if (gap < delay) {
                return ::testing::AssertionFailure()
                       << "step " << s << " (" << write << ") came " << gap << " us after the previous, before its "
                       << delay << " us";
            }
            if (!step.after_wait && gap > delay + late_us()) {
                return ::testing::AssertionFailure() << "step " << s << " (" << write << ") came " << gap
                                                     << " us after the previous, expected " << delay << " us";
            }
        }
        previous_us = events[i + 1].us;
        i += 2;
    }
    *from = i;
    return ::testing::AssertionSuccess();
}

}  // namespace optad::test
