// The PMIC command-file interpreter.
#include "board/pmic.h"

#include "platform/clock.h"
#include "platform/devio.h"
#include "platform/kernel_abi.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace optad {

namespace {

// Each line is read into this many bytes, terminator included: a row is a
// line's first 255 bytes, and the rest of a longer line is dropped.
constexpr int PMIC_LINE_SIZE = 256;
// A 7-bit address no bus has: the row writes to the slave already selected.
constexpr unsigned long KEEP_SLAVE = 0xFFFF;
// Delays are the camera's 32-bit unsigned milliseconds; a longer one is a
// typing error, not a wait.
constexpr unsigned long MAX_DELAY_MS = 0xFFFFFFFFul;

// A row as read: its text, and whether the line went on, past the bytes
// read, in the middle of a field (a number there is cut in two).
struct Row {
    const char *text;
    bool cut_in_field;
};

enum class RowResult {
    DONE,
    UNHANDLED,  // not a row this interpreter knows, or its fields are not numbers
    FAILED,     // the bus refused; the file is abandoned
};

// Where a row's fields begin: the row letter and the character after it are
// skipped, whatever that character is, but never the line's end.
const char *row_fields(const char *line)
{
    return line[1] != '\0' ? line + 2 : line + 1;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool ends_field(char c)
{
    return c == '\0' || is_blank(c) || c == '\n' || c == '\r';
}

// Whether the line's character after the row's last byte continues a field.
bool continues_field(int c)
{
    return c != EOF && !ends_field(static_cast<char>(c));
}

// Reads the next number of a row: blanks and tabs, then digits in `base`
// (16: hex with an optional "0x"; 0: the prefix decides) up to a blank, a
// tab or the end of the line. A field that is missing, signed, carries a
// character that is not a digit, does not fit an unsigned long, or runs to
// the end of a row whose line went on within it (cut in two) is not a
// number: writing what is left of it would program the PMIC with a value
// nobody wrote.
bool next_number(const char **p, const Row &row, int base, unsigned long *value)
{
    const char *s = *p;
    while (is_blank(*s))
        ++s;
    const unsigned char first = static_cast<unsigned char>(*s);
    if (base == 16 ? !std::isxdigit(first) : !std::isdigit(first))
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(s, &end, base);
    if (errno == ERANGE || !ends_field(*end) || (*end == '\0' && row.cut_in_field))
        return false;
    *value = v;
    *p = end;
    return true;
}

// "w": selects the slave (unless the row keeps the earlier one) and writes
// register and value as one two-byte message.
RowResult write_row(int i2c_fd, const Row &row)
{
    const char *p = row_fields(row.text);
    unsigned long address = 0, reg = 0, value = 0;
    if (!next_number(&p, row, 16, &address) || !next_number(&p, row, 16, &reg) ||
        !next_number(&p, row, 16, &value))
        return RowResult::UNHANDLED;
    const unsigned long slave = address >> 1;
    if (slave != KEEP_SLAVE) {
        const int res = dev_ioctl_value(i2c_fd, I2C_SLAVE, slave);
        if (res < 0) {
            const int e = errno;
            OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - I2C_SLAVE res=%d\n", e, strerror(e), res);
            return RowResult::FAILED;
        }
    }
    const uint8_t message[2] = {static_cast<uint8_t>(reg & 0xFF), static_cast<uint8_t>(value & 0xFF)};
    const ssize_t written = dev_write(i2c_fd, message, sizeof message);
    if (written != static_cast<ssize_t>(sizeof message)) {
        // A short write leaves errno alone; the chip saw half a message.
        const int e = written < 0 ? errno : EIO;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - Failed to write %i bytes, addr:0x%02lX, "
                        "reg:0x%02lX, val:0x%02lX\n",
                        e, strerror(e), static_cast<int>(sizeof message), slave, reg, value);
        return RowResult::FAILED;
    }
    return RowResult::DONE;
}

// "d": sleeps the given milliseconds at once.
RowResult delay_row(int, const Row &row)
{
    const char *p = row_fields(row.text);
    unsigned long ms = 0;
    if (!next_number(&p, row, 0, &ms) || ms > MAX_DELAY_MS)
        return RowResult::UNHANDLED;
    clock_sleep_us(static_cast<int64_t>(ms) * 1000);
    return RowResult::DONE;
}

// Rows by their first character; a row without a handler is ignored (blank
// lines and comments). Any other first character is an unknown row.
struct RowKind {
    char first;
    RowResult (*run)(int i2c_fd, const Row &row);
};
constexpr RowKind row_kinds[] = {
    {'w', write_row}, {'d', delay_row}, {'\n', nullptr}, {'\r', nullptr}, {'#', nullptr},
};

const RowKind *row_kind(char first)
{
    for (const RowKind &k : row_kinds)
        if (k.first == first)
            return &k;
    return nullptr;
}

// After a line filled the whole buffer without its newline: drops the rest
// of that line, so that it is never read as a row of its own. Returns the
// first character dropped (the newline, or EOF, when there was no more).
int drop_rest_of_line(FILE *file)
{
    const int first = std::fgetc(file);
    for (int c = first; c != '\n' && c != EOF;)
        c = std::fgetc(file);
    return first;
}

// Reads the next line's row: its first PMIC_LINE_SIZE - 1 bytes (the
// newline among them when the line is that short), terminated, and drops
// the rest of a longer line. The bytes are counted as they are read, not
// measured as a string afterwards: a stray NUL byte in a long line would
// make it look short, and the rest of the line would then be read as a row
// of its own. *after is the first byte after the row ('\n' when the line
// ended within it). Returns false at the end of the file.
bool read_row(FILE *file, char (&line)[PMIC_LINE_SIZE], int *after)
{
    size_t length = 0;
    while (length < sizeof line - 1) {
        const int c = std::fgetc(file);
        if (c == EOF)
            break;
        line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    line[length] = '\0';
    if (length == 0)
        return false;
    *after = '\n';
    if (length == sizeof line - 1 && line[length - 1] != '\n')
        *after = drop_rest_of_line(file);
    return true;
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

}  // namespace

int pmic_init_from_file(int i2c_fd, const char *fixed_path)
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(platform_path(fixed_path).c_str(), "r"));
    if (!file) {
        const int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - Failed to open the configfile = %s!\n", e,
                        strerror(e), fixed_path);
        return 0;
    }
    char line[PMIC_LINE_SIZE];
    int after = '\n';
    // A longer line's row is its first 255 bytes (a write with a long
    // comment after it is written); whatever follows them is dropped, never
    // read as a row, whatever it starts with.
    while (read_row(file.get(), line, &after)) {
        const Row row{line, continues_field(after)};
        const RowKind *kind = row_kind(line[0]);
        if (kind != nullptr && kind->run == nullptr)
            continue;
        const RowResult result = kind != nullptr ? kind->run(i2c_fd, row) : RowResult::UNHANDLED;
        if (result == RowResult::FAILED)
            return -1;
        if (result == RowResult::UNHANDLED)
            OPTAD_LOG_ERROR("ERROR:optad:power_control - Unhandled row: '%s'\n", line);
    }
    if (std::ferror(file.get())) {
        const int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:power_control - Failed to read the configfile = %s!\n", e,
                        strerror(e), fixed_path);
        return -1;
    }
    return 0;
}

}  // namespace optad
