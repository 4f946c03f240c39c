// SMB2 SESSION_SETUP through the dispatcher with NTLMSSP's worked example:
// the 3.1.1 folding order and the keys it gives, the 3.0 keys, blob
// bounds, re-logon, the earlier session of a reconnecting client, LOGOFF;
// then TREE_CONNECT and TREE_DISCONNECT.
#include "smb2_fixture.h"

#include "logon_fixture.h"

using namespace smb2_test;
using logontest::authenticate;
using logontest::negTokenInit;
using logontest::negTokenResp;
using logontest::worked;

namespace {

Bytes setupBody(const Bytes &blob, uint8_t mode = 0x01, uint64_t previous = 0, uint16_t claimedLength = 0)
{
    Bytes b;
    put_le16(b, 25);
    b.push_back(0);
    b.push_back(mode);
    put_le32(b, 0);
    put_le32(b, 0);
    put_le16(b, 88);
    put_le16(b, claimedLength ? claimedLength : uint16_t(blob.size()));
    put_le64(b, previous);
    b.insert(b.end(), blob.begin(), blob.end());
    return b;
}

Bytes negotiate311()
{
    Bytes b;
    put_le16(b, 36);
    put_le16(b, 1);
    put_le16(b, 1);
    put_le16(b, 0);
    put_le32(b, 0);
    b.resize(b.size() + 16, 7);
    put_le32(b, 64 + 40);
    put_le16(b, 1);
    put_le16(b, 0);
    put_le16(b, 0x0311);
    put_le16(b, 0);  // pad to 8
    put_le16(b, 1);
    put_le16(b, 38);
    put_le32(b, 0);
    put_le16(b, 1);
    put_le16(b, 32);
    put_le16(b, 1);
    b.resize(b.size() + 32, 0x5C);
    return b;
}

Bytes negotiateTo(uint16_t dialect)
{
    if (dialect == 0x0311)
        return negotiate311();
    Bytes b;
    put_le16(b, 36);
    put_le16(b, 1);
    put_le16(b, 1);
    put_le16(b, 0);
    put_le32(b, 0);
    b.resize(b.size() + 16, 7);
    put_le32(b, 0);
    put_le32(b, 0);
    put_le16(b, dialect);
    return b;
}

Bytes pathBody(const std::string &path)
{
    Bytes b;
    put_le16(b, 9);
    put_le16(b, 0);
    put_le16(b, 72);
    put_le16(b, uint16_t(2 * path.size()));
    for (char c : path) {
        b.push_back(uint8_t(c));
        b.push_back(0);
    }
    return b;
}

class SessionTest : public Smb2Test {
protected:
    void SetUp() override
    {
        Smb2Test::SetUp();
        if (IsSkipped())
            return;
        testenv::writeFile(path("pwd_list.txt"), "User:Password:1000:0\nUsername:Password:1001:0\n");
        csChangeEncryptionLevel(CS_AUTH_ALL);
        csAuthSetPermissive(0);
    }
    // A message of one element; the MessageIds run on by themselves.
    Bytes request(uint16_t command, const Bytes &body, uint64_t sid = 0, uint32_t tid = 0)
    {
        Element e;
        e.command = command;
        e.mid = mid++;
        e.sid = sid;
        e.tid = tid;
        e.body = body;
        e.credits = 10;
        return compound({e});
    }
    // A new connection that negotiated dialect, with the worked example's
    // challenge; its messages are kept for the hash.
    void negotiateNew(uint16_t dialect)
    {
        reconnect();
        mid = 0;
        messages.clear();
        messages.push_back(request(0, negotiateTo(dialect)));
        messages.push_back(exchange(messages.back()));
        ASSERT_EQ(get_le16(&messages.back()[68]), dialect);
        session = csGetSessionBySocket();
        ASSERT_NE(session, nullptr);
        std::memcpy(session->challenge, logontest::kServerChallenge.data(), 8);
    }
    // Both legs; the status of the second, and its answer's SessionId.
    uint32_t logonAs(const logontest::Authenticate &a, uint8_t mode = 0x01, uint64_t previous = 0)
    {
        messages.push_back(request(1, setupBody(negTokenInit(logontest::negotiate()), mode)));
        messages.push_back(exchange(messages.back()));
        const Answer first = answerAt(messages.back(), 0);
        if (first.status != 0xC0000016u)
            return first.status;
        sessionId = first.sid;
        messages.push_back(
            request(1, setupBody(negTokenResp(authenticate(a), true), mode, previous), sessionId));
        messages.push_back(exchange(messages.back()));
        return answerAt(messages.back(), 0).status;
    }
    CSUser *loggedOn() { return csGetUserByUid(uint16_t(sessionId - CS_SMB2_SESSION_BASE)); }

