// The IMC's shutter speeds.
//
// The IMC encodes a shutter speed as an index from 0 (1 s) to 51 (1/8000 s).
// The table gives each index its exposure time in microseconds and the label
// users see ("1/50"); the legacy mapping files list the same rows. It is
// stored from the fastest row (index 51) to the slowest (index 0), followed by
// an end row with time -1 and no label, so a walk in stored order runs from
// short to long exposures.
#pragma once

namespace optad {

// One row of a value table with its user-visible label. Tables of these end
// with a row {-1, nullptr}.
struct labelled_value {
    int value;          // for the shutter table: exposure time in µs
    const char *label;  // nullptr only in the end row
};

// Highest shutter index (1/8000 s); index 0 is 1 s.
inline constexpr int SHUTTER_INDEX_MAX = 51;
// Labelled rows of the table (indices 0 to SHUTTER_INDEX_MAX).
inline constexpr int SHUTTER_TABLE_ROWS = SHUTTER_INDEX_MAX + 1;

// Fastest first; row SHUTTER_TABLE_ROWS is the end row.
extern const labelled_value shutter_speed_table[SHUTTER_TABLE_ROWS + 1];

// Exposure time in µs of a shutter index; -1 when the index is outside 0..51.
int shutter_index_to_time(int index);

// Shutter index whose exposure time is exactly time_us; -1 when no row has
// that time (there is no rounding to the nearest row).
int shutter_time_to_index(int time_us);

}  // namespace optad
