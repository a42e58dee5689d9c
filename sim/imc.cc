#include "sim/imc.h"

#include <cstdlib>
#include <cstring>

namespace optad::sim {

namespace {

// The link is LSB-first and the SPI controller shifts MSB-first, so every
// byte on the wire is bit-reversed.
constexpr uint8_t reverse_bits(uint8_t b)
{
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

constexpr unsigned FRAME_SIZE = 512;
constexpr unsigned TYPE_COMMAND = 0x0010;
constexpr unsigned TYPE_STATUS = 0x00F8;

// How each set command shows in the status block. A plain row stores its
// value bytes at the offsets given (-1: not stored); a row with a handler
// does more. The exposure rows also give the exposure control new targets:
// the current indices 0x42-0x44 then move over the next frames.
using Effect = void (*)(Imc &imc, const uint8_t *v);

struct CommandRow {
    uint8_t group;
    uint8_t item;
    uint8_t n;             // value bytes
    int16_t offsets[4];    // where the value bytes show, in order
    Effect effect;         // instead of the plain store
    const char *what;
    bool exposure = false; // the exposure control takes new targets from it
};

// The IMC keeps iris, shutter and gain within the limits it reports
// (0x46-0x4B): a value outside them shows clamped, so a sender that does not
// clamp first never sees its value confirmed.
void clamp_into(Imc &imc, int offset, int limits, uint8_t v)
{
    StatusBlock &s = imc.status();
    uint8_t lo = s[limits];
    uint8_t hi = s[limits + 1];
    s[offset] = v < lo ? lo : (v > hi ? hi : v);
}

void set_iris(Imc &imc, const uint8_t *v) { clamp_into(imc, 0x52, sts::LIMITS, v[0]); }
void set_shutter(Imc &imc, const uint8_t *v) { clamp_into(imc, 0x53, sts::LIMITS + 2, v[0]); }
void set_gain(Imc &imc, const uint8_t *v) { clamp_into(imc, 0x54, sts::LIMITS + 4, v[0]); }

void set_focus_mode(Imc &imc, const uint8_t *v)
{
    // A one-shot focus (5) runs and then reports 1; the IMC reports every
    // other mode as 1.
    if (v[0] == 5)
        imc.start_focus_oneshot();
    else
        imc.status()[sts::FOCUS_MODE] = 1;
}

void focus_drive(Imc &imc, const uint8_t *) { imc.focus_step(); }

void ir_focus(Imc &imc, const uint8_t *v)
{
    imc.status()[sts::IR_FOCUS] = static_cast<uint8_t>((v[1] << 4) | (v[0] & 0x0F));
}

void day_night(Imc &imc, const uint8_t *v)
{
    if (v[0] > 1) {
        imc.context().violation("imc: day/night value 0x%02X (0 day, 1 night)", v[0]);
        return;
    }
    if (imc.status()[sts::DAY_NIGHT] != 0x80)
        imc.status()[sts::DAY_NIGHT] = v[0];
}

void protector(Imc &imc, const uint8_t *v)
{
    if (v[0] > 1) {
        imc.context().violation("imc: sunlight protector value 0x%02X (0 close, 1 open)", v[0]);
        return;
    }
    imc.move_protector(v[0]);
}

// The correction commands take 0 for "on" and report 1 for "on".
void vignetting(Imc &imc, const uint8_t *v) { imc.status()[0x8A] = v[0] == 0 ? 1 : 0; }
void aberration(Imc &imc, const uint8_t *v) { imc.status()[0x8B] = v[0] == 0 ? 1 : 0; }

void reset(Imc &imc, const uint8_t *v)
{
    if (v[0] != 0 || v[1] != 0)
        imc.context().violation("imc: system reset with arguments %02X %02X (00 00)", v[0], v[1]);
    imc.system_reset();
}

struct CaptureMode {
    uint8_t resolution;
    uint8_t frame_rate;
};
constexpr CaptureMode CAPTURE_MODES[] = {{0x72, 8}, {0x60, 25}, {0x61, 15}};

void capture(Imc &imc, const uint8_t *v)
{
    for (const CaptureMode &m : CAPTURE_MODES) {
        if (v[0] == 0 && v[1] == m.resolution && v[2] == m.frame_rate) {
            imc.status()[sts::RESOLUTION] = m.resolution;
            imc.status()[sts::FRAME_RATE] = m.frame_rate;
            return;
        }
    }
    imc.context().violation("imc: capture mode %02X %02X %02X is not one the IMC runs", v[0], v[1],
                            v[2]);
}

constexpr int16_t NONE = -1;

constexpr CommandRow COMMANDS[] = {
    {0x01, 0x00, 1, {NONE}, set_focus_mode, "focus mode"},
    {0x01, 0x05, 2, {0x2B, 0x2C}, nullptr, "focus window position"},
    {0x01, 0x06, 2, {NONE}, focus_drive, "focus drive"},
    {0x01, 0x07, 2, {NONE}, ir_focus, "IR focus correction"},
    {0x01, 0x09, 2, {0x2D, 0x2E}, nullptr, "focus window size"},
    {0x03, 0x00, 1, {0x40}, nullptr, "exposure mode", true},
    {0x03, 0x01, 1, {0x45}, nullptr, "exposure compensation", true},
    {0x03, 0x02, 1, {NONE}, set_iris, "iris", true},
    {0x03, 0x03, 1, {NONE}, set_shutter, "shutter", true},
    {0x03, 0x04, 1, {NONE}, set_gain, "gain", true},
    {0x03, 0x05, 1, {0x4E}, nullptr, "slow shutter", true},
    {0x03, 0x06, 1, {0x41}, nullptr, "metering"},
    {0x03, 0x07, 1, {0x4F}, nullptr, "AGC limit", true},
    {0x03, 0x0A, 1, {0x4E}, nullptr, "slow shutter 50 Hz", true},
    {0x03, 0x0B, 1, {0x4E}, nullptr, "slow shutter 60 Hz", true},
    {0x03, 0x11, 2, {0x56, 0x57}, nullptr, "exposure window position"},
    {0x03, 0x12, 2, {0x5C, 0x5D}, nullptr, "exposure window size"},
    {0x04, 0x00, 1, {0x70}, nullptr, "white balance mode"},
    // R and B gains arrive high byte first and show low byte first.
    {0x04, 0x02, 4, {0x6D, 0x6C, 0x6F, 0x6E}, nullptr, "white balance gains"},
    {0x05, 0x00, 1, {0x60}, nullptr, "auto day/night"},
    {0x05, 0x01, 1, {NONE}, day_night, "day/night"},
    {0x05, 0x02, 1, {0x62}, nullptr, "day/night switching brightness"},
    {0x05, 0x03, 1, {0x63}, nullptr, "day/night filter time"},
    {0x07, 0x00, 1, {0x80}, nullptr, "sharpness"},
    {0x07, 0x01, 1, {0x84}, nullptr, "noise reduction"},
    {0x07, 0x03, 1, {0x82}, nullptr, "colour level"},
    {0x07, 0x14, 1, {0x86}, nullptr, "WDR mode"},
    {0x07, 0x15, 1, {0x87}, nullptr, "WDR level"},
    {0x08, 0x00, 2, {NONE}, reset, "system reset"},
    {0x08, 0x04, 3, {NONE}, capture, "capture mode"},
    {0x08, 0x07, 1, {0x67}, nullptr, "image stabilizer"},
    {0x08, 0x09, 1, {NONE}, protector, "sunlight protector"},
    {0x08, 0x0A, 1, {0x9E}, nullptr, "rotation notification"},
    {0x0B, 0x00, 1, {NONE}, vignetting, "vignetting correction"},
    {0x0B, 0x01, 1, {NONE}, aberration, "aberration correction"},
};

const CommandRow *find_command(uint8_t group, uint8_t item)
{
    for (const CommandRow &row : COMMANDS) {
        if (row.group == group && row.item == item)
            return &row;
    }
    return nullptr;
}

const char *state_name(Imc::State s)
{
    switch (s) {
    case Imc::State::Off: return "off";
    case Imc::State::Booting: return "booting";
    case Imc::State::Running: return "running";
    case Imc::State::Loader: return "boot loader";
    case Imc::State::Halted: return "halted";
    case Imc::State::Rebooting: return "rebooting";
    }
    return "?";
}

const char *upgrade_name(Imc::Upgrade u)
{
    switch (u) {
    case Imc::Upgrade::Idle: return "idle";
    case Imc::Upgrade::Receiving: return "receiving";
    case Imc::Upgrade::Checking: return "checking";
    case Imc::Upgrade::Writing: return "writing";
    case Imc::Upgrade::Complete: return "complete";
    case Imc::Upgrade::Refused: return "refused";
    }
    return "?";
}

}  // namespace

const char *imc_command_name(uint8_t group, uint8_t item)
{
    const CommandRow *row = find_command(group, item);
    return row != nullptr ? row->what : nullptr;
}

Imc::Imc(Context &ctx) : ctx_(ctx), flash_revision_(status_.u32(sts::REVISION)) {}

bool Imc::init_done_never(Mode mode) const
{
    if (!flash_application_)
        return true;  // only the boot loader is left to start
    Faults::InitDone f = ctx_.faults.init_done;
    return f == Faults::InitDone::NeverAll || (mode == Mode::Normal && f != Faults::InitDone::Rises);
}

void Imc::start(Mode mode)
{
    state_ = State::Booting;
    mode_ = mode;
    upgrade_ = Upgrade::Idle;
    bool never = init_done_never(mode);
    const char *why = flash_application_ ? "fault" : "no application in flash";
    ctx_.note("IMC released from reset (%s start)%s%s%s", mode == Mode::Safe ? "safe" : "normal",
              !never ? "" : mode == Mode::Safe ? ": INIT_DONE will not rise, the boot loader answers ("
                                               : ": INIT_DONE will not rise (",
              never ? why : "", never ? ")" : "");
    // A normal start whose firmware does not come up stays silent; a safe
    // start always reaches at least the boot loader.
    if (!never || mode == Mode::Safe)
        ctx_.timers.set(TimerId::InitDone, ctx_.after_ms(ctx_.config.init_done_ms));
}

void Imc::stop()
{
    if (state_ == State::Off)
        return;
    ctx_.note("IMC stopped (%s)", state_name(state_));
    if (upgrade_ == Upgrade::Writing)
        ctx_.note("IMC stopped while writing its flash: only the boot loader is left");
    state_ = State::Off;
    upgrade_ = Upgrade::Idle;
    stopped_with_req_us_ = req_raised_ ? ctx_.now_us : -1;
    req_raised_ = false;
    i2n_unread_ = false;
    i2n_min_done_ = false;
    exposure_.stop();
    for (TimerId id : {TimerId::InitDone, TimerId::I2nRise, TimerId::I2nFall, TimerId::ReqRise,
                       TimerId::ReqFall, TimerId::ReqRenew, TimerId::Heartbeat, TimerId::FocusDone,
                       TimerId::FocusDriveDone, TimerId::FwupWriteDone, TimerId::FwupCmplt,
                       TimerId::RebootDone, TimerId::ProtectorDone})
        ctx_.timers.cancel(id);
    for (Line l : {Line::InitDone, Line::Req, Line::I2nInt, Line::FwupCmplt})
        ctx_.lines.drive(l, 0);
}

void Imc::halt()
{
    if (state_ == State::Off || state_ == State::Halted)
        return;
    stop();
    state_ = State::Halted;
    ctx_.note("IMC halted: INIT_DONE low until the next reset");
}

bool Imc::on_timer(TimerId id)
{
    Timers &t = ctx_.timers;
    switch (id) {
    case TimerId::InitDone:
        status_.boot_defaults();
        status_.set_u32(sts::REVISION, flash_revision_);
        if (init_done_never(mode_)) {
            // Safe boot, and the application does not come up: the boot
            // loader takes the link with its REQ, without INIT_DONE, heart
            // beat or interrupt, so that the firmware can be written again.
            state_ = State::Loader;
            apply_faults();
            ctx_.note("IMC boot loader runs: INIT_DONE low, the link answers status and firmware upgrade");
            t.set(TimerId::ReqRise, ctx_.after_ms(ctx_.config.req_period_ms));
            return true;
        }
        state_ = State::Running;
        if (status_[sts::PROTECTOR] == 2 && !ctx_.faults.protector_stuck)
            status_[sts::PROTECTOR] = protector_target_;  // the protector finishes its travel
        exposure_.start();
        apply_faults();
        ctx_.lines.drive(Line::InitDone, 1);
        ctx_.note("IMC started: INIT_DONE high, revision %u", flash_revision_);
        t.set(TimerId::ReqRise, ctx_.after_ms(ctx_.config.req_period_ms));
        t.set(TimerId::Heartbeat, ctx_.after_ms(ctx_.config.heartbeat_ms));
        t.set(TimerId::I2nRise, ctx_.after_ms(ctx_.config.i2n_delay_ms));
        return true;
    case TimerId::I2nRise:
        pulse_interrupt();
        return true;
    case TimerId::I2nFall:
        i2n_min_done_ = true;
        if (!ctx_.config.i2n_held || !i2n_unread_)
            ctx_.lines.drive(Line::I2nInt, 0);
        return true;
    case TimerId::ReqRise:
        t.set(TimerId::ReqRise, ctx_.after_ms(ctx_.config.req_period_ms));
        req_tick();
        return true;
    case TimerId::ReqFall:
        ctx_.lines.drive(Line::Req, 0);  // the timed window closes; the request stands
        return true;
    case TimerId::ReqRenew:
        if (!ctx_.faults.req_never && upgrade_ != Upgrade::Checking)
            raise_req();
        return true;
    case TimerId::Heartbeat:
        t.set(TimerId::Heartbeat, ctx_.after_ms(ctx_.config.heartbeat_ms));
        if (running() && ctx_.faults.heartbeat == Faults::Heartbeat::Run) {
            unsigned beat = (status_.u16(sts::HEARTBEAT) + 1) & 0xFFFF;
            status_.set_u16(sts::HEARTBEAT, beat == 0xFFFF ? 0 : beat);
        }
        return true;
    case TimerId::ProtectorDone:
        status_[sts::PROTECTOR] = protector_target_;
        return true;
    case TimerId::FocusDone:
        status_[sts::FOCUS_MODE] = 1;
        status_[sts::LENS_DRIVE] &= static_cast<uint8_t>(~0x40);
        return true;
    case TimerId::FocusDriveDone:
        if (!t.pending(TimerId::FocusDone))
            status_[sts::LENS_DRIVE] &= static_cast<uint8_t>(~0x40);
        return true;
    case TimerId::FwupWriteDone:
        write_in_done();
        return true;
    case TimerId::FwupCmplt:
        flash_written();
        return true;
    case TimerId::RebootDone:
        state_ = State::Off;  // the board starts it again while power and reset allow
        return true;
    case TimerId::ExposureFrame:
        exposure_.frame();
        return true;
    default:
        return false;
    }
}

// REQ: the IMC asks for an exchange once per period and keeps asking until
// one comes; the exchange takes the request (REQ falls). A request nobody
// took by the next period is renewed: REQ falls and rises again half a
// period later, so that a client waiting for a fresh rising edge (a low
// reading, then a high one) finds one in every period however long it
// stayed away. With req_timed the request also falls req_high_ms after it
// rose (the IMC of earlier rigs); it still stands until an exchange.
void Imc::req_tick()
{
    Timers &t = ctx_.timers;
    // Busy taking in the firmware image, or stuck: a request still up is
    // withdrawn, and none follows.
    if (ctx_.faults.req_never || upgrade_ == Upgrade::Checking) {
        withdraw_req();
        return;
    }
    if (ctx_.lines.level(Line::Req) == 0 && !t.pending(TimerId::ReqRenew)) {
        raise_req();
        return;
    }
    if (ctx_.lines.level(Line::Req) != 0) {
        ctx_.lines.drive(Line::Req, 0);
        t.cancel(TimerId::ReqFall);
        int half = ctx_.config.req_period_ms / 2;
        t.set(TimerId::ReqRenew, ctx_.after_ms(half > 0 ? half : 1));
    }
}

void Imc::raise_req()
{
    ctx_.lines.drive(Line::Req, 1);
    req_raised_ = true;
    if (ctx_.config.req_timed)
        ctx_.timers.set(TimerId::ReqFall, ctx_.after_ms(ctx_.config.req_high_ms));
}

void Imc::withdraw_req()
{
    ctx_.lines.drive(Line::Req, 0);
    req_raised_ = false;
    ctx_.timers.cancel(TimerId::ReqFall);
    ctx_.timers.cancel(TimerId::ReqRenew);
}

// The master reads REQ high and then clocks its exchange; power or
// INIT_DONE may go in between, and no master can close that gap. So the
// first exchange shortly after the IMC stopped with a request standing is
// the master's answer to that request, not a breach of the protocol. Any
// later one, or one long after, is: the master should have seen the line
// fall and REQ stay low.
bool Imc::exchange_in_flight()
{
    constexpr int64_t IN_FLIGHT_US = 1'000'000;  // scheduling of a loaded host, with room
    const bool in_flight = stopped_with_req_us_ >= 0 && ctx_.now_us - stopped_with_req_us_ <= IN_FLIGHT_US;
    stopped_with_req_us_ = -1;
    return in_flight;
}

bool Imc::take_req()
{
    bool raised = req_raised_;
    req_raised_ = false;
    ctx_.lines.drive(Line::Req, 0);
    ctx_.timers.cancel(TimerId::ReqFall);
    ctx_.timers.cancel(TimerId::ReqRenew);
    return raised;
}

// I2N: the IMC has news for the main board, which reads it with the next
// camera status. The IMC holds the line high until that status block has
// been read (and for at least i2n_pulse_ms), the way a level interrupt
// stays asserted until its status is fetched. A listener that selects on
// the line and then reads its level therefore reads 1 however late it
// runs: a bare 2 ms pulse was missed by a reader descheduled for longer
// than that, which a loaded board, a sanitizer build or qemu do (see the
// figures in README.md). News while the line is still high (a second
// interrupt before the read) merges into the same assertion, as it would
// on a level line. With i2n_held 0 it is a bare pulse of i2n_pulse_ms.
bool Imc::pulse_interrupt()
{
    if (!running())
        return false;
    if (ctx_.lines.drive(Line::I2nInt, 1)) {
        ctx_.interrupts.count(Interrupts::ImcInterrupt);
        ctx_.interrupts.flush(ctx_.now_us);
    }
    i2n_unread_ = true;
    i2n_min_done_ = false;
    ctx_.timers.set(TimerId::I2nFall, ctx_.after_ms(ctx_.config.i2n_pulse_ms));
    return true;
}

void Imc::apply_faults()
{
    if (ctx_.faults.heartbeat == Faults::Heartbeat::Unset)
        status_.set_u16(sts::HEARTBEAT, 0xFFFF);
    else if (status_.u16(sts::HEARTBEAT) == 0xFFFF)
        status_.set_u16(sts::HEARTBEAT, 0);
    if (ctx_.faults.ircut_error)
        status_[sts::DAY_NIGHT] = 0x80;
    else if (status_[sts::DAY_NIGHT] == 0x80)
        status_[sts::DAY_NIGHT] = 0;
    exposure_.faults_changed();
}

void Imc::set_lens_error(uint8_t code)
{
    if (status_[sts::LENS_STATUS] != 0x80)
        lens_before_error_ = status_[sts::LENS];
    status_[sts::LENS] = code;
    status_[sts::LENS_STATUS] = 0x80;
}

void Imc::clear_lens_error()
{
    if (status_[sts::LENS_STATUS] != 0x80)
        return;
    status_[sts::LENS] = lens_before_error_;
    status_[sts::LENS_STATUS] = 0;
}

void Imc::detach_lens()
{
    bool lens_on = status_[sts::LENS] != 0 || status_[sts::LENS_STATUS] == 0x80;
    if (lens_on) {
        std::memcpy(lens_optics_, status_.data() + sts::OPTICS, sizeof lens_optics_);
        lens_focus_switch_ = status_[sts::FOCUS_SWITCH];
    }
    status_[sts::LENS] = 0;
    status_[sts::LENS_STATUS] = 0;
    status_[sts::LENS_DRIVE] = 0;
    status_.set_text(sts::LENS_NAME, sts::LENS_NAME_LEN, "");
    std::memset(status_.data() + sts::OPTICS, 0, sizeof lens_optics_);
    status_[sts::FOCUS_SWITCH] = 0;
    // The sunlight protector stays where it is: closing it is the main
    // board's decision.
}

void Imc::attach_lens(const std::string *name)
{
    bool was_off = status_[sts::LENS] == 0 && status_[sts::LENS_STATUS] != 0x80;
    status_[sts::LENS] = 1;
    status_[sts::LENS_STATUS] = 0;
    if (name != nullptr)
        status_.set_text(sts::LENS_NAME, sts::LENS_NAME_LEN, *name);
    else if (status_.text(sts::LENS_NAME, sts::LENS_NAME_LEN).empty())
        status_.set_text(sts::LENS_NAME, sts::LENS_NAME_LEN, "EF50mm f/1.4 USM");
    if (!was_off)
        return;
    static constexpr uint8_t NO_OPTICS[sizeof lens_optics_] = {};
    if (std::memcmp(status_.data() + sts::OPTICS, NO_OPTICS, sizeof NO_OPTICS) == 0)
        std::memcpy(status_.data() + sts::OPTICS, lens_optics_, sizeof lens_optics_);
    if (status_[sts::FOCUS_SWITCH] == 0)
        status_[sts::FOCUS_SWITCH] = lens_focus_switch_;
}

void Imc::limits_changed()
{
    static constexpr int SETTINGS[] = {0x52, 0x53, 0x54};
    for (int i = 0; i < 3; ++i) {
        uint8_t lo = status_[sts::LIMITS + 2 * i];
        uint8_t hi = status_[sts::LIMITS + 2 * i + 1];
        uint8_t &v = status_[SETTINGS[i]];
        v = v < lo ? lo : (v > hi ? hi : v);
    }
    exposure_.retarget();
}

void Imc::move_protector(uint8_t target)
{
    protector_target_ = target;
    if (status_[sts::PROTECTOR] == target)
        return;
    status_[sts::PROTECTOR] = 2;
    if (ctx_.faults.protector_stuck)
        ctx_.timers.cancel(TimerId::ProtectorDone);
    else
        ctx_.timers.set(TimerId::ProtectorDone, ctx_.after_ms(ctx_.config.protector_move_ms));
}

void Imc::protector_released()
{
    if (status_[sts::PROTECTOR] == 2 && !ctx_.timers.pending(TimerId::ProtectorDone))
        ctx_.timers.set(TimerId::ProtectorDone, ctx_.after_ms(ctx_.config.protector_move_ms));
}

void Imc::start_focus_oneshot()
{
    status_[sts::FOCUS_MODE] = 5;
    status_[sts::LENS_DRIVE] |= 0x40;
    ctx_.timers.set(TimerId::FocusDone, ctx_.after_ms(ctx_.config.focus_oneshot_ms));
}

void Imc::focus_step()
{
    status_[sts::LENS_DRIVE] |= 0x40;
    ctx_.timers.set(TimerId::FocusDriveDone, ctx_.after_ms(ctx_.config.focus_step_ms));
}

void Imc::system_reset()
{
    ctx_.note("IMC system reset command: restarting");
    stop();
    state_ = State::Rebooting;
    ctx_.timers.set(TimerId::RebootDone, ctx_.after_ms(ctx_.config.reboot_ms));
}

void Imc::start_version_up(uint32_t size)
{
    status_[sts::FWUP_WRITE] = 0;
    ctx_.timers.cancel(TimerId::FwupWriteDone);
    ctx_.timers.cancel(TimerId::FwupCmplt);
    ctx_.lines.drive(Line::FwupCmplt, 0);
    if (ctx_.faults.fwup == Faults::Fwup::StartNg || size == 0 ||
        size > static_cast<uint32_t>(ctx_.config.fwup_max_bytes)) {
        status_[sts::FWUP_START] = 0x02;
        upgrade_ = Upgrade::Idle;
        ctx_.note("IMC refuses the firmware version-up start for %u bytes", size);
        return;
    }
    status_[sts::FWUP_START] = 0x01;
    upgrade_ = Upgrade::Receiving;
    fw_expected_ = size;
    fw_received_ = 0;
    fw_bad_ = false;
    std::memset(fw_head_, 0, sizeof fw_head_);
    ctx_.note("IMC in firmware version-up mode, expecting %u bytes", size);
}

void Imc::transfer(const uint8_t *tx, uint8_t *rx, uint32_t len, bool valid)
{
    if (!answering()) {
        if (exchange_in_flight()) {
            ctx_.note("IMC %s: a %u-byte exchange the master began on the last REQ reaches nobody", state_name(state_),
                      len);
            return;
        }
        ctx_.violation("imc: %u-byte exchange while the IMC is %s", len, state_name(state_));
        return;
    }
    if (ctx_.lines.level(Line::SpiFrontTristate) != 0) {
        ctx_.violation("imc: %u-byte exchange while the SPI front is isolated "
                       "(imc_spi_front_tristate high)", len);
        return;
    }
    // Every transfer the IMC sees takes its request, garbled ones too: the
    // master clocked the bus. Whether it was entitled to is a question of
    // the protocol, not of timing: the IMC must have raised REQ since the
    // previous exchange. How long the master took after that does not
    // matter.
    if (!take_req()) {
        ctx_.violation("imc: %u-byte exchange without a REQ rise since the previous exchange", len);
        if (ctx_.config.req_strict)
            return;
    }
    if (!valid) {
        ctx_.record(LogKind::Imc, "garbled transfer of %u bytes", len);
        return;
    }
    if (tx == nullptr) {
        ctx_.violation("imc: %u-byte transfer without a transmit buffer", len);
        return;
    }

    // Undo the bit reversal: this is what the IMC receives.
    for (uint32_t i = 0; i < len; ++i)
        frame_[i] = reverse_bits(tx[i]);

    bool fw_header = len >= 4 && ((frame_[0] == 0 && frame_[1] == 0 && frame_[2] == 0 && frame_[3] == 0) ||
                                  (frame_[0] == 0xFF && frame_[1] == 0xFF && frame_[2] == 0xFF && frame_[3] == 0xFF));
    if (fw_header && upgrade_ == Upgrade::Receiving) {
        firmware_message(frame_, len, rx != nullptr);
    } else if (fw_header && rx == nullptr) {
        ctx_.record(LogKind::Imc, "fw %s %u", hex_bytes(frame_, 4).c_str(), len - 4);
        ctx_.violation("imc: firmware message outside version-up mode");
    } else if (len != FRAME_SIZE || rx == nullptr) {
        ctx_.record(LogKind::Imc, "%s", hex_bytes(frame_, len < 16 ? len : 16).c_str());
        ctx_.violation("imc: %u-byte %s transfer, exchanges are 512 bytes both ways", len,
                       rx == nullptr ? "transmit-only" : "full-duplex");
    } else {
        frame(frame_, rx);
    }
}

// One 512-byte exchange. Only the status request has an answer; for every
// other frame (and every refused one) the IMC sends zeros, which is all the
// main board expects of it.
void Imc::frame(const uint8_t *f, uint8_t *rx)
{
    unsigned length = f[2] << 8 | f[3];
    unsigned type = f[4] << 8 | f[5];
    unsigned body = f[6] << 8 | f[7];
    if (length < 8 || length > FRAME_SIZE) {
        ctx_.record(LogKind::Imc, "%s", hex_bytes(f, 16).c_str());
        ctx_.violation("imc: frame length %u out of range (8 to 512)", length);
        return;
    }
    ctx_.record(LogKind::Imc, "%s", hex_bytes(f, length).c_str());

    unsigned sum = 0;
    for (unsigned i = 4; i < length; ++i)
        sum += f[i];
    sum &= 0xFFFF;
    unsigned checksum = f[0] << 8 | f[1];
    if (sum != checksum) {
        ctx_.violation("imc: checksum 0x%04X, the frame sums to 0x%04X; frame dropped", checksum,
                       sum);
        return;
    }
    unsigned trailing = 0;
    for (unsigned i = length; i < FRAME_SIZE; ++i)
        trailing += f[i] != 0;
    if (trailing > 0)
        ctx_.violation("imc: %u non-zero bytes after the %u-byte frame", trailing, length);

    if (type == TYPE_STATUS) {
        if (length != 8 || body != 0) {
            ctx_.violation("imc: status request with length %u and body length %u (8 and 0)",
                           length, body);
            return;
        }
        status_reply(rx);
        return;
    }
    if (type != TYPE_COMMAND) {
        ctx_.violation("imc: unknown frame type 0x%04X", type);
        return;
    }
    if (length < 12 || body != length - 8 || f[8] != length - 9) {
        ctx_.violation("imc: command frame of length %u carries body length %u and command "
                       "length %u (expected %u and %u)",
                       length, body, f[8], length - 8, length - 9);
        return;
    }
    command(f, length);
}

void Imc::status_reply(uint8_t *rx)
{
    if (ctx_.faults.empty_status != 0) {
        if (ctx_.faults.empty_status > 0)
            --ctx_.faults.empty_status;
        return;  // rx stays zero
    }
    const uint8_t *s = status_.data();
    for (unsigned i = 0; i < FRAME_SIZE; ++i)
        rx[i] = reverse_bits(s[i]);
    // The main board has the news: the interrupt may end.
    if (i2n_unread_) {
        i2n_unread_ = false;
        if (i2n_min_done_)
            ctx_.lines.drive(Line::I2nInt, 0);
    }
}

void Imc::command(const uint8_t *f, unsigned length)
{
    static constexpr uint8_t VERSION_UP[] = {0x99, 0x55, 0x99, 0x55};
    if (length == 17 && std::memcmp(f + 9, VERSION_UP, sizeof VERSION_UP) == 0) {
        start_version_up(static_cast<uint32_t>(f[13]) << 24 | f[14] << 16 | f[15] << 8 | f[16]);
        return;
    }
    if (f[9] != 0) {
        ctx_.violation("imc: command byte 9 is 0x%02X, expected 0x00", f[9]);
        return;
    }
    uint8_t group = f[10];
    uint8_t item = f[11];
    unsigned n = length - 12;
    // In version-up mode the IMC leaves its application's command handling
    // behind: until power-off or the reset line it takes only the status
    // request and the image. A system reset command here (the main board
    // restarting it the usual way after an upgrade) is dropped, and before
    // FWUP_CMPLT would have cut the write-in short.
    if (upgrade_ != Upgrade::Idle) {
        ctx_.violation("imc: command group 0x%02X item 0x%02X in firmware version-up mode (%s); only "
                       "power-off or the reset line ends it",
                       group, item, upgrade_name(upgrade_));
        return;
    }
    // The boot loader knows the status request, the firmware upgrade and
    // the system reset; it drops every setting (the application that would
    // apply it does not run).
    if (state_ == State::Loader && !(group == 0x08 && item == 0x00)) {
        ctx_.note("IMC boot loader ignores command group 0x%02X item 0x%02X", group, item);
        return;
    }
    const CommandRow *row = find_command(group, item);
    if (row == nullptr) {
        ctx_.violation("imc: unknown command group 0x%02X item 0x%02X", group, item);
        return;
    }
    if (n != row->n) {
        ctx_.violation("imc: %s command with %u value bytes, expected %u", row->what, n, row->n);
        return;
    }
    // A well-formed frame the IMC takes and then does not act on (fault
    // ignore): nothing in the status block shows it.
    if (ctx_.faults.ignored_commands.count(static_cast<unsigned>(group) << 8 | item) != 0) {
        if (ctx_.verbose)
            ctx_.note("IMC does not apply the %s command (fault)", row->what);
        return;
    }
    const uint8_t *v = f + 12;
    if (row->effect != nullptr) {
        row->effect(*this, v);
    } else {
        for (unsigned i = 0; i < n; ++i) {
            if (row->offsets[i] >= 0)
                status_[row->offsets[i]] = v[i];
        }
    }
    if (row->exposure)
        exposure_.retarget();
}

void Imc::firmware_message(const uint8_t *f, uint32_t len, bool has_rx)
{
    bool last = f[0] == 0xFF;
    uint32_t n = len - 4;
    ctx_.record(LogKind::Imc, "fw %s %u", hex_bytes(f, 4).c_str(), n);
    if (has_rx)
        ctx_.violation("imc: firmware message with a receive buffer (messages are transmit-only)");
    if (fw_received_ < sizeof fw_head_) {
        uint32_t take = sizeof fw_head_ - fw_received_;
        std::memcpy(fw_head_ + fw_received_, f + 4, n < take ? n : take);
    }
    fw_received_ += n;
    if (!last) {
        if (fw_received_ >= fw_expected_) {
            ctx_.violation("imc: firmware message %u bytes into a %u-byte image has header "
                           "00000000, the message with the final bytes needs FFFFFFFF",
                           fw_received_, fw_expected_);
            fw_bad_ = true;
        }
        return;
    }
    if (fw_received_ != fw_expected_) {
        ctx_.violation("imc: firmware image ends after %u bytes, %u were announced",
                       fw_received_, fw_expected_);
        fw_bad_ = true;
    }
    // Taking the image in: the IMC is busy and raises no REQ meanwhile.
    upgrade_ = Upgrade::Checking;
    withdraw_req();
    ctx_.timers.set(TimerId::FwupWriteDone, ctx_.after_ms(ctx_.config.fwup_write_ms));
    ctx_.note("IMC received %u firmware bytes, checking them", fw_received_);
}

void Imc::write_in_done()
{
    uint8_t answer = 0x01;
    uint32_t revision = 0;
    if (ctx_.faults.fwup == Faults::Fwup::WriteTimeout) {
        answer = 0x00;
    } else if (ctx_.faults.fwup == Faults::Fwup::WriteNg || fw_bad_) {
        answer = 0x02;
    } else if (!parse_revision(fw_head_, fw_received_ < sizeof fw_head_ ? fw_received_ : sizeof fw_head_,
                               &revision)) {
        ctx_.note("IMC rejects the image: its \"Rev.\" text has no revision number");
        answer = 0x02;
    }
    status_[sts::FWUP_WRITE] = answer;
    if (answer != 0x01) {
        // Refused before anything was written: the old application stays.
        upgrade_ = Upgrade::Refused;
        ctx_.note("IMC firmware write-in answer 0x%02X", answer);
        return;
    }
    // The write-in: the application in flash is overwritten, and only
    // FWUP_CMPLT tells that the new one is whole. Power or reset taken away
    // before it leaves the boot loader alone in the flash.
    upgrade_ = Upgrade::Writing;
    flash_application_ = false;
    flash_revision_ = 0;
    written_revision_ = revision;
    ctx_.note("IMC writing revision %u into its flash", revision);
    if (!ctx_.faults.fwup_cmplt_never)
        ctx_.timers.set(TimerId::FwupCmplt, ctx_.after_ms(ctx_.config.fwup_cmplt_ms));
}

void Imc::flash_written()
{
    upgrade_ = Upgrade::Complete;
    flash_application_ = true;
    flash_revision_ = written_revision_;
    if (ctx_.faults.init_done == Faults::InitDone::NeverUntilUpgrade)
        ctx_.faults.init_done = Faults::InitDone::Rises;
    ctx_.lines.drive(Line::FwupCmplt, 1);
    ctx_.note("IMC firmware write-in complete: FWUP_CMPLT high, revision %u runs after the next start",
              flash_revision_);
}

bool Imc::parse_revision(const uint8_t *head, size_t len, uint32_t *revision)
{
    *revision = 0;
    size_t marker = SIZE_MAX;
    for (size_t i = 0; i + 4 <= len && i <= 56; ++i) {
        if (std::memcmp(head + i, "Rev.", 4) == 0) {
            marker = i;
            break;
        }
    }
    if (marker == SIZE_MAX)
        return true;
    size_t start = marker + 4;
    for (size_t i = start; i < start + 5 && i < len; ++i) {
        if (head[i] == ' ') {
            // A decimal number as the C library reads one; a negative one
            // is no revision the IMC can hold.
            char field[5] = {};
            std::memcpy(field, head + start, i - start);
            long value = std::strtol(field, nullptr, 10);
            if (value < 0)
                return false;
            *revision = static_cast<uint32_t>(value);
            return true;
        }
    }
    return false;
}

std::string Imc::describe() const
{
    std::string out = "imc ";
    out += state_name(state_);
    out += "\nimc_mode ";
    out += mode_ == Mode::Safe ? "safe" : "normal";
    out += "\nimc_upgrade ";
    out += upgrade_name(upgrade_);
    out += "\nimc_revision " + std::to_string(status_.u32(sts::REVISION));
    out += "\nflash_revision " + std::to_string(flash_revision_);
    out += "\nflash ";
    out += flash_application_ ? "application" : "boot_loader_only";
    out += "\nfw_received " + std::to_string(fw_received_) + "\n";
    out += exposure_.describe();
    return out;
}

}  // namespace optad::sim
