// Wall clock, local time both ways and the zone offset across a day change.
#include "syclock.h"

#include "time_zone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

TEST(Clock, MillisecondsSince1970)
{
    CMUint64 ms;
    EXPECT_EQ(syGetTimeInMsec(&ms), &ms);
    uint64_t v = (uint64_t)ms.high << 32 | ms.low;
    EXPECT_GT(ms.high, 0u) << "past 2^32 ms since 1970";
    EXPECT_NEAR((double)v / 1000, (double)time(nullptr), 2.0);
}

TEST(Clock, ZoneOffsetIsUtcMinusLocal)
{
    struct {
        const char *tz;
        int32_t minutes;
    } cases[] = {{"UTC0", 0},
                 {"MSK-3", -180},
                 {"EST5", 300},
                 {"NZST-12", -720},
                 {"IST-5:30", -330},
                 // Local time a day ahead of (or behind) UTC at nearly every instant.
                 {"<+2359>-23:59", -1439},
                 {"<-2359>23:59", 1439}};
    for (auto &c : cases) {
        TimeZone z(c.tz);
        // Holds at any instant, including when local time is already tomorrow.
        EXPECT_EQ(syGetTimeZone(), c.minutes) << c.tz;
    }
}

TEST(Clock, ComposeAndDecomposeLocalTime)
{
    TimeZone z("MSK-3");
    SYTimeFragments f;
    syDecomposeTime(86399, &f);  // 1970-01-01 23:59:59 UTC = 02:59:59 next day in Moscow
    EXPECT_EQ(f.day, 2);
    EXPECT_EQ(f.hour, 2);
    EXPECT_EQ(f.minutes, 59);
    EXPECT_EQ(f.seconds, 59);
    EXPECT_EQ(f.month, 0);
    EXPECT_EQ(f.year, 70);
    EXPECT_EQ(syComposeTime(&f), 86399);
}

}  // namespace
