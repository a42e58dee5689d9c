#include "config/shutter_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>

namespace optad {
namespace {

TEST(ShutterTable, EveryRowRoundTrips)
{
    for (int index = 0; index <= SHUTTER_INDEX_MAX; ++index) {
        int time_us = shutter_index_to_time(index);
        ASSERT_GT(time_us, 0) << index;
        EXPECT_EQ(shutter_time_to_index(time_us), index) << time_us;
    }
}

TEST(ShutterTable, StoredFastestFirstWithLabelsAndEndRow)
{
    std::set<std::string> labels;
    for (int pos = 0; pos < SHUTTER_TABLE_ROWS; ++pos) {
        ASSERT_NE(shutter_speed_table[pos].label, nullptr) << pos;
        labels.insert(shutter_speed_table[pos].label);
        if (pos > 0) {
            EXPECT_GT(shutter_speed_table[pos].value, shutter_speed_table[pos - 1].value) << pos;
        }
    }
    EXPECT_EQ(labels.size(), 52u);
    EXPECT_EQ(shutter_speed_table[SHUTTER_TABLE_ROWS].value, -1);
    EXPECT_EQ(shutter_speed_table[SHUTTER_TABLE_ROWS].label, nullptr);
    EXPECT_STREQ(shutter_speed_table[0].label, "1/8000");
    EXPECT_STREQ(shutter_speed_table[SHUTTER_INDEX_MAX - 22].label, "1/50");
    EXPECT_STREQ(shutter_speed_table[SHUTTER_INDEX_MAX].label, "1");
}

TEST(ShutterTable, KnownRowsAndMisses)
{
    EXPECT_EQ(shutter_index_to_time(0), 1000000);
    EXPECT_EQ(shutter_index_to_time(22), 20000);
    EXPECT_EQ(shutter_index_to_time(51), 125);
    EXPECT_EQ(shutter_time_to_index(20000), 22);
    EXPECT_EQ(shutter_time_to_index(20001), -1);
    EXPECT_EQ(shutter_time_to_index(-1), -1);
    EXPECT_EQ(shutter_time_to_index(0), -1);
    for (int index : {52, -1, INT_MAX, INT_MIN})
        EXPECT_EQ(shutter_index_to_time(index), -1) << index;
}

}  // namespace
}  // namespace optad
