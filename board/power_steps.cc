#include "board/power_steps.h"

#include "board/gpio.h"
#include "board/power_sequence.h"
#include "params/status_monitor.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <unistd.h>

namespace optad {

namespace {

constexpr int LEVEL_READS = 1000;
constexpr int64_t LEVEL_PAUSE_US = 10'000;
// How long a blocked sequence keeps the main loop before it reports back:
// the block is re-examined at the next attempt.
constexpr int64_t BLOCKED_SLEEP_US = 10'000'000;

}  // namespace

int drive_lines_until_failure(std::span<const LineStep> steps, int safe_boot)
{
    for (const LineStep &s : steps) {
        if (s.safe_boot_only && !safe_boot)
            continue;
        if (gpio_write(s.line, s.value, s.delay_us) < 0) {
            log_write(LOG_ERR, "%s", s.failure);
            return -1;
        }
        if (s.done != nullptr)
            OPTAD_LOG_DEBUG("%s", s.done);
    }
    return 0;
}

void drive_every_line(std::span<const LineStep> steps)
{
    for (const LineStep &s : steps)
        if (gpio_write(s.line, s.value, s.delay_us) < 0)
            log_write(LOG_WARNING, "%s", s.failure);
}

WaitResult wait_for_level(const LevelWait &wait)
{
    for (int i = 0; i < LEVEL_READS; ++i) {
        int value = -1;
        if (gpio_read(wait.line, &value) < 0) {
            if (wait.failed_read_ends_wait)
                return WaitResult::READ_FAILED;
            if (wait.read_failure != nullptr)
                log_write(LOG_WARNING, "%s", wait.read_failure);
        }
        if (value == wait.level)
            return WaitResult::REACHED;
        clock_sleep_us(LEVEL_PAUSE_US);
    }
    return WaitResult::NEVER;
}

bool sequence_blocked(const BlockMessages &messages)
{
    const char *reason = nullptr;
    if (is_heartbeat_unset())
        reason = messages.heart_beat;
    else if (access(platform_path(IMC_DEBUG_MARKER).c_str(), F_OK) == 0)
        reason = messages.debug_marker;
    if (reason == nullptr)
        return false;
    log_write(LOG_ERR, "%s", reason);
    clock_sleep_us(BLOCKED_SLEEP_US);
    return true;
}

}  // namespace optad
