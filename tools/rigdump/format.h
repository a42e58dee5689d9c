// Output pieces of rigdump, kept apart from the tool's flow so they can be
// tested: the section header, the GPIO state rows, the FPGA rows, the
// side-by-side status dump and the interrupts diff.
//
// Every section's value starts in column 32: the header is the label, a
// colon and spaces up to column 31.
#pragma once

#include "board/fpga.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace optad::rigdump {

inline constexpr const char *NO_STATUS = "Couldn't retrieve status!\n";

// "Label:" padded with spaces so that what follows starts in column 32.
std::string section_header(const char *label);

// The three usage lines.
std::string usage(const char *program);

// The serial id as the decimal value of each character (a byte, 0 to 255)
// minus '0', up to the first zero byte and at most 16 characters, then a
// newline.
std::string serial_digits(const char *serial);

// "FPGA Status" rows after the header: a newline, then one row per field.
std::string fpga_rows(const fpga_status &st);

// The GPIO state table's column header, and one row per line.
std::string gpio_header();
std::string gpio_row(const char *name, int direction, int value);
std::string gpio_failed_row(const char *name);

// The ruler line and 32 rows of 16 bytes of both snapshots, a "!" between
// rows that differ.
std::string status_dump(const uint8_t *first, const uint8_t *second, size_t size);

// A newline, then every line of `after` (while both lists have one), marked
// "!" when it differs from the same line of `before`.
std::string interrupts_diff(const std::vector<std::string> &before, const std::vector<std::string> &after);

// The lines of a file, each with its newline; nothing when it cannot be
// opened.
std::optional<std::vector<std::string>> read_lines(const std::string &path);

// Whole hours in the image stabilization time file (seconds); 0 when the
// file is missing or holds no number.
int stabilization_hours(const std::string &path);

}  // namespace optad::rigdump
