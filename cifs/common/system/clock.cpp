// Wall clock and local time of the system layer.
#include "syclock.h"

#include <sys/time.h>

namespace {

// Days from 1970-01-01 to the given civil date; lets the zone offset span a day change.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = (unsigned)(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (int64_t)doe - 719468;
}

int64_t minutesOf(const struct tm &t)
{
    return (daysFromCivil(t.tm_year + 1900, (unsigned)t.tm_mon + 1, (unsigned)t.tm_mday) * 24 + t.tm_hour) *
               60 +
           t.tm_min;
}

}  // namespace

extern "C" {

CMUint64 *syGetTimeInMsec(CMUint64 *out)
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    uint64_t ms = (uint64_t)tv.tv_sec * 1000 + (uint64_t)tv.tv_usec / 1000;
    out->low = (uint32_t)ms;
    out->high = (uint32_t)(ms >> 32);
    return out;
}

time_t syComposeTime(const SYTimeFragments *f)
{
    struct tm t {};
    t.tm_sec = f->seconds;
    t.tm_min = f->minutes;
    t.tm_hour = f->hour;
    t.tm_mday = f->day;
    t.tm_mon = f->month;
    t.tm_year = f->year;
    t.tm_isdst = -1;  // let the zone rules decide daylight saving
    return mktime(&t);
}

void syDecomposeTime(time_t t, SYTimeFragments *f)
{
    struct tm local {};
    localtime_r(&t, &local);
    f->seconds = (uint16_t)local.tm_sec;
    f->minutes = (uint16_t)local.tm_min;
    f->hour = (uint16_t)local.tm_hour;
    f->day = (uint16_t)local.tm_mday;
    f->month = (uint16_t)local.tm_mon;
    f->year = (uint16_t)local.tm_year;
}

int32_t syGetTimeZone(void)
{
    time_t now = time(nullptr);
    struct tm utc {
    }, local{};
    gmtime_r(&now, &utc);
    localtime_r(&now, &local);
    return (int32_t)(minutesOf(utc) - minutesOf(local));
}

}  // extern "C"
