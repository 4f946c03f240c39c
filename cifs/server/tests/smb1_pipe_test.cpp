// SMB1 WRITE_ANDX and WRITE on a named pipe whose call answers later: the
// late answer carries the count the client wrote, and the call's PDU is
// read whole afterwards. The pipes are the real framework's; the interface
// behind them is a scripted one in the slot of an interface not built yet.
#include "smb1_wire.h"

#include "cscommands.h"
#include "csdcerpc.h"

using namespace smb1test;

namespace {

CSLateResponseContext gLate;

uint32_t later(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    csDcerpcSaveResponseContext(1, in, &gLate);
    return CS_RPC_LATE;
}
const CSDcerpcOperation kOps[] = {later};

const uint8_t kAbstract[16] = {0x01, 0xd0, 0x8c, 0x33, 0x44, 0x22, 0xf1, 0x31,
                               0xaa, 0xaa, 0x90, 0x00, 0x38, 0x00, 0x10, 0x03};
const uint8_t kNdr[16] = {0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                          0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60};

}  // namespace

extern "C" const CSDcerpcInterface *csRpcWinReg(void)
{
    static const CSDcerpcInterface kInterface = {
        nullptr,
        nullptr,
        nullptr,
        "winreg",
        {0x01, 0xd0, 0x8c, 0x33, 0x44, 0x22, 0xf1, 0x31, 0xaa, 0xaa, 0x90, 0x00, 0x38, 0x00, 0x10, 0x03},
        1,
        0,
        1,
        kOps,
        nullptr};
    return &kInterface;
}

namespace {

Bytes pdu(uint8_t type, uint32_t callId, const Bytes &body)
{
    Bytes b = {5, 0, type, 3, 0x10, 0, 0, 0};
    put_le16(b, uint16_t(16 + body.size()));
    put_le16(b, 0);
    put_le32(b, callId);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes bindPdu()
{
    Bytes b;
    put_le16(b, 4280);
    put_le16(b, 4280);
    put_le32(b, 0);
    b.insert(b.end(), {1, 0, 0, 0});
    put_le16(b, 0);
    b.insert(b.end(), {1, 0});
    b.insert(b.end(), kAbstract, kAbstract + 16);
    put_le32(b, 1);
    b.insert(b.end(), kNdr, kNdr + 16);
    put_le32(b, 2);
    return pdu(11, 1, b);
}

Bytes requestPdu(uint32_t callId, const Bytes &stub)
{
    Bytes b;
    put_le32(b, uint32_t(stub.size()));
    put_le16(b, 0);
    put_le16(b, 0);
    b.insert(b.end(), stub.begin(), stub.end());
    return pdu(0, callId, b);
}

class Smb1PipeTest : public Smb1UserTest {
protected:
    void SetUp() override
    {
        Smb1UserTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        gLate = CSLateResponseContext{};
        tree = csGetNewTree(user);
        ASSERT_NE(tree, nullptr);
        std::vector<CMWchar> w = testenv::W("\\winreg");
        CSName *n = csGetNewName(w.data(), tree->uid);
        ASSERT_NE(n, nullptr);
        pipe = csGetNewFile(tree, n, 2);
        ASSERT_NE(pipe, nullptr);
        ASSERT_EQ(csDcerpcOpenPipe(w.data() + 1, pipe), 1);
        Answer a = ask(writeAndX(bindPdu()));
        ASSERT_EQ(a.status(), 0u);
        a = ask(readAndX(1024));
        ASSERT_EQ(a.status(), 0u);
        ASSERT_GT(a.word(10), 24) << "BIND_ACK";
        EXPECT_EQ(a.m[a.word(12) + 2], 12) << "BIND_ACK";
    }


    Message writeAndX(const Bytes &data)
    {
        Message m = base(0x2F);
        m.words = {0xFF, 0, 0, 0};
        put_le16(m.words, uint16_t(pipe->fid));
        put_le32(m.words, 0);
        put_le32(m.words, 0);
        put_le16(m.words, 0x0008);  // message start
        put_le16(m.words, uint16_t(data.size()));
        put_le16(m.words, 0);
        put_le16(m.words, uint16_t(data.size()));
        put_le16(m.words, 32 + 1 + 28 + 2 + 1);
        put_le32(m.words, 0);
        m.data.push_back(0);
        m.data.insert(m.data.end(), data.begin(), data.end());
        return m;
    }

    Message write(const Bytes &data)
    {
        Message m = base(0x0B);
        put_le16(m.words, uint16_t(pipe->fid));
        put_le16(m.words, uint16_t(data.size()));
        put_le32(m.words, 0);
        put_le16(m.words, 0);
        m.data = {0x01};
        put_le16(m.data, uint16_t(data.size()));
        m.data.insert(m.data.end(), data.begin(), data.end());
        return m;
    }

    Message readAndX(uint16_t maxCount)
    {
        Message m = base(0x2E);
        m.words = {0xFF, 0, 0, 0};
        put_le16(m.words, uint16_t(pipe->fid));
        put_le32(m.words, 0);
        put_le16(m.words, maxCount);
        put_le16(m.words, 0);
        put_le32(m.words, 0);
        put_le16(m.words, 0);
        put_le32(m.words, 0);
        return m;
    }

    // The call's answer, given now: its stub is `stub`.
    void answerLater(const Bytes &stub)
    {
        ASSERT_EQ(csDcerpcPrepareLateResponse(&gLate, uint32_t(stub.size())), 0);
        ASSERT_NE(gLate.response, nullptr);
        std::copy(stub.begin(), stub.end(), gLate.response);
        ASSERT_EQ(csDcerpcSendLateResponse(&gLate, 0, uint32_t(stub.size())), 1);
    }

    CSFile *pipe = nullptr;
};

// Both write commands: the late answer counts every byte written, and the
// next READ_ANDX gives the saved RESPONSE whole.
TEST_F(Smb1PipeTest, LateWriteAnswerCountsTheWrite)
{
    struct Case {
        const char *name;
        bool andX;
        size_t stubBytes;
        uint16_t countAt;  // byte offset of Count in the answer's words
        uint8_t wordCount;
    };
    const Case cases[] = {{"WRITE_ANDX", true, 40, 4, 6}, {"WRITE", false, 9, 0, 1}};
    uint32_t callId = 2;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes request = requestPdu(callId, Bytes(c.stubBytes, 0x5A));
        Answer a = ask(c.andX ? writeAndX(request) : write(request));
        EXPECT_TRUE(a.none()) << "the write is answered with the call";
        ASSERT_EQ(gLate.callId, callId);

        answerLater({1, 2, 3, 4});
        a = read();
        ASSERT_FALSE(a.none());
        EXPECT_EQ(a.status(), 0u);
        ASSERT_EQ(a.wordCount(), c.wordCount);
        EXPECT_EQ(a.word(c.countAt), request.size()) << "late answer's count";
        if (c.andX) {
            EXPECT_EQ(a.word(8), 0) << "CountHigh";
        }

        a = ask(readAndX(1024));
        ASSERT_EQ(a.status(), 0u);
        ASSERT_EQ(a.word(10), 24 + 4 + 4) << "RESPONSE header, stub and the call's status";
        const uint8_t *p = a.m.data() + a.word(12);
        EXPECT_EQ(p[2], 2) << "RESPONSE";
        EXPECT_EQ(get_le32(p + 12), callId);
        EXPECT_EQ(Bytes(p + 24, p + 32), (Bytes{1, 2, 3, 4, 0, 0, 0, 0}));
        ++callId;
    }
}

}  // namespace
