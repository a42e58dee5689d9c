// What every fuzz harness shares: a quiet log that still formats every
// line (DEBUG lines included, so their formats see the fuzzed bytes too), a
// private sandbox root for the fixed paths that lives as long as the
// process, and a reader that takes the harness's fields from the input.
//
// Each harness is one libFuzzer target (LLVMFuzzerTestOneInput) in the fuzz
// build; the other builds link the same file with replay_main.cc and run
// its corpus as a test, so the inputs that once crashed keep being run.
#pragma once

#include "platform/clock.h"
#include "tests/imc/fake_hw.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace optad::fuzz {

// Once per process: log lines formatted and dropped (verbose on), GLib's
// criticals made fatal, and a sandbox root under a fresh temporary
// directory. Returns the root.
const std::string &fuzz_setup();

// Fails the run (abort, so libFuzzer keeps the input) when a property the
// harness checks does not hold.
[[noreturn]] void fuzz_fail(const char *what);
inline void fuzz_check(bool ok, const char *what)
{
    if (!ok)
        fuzz_fail(what);
}

// Writes bytes as the whole content of a fixed path in the sandbox
// (directories created).
void write_fixed_file(const char *fixed_path, const uint8_t *data, size_t size);
// The content of a fixed path in the sandbox ("" when it is missing).
std::string read_fixed_file(const char *fixed_path);

// Every parameter of the table as text ("i:50", "s:auto", "s:-" for an
// absent string), in the order of their ids.
std::vector<std::string> table_snapshot();

// One input's run on the fake board: the process's set-up, a virtual clock
// in place of the real one, and fresh fake hardware.
struct FuzzRun {
    FuzzRun()
    {
        fuzz_setup();
        clock_set_source(&clock);
    }
    ~FuzzRun() { clock_set_source(nullptr); }
    FuzzRun(const FuzzRun &) = delete;
    FuzzRun &operator=(const FuzzRun &) = delete;

    VirtualClock clock;
    test::FakeHardware hw;
};

// Takes fields off the front of the input; past its end every byte reads 0.
class InputReader {
public:
    InputReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Up to n bytes; fewer at the end of the input.
    size_t take(uint8_t *out, size_t n);
    size_t left() const { return size_ - pos_; }
    const uint8_t *rest() const { return data_ + pos_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace optad::fuzz
