// LM, NT and NTLMv2 hashes, responses and keys: the published NTLM protocol
// examples (user "User", domain "Domain", password "Password") and OpenSSL
// for the derived keys.
#include <gtest/gtest.h>
#include <openssl/des.h>
#include <openssl/hmac.h>
#include <openssl/md5.h>
#include <openssl/rc4.h>

#include "cmcrypt.h"
#include "cmcryptntlm.h"
#include "test_util.h"

using namespace cryptotest;

namespace {

std::vector<uint16_t> wide(const std::string &s)
{
    std::vector<uint16_t> w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

Bytes ntHash(const std::string &password)
{
    Bytes utf16;
    for (char c : password) {
        utf16.push_back(uint8_t(c));
        utf16.push_back(0);
    }
    Bytes out(16);
    cmMD4(out.data(), utf16.data(), uint32_t(utf16.size()));
    return out;
}

Bytes rc4(const Bytes &key, Bytes data)
{
    RC4_KEY k;
    RC4_set_key(&k, int(key.size()), key.data());
    RC4(&k, data.size(), data.data(), data.data());
    return data;
}

Bytes hmacMd5(const Bytes &key, const Bytes &data)
{
    Bytes out(16);
    unsigned len = 0;
    HMAC(EVP_md5(), key.data(), int(key.size()), data.data(), data.size(), out.data(), &len);
    return out;
}

Bytes md5(const Bytes &data)
{
    Bytes out(16);
    MD5(data.data(), data.size(), out.data());
    return out;
}

const Bytes kServerChallenge = hex("0123456789abcdef");
const Bytes kClientChallenge = hex("aaaaaaaaaaaaaaaa");
const Bytes kRandomSessionKey = repeat(0x55, 16);

TEST(NtlmExamples, NtlmV1)
{
    Bytes lm(16), response(24);
    cmHashPassword("Password", lm.data());
    EXPECT_EQ(to_hex(lm), "e52cac67419a9a224a3b108f3fa6cb6d");
    Bytes nt = ntHash("Password");
    EXPECT_EQ(to_hex(nt), "a4f49c406510bdcab6824ee7c30fd852");

    uint16_t length = 0;
    cmEncryptNTLMPassword(kServerChallenge.data(), nt.data(), response.data(), &length);
    EXPECT_EQ(length, 24);
    EXPECT_EQ(to_hex(response), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
    Bytes lmResponse(24);
    cmEncryptLMPassword(kServerChallenge.data(), lm.data(), lmResponse.data(), &length);
    EXPECT_EQ(to_hex(lmResponse), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
    Bytes plain(24);
    cmEncryptPlainTextPassword("Password", kServerChallenge.data(), plain.data());
    EXPECT_EQ(plain, lmResponse);

    // Session base key = MD4(NT hash); key exchange RC4-encrypts the random session key.
    Bytes base(16);
    cmMD4(base.data(), nt.data(), 16);
    EXPECT_EQ(to_hex(base), "d87262b0cde4b1cb7499becccdf10784");
    Bytes sealed = kRandomSessionKey;
    cmArcfourCrypt(sealed.data(), 16, base.data(), 16);
    EXPECT_EQ(to_hex(sealed), "518822b1b3f350c8958682ecbb3e3cb7");

    // The LM-key exchange key: two DES halves over the LM response, as the example derives it.
    Bytes kx(16), key7b = {lm[7], 0xbd, 0xbd, 0xbd, 0xbd, 0xbd, 0xbd};
    desEncryptBlock(kx.data(), lmResponse.data(), lm.data());
    desEncryptBlock(kx.data() + 8, lmResponse.data(), key7b.data());
    EXPECT_EQ(to_hex(kx), "b09e379f7fbecb1eaf0afdcb0383c8a0");
    sealed = kRandomSessionKey;
    cmArcfourCrypt(sealed.data(), 16, kx.data(), 16);
    EXPECT_EQ(to_hex(sealed), "4cd7bb57d697ef9b549f02b8f9b37864");
    // Non-NT session key: the LM hash's first half, zero-filled.
    Bytes nonNt = cat(Bytes(lm.begin(), lm.begin() + 8), Bytes(8, 0));
    sealed = kRandomSessionKey;
    cmArcfourCrypt(sealed.data(), 16, nonNt.data(), 16);
    EXPECT_EQ(to_hex(sealed), "7452ca55c225a1ca04b48fae32cf56fc");
}

TEST(NtlmExamples, NtlmV1WithExtendedSessionSecurity)
{
    Bytes nt = ntHash("Password"), base(16), response(24);
    // The challenge is the first 8 bytes of MD5(server challenge, client challenge).
    Bytes digest(16);
    Bytes both = cat(kServerChallenge, kClientChallenge);
    cmMD5(digest.data(), both.data(), 16);
    cmEncryptHashedPassword(nt.data(), digest.data(), response.data());
    EXPECT_EQ(to_hex(response), "7537f803ae367128ca458204bde7caf81e97ed2683267232");
    cmMD4(base.data(), nt.data(), 16);
    Bytes kx(16);
    cmGenerateExtSecuritySessionKey(base.data(), both.data(), kx.data());
    EXPECT_EQ(to_hex(kx), "eb93429a8bd952f8b89c55b87f475edc");
    // In place over the key, as the logon code calls it.
    cmGenerateExtSecuritySessionKey(base.data(), both.data(), base.data());
    EXPECT_EQ(base, kx);
}

TEST(NtlmExamples, NtlmV2)
{
    Bytes nt = ntHash("Password"), v2(16);
    auto user = wide("User"), domain = wide("Domain");
    EXPECT_EQ(cmCreateV2Hash(domain.data(), 1, user.data(), nt.data(), 16, v2.data()), 0);
    EXPECT_EQ(to_hex(v2), "0c868a403bfd7a93a3001ef22ef02e3f");

    uint16_t length = 0;
    Bytes proof(16);
    cmEncryptNTLMv2Password(kServerChallenge.data(), v2.data(), kClientChallenge.data(), 8, proof.data(),
                            &length);
    EXPECT_EQ(length, 16);
    EXPECT_EQ(to_hex(proof), "86c35097ac9cec102554764a57cccc19");  // LMv2

    Bytes blob = hex("0101000000000000 0000000000000000 aaaaaaaaaaaaaaaa 00000000"
                     "02000c00 44006f006d00610069006e00 01000c00 530065007200760065007200 00000000"
                     "00000000");
    cmEncryptNTLMv2Password(kServerChallenge.data(), v2.data(), blob.data(), uint32_t(blob.size()),
                            proof.data(), &length);
    EXPECT_EQ(to_hex(proof), "68cd0ab851e51c96aabc927bebef6a1c");
    Bytes base(16);
    cmGenerateExtSecuritySessionKey(v2.data(), proof.data(), base.data());
    EXPECT_EQ(to_hex(base), "8de40ccadbc14a82f15cb0ad0de95ca3");
    Bytes sealed = kRandomSessionKey;
    cmArcfourCrypt(sealed.data(), 16, base.data(), 16);
    EXPECT_EQ(to_hex(sealed), "c5dad2544fc9799094ce1ce90bc9d03e");
}

TEST(LmHash, EdgeCases)
{
    Bytes empty(16), upper(16), mixed(16), longer(16), cut(16);
    cmHashPassword("", empty.data());
    EXPECT_EQ(to_hex(empty), "aad3b435b51404eeaad3b435b51404ee");
    cmHashPassword("SeCrEt12", mixed.data());
    cmHashPassword("SECRET12", upper.data());
    EXPECT_EQ(mixed, upper);
    cmHashPassword("abcdefghijklmnopqrst", longer.data());
    cmHashPassword("ABCDEFGHIJKLMN", cut.data());
    EXPECT_EQ(longer, cut);
    // Bytes above 0x7f are not folded.
    Bytes high(16), high2(16);
    cmHashPassword("\xe9", high.data());
    cmHashPassword("\xc9", high2.data());
    EXPECT_NE(high, high2);
}

TEST(Responses, ZeroHashGivesThreeEqualParts)
{
    Bytes zero(16, 0), response(24);
    cmEncryptHashedPassword(zero.data(), kServerChallenge.data(), response.data());
    EXPECT_EQ(to_hex(response.data(), 8), to_hex(response.data() + 8, 8));
    EXPECT_EQ(to_hex(response.data(), 8), to_hex(response.data() + 16, 8));
}

TEST(V2Hash, CaseRulesAndLongNames)
{
    Bytes nt = ntHash("pw"), userOnly(16), both(16);
    auto user = wide("alice"), domain = wide("WorkGroup");
    cmCreateV2Hash(domain.data(), 1, user.data(), nt.data(), 16, userOnly.data());
    cmCreateV2Hash(domain.data(), 0, user.data(), nt.data(), 16, both.data());
    EXPECT_NE(userOnly, both);
    auto utf16 = [](const std::string &s) {
        Bytes b;
        for (char c : s) {
            b.push_back(uint8_t(c));
            b.push_back(0);
        }
        return b;
    };
    EXPECT_EQ(to_hex(userOnly), to_hex(hmacMd5(nt, utf16("ALICEWorkGroup"))));
    EXPECT_EQ(to_hex(both), to_hex(hmacMd5(nt, utf16("ALICEWORKGROUP"))));

    // Names past the old fixed 1,029 characters are hashed whole, not overrun.
    std::string longUser(1500, 'u'), longDomain(700, 'd');
    auto lu = wide(longUser), ld = wide(longDomain);
    Bytes out(16);
    EXPECT_EQ(cmCreateV2Hash(ld.data(), 1, lu.data(), nt.data(), 16, out.data()), 0);
    EXPECT_EQ(to_hex(out), to_hex(hmacMd5(nt, utf16(std::string(1500, 'U') + longDomain))));
}

TEST(SessionSecurity, SigningAndSealingKeys)
{
    Bytes session = Rng(61).bytes(16);
    struct {
        int which;
        const char *magic;
    } cases[] = {
        {CM_NTLM_CLIENT_SIGNING, "session key to client-to-server signing key magic constant"},
        {CM_NTLM_SERVER_SIGNING, "session key to server-to-client signing key magic constant"},
        {CM_NTLM_CLIENT_SEALING, "session key to client-to-server sealing key magic constant"},
        {CM_NTLM_SERVER_SEALING, "session key to server-to-client sealing key magic constant"},
    };
    for (const auto &c : cases) {
        Bytes magic = text(c.magic);
        magic.push_back(0);
        Bytes expected = md5(cat(session, magic));
        if (c.which <= CM_NTLM_SERVER_SIGNING) {
            Bytes out(16);
            cmCalculateNtlmSigningKey(session.data(), out.data(), c.which);
            EXPECT_EQ(to_hex(out), to_hex(expected));
        } else {
            CMArcfourState state;
            cmCalculateNtlmSigningKey(session.data(), reinterpret_cast<uint8_t *>(&state), c.which);
            state.i = state.j = 0;
            Bytes data(32, 0);
            cmArcfourCryptWithState(data.data(), 32, &state);
            EXPECT_EQ(to_hex(data), to_hex(rc4(expected, Bytes(32, 0))));
        }
    }
    Bytes untouched(16, 0xcd);
    cmCalculateNtlmSigningKey(session.data(), untouched.data(), 3);
    EXPECT_EQ(untouched, Bytes(16, 0xcd));
}

TEST(SessionSecurity, DcerpcSignatureContinuesTheSealingStream)
{
    Rng rng(62);
    Bytes signingKey = rng.bytes(16), sealingKey = rng.bytes(16), message = rng.bytes(77);
    CMArcfourState state;
    cmArcfourPrepareState(sealingKey.data(), 16, &state);
    state.i = state.j = 0;
    Bytes stream = rc4(sealingKey, Bytes(16, 0));  // two signatures' worth of key stream
    for (uint32_t seq : {0u, 5u}) {
        Bytes checksum(16);
        cmCalculateDcerpcSignature(message.data(), 77, signingKey.data(), &state, seq, checksum.data());
        Bytes seqBytes = {uint8_t(seq), uint8_t(seq >> 8), uint8_t(seq >> 16), uint8_t(seq >> 24)};
        Bytes mac = hmacMd5(signingKey, cat(seqBytes, message));
        size_t at = seq ? 8 : 0;
        for (size_t i = 0; i < 8; ++i)
            mac[i] ^= stream[at + i];
        EXPECT_EQ(to_hex(checksum), to_hex(mac)) << seq;
    }
}

TEST(Samr, PasswordBufferSaltedAndPlain)
{
    Rng rng(63);
    Bytes key = rng.bytes(16), plain = rng.bytes(516), salt = rng.bytes(16);
    // Plain form: RC4 under the key itself; decrypting twice restores the buffer.
    Bytes buffer = rc4(key, plain);
    cmDecryptPassword(key.data(), buffer.data(), 0);
    EXPECT_EQ(buffer, plain);
    cmDecryptPassword(key.data(), buffer.data(), 0);
    cmDecryptPassword(key.data(), buffer.data(), 0);
    EXPECT_EQ(buffer, plain);
    // Salted form: RC4 under MD5(salt, key); the salt after the 516 bytes stays as it is.
    Bytes salted = cat(rc4(md5(cat(salt, key)), plain), salt);
    cmDecryptPassword(key.data(), salted.data(), 1);
    EXPECT_EQ(Bytes(salted.begin(), salted.begin() + 516), plain);
    EXPECT_EQ(Bytes(salted.begin() + 516, salted.end()), salt);
}

TEST(Netlogon, CredentialsAndSessionKey)
{
    Rng rng(64);
    Bytes cc = rng.bytes(8), sc = rng.bytes(8), secret = rng.bytes(16);
    Bytes clientCred(8), serverCred(8), sessionKey(16);
    cmGenerateNetlogonCredentials(cc.data(), sc.data(), secret.data(), clientCred.data(), serverCred.data(),
                                  sessionKey.data());
    Bytes expectedKey = hmacMd5(secret, md5(cat(cat(Bytes(4, 0), cc), sc)));
    EXPECT_EQ(to_hex(sessionKey), to_hex(expectedKey));
    Bytes c1(8), c2(8);
    desEncryptBlock(c1.data(), cc.data(), expectedKey.data());
    desEncryptBlock(c2.data(), c1.data(), expectedKey.data() + 7);
    EXPECT_EQ(to_hex(clientCred), to_hex(c2));
    cmDES112(c2.data(), sc.data(), expectedKey.data());
    EXPECT_EQ(to_hex(serverCred), to_hex(c2));
}

}  // namespace