    uint64_t mid = 0;
    uint64_t sessionId = 0;
    std::vector<Bytes> messages;
};

TEST_F(SessionTest, The311ExchangeGivesItsSigningKey)
{
    negotiateNew(0x0311);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true), 0x02), 0u);
    CSUser *u = loggedOn();
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(Bytes(u->sessionKey, u->sessionKey + 16), logontest::kRandomSessionKey);

    // The connection hash takes NEGOTIATE's request and answer; the
    // session's every SESSION_SETUP request and the answers before the last.
    uint8_t hash[64] = {};
    for (size_t i = 0; i + 1 < messages.size(); ++i)
        cmSmb311CalcMessagesHash(messages[i].data(), uint32_t(messages[i].size()), hash, nullptr);
    uint8_t signingKey[16], encryptionKey[16], decryptionKey[16];
    const Bytes &key = logontest::kRandomSessionKey;
    cmKeyDerivation(key.data(), 16, reinterpret_cast<const uint8_t *>("SMBSigningKey"), 14, hash, 64,
                    signingKey);
    cmKeyDerivation(key.data(), 16, reinterpret_cast<const uint8_t *>("SMBS2CCipherKey"), 16, hash, 64,
                    encryptionKey);
    cmKeyDerivation(key.data(), 16, reinterpret_cast<const uint8_t *>("SMBC2SCipherKey"), 16, hash, 64,
                    decryptionKey);
    EXPECT_EQ(Bytes(u->smb3SigningKey, u->smb3SigningKey + 16), Bytes(signingKey, signingKey + 16));
    EXPECT_EQ(Bytes(u->encryptionKey, u->encryptionKey + 16), Bytes(encryptionKey, encryptionKey + 16));
    EXPECT_EQ(Bytes(u->decryptionKey, u->decryptionKey + 16), Bytes(decryptionKey, decryptionKey + 16));
    EXPECT_EQ(u->preauthInProgress, 0u);

    // The last answer is signed with that key.
    Bytes last = messages.back();
    EXPECT_TRUE(get_le32(&last[16]) & CM_SMB2_FLAGS_SIGNED);
    Bytes zeroed = last;
    std::fill(zeroed.begin() + 48, zeroed.begin() + 64, 0);
    uint8_t signature[16];
    cmSmb3CalculateMessageSignature(signingKey, 16, zeroed.data(), uint32_t(zeroed.size()), nullptr, 0,
                                    signature);
    EXPECT_EQ(Bytes(last.begin() + 48, last.begin() + 64), Bytes(signature, signature + 16));

    // And it speaks for the session: a signed ECHO is answered signed.
    Element echo;
    echo.mid = mid++;
    echo.sid = sessionId;
    echo.flags = CM_SMB2_FLAGS_SIGNED;
    Bytes a = exchange(compound({echo}, signingKey));
    EXPECT_EQ(answerAt(a, 0).status, 0u);
}

TEST_F(SessionTest, The30KeysComeFromTheirLabels)
{
    negotiateNew(0x0300);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true)), 0u);
    CSUser *u = loggedOn();
    ASSERT_NE(u, nullptr);
    struct Row {
        const char *label, *context;
        uint32_t contextLength;
        const uint8_t *key;
    } rows[] = {
        {"SMB2AESCMAC", "SmbSign", 8, u->smb3SigningKey},
        {"SMB2AESCCM", "ServerIn ", 10, u->decryptionKey},
        {"SMB2AESCCM", "ServerOut", 10, u->encryptionKey},
        {"SMB2APP", "SmbRpc", 7, u->applicationKey},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.label);
        uint8_t expected[16];
        cmKeyDerivation(u->sessionKey, 16, reinterpret_cast<const uint8_t *>(r.label),
                        uint32_t(std::strlen(r.label) + 1), reinterpret_cast<const uint8_t *>(r.context),
                        r.contextLength, expected);
        EXPECT_EQ(Bytes(r.key, r.key + 16), Bytes(expected, expected + 16));
    }
}

