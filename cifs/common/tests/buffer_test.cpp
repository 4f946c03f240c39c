// Readers and writers: positions, origins, sub-writers, alignment, string
// forms, and the sticky overrun flag that bounds every operation.
#include "cmbuffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Out {
    explicit Out(uint32_t size = 32) : buf(size, 0xEE) { cmBufferWriterInit(&w, buf.data(), size); }
    Bytes written() const { return Bytes(buf.begin(), buf.begin() + cmBufferWriterGetDataCount(&w)); }
    Bytes buf;
    CMBufferWriter w;
};

TEST(Buffer, InitialState)
{
    uint8_t b[10] = {};
    CMBufferReader r;
    cmBufferReaderInit(&r, b, sizeof b);
    EXPECT_EQ(cmBufferReaderGetStart(&r), b);
    EXPECT_EQ(cmBufferReaderGetPosition(&r), b);
    EXPECT_EQ(cmBufferReaderGetRemaining(&r), 10u);
    EXPECT_EQ(r.nbo, 0u);
    EXPECT_EQ(r.token, nullptr);
    EXPECT_FALSE(cmBufferReaderIsOverrun(&r));
}

TEST(Buffer, AlignWritesZerosFromTheGivenStart)
{
    struct {
        uint32_t before, align, added;
    } cases[] = {{3, 8, 5}, {8, 8, 0}, {1, 2, 1}, {0, 4, 0}, {5, 4, 3}};
    for (auto &c : cases) {
        Out o;
        cmBufferWriterSkip(&o.w, c.before);
        EXPECT_EQ(cmBufferWriterAlign(&o.w, o.buf.data(), c.align), c.added);
        EXPECT_EQ(cmBufferWriterGetDataCount(&o.w), c.before + c.added);
        for (uint32_t i = c.before; i < c.before + c.added; ++i)
            EXPECT_EQ(o.buf[i], 0);
    }
    // Relative to a start that is not the origin.
    Out o;
    cmBufferWriterSkip(&o.w, 6);
    EXPECT_EQ(cmBufferWriterAlign(&o.w, o.buf.data() + 4, 4), 2u);
    CMBufferReader r;
    cmBufferReaderInit(&r, o.buf.data(), 32);
    cmBufferReaderSkip(&r, 5);
    cmBufferReaderAlign(&r, o.buf.data() + 1, 8);
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 9u);
}

TEST(Buffer, StartMakesANewOrigin)
{
    Out o;
    cmBufferWriteUint32(&o.w, 1);
    uint32_t before = cmBufferWriterGetRemaining(&o.w);
    EXPECT_EQ(cmBufferWriterStart(&o.w), 28u);
    EXPECT_EQ(cmBufferWriterGetDataCount(&o.w), 0u);
    EXPECT_EQ(cmBufferWriterGetRemaining(&o.w), before);
    cmBufferWriteByte(&o.w, 9);
    cmBufferWriterReset(&o.w);
    EXPECT_EQ(cmBufferWriterGetPosition(&o.w), o.buf.data() + 4);
}

TEST(Buffer, CloneAndSkipFillsAFieldLater)
{
    Out o;
    CMBufferWriter length;
    cmBufferWriterCloneAndSkip(&o.w, &length, 4);
    EXPECT_EQ(cmBufferWriterGetPosition(&length), o.buf.data());
    EXPECT_EQ(cmBufferWriterGetDataCount(&o.w), 4u);
    cmBufferWriteUint16(&o.w, 0xBEEF);
    cmBufferWriteUint32(&length, 2);
    EXPECT_EQ(o.written(), (Bytes{2, 0, 0, 0, 0xEF, 0xBE}));

    CMBufferWriter back;
    cmBufferWriterClone(&o.w, &back, -6);
    EXPECT_EQ(cmBufferWriterGetPosition(&back), o.buf.data());
    cmBufferWriterClone(&o.w, &back, -7);
    EXPECT_TRUE(cmBufferWriterIsOverrun(&back)) << "before the origin";
    EXPECT_FALSE(cmBufferWriterIsOverrun(&o.w));
}

