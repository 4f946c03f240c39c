// SMB2 READ, WRITE and the pipe transceive control on a named pipe: the
// pipe layer is scripted here, the carriers are the server's.
#include "smb2_file_fixture.h"

#include "csdcerpc.h"

using namespace smb2_test;

namespace {

struct ScriptedPipe {
    Bytes written;
    Bytes answer;  // what the next reads give
    uint32_t writeStatus = 0;
    uint32_t lastReadSize = 0;
    uint32_t outputLimit = 0;
};
ScriptedPipe gPipe;

}  // namespace

extern "C" uint32_t csDcerpcWrite(CSFile *, const uint8_t *data, uint32_t length, uint32_t)
{
    gPipe.written.insert(gPipe.written.end(), data, data + length);
    return gPipe.writeStatus;
}

extern "C" uint32_t csDcerpcRead(CSFile *pipe, uint8_t *buffer, uint32_t size, uint32_t *)
{
    gPipe.lastReadSize = size;
    gPipe.outputLimit = pipe->pipeOutputLimit;
    const uint32_t n = std::min<uint32_t>(size, uint32_t(gPipe.answer.size()));
    std::copy(gPipe.answer.begin(), gPipe.answer.begin() + n, buffer);
    gPipe.answer.erase(gPipe.answer.begin(), gPipe.answer.begin() + n);
    return n;
}

namespace {

constexpr uint16_t kRead = 8, kWrite = 9, kIoctl = 11;
constexpr uint32_t kTransceive = 0x0011C017;

Bytes ioctlBody(uint32_t code, uint16_t fid, const Bytes &input, uint32_t maxOutput,
                uint32_t inputOffset = 120, uint32_t claimedCount = 0xFFFFFFFF)
{
    Bytes b = {57, 0, 0, 0};
    put_le32(b, code);
    put_fid(b, fid);
    put_le32(b, inputOffset);
    put_le32(b, claimedCount == 0xFFFFFFFF ? uint32_t(input.size()) : claimedCount);
    put_le32(b, 0);
    put_le32(b, 0);
    put_le32(b, 0);
    put_le32(b, maxOutput);
    put_le32(b, 1);
    put_le32(b, 0);
    b.insert(b.end(), input.begin(), input.end());
    if (input.empty())
        b.push_back(0);
    return b;
}

class PipeTest : public Smb2FileTest {
protected:
    void SetUp() override
    {
        Smb2FileTest::SetUp();
        if (IsSkipped())
            return;
        gPipe = ScriptedPipe{};
        writeFile("plain.txt", {});
        file = open("plain.txt");
        pipe = open("srvsvc");
        ASSERT_NE(pipe, 0);
        CSFile *f = csGetFileByJustFid(pipe);
        ASSERT_NE(f, nullptr);
        f->pipe = 1;
        f->fd = -1;
    }
    Bytes call(uint16_t command, const Bytes &body)
    {
        Bytes a = exchange(compound({request(command, body, mid++)}));
        EXPECT_GE(a.size(), 64u);
        return a;
    }
    uint16_t file = 0, pipe = 0;
    uint64_t mid = 0;
};

TEST_F(PipeTest, TransceiveWritesTheInputAndAnswersWhatThePipeGives)
{
    gPipe.answer = {'r', 'e', 's', 'u', 'l', 't'};
    Bytes a = call(kIoctl, ioctlBody(kTransceive, pipe, {1, 2, 3}, 1024));
    ASSERT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_EQ(gPipe.written, Bytes({1, 2, 3}));
    EXPECT_EQ(gPipe.outputLimit, 1024u);
    ASSERT_EQ(a.size(), 112u + 6u);
    EXPECT_EQ(get_le32(&a[64 + 32]), 112u);  // OutputOffset
    EXPECT_EQ(get_le32(&a[64 + 36]), 6u);    // OutputCount
    EXPECT_EQ(get_le16(&a[64 + 8]), pipe);
    EXPECT_EQ(Bytes(a.begin() + 112, a.end()), Bytes({'r', 'e', 's', 'u', 'l', 't'}));
}

TEST_F(PipeTest, TransceiveOutcomes)
{
    struct Case {
        const char *name;
        Bytes body;
        uint32_t writeStatus;
        uint32_t status;
        size_t size;
    };
    const Case cases[] = {
        // The pipe has nothing to say: overflow with the body kept.
        {"empty read", ioctlBody(kTransceive, pipe, {1}, 1024), 0, 0x80000005u, 112},
        {"write refused", ioctlBody(kTransceive, pipe, {1}, 1024), 0xC000014Bu, 0xC000014Bu, 73},
        {"not a pipe", ioctlBody(kTransceive, file, {1}, 1024), 0, 0xC0000010u, 73},
        {"unknown handle", ioctlBody(kTransceive, 0x4321, {1}, 1024), 0, 0xC0000008u, 73},
        {"input past the message", ioctlBody(kTransceive, pipe, {1}, 1024, 120, 2), 0, 0xC000000Du, 73},
        {"input offset past the message", ioctlBody(kTransceive, pipe, {1}, 1024, 0xFFFFFFFF, 1), 0,
         0xC000000Du, 73},
        {"unknown control", ioctlBody(0x12345678, pipe, {1}, 1024), 0, 0xC0000225u, 73},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gPipe.writeStatus = c.writeStatus;
        Bytes a = call(kIoctl, c.body);
        EXPECT_EQ(answerAt(a, 0).status, c.status);
        EXPECT_EQ(a.size(), c.size);
    }
}

TEST_F(PipeTest, ReadsAndWritesReachThePipe)
{
    // A plain WRITE to a pipe takes its data from the message, not the socket.
    Bytes w = {49, 0, 112, 0};
    put_le32(w, 4);
    put_le64(w, 0);
    put_fid(w, pipe);
    w.resize(48, 0);
    for (uint8_t c : {'p', 'i', 'n', 'g'})
        w.push_back(c);
    Bytes a = call(kWrite, w);
    EXPECT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_EQ(get_le32(&a[68]), 4u);
    EXPECT_EQ(gPipe.written, Bytes({'p', 'i', 'n', 'g'}));

    Bytes r = {49, 0, 0, 0};
    put_le32(r, 100);
    put_le64(r, 0);
    put_fid(r, pipe);
    r.resize(48, 0);
    r.push_back(0);
    a = call(kRead, r);
    EXPECT_EQ(answerAt(a, 0).status, 0xC00000ADu);
    gPipe.answer = {'p', 'o', 'n', 'g'};
    a = call(kRead, r);
    ASSERT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_EQ(Bytes(a.begin() + 80, a.end()), Bytes({'p', 'o', 'n', 'g'}));
}

}  // namespace
