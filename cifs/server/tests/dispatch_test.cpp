// The SMB1 dispatcher on a socket pair, with test handlers standing in for
// the commands: framing, error modes, AndX bounds, late answers.
#include "smb1_wire.h"

#include "cscommands.h"
#include "csdispatch.h"
#include "csauth.h"
#include "cmsd.h"
#include "cmstring.h"
#include "cssign.h"
#include "nssocket.h"
#include "syfiles.h"
#include "ud_test_env.h"
#include "zmo_acl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

CSLateResponseContext gLate;

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t *p)
{
    return uint32_t(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24));
}

// An empty block: WordCount 0, ByteCount 0.
uint32_t emptyBlock(uint8_t **position)
{
    std::memset(*position, 0, 3);
    *position += 3;
    return 0;
}

}  // namespace

// Test handlers, replacing the library's least versions.
extern "C" {
uint32_t csComEcho(const uint8_t *, uint8_t *, uint8_t **position) { return emptyBlock(position); }
int gReadFd = -1;
uint32_t csComReadAndX(const uint8_t *, uint8_t *, uint8_t **position)
{
    if (gReadFd >= 0 && csDispatchIsDtOut())
        csDispatchDtSet(gReadFd, 26);
    uint8_t *p = *position;
    std::memset(p, 0, 7);
    p[0] = 2;
    *position += 7;
    return 0;
}
uint32_t csComClose(const uint8_t *, uint8_t *, uint8_t **)
{
    return csErrorReturn(0xC0000008u, 0x00060001u);
}
uint32_t csComQueryInformation(const uint8_t *, uint8_t *, uint8_t **position)
{
    emptyBlock(position);
    return 0x80000005u;
}
// The write's payload goes straight to gWriteFd for as many bytes as
// gWriteCount says (the announced DataLength when it is 0).
int gWriteFd = -1;
uint32_t gWriteCount;
uint32_t csComWriteAndX(const uint8_t *params, uint8_t *, uint8_t **position)
{
    uint32_t announced = get16(params + 1 + 20);
    if (csDispatchIsDtIn())
        csDispatchDtSet(gWriteFd, gWriteCount ? gWriteCount : announced);
    uint8_t *p = *position;
    std::memset(p, 0, 7);
    p[0] = 2;
    *position += 7;
    return 0;
}
uint32_t csComFlush(const uint8_t *, uint8_t *, uint8_t **)
{
    std::memset(&gLate, 0, sizeof gLate);
    csDispatchSaveResponseContext(&gLate);
    return CS_STATUS_LATE;
}
}

