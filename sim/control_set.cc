// ctl "set ..." and "lens ...": fields of the IMC's camera status block.
#include "sim/control_table.h"

namespace optad::sim::ctl {

namespace {

StatusBlock &block(const Call &c)
{
    return c.board.imc().status();
}

// A named byte value or a number.
struct Named {
    const char *name;
    uint8_t value;
};

bool named_byte(std::span<const Named> names, const std::string &word, uint8_t *out)
{
    for (const Named &n : names) {
        if (word == n.name) {
            *out = n.value;
            return true;
        }
    }
    long v;
    if (!number(word, 0, 255, &v))
        return false;
    *out = static_cast<uint8_t>(v);
    return true;
}

// The bytes from `offset` on take the arguments, each within [min, max].
ControlAnswer store_bytes(const Call &c, int offset, long min, long max)
{
    long v[6];
    std::string bad;
    if (!numbers(c, 0, min, max, v, &bad))
        return error(bad);
    for (size_t i = 0; i < c.size(); ++i)
        block(c)[offset + static_cast<int>(i)] = static_cast<uint8_t>(v[i]);
    return ok();
}

ControlAnswer set_lens_name(const Call &c)
{
    block(c).set_text(sts::LENS_NAME, sts::LENS_NAME_LEN, c.text_from(0));
    return ok();
}

ControlAnswer set_serial(const Call &c)
{
    block(c).set_text(sts::SERIAL, sts::SERIAL_LEN, c.text_from(0));
    return ok();
}

ControlAnswer set_protector(const Call &c)
{
    static constexpr Named STATES[] = {{"closed", 0}, {"open", 1}, {"moving", 2}, {"error", 0x80}};
    uint8_t v;
    if (!named_byte(STATES, c[0], &v))
        return error("bad protector state: " + c[0]);
    block(c)[sts::PROTECTOR] = v;
    return ok();
}

ControlAnswer set_daynight_rec(const Call &c)
{
    static constexpr Named RECS[] = {{"day", 0x10}, {"night", 0x11}};
    uint8_t v;
    if (!named_byte(RECS, c[0], &v))
        return error("bad recommendation: " + c[0]);
    block(c)[sts::DAY_NIGHT_REC] = v;
    return ok();
}

// Limit pairs (minimum, maximum) from `offset` on. The IMC reports new
// limits as the module's optics allow them, and pulls its set values
// 0x52-0x54 and its exposure into them. A minimum above its maximum is no
// limit the IMC reports (set raw writes one if a test needs it).
ControlAnswer store_limits(const Call &c, int offset)
{
    long v[6];
    std::string bad;
    if (!numbers(c, 0, 0, 255, v, &bad))
        return error(bad);
    for (size_t i = 0; i + 1 < c.size(); i += 2) {
        if (v[i] > v[i + 1])
            return error("minimum " + c[i] + " above maximum " + c[i + 1]);
    }
    for (size_t i = 0; i < c.size(); ++i)
        block(c)[offset + static_cast<int>(i)] = static_cast<uint8_t>(v[i]);
    c.board.imc().limits_changed();
    return ok();
}

ControlAnswer set_limits(const Call &c) { return store_limits(c, sts::LIMITS); }
ControlAnswer set_iris_limits(const Call &c) { return store_limits(c, sts::LIMITS); }
ControlAnswer set_shutter_limits(const Call &c) { return store_limits(c, sts::LIMITS + 2); }
ControlAnswer set_gain_limits(const Call &c) { return store_limits(c, sts::LIMITS + 4); }
ControlAnswer set_focus_switch(const Call &c) { return store_bytes(c, sts::FOCUS_SWITCH, 0, 255); }

// The current indices, and the exposure's targets with them, so that they
// stay until the next exposure command.
ControlAnswer set_exposure(const Call &c)
{
    long v[3];
    std::string bad;
    if (!numbers(c, 0, 0, 255, v, &bad))
        return error(bad);
    c.board.imc().exposure().hold(static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]),
                                  static_cast<uint8_t>(v[2]));
    return ok();
}
ControlAnswer set_capture(const Call &c) { return store_bytes(c, sts::RESOLUTION, 0, 255); }

ControlAnswer set_temperature(const Call &c)
{
    long v;
    std::string bad;
    if (!numbers(c, 0, -128, 127, &v, &bad))
        return error(bad);
    block(c)[sts::TEMPERATURE] = static_cast<uint8_t>(static_cast<int8_t>(v));
    return ok();
}

ControlAnswer set_revision(const Call &c)
{
    long v;
    std::string bad;
    if (!numbers(c, 0, 0, 0x7FFFFFFF, &v, &bad))
        return error(bad);
    c.board.imc().set_flash_revision(static_cast<uint32_t>(v));
    block(c).set_u32(sts::REVISION, static_cast<uint32_t>(v));
    return ok();
}

ControlAnswer set_flash_revision(const Call &c)
{
    long v;
    std::string bad;
    if (!numbers(c, 0, 0, 0x7FFFFFFF, &v, &bad))
        return error(bad);
    c.board.imc().set_flash_revision(static_cast<uint32_t>(v));
    return ok();
}

