// schedule_test.cpp - the schedule's arithmetic with this build's unsigned
// long (32 bits on Windows, 64 on Linux x86-64): the counts a SCHVAL gets
// as digits give the same intervals, and the same refusals, on both.
#include <gtest/gtest.h>

#include "schedule.h"

namespace {

constexpr unsigned long kDay = 86400;

// The interval of a count written in digits, of units unitSeconds long;
// false when the count or the interval is refused.
bool IntervalOf(const char* digits, unsigned long unitSeconds, unsigned long* seconds) {
    unsigned long count = 0;
    return Schedule::Count(digits, &count) && Schedule::Interval(count, unitSeconds, seconds);
}

}  // namespace

TEST(ScheduleTest, IntervalsAndRefusalsAreTheSameWhateverTheWidthOfLong) {
    unsigned long seconds = 0;
    EXPECT_TRUE(IntervalOf("49710", kDay, &seconds));
    EXPECT_EQ(4294944000UL, seconds);
    EXPECT_TRUE(IntervalOf("4294967295", 1, &seconds));
    EXPECT_EQ(4294967295UL, seconds);
    EXPECT_TRUE(IntervalOf("0", 60, &seconds));
    EXPECT_EQ(0UL, seconds);
    for (const char* refused : {"49711", "4294967296", "18446744073709551615", "18446744073709551616",
                                "99999999999999999999999"}) {
        SCOPED_TRACE(refused);
        seconds = 7;
        EXPECT_FALSE(IntervalOf(refused, kDay, &seconds));
        EXPECT_EQ(7UL, seconds);  // left as it was
    }
    EXPECT_FALSE(IntervalOf("4294967296", 1, &seconds));
    EXPECT_FALSE(IntervalOf("12a", 1, &seconds));
}