namespace {

// The SMB1 wire fixture with the dispatcher's own message builder.
class DispatchTest : public smb1test::Smb1Test {
protected:
    // A session message holding an SMB1 header for command, then body.
    static std::vector<uint8_t> smb(uint8_t command, uint8_t flags, uint16_t flags2,
                                    std::vector<uint8_t> body = {0, 0, 0})
    {
        std::vector<uint8_t> m(32, 0);
        m[0] = 0xFF, m[1] = 'S', m[2] = 'M', m[3] = 'B';
        m[4] = command;
        m[9] = flags;
        put16(&m[10], flags2);
        put16(&m[30], 0x1234);
        m.insert(m.end(), body.begin(), body.end());
        return m;
    }
    void send(const std::vector<uint8_t> &message, uint32_t claimed = 0) { sendFrame(message, claimed); }
    // The answer's SMB message, or empty when none came within 200 ms.
    std::vector<uint8_t> answer() { return read().m; }
};

TEST_F(DispatchTest, StatusInTheClientsModeWithFlags)
{
    struct Case {
        const char *what;
        uint8_t command, flags;
        uint16_t flags2;
        uint32_t status;
        uint8_t answerFlags;
        uint16_t answerFlags2;
    } cases[] = {
        {"no row, DOS mode", 0x0C, 0x00, 0x0000, 0xFFFF0002u, 0x88, 0x0001},
        {"no row, NT mode, unicode", 0x0C, 0x10, 0xC000, 0xC00000BBu, 0x98, 0xC001},
        {"success, unicode, DOS mode", 0x2B, 0x00, 0x8000, 0, 0x88, 0x8001},
        {"success, NT mode", 0x2B, 0x00, 0x4000, 0, 0x88, 0x4001},
        {"handler's pair, NT mode", 0x04, 0x00, 0x4000, 0xC0000008u, 0x88, 0x4001},
        {"handler's pair, DOS mode", 0x04, 0x00, 0x0000, 0x00060001u, 0x88, 0x0001},
        {"a warning keeps the body", 0x08, 0x00, 0x0000, 0x80000005u, 0x88, 0x4001},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        send(smb(c.command, c.flags, c.flags2));
        ASSERT_EQ(serve(), 0);
        std::vector<uint8_t> a = answer();
        ASSERT_EQ(a.size(), 35u);
        EXPECT_EQ(get32(&a[5]), c.status);
        EXPECT_EQ(a[9], c.answerFlags);
        EXPECT_EQ(get16(&a[10]), c.answerFlags2);
        EXPECT_EQ(get16(&a[30]), 0x1234);
        EXPECT_EQ(a[32], 0);
    }
}

TEST_F(DispatchTest, KeepAliveIsNotAnswered)
{
    uint8_t keepAlive[4] = {0x85, 0, 0, 0};
    ASSERT_EQ(write(peer, keepAlive, 4), 4);
    EXPECT_EQ(serve(), 0);
    EXPECT_TRUE(answer().empty());
}

TEST_F(DispatchTest, MessagesThatCannotBeServedDropTheClient)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> message;
        uint32_t claimed;
    } cases[] = {
        {"unknown protocol id", {0xFC, 'S', 'M', 'B', 0, 0, 0, 0}, 0},
        {"SMB2 without its dispatcher", {0xFE, 'S', 'M', 'B', 0, 0, 0, 0}, 0},
        {"shorter than a header", std::vector<uint8_t>(20, 0xFF), 0},
        {"longer than a message buffer", smb(0x2B, 0, 0), 70000},
    };
    cases[2].message[1] = 'S', cases[2].message[2] = 'M', cases[2].message[3] = 'B';
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        send(c.message, c.claimed);
        EXPECT_EQ(serve(), -1);
        EXPECT_TRUE(answer().empty());
        // What the failed message left in the pair belongs to nobody now.
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        close(slot.sySocket);
        close(peer);
        slot.sySocket = fds[0];
        peer = fds[1];
    }
}

// ReadAndX (0x2E) blocks: WordCount 2, AndXCommand, reserved, AndXOffset, ByteCount 0.
std::vector<uint8_t> andx(uint8_t next, uint16_t offset)
{
    return {2, next, 0, uint8_t(offset), uint8_t(offset >> 8), 0, 0};
}

TEST_F(DispatchTest, AndXChainsStayInsideTheMessage)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> body;
        uint32_t status;
        size_t size;
    } cases[] = {
        {"back to itself", andx(0x2E, 32), 0xC000000Du, 35},
        {"backwards",
         [] {
             auto b = andx(0x2E, 39);
             auto c = andx(0x2E, 20);
             b.insert(b.end(), c.begin(), c.end());
             return b;
         }(),
         0xC000000Du, 35},
        {"past the end", andx(0x2B, 400), 0xC000000Du, 35},
        {"words past the end",
         [] {
             auto b = andx(0x2B, 39);
             b.push_back(9);
             return b;
         }(),
         0xC000000Du, 35},
        {"read then echo",
         [] {
             auto b = andx(0x2B, 39);
             b.insert(b.end(), {0, 0, 0});
             return b;
         }(),
         0, 32 + 7 + 3},
        {"a chain no longer than it may be",
         [] {
             std::vector<uint8_t> b;
             for (int i = 0; i < 40; ++i) {
                 auto c = andx(0x2E, uint16_t(32 + 7 * (i + 1)));
                 b.insert(b.end(), c.begin(), c.end());
             }
             return b;
         }(),
         0xC000000Du, 35},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        send(smb(0x2E, 0, 0x4000, c.body));
        ASSERT_EQ(serve(), 0);
        std::vector<uint8_t> a = answer();
        ASSERT_EQ(a.size(), c.size);
        EXPECT_EQ(get32(&a[5]), c.status);
        if (c.status == 0) {
            // The read's block names the echo and where its block lies.
            EXPECT_EQ(a[33], 0x2B);
            EXPECT_EQ(get16(&a[35]), 39);
        }
    }
}

