// The daemon's syslog lines.
//
// Every line is written exactly as given: callers pass the complete format,
// level word and module included ("ERROR:optad:main - Failed to init!").
// DEBUG lines go out only while the process-wide verbose flag is set; a few
// diagnostic dumps are written at debug priority regardless and use
// log_write() directly.
//
// Logging goes to syslog with the default identity and facility. The host
// build also copies every line to stderr (LOG_PERROR). Tests install a sink
// to capture the lines.
#pragma once

#include <syslog.h>

#include <functional>
#include <string>

namespace optad {

// Writes one line at the given syslog priority, printf style.
void log_write(int priority, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// The process-wide verbose flag. Off at start unless the build was
// configured with OPTAD_VERBOSE=ON; the host build also switches it on when
// the environment variable OPTAD_VERBOSE is "1". The daemon never sets it.
bool log_verbose();
void log_set_verbose(bool on);

// Test hook: while a sink is installed every line goes to it (priority and
// the formatted text, trailing newline kept) instead of syslog.
using LogSink = std::function<void(int priority, const std::string &line)>;
void log_set_sink(LogSink sink);

}  // namespace optad

// The common forms. The format string carries the whole line.
#define OPTAD_LOG_DEBUG(...)                                   \
    do {                                                       \
        if (::optad::log_verbose())                            \
            ::optad::log_write(LOG_DEBUG, __VA_ARGS__);        \
    } while (0)
#define OPTAD_LOG_INFO(...) ::optad::log_write(LOG_INFO, __VA_ARGS__)
#define OPTAD_LOG_WARNING(...) ::optad::log_write(LOG_WARNING, __VA_ARGS__)
#define OPTAD_LOG_ERROR(...) ::optad::log_write(LOG_ERR, __VA_ARGS__)
