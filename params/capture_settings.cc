#include "params/capture_settings.h"

namespace optad {

const capture_mode_row *capture_mode_find(int capture_mode)
{
    for (const capture_mode_row &row : capture_mode_table) {
        if (row.capture_mode == capture_mode)
            return &row;
    }
    return nullptr;
}

constinit capture_settings s_capture = capture_settings_initial();

}  // namespace optad
