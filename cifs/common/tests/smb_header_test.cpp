// SMB1, SMB2 and transform headers: wire offsets, round trips, credit caps,
// async ids and the walk over compounded headers.
#include "cmsmbheader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint16_t le16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t *p) { return le16(p) | (uint32_t)le16(p + 2) << 16; }

TEST(SmbHeader, PidHalvesRoundTrip)
{
    Bytes wire(32, 0);
    std::memcpy(wire.data(), cmSmbProtocolId, 4);
    wire[4] = 0x72;
    wire[5] = 0x22;  // status 0xC0000022
    wire[8] = 0xC0;
    wire[9] = 0x18;
    wire[10] = 0x07;
    wire[11] = 0xC8;
    wire[12] = 1;  // PIDHigh
    for (int i = 0; i < 8; ++i)
        wire[14 + i] = (uint8_t)(0xA0 + i);
    wire[24] = 5;  // TID
    wire[26] = 3;  // PID 515
    wire[27] = 2;
    wire[28] = 100;  // UID
    wire[30] = 7;    // MID
    CMBufferReader r;
    cmBufferReaderInit(&r, wire.data(), 32);
    CMSmbHeader h;
    cmSmbHeaderRead(&h, &r);
    EXPECT_EQ(h.pid, 66051u);
    EXPECT_EQ(h.command, 0x72);
    EXPECT_EQ(h.status, 0xC0000022u);
    EXPECT_EQ(h.flags, 0x18);
    EXPECT_EQ(h.flags2, 0xC807);
    EXPECT_EQ(h.tid, 5);
    EXPECT_EQ(h.uid, 100);
    EXPECT_EQ(h.mid, 7);
    EXPECT_EQ(h.size, 32);
    EXPECT_EQ(cmSmbHeaderGetReaderOffset(&h, &r), 32u);

    Bytes out(32, 0xEE);
    CMBufferWriter w;
    cmBufferWriterInit(&w, out.data(), 32);
    cmSmbHeaderWrite(&h, &w);
    EXPECT_EQ(out, wire);
}

TEST(SmbHeader, ResponseKeepsTheRequestFields)
{
    uint8_t buf[64];
    CMBufferWriter w;
    cmBufferWriterInit(&w, buf, sizeof buf);
    CMSmbHeader req;
    cmSmbHeaderInitForRequest(&req, &w, 0x25);
    EXPECT_EQ(req.command, 0x25);
    EXPECT_EQ(req.flags, 0);
    req.mid = 9;
    cmBufferWriterSkip(&w, 4);
    CMSmbHeader resp = req;
    cmSmbHeaderSetForResponse(&resp, &w);
    EXPECT_EQ(resp.flags, 0x80);
    EXPECT_EQ(resp.mid, 9);
    EXPECT_EQ(resp._start, buf + 4);
    cmBufferWriterSkip(&w, 3);
    EXPECT_EQ(cmSmbHeaderGetWriterOffset(&resp, &w), 3u);
    EXPECT_EQ(cmSmbHeaderAlignWriter(&resp, &w, 4), 1u);
    CMSmbHeader fresh;
    cmSmbHeaderInitForResponse(&fresh, &w);
    EXPECT_EQ(fresh.mid, 0);
    EXPECT_EQ(fresh.flags, 0x80);

    CMBufferReader r;
    cmBufferReaderInit(&r, buf, sizeof buf);
    cmSmbHeaderSetReaderOffset(&resp, &r, 10);
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 14u);
    cmSmbHeaderAlignReader(&resp, &r, 8);
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 20u);
}

CMSmb2Header sample(uint32_t flags)
{
    CMSmb2Header h{};
    h.size = 0;
    h.creditCharge = 2;
    h.status = 0xC0000016;
    h.command = 5;
    h.credits = 31;
    h.flags = flags;
    h.next = 0;
    h.mid = {0x01020304, 0x05060708};
    h.aid = {0x11121314, 0x15161718};
    h.pid = 0xFEFF;
    h.tid = 7;
    h.sid = {0x21222324, 0x25262728};
    for (int i = 0; i < 16; ++i)
        h.signature[i] = (uint8_t)i;
    return h;
}

