// The building blocks the power-up and shutdown sequences share: lines
// driven from a table, waits for an input line's level, and the checks that
// block a sequence while the module is being worked on.
#pragma once

#include <span>

namespace optad {

// One line driven to a level: the pause slept before the write, and the
// whole log line written when the write fails.
struct LineStep {
    const char *line;
    int value;
    int delay_us;
    const char *failure;
    // Power-up only: a step taken only in a safe-mode start, and the DEBUG
    // line logged once it is done (null: none).
    bool safe_boot_only = false;
    const char *done = nullptr;
};

// Drives the steps in order and stops at the first failed write, whose
// message is logged at error priority. 0, or -1.
int drive_lines_until_failure(std::span<const LineStep> steps, int safe_boot);

// Drives every step whatever fails; failures are logged at warning
// priority.
void drive_every_line(std::span<const LineStep> steps);

// A wait for an input line to read a level.
struct LevelWait {
    const char *line;
    int level;
    // true: a failed read ends the wait at once. false: it counts as a read
    // of another level, after read_failure (null: nothing more) is logged
    // at warning priority.
    bool failed_read_ends_wait;
    const char *read_failure;
};

enum class WaitResult { REACHED, NEVER, READ_FAILED };

// Reads the line up to 1000 times, sleeping 10 ms after every read that is
// not the level: about 10 s before NEVER.
WaitResult wait_for_level(const LevelWait &wait);

// The messages of the two blocks, heart beat first.
struct BlockMessages {
    const char *heart_beat;
    const char *debug_marker;
};

// When the last status reply carries the heart-beat word 0xFFFF, or the
// debug marker file exists, logs the matching message, sleeps 10 s and
// returns true.
bool sequence_blocked(const BlockMessages &messages);

}  // namespace optad
