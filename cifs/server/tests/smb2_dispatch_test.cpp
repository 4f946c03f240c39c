// The SMB2 dispatcher on a socket pair: credits and the MessageId window,
// the per-element checks, compounds, signatures and transforms.
#include "smb2_fixture.h"

#include <cstdio>
#include <set>
#include <string>

using namespace smb2_test;

// Test handlers for two file commands: CREATE names a file, CLOSE says
// which one it was given.
namespace {
uint16_t gCreatedFid = 0x4005;
uint16_t gClosedFid;
}  // namespace

extern "C" {
uint32_t csSmb2OnCreate(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *, CSTree *,
                        CMBufferWriter *writer)
{
    uint16_t fid = gCreatedFid;
    cs2ParseFid(&fid);
    cmBufferWriteUint16(writer, 89);
    cmBufferWriteZeroes(writer, 88);
    return 0;
}
uint32_t csSmb2OnClose(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *, CSUser *,
                       CSTree *, CMBufferWriter *writer)
{
    cmBufferReaderSkip(reader, 6);
    cmBufferReadUint16(reader, &gClosedFid);
    cs2ParseFid(&gClosedFid);
    cmBufferWriteUint16(writer, 60);
    cmBufferWriteZeroes(writer, 58);
    return 0;
}
// A WRITE whose payload goes to gWriteFd, a READ that sends gReadFd.
int gWriteFd = -1, gReadFd = -1;
uint32_t csSmb2OnWrite(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *, CSUser *,
                       CSTree *, CMBufferWriter *writer)
{
    uint32_t length = 0;
    cmBufferReaderSkip(reader, 2);
    cmBufferReadUint32(reader, &length);
    if (csDispatchIsDtIn())
        csDispatchDtSet(gWriteFd, length);
    cmBufferWriteUint16(writer, 17);
    cmBufferWriteUint16(writer, 0);
    cmBufferWriteUint32(writer, length);
    cmBufferWriteZeroes(writer, 8);
    return 0;
}
uint32_t csSmb2OnRead(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *, CSTree *,
                      CMBufferWriter *writer)
{
    if (csDispatchIsDtOut())
        csDispatchDtSet(gReadFd, 26);
    cmBufferWriteUint16(writer, 17);
    cmBufferWriteUint16(writer, 80);
    cmBufferWriteUint32(writer, 26);
    cmBufferWriteZeroes(writer, 8);
    return 0;
}
}

