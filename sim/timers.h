// The simulator's time-driven behaviour: one deadline per kind of pending
// event, kept in a fixed table (no allocation, one loop to find the next).
#pragma once

#include <cstdint>

namespace optad::sim {

enum class TimerId {
    PowerGoodRise,    // supplies on: POWER_GOOD rises
    PowerGoodFall,    // supplies off: POWER_GOOD falls
    InitDone,         // the IMC has finished its start
    I2nRise,          // the IMC raises its interrupt line
    I2nFall,          // ... and drops it again
    ReqRise,          // next REQ cycle
    ReqFall,          // end of the REQ high window (timed REQ only)
    ReqRenew,         // an untaken request rises again
    Heartbeat,        // heart beat counter step
    ProtectorDone,    // the sunlight protector reaches its end position
    FocusDone,        // a one-shot focus run ends
    FocusDriveDone,   // a focus step ends
    FwupWriteDone,    // the IMC has written the firmware image
    FwupCmplt,        // ... and raises FWUP_CMPLT
    FpgaInit,         // the FPGA has finished its own start after reset
    LinkUp,           // the video link is trained
    TwoLane,          // the second lane follows
    StreamUp,         // the FPGA detects the stream
    RebootDone,       // the IMC restarts after a system reset command
    InterruptsFlush,  // rewrite /proc/interrupts with the new counts
    Sequence,         // next step of a power sequence run by the control interface
    ExposureFrame,    // the next sensor frame of a moving (or hunting) exposure
    Count,
};

class Timers {
public:
    static constexpr int64_t NEVER = INT64_MAX;

    Timers()
    {
        for (int64_t &d : due_)
            d = NEVER;
    }

    void set(TimerId id, int64_t at_us) { due_[index(id)] = at_us; }
    void cancel(TimerId id) { due_[index(id)] = NEVER; }
    bool pending(TimerId id) const { return due_[index(id)] != NEVER; }
    int64_t due(TimerId id) const { return due_[index(id)]; }

    // The earliest deadline (NEVER when none).
    int64_t next() const
    {
        int64_t best = NEVER;
        for (int64_t d : due_)
            best = d < best ? d : best;
        return best;
    }

    // Takes the earliest timer whose deadline is at or before now, with its
    // deadline; false when none.
    bool take_due(int64_t now, TimerId *id, int64_t *due)
    {
        int best = -1;
        for (int i = 0; i < static_cast<int>(TimerId::Count); ++i) {
            if (due_[i] <= now && (best < 0 || due_[i] < due_[best]))
                best = i;
        }
        if (best < 0)
            return false;
        *due = due_[best];
        due_[best] = NEVER;
        *id = static_cast<TimerId>(best);
        return true;
    }

private:
    static int index(TimerId id) { return static_cast<int>(id); }
    int64_t due_[static_cast<int>(TimerId::Count)];
};

}  // namespace optad::sim