TEST(Buffer, BranchStaysInsideTheWriter)
{
    Out o(16);
    cmBufferWriteUint32(&o.w, 0);
    CMBufferWriter sub;
    cmBufferWriterBranch(&o.w, &sub, 4);
    EXPECT_EQ(cmBufferWriterGetPosition(&sub), o.buf.data() + 8);
    EXPECT_EQ(cmBufferWriterGetRemaining(&sub), 8u) << "the offset is not room past the end";
    EXPECT_EQ(cmBufferWriterGetDataCount(&o.w), 4u) << "the writer does not move";
    uint8_t fill[12] = {};
    cmBufferWriteBytes(&sub, fill, sizeof fill);
    EXPECT_TRUE(cmBufferWriterIsOverrun(&sub));
    cmBufferWriterSync(&o.w, &sub);
    EXPECT_TRUE(cmBufferWriterIsOverrun(&o.w)) << "sync carries the overrun";

    Out p(8);
    CMBufferWriter far;
    cmBufferWriterBranch(&p.w, &far, 100);
    EXPECT_TRUE(cmBufferWriterIsOverrun(&far));
    EXPECT_EQ(cmBufferWriterGetRemaining(&far), 0u);
}

TEST(Buffer, IntegersAndByteOrder)
{
    Out o;
    cmBufferWriteByte(&o.w, 1);
    cmBufferWriteUint16(&o.w, 0x0203);
    cmBufferWriteUint32(&o.w, 0x04050607);
    CMUint64 v{0x0C0D0E0F, 0x08090A0B};
    cmBufferWriteUint64(&o.w, &v);
    cmBufferWriterSetByteOrder(&o.w, 0);
    cmBufferWriteUint16(&o.w, 0x0203);
    cmBufferWriteUint64(&o.w, &v);
    EXPECT_EQ(o.written(), (Bytes{1, 3, 2, 7, 6, 5, 4,   0xF, 0xE, 0xD, 0xC, 0xB, 0xA,
                                  9, 8, 2, 3, 8, 9, 0xA, 0xB, 0xC, 0xD, 0xE, 0xF}));

    CMBufferReader r;
    cmBufferReaderInit(&r, o.buf.data(), cmBufferWriterGetDataCount(&o.w));
    uint8_t b;
    uint16_t h;
    uint32_t x;
    CMUint64 q;
    cmBufferReadByte(&r, &b);
    cmBufferReadUint16(&r, &h);
    cmBufferReadUint32(&r, &x);
    cmBufferReadUint64(&r, &q);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(h, 0x0203);
    EXPECT_EQ(x, 0x04050607u);
    EXPECT_EQ(q.low, v.low);
    EXPECT_EQ(q.high, v.high);
    cmBufferReaderSetByteOrder(&r, 0);
    cmBufferReadUint16(&r, &h);
    cmBufferReadUint64(&r, &q);
    EXPECT_EQ(h, 0x0203);
    EXPECT_EQ(q.low, v.low) << "big-endian reads mirror the writes";
    EXPECT_EQ(q.high, v.high);
    EXPECT_EQ(cmBufferReaderGetRemaining(&r), 0u);
    EXPECT_FALSE(cmBufferReaderIsOverrun(&r));
}

TEST(Buffer, StringForms)
{
    const CMWchar ab[] = {'A', 'B', 0};
    struct {
        int asAscii;
        bool unicode;
        uint32_t flags;
        Bytes bytes;
    } cases[] = {
        {0, false, 1, {'A', 0, 'B', 0, 0, 0}},
        {0, false, 0, {'A', 0, 'B', 0}},
        {1, false, 1, {'A', 'B', 0}},
        {0, true, 1, {'A', 0, 'B', 0, 0, 0}},
        {0, true, 0, {'A', 0, 'B', 0}},
        {1, true, 1, {'A', 'B', 0}},
        {1, true, 0, {'A', 'B'}},
    };
    for (auto &c : cases) {
        Out o;
        cmBufferWriteString(&o.w, c.asAscii, c.unicode ? (const void *)ab : (const void *)"AB", c.unicode,
                            c.flags);
        EXPECT_EQ(o.written(), c.bytes) << c.asAscii << c.unicode << c.flags;
    }
    Out u;
    cmBufferWriteUnicode(&u.w, ab);
    cmBufferWriteUnicodeNoNull(&u.w, ab);
    cmBufferWriteAsciiAsUnicodeN(&u.w, "xyz", 2, 0);
    EXPECT_EQ(u.written(), (Bytes{'A', 0, 'B', 0, 0, 0, 'A', 0, 'B', 0, 'x', 0, 'y', 0}));
}