namespace {

Bytes createBody()
{
    Bytes b = {57, 0};
    b.resize(56, 0);
    return b;
}

Bytes closeBody(uint16_t fid)
{
    Bytes b = {24, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i)
        b.push_back(i < 2 ? uint8_t(fid >> (8 * i)) : (fid == 0xFFFF ? 0xFF : 0));
    return b;
}

Bytes disconnectBody() { return {4, 0, 0, 0}; }

class DispatchTest : public Smb2Test {
protected:
    void SetUp() override
    {
        Smb2Test::SetUp();
        if (IsSkipped())
            return;
        ASSERT_NO_FATAL_FAILURE(logonWithDocs(CS_DIALECT_SMB311, share, tree));
    }
    Element echo(uint64_t mid)
    {
        Element e;
        e.mid = mid;
        e.sid = sid(user);
        return e;
    }
    CSShare *share = nullptr;
    CSTree *tree = nullptr;
};

TEST_F(DispatchTest, CreditsComeFromThePoolAndNoClientIsLeftWithout)
{
    struct Case {
        const char *what;
        uint32_t pool;
        uint64_t midLow, midEnd;
        uint16_t asked;
        uint16_t granted;
        uint32_t poolAfter;
    } cases[] = {
        {"within the pool", 30, 0, 100, 5, 5, 26},
        {"more than the pool", 3, 0, 100, 20, 3, 1},
        {"none asked, some held", 10, 0, 100, 0, 0, 11},
        {"none asked, none held", 10, 0, 1, 0, 1, 10},
        {"never more than 30 at once", 200, 0, 100, 100, 30, 171},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        session->creditPool = c.pool;
        session->midLow = c.midLow;
        session->midEnd = c.midEnd;
        std::memset(session->midUsed, 0, sizeof session->midUsed);
        Element e = echo(c.midLow);
        e.credits = c.asked;
        Bytes a = exchange(compound({e}));
        ASSERT_EQ(a.size(), 68u);
        EXPECT_EQ(answerAt(a, 0).status, 0u);
        EXPECT_EQ(answerAt(a, 0).credits, c.granted);
        EXPECT_EQ(answerAt(a, 0).flags & 1, 1u);
        EXPECT_EQ(session->creditPool, c.poolAfter);
    }
}

TEST_F(DispatchTest, MessageIdsAreUsedOnceAndOnlyWhenGranted)
{
    session->midEnd = 4;
    EXPECT_EQ(answerAt(exchange(compound({echo(1)})), 0).status, 0u);
    EXPECT_EQ(answerAt(exchange(compound({echo(0)})), 0).status, 0u);
    // The same id again: the client is dropped, nothing answered.
    send(compound({echo(1)}));
    EXPECT_EQ(serve(), -1);
    EXPECT_TRUE(answer().empty());

    reconnect();
    logon(CS_DIALECT_SMB311);
    session->midEnd = 4;
    send(compound({echo(1000)}));
    EXPECT_EQ(serve(), -1);
    EXPECT_TRUE(answer().empty());
}

TEST_F(DispatchTest, AWrongStructureSizeIsRefusedWithACredit)
{
    Element e = echo(0);
    e.body = {5, 0, 0, 0};
    e.credits = 3;
    Bytes a = exchange(compound({e}));
    ASSERT_EQ(a.size(), 64u + 9u);
    EXPECT_EQ(answerAt(a, 0).status, 0xC000000Du);
    EXPECT_EQ(answerAt(a, 0).credits, 3u);
    EXPECT_EQ(get_le16(&a[64]), 9u);
}

TEST_F(DispatchTest, SessionAndTreeAreChecked)
{
    struct Case {
        const char *what;
        uint64_t sid;
        uint32_t tid;
        uint32_t flags;
        uint32_t status;
    } cases[] = {
        {"unknown session", 4711, 0, 0, 0xC0000203u},
        {"unknown tree", 0, 99, 0, 0xC00000C9u},
        {"async flag is no way around the tree", 0, 0, CM_SMB2_FLAG_ASYNC, 0xC00000C9u},
    };
    uint64_t mid = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Element e;
        e.command = 4;  // TREE_DISCONNECT
        e.body = disconnectBody();
        e.mid = mid++;
        e.sid = c.sid ? c.sid : sid(user);
        e.tid = c.tid;
        e.flags = c.flags;
        Bytes a = exchange(compound({e}));
        ASSERT_EQ(a.size(), 73u);
        EXPECT_EQ(answerAt(a, 0).status, c.status);
    }
    EXPECT_EQ(csGetTreeByTid(tree->tid), tree);
}

TEST_F(DispatchTest, AHalfLogonSpeaksForNobody)
{
    user->authenticated = 0;
    Element e;
    e.command = 4;
    e.body = disconnectBody();
    e.sid = sid(user);
    e.tid = tree->tid;
    EXPECT_EQ(answerAt(exchange(compound({e})), 0).status, 0xC0000203u);
    EXPECT_EQ(csGetTreeByTid(tree->tid), tree);
}

TEST_F(DispatchTest, AnUnsoundNextCommandIsRefusedAndTheClientStays)
{
    for (uint32_t next : {0xFFFFFFF8u, 70u, 8u, 0x1000u}) {
        SCOPED_TRACE(next);
        Element e = echo(session->midLow);
        e.next = next;
        Bytes a = exchange(compound({e, echo(session->midLow + 1)}));
        ASSERT_EQ(a.size(), 73u);
        EXPECT_EQ(answerAt(a, 0).status, 0xC000000Du);
        EXPECT_EQ(answerAt(a, 0).next, 0u);
    }
    reconnect();
    ASSERT_NE(logon(CS_DIALECT_SMB311), nullptr);
    EXPECT_EQ(answerAt(exchange(compound({echo(0)})), 0).status, 0u);
}

TEST_F(DispatchTest, ACompoundIsAnsweredElementByElement8Aligned)
{
    Element create;
    create.command = 5;
    create.body = createBody();
    create.sid = sid(user);
    create.tid = tree->tid;
    create.mid = 0;
    Element close;
    close.command = 6;
    close.body = closeBody(0xFFFF);
    close.flags = 0x04;  // related: session and tree of the one before
    close.mid = 1;
    gClosedFid = 0;
    Bytes a = exchange(compound({create, close}));
    ASSERT_GE(a.size(), 64u);
    Answer first = answerAt(a, 0);
    EXPECT_EQ(first.status, 0u);
    ASSERT_EQ(first.next % 8, 0u);
    ASSERT_LT(first.next, a.size());
    Answer second = answerAt(a, first.next);
    EXPECT_EQ(second.command, 6u);
    EXPECT_EQ(second.status, 0u);
    EXPECT_EQ(second.next, 0u);
    EXPECT_EQ(gClosedFid, gCreatedFid);
}

