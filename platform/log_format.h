// Log formats kept in tables, checked by the compiler all the same.
//
// A literal format given to log_write() is checked against its arguments
// by the compiler (log_write has the printf format attribute). Where the
// texts are data, one row per job, device, cache or status byte, the format
// reaches the call as a pointer the compiler cannot follow. Such a row holds
// a LogFormat<Args...> instead: it can only be made, at compile time, from a
// format whose conversions take exactly the types Args in order, so a
// format that does not fit its arguments fails the build. log_line() then
// writes it with arguments of those types.
//
//   constexpr LogFormat<int, const char *> open_failed =
//       "%d - (%s) ERROR:optad:fpga_reg - SPI_IOC_WR_MODE failed\n";
//   log_line(LOG_ERR, open_failed, e, strerror(e));
//
// The check is the one the calling convention needs: each conversion takes
// an argument of its class (integer, floating, string, pointer) and of its
// size after the default promotions, as printf reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace optad {

namespace log_format_detail {

enum class ArgClass : unsigned char { INTEGER, FLOATING, STRING, POINTER, OTHER };

struct ArgKind {
    ArgClass cls = ArgClass::OTHER;
    size_t size = 0;
};

// What an argument of type T is once passed through "...".
template <typename T>
consteval ArgKind kind_of()
{
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_enum_v<U>) {
        return kind_of<std::underlying_type_t<U>>();
    } else if constexpr (std::is_integral_v<U>) {
        return {ArgClass::INTEGER, sizeof(decltype(+U{}))};
    } else if constexpr (std::is_floating_point_v<U>) {
        return {ArgClass::FLOATING, sizeof(U) < sizeof(double) ? sizeof(double) : sizeof(U)};
    } else if constexpr (std::is_same_v<U, const char *> || std::is_same_v<U, char *>) {
        return {ArgClass::STRING, sizeof(U)};
    } else if constexpr (std::is_pointer_v<U>) {
        return {ArgClass::POINTER, sizeof(U)};
    } else {
        return {};
    }
}

constexpr bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// How many of the count arguments of kinds the conversions of fmt take, in
// order; -1 when a conversion takes another kind than its argument, or finds
// no argument left.
consteval int taken(const char *fmt, const ArgKind *kinds, size_t count)
{
    size_t used = 0;
    auto take = [&](ArgClass cls, size_t size) {
        if (used == count || kinds[used].cls != cls || kinds[used].size != size)
            return false;
        ++used;
        return true;
    };
    // A width or a precision: digits, or '*' that takes an int argument.
    auto skip_field = [&](const char *&q) {
        if (*q == '*') {
            ++q;
            return take(ArgClass::INTEGER, sizeof(int));
        }
        while (is_digit(*q))
            ++q;
        return true;
    };
    for (const char *p = fmt; *p != '\0'; ++p) {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%')
            continue;
        while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0')
            ++p;
        if (!skip_field(p) || (*p == '.' && !skip_field(++p)))  // width, then precision
            return -1;
        size_t integer_size = sizeof(int);
        size_t floating_size = sizeof(double);
        bool length = true;
        if (p[0] == 'h') {
            p += p[1] == 'h' ? 2 : 1;  // promoted to int all the same
        } else if (p[0] == 'l' && p[1] == 'l') {
            integer_size = sizeof(long long);
            p += 2;
        } else if (p[0] == 'l') {
            integer_size = sizeof(long);
            ++p;
        } else if (p[0] == 'z') {
            integer_size = sizeof(size_t);
            ++p;
        } else if (p[0] == 'j') {
            integer_size = sizeof(intmax_t);
            ++p;
        } else if (p[0] == 't') {
            integer_size = sizeof(ptrdiff_t);
            ++p;
        } else if (p[0] == 'L') {
            floating_size = sizeof(long double);
            ++p;
        } else {
            length = false;
        }
        bool ok = false;
        switch (*p) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            ok = take(ArgClass::INTEGER, integer_size);
            break;
        case 'c':
            ok = !length && take(ArgClass::INTEGER, sizeof(int));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            ok = take(ArgClass::FLOATING, floating_size);
            break;
        case 's':
            ok = !length && take(ArgClass::STRING, sizeof(const char *));
            break;
        case 'p':
            ok = !length && (take(ArgClass::POINTER, sizeof(void *)) || take(ArgClass::STRING, sizeof(void *)));
            break;
        default:  // %n, an unknown conversion, or a '%' at the end
            return -1;
        }
        if (!ok)
            return -1;
    }
    return static_cast<int>(used);
}

// Called only when a format does not fit: not constexpr, so the compile-time
// check stops here and the compiler names this function in its error.
void format_does_not_take_its_arguments();

// Writes a line whose format a LogFormat has checked at compile time.
void write(int priority, const char *fmt, ...);

}  // namespace log_format_detail

// Whether fmt's conversions take exactly the types Args, in order.
template <typename... Args>
consteval bool format_takes(const char *fmt)
{
    constexpr log_format_detail::ArgKind kinds[] = {log_format_detail::kind_of<Args>()...,
                                                    log_format_detail::ArgKind{}};
    return log_format_detail::taken(fmt, kinds, sizeof...(Args)) == static_cast<int>(sizeof...(Args));
}

// A format for the arguments Args, checked where it is made.
template <typename... Args>
class LogFormat {
public:
    consteval LogFormat(const char *text) : text_(text)
    {
        if (!format_takes<Args...>(text))
            log_format_detail::format_does_not_take_its_arguments();
    }
    constexpr const char *text() const { return text_; }

private:
    const char *text_;
};

// A format for rows that show a varying number of values of one type: its
// conversions all take T, at most Max of them. It is written with Max
// values and shows as many of them as it names (printf leaves the rest).
// Made without a text it is no line at all.
template <typename T, size_t Max>
class LogFormatUpTo {
public:
    constexpr LogFormatUpTo() = default;
    consteval LogFormatUpTo(const char *text) : text_(text)
    {
        constexpr log_format_detail::ArgKind kind = log_format_detail::kind_of<T>();
        log_format_detail::ArgKind kinds[Max];
        for (log_format_detail::ArgKind &k : kinds)
            k = kind;
        count_ = log_format_detail::taken(text, kinds, Max);
        if (count_ < 0)
            log_format_detail::format_does_not_take_its_arguments();
    }
    constexpr const char *text() const { return text_; }
    // How many values the text shows.
    constexpr int count() const { return count_; }

private:
    const char *text_ = nullptr;
    int count_ = 0;
};

// Writes the line at the syslog priority (DEBUG lines too: the caller
// decides about the verbose flag).
template <typename... Args>
void log_line(int priority, const LogFormat<Args...> &format, std::type_identity_t<Args>... args)
{
    log_format_detail::write(priority, format.text(), args...);
}

// The same for a LogFormatUpTo (nothing when it has no text).
template <typename T, size_t Max>
void log_line(int priority, const LogFormatUpTo<T, Max> &format, const T (&values)[Max])
{
    if (format.text() == nullptr)
        return;
    [&]<size_t... I>(std::index_sequence<I...>) {
        log_format_detail::write(priority, format.text(), values[I]...);
    }(std::make_index_sequence<Max>());
}

}  // namespace optad
