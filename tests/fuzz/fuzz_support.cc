#include "tests/fuzz/fuzz_support.h"

#include "config/param_settings.h"
#include "platform/log.h"
#include "tests/support/test_support.h"

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace optad::fuzz {

namespace {

// A GLib critical is a call GLib refused (a precondition failed): the
// program went on with a null or a default where it expected a result.
// Each one is a fault for the harness; warnings and messages pass.
void glib_log(const gchar *domain, GLogLevelFlags level, const gchar *message, gpointer)
{
    if ((level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)) != 0) {
        std::fprintf(stderr, "%s-CRITICAL: %s\n", domain != nullptr ? domain : "", message);
        std::abort();
    }
}

}  // namespace

const std::string &fuzz_setup()
{
    static const std::string root = [] {
        log_set_verbose(true);
        log_set_sink([](int, const std::string &) {});
        g_log_set_default_handler(glib_log, nullptr);
        // Removed with its files when the process exits.
        static test::SandboxRoot sandbox;
        return sandbox.dir();
    }();
    return root;
}

void fuzz_fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

void write_fixed_file(const char *fixed_path, const uint8_t *data, size_t size)
{
    const std::string path = fuzz_setup() + fixed_path;
    g_autofree char *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0755);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

std::string read_fixed_file(const char *fixed_path)
{
    std::ifstream in(fuzz_setup() + fixed_path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> table_snapshot()
{
    std::vector<std::string> values;
    for (int id = 0; id < PARAM_COUNT; ++id) {
        if (*param_get_type(id) == PARAM_TYPE_INT) {
            values.push_back("i:" + std::to_string(param_get_int_value(id)));
        } else {
            const char *s = param_get_string_value(id);
            values.push_back(s != nullptr ? std::string("s:") + s : "s:-");
        }
    }
    return values;
}

size_t InputReader::take(uint8_t *out, size_t n)
{
    const size_t k = n < left() ? n : left();
    std::memcpy(out, data_ + pos_, k);
    pos_ += k;
    return k;
}

}  // namespace optad::fuzz
