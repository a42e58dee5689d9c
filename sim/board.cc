#include "sim/board.h"

#include "platform/sim_protocol.h"
#include "sim/power_order.h"

#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstdio>
#include <span>

namespace optad::sim {

namespace {

// The IMC link: SPI mode 1, exactly 3 MHz, 1 us after each transfer.
constexpr SpiRules IMC_RULES = {"imc", SPI_MODE_1, 3'000'000, true, 1, FAIL_SPI_IMC};
// The FPGA: SPI mode 0, at most 5 MHz, no delay.
constexpr SpiRules FPGA_RULES = {"fpga", SPI_MODE_0, 5'000'000, false, 0, FAIL_SPI_FPGA};

// How often /proc/interrupts is rewritten (its timer row moves with time).
constexpr int INTERRUPTS_FLUSH_MS = 200;

class SpiSession final : public DeviceSession {
public:
    SpiSession(SpiBus &bus, Context &ctx, const char *name) : bus_(bus), ctx_(ctx), name_(name) {}
    int ioctl(uint32_t request, bool by_value, uint64_t, const uint8_t *payload, size_t len,
              std::vector<uint8_t> &out) override
    {
        if (by_value) {
            ctx_.violation("%s: spidev request 0x%08X with a value instead of a pointer", name_,
                           request);
            return -EFAULT;
        }
        return bus_.ioctl(request, payload, len, out);
    }
    int read(size_t, std::vector<uint8_t> &) override { return refuse("read"); }
    int write(const uint8_t *, size_t) override { return refuse("write"); }

private:
    int refuse(const char *what)
    {
        // spidev would run a half-duplex transfer; the chips here need the
        // full transfer records.
        ctx_.violation("%s: plain %s on a spidev device instead of SPI_IOC_MESSAGE", name_, what);
        return -EINVAL;
    }
    SpiBus &bus_;
    Context &ctx_;
    const char *name_;
};

}  // namespace

Board::Board(const Config &config, int64_t now_us)
    : imc_(ctx_),
      fpga_(ctx_),
      pmic_(ctx_),
      cam0_(ctx_),
      datacache_(ctx_),
      imc_bus_(ctx_, IMC_RULES, imc_, Interrupts::ImcSpi),
      fpga_bus_(ctx_, FPGA_RULES, fpga_, Interrupts::FpgaSpi)
{
    ctx_.config = config;
    ctx_.now_us = now_us;
    ctx_.start_us = now_us;
    ctx_.timers.set(TimerId::InterruptsFlush, now_us);
}

void Board::advance(int64_t now_us)
{
    // Each timer runs at its own deadline, so that what it starts is timed
    // from then even when the loop wakes late.
    TimerId id;
    int64_t due;
    while (ctx_.timers.take_due(now_us, &id, &due)) {
        ctx_.now_us = due > ctx_.now_us ? due : ctx_.now_us;
        if (!imc_.on_timer(id))
            on_timer(id);
        evaluate();
    }
    ctx_.now_us = now_us > ctx_.now_us ? now_us : ctx_.now_us;
    evaluate();
}

void Board::on_timer(TimerId id)
{
    Lines &lines = ctx_.lines;
    switch (id) {
    case TimerId::PowerGoodRise:
        if (supplies_ && !power_good_dropped_) {
            lines.drive(Line::PowerGood, 1);
            ctx_.note("supplies good: POWER_GOOD high");
        }
        break;
    case TimerId::PowerGoodFall:
        if (lines.drive(Line::PowerGood, 0))
            ctx_.note("supplies off: POWER_GOOD low");
        break;
    case TimerId::FpgaInit:
        fpga_.initialized();
        break;
    case TimerId::LinkUp:
        link_up_ = true;
        break;
    case TimerId::TwoLane:
        two_lane_ = true;
        break;
    case TimerId::StreamUp:
        stream_ = true;
        break;
    case TimerId::InterruptsFlush:
        ctx_.interrupts.flush(ctx_.now_us, true);
        ctx_.timers.set(TimerId::InterruptsFlush, ctx_.after_ms(INTERRUPTS_FLUSH_MS));
        break;
    case TimerId::Sequence:
        run_sequence();
        break;
    default:
        break;
    }
}

void Board::evaluate()
{
    Lines &lines = ctx_.lines;
    Timers &timers = ctx_.timers;
    Faults &faults = ctx_.faults;

    // The PMIC lives on the 12 V supply: without it, it forgets its
    // registers.
    bool twelve_volts = lines.level(Line::Enable12v) != 0;
    if (twelve_volts != pmic_powered_) {
        pmic_powered_ = twelve_volts;
        if (!twelve_volts)
            pmic_.unpowered();
    }
    // A DC-phase board must not have LDO1 on: logged once each time it is
    // switched on (or the board strap says DC while it is on).
    bool de = lines.level(Line::PowerType) == 1;
    bool ldo1_on_dc = !de && pmic_.ldo1_enabled();
    if (ldo1_on_dc && !ldo1_dc_reported_)
        ctx_.violation("pmic: LDO1 enabled on a DC-phase board");
    ldo1_dc_reported_ = ldo1_on_dc;

    // Supplies: the 1.8 V reset buffer, 12 V, the PMIC's rails for this
    // board and the DC/DC converters.
    bool supplies = lines.level(Line::RstBuffer1v8) && twelve_volts && pmic_.rails_ready(de) &&
                    lines.level(Line::DcdcEn);
    if (supplies != supplies_) {
        supplies_ = supplies;
        if (supplies) {
            timers.cancel(TimerId::PowerGoodFall);
            timers.set(TimerId::PowerGoodRise, ctx_.after_ms(ctx_.config.pg_rise_ms));
        } else {
            power_good_dropped_ = false;
            timers.cancel(TimerId::PowerGoodRise);
            if (lines.level(Line::PowerGood))
                timers.set(TimerId::PowerGoodFall, ctx_.after_ms(ctx_.config.pg_fall_ms));
        }
    }

    // The IMC runs while its supplies are good and its reset is released.
    bool may_run = lines.level(Line::PowerGood) && lines.level(Line::FrontReset);
    switch (imc_.state()) {
    case Imc::State::Off:
        if (may_run)
            imc_.start(lines.level(Line::SafeBoot) ? Imc::Mode::Safe : Imc::Mode::Normal);
        break;
    default:
        if (!may_run)
            imc_.stop();
        break;
    }
    if (imc_.state() == Imc::State::Off)
        faults.link_lost = false;  // a lost link trains again after a restart

    // The FPGA starts after its reset is released.
    bool released = lines.level(Line::FpgaReset) != 0;
    if (released != fpga_released_) {
        fpga_released_ = released;
        if (released) {
            timers.set(TimerId::FpgaInit, ctx_.after_ms(ctx_.config.fpga_init_ms));
        } else {
            timers.cancel(TimerId::FpgaInit);
            fpga_.hold_in_reset();
        }
    }

    // The video link trains while the IMC runs with PCIe reset released and
    // its reference clock on; two lanes follow, then the stream once the
    // FPGA's stream is enabled and the IMC sends video.
    bool link_ok = fpga_.is_initialized() && imc_.running() && lines.level(Line::Perst) &&
                   lines.level(Line::PcieClkEnable) && faults.link != Faults::Link::Down &&
                   !faults.link_lost;
    if (!link_ok) {
        link_up_ = two_lane_ = stream_ = false;
        timers.cancel(TimerId::LinkUp);
    } else if (!link_up_ && !timers.pending(TimerId::LinkUp)) {
        timers.set(TimerId::LinkUp, ctx_.after_ms(ctx_.config.link_ms));
    }
    if (!link_up_ || faults.link == Faults::Link::OneLane) {
        two_lane_ = false;
        timers.cancel(TimerId::TwoLane);
    } else if (!two_lane_ && !timers.pending(TimerId::TwoLane)) {
        timers.set(TimerId::TwoLane, ctx_.after_ms(ctx_.config.two_lane_ms));
    }
    bool stream_ok = link_up_ && two_lane_ && fpga_.stream_enabled() && imc_.streaming();
    if (!stream_ok) {
        stream_ = false;
        timers.cancel(TimerId::StreamUp);
    } else if (!stream_ && !timers.pending(TimerId::StreamUp)) {
        timers.set(TimerId::StreamUp, ctx_.after_ms(ctx_.config.stream_ms));
    }
    fpga_.set_link(link_up_, two_lane_, stream_);
}

int Board::line_request(int gpio, const std::string &name_or_label)
{
    Line line;
    bool found = gpio < 0 ? line_by_name(name_or_label, &line) : line_by_gpio(gpio, &line);
    if (!found)
        return -ENODEV;
    int err;
    if (ctx_.fail(FailKind::GpioRequest, static_cast<int>(line), &err))
        return -err;
    return ctx_.lines.add_handle(line)->id;
}

int Board::events_request(int32_t id)
{
    Handle *h = ctx_.lines.handle(id);
    if (h == nullptr)
        return -EBADF;
    int err;
    if (ctx_.fail(FailKind::GpioFd, static_cast<int>(h->line), &err))
        return -err;
    return 0;
}

namespace {

// The injectable failure of each line call (Count: none).
FailKind fail_kind_of(int op)
{
    switch (op) {
    case simproto::LINE_FULL_OPEN: return FailKind::GpioOpen;
    case simproto::LINE_DIRECTION_INPUT:
    case simproto::LINE_DIRECTION_OUTPUT: return FailKind::GpioDirection;
    case simproto::LINE_GET_VALUE: return FailKind::GpioRead;
    case simproto::LINE_SET_VALUE: return FailKind::GpioWrite;
    case simproto::LINE_SET_EDGE: return FailKind::GpioEdge;
    case simproto::LINE_ALTERABLE: return FailKind::GpioNotAlterable;
    default: return FailKind::Count;
    }
}

}  // namespace

int Board::line_op(int32_t id, int op, int arg)
{
    Lines &lines = ctx_.lines;
    Handle *h = lines.handle(id);
    if (h == nullptr)
        return -EBADF;
    Line line = h->line;
    const LineInfo &info = line_info(line);
    if (op != simproto::LINE_FULL_OPEN && op != simproto::LINE_CLOSE && !h->opened) {
        ctx_.violation("gpio: %s used before it was opened", info.name);
        return -EBADF;
    }
    // Making a line an output at a level and writing its value right after
    // is one change of the line, as the programs' gpio_write does it: an
    // output already at 1 that is made an output at 0 and written 1 again
    // does not glitch low in between. So the level of direction_output()
    // waits for the next call on the handle: a value write replaces it,
    // anything else applies it first.
    if (h->pending_level >= 0 && op != simproto::LINE_SET_VALUE)
        apply_pending(*h);
    // An injected failure: the call does nothing, except what the library
    // has done before it fails (a value read has taken the pending edge, a
    // value write comes after the output's level).
    if (FailKind kind = fail_kind_of(op); kind != FailKind::Count) {
        int err;
        if (ctx_.fail(kind, static_cast<int>(line), &err)) {
            if (kind == FailKind::GpioNotAlterable)
                return 0;
            if (op == simproto::LINE_GET_VALUE)
                Lines::value_read(*h);
            if (h->pending_level >= 0)
                apply_pending(*h);
            return -err;
        }
    }
    switch (op) {
    case simproto::LINE_FULL_OPEN:
        h->opened = true;
        return 0;
    case simproto::LINE_ALTERABLE:
        // Every line's direction can be set, as sysfs offers a direction
        // file for each; the module's inputs refuse to become outputs.
        return 1;
    case simproto::LINE_GET_DIRECTION:
        return lines.is_output(line) ? 0 : 1;
    case simproto::LINE_DIRECTION_INPUT:
        lines.set_output(line, false);
        return 0;
    case simproto::LINE_DIRECTION_OUTPUT:
        if (info.driver != Driver::Program) {
            ctx_.violation("gpio: %s is driven by the %s and cannot be made an output", info.name,
                           info.driver == Driver::Module ? "module" : "board");
            return -EPERM;
        }
        lines.set_output(line, true);
        ctx_.record(LogKind::Gpio, "%s out %d", info.name, arg != 0);
        h->pending_level = arg != 0;
        return 0;
    case simproto::LINE_SET_VALUE:
        h->pending_level = -1;
        if (!lines.is_output(line)) {
            ctx_.violation("gpio: value %d written to %s, which is an input", arg, info.name);
            return -EPERM;
        }
        ctx_.record(LogKind::Gpio, "%s %d", info.name, arg != 0);
        set_program_line(line, arg != 0);
        return 0;
    case simproto::LINE_GET_VALUE:
        Lines::value_read(*h);
        return lines.level(line);
    case simproto::LINE_SET_EDGE:
        if ((arg & ~(EDGE_RISE | EDGE_FALL)) != 0) {
            ctx_.violation("gpio: edge code %d on %s (4, 8 or 12)", arg, info.name);
            return -EINVAL;
        }
        h->edge = arg;
        return 0;
    case simproto::LINE_CLOSE:
        h->opened = false;
        h->events_fd = -1;
        return 0;
    default:
        return -EINVAL;
    }
}

void Board::apply_pending(Handle &h)
{
    int level = h.pending_level;
    h.pending_level = -1;
    set_program_line(h.line, level);
}

void Board::line_closed(int32_t id)
{
    if (Handle *h = ctx_.lines.handle(id); h != nullptr && h->pending_level >= 0)
        apply_pending(*h);
    ctx_.lines.remove_handle(id);
}

void Board::set_program_line(Line line, int level)
{
    power_order_check(ctx_.lines, line, level,
                      [this](const char *text) { ctx_.violation("power order: %s", text); });
    ctx_.lines.drive(line, level);
    evaluate();
}

void Board::line_attach_events(int32_t id, int fd)
{
    if (Handle *h = ctx_.lines.handle(id))
        ctx_.lines.attach_events(*h, fd);
}

std::unique_ptr<DeviceSession> Board::open_device(const std::string &path, int, int *error)
{
    *error = 0;
    if (ctx_.faults.missing_devices.count(path) == 0) {
        if (path == "/dev/spidev2.0")
            return std::make_unique<SpiSession>(imc_bus_, ctx_, "imc");
        if (path == "/dev/spidev3.0")
            return std::make_unique<SpiSession>(fpga_bus_, ctx_, "fpga");
        if (path == "/dev/i2c-4")
            return pmic_.open();
        if (path == "/dev/cam0")
            return cam0_.open();
        if (path == "/dev/datacache0")
            return datacache_.open();
    }
    *error = ENOENT;
    return nullptr;
}

bool Board::drive_line(Line line, int level, std::string *error)
{
    const LineInfo &info = line_info(line);
    if (info.driver == Driver::Module) {
        *error = std::string(info.name) + " is driven by the module";
        return false;
    }
    if (info.driver == Driver::Program && !ctx_.lines.is_output(line)) {
        *error = std::string(info.name) + " is an input now";
        return false;
    }
    ctx_.record(LogKind::Gpio, "ctl %s %d", info.name, level != 0);
    if (info.driver == Driver::Program) {
        set_program_line(line, level != 0);
    } else {
        ctx_.lines.drive(line, level);
        evaluate();
    }
    return true;
}

void Board::force_line(Line line, int level)
{
    ctx_.record(LogKind::Gpio, "ctl --force %s %d", line_info(line).name, level != 0);
    ctx_.lines.drive(line, level);
    evaluate();
}

void Board::drop_power_good()
{
    power_good_dropped_ = true;
    ctx_.timers.cancel(TimerId::PowerGoodRise);
    ctx_.lines.drive(Line::PowerGood, 0);
    ctx_.note("POWER_GOOD dropped (fault): low until the supplies are switched off and on");
    evaluate();
}

void Board::drop_init_done()
{
    imc_.halt();
    evaluate();
}

bool Board::start_power_sequence(bool on, bool safe)
{
    if (sequence_active_)
        return false;
    const Config &c = ctx_.config;
    // Generous waits: the rig's delays plus two seconds.
    int pg_wait = c.pg_rise_ms + c.pg_fall_ms + 2000;
    int init_wait = c.init_done_ms + 2000;
    int link_wait = c.fpga_init_ms + c.link_ms + c.two_lane_ms + 2000;
    sequence_.clear();
    if (on) {
        sequence_ = {
            {Step::Drive, Line::FpgaReset, 0, 0, nullptr},
            {Step::Drive, Line::RstBuffer1v8, 1, 0, nullptr},
            {Step::Drive, Line::Enable12v, 1, 0, nullptr},
            {Step::Drive, Line::I2cPmicTristate, 1, 0, nullptr},
            {Step::Pmic, Line::Count, 0, 0, nullptr},
            {Step::Sleep, Line::Count, 0, 1, nullptr},
            {Step::Drive, Line::I2cPmicTristate, 0, 0, nullptr},
            {Step::Drive, Line::DcdcEn, 1, 0, nullptr},
            {Step::Wait, Line::PowerGood, 1, pg_wait, "POWER_GOOD did not rise"},
            {Step::Drive, Line::PcieClkEnable, 1, 0, nullptr},
        };
        if (safe)
            sequence_.push_back({Step::Drive, Line::SafeBoot, 1, 0, nullptr});
        sequence_.push_back({Step::Drive, Line::FrontReset, 1, 0, nullptr});
        sequence_.push_back({Step::WaitInit, Line::InitDone, 1, init_wait, "INIT_DONE did not rise"});
        sequence_.push_back({Step::Drive, Line::Perst, 1, 0, nullptr});
        sequence_.push_back({Step::Drive, Line::FpgaReset, 1, 0, nullptr});
        sequence_.push_back({Step::Drive, Line::SpiFrontTristate, 0, 0, nullptr});
        if (!safe)
            sequence_.push_back({Step::WaitLink, Line::Count, 0, link_wait, "the FPGA link did not come up"});
    } else {
        sequence_ = {
            {Step::Drive, Line::SpiFrontTristate, 1, 0, nullptr},
            {Step::Drive, Line::Perst, 0, 0, nullptr},
            {Step::Drive, Line::FpgaReset, 0, 0, nullptr},
            {Step::Drive, Line::FrontReset, 0, 0, nullptr},
            {Step::Drive, Line::PcieClkEnable, 0, 0, nullptr},
            {Step::Drive, Line::SafeBoot, 0, 0, nullptr},
            {Step::Drive, Line::DcdcEn, 0, 0, nullptr},
            {Step::Wait, Line::PowerGood, 0, pg_wait, "POWER_GOOD did not fall"},
            {Step::Drive, Line::Enable12v, 0, 0, nullptr},
            {Step::Drive, Line::RstBuffer1v8, 0, 0, nullptr},
        };
    }
    sequence_pos_ = 0;
    step_deadline_ = -1;
    sequence_active_ = true;
    sequence_finished_ = false;
    ctx_.timers.set(TimerId::Sequence, ctx_.now_us);
    return true;
}

void Board::run_sequence()
{
    auto finish = [this](const std::string &answer) {
        sequence_active_ = false;
        sequence_finished_ = true;
        sequence_answer_ = answer;
    };
    while (sequence_active_ && sequence_pos_ < sequence_.size()) {
        const Step &step = sequence_[sequence_pos_];
        if (step.kind == Step::Drive || step.kind == Step::Pmic) {
            std::string error;
            bool done = step.kind == Step::Drive ? drive_line(step.line, step.level, &error)
                                                 : program_pmic(&error);
            if (!done) {
                finish("error: " + error + "\n");
                return;
            }
            ++sequence_pos_;
            continue;
        }
        if (step_deadline_ < 0)
            step_deadline_ = ctx_.after_ms(step.ms);
        bool done = false;
        switch (step.kind) {
        case Step::Sleep:
            done = ctx_.now_us >= step_deadline_;
            break;
        case Step::Wait:
            done = ctx_.lines.level(step.line) == step.level;
            break;
        case Step::WaitInit:
            done = ctx_.lines.level(Line::InitDone) == 1;
            if (!done && imc_.state() == Imc::State::Loader) {
                // Safe boot without INIT_DONE: as the daemon does, release
                // the SPI front for the boot loader and stop here.
                std::string error;
                drive_line(Line::SpiFrontTristate, 0, &error);
                finish("ok: boot loader\n");
                return;
            }
            break;
        case Step::WaitLink:
            done = fpga_.link_up() && fpga_.two_lane();
            break;
        default:
            break;
        }
        if (done) {
            step_deadline_ = -1;
            ++sequence_pos_;
            continue;
        }
        if (step.kind != Step::Sleep && ctx_.now_us >= step_deadline_) {
            finish(std::string("error: ") + step.failure + "\n");
            return;
        }
        // Look again in a millisecond (or at the end of the pause).
        int64_t next = ctx_.after_ms(1);
        ctx_.timers.set(TimerId::Sequence, step.kind == Step::Sleep ? step_deadline_ : next);
        return;
    }
    if (sequence_active_)
        finish("ok\n");
}

bool Board::program_pmic(std::string *error)
{
    // Voltage selects, the sequencing step, then the enables: all four
    // rails on a DE-phase board, the three bucks on a DC-phase one.
    struct Write {
        uint8_t reg;
        uint8_t value;
    };
    static constexpr Write DE[] = {{pmic::BUCK1_VSEL, 0x2C}, {pmic::BUCK2_VSEL, 0x1E}, {pmic::BUCK3_VSEL, 0x32},
                                   {pmic::LDO1_VSEL, 0x24},  {pmic::SEQ, 0x02},        {pmic::EN, 0x0F}};
    static constexpr Write DC[] = {{pmic::BUCK1_VSEL, 0x2C}, {pmic::BUCK2_VSEL, 0x1E}, {pmic::BUCK3_VSEL, 0x32},
                                   {pmic::SEQ, 0x02},        {pmic::EN, 0x07}};
    bool de = ctx_.lines.level(Line::PowerType) == 1;
    std::span<const Write> writes = de ? std::span<const Write>(DE) : std::span<const Write>(DC);
    for (const Write &w : writes) {
        const uint8_t bytes[2] = {w.reg, w.value};
        if (pmic_.write(pmic::ADDRESS, bytes, sizeof bytes, true) != 2) {
            *error = "the PMIC did not take its init writes";
            return false;
        }
    }
    evaluate();
    return true;
}

bool Board::sequence_result(std::string *answer)
{
    if (!sequence_finished_)
        return false;
    sequence_finished_ = false;
    *answer = sequence_answer_;
    return true;
}

std::string Board::describe()
{
    char line[128];
    std::string out;
    std::snprintf(line, sizeof line, "supplies %d\npower_good %d\n", supplies_ ? 1 : 0,
                  ctx_.lines.level(Line::PowerGood));
    out += line;
    out += imc_.describe();
    std::snprintf(line, sizeof line, "fpga %s\nio_exp 0x%02X\nreq %s\n",
                  fpga_.is_initialized() ? "initialised" : (fpga_released_ ? "starting" : "reset"),
                  fpga_.io_exp(), ctx_.lines.level(Line::Req) ? "high" : "low");
    out += line;
    return out;
}

}  // namespace optad::sim
