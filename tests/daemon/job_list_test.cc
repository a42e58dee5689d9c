// The job list as a container: order, head insertion, removal of every
// duplicate, wrap-around of its ring, and what happens when it is full.
#include "daemon/job_list.h"
#include "daemon/jobs.h"

#include <gtest/gtest.h>

#include <vector>

namespace optad {
namespace {

std::vector<int> contents(const JobList &l)
{
    std::vector<int> v;
    for (size_t i = 0; i < l.size(); i++)
        v.push_back(l.at(i));
    return v;
}

TEST(JobList, RemoveAllKeepsTheOthersInOrder)
{
    JobList l;
    for (int id : {8, 27, 8, 13, 8, 8, 14})
        l.append(id);
    EXPECT_EQ(l.remove_all(8), 4u);
    EXPECT_EQ(contents(l), (std::vector<int>{27, 13, 14}));
    EXPECT_EQ(l.remove_all(99), 0u);
    EXPECT_FALSE(l.contains(8));
    EXPECT_TRUE(l.contains(13));
}

TEST(JobList, WrapsAroundItsRing)
{
    // Move the head near the end of the ring, then work across the seam.
    JobList l;
    for (size_t i = 0; i < JobList::CAPACITY - 2; i++) {
        l.append(1);
        l.pop_front();
    }
    for (int id : {int{JOB_FOCUSDRIVE}, 40, int{JOB_FOCUSDRIVE}, 41, int{JOB_FOCUSDRIVE}})
        ASSERT_TRUE(l.append(id));
    ASSERT_TRUE(l.prepend(5));
    EXPECT_EQ(contents(l), (std::vector<int>{5, JOB_FOCUSDRIVE, 40, JOB_FOCUSDRIVE, 41, JOB_FOCUSDRIVE}));
    EXPECT_EQ(l.remove_all(JOB_FOCUSDRIVE), 3u);
    EXPECT_EQ(contents(l), (std::vector<int>{5, 40, 41}));
    l.pop_front();
    EXPECT_EQ(l.front(), 40);
}

// A client setting one property every few milliseconds while the main loop
// sits in a ten-second REQ wait must not fill the list: the hung IMC's
// error job comes after it.
TEST(JobList, AMergedDuplicateTakesNoRoom)
{
    JobList l;
    for (int i = 0; i < 1000; i++) {
        ASSERT_TRUE(l.append(JOB_SHARPNESS));
        ASSERT_TRUE(l.append(JOB_GAIN));
    }
    ASSERT_TRUE(l.append(JOB_FOCUSDRIVE));
    ASSERT_TRUE(l.append(JOB_FOCUSDRIVE));
    ASSERT_TRUE(l.append(JT_CHECK_POWER));
    ASSERT_TRUE(l.append(JT_CHECK_POWER));
    EXPECT_TRUE(l.prepend(JT_ERROR));
    EXPECT_EQ(contents(l), (std::vector<int>{JT_ERROR, JOB_SHARPNESS, JOB_GAIN, JOB_FOCUSDRIVE, JOB_FOCUSDRIVE,
                                             JT_CHECK_POWER, JT_CHECK_POWER}));
}

TEST(JobList, FullListAbsorbsMergedDuplicatesAndRefusesTheRest)
{
    JobList l;
    l.append(JOB_SHARPNESS);
    l.append(JOB_FOCUSDRIVE);
    l.append(JT_RESTART_IMC);
    while (!l.full())
        ASSERT_TRUE(l.append(JT_CHECK_POWER));
    ASSERT_EQ(l.size(), JobList::CAPACITY);

    // Taking the queued Sharpness would remove this one anyway.
    EXPECT_TRUE(l.append(JOB_SHARPNESS));
    // Not on the list yet, or run once per entry: no room.
    EXPECT_FALSE(l.append(JOB_GAIN));
    EXPECT_FALSE(l.append(JOB_FOCUSDRIVE));
    EXPECT_FALSE(l.append(JT_RESTART_IMC));
    EXPECT_FALSE(l.prepend(JOB_SHARPNESS));
    EXPECT_EQ(l.size(), JobList::CAPACITY);
    EXPECT_EQ(l.at(0), JOB_SHARPNESS);
    EXPECT_EQ(l.at(JobList::CAPACITY - 1), JT_CHECK_POWER);

    l.clear();
    EXPECT_TRUE(l.empty());
    EXPECT_TRUE(l.append(JOB_GAIN));
}

}  // namespace
}  // namespace optad