TEST_F(SessionTest, SigningFollowsThePolicyAndTheClient)
{
    struct Case {
        const char *what;
        uint32_t policy;
        uint8_t clientMode;
        uint32_t active;
    } cases[] = {
        {"disabled", 0, 0x02, 0},
        {"enabled, client requires", 1, 0x02, 1},
        {"enabled, client only enables", 1, 0x01, 0},
        {"required", 2, 0x01, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        csSetMessageSigningPolicy(c.policy);
        negotiateNew(0x0210);
        ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true), c.clientMode), 0u);
        EXPECT_EQ(session->signingActive, c.active);
        EXPECT_EQ((get_le32(&messages.back()[16]) & CM_SMB2_FLAGS_SIGNED) != 0, c.active == 1);
    }
    csSetMessageSigningPolicy(1);
}

TEST_F(SessionTest, RefusedSetups)
{
    negotiateNew(0x0300);
    EXPECT_EQ(logonAs(worked(logontest::kWrongPassword, false)), 0xC000006Du);
    Bytes blob = negTokenInit(logontest::negotiate());
    struct Case {
        const char *what;
        Bytes body;
        uint64_t sid;
        uint32_t status;
    } cases[] = {
        {"an empty blob", setupBody({}), 0, 0xC000000Du},
        {"a blob past the message", setupBody(blob, 1, 0, uint16_t(blob.size() + 1)), 0, 0xC000000Du},
        {"an unknown session", setupBody(blob), 4711, 0xC0000203u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(answerAt(exchange(request(1, c.body, c.sid)), 0).status, c.status);
    }
    // A live session does not log on again.
    negotiateNew(0x0300);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true)), 0u);
    EXPECT_EQ(answerAt(exchange(request(1, setupBody(blob), sessionId)), 0).status, 0xC00000D0u);
}

TEST_F(SessionTest, AnExpiredSessionLogsOnAgainKeepingItsKeys)
{
    negotiateNew(0x0300);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true)), 0u);
    CSUser *u = loggedOn();
    ASSERT_NE(u, nullptr);
    const Bytes signingKey(u->smb3SigningKey, u->smb3SigningKey + 16);
    const Bytes sessionKey(u->sessionKey, u->sessionKey + 16);
    u->renewalTime -= CS_USER_EXPIRY_SECONDS + 1;
    const uint64_t first = sessionId;
    // The same session, both legs again; no key exchange this time.
    messages.push_back(request(1, setupBody(negTokenInit(logontest::negotiate())), first));
    messages.push_back(exchange(messages.back()));
    ASSERT_EQ(answerAt(messages.back(), 0).status, 0xC0000016u);
    messages.push_back(
        request(1, setupBody(negTokenResp(authenticate(worked(logontest::kNtlmv2, false)), true)), first));
    messages.push_back(exchange(messages.back()));
    ASSERT_EQ(answerAt(messages.back(), 0).status, 0u);
    EXPECT_EQ(answerAt(messages.back(), 0).sid, first);
    EXPECT_EQ(Bytes(u->smb3SigningKey, u->smb3SigningKey + 16), signingKey);
    EXPECT_EQ(Bytes(u->sessionKey, u->sessionKey + 16), sessionKey);
    EXPECT_EQ(u->authenticated, 1u);
}

