// DER tags and lengths, object identifiers and the negTokenResp wrapper.
#include "cmasn1.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes packTag(uint8_t tag, uint32_t length)
{
    Bytes buf(16);
    CMBufferWriter w;
    cmBufferWriterInit(&w, buf.data(), 16);
    cmAsn1PackTag(&w, tag, length);
    buf.resize(cmBufferWriterGetDataCount(&w));
    return buf;
}

TEST(Asn1, TagsAndLengths)
{
    struct {
        uint32_t length;
        Bytes bytes;
        uint32_t lenSize;
    } cases[] = {
        {0, {4, 0}, 1},
        {127, {4, 0x7F}, 1},
        {128, {4, 0x81, 0x80}, 2},
        {200, {4, 0x81, 0xC8}, 2},
        {300, {4, 0x82, 0x01, 0x2C}, 3},
        {0x10000, {4, 0x83, 1, 0, 0}, 4},
        {0xFFFFFFFF, {4, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}, 5},
    };
    for (auto &c : cases) {
        EXPECT_EQ(packTag(4, c.length), c.bytes) << c.length;
        EXPECT_EQ(cmAsn1PackLen(c.length), c.lenSize);
    }
    EXPECT_EQ(cmAsn1GetElementLength(200), 1u + 2 + 200);
}

struct Parsed {
    uint8_t tag;
    uint32_t length;
    bool overrun;
};

Parsed parse(const Bytes &b)
{
    CMBufferReader r;
    cmBufferReaderInit(&r, b.data(), (uint32_t)b.size());
    Parsed p;
    p.tag = cmAsn1ParseTag(&r, &p.length);
    p.overrun = cmBufferReaderIsOverrun(&r);
    return p;
}

TEST(Asn1, ParseTag)
{
    Bytes body(256, 0);
    Bytes longForm = {0x30, 0x82, 0x01, 0x00};
    longForm.insert(longForm.end(), body.begin(), body.end());
    Parsed p = parse(longForm);
    EXPECT_EQ(p.tag, 0x30);
    EXPECT_EQ(p.length, 256u);
    EXPECT_FALSE(p.overrun);

    p = parse({0xA0, 0x80});
    EXPECT_EQ(p.tag, 0xA0);
    EXPECT_EQ(p.length, 0u) << "no length bytes gives 0";

    p = parse({0x04, 0x02, 'x', 'y'});
    EXPECT_EQ(p.tag, 4);
    EXPECT_EQ(p.length, 2u);
}

TEST(Asn1, ParseTagRefusesWhatIsNotThere)
{
    const Bytes refused[] = {
        {0x30, 0x82, 0x01, 0x00},              // 256 bytes claimed, none there
        {0x30, 0x85, 0, 0, 0, 0, 1, 0},        // five length bytes
        {0x30, 0x88, 0, 0, 0, 0, 0, 0, 0, 1},  // eight
        {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF},  // 4 GiB
        {0x30, 0x82, 0x01},                    // length bytes cut off
        {0x30, 0x03, 1, 2},                    // short form past the end
        {0x30},                                // no length at all
        {},
    };
    for (auto &b : refused) {
        Parsed p = parse(b);
        EXPECT_EQ(p.tag, 0) << b.size();
        EXPECT_EQ(p.length, 0u);
        EXPECT_TRUE(p.overrun);
    }
}

TEST(Asn1, OidPackAndCompare)
{
    Bytes buf(32);
    CMBufferWriter w;
    cmBufferWriterInit(&w, buf.data(), 32);
    cmAsn1PackOid(&w, &cmGssApiOidSpnego);
    cmAsn1PackOid(&w, nullptr);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + cmBufferWriterGetDataCount(&w)),
              (Bytes{0x06, 0x06, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x02}));
    EXPECT_EQ(cmGssApiOidNtlmSsp.size, 10u);
    EXPECT_EQ(cmGssApiOidKerberos.size, 9u);
    EXPECT_EQ(cmGssApiOidMsKerberos.size, 9u);
    EXPECT_EQ(cmGssApiOidKerberosUserToUser.size, 10u);

    // Two elements: NTLMSSP then SPNEGO.
    Bytes two(32);
    cmBufferWriterInit(&w, two.data(), 32);
    cmAsn1PackOid(&w, &cmGssApiOidNtlmSsp);
    cmAsn1PackOid(&w, &cmGssApiOidSpnego);
    uint32_t used = cmBufferWriterGetDataCount(&w);

    CMBufferReader r;
    cmBufferReaderInit(&r, two.data(), used);
    EXPECT_EQ(cmAsn1ParseCompareOid(&r, &cmGssApiOidSpnego, 1), 0);
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 0u) << "restored";
    EXPECT_EQ(cmAsn1ParseCompareOid(&r, &cmGssApiOidKerberos, 0), 0);
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 12u) << "a mismatch that fits is skipped";
    EXPECT_EQ(cmAsn1ParseCompareOid(&r, &cmGssApiOidSpnego, 0), 1);
    EXPECT_EQ(cmBufferReaderGetRemaining(&r), 0u);

    // Same length, other bytes: Kerberos against MS Kerberos.
    Bytes k(16);
    cmBufferWriterInit(&w, k.data(), 16);
    cmAsn1PackOid(&w, &cmGssApiOidKerberos);
    cmBufferReaderInit(&r, k.data(), cmBufferWriterGetDataCount(&w));
    EXPECT_EQ(cmAsn1ParseCompareOid(&r, &cmGssApiOidMsKerberos, 1), 0);
    EXPECT_EQ(cmAsn1ParseCompareOid(&r, &cmGssApiOidKerberos, 1), 1);

    // An element claiming more than is left is a mismatch, never read.
    Bytes cut = {0x06, 0x0A, 0x2B, 0x06};
    cmBufferReaderInit(&r, cut.data(), 4);
    EXPECT_EQ(cmAsn1ParseCompareOid(&r, &cmGssApiOidNtlmSsp, 1), 0);
    EXPECT_TRUE(cmBufferReaderIsOverrun(&r));
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 0u) << "restored all the same";
}

