// SPNEGO wrapping and NTLMSSP messages as the server reads and writes them.
#include "logon_fixture.h"

#include "cmcrypt.h"

using namespace logontest;

namespace {

class SpnegoTest : public LogonTest {};

TEST(SpnegoMechList, IsTheFixed74Bytes)
{
    CMBlob blob;
    ASSERT_EQ(amSpnegoServerGenerateMechList(&blob), &blob);
    ASSERT_NE(blob.data, nullptr);
    const std::string hint = "not_defined_in_RFC4178@please_ignore";
    Bytes expected = tlv(
        0x60,
        cat({kSpnegoOid,
             tlv(0xA0,
                 tlv(0x30,
                     cat({tlv(0xA0, tlv(0x30, kNtlmOid)),
                          tlv(0xA3, tlv(0x30, tlv(0xA0, tlv(0x1B, Bytes(hint.begin(), hint.end())))))})))}));
    EXPECT_EQ(blob.len, 74u);
    EXPECT_EQ(Bytes(blob.data, blob.data + blob.len), expected);
    EXPECT_EQ(cmGssDoesBlobHaveMechType(blob.data, blob.len, &cmGssApiOidNtlmSsp), 1);
    EXPECT_EQ(cmGssDoesBlobHaveMechType(blob.data, blob.len, &cmGssApiOidKerberos), 0);
    EXPECT_EQ(cmGssDoesBlobHaveMechType(blob.data, 0, &cmGssApiOidNtlmSsp), 0);
    cmMemoryFreeNonDebug(blob.data);
}

TEST_F(SpnegoTest, ChallengeMessage)
{
    ASSERT_EQ(smb2Round(negotiate()), 0xC0000016u);
    const uint8_t *m = answer.data();
    ASSERT_GE(answer.size(), 48u);
    EXPECT_EQ(Bytes(m, m + 8), Bytes({'N', 'T', 'L', 'M', 'S', 'S', 'P', 0}));
    EXPECT_EQ(get_le32(m + 8), 2u);
    EXPECT_EQ(get_le32(m + 20), 0xE0890231u);
    EXPECT_EQ(Bytes(m + 24, m + 32), kServerChallenge);
    EXPECT_EQ(Bytes(m + 32, m + 40), Bytes(8, 0));
    // Target name: the 9-character workgroup at 48.
    EXPECT_EQ(get_le16(m + 12), 18u);
    EXPECT_EQ(get_le16(m + 14), 18u);
    EXPECT_EQ(get_le32(m + 16), 48u);
    EXPECT_EQ(Bytes(m + 48, m + 66), utf16("WORKGROUP"));
    // Target information: pairs 2, 1, 4, 3, 0.
    uint32_t infoLength = get_le16(m + 40), infoAt = get_le32(m + 44);
    EXPECT_EQ(get_le16(m + 42), infoLength);
    EXPECT_EQ(infoAt, 66u);
    ASSERT_EQ(infoAt + infoLength, answer.size());
    const char *full = cmGetFullDomainName();
    std::string fullName = full ? full : "";
    struct Pair {
        uint16_t type;
        Bytes value;
    } const pairs[] = {
        {2, utf16("WORKGROUP")}, {1, utf16("ROUTER")}, {4, utf16(fullName)}, {3, utf16("ROUTER")}, {0, {}}};
    const uint8_t *p = m + infoAt;
    for (const Pair &pair : pairs) {
        EXPECT_EQ(get_le16(p), pair.type);
        ASSERT_EQ(get_le16(p + 2), pair.value.size());
        EXPECT_EQ(Bytes(p + 4, p + 4 + pair.value.size()), pair.value);
        p += 4 + pair.value.size();
    }
    EXPECT_EQ(p, m + answer.size());
    CMBlob raw{answer.data(), uint32_t(answer.size())};
    EXPECT_EQ(amNtlmsspServerGetChallenge(&raw), answer.data() + 24);
}

TEST_F(SpnegoTest, WrappedExchangeAnswersAcceptIncompleteThenCompleted)
{
    ASSERT_EQ(smb2Round(negTokenInit(negotiate())), 0xC0000016u);
    // negTokenResp { negState 1, supportedMech NTLMSSP, responseToken CHALLENGE }
    ASSERT_GT(answer.size(), 30u);
    EXPECT_EQ(answer[0], 0xA1);
    CMBlob wrapped{answer.data(), uint32_t(answer.size())};
    const uint8_t *challenge = amNtlmsspServerGetChallenge(&wrapped);
    ASSERT_NE(challenge, nullptr);
    EXPECT_EQ(Bytes(challenge, challenge + 8), kServerChallenge);
    EXPECT_EQ(Bytes(challenge - 24, challenge - 16), Bytes({'N', 'T', 'L', 'M', 'S', 'S', 'P', 0}));
    Authenticate a = worked(kNtlm, false);
    for (bool withState : {true, false}) {
        SCOPED_TRACE(withState);
        csReleaseUser(user ? user->uid : 0xFFFF, 0);
        user = nullptr;
        ASSERT_EQ(smb2Round(negTokenInit(negotiate())), 0xC0000016u);
        ASSERT_EQ(smb2Round(negTokenResp(authenticate(a), withState)), 0u);
        EXPECT_EQ(answer, Bytes({0xA1, 0x07, 0x30, 0x05, 0xA0, 0x03, 0x0A, 0x01, 0x00}));
    }
}

TEST_F(SpnegoTest, RefusedBlobs)
{
    struct Case {
        const char *what;
        Bytes blob;
    } const cases[] = {
        {"Kerberos listed first", negTokenInit(negotiate(), cat({kKerberosOid, kNtlmOid}))},
        {"reqFlags before the token", negTokenInit(negotiate(), kNtlmOid, tlv(0xA1, {0x03, 0x01, 0x00}))},
        {"OID that is a prefix of NTLMSSP",
         negTokenInit(negotiate(), Bytes(kNtlmOid.begin(), kNtlmOid.end() - 1))},
        {"OID longer than NTLMSSP", negTokenInit(negotiate(), Bytes{0x06, 0x0B, 0x2B, 0x06, 0x01, 0x04, 0x01,
                                                                    0x82, 0x37, 0x02, 0x02, 0x0A, 0x01})},
        {"not NTLMSSP inside", negTokenInit(Bytes(32, 0x41))},
        {"raw message of type 2",
         [] {
             Bytes b = negotiate();
             b[8] = 2;
             return b;
         }()},
        {"raw message cut", Bytes({'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 1})},
        {"length past the blob", Bytes({0x60, 0x82, 0x10, 0x00, 0x06})},
        {"negTokenResp without a mechanism", negTokenResp(negotiate(), true)},
    };
    for (const Case &c : cases) {
        session->mechanism = nullptr;
        csReleaseUser(user ? user->uid : 0xFFFF, 0);
        user = nullptr;
        EXPECT_EQ(smb2Round(c.blob), 0xC000000Du) << c.what;
        EXPECT_EQ(user, nullptr) << c.what << ": a refused logon leaves no user";
    }
}

TEST_F(SpnegoTest, NegotiateWithoutASessionIsRefused)
{
    connect(&connectionB);
    EXPECT_EQ(smb2Round(negotiate()), 0xC000000Du);
}

TEST_F(SpnegoTest, MalformedAuthenticateFieldsAreRefused)
{
    Authenticate good;
    good.user = utf16("User");
    good.domain = utf16("Domain");
    good.lm = Bytes(24, 1);
    good.nt = Bytes(24, 2);
    auto patch = [&](uint32_t at, uint32_t value, int size) {
        Bytes m = authenticate(good);
        for (int i = 0; i < size; ++i)
            m[at + i] = uint8_t(value >> (8 * i));
        return m;
    };
    Authenticate longUser = good;
    longUser.user = Bytes(258, 'a');
    Authenticate oddKey = good;
    oddKey.key = Bytes(15, 7);
    Authenticate longKey = good;
    longKey.key = Bytes(17, 7);
    struct Case {
        const char *what;
        Bytes message;
    } const cases[] = {
        {"LM offset past the message", patch(16, 0x10000, 4)},
        {"NT offset wrapping around", patch(24, 0xFFFFFFF0, 4)},
        {"NT length past the message", patch(20, 0xFFFF, 2)},
        {"domain past the message", patch(32, 4000, 4)},
        {"user name of 258 bytes", authenticate(longUser)},
        {"session key of 15 bytes", authenticate(oddKey)},
        {"session key of 17 bytes", authenticate(longKey)},
        {"header cut",
         [&] {
             Bytes m = authenticate(good);
             m.resize(40);
             return m;
         }()},
    };
    for (const Case &c : cases) {
        csReleaseUser(user ? user->uid : 0xFFFF, 0);
        user = nullptr;
        ASSERT_EQ(smb2Round(negotiate()), 0xC0000016u) << c.what;
        EXPECT_EQ(smb2Round(c.message), 0xC000000Du) << c.what;
        EXPECT_EQ(user, nullptr) << c.what;
    }
}

TEST_F(SpnegoTest, SessionSecurityReplacesTheChallengeOnlyFor24ByteResponses)
{
    for (uint32_t ntLength : {24u, 26u}) {
        std::memcpy(session->challenge, kServerChallenge.data(), 8);
        Bytes message = authenticate({cat({kClientChallenge, Bytes(16, 0)}),
                                      Bytes(ntLength, 0),
                                      utf16("D"),
                                      utf16("U"),
                                      {},
                                      {},
                                      0xA2088215});
        CMBufferReader in;
        cmBufferReaderInit(&in, message.data(), uint32_t(message.size()));
        uint8_t out[16];
        CMBufferWriter w;
        cmBufferWriterInit(&w, out, sizeof out);
        AMNtlmsspResult result{};
        CMWchar account[AM_ACCOUNT_NAME_UNITS];
        CMWchar *domain = nullptr;
        const uint8_t *key = nullptr;
        ASSERT_EQ(ntlmsspServerProcess(&in, &w, &result, account, &domain, &key), 2u);
        ASSERT_NE(domain, nullptr);
        EXPECT_EQ(domain[0], 'D');
        EXPECT_EQ(domain[1], 0);
        cmMemoryFreeNonDebug(domain);
        if (ntLength == 24) {
            uint8_t nonce[16], digest[16];
            std::memcpy(nonce, kServerChallenge.data(), 8);
            std::memcpy(nonce + 8, kClientChallenge.data(), 8);
            cmMD5(digest, nonce, 16);
            EXPECT_EQ(Bytes(session->challenge, session->challenge + 8), Bytes(digest, digest + 8));
            EXPECT_EQ(Bytes(session->nonceArea, session->nonceArea + 16), Bytes(nonce, nonce + 16));
        } else {
            EXPECT_EQ(Bytes(session->challenge, session->challenge + 8), kServerChallenge);
        }
    }
}

TEST_F(SpnegoTest, EightBitAccountNames)
{
    AMMechanismContext context = nullptr;
    Bytes message =
        authenticate({Bytes(24, 1), Bytes(24, 2), utf16("Domain"), utf16("alice"), {}, {}, 0xA2000215});
    for (const Bytes &blob : {negotiate(), message}) {
        Bytes copy = blob, out(1024);
        CMBlob in{copy.data(), uint32_t(copy.size())}, answer{out.data(), uint32_t(out.size())};
        char account[257] = "untouched";
        CMWchar *domain = nullptr;
        const uint8_t *key = nullptr;
        AMNtlmsspResult result;
        uint32_t status = amSpnegoServerAcceptBlobA(&context, &in, &answer, account, &domain, &key, &result);
        EXPECT_EQ(status, blob == message ? 2u : 3u);
        EXPECT_EQ(in.len, 0u) << "the whole blob was parsed";
        if (blob == message) {
            EXPECT_STREQ(account, "alice");
            EXPECT_EQ(key, nullptr);
            EXPECT_EQ(result.ntLength, 24u);
        }
        if (domain)
            cmMemoryFreeNonDebug(domain);
    }
}

TEST(SpnegoChallenge, FoundRawAndWrappedOnly)
{
    Bytes raw(40, 0);
    raw[24] = 0x42;
    CMBlob blob{raw.data(), uint32_t(raw.size())};
    EXPECT_EQ(amNtlmsspServerGetChallenge(&blob), raw.data() + 24);
    Bytes bad = tlv(0xA1, tlv(0x30, tlv(0xA0, {0x0A, 0x02, 0x00, 0x01})));
    CMBlob wrapped{bad.data(), uint32_t(bad.size())};
    EXPECT_EQ(amNtlmsspServerGetChallenge(&wrapped), nullptr);
    Bytes shortRaw(20, 0);
    CMBlob cut{shortRaw.data(), uint32_t(shortRaw.size())};
    EXPECT_EQ(amNtlmsspServerGetChallenge(&cut), nullptr);
}

TEST(SpnegoAvPair, TextAsUtf16WithoutTerminator)
{
    uint8_t out[16] = {};
    CMBufferWriter w;
    cmBufferWriterInit(&w, out, sizeof out);
    ntlmsspPackAvPair(&w, 2, "AB");
    ntlmsspPackAvPair(&w, 0, nullptr);
    EXPECT_EQ(Bytes(out, out + cmBufferWriterGetDataCount(&w)),
              Bytes({2, 0, 4, 0, 'A', 0, 'B', 0, 0, 0, 0, 0}));
}

}  // namespace