TEST_F(SessionTest, AReconnectingClientEndsOnlyItsOwnEarlierSession)
{
    // Earlier connections of "User" and of "Username".
    int earlier = 0;
    csDispatchSetSocket(&earlier);
    CSSession *old = csGetNewSession();
    ASSERT_NE(old, nullptr);
    CSUser *same = csGetNewUser(old);
    CSUser *longer = csGetNewUser(old);
    ASSERT_TRUE(same && longer);
    cmAnsiToUnicode(same->name, "User");
    cmAnsiToUnicode(longer->name, "Username");
    same->authenticated = longer->authenticated = 1;
    const uint16_t sameUid = same->uid, longerUid = longer->uid;
    csDispatchSetSocket(&slot);

    negotiateNew(0x0300);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true), 1, longerUid + CS_SMB2_SESSION_BASE), 0u);
    csDispatchSetSocket(&earlier);
    EXPECT_NE(csGetUserByUid(longerUid), nullptr);
    csDispatchSetSocket(&slot);

    negotiateNew(0x0300);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true), 1, sameUid + CS_SMB2_SESSION_BASE), 0u);
    csDispatchSetSocket(&earlier);
    EXPECT_EQ(csGetUserByUid(sameUid), nullptr);
    EXPECT_NE(csGetUserByUid(longerUid), nullptr);
    csReleaseSessions(&earlier, 1);
    csDispatchSetSocket(&slot);
}

TEST_F(SessionTest, EncryptionRequiredShowsInTheSessionFlags)
{
    csSetServerEncryption(1);
    negotiateNew(0x0300);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true)), 0u);
    EXPECT_EQ(get_le16(&messages.back()[66]), 0x0004u);
    negotiateNew(0x0210);
    EXPECT_EQ(logonAs(worked(logontest::kNtlmv2, true)), 0xC0000022u);
    csSetServerEncryption(0);
}

TEST_F(SessionTest, LogoffEndsTheSession)
{
    negotiateNew(0x0210);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true)), 0u);
    EXPECT_EQ(answerAt(exchange(request(2, {4, 0, 0, 0}, sessionId)), 0).status, 0u);
    EXPECT_EQ(loggedOn(), nullptr);
    EXPECT_EQ(answerAt(exchange(request(2, {4, 0, 0, 0}, sessionId)), 0).status, 0xC0000203u);
    // ECHO needs no session.
    EXPECT_EQ(answerAt(exchange(request(13, {4, 0, 0, 0})), 0).status, 0u);
}

class TreeTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        if (IsSkipped())
            return;
        docs = addShare("Docs");
        secret = addShare("Secret");
        ASSERT_TRUE(docs && secret);
        ASSERT_EQ(vxSetShareEncryptionA("Secret", 1), 0);
    }
    Answer connect(const std::string &path, Bytes *body = nullptr)
    {
        Bytes a = exchange(request(3, pathBody(path), sessionId));
        if (body && a.size() >= 80)
            body->assign(a.begin() + 64, a.end());
        return answerAt(a, 0);
    }
    CSShare *docs = nullptr, *secret = nullptr;
};

TEST_F(TreeTest, SharesByPathWithTheirTypeAndFlags)
{
    negotiateNew(0x0300);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true)), 0u);
    struct Case {
        const char *what;
        std::string path;
        uint32_t status;
        uint8_t type;
        uint32_t flags;
    } cases[] = {
        {"server and share", "\\\\router\\Docs", 0, 1, 0},
        {"the share alone", "Docs", 0, 1, 0},
        {"the pipe share", "\\\\router\\IPC$", 0, 2, 0x30},
        {"an encrypted share at 3.0", "\\\\router\\Secret", 0, 1, 0x8000},
        {"no such share", "\\\\router\\Nothing", 0xC00000CCu, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes body;
        Answer a = connect(c.path, &body);
        EXPECT_EQ(a.status, c.status);
        if (c.status != 0)
            continue;
        ASSERT_EQ(body.size(), 16u);
        EXPECT_EQ(body[2], c.type);
        EXPECT_EQ(get_le32(&body[4]), c.flags);
        EXPECT_EQ(get_le32(&body[12]), 0x001F01FFu);
        CSTree *tree = csGetTreeByTid(uint16_t(a.tid));
        ASSERT_NE(tree, nullptr);
        // TREE_DISCONNECT lets it go; the encrypted share's only when sealed.
        const bool sealed = c.flags & 0x8000;
        EXPECT_EQ(answerAt(exchange(request(4, {4, 0, 0, 0}, sessionId, a.tid)), 0).status,
                  sealed ? 0xC0000022u : 0u);
        EXPECT_EQ(csGetTreeByTid(uint16_t(a.tid)) != nullptr, sealed);
    }
}

