// SMB2 READ, WRITE, FLUSH and LOCK through the dispatcher: plain requests
// by direct transfer, signed and sealed ones through the buffer, and the
// bounds of each request and answer.
#include "smb2_file_fixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace smb2_test;

namespace {

constexpr uint16_t kFlush = 7, kRead = 8, kWrite = 9, kLock = 10;

Bytes readBody(uint16_t fid, uint32_t length, uint64_t offset)
{
    Bytes b = {49, 0, 0, 0};
    put_le32(b, length);
    put_le64(b, offset);
    put_fid(b, fid);
    b.resize(48, 0);
    b.push_back(0);
    return b;
}

Bytes writeBody(uint16_t fid, const Bytes &data, uint64_t offset, uint16_t dataOffset = 112,
                uint32_t length = 0xFFFFFFFF)
{
    Bytes b = {49, 0};
    put_le16(b, dataOffset);
    put_le32(b, length == 0xFFFFFFFF ? uint32_t(data.size()) : length);
    put_le64(b, offset);
    put_fid(b, fid);
    b.resize(48, 0);
    b.resize(dataOffset - 64, 0);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i * 7 + i / 251);
    return b;
}

class ReadWriteTest : public Smb2FileTest {
protected:
    // The READ answer's data, or empty with the status in status.
    Bytes dataOf(const Bytes &a, uint32_t &status)
    {
        status = a.size() >= 64 ? answerAt(a, 0).status : 0xFFFFFFFF;
        if (status != 0 || a.size() < 80)
            return {};
        const uint32_t count = get_le32(&a[68]);
        EXPECT_EQ(a[66], 80);
        EXPECT_GE(a.size(), 80u + count);
        return Bytes(a.begin() + 80, a.begin() + 80 + std::min<size_t>(count, a.size() - 80));
    }
    const uint8_t *signingKey() const { return user->smb3SigningKey; }
};

TEST_F(ReadWriteTest, PlainWritesAndReadsMoveTheFileDirectly)
{
    writeFile("a.bin", {});
    const uint16_t fid = open("a.bin");
    ASSERT_NE(fid, 0);
    const Bytes data = pattern(65536);
    Bytes a = exchange(compound({request(kWrite, writeBody(fid, data, 0), 0)}));
    ASSERT_EQ(a.size(), 80u);
    EXPECT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_EQ(get_le32(&a[68]), 65536u);
    EXPECT_EQ(readFile("a.bin"), data);

    // Out of order: the offset, not where the descriptor stands, decides.
    const Bytes tail = pattern(10);
    a = exchange(compound({request(kWrite, writeBody(fid, tail, 70000), 1)}));
    EXPECT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_EQ(sizeOf("a.bin"), 70010);

    uint32_t status = 0;
    Bytes got = dataOf(exchange(compound({request(kRead, readBody(fid, 65536, 0), 2)})), status);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(got, data);
    // Starting inside the file and running past its end: the bytes up to the end.
    got = dataOf(exchange(compound({request(kRead, readBody(fid, 100, 70005), 3)})), status);
    EXPECT_EQ(got, Bytes(tail.begin() + 5, tail.end()));
}

