// NDR on the packet descriptor: exact bytes of the string flag sets in both
// byte orders, parsing them back, alignment, and the bounds of every form.
#include "cmrpc.h"
#include "cmstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Packer {
    explicit Packer(uint32_t size = 64, bool bigEndian = false) : buf(size, 0xEE)
    {
        cmRpcSetDescriptor(&d, buf.data(), bigEndian);
        d.length = size;
    }
    Bytes written() const { return Bytes(buf.begin(), buf.begin() + (d.current - d.origin)); }
    Bytes buf;
    CMRpcPacketDescriptor d;
};

const CMWchar kAb[] = {'a', 'b', 0};

// A little-endian descriptor over the whole of b.
CMRpcPacketDescriptor over(Bytes &b)
{
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, b.data(), 0);
    d.length = (uint32_t)b.size();
    return d;
}

TEST(Ndr, UnicodeFlagSets)
{
    struct {
        uint32_t flags;
        Bytes bytes;
    } cases[] = {
        {11, {3, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'a', 0, 'b', 0, 0, 0, 0, 0}},
        {10, {2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 'b', 0}},
        {26, {3, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 'b', 0}},
        {43, {3, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 'b', 0, 0, 0, 0, 0}},
        {1, {'a', 0, 'b', 0, 0, 0}},
        {0, {'a', 0, 'b', 0}},
    };
    for (auto &c : cases) {
        Packer p;
        EXPECT_EQ(cmRpcPackUnicode(&p.d, kAb, c.flags), 0);
        EXPECT_EQ(p.written(), c.bytes) << "flags " << c.flags;
    }
}

TEST(Ndr, UnicodeBigEndian)
{
    Packer p(64, true);
    cmRpcPackUnicode(&p.d, kAb, 11);
    Bytes expect = {0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 3, 0, 'a', 0, 'b', 0, 0, 0, 0};
    EXPECT_EQ(p.written(), expect);
}

TEST(Ndr, NullAndAsciiStrings)
{
    Packer p;
    cmRpcPackWcharAsUnicode(&p.d, nullptr, 11);
    EXPECT_EQ(p.written(), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));

    Packer a;
    EXPECT_EQ(cmRpcPackAsciiAsUnicode(&a.d, "ab", 10), 0);
    EXPECT_EQ(a.written(), (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 'b', 0}));

    struct {
        uint32_t flags;
        Bytes bytes;
    } cases[] = {
        {0x03, {3, 0, 0, 0, 'a', 'b', 0}},
        {0x0B, {3, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 0}},
        {0x04, {2, 0, 'a', 'b'}},
        {0x0C, {2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'a', 'b'}},
        {0x01, {'a', 'b', 0}},
    };
    for (auto &c : cases) {
        Packer q;
        cmRpcPackAscii(&q.d, "ab", c.flags);
        EXPECT_EQ(q.written(), c.bytes) << "flags " << c.flags;
    }
}

TEST(Ndr, ParseConformantVarying)
{
    Bytes wire = {2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 'b', 0};
    CMRpcPacketDescriptor d = over(wire);
    CMRpcUnicodeString s;
    cmRpcParseUnicode(&d, &s, 10);
    EXPECT_EQ(s.size, 2u);
    EXPECT_EQ(s.offset, 0u);
    EXPECT_EQ(s.length, 2u);
    EXPECT_EQ(reinterpret_cast<uint8_t *>(s.text), wire.data() + 12);
    EXPECT_EQ(d.current - d.origin, 16);
    EXPECT_FALSE(cmRpcIsOverrun(&d));

    // An odd count keeps 4-byte alignment: 3 units take 8 bytes.
    Bytes odd = {3, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'a', 0, 'b', 0, 'c', 0, 0, 0};
    d = over(odd);
    cmRpcParseUnicode(&d, &s, 10);
    EXPECT_EQ(d.current - d.origin, 20);
    EXPECT_FALSE(cmRpcIsOverrun(&d));

    // At the end of the message an odd string has no padding after it.
    Bytes last(odd.begin(), odd.end() - 2);
    d = over(last);
    cmRpcParseUnicode(&d, &s, 10);
    EXPECT_FALSE(cmRpcIsOverrun(&d));
    EXPECT_EQ(s.length, 3u);
    EXPECT_EQ(d.current - d.origin, 18);
}

