#include "sim/exposure.h"

namespace optad::sim {

namespace {

constexpr int MODE = 0x40;
constexpr int COMPENSATION = 0x45;  // signed steps
constexpr int SLOW_SHUTTER = 0x4E;  // the longest exposure auto may use, as a code
constexpr int AGC_LIMIT = 0x4F;     // the most gain auto may use, as a code
constexpr int IRIS_SET = 0x52;
constexpr int SHUTTER_SET = 0x53;
constexpr int GAIN_SET = 0x54;

// Shutter indices: 0 = 1 s ... 26 = 1/100 s, 27 = 1/120 s ... 51 = 1/8000 s.
constexpr int SHUTTER_1_100 = 26;  // one flicker period of 50 Hz mains
constexpr int SHUTTER_1_120 = 27;  // ... of 60 Hz mains

// What each exposure mode leaves to the exposure control (AUTO), takes from
// the set values 0x52-0x54 (SET) or fixes itself (a shutter index).
constexpr int AUTO = -1;
constexpr int SET = -2;

struct ModeRule {
    uint8_t code;
    int iris;     // AUTO or SET
    int shutter;  // AUTO, SET or a fixed index
    int gain;     // AUTO or SET
    int fastest;  // the shortest exposure (highest index) auto may use; -1: any
};

constexpr ModeRule MODES[] = {
    {0, AUTO, AUTO, AUTO, -1},             // auto
    {1, AUTO, SHUTTER_1_100, AUTO, -1},    // flicker-free, 50 Hz
    {2, AUTO, SHUTTER_1_120, AUTO, -1},    // flicker-free, 60 Hz
    {3, SET, SET, SET, -1},                // manual
    {4, SET, AUTO, AUTO, -1},              // iris priority
    {5, AUTO, SET, AUTO, -1},              // shutter priority
    {6, AUTO, AUTO, AUTO, SHUTTER_1_100},  // flicker-reduced, 50 Hz: never shorter than a flicker period
    {7, AUTO, AUTO, AUTO, SHUTTER_1_120},  // flicker-reduced, 60 Hz
};

// The slowest shutter index each slow-shutter code lets auto use: the
// longest exposure of the shutter table not above the code's maximum
// (code 0 1 s, 1 1/2 s, ... 9 1/30 s, ... 13 1/120 s).
constexpr uint8_t SLOW_SHUTTER_SLOWEST[] = {0, 3, 6, 7, 10, 11, 14, 15, 18, 19, 22, 23, 26, 27};

// The scene in front of the module: at compensation 0 with the start
// settings it is exposed at iris index 8 and 1/30 s (index 19) without gain,
// which is also where the IMC's exposure starts. One compensation step or
// one iris index asks for one shutter index more or less light; what the
// shutter cannot give (held at its slowest, or fixed by the mode) the gain
// makes up, two gain indices per shutter index, up to the AGC limit (four
// gain indices per code: code 10 allows 40).
constexpr int SCENE_IRIS = 8;
constexpr int SCENE_SHUTTER = 19;
constexpr int GAIN_PER_SHUTTER_INDEX = 2;
constexpr int GAIN_PER_AGC_CODE = 4;

int clamp(int v, int lo, int hi)
{
    if (hi < lo)
        hi = lo;  // limits reported the wrong way round: the minimum holds
    return v < lo ? lo : (v > hi ? hi : v);
}

// While hunting, each index runs up through `period` values one per frame
// and starts again: any two frames less than a period apart read
// differently, so no poll sees it steady.
struct Swing {
    int offset;
    int limits;
    int period;
};
constexpr Swing SWINGS[] = {
    {sts::IRIS, sts::LIMITS, 3},
    {sts::SHUTTER, sts::LIMITS + 2, 5},
    {sts::GAIN, sts::LIMITS + 4, 7},
};

// Step `step` of `steps` from `from` to `to`: the last step arrives, and
// each step before it is short of the target.
uint8_t step_value(uint8_t from, uint8_t to, int step, int steps)
{
    int d = to - from;
    return static_cast<uint8_t>(from + d * step / steps);  // truncates towards from
}

}  // namespace

ExposureTarget exposure_target(const StatusBlock &s)
{
    ModeRule rule = MODES[0];  // a code the IMC does not know runs as auto
    for (const ModeRule &m : MODES) {
        if (m.code == s[MODE])
            rule = m;
    }
    int iris_min = s[sts::LIMITS], iris_max = s[sts::LIMITS + 1];
    int shutter_min = s[sts::LIMITS + 2], shutter_max = s[sts::LIMITS + 3];
    int gain_min = s[sts::LIMITS + 4], gain_max = s[sts::LIMITS + 5];

    int iris = rule.iris == SET ? s[IRIS_SET] : clamp(SCENE_IRIS, iris_min, iris_max);
    int compensation = static_cast<int8_t>(s[COMPENSATION]);
    int needed = SCENE_SHUTTER - compensation - (iris - SCENE_IRIS);

    int shutter;
    if (rule.shutter == SET) {
        shutter = s[SHUTTER_SET];
    } else if (rule.shutter >= 0) {
        shutter = clamp(rule.shutter, shutter_min, shutter_max);
    } else {
        int slowest = shutter_min;
        uint8_t code = s[SLOW_SHUTTER];
        if (code < sizeof SLOW_SHUTTER_SLOWEST && SLOW_SHUTTER_SLOWEST[code] > slowest)
            slowest = SLOW_SHUTTER_SLOWEST[code];
        int fastest = shutter_max;
        if (rule.fastest >= 0 && rule.fastest < fastest)
            fastest = rule.fastest < shutter_min ? shutter_min : rule.fastest;
        if (slowest > fastest)
            slowest = fastest;
        shutter = clamp(needed, slowest, fastest);
    }

    int gain;
    if (rule.gain == SET) {
        gain = s[GAIN_SET];
    } else {
        int cap = s[AGC_LIMIT] * GAIN_PER_AGC_CODE;
        if (cap > gain_max)
            cap = gain_max;
        gain = clamp(GAIN_PER_SHUTTER_INDEX * (shutter - needed), gain_min, cap);
    }
    return {static_cast<uint8_t>(iris), static_cast<uint8_t>(shutter), static_cast<uint8_t>(gain)};
}

Exposure::Exposure(Context &ctx, StatusBlock &status) : ctx_(ctx), s_(status) {}

void Exposure::start()
{
    active_ = true;
    hunting_ = ctx_.faults.exposure_hunting;
    hunt_count_ = 0;
    target_ = exposure_target(s_);
    s_[sts::IRIS] = target_.iris;
    s_[sts::SHUTTER] = target_.shutter;
    s_[sts::GAIN] = target_.gain;
    phase_ = Phase::Steady;
    ctx_.timers.cancel(TimerId::ExposureFrame);
    schedule();
}

void Exposure::stop()
{
    active_ = false;
    phase_ = Phase::Steady;
    ctx_.timers.cancel(TimerId::ExposureFrame);
}

void Exposure::retarget()
{
    target_ = exposure_target(s_);
    if (active_)
        begin_move();
}

void Exposure::hold(uint8_t iris, uint8_t shutter, uint8_t gain)
{
    s_[sts::IRIS] = iris;
    s_[sts::SHUTTER] = shutter;
    s_[sts::GAIN] = gain;
    target_ = {iris, shutter, gain};
    phase_ = Phase::Steady;
    schedule();
}

void Exposure::faults_changed()
{
    bool hunting = ctx_.faults.exposure_hunting;
    if (hunting == hunting_)
        return;
    hunting_ = hunting;
    if (!active_)
        return;
    if (hunting) {
        hunt_count_ = 0;
        phase_ = Phase::Steady;
        schedule();
    } else {
        begin_move();  // back to the targets
    }
}

void Exposure::begin_move()
{
    if (hunting_) {
        schedule();  // the swing goes on, around the new targets
        return;
    }
    if (ctx_.config.exposure_settle_frames == 0) {
        s_[sts::IRIS] = target_.iris;
        s_[sts::SHUTTER] = target_.shutter;
        s_[sts::GAIN] = target_.gain;
        phase_ = Phase::Steady;
        schedule();
        return;
    }
    enter(Phase::IrisShutter);
}

void Exposure::enter(Phase phase)
{
    from_[0] = s_[sts::IRIS];
    from_[1] = s_[sts::SHUTTER];
    from_[2] = s_[sts::GAIN];
    // A phase with nothing to move is skipped.
    if (phase == Phase::IrisShutter && from_[0] == target_.iris && from_[1] == target_.shutter)
        phase = Phase::Gain;
    if (phase == Phase::Gain && from_[2] == target_.gain)
        phase = Phase::Steady;
    phase_ = phase;
    step_ = 0;
    steps_ = ctx_.config.exposure_settle_frames > 0 ? ctx_.config.exposure_settle_frames : 1;
    schedule();
}

// A frame timer runs while something moves or hunts, none otherwise. A new
// target does not restart it: the sensor's frames keep their pace.
void Exposure::schedule()
{
    if (active_ && (phase_ != Phase::Steady || hunting_)) {
        if (!ctx_.timers.pending(TimerId::ExposureFrame))
            ctx_.timers.set(TimerId::ExposureFrame, ctx_.now_us + frame_period_us());
    } else {
        ctx_.timers.cancel(TimerId::ExposureFrame);
    }
}

void Exposure::frame()
{
    if (!active_)
        return;
    if (hunting_) {
        hunt();
        schedule();
        return;
    }
    if (phase_ == Phase::Steady)
        return;
    ++step_;
    if (phase_ == Phase::IrisShutter) {
        s_[sts::IRIS] = step_value(from_[0], target_.iris, step_, steps_);
        s_[sts::SHUTTER] = step_value(from_[1], target_.shutter, step_, steps_);
    } else {
        s_[sts::GAIN] = step_value(from_[2], target_.gain, step_, steps_);
    }
    if (step_ >= steps_)
        enter(phase_ == Phase::IrisShutter ? Phase::Gain : Phase::Steady);
    else
        schedule();
}

void Exposure::hunt()
{
    ++hunt_count_;
    const uint8_t targets[] = {target_.iris, target_.shutter, target_.gain};
    for (size_t i = 0; i < sizeof targets; ++i) {
        const Swing &w = SWINGS[i];
        int lo = s_[w.limits];
        int hi = s_[w.limits + 1];
        int span = w.period - 1;
        if (hi - lo < span) {
            lo = 0;  // no room within the limits: the swing leaves them
            hi = 255;
        }
        int base = clamp(targets[i] - span / 2, lo, hi - span);
        s_[w.offset] = static_cast<uint8_t>(base + static_cast<int>(hunt_count_ % static_cast<unsigned>(w.period)));
    }
}

int64_t Exposure::frame_period_us() const
{
    if (ctx_.config.exposure_step_ms > 0)
        return static_cast<int64_t>(ctx_.config.exposure_step_ms) * 1000;
    unsigned fps = s_[sts::FRAME_RATE];
    int64_t us = fps == 0 ? 1000000 : 1000000 / fps;
    return us < 1000 ? 1000 : us;
}

std::string Exposure::describe() const
{
    std::string out = "exposure ";
    out += !active_ ? "off" : hunting_ ? "hunting" : phase_ == Phase::Steady ? "steady" : "moving";
    out += "\nexposure_target " + std::to_string(target_.iris) + " " + std::to_string(target_.shutter) + " " +
           std::to_string(target_.gain) + "\n";
    return out;
}

}  // namespace optad::sim