TEST_F(DispatchTest, ABadSignatureInTheFirstElementEndsTheChain)
{
    session->signingActive = 1;
    Element first = echo(0);
    first.flags = CM_SMB2_FLAGS_SIGNED;
    Element second = echo(1);
    second.flags = CM_SMB2_FLAGS_SIGNED;
    const uint8_t wrong[16] = {9};
    Bytes a = exchange(compound({first, second}, wrong));
    ASSERT_EQ(a.size(), 73u);
    EXPECT_EQ(answerAt(a, 0).status, 0xC0000022u);
    EXPECT_EQ(answerAt(a, 0).next, 0u);

    // Signed right, both are answered and each answer is signed.
    Element s1 = echo(2), s2 = echo(3);
    s1.flags = s2.flags = CM_SMB2_FLAGS_SIGNED;
    Bytes b = exchange(compound({s1, s2}, user->smb3SigningKey));
    ASSERT_GT(b.size(), 64u);
    const uint32_t next = answerAt(b, 0).next;
    ASSERT_EQ(next, 72u);
    EXPECT_EQ(answerAt(b, next).status, 0u);
    for (size_t at : {size_t(0), size_t(next)}) {
        size_t n = at == 0 ? next : b.size() - next;
        Bytes element(b.begin() + long(at), b.begin() + long(at + n));
        EXPECT_TRUE(get_le32(&element[16]) & CM_SMB2_FLAGS_SIGNED);
        uint8_t expected[16];
        std::fill(element.begin() + 48, element.begin() + 64, 0);
        cmSmb3CalculateMessageSignature(user->smb3SigningKey, 16, element.data(), uint32_t(n), nullptr, 0,
                                        expected);
        EXPECT_EQ(std::memcmp(expected, &b[at + 48], 16), 0) << "answer at " << at;
    }
}

TEST_F(DispatchTest, EncryptionRequiredRefusesPlainRequests)
{
    Element connect;
    connect.command = 3;
    connect.sid = sid(user);
    Bytes path = {'\\', 0, 'D', 0, 'o', 0, 'c', 0, 's', 0};
    connect.body = {9, 0, 0, 0, 72, 0, uint8_t(path.size()), 0};
    connect.body.insert(connect.body.end(), path.begin(), path.end());

    csSetServerEncryption(1);
    Bytes a = exchange(compound({connect}));
    EXPECT_EQ(answerAt(a, 0).status, 0xC0000022u);

    // Sealed, the same request is served, and answered sealed and unsigned.
    session->useGcm = 1;
    connect.mid = 1;
    Bytes sealed = exchange(seal(compound({connect}), user->decryptionKey, sid(user), true));
    Bytes plain = unseal(sealed, user->encryptionKey, true);
    ASSERT_EQ(plain.size(), 80u);
    EXPECT_EQ(answerAt(plain, 0).status, 0u);
    EXPECT_NE(answerAt(plain, 0).tid, 0u);
    EXPECT_EQ(Bytes(plain.begin() + 48, plain.begin() + 64), Bytes(16, 0));
    csSetServerEncryption(0);
}

TEST_F(DispatchTest, SealedRequestsSpeakOnlyForTheirSession)
{
    CSUser *alice = user;
    CSUser *bob = csGetNewUser(session);
    ASSERT_NE(bob, nullptr);
    bob->authenticated = 1;
    std::memset(bob->decryptionKey, 0x66, 16);
    std::memset(bob->encryptionKey, 0x77, 16);

    // Sealed with alice's key, the transform naming bob: it does not open.
    Element e = echo(0);
    e.sid = sid(bob);
    send(seal(compound({e}), alice->decryptionKey, sid(bob), false));
    EXPECT_EQ(serve(), 0);
    EXPECT_TRUE(answer().empty());
    // Sealed by alice, the message inside naming bob: dropped.
    send(seal(compound({e}), alice->decryptionKey, sid(alice), false));
    EXPECT_EQ(serve(), 0);
    EXPECT_TRUE(answer().empty());
    // The connection goes on.
    Bytes ok = exchange(seal(compound({echo(1)}), alice->decryptionKey, sid(alice), false));
    Bytes plain = unseal(ok, alice->encryptionKey, false);
    ASSERT_EQ(plain.size(), 68u);
    EXPECT_EQ(answerAt(plain, 0).status, 0u);
}