TEST(Smb2Header, WireFormAndRoundTrip)
{
    for (uint32_t flags : {0u, (uint32_t)CM_SMB2_FLAG_ASYNC | CM_SMB2_FLAG_RESPONSE}) {
        CMSmb2Header h = sample(flags);
        Bytes out(64, 0xEE);
        CMBufferWriter w;
        cmBufferWriterInit(&w, out.data(), 64);
        cmSmb2HeaderWrite(&h, &w);
        EXPECT_FALSE(cmBufferWriterIsOverrun(&w));
        EXPECT_EQ(std::memcmp(out.data(), cmSmb2ProtocolId, 4), 0);
        EXPECT_EQ(le16(&out[4]), 64) << "written as 64 whatever the record holds";
        EXPECT_EQ(le16(&out[6]), 2);
        EXPECT_EQ(le32(&out[8]), 0xC0000016u);
        EXPECT_EQ(le16(&out[12]), 5);
        EXPECT_EQ(le16(&out[14]), 31);
        EXPECT_EQ(le32(&out[16]), flags);
        EXPECT_EQ(le32(&out[24]), 0x01020304u);
        if (flags & CM_SMB2_FLAG_ASYNC) {
            EXPECT_EQ(le32(&out[32]), 0x11121314u);
            EXPECT_EQ(le32(&out[36]), 0x15161718u);
        } else {
            EXPECT_EQ(le32(&out[32]), 0xFEFFu);
            EXPECT_EQ(le32(&out[36]), 7u);
        }
        EXPECT_EQ(le32(&out[44]), 0x25262728u);
        EXPECT_EQ(out[63], 15);

        CMBufferReader r;
        cmBufferReaderInit(&r, out.data(), 64);
        CMSmb2Header back;
        cmSmb2HeaderRead(&back, &r);
        EXPECT_EQ(back.size, 64);
        EXPECT_EQ(back.mid.high, h.mid.high);
        EXPECT_EQ(back.sid.low, h.sid.low);
        if (flags & CM_SMB2_FLAG_ASYNC) {
            EXPECT_EQ(back.pid, 0u);
            EXPECT_EQ(back.tid, 0u);
            EXPECT_EQ(back.aid.low, h.aid.low);
        } else {
            EXPECT_EQ(back.aid.low, 0u);
            EXPECT_EQ(back.tid, 7u);
        }
        EXPECT_EQ(std::memcmp(back.signature, h.signature, 16), 0);
        EXPECT_EQ(cmSmb2HeaderGetReaderOffset(&back, &r), 64u);
    }
}

TEST(Smb2Header, CreditsAreCapped)
{
    uint8_t buf[8];
    CMBufferWriter w;
    cmBufferWriterInit(&w, buf, sizeof buf);
    struct {
        uint16_t asked, granted;
    } cases[] = {{40, 30}, {30, 30}, {1, 1}, {0, 0}, {0xFFFF, 30}};
    for (auto &c : cases) {
        CMSmb2Header h;
        cmSmb2HeaderInitForResponse(&h, &w, c.asked);
        EXPECT_EQ(h.credits, c.granted);
        EXPECT_EQ(h.flags, (uint32_t)CM_SMB2_FLAG_RESPONSE);
    }
    CMSmb2Header req;
    cmSmb2HeaderInitForRequest(&req, &w, 3);
    EXPECT_EQ(req.credits, 1);
    EXPECT_EQ(req.command, 3);
    EXPECT_EQ(req.size, 64);
}

TEST(Smb2Header, ShiftNextStaysInsideTheMessage)
{
    struct {
        uint32_t size, headerAt, next;
        int moved;
    } cases[] = {
        {130, 0, 72, 0},                                               // 72 + 64 > 130
        {136, 0, 72, 1},                                               // exactly fits
        {200, 0, 0, 0},                                                // last header
        {200, 0, 8, 0},                                                // inside this header
        {200, 0, 63, 0},  {200, 0, 64, 1},  {200, 8, 0xFFFFFFF8u, 0},  // would wrap a pointer sum
        {200, 72, 64, 1}, {200, 72, 65, 0},
    };
    for (auto &c : cases) {
        Bytes buf(c.size, 0);
        CMBufferReader r;
        cmBufferReaderInit(&r, buf.data(), c.size);
        cmBufferReaderSetOffset(&r, c.headerAt);
        CMSmb2Header h{};
        h._start = buf.data() + c.headerAt;
        h.next = c.next;
        cmBufferReaderSkip(&r, 10);
        EXPECT_EQ(cmSmb2HeaderShiftNext(&h, &r), c.moved) << c.size << " " << c.next;
        uint32_t expect = c.moved ? c.headerAt + c.next : c.headerAt + 10;
        EXPECT_EQ(cmBufferReaderGetDataCount(&r), expect);
        EXPECT_FALSE(cmBufferReaderIsOverrun(&r));
    }
}

