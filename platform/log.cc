#include "platform/log.h"

#include "platform/log_format.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace optad {

namespace {

bool initial_verbose()
{
#ifdef OPTAD_VERBOSE_DEFAULT
    return true;
#elif defined(OPTAD_HOST_BUILD)
    const char *env = std::getenv("OPTAD_VERBOSE");
    return env != nullptr && std::strcmp(env, "1") == 0;
#else
    return false;
#endif
}

std::atomic<bool> &verbose_flag()
{
    static std::atomic<bool> flag{initial_verbose()};
    return flag;
}

std::mutex sink_mutex;
LogSink *sink = nullptr;  // guarded by sink_mutex
std::atomic<bool> sink_installed{false};
std::once_flag open_once;

void open_log()
{
#ifdef OPTAD_HOST_BUILD
    // Default identity (the program name) and facility; the host build
    // mirrors the lines on stderr so a developer sees them in the terminal.
    openlog(nullptr, LOG_PERROR, LOG_USER);
#endif
}

}  // namespace

bool log_verbose()
{
    return verbose_flag().load(std::memory_order_relaxed);
}

void log_set_verbose(bool on)
{
    verbose_flag().store(on, std::memory_order_relaxed);
}

void log_set_sink(LogSink new_sink)
{
    std::lock_guard<std::mutex> lock(sink_mutex);
    delete sink;
    sink = new_sink ? new LogSink(std::move(new_sink)) : nullptr;
    sink_installed.store(sink != nullptr);
}

namespace {

void write_line(int priority, const char *fmt, va_list ap) __attribute__((format(printf, 2, 0)));

void write_line(int priority, const char *fmt, va_list ap)
{
    if (sink_installed.load()) {
        char small[512];
        va_list copy;
        va_copy(copy, ap);
        int n = std::vsnprintf(small, sizeof small, fmt, copy);
        va_end(copy);
        std::string line;
        if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
            line.assign(small, static_cast<size_t>(n));
        } else if (n >= 0) {
            line.resize(static_cast<size_t>(n) + 1);
            va_copy(copy, ap);
            std::vsnprintf(line.data(), line.size(), fmt, copy);
            va_end(copy);
            line.resize(static_cast<size_t>(n));
        }
        std::lock_guard<std::mutex> lock(sink_mutex);
        if (sink != nullptr) {
            (*sink)(priority, line);
            return;
        }
    }
    std::call_once(open_once, open_log);
    vsyslog(priority, fmt, ap);
}

}  // namespace

void log_write(int priority, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_line(priority, fmt, ap);
    va_end(ap);
}

namespace log_format_detail {

// The sink of LogFormat: every format that reaches it was matched against
// its argument types when the LogFormat was made (log_format.h), so the
// compiler's own literal check has nothing left to check here. Clang asks
// for a literal even where a va_list takes the arguments; GCC does not.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#endif
void write(int priority, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_line(priority, fmt, ap);
    va_end(ap);
}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

}  // namespace log_format_detail

}  // namespace optad