TEST_F(DispatchTest, AMalformedTransformIsReadPastOrEndsTheConnection)
{
    Bytes sealed = seal(compound({echo(0)}), user->decryptionKey, sid(user), false);
    // The size it claims is not the size it has: not answered, read past.
    Bytes wrongSize = sealed;
    wrongSize[36] += 8;
    send(wrongSize);
    EXPECT_EQ(serve(), 0);
    EXPECT_TRUE(answer().empty());
    // A bad tag: the same.
    Bytes wrongTag = sealed;
    wrongTag[4] ^= 1;
    send(wrongTag);
    EXPECT_EQ(serve(), 0);
    EXPECT_TRUE(answer().empty());
    Bytes plain = unseal(exchange(sealed), user->encryptionKey, false);
    EXPECT_EQ(answerAt(plain, 0).status, 0u);
    // Longer than a buffer: the client is dropped.
    send(Bytes{0xFD, 'S', 'M', 'B'}, 70000);
    EXPECT_EQ(serve(), -1);
}

TEST_F(DispatchTest, ALogoffIsAnsweredSealedForTheSessionItEnds)
{
    Element logoff = echo(0);
    logoff.command = 2;
    const uint64_t ended = sid(user);
    Bytes a = exchange(seal(compound({logoff}), user->decryptionKey, ended, false));
    const uint8_t key[16] = {0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33,
                             0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33};
    Bytes plain = unseal(a, key, false);
    ASSERT_EQ(plain.size(), 68u);
    EXPECT_EQ(answerAt(plain, 0).status, 0u);
    EXPECT_EQ(csGetUserByUid(uint16_t(ended - CS_SMB2_SESSION_BASE)), nullptr);
}

TEST_F(DispatchTest, SealedAnswersNeverRepeatANonce)
{
    std::vector<uint8_t> buffer(52 + 68, 0);
    Bytes message = compound({echo(0)});
    std::set<Bytes> seen;
    for (bool gcm : {false, true}) {
        session->useGcm = gcm;
        for (int i = 0; i < 50000; ++i) {
            std::memcpy(buffer.data() + 52, message.data(), message.size());
            ASSERT_EQ(cs2TransformHeaderEncrypt(user, buffer.data(), uint32_t(message.size())), 1);
            seen.insert(Bytes(buffer.begin() + 20, buffer.begin() + 36));
        }
    }
    EXPECT_EQ(seen.size(), 100000u);
}

TEST_F(DispatchTest, PlainReadsAndWritesMoveTheirDataDirectly)
{
    FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    gWriteFd = gReadFd = fileno(file);
    // A WRITE of 100 000 bytes: more than a buffer holds, straight to the file.
    Element write = echo(0);
    write.command = 9;
    write.tid = tree->tid;
    write.body = {49, 0, 112, 0};
    put_le32(write.body, 100000);
    write.body.resize(48, 0);
    Bytes payload(100000);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = uint8_t('a' + i % 26);
    Bytes m = compound({write});
    m.insert(m.end(), payload.begin(), payload.end());
    send(m);
    send(compound({echo(1)}));
    ASSERT_EQ(serve(), 0);
    Bytes a = answer();
    ASSERT_EQ(a.size(), 80u);
    EXPECT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_EQ(lseek(gWriteFd, 0, SEEK_END), 100000);
    ASSERT_EQ(serve(), 0);
    EXPECT_EQ(answerAt(answer(), 0).status, 0u);

    // A READ: the answer, then the file's bytes behind it in one message.
    ASSERT_EQ(lseek(gReadFd, 0, SEEK_SET), 0);
    Element read = echo(2);
    read.command = 8;
    read.tid = tree->tid;
    read.body = {49, 0};
    read.body.resize(48, 0);
    read.body.push_back(0);
    a = exchange(compound({read}));
    ASSERT_EQ(a.size(), 80u + 26u);
    EXPECT_EQ(std::string(a.begin() + 80, a.end()), "abcdefghijklmnopqrstuvwxyz");
    gWriteFd = gReadFd = -1;
    std::fclose(file);
}

TEST_F(DispatchTest, AMessageLongerThanABufferDropsTheClient)
{
    Bytes m = compound({echo(0)});
    send(m, 70000);
    EXPECT_EQ(serve(), -1);
    EXPECT_TRUE(answer().empty());
}

}  // namespace
