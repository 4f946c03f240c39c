// The logon decision: the published NTLM worked examples (user "User",
// domain "Domain", password "Password") through csAuthenticateUser under
// each accepted-response mask, guests and anonymous logons, the 13-word
// SMB1 request, tokens and the SMB1 signing-key hand-over.
#include "logon_fixture.h"

#include "cmcryptcipher.h"

using namespace logontest;
using testenv::writeFile;

namespace {

constexpr uint32_t kOk = 0, kLogonFailure = 0xC000006D, kInvalid = 0xC000000D;

class AuthTest : public LogonTest {};

TEST_F(AuthTest, WorkedExamples)
{
    const std::string exported = "55555555555555555555555555555555";
    struct Case {
        const char *what;
        Variant variant;
        uint16_t mask;
        bool keyExchange;
        bool spnego;
        uint32_t status;
        std::string key;
    } const cases[] = {
        {"NTLMv1, mask 2", kNtlm, 0x2, false, false, kOk, "d87262b0cde4b1cb7499becccdf10784"},
        {"NTLMv1, key exchange", kNtlm, 0x2, true, true, kOk, exported},
        {"NTLMv1, mask 8", kNtlm, 0x8, false, false, kLogonFailure, ""},
        {"NTLMv1, mask 4", kNtlm, 0x4, false, false, kLogonFailure, ""},
        {"NTLMv1 session security, mask 2", kNtlmEss, 0x2, false, true, kOk,
         "eb93429a8bd952f8b89c55b87f475edc"},
        {"NTLMv1 session security, key exchange", kNtlmEss, 0x2, true, false, kOk, exported},
        {"NTLMv1 session security, mask 8", kNtlmEss, 0x8, false, false, kLogonFailure, ""},
        {"NTLMv2, mask 8", kNtlmv2, 0x8, false, false, kOk, "8de40ccadbc14a82f15cb0ad0de95ca3"},
        {"NTLMv2, key exchange", kNtlmv2, 0x8, true, true, kOk, exported},
        {"NTLMv2, mask 2", kNtlmv2, 0x2, false, false, kLogonFailure, ""},
        {"NTLMv2 refused, LMv2 with mask 4", kNtlmv2, 0x4, false, false, kOk,
         "79fc6113707eacb96d5d7e0b81bee408"},
        {"all accepted", kNtlmv2, 0xF, false, true, kOk, "8de40ccadbc14a82f15cb0ad0de95ca3"},
        {"wrong password", kWrongPassword, 0xF, false, false, kLogonFailure, ""},
        {"NTLMv2 response shorter than its proof", kShortNtlmv2, 0x8, false, false, kLogonFailure, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        csChangeEncryptionLevel(c.mask);
        dropUser();
        std::memcpy(session->challenge, kServerChallenge.data(), 8);
        EXPECT_EQ(exchange(worked(c.variant, c.keyExchange), c.spnego), c.status);
        if (c.status == kOk) {
            ASSERT_NE(user, nullptr);
            EXPECT_EQ(sessionKey(), c.key);
            EXPECT_EQ(testenv::A(user->name), "User");
            EXPECT_EQ(user->guest, 0u);
            EXPECT_EQ(user->token.ridCount, 2u);
            EXPECT_EQ(user->token.rids[0], 1000u);
            EXPECT_EQ(user->token.rids[1], 545u);
            EXPECT_EQ(cmSdIsComputerSid(&user->token.domain), 1);
        } else {
            EXPECT_EQ(user, nullptr) << "a failed logon leaves no user";
        }
    }
    EXPECT_EQ(csGetUsersCount(), user ? 1u : 0u);
}

// A client that leaves key exchange out of NEGOTIATE yet answers an offer
// of it with a random key (and no flag in AUTHENTICATE) must end with the
// key it derived. The NTLMv2 vectors (user "User", empty domain, password
// "Password", the worked blob) were computed from the algorithm with
// Python's hmac: proof, base key = HMAC-MD5(v2 hash, proof), and the 0x55
// key under RC4 keyed by the base key.
TEST_F(AuthTest, KeyExchangeOnlyWhenTheClientAsked)
{
    const Bytes proof = hex("3931ef309dd2eeab04a6200c242d1759");
    const std::string baseKey = "c19eb349eebbc443330f3ed3b4c1b9c4";
    const Bytes encrypted = hex("3ab4432a907f9d15176e1b18b9864582");
    const std::string exported = "55555555555555555555555555555555";
    struct Case {
        const char *what;
        uint32_t negotiateFlags;
        uint32_t authenticateFlags;
        bool offered;
    } const cases[] = {
        {"asked, and flagged in AUTHENTICATE", 0xE2088297, 0xE2088215, true},
        {"not asked, an offer answered without the flag", 0xA2088297, 0xA2088215, false},
    };
    csChangeEncryptionLevel(CS_AUTH_ALL);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        dropUser();
        std::memcpy(session->challenge, kServerChallenge.data(), 8);
        ASSERT_EQ(smb2Round(negotiate(c.negotiateFlags)), 0xC0000016u);
        ASSERT_GE(answer.size(), 24u);
        const bool offered = (get_le32(answer.data() + 20) & kKeyExchange) != 0;
        EXPECT_EQ(offered, c.offered);
        // The client's side: a random key exactly when offered one.
        Authenticate a;
        a.user = utf16("User");
        a.nt = cat({proof, kNtlmv2Blob});
        a.lm = Bytes(24, 0);
        a.flags = c.authenticateFlags;
        if (offered)
            a.key = encrypted;
        ASSERT_EQ(smb2Round(authenticate(a)), kOk);
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(sessionKey(), offered ? exported : baseKey);
    }
}

TEST_F(AuthTest, GuestsAndAnonymousLogons)
{
    struct Case {
        const char *what;
        bool permissive;
        std::string name;
        Variant variant;
        uint32_t status;
        const char *recordName;
        uint32_t guest, anonymous;
    } const cases[] = {
        {"unknown account, permissive", true, "Nobody", kNtlm, kOk, "Nobody", 1, 0},
        {"unknown account", false, "Nobody", kNtlm, kLogonFailure, nullptr, 0, 0},
        {"empty account, permissive", true, "", kNtlm, kOk, "anonymous", 0, 1},
        {"empty account", false, "", kNtlm, kLogonFailure, nullptr, 0, 0},
        {"no LM response, permissive, any name", true, "User", kShortNtlmv2, kOk, "anonymous", 0, 1},
        {"no LM and NT response on SMB2", false, "User", kShortNtlmv2, kLogonFailure, nullptr, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        csAuthSetPermissive(c.permissive);
        dropUser();
        Authenticate a = worked(c.variant, false, c.name);
        if (c.variant == kShortNtlmv2 && !c.permissive)
            a.nt.resize(1);
        EXPECT_EQ(exchange(a), c.status);
        if (c.status != kOk) {
            EXPECT_EQ(user, nullptr);
            continue;
        }
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(testenv::A(user->name), c.recordName);
        EXPECT_EQ(user->guest, c.guest);
        EXPECT_EQ(user->anonymous, c.anonymous);
        EXPECT_EQ(user->token.ridCount, 1u);
        EXPECT_EQ(user->token.rids[0], 546u);
        EXPECT_EQ(user->rid, 546u);
        if (c.anonymous) {
            EXPECT_EQ(sessionKey(), std::string(32, '0'));
        }
    }
}

TEST_F(AuthTest, StoredPasswordForms)
{
    struct Case {
        const char *what;
        std::string password;
        int32_t rid;
        uint32_t status;
    } const cases[] = {
        {"plain text", "Password", 1000, kOk},
        {"LM and NT hash", "e52cac67419a9a224a3b108f3fa6cb6da4f49c406510bdcab6824ee7c30fd852", 1000, kOk},
        {"NT hash alone", "a4f49c406510bdcab6824ee7c30fd852", 1000, kLogonFailure},
        {"administrator", "Password", -1001, kOk},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(path("pwd_list.txt"), "User:" + c.password + ":" + std::to_string(c.rid) + ":0\n");
        dropUser();
        std::memcpy(session->challenge, kServerChallenge.data(), 8);
        EXPECT_EQ(exchange(worked(kNtlmv2, false)), c.status);
        if (c.status != kOk)
            continue;
        ASSERT_NE(user, nullptr);
        if (c.rid < 0) {
            ASSERT_EQ(user->token.ridCount, 4u);
            EXPECT_EQ(int32_t(user->token.rids[0]), c.rid);
            EXPECT_EQ(user->token.rids[1], 545u);
            EXPECT_EQ(user->token.rids[2], 512u);
            EXPECT_EQ(user->token.rids[3], 544u);
            EXPECT_EQ(cmSdIsAdministrator(&user->token), 1);
        }
    }
}

TEST_F(AuthTest, PolicyRefusals)
{
    csSetServerEncryption(1);
    EXPECT_EQ(smb2Round(negotiate()), 0xC0000022u);
    EXPECT_EQ(user, nullptr);
    csSetServerEncryption(0);
    // Responses of 1953 bytes and more are refused before anything else.
    Authenticate big = worked(kNtlm, false);
    big.lm.resize(1000);
    big.nt.resize(953);
    EXPECT_EQ(exchange(big), kInvalid);
    big.nt.resize(952);
    user = nullptr;
    EXPECT_EQ(exchange(big), kLogonFailure);
}

// SMB1 SESSION_SETUP_ANDX with 13 words: passwords, account and domain.
struct Smb1Request {
    Bytes lm, nt;
    std::string account, domain;
    bool unicode = true;
    int32_t byteCountDelta = 0;
};

Bytes smb1Request(const Smb1Request &r, size_t *domainEnd = nullptr)
{
    Bytes b(29, 0);
    b[0] = 13;
    b[15] = uint8_t(r.lm.size());
    b[16] = uint8_t(r.lm.size() >> 8);
    b[17] = uint8_t(r.nt.size());
    b[18] = uint8_t(r.nt.size() >> 8);
    b.insert(b.end(), r.lm.begin(), r.lm.end());
    b.insert(b.end(), r.nt.begin(), r.nt.end());
    for (const std::string *text : {&r.account, &r.domain}) {
        if (r.unicode) {
            if (b.size() & 1)
                b.push_back(0);
            Bytes w = utf16(*text);
            b.insert(b.end(), w.begin(), w.end());
            b.push_back(0);
            b.push_back(0);
        } else {
            b.insert(b.end(), text->begin(), text->end());
            b.push_back(0);
        }
    }
    if (domainEnd)
        *domainEnd = b.size();
    uint32_t count = uint32_t(b.size() - 29 + r.byteCountDelta);
    b[27] = uint8_t(count);
    b[28] = uint8_t(count >> 8);
    return b;
}

class Smb1AuthTest : public LogonTest {
protected:
    void SetUp() override
    {
        LogonTest::SetUp();
        if (IsSkipped())
            return;
        session->dialect = CS_DIALECT_SMB1;
    }
    uint32_t round(const Bytes &request, const uint8_t **end = nullptr, int unicode = 1)
    {
        // The request lies at an even address, as it does after a 32-byte header.
        buffer.assign(request.size() + 2, 0);
        std::memcpy(buffer.data(), request.data(), request.size());
        uint32_t length = 0;
        return csAuthenticateUser(buffer.data(), uint32_t(request.size()), session, nullptr, &length, unicode,
                                  &user, end);
    }
    Bytes buffer;
};

TEST_F(Smb1AuthTest, ThirteenWordLogon)
{
    for (bool unicode : {true, false}) {
        SCOPED_TRACE(unicode);
        dropUser();
        Smb1Request r{Bytes(24, 0), hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94"), "User", "Domain",
                      unicode};
        size_t domainEnd;
        Bytes request = smb1Request(r, &domainEnd);
        const uint8_t *end = nullptr;
        ASSERT_EQ(round(request, &end, unicode), kOk);
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(sessionKey(), "d87262b0cde4b1cb7499becccdf10784");
        EXPECT_EQ(end, buffer.data() + domainEnd);
    }
}

TEST_F(Smb1AuthTest, RequestsThatLeaveTheirBytesAreRefused)
{
    const Bytes nt = hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
    struct Case {
        const char *what;
        Smb1Request request;
        size_t cut;  // bytes dropped from the end of the message
    } const cases[] = {
        {"passwords longer than the byte count", {Bytes(24, 0), nt, "User", "Domain", true, -60}, 0},
        {"passwords longer than the message", {Bytes(24, 0), nt, "User", "Domain", true, 0}, 40},
        {"account name of 600 characters", {Bytes(24, 0), nt, std::string(600, 'u'), "Domain", true, 0}, 0},
        {"domain name of 600 characters", {Bytes(24, 0), nt, "User", std::string(600, 'd'), false, 0}, 0},
        {"responses of 1953 bytes", {Bytes(1000, 0), Bytes(953, 0), "User", "Domain", true, 0}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        user = nullptr;
        Bytes request = smb1Request(c.request);
        request.resize(request.size() - c.cut);
        EXPECT_EQ(round(request, nullptr, c.request.unicode), kInvalid);
        EXPECT_EQ(user, nullptr);
    }
    Smb1Request justBelow{Bytes(1000, 0), Bytes(952, 0), "User", "Domain"};
    EXPECT_EQ(round(smb1Request(justBelow)), kLogonFailure);
    EXPECT_EQ(csGetUsersCount(), 0u);
}

TEST_F(Smb1AuthTest, EmptyPasswordsGoOnOnlyWithANonZeroFirstByte)
{
    Smb1Request r{Bytes(1, 'x'), {}, "User", "Domain"};
    // Checked against the password, and no response matches.
    EXPECT_EQ(round(smb1Request(r)), kLogonFailure);
    r.lm = Bytes(1, 0);
    EXPECT_EQ(round(smb1Request(r)), kLogonFailure);
}

TEST_F(Smb1AuthTest, RepeatedLogonHandsBackTheFirstRecord)
{
    Smb1Request r{Bytes(24, 0), hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94"), "User", "Domain"};
    ASSERT_EQ(round(smb1Request(r)), kOk);
    CSUser *first = user;
    first->authenticated = 1;
    user = nullptr;
    ASSERT_EQ(round(smb1Request(r)), kOk);
    EXPECT_EQ(user, first);
    EXPECT_EQ(csGetUsersCount(), 1u);
}

TEST_F(Smb1AuthTest, SigningStartsWithTheSessionKeyAndKeepsTheResponse)
{
    session->signingActive = 1;
    ASSERT_EQ(session->waitingForFirstKey, 1u);
    Bytes nt = hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
    ASSERT_EQ(round(smb1Request({Bytes(24, 0), nt, "User", "Domain"})), kOk);
    EXPECT_EQ(session->waitingForFirstKey, 0u);
    EXPECT_EQ(to_hex(session->signingKey, 16), "d87262b0cde4b1cb7499becccdf10784");
    EXPECT_EQ(session->expectedSequence, 2u);
    ASSERT_NE(user->macResponse.data, nullptr);
    EXPECT_EQ(Bytes(user->macResponse.data, user->macResponse.data + user->macResponse.len), nt);
}

TEST_F(Smb1AuthTest, FullUserTable)
{
    for (int i = 0; i < CS_MAX_USERS; ++i)
        ASSERT_NE(csGetNewUser(session), nullptr);
    user = nullptr;
    Smb1Request r{Bytes(24, 0), hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94"), "User", "Domain"};
    EXPECT_EQ(round(smb1Request(r)), 0xC0000017u);
}

TEST_F(AuthTest, NoDomainControllerLeavesTheCacheEmpty)
{
    EXPECT_EQ(csAuthGetPDCName(), nullptr);
    EXPECT_EQ(csAuthGetPDCName(), nullptr);
    csAuthShutdown();
    EXPECT_EQ(csAuthGetPDCName(), nullptr);
    EXPECT_EQ(csAuthInit(), 1);
}

TEST_F(AuthTest, ShareAccessAndTokens)
{
    CSUser record{};
    EXPECT_EQ(csAuthShareIsAccessible(&record, 0), 1);
    EXPECT_EQ(csAuthShareIsAccessible(&record, 1), 0);
    record.printerOwner = 1;
    EXPECT_EQ(csAuthShareIsAccessible(&record, 1), 1);
    record.printerOwner = 0;
    csAuthSetPermissive(1);
    EXPECT_EQ(csAuthShareIsAccessible(&record, 1), 1);
    EXPECT_EQ(csFillUserToken(&record), 0);
    record.anonymous = 1;
    EXPECT_EQ(csFillUserToken(&record), 1);
    EXPECT_EQ(record.token.ridCount, 1u);
    EXPECT_EQ(record.token.rids[0], 546u);
    EXPECT_EQ(cmSdIsComputerSid(&record.token.domain), 1);
    uint8_t *challenge = nullptr, *nonce = nullptr;
    EXPECT_EQ(getCurrentSessionKey(&challenge, &nonce), 8u);
    EXPECT_EQ(challenge, session->challenge);
    EXPECT_EQ(nonce, session->nonceArea);
    connect(&connectionB);
    EXPECT_EQ(getCurrentSessionKey(&challenge, &nonce), 11u);
}

}  // namespace
