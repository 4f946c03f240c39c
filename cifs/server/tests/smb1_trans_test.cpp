// SMB1 TRANSACTION, TRANSACTION2 and NT_TRANSACT through the dispatcher:
// routing, the answer's words, blocks outside the message, the security
// descriptor subcommands, the late pipe answer and the RAP packers.
#include "smb1_wire.h"

#include "cscommands.h"
#include "cstrans.h"
#include "cstrans2.h"


#include <fstream>

using namespace smb1test;

namespace {

std::string gCalled;
CSLateResponseContext gLate;
bool gAnswerLater;

// Setup 0 words, ByteCount, a pad byte, 2 parameter bytes, 3 data bytes.
uint32_t answerFromHandler(CSTransaction *t, const char *who)
{
    gCalled = who;
    gCalled += ":" + std::to_string(t->setupCount) + ":" + std::to_string(t->parameterCount) + ":" +
               std::to_string(t->dataCount);
    if (gAnswerLater) {
        std::memset(&gLate, 0, sizeof gLate);
        csDispatchSaveResponseContext(&gLate);
        return CS_STATUS_LATE;
    }
    uint8_t *p = t->byteCount;
    p[0] = 6, p[1] = 0, p[2] = 0;
    t->parametersOut = p + 3;
    t->parametersOut[0] = 0xAA;
    t->parametersOut[1] = 0xBB;
    t->parameterCountOut = 2;
    t->dataOut = p + 5;
    std::memcpy(t->dataOut, "xyz", 3);
    t->dataCountOut = 3;
    return 0;
}

}  // namespace

extern "C" {
uint32_t csRapApiEntry(CSTransaction *t) { return answerFromHandler(t, "lanman"); }
uint32_t csNamedPipeEntry(CSTransaction *t) { return answerFromHandler(t, "pipe"); }
uint32_t csTrans2FindFirst(CSTrans2Request *r)
{
    gCalled = "find:" + std::to_string(r->parameterCount) + ":" + std::to_string(r->dataCount);
    r->outParameters[0] = 0x11;
    r->outParameterCount = 1;
    r->outData = r->outParameters + 2;
    std::memcpy(r->outData, "data", 4);
    r->outDataCount = 4;
    return 0;
}
}

namespace {

class Smb1TransTest : public Smb1ShareTest {
protected:
    void SetUp() override
    {
        Smb1ShareTest::SetUp();
        gCalled.clear();
        gAnswerLater = false;
    }

    Message ntTransact(uint16_t function, const Bytes &parameters, const Bytes &data, uint32_t maxData)
    {
        Message m = base(0xA0);
        const uint32_t base = 32 + 1 + 38 + 2;
        m.words = {0, 0, 0};
        put_le32(m.words, uint32_t(parameters.size()));
        put_le32(m.words, uint32_t(data.size()));
        put_le32(m.words, 1000);
        put_le32(m.words, maxData);
        put_le32(m.words, uint32_t(parameters.size()));
        put_le32(m.words, base);
        put_le32(m.words, uint32_t(data.size()));
        put_le32(m.words, uint32_t(base + parameters.size()));
        m.words.push_back(0);
        put_le16(m.words, function);
        m.data = parameters;
        m.data.insert(m.data.end(), data.begin(), data.end());
        return m;
    }

