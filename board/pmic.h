// The image module's power-management chip (PMIC) and the command files
// that program it.
//
// Before the module's DC/DC converters are enabled, the PMIC's rails are set
// up over the I2C bus /dev/i2c-4 from a text file the board supplies, one
// row per line:
//
//   w <addr> <reg> <value>   write: the 8-bit bus address (read/write bit
//                            included), a register and its value, in hex
//                            ("0x" optional), separated by blanks or tabs
//   d <ms>                   delay in milliseconds (0x hex, 0 octal, decimal)
//   # ...                    comment; empty lines are ignored as well
//
// The character after the row letter is skipped whatever it is. An 8-bit
// address of 0x1FFFE or 0x1FFFF (7-bit 0xFFFF) keeps the slave selected by an
// earlier row. A row is a line's first 255 bytes: the rest of a longer line
// (a long comment after a write, say) is dropped, and a number it cuts in
// two is no number.
#pragma once

namespace optad {

// The command files, by board phase.
inline constexpr const char PMIC_FILE_DE[] = "/usr/share/imc_pmic_init_cmd_de";
inline constexpr const char PMIC_FILE_DC[] = "/usr/share/imc_pmic_init_cmd_dc";

// Runs the command file at fixed_path over the open I2C bus descriptor.
// Returns 0 at the end of the file, and also when the file cannot be opened
// (logged; the board then has no commands for its PMIC). Returns -1 (logged)
// at the first failed slave selection or write, and when reading the file
// fails part way.
int pmic_init_from_file(int i2c_fd, const char *fixed_path);

}  // namespace optad