// A file that refuses a direct WRITE's data half-way (here past the size
// limit, as a full disk would): the WRITE answers the error, the rest of its
// data is read past, and the connection serves the next request.
TEST_F(ReadWriteTest, AFileRefusingDirectWriteDataAnswersTheErrorAndKeepsTheConnection)
{
    writeFile("full.bin", {});
    const uint16_t fid = open("full.bin");
    ASSERT_NE(fid, 0);
    struct SizeLimit {
        rlimit saved{};
        void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
        SizeLimit(rlim_t bytes)
        {
            getrlimit(RLIMIT_FSIZE, &saved);
            rlimit limit = saved;
            limit.rlim_cur = bytes;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        ~SizeLimit()
        {
            setrlimit(RLIMIT_FSIZE, &saved);
            signal(SIGXFSZ, handler);
        }
    };
    const uint32_t sizes[] = {65536, 200000};  // one chunk, and a failure in the first of four
    uint64_t mid = 0;
    for (uint32_t size : sizes) {
        SCOPED_TRACE(size);
        Bytes a;
        {
            SizeLimit limit(1 << 20);
            a = exchange(compound({request(kWrite, writeBody(fid, pattern(size), (1 << 20) - 1000), mid++)}));
        }
        ASSERT_GE(a.size(), 64u);
        EXPECT_EQ(answerAt(a, 0).command, kWrite);
        EXPECT_NE(answerAt(a, 0).status, 0u);
        EXPECT_EQ(a.size(), 73u);
        Bytes echo = exchange(compound({request(13, {4, 0, 0, 0}, mid++)}));
        ASSERT_GE(echo.size(), 64u);
        EXPECT_EQ(answerAt(echo, 0).command, 13);
        EXPECT_EQ(answerAt(echo, 0).status, 0u);
    }
}

TEST_F(ReadWriteTest, TheLargestReadIs65616BytesInEveryMode)
{
    writeFile("big.bin", pattern(70000));
    const uint16_t fid = open("big.bin");
    ASSERT_NE(fid, 0);
    const Bytes file = pattern(70000);
    struct Case {
        const char *name;
        uint32_t length;
        bool sign;
        uint32_t status;
        size_t count;
    };
    const Case cases[] = {
        {"plain 65616", 65616, false, 0, 65616},
        {"plain 65617", 65617, false, 0xC000000Du, 0},
        {"signed 65616", 65616, true, 0, 65616},
        {"signed 65617", 65617, true, 0xC000000Du, 0},
    };
    uint64_t mid = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Element e = request(kRead, readBody(fid, c.length, 0), mid++);
        if (c.sign)
            e.flags = CM_SMB2_FLAGS_SIGNED;
        uint32_t status = 0;
        Bytes got = dataOf(exchange(compound({e}, signingKey())), status);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(got.size(), c.count);
        if (c.count)
            EXPECT_TRUE(std::equal(got.begin(), got.end(), file.begin()));
    }
}

TEST_F(ReadWriteTest, ASealedReadIsCutToTheRoomBehindTheTransform)
{
    writeFile("big.bin", pattern(70000));
    const uint16_t fid = open("big.bin");
    ASSERT_NE(fid, 0);
    session->useGcm = true;
    // ECHO first: the READ's answer starts behind the transform and the echo's.
    Element echo = request(13, {4, 0, 0, 0}, 0);
    Bytes sealed = seal(compound({echo, request(kRead, readBody(fid, 65616, 0), 1)}), user->decryptionKey,
                        sid(user), true);
    Bytes a = unseal(exchange(sealed), user->encryptionKey, true);
    ASSERT_GE(a.size(), 72u);
    const uint32_t next = answerAt(a, 0).next;
    ASSERT_EQ(next, 72u);
    Bytes readAnswer(a.begin() + next, a.end());
    uint32_t status = 0;
    Bytes got = dataOf(readAnswer, status);
    EXPECT_EQ(status, 0u);
    const size_t room = CS2_BUFFER_SIZE - 4 - 52 - 72 - 64 - 16;
    EXPECT_EQ(got.size(), room);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pattern(70000).begin()));
}

// A READ as large as the buffer, with elements behind it: the READ is cut so
// that each of them still gets its answer, and the connection stays.
TEST_F(ReadWriteTest, AReadThatWouldFillTheBufferLeavesRoomForTheElementsBehindIt)
{
    writeFile("big.bin", pattern(70000));
    const uint16_t fid = open("big.bin");
    ASSERT_NE(fid, 0);
    const Bytes file = pattern(70000);
    uint64_t mid = 0;
    for (bool sign : {false, true}) {
        SCOPED_TRACE(sign ? "signed" : "plain");
        std::vector<Element> chain = {request(kRead, readBody(fid, 65616, 0), mid++),
                                      request(13, {4, 0, 0, 0}, mid++), request(13, {4, 0, 0, 0}, mid++)};
        for (Element &e : chain)
            e.flags = sign ? CM_SMB2_FLAGS_SIGNED : 0;
        Bytes a = exchange(compound(chain, signingKey()));
        ASSERT_GE(a.size(), 80u);
        const Answer read = answerAt(a, 0);
        uint32_t status = 0;
        Bytes got = dataOf(Bytes(a.begin(), a.begin() + std::min<size_t>(read.next, a.size())), status);
        EXPECT_EQ(status, 0u);
        EXPECT_GT(got.size(), 65000u);
        EXPECT_LT(got.size(), 65616u);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), file.begin()));
        size_t at = read.next;
        for (int echo = 0; echo < 2; ++echo) {
            ASSERT_NE(at, 0u);
            ASSERT_LE(at + 68, a.size());
            EXPECT_EQ(answerAt(a, at).command, 13);
            EXPECT_EQ(answerAt(a, at).status, 0u);
            at = answerAt(a, at).next ? at + answerAt(a, at).next : 0;
        }
        Bytes echo = exchange(compound({request(13, {4, 0, 0, 0}, mid++)}));
        ASSERT_GE(echo.size(), 64u);
        EXPECT_EQ(answerAt(echo, 0).status, 0u);
    }
}

