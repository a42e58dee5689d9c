#include "tools/rigdump/format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace optad::rigdump {

namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, ap);
        out.resize(static_cast<size_t>(n));
    }
    va_end(ap);
    return out;
}

// Width that pads a text of `len` characters to `total`; 0 when it is
// already as long.
int pad_to(size_t total, size_t len)
{
    return len < total + 1 ? static_cast<int>(total - len) : 0;
}

constexpr size_t LABEL_COLUMN = 30;  // label and padding; the colon is not counted
constexpr int FPGA_VALUE_PAD = 11;
constexpr size_t FPGA_NAME_WIDTH = 18;
constexpr int GPIO_DIR_WIDTH = 29;
constexpr size_t GPIO_NAME_WIDTH = 30;
constexpr size_t DUMP_ROW = 16;
constexpr const char *RULER = " 0 1 2 3 4 5 6 7 8 9 A B C D E F";

struct file_closer {
    void operator()(FILE *f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

}  // namespace

std::string section_header(const char *label)
{
    return format("%s:%*s", label, pad_to(LABEL_COLUMN, std::strlen(label)), " ");
}

std::string usage(const char *program)
{
    return format("Usage: %s [do]\n", program) + "  --all                    Prints all camera info\n" +
           "  -h, -u, --help, --usage  Prints usage of rigdump\n";
}

std::string serial_digits(const char *serial)
{
    // The characters are the status block's bytes, 0 to 255: taken as
    // char, a byte above 0x7F would print negative where char is signed
    // (a PC) and positive on the camera.
    std::string out;
    for (size_t i = 0; i < 16 && serial[i] != '\0'; ++i)
        out += format("%d", static_cast<unsigned char>(serial[i]) - '0');
    return out + "\n";
}

std::string fpga_rows(const fpga_status &st)
{
    // Each row: " name:" padded to 20 characters, then 11 spaces, so that
    // the value starts in column 32.
    std::string out = "\n";
    out += format(" rw_capt:           %*s%dx%d\n", FPGA_VALUE_PAD, " ", fpga_capt_width(st.rw_capt),
                  fpga_capt_height(st.rw_capt));
    for (const FpgaField &f : fpga_fields)
        out += format(" %s:%*s%*s%d\n", f.name, pad_to(FPGA_NAME_WIDTH, std::strlen(f.name)), "", FPGA_VALUE_PAD,
                      " ", static_cast<int>(fpga_field_value(st, f)));
    out += format(" io_exp:            %*s0x%02X\n", FPGA_VALUE_PAD, " ", static_cast<unsigned>(st.io_exp & 0xFF));
    return out;
}

std::string gpio_header()
{
    return format(" Name%*s  State\n", GPIO_DIR_WIDTH, "Dir");
}

std::string gpio_row(const char *name, int direction, int value)
{
    // The GPIO library reports inputs as a non-zero direction.
    return format(" %s%*s%s  %d\n", name, pad_to(GPIO_NAME_WIDTH, std::strlen(name)), "",
                  direction != 0 ? "in " : "out", value);
}

std::string gpio_failed_row(const char *name)
{
    return format(" %s%*sFailed\n", name, pad_to(GPIO_NAME_WIDTH, std::strlen(name)), "");
}

std::string status_dump(const uint8_t *first, const uint8_t *second, size_t size)
{
    std::string out = format("\n     %s   %s\n", RULER, RULER);
    for (size_t off = 0; off + DUMP_ROW <= size; off += DUMP_ROW) {
        char a[2 * DUMP_ROW + 1];
        char b[2 * DUMP_ROW + 1];
        for (size_t i = 0; i < DUMP_ROW; ++i) {
            std::snprintf(a + 2 * i, 3, "%02x", first[off + i]);
            std::snprintf(b + 2 * i, 3, "%02x", second[off + i]);
        }
        out += format("%03X: %s %c %s\n", static_cast<unsigned>(off), a, std::strcmp(a, b) != 0 ? '!' : ' ', b);
    }
    return out;
}

std::string interrupts_diff(const std::vector<std::string> &before, const std::vector<std::string> &after)
{
    std::string out = "\n";
    for (size_t i = 0; i < before.size() && i < after.size(); ++i)
        out += format("%c %s", before[i] != after[i] ? '!' : ' ', after[i].c_str());
    return out;
}

std::optional<std::vector<std::string>> read_lines(const std::string &path)
{
    file_ptr f(std::fopen(path.c_str(), "r"));
    if (!f)
        return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, f.get()) != nullptr) {
        line += chunk;
        if (!line.empty() && line.back() == '\n') {
            lines.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

int stabilization_hours(const std::string &path)
{
    file_ptr f(std::fopen(path.c_str(), "r"));
    if (!f)
        return 0;
    int seconds = 0;
    if (std::fscanf(f.get(), "%d", &seconds) != 1)
        return 0;
    return seconds / 3600;
}

}  // namespace optad::rigdump
