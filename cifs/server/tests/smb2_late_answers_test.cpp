// Late SMB2 answers built from a saved request: the pipe IOCTL's answer
// with its data, and answers past the message buffer refused whole.
#include "smb2_fixture.h"

namespace {

using namespace smb2_test;

class LateAnswerTest : public Smb2Test {
protected:
    // A saved IOCTL request of the logged-on user, as its interim answer left it.
    CSLateResponseContext saved(uint64_t mid, uint64_t aid)
    {
        Element e;
        e.command = 11;
        e.mid = mid;
        e.sid = sid(user);
        e.tid = 10;
        e.flags = 0x02;
        Bytes h = header(e, 0);
        put_le64(h, 0);
        std::memcpy(&h[32], &aid, 8);
        h.resize(64);
        CSLateResponseContext c{};
        cs2DispatchSaveResponseContext(&c, h.data());
        c.ctlCode = 0x0011C017;
        c.fileId = 0x4005;
        return c;
    }
};

TEST_F(LateAnswerTest, APipeAnswerCarriesTheIoctlBodyAndItsData)
{
    ASSERT_NE(logon(CS_DIALECT_SMB21), nullptr);
    session->socket = &slot;
    for (uint32_t size : {0u, 100u, 6000u}) {
        CSLateResponseContext c = saved(7, 42);
        ASSERT_EQ(cs2PipeIoctlPrepareLateResponse(&c), 0);
        ASSERT_NE(c.response, nullptr);
        ASSERT_GE(c.remaining, size);
        std::memset(c.response, 0xAB, size);
        EXPECT_EQ(cs2PipeIoctlSendLateResponse(&c, 0, size), 1);
        Bytes m = answer();
        ASSERT_EQ(m.size(), 64u + 48u + size) << size;
        Answer a = answerAt(m, 0);
        EXPECT_EQ(a.status, 0u);
        EXPECT_EQ(a.command, 11);
        EXPECT_EQ(a.mid, 7u);
        EXPECT_TRUE(a.flags & 0x03);
        EXPECT_EQ(get_le64(&m[32]), 42u);
        EXPECT_EQ(get_le16(&m[64]), 49);
        EXPECT_EQ(get_le32(&m[64 + 4]), 0x0011C017u);
        EXPECT_EQ(get_le16(&m[64 + 8]), 0x4005);
        EXPECT_EQ(get_le32(&m[64 + 32]), 112u);
        EXPECT_EQ(get_le32(&m[64 + 36]), size);
        if (size)
            EXPECT_EQ(m.back(), 0xAB);
    }
}

TEST_F(LateAnswerTest, AnAnswerPastItsBufferIsRefusedWhole)
{
    ASSERT_NE(logon(CS_DIALECT_SMB21), nullptr);
    session->socket = &slot;
    CSLateResponseContext c = saved(9, 43);
    csDispatchPrepareLateResponse(&c);
    ASSERT_NE(c.response, nullptr);
    EXPECT_EQ(csDispatchSendLateResponse(&c, 0, c.remaining + 1), 1);
    Bytes m = answer();
    ASSERT_EQ(m.size(), 64u + 9u);
    EXPECT_EQ(answerAt(m, 0).status, 0xC0000023u);
    // Nothing prepared: nothing sent.
    CSLateResponseContext idle = saved(10, 44);
    EXPECT_EQ(cs2PipeIoctlSendLateResponse(&idle, 0, 10), 0);
    EXPECT_TRUE(answer().empty());
}

}  // namespace
