#include "sim/context.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace optad::sim {

namespace {

std::string vformat(const char *fmt, va_list ap) __attribute__((format(printf, 1, 0)));

std::string vformat(const char *fmt, va_list ap)
{
    char small[512];
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

void print(int64_t now_us, const char *what, const std::string &text)
{
    std::fprintf(stderr, "optad-sim %lld.%03lld %s%s\n", static_cast<long long>(now_us / 1000000),
                 static_cast<long long>(now_us / 1000 % 1000), what, text.c_str());
}

}  // namespace

void Context::violation(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    print(now_us, "VIOLATION ", text);
    logs.add(LogKind::Violation, std::move(text), now_us - start_us);
}

void Context::note(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    print(now_us, "", text);
}

bool Context::fail(FailKind kind, int target, int *value)
{
    std::string what;
    if (!failures.take(kind, target, value, &what))
        return false;
    if (verbose)
        print(now_us, "fail ", what);
    logs.add(LogKind::Fail, std::move(what), now_us - start_us);
    return true;
}

void Context::record(LogKind kind, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    if (verbose)
        print(now_us, (std::string(log_kind_name(kind)) + " ").c_str(), text);
    logs.add(kind, std::move(text), now_us - start_us);
}

std::string hex_bytes(const uint8_t *data, size_t len)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string out(len * 2, '0');
    for (size_t i = 0; i < len; ++i) {
        out[2 * i] = DIGITS[data[i] >> 4];
        out[2 * i + 1] = DIGITS[data[i] & 0x0F];
    }
    return out;
}

}  // namespace optad::sim
