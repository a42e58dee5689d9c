// The preferred day/night setting: "yes" (day, IR-cut filter in) or "no"
// (night), or none before anything set it.
//
// The day/night encoder takes it from IrCutFilter when that is not "auto";
// with "auto" the status monitor stores the IMC's own recommendation here,
// and the encoder sends that. Main-loop thread only.
#pragma once

namespace optad {

// The current string, or nullptr when there is none yet.
const char *preferred_day_night();

// Replaces it with a copy of value (nullptr: none).
void set_preferred_day_night(const char *value);

}  // namespace optad
