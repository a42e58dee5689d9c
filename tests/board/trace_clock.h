// A virtual clock that remembers every sleep, and may act at each one (for
// example to change what the hardware fakes report next).
#pragma once

#include "platform/clock.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace optad::test {

class TraceClock : public VirtualClock {
public:
    struct Sleep {
        int64_t at_us;  // when it began
        int64_t us;
    };

    void sleep_us(int64_t us) override
    {
        if (us <= 0)
            return;
        sleeps.push_back({now_us(), us});
        if (on_sleep)
            on_sleep(us);
        VirtualClock::sleep_us(us);
    }

    // Number of sleeps of exactly us microseconds.
    int count(int64_t us) const
    {
        int n = 0;
        for (const Sleep &s : sleeps)
            n += s.us == us;
        return n;
    }

    std::vector<Sleep> sleeps;
    std::function<void(int64_t us)> on_sleep;
};

}  // namespace optad::test