TEST_F(DispatchTest, ErrorsOfTheSystemLayerInEachMode)
{
    struct Case {
        int error;
        uint32_t nt, dos;
    } cases[] = {
        {ENOENT, 0xC0000034u, 0x00020001u}, {EACCES, 0xC0000022u, 0x00050001u},
        {EEXIST, 0xC0000035u, 0x00500001u}, {0, 0xC0000001u, 0x00010002u},
        {ENOSPC, 0xC000007Fu, 0x00270003u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        csDispatchSetNtError(1);
        errno = c.error;
        EXPECT_EQ(csErrorGetLast(), c.nt);
        csDispatchSetNtError(0);
        errno = c.error;
        EXPECT_EQ(csErrorGetLast(), c.dos);
    }
}

TEST_F(DispatchTest, ErrorPairsChooseAndSetTheMode)
{
    csDispatchSetNtError(0);
    EXPECT_EQ(csErrorReturn(0xC0000022u, 0), 0xC0000022u);
    EXPECT_EQ(csDispatchIsNtError(), 1u);
    EXPECT_EQ(csErrorReturn(0xC0000022u, 0x00050001u), 0xC0000022u);
    EXPECT_EQ(csErrorReturn(0, 0x00050001u), 0x00050001u);
    EXPECT_EQ(csDispatchIsNtError(), 0u);
    EXPECT_EQ(csErrorReturn(0xC0000022u, 0x00050001u), 0x00050001u);
}

TEST_F(DispatchTest, ResponsesStopShortOf65697Bytes)
{
    static uint8_t response[CS_RESPONSE_LIMIT + 8];
    csDispatchSetNtError(1);
    EXPECT_EQ(csDispatchCheckSpace(response, response + 65000, 696), 0u);
    EXPECT_EQ(csDispatchCheckSpace(response, response + 65000, 697), 0xC0000023u);
    EXPECT_EQ(csDispatchCheckSpace(response, response, 0xFFFFFFFFu), 0xC0000023u);
    csDispatchSetNtError(0);
    EXPECT_EQ(csDispatchCheckSpace(response, response + 1, 65696), 0x00010002u);
}

TEST_F(DispatchTest, AccessOfAnOpenMode)
{
    const uint32_t expected[8] = {0x80000001u, 0x40000002u, 0xC0000003u, 0, 0x00100180u, 0, 0, 0};
    for (uint16_t mode = 0; mode < 8; ++mode)
        EXPECT_EQ(convertVxAccessToNtAccess(uint16_t(mode | 0x40)), expected[mode]) << mode;
}

TEST_F(DispatchTest, LateAnswersAreSignedWithTheSavedSequence)
{
    csDispatchSetSocket(&slot);
    csDispatchSetSocketIp(&address);
    CSSession *session = csGetNewSession();
    ASSERT_NE(session, nullptr);
    session->signingActive = 1;
    std::memset(session->signingKey, 0x5A, sizeof session->signingKey);
    session->responseSequence = 7;

    send(smb(0x05, 0, 0x4000));
    ASSERT_EQ(serve(), 0);
    EXPECT_TRUE(answer().empty());
    EXPECT_EQ(gLate.sequence, 7u);
    EXPECT_EQ(gLate.mid, 0x1234);

    session->responseSequence = 41;  // other requests came in between
    session->waitingForFirstKey = 0;
    csDispatchPrepareLateResponse(&gLate);
    ASSERT_NE(gLate.response, nullptr);
    EXPECT_EQ(gLate.remaining, CS_LATE_BUFFER_SIZE - 4 - 32);
    std::memset(gLate.response, 0, 3);
    ASSERT_EQ(csDispatchSendLateResponse(&gLate, 0, 3), 1);
    std::vector<uint8_t> a = answer();
    ASSERT_EQ(a.size(), 35u);
    EXPECT_EQ(session->responseSequence, 41u);

    std::vector<uint8_t> expected = a;
    session->responseSequence = 7;
    csCreateMessageSignatureSMB(session, nullptr, expected.data(), uint32_t(expected.size()));
    EXPECT_EQ(std::memcmp(&a[14], &expected[14], 8), 0);
    session->responseSequence = 41;
    csCreateMessageSignatureSMB(session, nullptr, expected.data(), uint32_t(expected.size()));
    EXPECT_NE(std::memcmp(&a[14], &expected[14], 8), 0);
}

TEST_F(DispatchTest, ALateBodyThatDoesNotFitIsRefused)
{
    send(smb(0x05, 0, 0x4000));
    ASSERT_EQ(serve(), 0);
    csDispatchPrepareLateResponse(&gLate);
    ASSERT_EQ(csDispatchSendLateResponse(&gLate, 0, gLate.remaining + 1), 1);
    std::vector<uint8_t> a = answer();
    ASSERT_EQ(a.size(), 35u);
    EXPECT_EQ(get32(&a[5]), 0xC0000023u);
}

// WriteAndX with n bytes of data: 12 words, DataOffset 60 (an even one, so
// a pad byte precedes the data), ByteCount pad + n.
std::vector<uint8_t> writeAndX(uint32_t n)
{
    std::vector<uint8_t> b(1 + 24 + 2 + 1, 0);
    b[0] = 12;
    b[1] = 0xFF;
    put16(&b[1 + 20], uint16_t(n));
    put16(&b[1 + 22], 60);
    put16(&b[25], uint16_t(n + 1));
    for (uint32_t i = 0; i < n; ++i)
        b.push_back(uint8_t('a' + i % 26));
    return b;
}

class DirectTransferTest : public DispatchTest {
protected:
    void SetUp() override
    {
        DispatchTest::SetUp();
        if (IsSkipped())
            return;
        file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        gWriteFd = fileno(file);
        gWriteCount = 0;
    }
    void TearDown() override
    {
        if (file)
            std::fclose(file);
        gWriteFd = -1;
        DispatchTest::TearDown();
    }
    std::string written()
    {
        std::string out(size_t(lseek(gWriteFd, 0, SEEK_END)), '\0');
        pread(gWriteFd, out.data(), out.size(), 0);
        return out;
    }
    FILE *file = nullptr;
};

TEST_F(DirectTransferTest, APayloadGoesToTheFileAndTheNextRequestIsServed)
{
    send(smb(0x2F, 0x08, 0x4000, writeAndX(100)));
    send(smb(0x2B, 0, 0x4000));
    ASSERT_EQ(serve(), 0);
    std::vector<uint8_t> a = answer();
    ASSERT_EQ(a.size(), 39u);
    EXPECT_EQ(get32(&a[5]), 0u);
    EXPECT_EQ(written().size(), 100u);
    EXPECT_EQ(written().substr(0, 3), "abc");
    ASSERT_EQ(serve(), 0);
    EXPECT_EQ(answer().size(), 35u);
}

TEST_F(DirectTransferTest, ACountPastTheMessageTakesNothingAndDropsTheClient)
{
    gWriteCount = 150;
    send(smb(0x2F, 0x08, 0x4000, writeAndX(100)));
    send(smb(0x2B, 0, 0x4000));
    EXPECT_EQ(serve(), -1);
    EXPECT_TRUE(answer().empty());
    EXPECT_EQ(written().size(), 0u);
}

TEST_F(DirectTransferTest, AShortMoveDropsTheClient)
{
    std::vector<uint8_t> m = smb(0x2F, 0x08, 0x4000, writeAndX(100));
    uint32_t claimed = uint32_t(m.size());
    m.resize(m.size() - 60);
    send(m, claimed);
    shutdown(peer, SHUT_WR);
    EXPECT_EQ(serve(), -1);
    EXPECT_TRUE(answer().empty());
}

class IdentityTest : public DispatchTest {
protected:
    void SetUp() override
    {
        DispatchTest::SetUp();
        if (IsSkipped())
            return;
        csDispatchSetSocket(&slot);
        csDispatchSetSocketIp(&address);
        CSSession *session = csGetNewSession();
        ASSERT_NE(session, nullptr);
        user = csGetNewUser(session);
        ASSERT_NE(user, nullptr);
        cmAnsiToUnicode(user->name, "bob");
        user->loggedOn = user->authenticated = 1;
    }
    void TearDown() override
    {
        unsetenv("ZMO_ACL_POLICY");
        zmo_acl_init();
        DispatchTest::TearDown();
    }
    std::vector<uint8_t> echo()
    {
        std::vector<uint8_t> m = smb(0x2B, 0, 0x4000);
        put16(&m[28], user->uid);
        return m;
    }
    CSUser *user = nullptr;
};

TEST_F(IdentityTest, EveryRequestRunsAsItsUser)
{
    for (int i = 0; i < 2; ++i) {
        // Whatever set the identity in between (an SMB2 request, say), the
        // next SMB1 request of bob runs as bob.
        ASSERT_EQ(zmo_acl_set_user("somebody"), 0);
        send(echo());
        ASSERT_EQ(serve(), 0);
        EXPECT_EQ(answer().size(), 35u);
        EXPECT_STREQ(zmo_acl_get_user(), "bob");
    }
}

TEST_F(IdentityTest, AnIdentityThatCannotBeSetIsRefused)
{
    std::string policy = testing::TempDir() + "dispatch_acl_policy";
    std::ofstream(policy) << "refuse bob\n";
    setenv("ZMO_ACL_POLICY", policy.c_str(), 1);
    ASSERT_EQ(zmo_acl_init(), 0);
    send(echo());
    ASSERT_EQ(serve(), 0);
    std::vector<uint8_t> a = answer();
    ASSERT_EQ(a.size(), 35u);
    EXPECT_EQ(get32(&a[5]), 0xC0000022u);
    std::remove(policy.c_str());
}

TEST_F(DispatchTest, ABadSignatureIsRefusedInTheClientsMode)
{
    csDispatchSetSocket(&slot);
    csDispatchSetSocketIp(&address);
    CSSession *session = csGetNewSession();
    ASSERT_NE(session, nullptr);
    session->signingActive = 1;
    session->waitingForFirstKey = 0;
    std::memset(session->signingKey, 0x5A, sizeof session->signingKey);
    const struct {
        uint16_t flags2;
        uint32_t status;
    } cases[] = {{0x4000, 0xC0000022u}, {0x0000, 0x00FF07D4u}};
    for (const auto &c : cases) {
        send(smb(0x2B, 0, c.flags2));
        ASSERT_EQ(serve(), 0);
        std::vector<uint8_t> a = answer();
        ASSERT_EQ(a.size(), 35u);
        EXPECT_EQ(get32(&a[5]), c.status);
    }
}

TEST_F(DispatchTest, NoResourcesAnswersTheNextMessage)
{
    csDispatchSetNtError(1);
    std::vector<uint8_t> m = smb(0x2B, 0, 0xC000, {1, 7, 0, 0, 0});
    send(m);
    ASSERT_EQ(csDispatchErrorNoResources(&slot), 0);
    std::vector<uint8_t> a = answer();
    ASSERT_EQ(a.size(), 35u);
    EXPECT_EQ(get32(&a[5]), 0xC000009Au);
    EXPECT_EQ(get16(&a[10]) & 0x4000, 0x4000);
    EXPECT_EQ(a[32], 0);
    // A message too short for a header is not answered.
    send(std::vector<uint8_t>(20, 0));
    EXPECT_EQ(csDispatchErrorNoResources(&slot), -1);
}

TEST_F(DirectTransferTest, AReadSendsTheFileBehindItsAnswer)
{
    ASSERT_EQ(pwrite(gWriteFd, "abcdefghijklmnopqrstuvwxyz", 26, 0), 26);
    ASSERT_EQ(lseek(gWriteFd, 0, SEEK_SET), 0);
    gReadFd = gWriteFd;
    send(smb(0x2E, 0, 0x4000, andx(0xFF, 0)));
    int served = serve();
    gReadFd = -1;
    ASSERT_EQ(served, 0);
    std::vector<uint8_t> a = answer();
    ASSERT_EQ(a.size(), 39u + 26u);
    EXPECT_EQ(get32(&a[5]), 0u);
    EXPECT_EQ(std::string(a.begin() + 39, a.end()), "abcdefghijklmnopqrstuvwxyz");
}

}  // namespace