TEST(Smb2Header, OffsetsAndAlignmentFromTheHeaderStart)
{
    uint8_t buf[128];
    CMBufferWriter w;
    cmBufferWriterInit(&w, buf, sizeof buf);
    cmBufferWriterSkip(&w, 4);
    CMSmb2Header h;
    cmSmb2HeaderInitForResponse(&h, &w, 1);
    cmBufferWriterSkip(&w, 67);
    EXPECT_EQ(cmSmb2HeaderGetWriterOffset(&h, &w), 67u);
    EXPECT_EQ(cmSmb2HeaderAlignWriter(&h, &w, 8), 5u);
    CMBufferReader r;
    cmBufferReaderInit(&r, buf, sizeof buf);
    cmSmb2HeaderSetReaderOffset(&h, &r, 64);
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 68u);
    cmBufferReaderSkip(&r, 1);
    cmSmb2HeaderAlignReader(&h, &r, 8);
    EXPECT_EQ(cmBufferReaderGetDataCount(&r), 76u);
    cmSmb2HeaderSetReaderOffset(&h, &r, 0xFFFFFFF0u);
    EXPECT_TRUE(cmBufferReaderIsOverrun(&r));
}

TEST(Smb2Header, TruncatedHeaderIsAnOverrun)
{
    Bytes wire(40, 0x11);
    CMBufferReader r;
    cmBufferReaderInit(&r, wire.data(), 40);
    CMSmb2Header h;
    cmSmb2HeaderRead(&h, &r);
    EXPECT_TRUE(cmBufferReaderIsOverrun(&r));
    EXPECT_EQ(h.sid.low, 0u);
}

TEST(TransformHeader, WireFormAndRoundTrip)
{
    CMSmb2TransformHeader h{};
    for (int i = 0; i < 16; ++i) {
        h.signature[i] = 0x55;
        h.nonce[i] = (uint8_t)(i + 1);
    }
    h.originalMsgSize = 0x1234;
    h.flags = 1;
    h.sid = {0xAABBCCDD, 0x11223344};
    Bytes out(52, 0xEE);
    CMBufferWriter w;
    cmBufferWriterInit(&w, out.data(), 52);
    cmSmb2TransformHeaderWrite(&h, &w);
    EXPECT_EQ(cmBufferWriterGetDataCount(&w), 52u);
    EXPECT_EQ(std::memcmp(out.data(), cmSmb2TrnsfrmHdrProtocolId, 4), 0);
    EXPECT_EQ(out[4], 0xEE) << "signature left for after encryption";
    EXPECT_EQ(out[20], 1);
    EXPECT_EQ(le32(&out[36]), 0x1234u);
    EXPECT_EQ(le16(&out[40]), 0);
    EXPECT_EQ(le16(&out[42]), 1);
    EXPECT_EQ(le32(&out[44]), 0xAABBCCDDu);
    EXPECT_EQ(le32(&out[48]), 0x11223344u);

    CMBufferReader r;
    cmBufferReaderInit(&r, out.data(), 52);
    CMSmb2TransformHeader back;
    cmSmb2TransformHeaderRead(&back, &r);
    EXPECT_EQ(back.signature[0], 0xEE);
    EXPECT_EQ(std::memcmp(back.nonce, h.nonce, 16), 0);
    EXPECT_EQ(back.originalMsgSize, 0x1234u);
    EXPECT_EQ(back.flags, 1);
    EXPECT_EQ(back.sid.high, 0x11223344u);
    EXPECT_EQ(back._start, out.data());
}

}  // namespace
