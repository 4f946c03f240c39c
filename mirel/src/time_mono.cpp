// Raw monotonic clock.
#include <ctime>

#include "mirel_util.h"

namespace {

bool now(struct timespec *ts) { return clock_gettime(CLOCK_MONOTONIC_RAW, ts) == 0; }

}  // namespace

extern "C" {

uint64_t TimeMono_Us(void)
{
    struct timespec ts;
    if (!now(&ts))
        return 0;
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

uint64_t TimeMono_Ms(void)
{
    struct timespec ts;
    if (!now(&ts))
        return 0;
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t TimeMono_Sec(void)
{
    struct timespec ts;
    if (!now(&ts))
        return 0;
    return static_cast<uint32_t>(ts.tv_sec);
}

}  // extern "C"