    CSFile *openAny()
    {
        std::string path = dir.path() + "/f.txt";
        std::ofstream(path) << "x";
        return openFile(tree, path);
    }
};

TEST_F(Smb1TransTest, TransactionRoutesByName)
{
    struct Case {
        const char *name;
        uint32_t status;
        std::string called;
    } cases[] = {
        {"\\PIPE\\LANMAN", 0, "lanman:2:2:3"},
        {"\\PIPE\\srvsvc", 0, "pipe:2:2:3"},
        {"\\MAILSLOT\\OTHER", 0xC00000BBu, ""},
        {"\\OTHER", 0xC00000BBu, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gCalled.clear();
        Answer a = ask(transaction(0x25, {0x26, 0x4001}, c.name, {1, 2}, {3, 4, 5}));
        EXPECT_EQ(a.status(), c.status);
        EXPECT_EQ(gCalled, c.called);
        if (c.status)
            continue;
        ASSERT_EQ(a.wordCount(), 10);
        EXPECT_EQ(a.word(0), 2);
        EXPECT_EQ(a.word(2), 3);
        EXPECT_EQ(a.word(6), 2);
        EXPECT_EQ(a.word(12), 3);
        const uint16_t parameters = a.word(8), data = a.word(14);
        ASSERT_LE(data + 3u, a.m.size());
        EXPECT_EQ(Bytes(a.m.begin() + parameters, a.m.begin() + parameters + 2), (Bytes{0xAA, 0xBB}));
        EXPECT_EQ(std::string(a.m.begin() + data, a.m.begin() + data + 3), "xyz");
    }
}

TEST_F(Smb1TransTest, BlocksOutsideTheMessageAreRefused)
{
    struct Case {
        const char *what;
        size_t word;  // byte offset of the field among the words
        uint16_t value;
    } cases[] = {
        {"parameter offset past the end", 20, 4000}, {"parameter count past the end", 18, 4000},
        {"data offset past the end", 24, 65000},     {"data count past the end", 22, 300},
        {"data offset inside the header", 24, 8},    {"setup count beyond the words", 26, 5},
    };
    for (uint8_t command : {uint8_t(0x25), uint8_t(0x32)}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (command == 0x25 ? " (TRANSACTION)" : " (TRANSACTION2)"));
            Message m = command == 0x25
                            ? transaction(0x25, {0x26, 0x4001}, "\\PIPE\\srvsvc", {1, 2}, {3, 4, 5})
                            : transaction(0x32, {0x01}, "", {1, 2}, {3, 4, 5});
            if (c.word == 26)
                m.words[26] = uint8_t(c.value);
            else {
                m.words[c.word] = uint8_t(c.value);
                m.words[c.word + 1] = uint8_t(c.value >> 8);
            }
            Answer a = ask(m);
            EXPECT_EQ(a.status(), 0xC000000Du);
            EXPECT_EQ(gCalled, "");
        }
    }
    Message unterminated = transaction(0x25, {0x26, 0x4001}, "\\PIPE\\srvsvc", {}, {});
    unterminated.data.resize(unterminated.data.size() - 2);
    EXPECT_EQ(ask(unterminated).status(), 0xC000000Du);
}

TEST_F(Smb1TransTest, Transaction2Routing)
{
    Answer a = ask(transaction(0x32, {0x01}, "", {1, 2, 3}, {4, 5}));
    ASSERT_EQ(a.status(), 0u);
    EXPECT_EQ(gCalled, "find:3:2");
    ASSERT_EQ(a.wordCount(), 10);
    EXPECT_EQ(a.word(6), 1);
    EXPECT_EQ(a.word(12), 4);
    const uint16_t parameters = a.word(8), data = a.word(14);
    EXPECT_EQ(a.m[parameters], 0x11);
    EXPECT_EQ(std::string(a.m.begin() + data, a.m.begin() + data + 4), "data");
    EXPECT_EQ(a.byteCount(), data + 4 - a.bytesOffset());

    for (uint16_t subcommand : {0x04, 0x0E, 0x20, 0xFFFF}) {
        SCOPED_TRACE(subcommand);
        EXPECT_EQ(ask(transaction(0x32, {subcommand}, "", {}, {})).status(), 0xC00000BBu);
    }
    EXPECT_EQ(ask(transaction(0x32, {0x01, 0}, "", {}, {})).status(), 0xC0000001u) << "16 words";
}

