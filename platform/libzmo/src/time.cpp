// Monotonic time values and their arithmetic.
#include "zmo.h"

#include <cstdint>
#include <ctime>

namespace {
constexpr int64_t kNsPerSec = 1000000000;
constexpr int64_t kNsPerMs = 1000000;

void normalise(zmo_time_t *t)
{
    t->sec += t->nsec / kNsPerSec;
    t->nsec %= kNsPerSec;
    if (t->nsec < 0) {
        t->nsec += kNsPerSec;
        t->sec -= 1;
    }
}

int compare(const zmo_time_t *a, const zmo_time_t *b)
{
    if (a->sec != b->sec)
        return a->sec < b->sec ? -1 : 1;
    if (a->nsec != b->nsec)
        return a->nsec < b->nsec ? -1 : 1;
    return 0;
}
}  // namespace

extern "C" {

int zmo_time_init(void)
{
    struct timespec ts;
    return clock_gettime(CLOCK_MONOTONIC, &ts) == 0;
}

void zmo_time_get_monotonic(zmo_time_t *t)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    t->sec = ts.tv_sec;
    t->nsec = ts.tv_nsec;
}

void zmo_time_get_monotonic_plus_msec(zmo_time_t *t, int64_t ms)
{
    zmo_time_get_monotonic(t);
    zmo_time_add_msec(t, ms);
}

void zmo_time_add_sec(zmo_time_t *t, int64_t s) { t->sec += s; }

void zmo_time_add_msec(zmo_time_t *t, int64_t ms)
{
    t->sec += ms / 1000;
    t->nsec += (ms % 1000) * kNsPerMs;
    normalise(t);
}

int64_t zmo_time_left_monotonic_msec(const zmo_time_t *t)
{
    zmo_time_t now;
    zmo_time_get_monotonic(&now);
    int64_t sec;
    if (__builtin_sub_overflow(t->sec, now.sec, &sec))
        return t->sec > now.sec ? INT64_MAX : INT64_MIN;
    int64_t ns = t->nsec - now.nsec;
    // Seconds and nanoseconds of one sign, so that whole milliseconds come from
    // the seconds: a far deadline must not overflow a nanosecond count.
    if (sec > 0 && ns < 0) {
        --sec;
        ns += kNsPerSec;
    } else if (sec < 0 && ns > 0) {
        ++sec;
        ns -= kNsPerSec;
    }
    // Round away from zero: a poll on "time left" never spins at 0 ms while
    // the deadline is still ahead, and a passed deadline is always negative.
    const int64_t part = ns > 0 ? (ns + kNsPerMs - 1) / kNsPerMs : -((-ns + kNsPerMs - 1) / kNsPerMs);
    if (sec > INT64_MAX / 1000 - 1)
        return INT64_MAX;
    if (sec < INT64_MIN / 1000 + 1)
        return INT64_MIN;
    return sec * 1000 + part;
}

int zmo_time_less(const zmo_time_t *a, const zmo_time_t *b) { return compare(a, b) < 0; }
int zmo_time_less_or_equal(const zmo_time_t *a, const zmo_time_t *b) { return compare(a, b) <= 0; }
int zmo_time_greater(const zmo_time_t *a, const zmo_time_t *b) { return compare(a, b) > 0; }
int zmo_time_greater_or_equal(const zmo_time_t *a, const zmo_time_t *b) { return compare(a, b) >= 0; }
int zmo_time_equal(const zmo_time_t *a, const zmo_time_t *b) { return compare(a, b) == 0; }

void zmo_time_sub(zmo_time_t *a, const zmo_time_t *b)
{
    a->sec -= b->sec;
    a->nsec -= b->nsec;
    normalise(a);
}

int64_t zmo_time_to_msec(const zmo_time_t *t) { return t->sec * 1000 + t->nsec / kNsPerMs; }

}  // extern "C"
