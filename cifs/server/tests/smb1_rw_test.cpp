// SMB1 READ_ANDX, READ, WRITE_ANDX, WRITE, LOCKING_ANDX, SEEK and FLUSH
// through the dispatcher on files of a temporary folder, with and without
// direct transfer (a signing session has none).
#include "smb1_wire.h"

#include "cscommands.h"


#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <fstream>
#include <iterator>

using namespace smb1test;

namespace {

class Smb1RwTest : public Smb1ShareTest {
protected:
    void SetUp() override
    {
        Smb1ShareTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        session = csGetSessionBySocket();
        session->capabilities = 0xE07C;
    }

    // Signing on (waiting for its key, so nothing is checked): no direct transfer.
    void sign(bool on)
    {
        session->signingActive = on;
        session->waitingForFirstKey = 1;
    }

    CSFile *file(const std::string &name, const std::string &content, uint32_t pid = 0x0101)
    {
        std::string path = dir.path() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return openFile(tree, path, pid);
    }

    std::string contents(const std::string &name)
    {
        std::ifstream in(dir.path() + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }


    Message readAndX(uint16_t fid, uint32_t offset, uint16_t maxCount, uint32_t maxCountHigh = 0)
    {
        Message m = base(0x2E);
        m.words = {0xFF, 0, 0, 0};
        put_le16(m.words, fid);
        put_le32(m.words, offset);
        put_le16(m.words, maxCount);
        put_le16(m.words, 0);
        put_le32(m.words, maxCountHigh);
        put_le16(m.words, 0);
        put_le32(m.words, 0);
        return m;
    }

    // WRITE_ANDX (14 words) with its data right after ByteCount and a pad byte.
    Message writeAndX(uint16_t fid, uint32_t offset, const std::string &text, int32_t countDelta = 0)
    {
        Message m = base(0x2F);
        m.words = {0xFF, 0, 0, 0};
        put_le16(m.words, fid);
        put_le32(m.words, offset);
        put_le32(m.words, 0);
        put_le16(m.words, 0);
        put_le16(m.words, 0);
        put_le16(m.words, 0);
        put_le16(m.words, uint16_t(text.size() + countDelta));
        put_le16(m.words, 32 + 1 + 28 + 2 + 1);
        put_le32(m.words, 0);
        m.data.push_back(0);
        m.data.insert(m.data.end(), text.begin(), text.end());
        return m;
    }

    // The data an answer to READ_ANDX carries in its own message.
    static std::string readData(const Answer &a)
    {
        const uint32_t length = uint32_t(a.word(10)) | uint32_t(a.word(14)) << 16;
        const uint16_t offset = a.word(12);
        if (offset + length > a.m.size())
            return "<outside>";
        return std::string(a.m.begin() + offset, a.m.begin() + offset + length);
    }

    CSSession *session = nullptr;
};

TEST_F(Smb1RwTest, ReadAndXCases)
{
    CSFile *f = file("a.txt", "abcdefghijklmnopqrstuvwxyz");
    ASSERT_NE(f, nullptr);
    struct Case {
        const char *what;
        bool signing;
        uint32_t offset;
        uint16_t maxCount;
        uint32_t maxCountHigh;
        std::string data;
    } cases[] = {
        {"buffered", true, 3, 4, 0, "defg"},
        {"buffered past the end", true, 20, 100, 0, "uvwxyz"},
        {"direct, cut at the end of file", false, 20, 100, 0, "uvwxyz"},
        {"direct at the end of file", false, 26, 100, 0, ""},
        {"direct past the end of file", false, 40, 100, 0, ""},
        {"MaxCountHigh 0xFFFF ignored", true, 0, 2, 0xFFFF, "ab"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sign(c.signing);
        Answer a = ask(readAndX(f->fid, c.offset, c.maxCount, c.maxCountHigh));
        ASSERT_EQ(a.status(), 0u);
        ASSERT_EQ(a.wordCount(), 12);
        EXPECT_EQ(a.word(4), 0xFFFF);
        EXPECT_EQ(a.word(12) % 4, 0) << "data at a 4-byte boundary";
        EXPECT_EQ(readData(a), c.data);
    }
}

TEST_F(Smb1RwTest, SignedLargeReadStaysInTheBuffer)
{
    CSFile *f = file("big.bin", std::string(300000, 'x'));
    ASSERT_NE(f, nullptr);
    sign(true);
    Answer a = ask(readAndX(f->fid, 0, 0xFFFF, 1));
    ASSERT_EQ(a.status(), 0u);
    const uint32_t length = uint32_t(a.word(10)) | uint32_t(a.word(14)) << 16;
    EXPECT_GT(length, 60000u);
    EXPECT_LE(a.word(12) + length, 65664u);
    EXPECT_EQ(readData(a), std::string(length, 'x'));
    // The next read goes on where this one stopped.
    EXPECT_EQ(f->position, length);
}

TEST_F(Smb1RwTest, ReadRefusals)
{
    CSFile *f = file("a.txt", "abc");
    ASSERT_NE(f, nullptr);
    session->capabilities = 0;
    EXPECT_EQ(ask(readAndX(f->fid, 0, 1, 1)).status(), 0xC0000022u) << "no large reads negotiated";
    session->capabilities = 0xE07C;
    EXPECT_EQ(ask(readAndX(0x7777, 0, 1)).status(), 0xC0000008u);
    Message chained = readAndX(f->fid, 0, 1);
    chained.words[0] = 0x2F;
    EXPECT_EQ(ask(chain(chained, lastBlock())).status(), 0xC0000001u);
}

TEST_F(Smb1RwTest, WriteAndXCases)
{
    for (bool signing : {true, false}) {
        SCOPED_TRACE(signing ? "buffered" : "direct");
        sign(signing);
        CSFile *f = file("w.txt", "0123456789");
        ASSERT_NE(f, nullptr);
        Answer a = ask(writeAndX(f->fid, 3, "abc"));
        ASSERT_EQ(a.status(), 0u);
        ASSERT_EQ(a.wordCount(), 6);
        EXPECT_EQ(a.word(4), 3);
        EXPECT_EQ(contents("w.txt"), "012abc6789");
        EXPECT_EQ(csGetNameByNid(f->nid)->changed, 1u);
        // A count past the message is refused; the connection goes on.
        EXPECT_EQ(ask(writeAndX(f->fid, 0, "xyz", 5)).status(), 0xC000000Du);
        EXPECT_EQ(contents("w.txt"), "012abc6789");
        // Zero bytes at 100: the file's length.
        EXPECT_EQ(ask(writeAndX(f->fid, 100, "")).status(), 0u);
        EXPECT_EQ(std::filesystem::file_size(dir.path() + "/w.txt"), 100u);
        csReleaseFile(f->fid);
    }
}

TEST_F(Smb1RwTest, LargeWriteWithoutPad)
{
    // As smbtorture sends it: DataOffset 63 (no pad byte), 65468 bytes.
    for (bool signing : {false, true}) {
        SCOPED_TRACE(signing ? "buffered" : "direct");
        sign(signing);
        CSFile *f = file("big.txt", "");
        ASSERT_NE(f, nullptr);
        const std::string text(65468, signing ? 's' : 'd');
        Message m = writeAndX(f->fid, 0, text);
        m.words[22] = 63;
        m.data.erase(m.data.begin());
        Answer a = ask(m);
        ASSERT_EQ(a.status(), 0u);
        EXPECT_EQ(a.word(4), 65468);
        EXPECT_EQ(contents("big.txt"), text);
        csReleaseFile(f->fid);
    }
}

// A file that refuses a direct write's data half-way (past the size limit,
// as a full disk would) answers the error; the connection goes on.
TEST_F(Smb1RwTest, AFileRefusingDirectWriteDataAnswersTheError)
{
    sign(false);
    CSFile *f = file("full.txt", "");
    ASSERT_NE(f, nullptr);
    Answer a;
    {
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = 1 << 20;
        void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
        a = ask(writeAndX(f->fid, (1 << 20) - 1000, std::string(65468, 'f')));
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, handler);
    }
    EXPECT_NE(a.status(), 0u);
    EXPECT_EQ(a.m.size(), 35u);
    EXPECT_EQ(readData(ask(readAndX(f->fid, 0, 3))), std::string(3, '\0'));
    csReleaseFile(f->fid);
}

TEST_F(Smb1RwTest, WritesToAReadOnlyHandleAreRefused)
{
    for (bool signing : {false, true}) {
        SCOPED_TRACE(signing ? "buffered" : "direct");
        sign(signing);
        CSFile *f = file("ro.txt", "abc");
        ASSERT_NE(f, nullptr);
        ::close(f->fd);
        f->fd = ::open((dir.path() + "/ro.txt").c_str(), O_RDONLY);
        // The connection stays: the next request is answered too.
        EXPECT_EQ(ask(writeAndX(f->fid, 0, "x")).status(), 0xC0000022u);
        EXPECT_EQ(readData(ask(readAndX(f->fid, 0, 3))), "abc");
        EXPECT_EQ(contents("ro.txt"), "abc");
        csReleaseFile(f->fid);
    }
}

TEST_F(Smb1RwTest, WriteAndReadCore)
{
    CSFile *f = file("c.txt", "hello world");
    ASSERT_NE(f, nullptr);
    Message w = base(0x0B);
    put_le16(w.words, f->fid);
    put_le16(w.words, 5);
    put_le32(w.words, 6);
    put_le16(w.words, 0);
    w.data = {0x01, 5, 0, 'W', 'O', 'R', 'L', 'D'};
    Answer a = ask(w);
    ASSERT_EQ(a.status(), 0u);
    EXPECT_EQ(a.word(0), 5);
    EXPECT_EQ(contents("c.txt"), "hello WORLD");
    w.data = {0x01, 50, 0, 'x'};
    EXPECT_EQ(ask(w).status(), 0xC000000Du) << "DataLength past the byte block";
    w.data = {0x02, 1, 0, 'x'};
    EXPECT_EQ(ask(w).status(), 0xC0000001u) << "buffer format";

    Message r = base(0x0A);
    put_le16(r.words, f->fid);
    put_le16(r.words, 4);
    put_le32(r.words, 2);
    put_le16(r.words, 0);
    a = ask(r);
    ASSERT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 5);
    EXPECT_EQ(a.word(0), 4);
    EXPECT_EQ(a.byteCount(), 7);
    EXPECT_EQ(a.bytes()[0], 0x01);
    EXPECT_EQ(std::string(a.bytes() + 3, a.bytes() + 7), "llo ");
}

TEST_F(Smb1RwTest, SeekKeepsReadsInPlace)
{
    CSFile *f = file("s.txt", "abcdefghij");
    ASSERT_NE(f, nullptr);
    sign(true);
    ASSERT_EQ(readData(ask(readAndX(f->fid, 0, 2))), "ab");
    Message seek = base(0x12);
    put_le16(seek.words, f->fid);
    put_le16(seek.words, 2);
    put_le32(seek.words, 0);
    Answer a = ask(seek);
    ASSERT_EQ(a.status(), 0u);
    EXPECT_EQ(a.dword(0), 10u);
    // The read at 2 after the seek to the end still reads from 2.
    EXPECT_EQ(readData(ask(readAndX(f->fid, 2, 2))), "cd");
    seek.words[2] = 3;
    EXPECT_EQ(ask(seek).status(), 0xC0000001u);
}

TEST_F(Smb1RwTest, LockingAndFlush)
{
    CSFile *f = file("l.txt", "abc", 0x0202);
    ASSERT_NE(f, nullptr);
    Message lock = base(0x24);
    lock.words = {0xFF, 0, 0, 0};
    put_le16(lock.words, f->fid);
    lock.words.insert(lock.words.end(), {0, 0});
    put_le32(lock.words, 0);
    put_le16(lock.words, 0);
    put_le16(lock.words, 1);
    lock.data = {0x01, 0x01, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    Answer a = ask(lock);
    EXPECT_EQ(a.status(), 0u);
    EXPECT_EQ(a.wordCount(), 2);

    Message flush = base(0x05);
    put_le16(flush.words, 0xFFFF);
    flush.pid = 0x0303;
    EXPECT_EQ(ask(flush).status(), 0xC0000008u) << "no file of that process";
    flush.pid = 0x0202;
    EXPECT_EQ(ask(flush).status(), 0u);
    flush.words = {};
    put_le16(flush.words, f->fid);
    EXPECT_EQ(ask(flush).status(), 0u);
}

}  // namespace