TEST(Buffer, FillersAndUuid)
{
    Out o;
    cmBufferWriteZeroes(&o.w, 3);
    cmBufferWriteRandomBytes(&o.w, 4);
    EXPECT_EQ(cmBufferWriterGetDataCount(&o.w), 7u);
    EXPECT_EQ(o.buf[0] | o.buf[1] | o.buf[2], 0);
    const uint8_t uuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    cmBufferWriteUuid(&o.w, uuid);
    EXPECT_EQ(std::memcmp(o.buf.data() + 7, uuid, 16), 0);
}

TEST(Buffer, RandomBytesDoNotFollowTheCLibrarySeed)
{
    // Two writers after the same srand() must still get different bytes.
    Out a, b;
    std::srand(1);
    cmBufferWriteRandomBytes(&a.w, 16);
    std::srand(1);
    cmBufferWriteRandomBytes(&b.w, 16);
    EXPECT_EQ(cmBufferWriterGetDataCount(&a.w), 16u);
    EXPECT_NE(a.written(), b.written());
}

TEST(Buffer, ReadsPastTheEndGiveZerosAndStick)
{
    const uint8_t three[3] = {1, 2, 3};
    CMBufferReader r;
    cmBufferReaderInit(&r, three, 3);
    uint16_t h;
    cmBufferReadUint16(&r, &h);
    uint32_t x = 0xFFFF;
    cmBufferReadUint32(&r, &x);
    EXPECT_EQ(x, 0u);
    EXPECT_TRUE(cmBufferReaderIsOverrun(&r));
    EXPECT_EQ(cmBufferReaderGetRemaining(&r), 0u);
    uint8_t b = 0xFF;
    cmBufferReadByte(&r, &b);
    EXPECT_EQ(b, 0);
    uint8_t dst[4] = {9, 9, 9, 9};
    cmBufferReadBytes(&r, dst, 4);
    EXPECT_EQ(dst[3], 0);
    cmBufferReaderReset(&r);
    EXPECT_TRUE(cmBufferReaderIsOverrun(&r)) << "only a new init clears it";
}

TEST(Buffer, PositionsOutsideTheBufferAreRefused)
{
    uint8_t b[8] = {};
    CMBufferReader r;
    cmBufferReaderInit(&r, b, 8);
    cmBufferReaderSetPosition(&r, b + 8);
    EXPECT_FALSE(cmBufferReaderIsOverrun(&r)) << "the end itself is a position";
    cmBufferReaderSetPosition(&r, b + 9);
    EXPECT_TRUE(cmBufferReaderIsOverrun(&r));
    EXPECT_EQ(cmBufferReaderGetPosition(&r), b + 8);

    cmBufferReaderInit(&r, b, 8);
    cmBufferReaderSetOffset(&r, 3);
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 3u);
    cmBufferReaderSetOffset(&r, 9);
    EXPECT_TRUE(cmBufferReaderIsOverrun(&r));

    cmBufferReaderInit(&r, b, 8);
    cmBufferReaderSkip(&r, 0xFFFFFFFF);
    EXPECT_TRUE(cmBufferReaderIsOverrun(&r));
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 8u);

    CMBufferWriter w;
    cmBufferWriterInit(&w, b, 8);
    cmBufferWriterSetPosition(&w, b - 1);
    EXPECT_TRUE(cmBufferWriterIsOverrun(&w));
}

TEST(Buffer, WritesPastTheEndAreDropped)
{
    Out o(5);
    const CMWchar abc[] = {'a', 'b', 'c', 0};
    cmBufferWriteUnicode(&o.w, abc);
    EXPECT_TRUE(cmBufferWriterIsOverrun(&o.w));
    EXPECT_EQ(o.buf, Bytes(5, 0xEE)) << "a field that does not fit is not begun";
    Out a(4);
    cmBufferWriterSkip(&a.w, 3);
    EXPECT_EQ(cmBufferWriterAlign(&a.w, a.buf.data(), 8), 0u);
    EXPECT_TRUE(cmBufferWriterIsOverrun(&a.w));
}

}  // namespace
