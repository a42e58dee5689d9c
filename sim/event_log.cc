#include "sim/event_log.h"

#include <vector>

namespace optad::sim {

namespace {
constexpr const char *NAMES[] = {"imc", "fpga", "gpio", "i2c", "cam0", "datacache", "violations", "fail"};
static_assert(std::size(NAMES) == static_cast<size_t>(LogKind::Count));
}  // namespace

const char *log_kind_name(LogKind kind)
{
    return NAMES[static_cast<int>(kind)];
}

bool log_kind_from_name(const std::string &name, LogKind *kind)
{
    for (size_t i = 0; i < std::size(NAMES); ++i) {
        if (name == NAMES[i]) {
            *kind = static_cast<LogKind>(i);
            return true;
        }
    }
    return false;
}

void EventLogs::add(LogKind kind, std::string line, int64_t us)
{
    auto &log = logs_[static_cast<int>(kind)];
    if (log.size() >= CAPACITY)
        log.pop_front();
    log.push_back({seq_++, us, std::move(line)});
}

namespace {

void append_stamp(std::string &out, int64_t us)
{
    out += std::to_string(us);
    out += ' ';
}

}  // namespace

std::string EventLogs::text(LogKind kind, bool stamped) const
{
    std::string out;
    for (const Entry &e : logs_[static_cast<int>(kind)]) {
        if (stamped)
            append_stamp(out, e.us);
        out += e.text;
        out += '\n';
    }
    return out;
}

std::string EventLogs::all(bool stamped) const
{
    // Merge the logs by sequence number.
    std::vector<size_t> pos(static_cast<size_t>(LogKind::Count), 0);
    std::string out;
    for (;;) {
        int best = -1;
        for (int k = 0; k < static_cast<int>(LogKind::Count); ++k) {
            if (pos[k] < logs_[k].size() &&
                (best < 0 || logs_[k][pos[k]].seq < logs_[best][pos[best]].seq))
                best = k;
        }
        if (best < 0)
            break;
        if (stamped)
            append_stamp(out, logs_[best][pos[best]].us);
        out += NAMES[best];
        out += ' ';
        out += logs_[best][pos[best]].text;
        out += '\n';
        ++pos[best];
    }
    return out;
}

void EventLogs::clear(LogKind kind)
{
    logs_[static_cast<int>(kind)].clear();
}

void EventLogs::clear_all()
{
    for (auto &log : logs_)
        log.clear();
}

}  // namespace optad::sim
