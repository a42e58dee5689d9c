// ctl "show ...": the board's state as text.
#include "sim/control_table.h"

#include <cstdio>
#include <iterator>

namespace optad::sim::ctl {

namespace {

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

ControlAnswer show_gpio(const Call &c)
{
    const Lines &lines = c.board.ctx().lines;
    std::string out;
    for (int i = 0; i < static_cast<int>(Line::Count); ++i) {
        Line l = static_cast<Line>(i);
        out += std::string(line_info(l).name) + (lines.is_output(l) ? " out " : " in ") +
               std::to_string(lines.level(l)) + "\n";
    }
    return ok(out);
}

ControlAnswer show_status(const Call &c)
{
    const StatusBlock &s = c.board.imc().status();
    if (c.size() == 0)
        return ok(hex_rows(s.data(), sts::SIZE, 0));
    long offset = 0;
    long count = 1;
    if (!number(c[0], 0, sts::SIZE - 1, &offset) ||
        (c.size() > 1 && !number(c[1], 1, sts::SIZE - offset, &count)))
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
    auto flag = [](bool on) { return std::string(on ? "on" : "off"); };
    std::string out;
    out += std::string("heartbeat ") + HB[static_cast<int>(f.heartbeat)] + "\n";
    out += "protector_stuck " + flag(f.protector_stuck) + "\n";
    out += "ircut_error " + flag(f.ircut_error) + "\n";
    out += std::string("fpga_link ") + LINK[static_cast<int>(f.link)] + (f.link_lost ? " (lost)" : "") + "\n";
    out += "fpga_not_init " + flag(f.fpga_not_init) + "\n";
    out += "fpga_io_exp " + (f.fpga_io_exp < 0 ? std::string("off") : std::to_string(f.fpga_io_exp)) + "\n";
    out += std::string("init_done_never ") + INIT[static_cast<int>(f.init_done)] + "\n";
    out += "req_never " + flag(f.req_never) + "\n";
    out += "empty_status " + (f.empty_status < 0 ? std::string("on") : std::to_string(f.empty_status)) + "\n";
    out += std::string("fwup ") + FWUP[static_cast<int>(f.fwup)] + "\n";
    out += "fwup_cmplt_never " + flag(f.fwup_cmplt_never) + "\n";
    out += "i2c_nack " + flag(f.i2c_nack) + "\n";
    for (const std::string &d : f.missing_devices)
        out += "device " + d + " missing\n";
    out += "exposure_hunting " + flag(f.exposure_hunting) + "\n";
    for (unsigned key : f.ignored_commands) {
        char line[64];
        uint8_t group = static_cast<uint8_t>(key >> 8);
        uint8_t item = static_cast<uint8_t>(key);
        std::snprintf(line, sizeof line, "ignore 0x%02X 0x%02X %s\n", group, item, imc_command_name(group, item));
        out += line;
    }
    return out;
}

ControlAnswer show_fpga(const Call &c) { return ok(c.board.fpga().describe()); }
ControlAnswer show_state(const Call &c) { return ok(c.board.describe()); }
ControlAnswer show_config(const Call &c) { return ok(config_text(c.board.ctx().config)); }
ControlAnswer show_faults(const Call &c) { return ok(faults_text(c.board.ctx().faults)); }
ControlAnswer show_cam0(const Call &c) { return ok(c.board.cam0().describe()); }
ControlAnswer show_pmic(const Call &c) { return ok(c.board.pmic().describe()); }

ControlAnswer show_failures(const Call &c) { return ok(c.board.ctx().failures.describe()); }

ControlAnswer show_interrupts(const Call &c)
{
    return ok(c.board.ctx().interrupts.text(c.board.ctx().now_us));
}

ControlAnswer show_datacache(const Call &c)
{
    if (c.size() == 0)
        return ok(c.board.datacache().describe());
    std::string text;
    if (!c.board.datacache().dump(c[0], &text))
        return error("no data cache named " + c[0]);
    return ok(text);
}

constexpr Row ROWS[] = {
    {"gpio", 0, 0, show_gpio, "show gpio", "every line: name in|out level"},
    {"status", 0, 2, show_status, "show status [offset [count]]",
     "the status block as 000: hex rows, or count bytes from offset"},
    {"fpga", 0, 0, show_fpga, "show fpga", "every FPGA register as name 0x00000000"},
    {"state", 0, 0, show_state, "show state", "supplies, POWER_GOOD, IMC state and mode, upgrade, FPGA, REQ"},
    {"config", 0, 0, show_config, "show config", "the timings and switches"},
    {"faults", 0, 0, show_faults, "show faults", "the faults in force"},
    {"failures", 0, 0, show_failures, "show failures", "the injected per-call failures with the calls left"},
    {"cam0", 0, 0, show_cam0, "show cam0", "stream, black video and the last records"},
    {"pmic", 0, 0, show_pmic, "show pmic", "the PMIC registers written: slave register value"},
    {"datacache", 0, 1, show_datacache, "show datacache [name]",
     "the caches, or one cache's entries oldest first"},
    {"interrupts", 0, 0, show_interrupts, "show interrupts", "the /proc/interrupts text"},
};

}  // namespace

std::span<const Row> show_rows()
{
    return ROWS;
}

}  // namespace optad::sim::ctl
