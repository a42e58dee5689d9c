// The simulator's observation logs: what the programs did to the hardware,
// one text line per event, kept so that a test can compare them.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace optad::sim {

// What a log line is about. Every kind has its own bounded log; "all"
// interleaves them in the order they happened.
enum class LogKind {
    Imc,         // frames received by the IMC (hex), firmware messages
    Fpga,        // FPGA register reads and writes
    Gpio,        // GPIO writes (direction output and value)
    I2c,         // PMIC writes with their slave address
    Cam0,        // /dev/cam0 requests and their records
    Datacache,   // data cache registrations, writes and reads
    Violation,   // what the real hardware would reject
    Fail,        // injected per-call failures as they fire
    Count,
};

// Name of a kind as the control interface spells it ("imc", "fpga", ...).
const char *log_kind_name(LogKind kind);
// The kind of a name; false when unknown.
bool log_kind_from_name(const std::string &name, LogKind *kind);

class EventLogs {
public:
    // Each log keeps at most this many lines (the oldest go first).
    static constexpr size_t CAPACITY = 20000;

    // A line, with the time it happened (microseconds since the
    // simulator's start).
    void add(LogKind kind, std::string line, int64_t us = 0);
    // The lines of one kind, each followed by a newline; stamped: each
    // prefixed with its time and a blank ("123456 imc_12v_enable 1").
    std::string text(LogKind kind, bool stamped = false) const;
    // Every kind interleaved, each line prefixed with its kind and a blank
    // (stamped: its time first).
    std::string all(bool stamped = false) const;
    void clear(LogKind kind);
    void clear_all();
    size_t count(LogKind kind) const { return logs_[static_cast<int>(kind)].size(); }

private:
    struct Entry {
        uint64_t seq;
        int64_t us;
        std::string text;
    };
    std::deque<Entry> logs_[static_cast<int>(LogKind::Count)];
    uint64_t seq_ = 0;
};

}  // namespace optad::sim
