// What every part of the simulated board shares: settings, lines, timers,
// the observation logs, the injected faults and per-call failures, the
// interrupt counters and the current time of the event being handled.
#pragma once

#include "sim/config.h"
#include "sim/event_log.h"
#include "sim/failures.h"
#include "sim/faults.h"
#include "sim/interrupts.h"
#include "sim/lines.h"
#include "sim/timers.h"

#include <cstdint>

namespace optad::sim {

struct Context {
    Config config;
    Lines lines;
    Timers timers;
    EventLogs logs;
    Faults faults;
    Failures failures;
    Interrupts interrupts;
    int64_t now_us = 0;    // monotonic time of the event being handled
    int64_t start_us = 0;  // monotonic time the simulator started (the logs' stamps count from it)
    bool verbose = false;  // also print every observation on stderr

    int64_t after_ms(int ms) const { return now_us + static_cast<int64_t>(ms) * 1000; }

    // Something the real hardware would reject: logged on stderr and kept
    // in the violations log.
    void violation(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    // A change of the module's state worth a line on stderr.
    void note(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    // One call of this kind on this target: true when an injected failure
    // applies (logged in the fail log), with its errno or byte count.
    bool fail(FailKind kind, int target, int *value);
    // An observation for the given log (and stderr when verbose).
    void record(LogKind kind, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
};

// Lower-case hex of a byte range with no separators ("00f8...").
std::string hex_bytes(const uint8_t *data, size_t len);

}  // namespace optad::sim