TEST_F(Smb1TransTest, NtTransactRoutingAndDescriptors)
{
    for (uint16_t function : {0, 2, 5, 7, 0x100}) {
        SCOPED_TRACE(function);
        EXPECT_EQ(ask(ntTransact(function, {}, {}, 0)).status(), 0xC00000BBu);
    }
    CSFile *f = openAny();
    ASSERT_NE(f, nullptr);
    for (uint32_t information : {1u, 4u}) {
        SCOPED_TRACE(information);
        Bytes parameters;
        put_le16(parameters, f->fid);
        put_le16(parameters, 0);
        put_le32(parameters, information);
        uint32_t length = 0;
        const uint8_t *empty = csGetEmptySd(information, &length);
        EXPECT_EQ(length, information == 1 ? 32u : 48u);

        Answer a = ask(ntTransact(6, parameters, {}, 0));
        EXPECT_EQ(a.status(), 0xC0000023u);
        ASSERT_EQ(a.wordCount(), 18);
        EXPECT_EQ(get_le32(a.words() + 11), 4u);
        EXPECT_EQ(get_le32(a.m.data() + get_le32(a.words() + 15)), length) << "LengthNeeded";
        EXPECT_EQ(get_le32(a.words() + 23), 0u);

        a = ask(ntTransact(6, parameters, {}, 1000));
        ASSERT_EQ(a.status(), 0u);
        const uint32_t count = get_le32(a.words() + 23), at = get_le32(a.words() + 27);
        ASSERT_EQ(count, length);
        ASSERT_LE(at + count, a.m.size());
        EXPECT_EQ(Bytes(a.m.begin() + at, a.m.begin() + at + count), Bytes(empty, empty + length));

        EXPECT_EQ(ask(ntTransact(3, parameters, Bytes(empty, empty + length), 0)).status(), 0u);
        Bytes other(empty, empty + length);
        other.back() ^= 1;
        EXPECT_EQ(ask(ntTransact(3, parameters, other, 0)).status(), 0xC00000BBu);
    }
    Bytes unknown;
    put_le16(unknown, 0x7777);
    put_le16(unknown, 0);
    put_le32(unknown, 4);
    EXPECT_EQ(ask(ntTransact(6, unknown, {}, 1000)).status(), 0xC0000008u);
    EXPECT_EQ(ask(ntTransact(6, {1, 2}, {}, 1000)).status(), 0xC000000Du) << "short parameters";
}

TEST_F(Smb1TransTest, PipeAnswerSentLater)
{
    gAnswerLater = true;
    Answer a = ask(transaction(0x25, {0x26, 0x4001}, "\\PIPE\\srvsvc", {}, {1, 2}));
    EXPECT_TRUE(a.none());
    csTransactionPrepareLateResponse(&gLate);
    ASSERT_NE(gLate.response, nullptr);
    uint8_t *p = gLate.response;
    p[0] = 4;
    p[1] = 0;
    p[2] = 0;
    std::memcpy(p + 3, "abcd", 4);
    ASSERT_EQ(csTransactionSendLateResponse(&gLate, 0, 7), 1);
    a = read();
    ASSERT_FALSE(a.none());
    EXPECT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 10);
    EXPECT_EQ(a.word(2), 4);
    EXPECT_EQ(a.word(12), 4);
    EXPECT_EQ(a.word(14), 56);
    EXPECT_EQ(std::string(a.m.begin() + 56, a.m.begin() + 60), "abcd");
}

TEST(RapPackers, OneLetterOneValue)
{
    static const char bytes[] = "abcdefghijklmnop";
    const uintptr_t text = reinterpret_cast<uintptr_t>(bytes);
    struct Case {
        const char *what;
        bool data;
        std::string descriptor;
        uintptr_t value;
        std::string written;
        size_t consumed;
    } cases[] = {
        {"G3 copies three bytes", false, "G3x", text, "abc", 2},
        {"g without a count copies one", false, "gx", text, "a", 1},
        {"G0 copies one", false, "G0", text, "a", 2},
        {"H writes 16 bits", false, "H", 0x1234, std::string("\x34\x12", 2), 1},
        {"e writes 16 bits", false, "e", 1, std::string("\x01\x00", 2), 1},
        {"I writes 32 bits", false, "I", 0x04030201, "\x01\x02\x03\x04", 1},
        {"an unknown parameter letter", false, "Q", 7, "", 1},
        {"B12 copies twelve", true, "B12", text, "abcdefghijkl", 3},
        {"W writes 16 bits", true, "W", 5, std::string("\x05\x00", 2), 1},
        {"z writes 32 bits", true, "z", 1, std::string("\x01\x00\x00\x00", 4), 1},
        {"O skips four", true, "O", 0, std::string(4, '\x7F'), 1},
        {"the end writes nothing", true, "", text, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t out[32];
        std::memset(out, 0x7F, sizeof out);
        uint8_t *at = out;
        const char *d = c.descriptor.c_str();
        (c.data ? writeResponseData : writeResponseParameter)(&d, &at, c.value);
        EXPECT_EQ(size_t(d - c.descriptor.c_str()), c.consumed);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), size_t(at - out)), c.written);
    }
}

}  // namespace