TEST_F(ReadWriteTest, AReadAtOrPastTheEndAnswersEndOfFile)
{
    writeFile("ten.bin", pattern(10));
    const uint16_t fid = open("ten.bin");
    ASSERT_NE(fid, 0);
    uint64_t mid = 0;
    for (bool sign : {false, true})
        for (uint64_t offset : {10ull, 11ull, 1ull << 40}) {
            SCOPED_TRACE(std::to_string(offset) + (sign ? " signed" : " plain"));
            Element e = request(kRead, readBody(fid, 5, offset), mid++);
            if (sign)
                e.flags = CM_SMB2_FLAGS_SIGNED;
            Bytes a = exchange(compound({e}, signingKey()));
            ASSERT_GE(a.size(), 64u);
            EXPECT_EQ(answerAt(a, 0).status, 0xC0000011u);
        }
    // A read of nothing is no end of file.
    Bytes a = exchange(compound({request(kRead, readBody(fid, 0, 10), mid++)}));
    EXPECT_EQ(answerAt(a, 0).status, 0u);
}

TEST_F(ReadWriteTest, AZeroWriteSetsTheLength)
{
    writeFile("z.bin", pattern(100));
    const uint16_t fid = open("z.bin");
    ASSERT_NE(fid, 0);
    Bytes a = exchange(compound({request(kWrite, writeBody(fid, {}, 4096), 0)}));
    EXPECT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_EQ(sizeOf("z.bin"), 4096);
    a = exchange(compound({request(kWrite, writeBody(fid, {}, 3), 1)}));
    EXPECT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_EQ(readFile("z.bin"), Bytes(pattern(3)));
}

TEST_F(ReadWriteTest, WriteDataMustLieInsideTheMessage)
{
    writeFile("w.bin", pattern(20));
    const uint16_t fid = open("w.bin");
    ASSERT_NE(fid, 0);
    const Bytes data = {'x', 'y', 'z'};
    struct Case {
        const char *name;
        bool sign;
        uint16_t dataOffset;
        uint32_t length;
        uint32_t status;
    };
    const Case cases[] = {
        {"plain, Length past the message", false, 112, 4, 0xC000000Du},
        {"plain, Length far past the message", false, 112, 0x7FFFFFFF, 0xC000000Du},
        {"plain, padding before the data", false, 120, 3, 0},
        {"plain, DataOffset past the message", false, 200, 3, 0xC000000Du},
        {"signed, Length past the message", true, 112, 4, 0xC000000Du},
        {"signed, DataOffset past the message", true, 0xFFFF, 3, 0xC000000Du},
        {"signed, inside", true, 112, 3, 0},
    };
    uint64_t mid = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes body = writeBody(fid, data, 0,
                               c.dataOffset == 0xFFFF || c.dataOffset == 200 ? 112 : c.dataOffset, c.length);
        body[2] = uint8_t(c.dataOffset);
        body[3] = uint8_t(c.dataOffset >> 8);
        Element e = request(kWrite, body, mid++);
        if (c.sign)
            e.flags = CM_SMB2_FLAGS_SIGNED;
        Bytes a = exchange(compound({e}, signingKey()));
        ASSERT_GE(a.size(), 64u);
        EXPECT_EQ(answerAt(a, 0).status, c.status);
        // The connection stays in step: an echo behind is answered.
        Bytes echo = exchange(compound({request(13, {4, 0, 0, 0}, mid++)}));
        ASSERT_GE(echo.size(), 64u);
        EXPECT_EQ(answerAt(echo, 0).status, 0u);
    }
    Bytes expected = pattern(20);
    std::copy(data.begin(), data.end(), expected.begin());
    EXPECT_EQ(readFile("w.bin"), expected);
}