// A 3.0 client derives its keys on its own side: it seals with the
// client-to-server key (CCM, 11-byte nonce) and signs with the CMAC key; a
// request the server cannot open gets no answer, so a wrong key would leave
// the client waiting at its first tree connect.
TEST_F(TreeTest, A30ClientSealsAndSignsWithTheKeysItDerives)
{
    negotiateNew(0x0300);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true), 0x02), 0u);
    const Bytes &sessionKey = logontest::kRandomSessionKey;
    auto derive = [&](const char *label, const char *context, uint32_t contextLength) {
        Bytes key(16);
        cmKeyDerivation(sessionKey.data(), 16, reinterpret_cast<const uint8_t *>(label),
                        uint32_t(std::strlen(label) + 1), reinterpret_cast<const uint8_t *>(context),
                        contextLength, key.data());
        return key;
    };
    const Bytes sealKey = derive("SMB2AESCCM", "ServerIn ", 10);
    const Bytes openKey = derive("SMB2AESCCM", "ServerOut", 10);
    const Bytes signKey = derive("SMB2AESCMAC", "SmbSign", 8);

    struct Case {
        const char *share;
        uint8_t type;
        uint32_t flags;
    } cases[] = {
        {"IPC$", 2, 0x30},
        {"Docs", 1, 0},
        {"Secret", 1, 0x8000},
    };
    uint64_t nonce = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.share);
        Element e;
        e.command = 3;
        e.mid = mid++;
        e.sid = sessionId;
        e.credits = 10;
        e.body = pathBody(std::string("\\\\router\\") + c.share);
        Bytes sealed = exchange(seal(compound({e}), sealKey.data(), sessionId, false, nonce++));
        ASSERT_FALSE(sealed.empty()) << "a sealed TREE_CONNECT went unanswered";
        Bytes plain = unseal(sealed, openKey.data(), false);
        ASSERT_EQ(plain.size(), 80u) << "the answer does not open with the client's key";
        EXPECT_EQ(answerAt(plain, 0).status, 0u);
        EXPECT_EQ(plain[66], c.type);
        EXPECT_EQ(get_le32(&plain[68]), c.flags);
    }

    // Signed with the CMAC key instead: served and answered signed with it.
    Element e;
    e.command = 3;
    e.mid = mid++;
    e.sid = sessionId;
    e.flags = CM_SMB2_FLAGS_SIGNED;
    e.body = pathBody("\\\\router\\IPC$");
    Bytes a = exchange(compound({e}, signKey.data()));
    ASSERT_EQ(a.size(), 80u);
    EXPECT_EQ(answerAt(a, 0).status, 0u);
    EXPECT_TRUE(answerAt(a, 0).flags & CM_SMB2_FLAGS_SIGNED);
    Bytes zeroed = a;
    std::fill(zeroed.begin() + 48, zeroed.begin() + 64, 0);
    uint8_t signature[16];
    cmSmb3CalculateMessageSignature(signKey.data(), 16, zeroed.data(), uint32_t(zeroed.size()), nullptr, 0,
                                    signature);
    EXPECT_EQ(Bytes(a.begin() + 48, a.begin() + 64), Bytes(signature, signature + 16));
}

TEST_F(TreeTest, RefusedConnects)
{
    negotiateNew(0x0210);
    ASSERT_EQ(logonAs(worked(logontest::kNtlmv2, true)), 0u);
    EXPECT_EQ(connect("\\\\router\\Secret").status, 0xC0000022u);
    // A share whose folder is gone.
    std::filesystem::remove_all(dirs[0]->path());
    EXPECT_EQ(connect("\\\\router\\Docs").status, 0xC00000CCu);
    // An anonymous user meets the share's descriptor.
    loggedOn()->anonymous = 1;
    EXPECT_EQ(connect("\\\\router\\IPC$").status, 0xC0000005u);
    loggedOn()->anonymous = 0;
    // The path must lie in the message.
    Bytes body = pathBody("Docs");
    body[6] = 200;
    EXPECT_EQ(answerAt(exchange(request(3, body, sessionId)), 0).status, 0xC000000Du);
}

}  // namespace
