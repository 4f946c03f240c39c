// FILETIME (100 ns since 1601) and SMB date/time words against the stack's
// millisecond time (since 1970).
#include "cmtime.h"
#include "syclock.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace {

constexpr uint64_t kEpochDelta = 116444736000000000ull;  // 1601 to 1970 in 100 ns units
constexpr uint32_t kSmbEpoch = 315619200;                // 1980-01-02 00:00 UTC
// 2107-12-30 00:00 UTC: the seven year bits end with 2107 in any time zone.
constexpr uint64_t kSmbLast = 4354646400ull;

}  // namespace

extern "C" {

void cmCifsTimeToUTC(uint32_t msLow, uint32_t msHigh, uint32_t *fileTimeLow, uint32_t *fileTimeHigh)
{
    uint64_t ms = (uint64_t)msHigh << 32 | msLow;
    uint64_t ft = ms == 0 ? 0 : ms * 10000 + kEpochDelta;  // a negative count wraps like the word pair does
    *fileTimeLow = (uint32_t)ft;
    *fileTimeHigh = (uint32_t)(ft >> 32);
}

CMUint64 *cmCifsUTCToTime(CMUint64 *result, uint32_t fileTimeLow, uint32_t fileTimeHigh)
{
    uint64_t ft = (uint64_t)fileTimeHigh << 32 | fileTimeLow;
    // Floor division: a FILETIME 1 unit before 1970 is -1 ms, not 0.
    int64_t ms;
    if (ft >= kEpochDelta) {
        ms = (int64_t)((ft - kEpochDelta) / 10000);
    } else {
        uint64_t before = kEpochDelta - ft;
        ms = -(int64_t)((before + 9999) / 10000);
    }
    result->low = (uint32_t)(uint64_t)ms;
    result->high = (uint32_t)((uint64_t)ms >> 32);
    return result;
}

void cmGetCurrentTime(CMUint64 *fileTime)
{
    CMUint64 now;
    syGetTimeInMsec(&now);
    cmCifsTimeToUTC(now.low, now.high, &fileTime->low, &fileTime->high);
}

void cmTimeConvertSecToMSec(CMUint64 *result, uint32_t seconds) { cmU64MultU32U32(result, seconds, 1000); }

uint32_t cmTimeConvertMSecToSec(const CMUint64 *ms)
{
    return (uint32_t)(((uint64_t)ms->high << 32 | ms->low) / 1000);
}

void cmCifsTimeToSmbTime(uint32_t msLow, uint32_t msHigh, uint16_t *time, uint16_t *date)
{
    uint64_t seconds = ((uint64_t)msHigh << 32 | msLow) / 1000;
    if (seconds < kSmbEpoch)
        seconds = kSmbEpoch;
    // A file's time may lie anywhere: past the words' last year it is that
    // year, and never past what this system's time_t holds (2038 where it
    // has 32 bits).
    constexpr uint64_t kLatest = std::min<uint64_t>(kSmbLast, uint64_t(std::numeric_limits<time_t>::max()));
    if (seconds > kLatest)
        seconds = kLatest;
    SYTimeFragments f;
    syDecomposeTime((time_t)seconds, &f);
    *time = (uint16_t)(f.hour << 11 | f.minutes << 5 | (f.seconds + 1) >> 1);
    *date = (uint16_t)((f.year + 1900 - 1980) << 9 | (f.month + 1) << 5 | f.day);
}

uint32_t cmCifsSmbTimeToTime(uint16_t time, uint16_t date)
{
    SYTimeFragments f;
    f.seconds = (uint16_t)((time & 31) * 2);
    f.minutes = (uint16_t)((time >> 5) & 63);
    f.hour = (uint16_t)(time >> 11);
    f.day = (uint16_t)(date & 31);
    f.month = (uint16_t)(((date >> 5) & 15) - 1);
    f.year = (uint16_t)(1980 + (date >> 9) - 1900);
    return (uint32_t)syComposeTime(&f);
}

void cmTimeRead(CMBufferReader *reader, CMUint64 *fileTime)
{
    cmBufferReadUint32(reader, &fileTime->low);
    cmBufferReadUint32(reader, &fileTime->high);
}

void cmTimeWrite(CMBufferWriter *writer, const CMUint64 *fileTime)
{
    cmBufferWriteUint32(writer, fileTime->low);
    cmBufferWriteUint32(writer, fileTime->high);
}

}  // extern "C"
