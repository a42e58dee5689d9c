// ctl "fault ...": the module's own faults.
#include "sim/control_table.h"

namespace optad::sim::ctl {

namespace {

Faults &faults(const Call &c)
{
    return c.board.ctx().faults;
}

// A word that names one of a setting's values.
template <typename T>
struct Choice {
    const char *word;
    T value;
};

template <typename T, size_t N>
bool choose(const Choice<T> (&choices)[N], const std::string &word, T *out)
{
    for (const Choice<T> &c : choices) {
        if (word == c.word) {
            *out = c.value;
            return true;
        }
    }
    return false;
}

ControlAnswer flag(const Call &c, bool Faults::*member)
{
    if (!on_off(c[0], &(faults(c).*member)))
        return error("expected on or off, not " + c[0]);
    return ok();
}

ControlAnswer fault_heartbeat(const Call &c)
{
    static constexpr Choice<Faults::Heartbeat> CHOICES[] = {
        {"run", Faults::Heartbeat::Run}, {"stop", Faults::Heartbeat::Stop}, {"ffff", Faults::Heartbeat::Unset}};
    if (!choose(CHOICES, c[0], &faults(c).heartbeat))
        return error("usage: fault heartbeat run|stop|ffff");
    return ok();
}

ControlAnswer fault_protector_stuck(const Call &c)
{
    ControlAnswer a = flag(c, &Faults::protector_stuck);
    if (!faults(c).protector_stuck)
        c.board.imc().protector_released();
    return a;
}

ControlAnswer fault_ircut_error(const Call &c) { return flag(c, &Faults::ircut_error); }
ControlAnswer fault_fpga_not_init(const Call &c) { return flag(c, &Faults::fpga_not_init); }
ControlAnswer fault_req_never(const Call &c) { return flag(c, &Faults::req_never); }
ControlAnswer fault_fwup_cmplt_never(const Call &c) { return flag(c, &Faults::fwup_cmplt_never); }
ControlAnswer fault_i2c_nack(const Call &c) { return flag(c, &Faults::i2c_nack); }
ControlAnswer fault_exposure_hunting(const Call &c) { return flag(c, &Faults::exposure_hunting); }

// One set command the IMC takes but does not apply: the frame is judged and
// logged like any other, the status block does not change for it, so the
// main board never sees it confirmed.
ControlAnswer fault_ignore(const Call &c)
{
    long group;
    long item;
    bool on;
    if (!number(c[0], 0, 255, &group) || !number(c[1], 0, 255, &item) || !on_off(c[2], &on))
        return error("usage: fault ignore <group> <item> on|off");
    if (imc_command_name(static_cast<uint8_t>(group), static_cast<uint8_t>(item)) == nullptr)
        return error("the IMC has no command group " + c[0] + " item " + c[1]);
    unsigned key = static_cast<unsigned>(group) << 8 | static_cast<unsigned>(item);
    if (on)
        faults(c).ignored_commands.insert(key);
    else
        faults(c).ignored_commands.erase(key);
    return ok();
}

ControlAnswer fault_fpga_link(const Call &c)
{
    Faults &f = faults(c);
    if (c[0] == "loss") {
        // Lost once: it trains again after the IMC restarts.
        f.link = Faults::Link::Ok;
        f.link_lost = true;
        return ok();
    }
    static constexpr Choice<Faults::Link> CHOICES[] = {
        {"ok", Faults::Link::Ok}, {"down", Faults::Link::Down}, {"one_lane", Faults::Link::OneLane}};
    if (!choose(CHOICES, c[0], &f.link))
        return error("usage: fault fpga_link ok|loss|down|one_lane");
    if (f.link == Faults::Link::Ok)
        f.link_lost = false;
    return ok();
}

ControlAnswer fault_fpga_io_exp(const Call &c)
{
    long v;
    if (c[0] == "off")
        faults(c).fpga_io_exp = -1;
    else if (number(c[0], 0, 255, &v))
        faults(c).fpga_io_exp = static_cast<int>(v);
    else
        return error("usage: fault fpga_io_exp <byte>|off");
    return ok();
}

ControlAnswer fault_power_good(const Call &c)
{
    if (c[0] != "drop")
        return error("usage: fault power_good drop");
    c.board.drop_power_good();
    return ok();
}

ControlAnswer fault_init_done(const Call &c)
{
    if (c[0] != "drop")
        return error("usage: fault init_done drop");
    c.board.drop_init_done();
    return ok();
}

ControlAnswer fault_init_done_never(const Call &c)
{
    static constexpr Choice<Faults::InitDone> CHOICES[] = {{"off", Faults::InitDone::Rises},
                                                           {"on", Faults::InitDone::NeverNormal},
                                                           {"all", Faults::InitDone::NeverAll},
                                                           {"until_upgrade", Faults::InitDone::NeverUntilUpgrade}};
    if (!choose(CHOICES, c[0], &faults(c).init_done))
        return error("usage: fault init_done_never on|off|all|until_upgrade");
    return ok();
}

ControlAnswer fault_empty_status(const Call &c)
{
    long v;
    if (c[0] == "on")
        faults(c).empty_status = -1;
    else if (c[0] == "off")
        faults(c).empty_status = 0;
    else if (number(c[0], 0, 1000000, &v))
        faults(c).empty_status = static_cast<int>(v);
    else
        return error("usage: fault empty_status <count>|on|off");
    return ok();
}

ControlAnswer fault_fwup(const Call &c)
{
    static constexpr Choice<Faults::Fwup> CHOICES[] = {{"ok", Faults::Fwup::Ok},
                                                       {"start_ng", Faults::Fwup::StartNg},
                                                       {"ng", Faults::Fwup::WriteNg},
                                                       {"timeout", Faults::Fwup::WriteTimeout}};
    if (!choose(CHOICES, c[0], &faults(c).fwup))
        return error("usage: fault fwup ok|start_ng|ng|timeout");
    return ok();
}

ControlAnswer fault_device(const Call &c)
{
    if (c[1] == "missing")
        faults(c).missing_devices.insert(c[0]);
    else if (c[1] == "present")
        faults(c).missing_devices.erase(c[0]);
    else
        return error("usage: fault device <path> missing|present");
    return ok();
}

ControlAnswer fault_clear(const Call &c)
{
    // Per-call failures (ctl "fail") are not the module's faults and stay.
    Faults &f = faults(c);
    bool stuck = f.protector_stuck;
    f = Faults{};
    if (stuck)
        c.board.imc().protector_released();
    return ok();
}

constexpr Row ROWS[] = {
    {"heartbeat", 1, 1, fault_heartbeat, "fault heartbeat run|stop|ffff",
     "the heart beat steps, freezes, or holds FF FF"},
    {"lens_error", 1, 1, set_lens_error, "fault lens_error <code>|off", "as set lens_error"},
    {"protector_stuck", 1, 1, fault_protector_stuck, "fault protector_stuck on|off",
     "the protector stays moving (2) after a command"},
    {"ircut_error", 1, 1, fault_ircut_error, "fault ircut_error on|off", "0x66 holds 0x80"},
    {"fpga_link", 1, 1, fault_fpga_link, "fault fpga_link ok|loss|down|one_lane",
     "loss: down until the IMC restarts; down: held down; one_lane: two_lane held off"},
    {"fpga_not_init", 1, 1, fault_fpga_not_init, "fault fpga_not_init on|off", "io_exp keeps 0x80"},
    {"fpga_io_exp", 1, 1, fault_fpga_io_exp, "fault fpga_io_exp <byte>|off", "io_exp reads this byte"},
    {"power_good", 1, 1, fault_power_good, "fault power_good drop",
     "POWER_GOOD falls until the supplies are switched off and on"},
    {"init_done", 1, 1, fault_init_done, "fault init_done drop", "the IMC halts: INIT_DONE low until the next reset"},
    {"init_done_never", 1, 1, fault_init_done_never, "fault init_done_never on|all|until_upgrade|off",
     "INIT_DONE never rises in a normal start, in any start, or in a normal start until an upgrade completes"},
    {"req_never", 1, 1, fault_req_never, "fault req_never on|off", "REQ never rises"},
    {"empty_status", 1, 1, fault_empty_status, "fault empty_status <n>|on|off",
     "the next n status replies (or all) are 512 zero bytes"},
    {"fwup", 1, 1, fault_fwup, "fault fwup ok|start_ng|ng|timeout",
     "the start is answered 0x02, or the write-in 0x02 or 0x00"},
    {"fwup_cmplt_never", 1, 1, fault_fwup_cmplt_never, "fault fwup_cmplt_never on|off",
     "FWUP_CMPLT never rises: the write-in never completes"},
    {"i2c_nack", 1, 1, fault_i2c_nack, "fault i2c_nack on|off", "the PMIC does not acknowledge"},
    {"device", 2, 2, fault_device, "fault device <path> missing|present", "the device file is missing (ENOENT)"},
    {"exposure_hunting", 1, 1, fault_exposure_hunting, "fault exposure_hunting on|off",
     "the current exposure indices 0x42-0x44 change every frame and never settle"},
    {"ignore", 3, 3, fault_ignore, "fault ignore <group> <item> on|off",
     "the IMC accepts that set command but does not apply it to the status block"},
    {"clear", 0, 0, fault_clear, "fault clear", "every fault off (per-call failures stay)"},
};

}  // namespace

std::span<const Row> fault_rows()
{
    return ROWS;
}

}  // namespace optad::sim::ctl
