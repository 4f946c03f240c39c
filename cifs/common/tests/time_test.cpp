// 64-bit words, FILETIME with floor division before 1970, SMB date and time
// words in local time, and UUID field order.
#include "cmtime.h"

#include "time_zone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

CMUint64 u(uint64_t v) { return CMUint64{(uint32_t)v, (uint32_t)(v >> 32)}; }
uint64_t v(const CMUint64 &x) { return (uint64_t)x.high << 32 | x.low; }

TEST(U64, Arithmetic)
{
    CMUint64 x = u(0xFFFFFFFF);
    cmU64Inc(&x);
    EXPECT_EQ(v(x), 0x100000000ull);
    cmU64AddU32(&x, 5);
    EXPECT_EQ(v(x), 0x100000005ull);
    CMUint64 y = u(3);
    cmU64AddU64(&x, &y);
    EXPECT_EQ(v(x), 0x100000008ull);

    CMUint64 r, a = u(1ull << 32), b = u(1);
    cmU64SubU64U64(&r, &a, &b);
    EXPECT_EQ(r.high, 0u);
    EXPECT_EQ(r.low, 0xFFFFFFFFu);
    cmU64SubU64U64(&r, &b, &a);
    EXPECT_EQ(v(r), (uint64_t)(1 - (1ull << 32)));

    CMInt64 minus{10, 0, 0xFFFFFFFF}, plus{10, 0, 0};
    CMUint64 z = u(5);
    cmU64AddS64(&z, &plus);
    EXPECT_EQ(v(z), 15u);
    cmU64AddS64(&z, &minus);
    cmU64AddS64(&z, &minus);
    EXPECT_EQ(v(z), (uint64_t)-5);

    EXPECT_EQ(cmU64Cmp(&a, &b), 1);
    EXPECT_EQ(cmU64Cmp(&b, &a), -1);
    EXPECT_EQ(cmU64Cmp(&a, &a), 0);
    CMUint64 small = u(7), big = u(1ull << 40);
    cmU64Min(&r, &big, &small);
    EXPECT_EQ(v(r), 7u);

    cmU64MultU32U32(&r, 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(v(r), 0xFFFFFFFE00000001ull);
    CMUint64 max = u(~0ull), lo, hi;
    cmU128MultU64U64(&lo, &hi, &max, &max);
    EXPECT_EQ(v(hi), ~0ull - 1);
    EXPECT_EQ(v(lo), 1u);
    CMUint64 m1 = u(0x123456789ull), m2 = u(0xABCDEF012ull);
    cmU128MultU64U64(&lo, &hi, &m1, &m2);
    // 0x123456789 * 0xABCDEF012 = 0xC_379AAAB7F0BFB7A2 (no 128-bit integer on a 32-bit board)
    EXPECT_EQ(v(lo), 0x379AAAB7F0BFB7A2ull);
    EXPECT_EQ(v(hi), 0xCu);

    EXPECT_EQ(cmU64toU32(5, 1), 0xFFFFFFFFu);
    EXPECT_EQ(cmU64toU32(5, 0), 5u);
    EXPECT_EQ(cmVX_UINT64toU32(5, 2), 0xFFFFFFFFu);
}

TEST(FileTime, FromMilliseconds)
{
    struct {
        uint64_t ms, ft;
    } cases[] = {
        {0, 0},
        {1, 116444736000010000ull},
        {1000, 116444736010000000ull},
        {(uint64_t)-1, 116444735999990000ull},  // one millisecond before 1970
    };
    for (auto &c : cases) {
        uint32_t lo, hi;
        cmCifsTimeToUTC((uint32_t)c.ms, (uint32_t)(c.ms >> 32), &lo, &hi);
        EXPECT_EQ((uint64_t)hi << 32 | lo, c.ft) << c.ms;
    }
}

TEST(FileTime, ToMillisecondsRoundsDown)
{
    struct {
        uint64_t ft;
        int64_t ms;
    } cases[] = {
        {116444736000000000ull, 0},  {116444736000010000ull, 1},  {116444736000019999ull, 1},
        {116444735999990000ull, -1}, {116444735999999999ull, -1},  // 100 ns before 1970 is still the
                                                                   // millisecond before
        {0, -11644473600000},
    };
    for (auto &c : cases) {
        CMUint64 r;
        EXPECT_EQ(cmCifsUTCToTime(&r, (uint32_t)c.ft, (uint32_t)(c.ft >> 32)), &r);
        EXPECT_EQ((int64_t)v(r), c.ms) << c.ft;
    }
}

TEST(FileTime, SecondsAndNow)
{
    CMUint64 ms;
    cmTimeConvertSecToMSec(&ms, 4000000);
    EXPECT_EQ(v(ms), 4000000000ull);
    CMUint64 odd = u(4000000999ull);
    EXPECT_EQ(cmTimeConvertMSecToSec(&odd), 4000000u);

    CMUint64 ft;
    cmGetCurrentTime(&ft);
    uint64_t expect = (uint64_t)time(nullptr) * 10000000 + 116444736000000000ull;
    EXPECT_NEAR((double)v(ft), (double)expect, 2e7);
}

TEST(SmbTime, WordsInUtc)
{
    TimeZone z("UTC0");
    // 2023-06-15 13:45:59 UTC
    uint64_t ms = 1686836759000ull;
    uint16_t t, d;
    cmCifsTimeToSmbTime((uint32_t)ms, (uint32_t)(ms >> 32), &t, &d);
    EXPECT_EQ(t, 13 << 11 | 45 << 5 | 30) << "seconds round up to the 2-second unit";
    EXPECT_EQ(d, (2023 - 1980) << 9 | 6 << 5 | 15);
    EXPECT_EQ(cmCifsSmbTimeToTime(t, d), 1686836760u);

    cmCifsTimeToSmbTime(0, 0, &t, &d);
    EXPECT_EQ(d, 0 << 9 | 1 << 5 | 2) << "never before 2 January 1980";
    EXPECT_EQ(t, 0);

    // Times past the words' last year, as a file system may hold them: the
    // last December, or January 2038 where time_t has 32 bits.
    const int last = sizeof(time_t) > 4 ? (127 << 4 | 12) : ((2038 - 1980) << 4 | 1);
    for (uint64_t far : {4354819200000ull, 1ull << 50, ~0ull}) {
        cmCifsTimeToSmbTime((uint32_t)far, (uint32_t)(far >> 32), &t, &d);
        EXPECT_EQ(d >> 5, last) << far;
    }
}

TEST(SmbTime, WordsAreLocalTime)
{
    TimeZone z("EST5");
    uint16_t t, d;
    cmCifsTimeToSmbTime(0, 0, &t, &d);
    EXPECT_EQ(d, 0 << 9 | 1 << 5 | 1) << "1 January west of UTC";
    EXPECT_EQ(t, 19 << 11);
    EXPECT_EQ(cmCifsSmbTimeToTime(t, d), 315619200u);
}

TEST(Uuid, FieldOrderBothWays)
{
    const uint8_t uuid[16] = {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0xcd, 0xab,
                              0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    uint8_t buf[16];
    CMBufferWriter w;
    cmBufferWriterInit(&w, buf, sizeof buf);
    cmBufferWriterSetByteOrder(&w, 0);
    cmUuidWrite(&w, uuid);
    const uint8_t be[16] = {0x12, 0x34, 0x56, 0x78, 0x12, 0x34, 0xab, 0xcd,
                            0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    EXPECT_EQ(std::memcmp(buf, be, 16), 0);
    CMBufferReader r;
    cmBufferReaderInit(&r, buf, sizeof buf);
    cmBufferReaderSetByteOrder(&r, 0);
    uint8_t back[16];
    cmUuidRead(&r, back);
    EXPECT_EQ(std::memcmp(back, uuid, 16), 0);

    cmBufferWriterInit(&w, buf, sizeof buf);
    cmUuidWrite(&w, uuid);
    EXPECT_EQ(std::memcmp(buf, uuid, 16), 0) << "little-endian keeps the memory form";

    uint8_t g1[16], g2[16], zero[16] = {};
    cmGenerateUuid(g1);
    cmGenerateUuid(g2);
    EXPECT_NE(std::memcmp(g1, g2, 16), 0);
    cmZeroUuid(g1);
    EXPECT_EQ(std::memcmp(g1, zero, 16), 0);
}

TEST(Time, ReadWriteFileTimeWords)
{
    uint8_t buf[8];
    CMBufferWriter w;
    cmBufferWriterInit(&w, buf, sizeof buf);
    CMUint64 ft = u(0x0102030405060708ull);
    cmTimeWrite(&w, &ft);
    const uint8_t le[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(buf, le, 8), 0);
    CMBufferReader r;
    cmBufferReaderInit(&r, buf, sizeof buf);
    CMUint64 back;
    cmTimeRead(&r, &back);
    EXPECT_EQ(v(back), v(ft));
}

}  // namespace