TEST_F(ReadWriteTest, HandlesWithoutTheAccessAndOffsetsPastTheLargestAreRefused)
{
    writeFile("r.bin", pattern(10));
    const uint16_t readOnly = open("r.bin", false, O_RDONLY);
    const uint16_t writeOnly = open("r.bin", false, O_WRONLY);
    const uint16_t both = open("r.bin");
    ASSERT_NE(readOnly, 0);
    ASSERT_NE(writeOnly, 0);
    const Bytes data = {'x', 'y'};
    const uint64_t last = uint64_t(INT64_MAX);
    struct Case {
        const char *name;
        Element e;
        uint32_t status;
    };
    const Case cases[] = {
        // Plain: the payload would have gone straight to the descriptor.
        {"write, read-only handle", request(kWrite, writeBody(readOnly, data, 0), 0), 0xC0000022u},
        {"zero write, read-only handle", request(kWrite, writeBody(readOnly, {}, 0), 2), 0xC0000022u},
        {"read, write-only handle", request(kRead, readBody(writeOnly, 5, 0), 4), 0xC0000022u},
        {"read past 2^63", request(kRead, readBody(both, 2, last), 6), 0xC000000Du},
        {"write past 2^63", request(kWrite, writeBody(both, data, last), 8), 0xC000000Du},
        {"read up to 2^63", request(kRead, readBody(both, 1, last - 1), 10), 0xC0000011u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes a = exchange(compound({c.e}));
        ASSERT_GE(a.size(), 64u);
        EXPECT_EQ(answerAt(a, 0).status, c.status);
        Bytes echo = exchange(compound({request(13, {4, 0, 0, 0}, c.e.mid + 1)}));
        ASSERT_GE(echo.size(), 64u);
        EXPECT_EQ(answerAt(echo, 0).status, 0u);
    }
    EXPECT_EQ(readFile("r.bin"), pattern(10));
}

TEST_F(ReadWriteTest, UnknownHandlesAndFolders)
{
    writeFile("f.bin", pattern(5));
    const uint16_t dir = open("", true);
    ASSERT_NE(dir, 0);
    Bytes flush = {24, 0, 0, 0, 0, 0, 0, 0};
    put_fid(flush, 0x4123);
    Bytes lock = {48, 0, 1, 0, 0, 0, 0, 0};
    put_fid(lock, 0x4123);
    lock.resize(48, 0);
    struct Case {
        const char *name;
        Element e;
        uint32_t status;
    };
    const Case cases[] = {
        {"read", request(kRead, readBody(0x4123, 5, 0), 0), 0xC0000008u},
        {"write", request(kWrite, writeBody(0x4123, {1}, 0), 1), 0xC0000008u},
        {"flush", request(kFlush, flush, 2), 0xC0000008u},
        {"lock", request(kLock, lock, 3), 0xC0000008u},
        {"read a folder", request(kRead, readBody(dir, 5, 0), 4), 0xC0000010u},
        {"write a folder", request(kWrite, writeBody(dir, {1}, 0), 5), 0xC0000010u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes a = exchange(compound({c.e}));
        ASSERT_GE(a.size(), 64u);
        EXPECT_EQ(answerAt(a, 0).status, c.status);
    }
}

TEST_F(ReadWriteTest, FlushAndLockSucceedOnAFileAndLocksMustLieInsideTheMessage)
{
    writeFile("l.bin", pattern(5));
    const uint16_t fid = open("l.bin");
    ASSERT_NE(fid, 0);
    Bytes flush = {24, 0, 0, 0, 0, 0, 0, 0};
    put_fid(flush, fid);
    Bytes a = exchange(compound({request(kFlush, flush, 0)}));
    ASSERT_EQ(a.size(), 68u);
    EXPECT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_EQ(get_le16(&a[64]), 4u);

    auto lock = [&](uint16_t count, size_t elements) {
        Bytes b = {48, 0};
        put_le16(b, count);
        put_le32(b, 0);
        put_fid(b, fid);
        b.resize(b.size() + 24 * elements, 0);
        return b;
    };
    struct Case {
        uint16_t count;
        size_t elements;
        uint32_t status;
    };
    const Case cases[] = {{1, 1, 0}, {3, 3, 0}, {2, 1, 0xC000000Du}, {0xFFFF, 1, 0xC000000Du}};
    uint64_t mid = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " locks, " + std::to_string(c.elements) + " sent");
        a = exchange(compound({request(kLock, lock(c.count, c.elements), mid++)}));
        ASSERT_GE(a.size(), 64u);
        EXPECT_EQ(answerAt(a, 0).status, c.status);
    }
}

}  // namespace