TEST(Ndr, ParseRefusesCountsPastTheEnd)
{
    // Actual count 0x40000000: the text would run far past the packet.
    Bytes wire = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 'a', 0, 'b', 0};
    CMRpcPacketDescriptor d = over(wire);
    CMRpcUnicodeString s;
    cmRpcParseUnicode(&d, &s, 10);
    EXPECT_TRUE(cmRpcIsOverrun(&d));
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(cmRpcSpace(&d), 0);

    // An unterminated string without a count is not read past the end.
    Bytes raw = {'a', 'b', 'c'};
    CMRpcAsciiString a;
    d = over(raw);
    cmRpcParseAscii(&d, &a, 0);
    EXPECT_TRUE(cmRpcIsOverrun(&d));
    EXPECT_EQ(a.size, 0u);

    Bytes term = {'a', 'b', 0, 'z'};
    d = over(term);
    cmRpcParseAscii(&d, &a, 0);
    EXPECT_FALSE(cmRpcIsOverrun(&d));
    EXPECT_EQ(a.size, 2u);
    EXPECT_EQ(d.current - d.origin, 2) << "the terminator is not skipped";
}

TEST(Ndr, ParseAsciiForms)
{
    Bytes wire = {3, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'x', 'y', 0};
    CMRpcPacketDescriptor d = over(wire);
    CMRpcAsciiString a;
    cmRpcParseAscii(&d, &a, 0x0A);
    EXPECT_EQ(a.size, 3u);
    EXPECT_EQ(a.length, 3u);
    EXPECT_STREQ(a.text, "xy");
    EXPECT_EQ(cmRpcSpace(&d), 0);
}

// A cursor over nothing, as an empty parameter block gives, has no buffer to
// search for a terminator.
TEST(Ndr, ZeroTerminatedTextOnAnEmptyCursorIsAnOverrun)
{
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, nullptr, 0);
    CMRpcAsciiString a;
    cmRpcParseAscii(&d, &a, 0);
    EXPECT_TRUE(cmRpcIsOverrun(&d));
    EXPECT_EQ(a.length, 0u);
}

// An actual count above the maximum count would hand out more characters
// than were checked to be there.
TEST(Ndr, ParseAsciiActualCountBeyondSizeIsRefused)
{
    const struct {
        uint8_t size, length;
        bool refused;
    } cases[] = {{2, 2, false}, {2, 1, false}, {2, 3, true}, {2, 200, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.size) << "/" << int(c.length));
        Bytes wire = {c.size, 0, 0, 0, 0, 0, 0, 0, c.length, 0, 0, 0, 'x', 'y', 0, 0};
        CMRpcPacketDescriptor d = over(wire);
        CMRpcAsciiString a;
        cmRpcParseAscii(&d, &a, 0x0A);
        EXPECT_EQ(cmRpcIsOverrun(&d) != 0, c.refused);
        if (c.refused)
            EXPECT_EQ(a.length, 0u);
        else
            EXPECT_EQ(a.length, c.length);
    }
}

