#include "sim/interrupts.h"

#include <cstdio>
#include <unistd.h>

namespace optad::sim {

namespace {

struct Row {
    int irq;
    const char *chip;
    int hwirq;
    const char *type;
    const char *name;
};

constexpr Row ROWS[Interrupts::Count] = {
    {17, "sim-intc", 27, "Level", "timer"},
    {61, "sim-gpio", 432, "Edge ", "imc_i2n_int"},
    {72, "sim-intc", 72, "Level", "spi2"},
    {73, "sim-intc", 73, "Level", "spi3"},
    {80, "sim-intc", 80, "Level", "i2c4"},
};

constexpr int64_t TIMER_HZ = 100;

}  // namespace

void Interrupts::set_path(std::string path, int64_t start_us)
{
    path_ = std::move(path);
    start_us_ = start_us;
    dirty_ = true;
}

std::string Interrupts::text(int64_t now_us) const
{
    std::string out = "           CPU0       \n";
    char line[128];
    for (int i = 0; i < Count; ++i) {
        uint64_t n = counts_[i];
        if (i == Timer)
            n = static_cast<uint64_t>((now_us - start_us_) * TIMER_HZ / 1000000);
        std::snprintf(line, sizeof line, "%3d: %10llu   %s %3d %s     %s\n", ROWS[i].irq,
                      static_cast<unsigned long long>(n), ROWS[i].chip, ROWS[i].hwirq,
                      ROWS[i].type, ROWS[i].name);
        out += line;
    }
    return out;
}

void Interrupts::flush(int64_t now_us, bool force)
{
    if (path_.empty() || (!dirty_ && !force))
        return;
    std::string tmp = path_ + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "w");
    if (f == nullptr)
        return;
    std::string content = text(now_us);
    bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok && std::rename(tmp.c_str(), path_.c_str()) == 0)
        dirty_ = false;
    else
        ::unlink(tmp.c_str());
}

}  // namespace optad::sim