uint32_t g_result;
Bytes g_token;
uint32_t mechanism(void *context, CMBufferReader *, CMBufferWriter *out)
{
    ++*static_cast<int *>(context);
    cmBufferWriteBytes(out, g_token.data(), (uint32_t)g_token.size());
    return g_result;
}

Bytes wrap(const Bytes &token, uint32_t result, int raw, uint32_t room = 512, bool *overrun = nullptr)
{
    g_token = token;
    g_result = result;
    Bytes out(room + 4, 0xEE);
    out[0] = 0x77;  // something before the token that must stay
    CMBufferWriter w;
    cmBufferWriterInit(&w, out.data(), room);
    cmBufferWriterSkip(&w, 1);
    CMBufferReader in;
    cmBufferReaderInit(&in, nullptr, 0);
    int calls = 0;
    EXPECT_EQ(spnegoPackNegTokenResp(&cmGssApiOidNtlmSsp, mechanism, &calls, &in, &w, raw), result);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(out[0], 0x77);
    if (overrun)
        *overrun = cmBufferWriterIsOverrun(&w);
    return Bytes(out.begin() + 1, out.begin() + cmBufferWriterGetDataCount(&w));
}

TEST(Spnego, ResponseWithoutToken)
{
    EXPECT_EQ(wrap({}, 2, 0), (Bytes{0xA1, 0x07, 0x30, 0x05, 0xA0, 0x03, 0x0A, 0x01, 0x00}));
    EXPECT_EQ(wrap({}, 3, 0), (Bytes{0xA1, 0x07, 0x30, 0x05, 0xA0, 0x03, 0x0A, 0x01, 0x01}));
}

TEST(Spnego, ResponseWithToken)
{
    Bytes token = {'N', 'T', 'L', 'M'};
    Bytes expect = {0xA1, 0x1D, 0x30, 0x1B, 0xA0, 0x03, 0x0A, 0x01, 0x01, 0xA1, 0x0C,
                    0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02,
                    0x0A, 0xA2, 0x06, 0x04, 0x04, 'N',  'T',  'L',  'M'};
    EXPECT_EQ(wrap(token, 3, 0), expect);
    EXPECT_EQ(wrap(token, 3, 1), token) << "raw answers go out unwrapped";
}

TEST(Spnego, LongTokenGetsLongFormLengths)
{
    Bytes token(300);
    for (size_t i = 0; i < token.size(); ++i)
        token[i] = (uint8_t)i;
    Bytes out = wrap(token, 3, 0);
    // Walk the structure back and check every length is exact.
    CMBufferReader r;
    cmBufferReaderInit(&r, out.data(), (uint32_t)out.size());
    uint32_t len;
    ASSERT_EQ(cmAsn1ParseTag(&r, &len), 0xA1);
    EXPECT_EQ(len, cmBufferReaderGetRemaining(&r));
    ASSERT_EQ(cmAsn1ParseTag(&r, &len), 0x30);
    EXPECT_EQ(len, cmBufferReaderGetRemaining(&r));
    cmBufferReaderSkip(&r, 5);
    ASSERT_EQ(cmAsn1ParseTag(&r, &len), 0xA1);
    EXPECT_EQ(cmAsn1ParseCompareOid(&r, &cmGssApiOidNtlmSsp, 0), 1);
    ASSERT_EQ(cmAsn1ParseTag(&r, &len), 0xA2);
    ASSERT_EQ(cmAsn1ParseTag(&r, &len), 0x04);
    ASSERT_EQ(len, 300u);
    EXPECT_EQ(Bytes(cmBufferReaderGetPosition(&r), cmBufferReaderGetPosition(&r) + 300), token);
}

TEST(Spnego, NoRoomForTheWrapperIsAnOverrun)
{
    bool overrun = false;
    wrap(Bytes(20, 1), 3, 0, 30, &overrun);
    EXPECT_TRUE(overrun);
}

}  // namespace
