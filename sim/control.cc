#include "sim/control.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace optad::sim {

namespace {

using Args = std::vector<std::string>;

// What a handler gets: the board, the words after the command word, and the
// raw text after the command word and the first argument (for free text).
struct Call {
    Board &board;
    const Args &args;
    const std::string &rest_after_first;
};

using Handler = ControlAnswer (*)(Call &call);

struct Command {
    const char *name;
    Handler handler;
    const char *usage;
};

ControlAnswer ok(const std::string &text = "ok\n")
{
    return {text, false, false};
}

ControlAnswer error(const std::string &text)
{
    return {"error: " + text + "\n", false, false};
}

bool number(const std::string &word, long min, long max, long *value)
{
    if (word.empty())
        return false;
    char *end = nullptr;
    long v = std::strtol(word.c_str(), &end, 0);
    if (*end != '\0' || v < min || v > max)
        return false;
    *value = v;
    return true;
}

// Parses args[from..] as numbers into out; false at the first bad one.
bool numbers(const Args &args, size_t from, size_t count, long min, long max, long *out,
             std::string *bad)
{
    if (args.size() != from + count) {
        *bad = "expected " + std::to_string(count) + " number(s)";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        if (!number(args[from + i], min, max, &out[i])) {
            *bad = "bad number: " + args[from + i];
            return false;
        }
    }
    return true;
}

bool on_off(const std::string &word, bool *value)
{
    if (word == "on") {
        *value = true;
        return true;
    }
    if (word == "off") {
        *value = false;
        return true;
    }
    return false;
}

std::string hex_rows(const uint8_t *data, size_t len, size_t base)
{
    std::string out;
    char head[8];
    for (size_t off = 0; off < len; off += 16) {
        std::snprintf(head, sizeof head, "%03zX: ", base + off);
        out += head;
        out += hex_bytes(data + off, len - off < 16 ? len - off : 16);
        out += '\n';
    }
    return out;
}

// ---- show ----

ControlAnswer show_gpio(Board &board)
{
    std::string out;
    for (int i = 0; i < static_cast<int>(Line::Count); ++i) {
        Line l = static_cast<Line>(i);
        const LineInfo &s = line_info(l);
        out += std::string(s.name) + (board.ctx().lines.is_output(l) ? " out " : " in ") +
               std::to_string(board.ctx().lines.level(l)) + "\n";
    }
    return ok(out);
}

ControlAnswer show_status(Board &board, const Args &args)
{
    const StatusBlock &s = board.imc().status();
    if (args.size() == 1)
        return ok(hex_rows(s.data(), sts::SIZE, 0));
    long offset = 0;
    long count = 1;
    if (!number(args[1], 0, sts::SIZE - 1, &offset) ||
        (args.size() > 2 && !number(args[2], 1, sts::SIZE - offset, &count)) || args.size() > 3)
        return error("usage: show status [offset [count]]");
    std::string out;
    char b[4];
    for (long i = 0; i < count; ++i) {
        std::snprintf(b, sizeof b, "%s%02x", i == 0 ? "" : " ", s[static_cast<int>(offset + i)]);
        out += b;
    }
    return ok(out + "\n");
}

std::string faults_text(const Faults &f)
{
    static const char *HB[] = {"run", "stop", "ffff"};
    static const char *LINK[] = {"ok", "loss", "down", "one_lane"};
    static const char *INIT[] = {"off", "on", "all", "until_upgrade"};
    static const char *FWUP[] = {"ok", "start_ng", "ng", "timeout"};
    std::string out;
    out += std::string("heartbeat ") + HB[static_cast<int>(f.heartbeat)] + "\n";
    out += std::string("protector_stuck ") + (f.protector_stuck ? "on" : "off") + "\n";
    out += std::string("ircut_error ") + (f.ircut_error ? "on" : "off") + "\n";
    out += std::string("fpga_link ") + LINK[static_cast<int>(f.link)] + (f.link_lost ? " (lost)" : "") + "\n";
    out += std::string("fpga_not_init ") + (f.fpga_not_init ? "on" : "off") + "\n";
    out += "fpga_io_exp " + (f.fpga_io_exp < 0 ? std::string("off") : std::to_string(f.fpga_io_exp)) + "\n";
    out += std::string("init_done_never ") + INIT[static_cast<int>(f.init_done)] + "\n";
    out += std::string("req_never ") + (f.req_never ? "on" : "off") + "\n";
    out += "empty_status " + (f.empty_status < 0 ? std::string("on") : std::to_string(f.empty_status)) + "\n";
    out += std::string("fwup ") + FWUP[static_cast<int>(f.fwup)] + "\n";
    out += std::string("fwup_cmplt_never ") + (f.fwup_cmplt_never ? "on" : "off") + "\n";
    out += std::string("i2c_nack ") + (f.i2c_nack ? "on" : "off") + "\n";
    for (const std::string &d : f.missing_devices)
        out += "device " + d + " missing\n";
    return out;
}

ControlAnswer cmd_show(Call &c)
{
    if (c.args.empty())
        return error("usage: show gpio|status|fpga|state|config|faults|cam0|pmic|datacache|interrupts");
    const std::string &what = c.args[0];
    Board &b = c.board;
    if (what == "gpio")
        return show_gpio(b);
    if (what == "status")
        return show_status(b, c.args);
    if (what == "fpga")
        return ok(b.fpga().describe());
    if (what == "state")
        return ok(b.describe());
    if (what == "config")
        return ok(config_text(b.ctx().config));
    if (what == "faults")
        return ok(faults_text(b.ctx().faults));
    if (what == "cam0")
        return ok(b.cam0().describe());
    if (what == "pmic")
        return ok(b.pmic().describe());
    if (what == "interrupts")
        return ok(b.ctx().interrupts.text(b.ctx().now_us));
    if (what == "datacache") {
        if (c.args.size() == 1)
            return ok(b.datacache().describe());
        std::string text;
        if (!b.datacache().dump(c.args[1], &text))
            return error("no data cache named " + c.args[1]);
        return ok(text);
    }
    return error("nothing called " + what + " to show");
}

// ---- set ----

ControlAnswer set_pair(StatusBlock &s, int offset, const Args &args)
{
    long v[2];
    std::string bad;
    if (!numbers(args, 1, 2, 0, 255, v, &bad))
        return error(bad);
    s[offset] = static_cast<uint8_t>(v[0]);
    s[offset + 1] = static_cast<uint8_t>(v[1]);
    return ok();
}

ControlAnswer lens_error(Board &b, const std::string &word)
{
    if (word == "off") {
        b.imc().clear_lens_error();
        return ok();
    }
    long code;
    if (!number(word, 0, 255, &code))
        return error("usage: lens_error <code>|off");
    b.imc().set_lens_error(static_cast<uint8_t>(code));
    return ok();
}

ControlAnswer cmd_set(Call &c)
{
    const Args &a = c.args;
    if (a.empty())
        return error("usage: set <field> <value...>");
    Board &b = c.board;
    StatusBlock &s = b.imc().status();
    const std::string &field = a[0];
    long v[6];
    std::string bad;

    if (field == "lens_name") {
        s.set_text(sts::LENS_NAME, sts::LENS_NAME_LEN, c.rest_after_first);
        return ok();
    }
    if (field == "serial") {
        s.set_text(sts::SERIAL, sts::SERIAL_LEN, c.rest_after_first);
        return ok();
    }
    if (field == "lens_error")
        return a.size() == 2 ? lens_error(b, a[1]) : error("usage: set lens_error <code>|off");
    if (field == "protector") {
        static const struct {
            const char *name;
            uint8_t value;
        } STATES[] = {{"closed", 0}, {"open", 1}, {"moving", 2}, {"error", 0x80}};
        if (a.size() != 2)
            return error("usage: set protector closed|open|moving|error|<byte>");
        for (const auto &st : STATES) {
            if (a[1] == st.name) {
                s[sts::PROTECTOR] = st.value;
                return ok();
            }
        }
        if (!number(a[1], 0, 255, v))
            return error("bad protector state: " + a[1]);
        s[sts::PROTECTOR] = static_cast<uint8_t>(v[0]);
        return ok();
    }
    if (field == "limits") {
        if (!numbers(a, 1, 6, 0, 255, v, &bad))
            return error(bad + " (iris min max, shutter min max, gain min max)");
        for (int i = 0; i < 6; ++i)
            s[sts::LIMITS + i] = static_cast<uint8_t>(v[i]);
        return ok();
    }
    if (field == "iris_limits")
        return set_pair(s, sts::LIMITS, a);
    if (field == "shutter_limits")
        return set_pair(s, sts::LIMITS + 2, a);
    if (field == "gain_limits")
        return set_pair(s, sts::LIMITS + 4, a);
    if (field == "temperature") {
        if (!numbers(a, 1, 1, -128, 127, v, &bad))
            return error(bad);
        s[sts::TEMPERATURE] = static_cast<uint8_t>(static_cast<int8_t>(v[0]));
        return ok();
    }
    if (field == "daynight_rec") {
        if (a.size() != 2)
            return error("usage: set daynight_rec day|night|<byte>");
        if (a[1] == "day")
            v[0] = 0x10;
        else if (a[1] == "night")
            v[0] = 0x11;
        else if (!number(a[1], 0, 255, v))
            return error("bad recommendation: " + a[1]);
        s[sts::DAY_NIGHT_REC] = static_cast<uint8_t>(v[0]);
        return ok();
    }
    if (field == "revision" || field == "flash_revision") {
        if (!numbers(a, 1, 1, 0, 0x7FFFFFFF, v, &bad))
            return error(bad);
        b.imc().set_flash_revision(static_cast<uint32_t>(v[0]));
        if (field == "revision")
            s.set_u32(sts::REVISION, static_cast<uint32_t>(v[0]));
        return ok();
    }
    if (field == "hwinfo") {
        if (!numbers(a, 1, 1, 0, 0xFFFF, v, &bad))
            return error(bad);
        s.set_u16(sts::HW_INFO, static_cast<unsigned>(v[0]));
        return ok();
    }
    if (field == "optics") {
        if (!numbers(a, 1, 3, 0, 0xFFFF, v, &bad))
            return error(bad);
        for (int i = 0; i < 3; ++i)
            s.set_u16(sts::OPTICS + 2 * i, static_cast<unsigned>(v[i]));
        return ok();
    }
    if (field == "focus_switch") {
        if (!numbers(a, 1, 1, 0, 255, v, &bad))
            return error(bad);
        s[sts::FOCUS_SWITCH] = static_cast<uint8_t>(v[0]);
        return ok();
    }
    if (field == "exposure") {
        if (!numbers(a, 1, 3, 0, 255, v, &bad))
            return error(bad + " (iris shutter gain indices)");
        s[sts::IRIS] = static_cast<uint8_t>(v[0]);
        s[sts::SHUTTER] = static_cast<uint8_t>(v[1]);
        s[sts::GAIN] = static_cast<uint8_t>(v[2]);
        return ok();
    }
    if (field == "capture") {
        if (!numbers(a, 1, 2, 0, 255, v, &bad))
            return error(bad + " (resolution code, frame rate)");
        s[sts::RESOLUTION] = static_cast<uint8_t>(v[0]);
        s[sts::FRAME_RATE] = static_cast<uint8_t>(v[1]);
        return ok();
    }
    if (field == "heartbeat") {
        if (!numbers(a, 1, 1, 0, 0xFFFF, v, &bad))
            return error(bad);
        s.set_u16(sts::HEARTBEAT, static_cast<unsigned>(v[0]));
        return ok();
    }
    if (field == "raw") {
        long offset;
        if (a.size() < 3 || !number(a[1], 0, sts::SIZE - 1, &offset) ||
            offset + static_cast<long>(a.size()) - 2 > static_cast<long>(sts::SIZE))
            return error("usage: set raw <offset> <byte> [byte...]");
        for (size_t i = 2; i < a.size(); ++i) {
            long byte;
            if (!number(a[i], 0, 255, &byte))
                return error("bad byte: " + a[i]);
            s[static_cast<int>(offset + static_cast<long>(i) - 2)] = static_cast<uint8_t>(byte);
        }
        return ok();
    }
    return error("unknown field: " + field);
}

// ---- lens ----

ControlAnswer cmd_lens(Call &c)
{
    StatusBlock &s = c.board.imc().status();
    if (c.args.size() >= 1 && c.args[0] == "attach") {
        s[sts::LENS] = 1;
        s[sts::LENS_STATUS] = 0;
        if (c.args.size() > 1)
            s.set_text(sts::LENS_NAME, sts::LENS_NAME_LEN, c.rest_after_first);
        else if (s.text(sts::LENS_NAME, sts::LENS_NAME_LEN).empty())
            s.set_text(sts::LENS_NAME, sts::LENS_NAME_LEN, "EF50mm f/1.4 USM");
        return ok();
    }
    if (c.args.size() == 1 && c.args[0] == "detach") {
        s[sts::LENS] = 0;
        s[sts::LENS_STATUS] = 0;
        s.set_text(sts::LENS_NAME, sts::LENS_NAME_LEN, "");
        return ok();
    }
    return error("usage: lens attach [name] | lens detach");
}

// ---- faults ----

ControlAnswer fault_on_off(bool &flag, const Args &a)
{
    if (a.size() != 2 || !on_off(a[1], &flag))
        return error("usage: fault " + a[0] + " on|off");
    return ok();
}

ControlAnswer cmd_fault(Call &c)
{
    const Args &a = c.args;
    if (a.empty())
        return error("usage: fault <name> <setting>");
    Board &b = c.board;
    Faults &f = b.ctx().faults;
    const std::string &name = a[0];
    const std::string arg = a.size() > 1 ? a[1] : "";
    ControlAnswer answer = ok();

    if (name == "heartbeat") {
        if (arg == "run")
            f.heartbeat = Faults::Heartbeat::Run;
        else if (arg == "stop")
            f.heartbeat = Faults::Heartbeat::Stop;
        else if (arg == "ffff")
            f.heartbeat = Faults::Heartbeat::Unset;
        else
            return error("usage: fault heartbeat run|stop|ffff");
    } else if (name == "lens_error") {
        return a.size() == 2 ? lens_error(b, arg) : error("usage: fault lens_error <code>|off");
    } else if (name == "protector_stuck") {
        answer = fault_on_off(f.protector_stuck, a);
        if (!f.protector_stuck)
            b.imc().protector_released();
    } else if (name == "ircut_error") {
        answer = fault_on_off(f.ircut_error, a);
    } else if (name == "fpga_link") {
        if (arg == "ok") {
            f.link = Faults::Link::Ok;
            f.link_lost = false;
        } else if (arg == "loss") {
            f.link = Faults::Link::Ok;
            f.link_lost = true;
        } else if (arg == "down") {
            f.link = Faults::Link::Down;
        } else if (arg == "one_lane") {
            f.link = Faults::Link::OneLane;
        } else {
            return error("usage: fault fpga_link ok|loss|down|one_lane");
        }
    } else if (name == "fpga_not_init") {
        answer = fault_on_off(f.fpga_not_init, a);
    } else if (name == "fpga_io_exp") {
        long v;
        if (arg == "off")
            f.fpga_io_exp = -1;
        else if (a.size() == 2 && number(arg, 0, 255, &v))
            f.fpga_io_exp = static_cast<int>(v);
        else
            return error("usage: fault fpga_io_exp <byte>|off");
    } else if (name == "power_good") {
        if (arg != "drop")
            return error("usage: fault power_good drop");
        b.drop_power_good();
    } else if (name == "init_done") {
        if (arg != "drop")
            return error("usage: fault init_done drop");
        b.drop_init_done();
    } else if (name == "init_done_never") {
        if (arg == "on")
            f.init_done = Faults::InitDone::NeverNormal;
        else if (arg == "off")
            f.init_done = Faults::InitDone::Rises;
        else if (arg == "all")
            f.init_done = Faults::InitDone::NeverAll;
        else if (arg == "until_upgrade")
            f.init_done = Faults::InitDone::NeverUntilUpgrade;
        else
            return error("usage: fault init_done_never on|off|all|until_upgrade");
    } else if (name == "req_never") {
        answer = fault_on_off(f.req_never, a);
    } else if (name == "empty_status") {
        long v;
        if (arg == "on")
            f.empty_status = -1;
        else if (arg == "off")
            f.empty_status = 0;
        else if (a.size() == 2 && number(arg, 0, 1000000, &v))
            f.empty_status = static_cast<int>(v);
        else
            return error("usage: fault empty_status <count>|on|off");
    } else if (name == "fwup") {
        if (arg == "ok")
            f.fwup = Faults::Fwup::Ok;
        else if (arg == "start_ng")
            f.fwup = Faults::Fwup::StartNg;
        else if (arg == "ng")
            f.fwup = Faults::Fwup::WriteNg;
        else if (arg == "timeout")
            f.fwup = Faults::Fwup::WriteTimeout;
        else
            return error("usage: fault fwup ok|start_ng|ng|timeout");
    } else if (name == "fwup_cmplt_never") {
        answer = fault_on_off(f.fwup_cmplt_never, a);
    } else if (name == "i2c_nack") {
        answer = fault_on_off(f.i2c_nack, a);
    } else if (name == "device") {
        if (a.size() != 3 || (a[2] != "missing" && a[2] != "present"))
            return error("usage: fault device <path> missing|present");
        if (a[2] == "missing")
            f.missing_devices.insert(a[1]);
        else
            f.missing_devices.erase(a[1]);
    } else if (name == "clear") {
        bool stuck = f.protector_stuck;
        f = Faults{};
        if (stuck)
            b.imc().protector_released();
    } else {
        return error("unknown fault: " + name);
    }
    b.imc().apply_faults();
    b.evaluate();
    return answer;
}

// ---- the rest ----

ControlAnswer cmd_ping(Call &)
{
    return ok("pong\n");
}

ControlAnswer cmd_quit(Call &)
{
    ControlAnswer a = ok();
    a.quit = true;
    return a;
}

ControlAnswer cmd_power(Call &c)
{
    bool on;
    if (c.args.empty() || !on_off(c.args[0], &on) ||
        c.args.size() > (on ? 2u : 1u) || (c.args.size() == 2 && c.args[1] != "safe"))
        return error("usage: power on [safe] | power off");
    if (!c.board.start_power_sequence(on, c.args.size() == 2))
        return error("a power sequence is already running");
    ControlAnswer a;
    a.deferred = true;
    return a;
}

ControlAnswer cmd_irq(Call &c)
{
    if (!c.board.imc().pulse_interrupt())
        return error("the IMC is not running");
    return ok();
}

ControlAnswer cmd_drive(Call &c)
{
    Line line;
    long level;
    if (c.args.size() != 2 || !line_by_name(c.args[0], &line) || !number(c.args[1], 0, 1, &level))
        return error("usage: drive <line> 0|1");
    std::string why;
    if (!c.board.drive_line(line, static_cast<int>(level), &why))
        return error(why);
    return ok();
}

ControlAnswer cmd_config(Call &c)
{
    Config &config = c.board.ctx().config;
    if (c.args.empty())
        return ok(config_text(config));
    if (c.args.size() != 2)
        return error("usage: config [<name> <value>]");
    std::string why;
    if (!config_set(config, c.args[0], c.args[1], &why))
        return error(why);
    return ok();
}

ControlAnswer cmd_log(Call &c)
{
    EventLogs &logs = c.board.ctx().logs;
    if (c.args.size() != 1)
        return error("usage: log imc|fpga|gpio|i2c|cam0|datacache|violations|all");
    if (c.args[0] == "all")
        return ok(logs.all());
    LogKind kind;
    if (!log_kind_from_name(c.args[0], &kind))
        return error("no log called " + c.args[0]);
    return ok(logs.text(kind));
}

ControlAnswer cmd_clear(Call &c)
{
    EventLogs &logs = c.board.ctx().logs;
    if (c.args.empty() || (c.args.size() == 1 && c.args[0] == "all")) {
        logs.clear_all();
        return ok();
    }
    for (const std::string &name : c.args) {
        LogKind kind;
        if (!log_kind_from_name(name, &kind))
            return error("no log called " + name);
        logs.clear(kind);
    }
    return ok();
}

ControlAnswer cmd_verbose(Call &c)
{
    bool on;
    if (c.args.size() != 1 || !on_off(c.args[0], &on))
        return error("usage: verbose on|off");
    c.board.ctx().verbose = on;
    return ok();
}

ControlAnswer cmd_help(Call &c);

constexpr Command COMMANDS[] = {
    {"ping", cmd_ping, "ping"},
    {"quit", cmd_quit, "quit"},
    {"help", cmd_help, "help"},
    {"power", cmd_power, "power on [safe] | power off"},
    {"irq", cmd_irq, "irq"},
    {"drive", cmd_drive, "drive <line> 0|1"},
    {"show", cmd_show, "show gpio|status [offset [count]]|fpga|state|config|faults|cam0|pmic|datacache [name]|interrupts"},
    {"set", cmd_set, "set <field> <value...>"},
    {"lens", cmd_lens, "lens attach [name] | lens detach"},
    {"fault", cmd_fault, "fault <name> <setting>"},
    {"config", cmd_config, "config [<name> <value>]"},
    {"log", cmd_log, "log imc|fpga|gpio|i2c|cam0|datacache|violations|all"},
    {"clear", cmd_clear, "clear [kind...|all]"},
    {"verbose", cmd_verbose, "verbose on|off"},
};

ControlAnswer cmd_help(Call &)
{
    std::string out;
    for (const Command &cmd : COMMANDS)
        out += std::string(cmd.usage) + "\n";
    return ok(out);
}

}  // namespace

ControlAnswer control(Board &board, const std::string &command)
{
    std::istringstream in(command);
    std::string word;
    Args args;
    in >> word;
    for (std::string a; in >> a;)
        args.push_back(a);
    if (word.empty())
        return error("empty command");

    // Free text (lens names, serial ids) is what follows the first
    // argument, blanks included.
    std::string rest;
    size_t pos = command.find(word);
    pos = command.find_first_not_of(" \t", pos + word.size());
    if (pos != std::string::npos) {
        pos = command.find_first_of(" \t", pos);
        if (pos != std::string::npos) {
            pos = command.find_first_not_of(" \t", pos);
            if (pos != std::string::npos) {
                rest = command.substr(pos);
                while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r'))
                    rest.pop_back();
            }
        }
    }

    for (const Command &cmd : COMMANDS) {
        if (word == cmd.name) {
            Call call{board, args, rest};
            return cmd.handler(call);
        }
    }
    return error("unknown command: " + word + " (try help)");
}

}  // namespace optad::sim
