#include "params/day_night.h"

#include <cstring>

namespace optad {

namespace {

// The string is "yes", "no" or a copy of IrCutFilter, which the property
// handler accepts only as "auto", "yes" or "no". Anything longer than the
// buffer is cut short; a cut string can never read "yes" or "no", so it is
// still refused as a day/night value.
constexpr size_t PREFERRED_DAY_NIGHT_SIZE = 32;

char preferred[PREFERRED_DAY_NIGHT_SIZE];
bool preferred_set = false;

}  // namespace

const char *preferred_day_night()
{
    return preferred_set ? preferred : nullptr;
}

void set_preferred_day_night(const char *value)
{
    if (value == nullptr) {
        preferred_set = false;
        preferred[0] = '\0';
        return;
    }
    if (value != preferred) {
        // value may point into the buffer itself (a suffix of it): move.
        size_t len = strnlen(value, PREFERRED_DAY_NIGHT_SIZE - 1);
        std::memmove(preferred, value, len);
        preferred[len] = '\0';
    }
    preferred_set = true;
}

}  // namespace optad
