// ctl "fail ...": per-call failures of the GPIO, SPI and I2C calls.
#include "sim/control_table.h"

#include "sim/errno_names.h"

namespace optad::sim::ctl {

namespace {

Failures &failures(const Call &c)
{
    return c.board.ctx().failures;
}

// "[<count>|always]" at args[i]: 1 when absent.
bool count_at(const Call &c, size_t i, int *count)
{
    if (i >= c.size()) {
        *count = 1;
        return true;
    }
    if (c[i] == "always") {
        *count = FAIL_ALWAYS;
        return true;
    }
    long n;
    if (!number(c[i], 1, 1000000, &n))
        return false;
    *count = static_cast<int>(n);
    return true;
}

// A GPIO line by name or number, or "*" for every line.
bool line_target(const std::string &word, int *target)
{
    if (word == "*") {
        *target = FAIL_ALL_LINES;
        return true;
    }
    Line line;
    long gpio;
    if (line_by_name(word, &line) || (number(word, 0, 100000, &gpio) && line_by_gpio(static_cast<int>(gpio), &line))) {
        *target = static_cast<int>(line);
        return true;
    }
    return false;
}

struct CallName {
    const char *word;
    FailKind kind;
};

constexpr CallName GPIO_CALLS[] = {
    {"request", FailKind::GpioRequest}, {"open", FailKind::GpioOpen},   {"direction", FailKind::GpioDirection},
    {"read", FailKind::GpioRead},       {"write", FailKind::GpioWrite}, {"edge", FailKind::GpioEdge},
    {"fd", FailKind::GpioFd},
};

ControlAnswer fail_gpio(const Call &c)
{
    static const char USAGE[] = "usage: fail gpio <line|number|*> request|open|direction|read|write|edge|fd "
                                "<errno> [<count>|always] | fail gpio <line|*> not_alterable on|off";
    int target;
    if (!line_target(c[0], &target))
        return error("no such line: " + c[0]);
    if (c[1] == "not_alterable") {
        bool on;
        if (c.size() != 3 || !on_off(c[2], &on))
            return error(USAGE);
        if (on)
            failures(c).add({FailKind::GpioNotAlterable, target, 0, FAIL_ALWAYS});
        else
            failures(c).remove(FailKind::GpioNotAlterable, target);
        return ok();
    }
    for (const CallName &call : GPIO_CALLS) {
        if (c[1] != call.word)
            continue;
        int err;
        int count;
        if (c.size() < 3 || !errno_from_word(c[2], &err) || !count_at(c, 3, &count))
            return error(USAGE);
        failures(c).add({call.kind, target, err, count});
        return ok();
    }
    return error(USAGE);
}

ControlAnswer fail_spi(const Call &c)
{
    static const char USAGE[] =
        "usage: fail spi imc|fpga error <errno> [<count>|always] | fail spi imc|fpga short <bytes> [<count>|always]";
    int target;
    if (c[0] == "imc")
        target = FAIL_SPI_IMC;
    else if (c[0] == "fpga")
        target = FAIL_SPI_FPGA;
    else
        return error(USAGE);
    int value;
    int count;
    long bytes;
    if (c[1] == "error" && errno_from_word(c[2], &value) && count_at(c, 3, &count)) {
        failures(c).add({FailKind::SpiError, target, value, count});
        return ok();
    }
    if (c[1] == "short" && number(c[2], 0, 65535, &bytes) && count_at(c, 3, &count)) {
        failures(c).add({FailKind::SpiShort, target, static_cast<int>(bytes), count});
        return ok();
    }
    return error(USAGE);
}

ControlAnswer fail_i2c(const Call &c)
{
    static const char USAGE[] = "usage: fail i2c slave|write <errno> [<count>|always]";
    FailKind kind;
    if (c[0] == "slave")
        kind = FailKind::I2cSlave;
    else if (c[0] == "write")
        kind = FailKind::I2cWrite;
    else
        return error(USAGE);
    int err;
    int count;
    if (!errno_from_word(c[1], &err) || !count_at(c, 2, &count))
        return error(USAGE);
    failures(c).add({kind, 0, err, count});
    return ok();
}

ControlAnswer fail_clear(const Call &c)
{
    failures(c).clear();
    return ok();
}

constexpr Row ROWS[] = {
    {"gpio", 3, 4, fail_gpio,
     "fail gpio <line|number|*> request|open|direction|read|write|edge|fd <errno> [<count>|always] | "
     "fail gpio <line|*> not_alterable on|off",
     "the line call fails with errno once, the next count calls or always; not_alterable: "
     "pinio_alterable_direction answers 0"},
    {"spi", 3, 4, fail_spi, "fail spi imc|fpga error <errno>|short <bytes> [<count>|always]",
     "SPI_IOC_MESSAGE fails with errno, or reports only <bytes> moved"},
    {"i2c", 2, 3, fail_i2c, "fail i2c slave|write <errno> [<count>|always]", "I2C_SLAVE or the write fails with errno"},
    {"clear", 0, 0, fail_clear, "fail clear", "every injected failure ends"},
};

}  // namespace

std::span<const Row> fail_rows()
{
    return ROWS;
}

}  // namespace optad::sim::ctl
