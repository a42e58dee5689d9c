// errno values by their names, for the control interface ("EIO", "5").
#pragma once

#include <string>

namespace optad::sim {

// A name from the table or a number from 1 to 4095; false otherwise.
bool errno_from_word(const std::string &word, int *value);
// The name of a value ("EIO"), or its number when the table lacks it.
std::string errno_name(int value);

}  // namespace optad::sim
