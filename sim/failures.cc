#include "sim/failures.h"

#include "sim/errno_names.h"
#include "sim/lines.h"

#include <iterator>

namespace optad::sim {

namespace {

struct KindInfo {
    const char *device;  // "gpio", "spi", "i2c"
    const char *call;    // as the control interface names it
    bool has_errno;
};

constexpr KindInfo KINDS[] = {
    {"gpio", "request", true}, {"gpio", "open", true},  {"gpio", "direction", true},
    {"gpio", "read", true},    {"gpio", "write", true}, {"gpio", "edge", true},
    {"gpio", "fd", true},      {"gpio", "not_alterable", false},
    {"spi", "error", true},    {"spi", "short", false},
    {"i2c", "slave", true},    {"i2c", "write", true},
};
static_assert(std::size(KINDS) == static_cast<size_t>(FailKind::Count));

const KindInfo &info(FailKind kind)
{
    return KINDS[static_cast<int>(kind)];
}

// "gpio imc_dcdc_en write", "spi imc error", "i2c slave".
std::string subject(FailKind kind, int target)
{
    const KindInfo &k = info(kind);
    std::string out = k.device;
    if (out == "gpio")
        out += target == FAIL_ALL_LINES ? std::string(" *") : std::string(" ") + line_info(static_cast<Line>(target)).name;
    else if (out == "spi")
        out += target == FAIL_SPI_IMC ? " imc" : " fpga";
    return out + " " + k.call;
}

std::string value_text(const Injection &i)
{
    if (i.kind == FailKind::GpioNotAlterable)
        return "";
    if (!info(i.kind).has_errno)
        return " " + std::to_string(i.value);
    return " " + errno_name(i.value);
}

}  // namespace

void Failures::add(const Injection &injection)
{
    remove(injection.kind, injection.target);
    list_.push_back(injection);
}

void Failures::remove(FailKind kind, int target)
{
    for (size_t i = 0; i < list_.size(); ++i) {
        if (list_[i].kind == kind && list_[i].target == target) {
            list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}

bool Failures::take_slow(FailKind kind, int target, int *value, std::string *what)
{
    Injection *found = nullptr;
    for (Injection &i : list_) {
        if (i.kind != kind)
            continue;
        if (i.target == target) {
            found = &i;
            break;
        }
        if (i.target == FAIL_ALL_LINES && found == nullptr)
            found = &i;
    }
    if (found == nullptr)
        return false;
    Injection fired = *found;
    fired.target = target;
    *value = fired.value;
    *what = subject(kind, target) + value_text(fired);
    if (found->count != FAIL_ALWAYS && --found->count == 0)
        remove(found->kind, found->target);
    return true;
}

std::string Failures::describe() const
{
    std::string out;
    for (const Injection &i : list_) {
        out += subject(i.kind, i.target) + value_text(i);
        if (i.kind != FailKind::GpioNotAlterable)
            out += i.count == FAIL_ALWAYS ? " always" : " " + std::to_string(i.count);
        out += '\n';
    }
    return out;
}

}  // namespace optad::sim
