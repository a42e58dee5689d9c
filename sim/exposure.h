// The IMC's exposure control as the status block shows it: the current
// iris, shutter and gain indices (0x42-0x44) follow targets that the
// exposure settings give, one step per frame, and then stay where they are.
#pragma once

#include "sim/context.h"
#include "sim/status_block.h"

#include <cstdint>
#include <string>

namespace optad::sim {

// Where the exposure settles for the settings in the block: the exposure
// mode (0x40), the compensation (0x45), the limits (0x46-0x4B), the slow
// shutter (0x4E), the AGC limit (0x4F) and the set values (0x52-0x54).
struct ExposureTarget {
    uint8_t iris;
    uint8_t shutter;
    uint8_t gain;
};
ExposureTarget exposure_target(const StatusBlock &s);

class Exposure {
public:
    Exposure(Context &ctx, StatusBlock &status);

    // The IMC starts (its settings at their start values): the exposure is
    // where they put it, nothing moves.
    void start();
    // The IMC stops: no more frames.
    void stop();
    // A setting changed: new targets; the indices move towards them from
    // the next frame on.
    void retarget();
    // The indices, and their targets, are these (ctl "set exposure").
    void hold(uint8_t iris, uint8_t shutter, uint8_t gain);
    // The hunting fault may have been switched on or off.
    void faults_changed();
    // One frame of the sensor: a step of the move, or a swing while hunting.
    void frame();

    bool moving() const { return phase_ != Phase::Steady; }
    ExposureTarget target() const { return target_; }
    std::string describe() const;

private:
    // Iris and shutter move first; the gain makes up what is left once they
    // have arrived, so it is the last index to settle.
    enum class Phase { Steady, IrisShutter, Gain };

    void begin_move();
    void enter(Phase phase);
    void schedule();
    void hunt();
    int64_t frame_period_us() const;

    Context &ctx_;
    StatusBlock &s_;
    bool active_ = false;   // the IMC runs its application: frames come
    bool hunting_ = false;  // the hunting fault as last seen
    ExposureTarget target_{};
    Phase phase_ = Phase::Steady;
    int step_ = 0;             // steps done in the current phase
    int steps_ = 0;            // steps the phase takes
    uint8_t from_[3] = {};     // iris, shutter, gain when the phase began
    unsigned hunt_count_ = 0;  // frames swung while hunting
};

}  // namespace optad::sim