// 16-bit little-endian words from `offset` on.
ControlAnswer store_words(const Call &c, int offset)
{
    long v[3];
    std::string bad;
    if (!numbers(c, 0, 0, 0xFFFF, v, &bad))
        return error(bad);
    for (size_t i = 0; i < c.size(); ++i)
        block(c).set_u16(offset + 2 * static_cast<int>(i), static_cast<unsigned>(v[i]));
    return ok();
}

ControlAnswer set_hwinfo(const Call &c) { return store_words(c, sts::HW_INFO); }
ControlAnswer set_optics(const Call &c) { return store_words(c, sts::OPTICS); }
ControlAnswer set_heartbeat(const Call &c) { return store_words(c, sts::HEARTBEAT); }

}  // namespace

ControlAnswer set_lens_error(const Call &c)
{
    if (c[0] == "off") {
        c.board.imc().clear_lens_error();
        return ok();
    }
    long code;
    if (!number(c[0], 0, 255, &code))
        return error("usage: lens_error <code>|off");
    c.board.imc().set_lens_error(static_cast<uint8_t>(code));
    return ok();
}

namespace {

ControlAnswer set_raw(const Call &c)
{
    long offset;
    if (!number(c[0], 0, sts::SIZE - 1, &offset) ||
        offset + static_cast<long>(c.size()) - 1 > static_cast<long>(sts::SIZE))
        return error("usage: set raw <offset> <byte> [byte...]");
    for (size_t i = 1; i < c.size(); ++i) {
        long byte;
        if (!number(c[i], 0, 255, &byte))
            return error("bad byte: " + c[i]);
    }
    for (size_t i = 1; i < c.size(); ++i) {
        long byte;
        number(c[i], 0, 255, &byte);
        block(c)[static_cast<int>(offset + static_cast<long>(i) - 1)] = static_cast<uint8_t>(byte);
    }
    return ok();
}

constexpr Row ROWS[] = {
    {"lens_name", 1, ANY, set_lens_name, "set lens_name <text>", "the lens name at 0xC0 (blanks kept)"},
    {"serial", 1, ANY, set_serial, "set serial <text>", "the serial id at 0xB0"},
    {"lens_error", 1, 1, set_lens_error, "set lens_error <code>|off", "0x13 = 0x80 with the code in 0x12, or back"},
    {"protector", 1, 1, set_protector, "set protector closed|open|moving|error|<byte>", "0x15"},
    {"limits", 6, 6, set_limits, "set limits <iris min> <max> <shutter min> <max> <gain min> <max>",
     "0x46-0x4B; the set values 0x52-0x54 and the exposure pulled into them"},
    {"iris_limits", 2, 2, set_iris_limits, "set iris_limits <min> <max>", "0x46-0x47 (as set limits)"},
    {"shutter_limits", 2, 2, set_shutter_limits, "set shutter_limits <min> <max>", "0x48-0x49 (as set limits)"},
    {"gain_limits", 2, 2, set_gain_limits, "set gain_limits <min> <max>", "0x4A-0x4B (as set limits)"},
    {"temperature", 1, 1, set_temperature, "set temperature <degrees>", "0x98 (-128 to 127)"},
    {"daynight_rec", 1, 1, set_daynight_rec, "set daynight_rec day|night|<byte>", "0x61 (0x10, 0x11)"},
    {"revision", 1, 1, set_revision, "set revision <n>", "the running revision (0x08) and the one in flash"},
    {"flash_revision", 1, 1, set_flash_revision, "set flash_revision <n>", "only the flash: runs after the next start"},
    {"hwinfo", 1, 1, set_hwinfo, "set hwinfo <n>", "0x1C-0x1D"},
    {"optics", 3, 3, set_optics, "set optics <focal> <second> <third>", "0x32-0x37"},
    {"focus_switch", 1, 1, set_focus_switch, "set focus_switch <n>", "0x9C"},
    {"exposure", 3, 3, set_exposure, "set exposure <iris> <shutter> <gain>",
     "the current indices 0x42-0x44, and the exposure's targets (they stay)"},
    {"capture", 2, 2, set_capture, "set capture <code> <fps>", "0x16-0x17"},
    {"heartbeat", 1, 1, set_heartbeat, "set heartbeat <n>", "0xA0-0xA1"},
    {"raw", 2, ANY, set_raw, "set raw <offset> <byte>...", "any bytes"},
};

ControlAnswer lens_attach(const Call &c)
{
    std::string name = c.text_from(0);
    c.board.imc().attach_lens(c.size() > 0 ? &name : nullptr);
    return ok();
}

ControlAnswer lens_detach(const Call &c)
{
    c.board.imc().detach_lens();
    return ok();
}

constexpr Row LENS_ROWS[] = {
    {"attach", 0, ANY, lens_attach, "lens attach [name]",
     "0x12 = 1 (with the name, or the previous or default one), the lens's optics and focus switch back"},
    {"detach", 0, 0, lens_detach, "lens detach",
     "0x12 = 0, the name, optics 0x32-0x37 and focus switch 0x9C cleared; the protector stays"},
};

}  // namespace

std::span<const Row> set_rows()
{
    return ROWS;
}

std::span<const Row> lens_rows()
{
    return LENS_ROWS;
}

}  // namespace optad::sim::ctl