TEST(Ndr, IntegersInBothOrders)
{
    Packer le, be(64, true);
    cmRpcPackUint32(&le.d, 258);
    cmRpcPackUint32(&be.d, 258);
    EXPECT_EQ(le.written(), (Bytes{2, 1, 0, 0}));
    EXPECT_EQ(be.written(), (Bytes{0, 0, 1, 2}));
    Packer le64, be64(64, true);
    cmRpcPackUint64(&le64.d, 1, 2);
    cmRpcPackUint64(&be64.d, 1, 2);
    EXPECT_EQ(le64.written(), (Bytes{1, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(be64.written(), (Bytes{0, 0, 0, 2, 0, 0, 0, 1}));

    CMRpcPacketDescriptor r;
    cmRpcCloneDescriptor(&be64.d, &r);
    cmRpcResetDescriptor(&r);
    uint32_t lo, hi;
    cmRpcParseUint64(&r, &lo, &hi);
    EXPECT_EQ(lo, 1u);
    EXPECT_EQ(hi, 2u);

    Packer mix;
    cmRpcPackByte(&mix.d, 0xAB);
    cmRpcPackUint16(&mix.d, 0x1234);
    cmRpcPackZeroes(&mix.d, 2);
    cmRpcPackSkip(&mix.d, 1);
    cmRpcPackBytes(&mix.d, "\x01\x02", 2);
    EXPECT_EQ(mix.written(), (Bytes{0xAB, 0x34, 0x12, 0, 0, 0xEE, 1, 2}));
    cmRpcResetDescriptor(&mix.d);
    uint8_t b;
    uint16_t h;
    uint8_t two[2];
    cmRpcParseByte(&mix.d, &b);
    cmRpcParseUint16(&mix.d, &h);
    cmRpcParseSkip(&mix.d, 3);
    cmRpcParseBytes(&mix.d, two, 2);
    EXPECT_EQ(b, 0xAB);
    EXPECT_EQ(h, 0x1234);
    EXPECT_EQ(two[1], 2);
}

TEST(Ndr, Alignment)
{
    Packer p;
    cmRpcPackSkip(&p.d, 5);
    cmRpcAllign(&p.d, 4);
    EXPECT_EQ(p.d.current - p.d.origin, 8);
    cmRpcAllign(&p.d, 4);
    EXPECT_EQ(p.d.current - p.d.origin, 8);
    cmRpcPackByte(&p.d, 1);
    cmRpcAllignZero(&p.d, 8);
    EXPECT_EQ(p.written(), (Bytes{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 1, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Ndr, WritesPastTheEndAreDropped)
{
    Packer p(6);
    cmRpcPackUint32(&p.d, 1);
    EXPECT_EQ(cmRpcSpace(&p.d), 2);
    cmRpcPackUint32(&p.d, 0xFFFFFFFF);
    EXPECT_TRUE(cmRpcIsOverrun(&p.d));
    EXPECT_EQ(p.buf[4], 0xEE) << "nothing of the field that did not fit";
    cmRpcPackByte(&p.d, 7);
    EXPECT_EQ(cmRpcSpace(&p.d), 0);
    EXPECT_TRUE(cmRpcIsOverrun(&p.d)) << "sticky";

    Packer none(0);
    cmRpcPackUnicode(&none.d, kAb, 11);
    EXPECT_TRUE(cmRpcIsOverrun(&none.d));

    CMRpcPacketDescriptor fresh;
    uint8_t x[4];
    cmRpcSetDescriptor(&fresh, x, 0);
    cmRpcPackByte(&fresh, 1);
    EXPECT_TRUE(cmRpcIsOverrun(&fresh)) << "no room until the length is set";
}

TEST(Ndr, ReadsPastTheEndGiveZeros)
{
    uint8_t two[2] = {0x11, 0x22};
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, two, 0);
    d.length = 2;
    uint32_t v = 0xDEAD;
    cmRpcParseUint32(&d, &v);
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(cmRpcIsOverrun(&d));
    uint8_t uuid[16];
    std::memset(uuid, 0xFF, 16);
    cmRpcParseUuid(&d, uuid);
    for (uint8_t b : uuid)
        EXPECT_EQ(b, 0);
}

TEST(Ndr, UuidAndTime)
{
    const uint8_t uuid[16] = {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0xcd, 0xab, 1, 2, 3, 4, 5, 6, 7, 8};
    Packer be(64, true);
    cmRpcPackUuid(&be.d, uuid);
    EXPECT_EQ(be.written(), (Bytes{0x12, 0x34, 0x56, 0x78, 0x12, 0x34, 0xab, 0xcd, 1, 2, 3, 4, 5, 6, 7, 8}));
    Packer t;
    cmRpcPackTimeAsUTC(&t.d, 1, 0);
    uint64_t ft = 116444736000010000ull;
    Bytes expect(8);
    for (int i = 0; i < 8; ++i)
        expect[i] = (uint8_t)(ft >> (8 * i));
    EXPECT_EQ(t.written(), expect);
    EXPECT_EQ(cmRpcTcharAsUnicodeLength(kAb), 2);
}

}  // namespace
