#include "config/shutter_table.h"

namespace optad {

// Stored fastest first: stored position = SHUTTER_INDEX_MAX - index.
const labelled_value shutter_speed_table[SHUTTER_TABLE_ROWS + 1] = {
    {125, "1/8000"},   // 51
    {156, "1/6400"},   // 50
    {178, "1/5600"},   // 49
    {208, "1/4800"},   // 48
    {250, "1/4000"},   // 47
    {294, "1/3400"},   // 46
    {357, "1/2800"},   // 45
    {416, "1/2400"},   // 44
    {500, "1/2000"},   // 43
    {588, "1/1700"},   // 42
    {714, "1/1400"},   // 41
    {833, "1/1200"},   // 40
    {1000, "1/1000"},  // 39
    {1190, "1/840"},   // 38
    {1388, "1/720"},   // 37
    {1666, "1/600"},   // 36
    {2000, "1/500"},   // 35
    {2380, "1/420"},   // 34
    {2777, "1/360"},   // 33
    {3333, "1/300"},   // 32
    {4000, "1/250"},   // 31
    {4761, "1/210"},   // 30
    {5555, "1/180"},   // 29
    {6666, "1/150"},   // 28
    {8333, "1/120"},   // 27
    {10000, "1/100"},  // 26
    {11764, "1/85"},   // 25
    {14285, "1/70"},   // 24
    {16666, "1/60"},   // 23
    {20000, "1/50"},   // 22
    {23809, "1/42"},   // 21
    {28571, "1/35"},   // 20
    {33333, "1/30"},   // 19
    {40000, "1/25"},   // 18
    {47619, "1/21"},   // 17
    {55555, "1/18"},   // 16
    {66666, "1/15"},   // 15
    {76923, "1/13"},   // 14
    {90909, "1/11"},   // 13
    {111111, "1/9"},   // 12
    {125000, "1/8"},   // 11
    {166666, "1/6"},   // 10
    {200000, "1/5"},   // 9
    {222222, "1/4.5"}, // 8
    {250000, "1/4"},   // 7
    {312500, "1/3.2"}, // 6
    {370370, "1/2.7"}, // 5
    {454545, "1/2.2"}, // 4
    {500000, "1/2"},   // 3
    {666666, "1/1.5"}, // 2
    {833333, "1/1.2"}, // 1
    {1000000, "1"},    // 0
    {-1, nullptr},     // end row
};

int shutter_index_to_time(int index)
{
    // Taken as unsigned, a negative index is out of range as well.
    if (static_cast<unsigned>(index) > static_cast<unsigned>(SHUTTER_INDEX_MAX))
        return -1;
    return shutter_speed_table[SHUTTER_INDEX_MAX - index].value;
}

int shutter_time_to_index(int time_us)
{
    for (int pos = 0; shutter_speed_table[pos].value != -1; ++pos) {
        if (shutter_speed_table[pos].value == time_us)
            return SHUTTER_INDEX_MAX - pos;
    }
    return -1;
}

}  // namespace optad
