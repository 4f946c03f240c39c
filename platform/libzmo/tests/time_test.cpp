#include <gtest/gtest.h>

#include <cstdint>

#include "zmo.h"

namespace {
TEST(Time, AddAndSubtractCarry)
{
    zmo_time_t t = {10, 900000000};
    zmo_time_add_msec(&t, 250);
    EXPECT_EQ(t.sec, 11);
    EXPECT_EQ(t.nsec, 150000000);
    zmo_time_add_msec(&t, -1300);
    EXPECT_EQ(t.sec, 9);
    EXPECT_EQ(t.nsec, 850000000);
    zmo_time_add_sec(&t, 5);
    EXPECT_EQ(zmo_time_to_msec(&t), 14850);

    zmo_time_t a = {3, 100000000}, b = {1, 600000000};
    zmo_time_sub(&a, &b);
    EXPECT_EQ(a.sec, 1);
    EXPECT_EQ(a.nsec, 500000000);
    EXPECT_EQ(zmo_time_to_msec(&a), 1500);
    zmo_time_t c = {1, 0}, d = {1, 500000000};
    zmo_time_sub(&c, &d);  // negative spans stay normalised
    EXPECT_EQ(zmo_time_to_msec(&c), -500);
}

TEST(Time, LargeMillisecondCounts)
{
    zmo_time_t t = {0, 0};
    zmo_time_add_msec(&t, 5000000000000LL);  // past 32 bits
    EXPECT_EQ(t.sec, 5000000000LL);
    EXPECT_EQ(zmo_time_to_msec(&t), 5000000000000LL);
}

TEST(Time, Comparisons)
{
    const zmo_time_t a = {5, 1}, b = {5, 2}, c = {5, 1};
    EXPECT_TRUE(zmo_time_less(&a, &b));
    EXPECT_FALSE(zmo_time_less(&b, &a));
    EXPECT_FALSE(zmo_time_less(&a, &c));
    EXPECT_TRUE(zmo_time_less_or_equal(&a, &c));
    EXPECT_TRUE(zmo_time_greater(&b, &a));
    EXPECT_TRUE(zmo_time_greater_or_equal(&a, &c));
    EXPECT_FALSE(zmo_time_greater_or_equal(&a, &b));
    EXPECT_TRUE(zmo_time_equal(&a, &c));
    EXPECT_FALSE(zmo_time_equal(&a, &b));
}

TEST(Time, LeftIsPositiveAheadAndNegativeOncePassed)
{
    ASSERT_TRUE(zmo_time_init());
    zmo_time_t deadline;
    zmo_time_get_monotonic_plus_msec(&deadline, 10000);
    int64_t left = zmo_time_left_monotonic_msec(&deadline);
    EXPECT_GT(left, 9000);
    EXPECT_LE(left, 10000);
    zmo_time_get_monotonic_plus_msec(&deadline, -1);
    EXPECT_LT(zmo_time_left_monotonic_msec(&deadline), 0);
    // Less than a millisecond ahead still counts as time left, never 0.
    zmo_time_get_monotonic(&deadline);
    deadline.nsec += 500000;
    if (deadline.nsec >= 1000000000) {
        deadline.nsec -= 1000000000;
        deadline.sec++;
    }
    EXPECT_GE(zmo_time_left_monotonic_msec(&deadline), 0);
}

// A deadline centuries away (a caller's "never") keeps its sign and size.
TEST(Time, FarDeadlinesKeepTheirSign)
{
    struct Case {
        int64_t ms;
        bool ahead;
    } cases[] = {{INT64_MAX / 4, true},
                 {-(INT64_MAX / 4), false},
                 {20000000000000LL, true},
                 {-20000000000000LL, false}};
    for (const Case &c : cases) {
        zmo_time_t deadline;
        zmo_time_get_monotonic_plus_msec(&deadline, c.ms);
        int64_t left = zmo_time_left_monotonic_msec(&deadline);
        if (c.ahead)
            EXPECT_GT(left, c.ms / 2) << c.ms;
        else
            EXPECT_LT(left, c.ms / 2) << c.ms;
    }
    zmo_time_t never = {INT64_MAX, 0};
    EXPECT_EQ(zmo_time_left_monotonic_msec(&never), INT64_MAX);
}
}  // namespace
