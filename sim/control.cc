#include "sim/control.h"

#include "sim/control_table.h"

#include <cstdlib>
#include <string_view>

namespace optad::sim {

namespace ctl {

Words::Words(const std::string &line) : raw(line)
{
    while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r'))
        raw.pop_back();
    size_t pos = 0;
    for (;;) {
        size_t start = raw.find_first_not_of(" \t", pos);
        if (start == std::string::npos)
            break;
        size_t end = raw.find_first_of(" \t", start);
        if (end == std::string::npos)
            end = raw.size();
        words.push_back(raw.substr(start, end - start));
        starts.push_back(start);
        pos = end;
    }
}

std::string Call::text_from(size_t i) const
{
    if (i >= args.size())
        return {};
    return line.raw.substr(line.starts[first + i]);
}

ControlAnswer ok(const std::string &text)
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

bool numbers(const Call &call, size_t from, long min, long max, long *out, std::string *bad)
{
    for (size_t i = from; i < call.size(); ++i) {
        if (!number(call[i], min, max, &out[i - from])) {
            *bad = "bad number: " + call[i] + " (" + std::to_string(min) + " to " +
                   std::to_string(max) + ")";
            return false;
        }
    }
    return true;
}

bool on_off(const std::string &word, bool *value)
{
    if (word != "on" && word != "off")
        return false;
    *value = word == "on";
    return true;
}

ControlAnswer dispatch(std::span<const Row> table, const Call &call, const char *what)
{
    if (call.size() == 0)
        return error(std::string("which ") + what + "? (try help)");
    for (const Row &row : table) {
        if (call[0] != row.name)
            continue;
        Call inner = call.shifted();
        int n = static_cast<int>(inner.size());
        if (n < row.min_args || (row.max_args != ANY && n > row.max_args))
            return error(std::string("usage: ") + row.usage);
        return row.handler(inner);
    }
    return error(std::string("unknown ") + what + ": " + call[0] + " (try help)");
}

std::string help_text(std::span<const Row> table)
{
    std::string out;
    for (const Row &row : table) {
        out += row.usage;
        out += "  -- ";
        out += row.help;
        out += '\n';
    }
    return out;
}

namespace {

ControlAnswer cmd_ping(const Call &)
{
    return ok("pong\n");
}

ControlAnswer cmd_quit(const Call &)
{
    ControlAnswer a = ok();
    a.quit = true;
    return a;
}

ControlAnswer cmd_power(const Call &c)
{
    bool on;
    if (!on_off(c[0], &on) || c.size() > (on ? 2u : 1u) || (c.size() == 2 && c[1] != "safe"))
        return error("usage: power on [safe] | power off");
    if (!c.board.start_power_sequence(on, c.size() == 2))
        return error("a power sequence is already running");
    ControlAnswer a;
    a.deferred = true;
    return a;
}

ControlAnswer cmd_irq(const Call &c)
{
    if (!c.board.imc().pulse_interrupt())
        return error("the IMC is not running");
    return ok();
}

// The command that makes the module drive each of its own lines.
struct ModuleLine {
    Line line;
    const char *command;
};

constexpr ModuleLine MODULE_LINES[] = {
    {Line::PowerGood, "fault power_good drop"},
    {Line::InitDone, "fault init_done drop or fault init_done_never"},
    {Line::I2nInt, "irq"},
    {Line::Req, "fault req_never"},
    {Line::FwupCmplt, "fault fwup_cmplt_never"},
};

ControlAnswer cmd_drive(const Call &c)
{
    bool force = c[0] == "--force";
    Call args = force ? c.shifted() : c;
    Line line;
    long level;
    if (args.size() != 2 || !line_by_name(args[0], &line) || !number(args[1], 0, 1, &level))
        return error("usage: drive [--force] <line> 0|1");
    if (force) {
        c.board.force_line(line, static_cast<int>(level));
        return ok("ok: fault override\n");
    }
    for (const ModuleLine &m : MODULE_LINES) {
        if (m.line == line)
            return error(std::string(line_info(line).name) + " is driven by the module: use " + m.command +
                         " (or drive --force)");
    }
    std::string why;
    if (!c.board.drive_line(line, static_cast<int>(level), &why))
        return error(why);
    return ok();
}

ControlAnswer cmd_config(const Call &c)
{
    Config &config = c.board.ctx().config;
    if (c.size() == 0)
        return ok(config_text(config));
    if (c.size() != 2)
        return error("usage: config [<name> <value>]");
    std::string why;
    if (!config_set(config, c[0], c[1], &why))
        return error(why);
    return ok();
}

ControlAnswer cmd_log(const Call &c)
{
    EventLogs &logs = c.board.ctx().logs;
    if (c.size() == 2 && c[1] != "stamped")
        return error("usage: log <name> [stamped]");
    bool stamped = c.size() == 2;
    if (c[0] == "all")
        return ok(logs.all(stamped));
    LogKind kind;
    if (!log_kind_from_name(c[0], &kind))
        return error("no log called " + c[0]);
    return ok(logs.text(kind, stamped));
}

ControlAnswer cmd_clear(const Call &c)
{
    EventLogs &logs = c.board.ctx().logs;
    if (c.size() == 0 || (c.size() == 1 && c[0] == "all")) {
        logs.clear_all();
        return ok();
    }
    for (const std::string &name : c.args) {
        LogKind kind;
        if (!log_kind_from_name(name, &kind))
            return error("no log called " + name);
    }
    for (const std::string &name : c.args) {
        LogKind kind;
        log_kind_from_name(name, &kind);
        logs.clear(kind);
    }
    return ok();
}

ControlAnswer cmd_verbose(const Call &c)
{
    if (!on_off(c[0], &c.board.ctx().verbose))
        return error("usage: verbose on|off");
    return ok();
}

ControlAnswer cmd_show(const Call &c)
{
    return dispatch(show_rows(), c, "thing to show");
}

ControlAnswer cmd_set(const Call &c)
{
    return dispatch(set_rows(), c, "field");
}

ControlAnswer cmd_lens(const Call &c)
{
    return dispatch(lens_rows(), c, "lens command");
}

ControlAnswer cmd_fault(const Call &c)
{
    ControlAnswer answer = dispatch(fault_rows(), c, "fault");
    c.board.imc().apply_faults();
    c.board.evaluate();
    return answer;
}

ControlAnswer cmd_fail(const Call &c)
{
    return dispatch(fail_rows(), c, "failure");
}

ControlAnswer cmd_help(const Call &c);

constexpr Row COMMANDS[] = {
    {"ping", 0, 0, cmd_ping, "ping", "answers pong"},
    {"quit", 0, 0, cmd_quit, "quit", "stops the simulator"},
    {"help", 0, 0, cmd_help, "help", "lists the commands"},
    {"power", 1, 2, cmd_power, "power on [safe] | power off",
     "the daemon's power-up (PMIC included) or shutdown order; answers when done"},
    {"irq", 0, 0, cmd_irq, "irq", "one I2N interrupt (the IMC must run)"},
    {"drive", 2, 3, cmd_drive, "drive [--force] <line> 0|1",
     "drives a program output or a board input; --force: any line, as a fault"},
    {"show", 1, ANY, cmd_show, "show <what>", "the board's state"},
    {"set", 1, ANY, cmd_set, "set <field> <value...>", "a field of the status block"},
    {"lens", 1, ANY, cmd_lens, "lens attach [name] | lens detach", "the lens"},
    {"fault", 1, ANY, cmd_fault, "fault <name> <setting>", "the module's faults"},
    {"fail", 1, ANY, cmd_fail, "fail <device> <call> ...", "per-call failures of GPIO, SPI and I2C calls"},
    {"config", 0, 2, cmd_config, "config [<name> <value>]", "lists or sets a timing"},
    {"log", 1, 2, cmd_log, "log imc|fpga|gpio|i2c|cam0|datacache|violations|fail|all [stamped]",
     "an observation log; stamped: each line after its time in us since the start"},
    {"clear", 0, ANY, cmd_clear, "clear [<log>...|all]", "empties logs"},
    {"verbose", 1, 1, cmd_verbose, "verbose on|off", "observations on stderr too"},
};

// Commands whose words go on into a sub-table: help lists its rows instead.
struct SubTable {
    const char *command;
    std::span<const Row> (*rows)();
};

constexpr SubTable SUBTABLES[] = {
    {"show", show_rows}, {"set", set_rows}, {"lens", lens_rows}, {"fault", fault_rows}, {"fail", fail_rows},
};

ControlAnswer cmd_help(const Call &)
{
    std::string out;
    for (const Row &row : COMMANDS) {
        std::span<const Row> rows(&row, 1);
        for (const SubTable &sub : SUBTABLES) {
            if (std::string_view(sub.command) == row.name)
                rows = sub.rows();
        }
        out += help_text(rows);
    }
    return ok(out);
}

}  // namespace

}  // namespace ctl

ControlAnswer control(Board &board, const std::string &command)
{
    ctl::Words line(command);
    if (line.words.empty())
        return ctl::error("empty command");
    return ctl::dispatch(ctl::COMMANDS, ctl::Call{board, line, 0, line.words}, "command");
}

}  // namespace optad::sim
