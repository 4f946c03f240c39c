/* Wall-clock time of the system layer. */
#ifndef SYCLOCK_H
#define SYCLOCK_H

#include "cmtypes.h"

#include <time.h>

/* Broken-down local time. */
typedef struct SYTimeFragments {
    uint16_t seconds;
    uint16_t minutes;
    uint16_t hour;
    uint16_t day;   /* 1-31 */
    uint16_t month; /* 0-11 */
    uint16_t year;  /* since 1900 */
} SYTimeFragments;

/* Milliseconds since 1970 into out; returns out. */
VX_API CMUint64 *syGetTimeInMsec(CMUint64 *out);
VX_API time_t syComposeTime(const SYTimeFragments *fragments);
VX_API void syDecomposeTime(time_t t, SYTimeFragments *fragments);
/* UTC minus local time in minutes, for now (a zone east of UTC is negative). */
VX_API int32_t syGetTimeZone(void);

#endif
