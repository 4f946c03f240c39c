// SMB3 key derivation against OpenSSL's KBKDF, transform sealing in both
// ciphers, and the 3.1.1 preauth hash chain.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/sha.h>

#include "cmcryptsmb3.h"
#include "openssl_oracle.h"

using namespace cryptotest;

namespace {

Bytes kbkdf(const Bytes &key, const Bytes &label, const Bytes &context)
{
    EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "KBKDF", nullptr);
    EVP_KDF_CTX *c = EVP_KDF_CTX_new(kdf);
    char mac[] = "HMAC", digest[] = "SHA256", mode[] = "counter";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_MAC, mac, 0),
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_MODE, mode, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<uint8_t *>(key.data()), key.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<uint8_t *>(label.data()),
                                          label.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<uint8_t *>(context.data()),
                                          context.size()),
        OSSL_PARAM_construct_end()};
    Bytes out(16);
    EXPECT_EQ(EVP_KDF_derive(c, out.data(), out.size(), params), 1);
    EVP_KDF_CTX_free(c);
    EVP_KDF_free(kdf);
    return out;
}

Bytes withZero(const char *s)
{
    Bytes b = text(s);
    b.push_back(0);
    return b;
}

Bytes derive(const Bytes &key, const Bytes &label, const Bytes &context)
{
    Bytes out(16);
    cmKeyDerivation(key.data(), uint32_t(key.size()), label.data(), uint32_t(label.size()), context.data(),
                    uint32_t(context.size()), out.data());
    return out;
}

TEST(KeyDerivation, MatchesOpenSslKbkdfForEveryLabel)
{
    Rng rng(71);
    Bytes session = rng.bytes(16), preauth = rng.bytes(64);
    struct {
        const char *label;
        Bytes context;
    } rows[] = {
        {"SMB2AESCMAC", withZero("SmbSign")},
        {"SMB2AESCCM", withZero("ServerOut")},
        {"SMB2AESCCM", withZero("ServerIn ")},
        {"SMB2APP", withZero("SmbRpc")},
        {"SMBSigningKey", preauth},
        {"SMBS2CCipherKey", preauth},
        {"SMBC2SCipherKey", preauth},
        {"SMBAppKey", preauth},
    };
    for (const auto &r : rows) {
        Bytes label = withZero(r.label);
        EXPECT_EQ(to_hex(derive(session, label, r.context)), to_hex(kbkdf(session, label, r.context)))
            << r.label;
    }
    // Random keys and lengths, including a key longer than the HMAC block.
    for (size_t keyLength : {1, 16, 32, 64, 100}) {
        Bytes key = rng.bytes(keyLength), label = rng.bytes(rng.below(40) + 1),
              context = rng.bytes(rng.below(90));
        EXPECT_EQ(to_hex(derive(key, label, context)), to_hex(kbkdf(key, label, context))) << keyLength;
    }
}

TEST(KeyDerivation, CountedTerminatorIsPartOfTheLabel)
{
    Bytes session = Rng(72).bytes(16);
    EXPECT_NE(derive(session, withZero("SMB2AESCMAC"), withZero("SmbSign")),
              derive(session, text("SMB2AESCMAC"), withZero("SmbSign")));
}

TEST(PreauthHash, ChainsSha512)
{
    Bytes message = Rng(73).bytes(200), hash(64, 0);
    CMSha512Context work;
    ASSERT_EQ(cmSmb311CalcMessagesHash(message.data(), 200, hash.data(), &work), 0);
    Bytes first(64);
    SHA512(cat(Bytes(64, 0), message).data(), 264, first.data());
    EXPECT_EQ(to_hex(hash), to_hex(first));
    // Second link, without a work area.
    cmSmb311CalcMessagesHash(message.data(), 100, hash.data(), nullptr);
    Bytes second(64);
    SHA512(cat(first, Bytes(message.begin(), message.begin() + 100)).data(), 164, second.data());
    EXPECT_EQ(to_hex(hash), to_hex(second));
}

// A transform message as the dispatcher sees it: 52-byte header, AAD = its bytes 20..51.
struct Transform {
    Bytes key = Rng(74).bytes(16);
    Bytes header = Rng(75).bytes(52);
    const uint8_t *nonce() const { return header.data() + 20; }
    const uint8_t *aad() const { return header.data() + 20; }
    uint8_t *signature() { return header.data() + 4; }
};

TEST(Transform, SealAndOpenBothCiphers)
{
    for (int useGcm : {0, 1}) {
        Transform t;
        Bytes plain = Rng(76).bytes(333), message = plain;
        ASSERT_EQ(cmSmb3SealMessage(t.key.data(), t.nonce(), message.data(), 333, t.aad(), 32, t.signature(),
                                    useGcm, nullptr, nullptr),
                  1);
        Sealed expected = opensslSeal(useGcm != 0, t.key, Bytes(t.nonce(), t.nonce() + (useGcm ? 12 : 11)),
                                      Bytes(t.aad(), t.aad() + 32), plain);
        EXPECT_EQ(message, expected.cipher);
        EXPECT_EQ(Bytes(t.signature(), t.signature() + 16), expected.tag);
        EXPECT_EQ(cmSmb3DecryptMessage(t.key.data(), t.nonce(), message.data(), 333, t.aad(), 32,
                                       t.signature(), useGcm),
                  1);
        EXPECT_EQ(message, plain);

        // The exported form seals the same way.
        Bytes again = plain;
        uint8_t tag[16];
        cmSmb3EncryptMessage(t.key.data(), t.nonce(), again.data(), 333, t.aad(), 32, tag, useGcm);
        EXPECT_EQ(again, expected.cipher);
    }
}

TEST(Transform, TamperedMessageOrSignatureFails)
{
    for (int useGcm : {0, 1}) {
        Transform t;
        Bytes plain = Rng(77).bytes(64), sealed = plain;
        cmSmb3EncryptMessage(t.key.data(), t.nonce(), sealed.data(), 64, t.aad(), 32, t.signature(), useGcm);
        Bytes m = sealed;
        m[10] ^= 0x04;
        EXPECT_EQ(
            cmSmb3DecryptMessage(t.key.data(), t.nonce(), m.data(), 64, t.aad(), 32, t.signature(), useGcm),
            0);
        m = sealed;
        t.signature()[15] ^= 0x01;
        EXPECT_EQ(
            cmSmb3DecryptMessage(t.key.data(), t.nonce(), m.data(), 64, t.aad(), 32, t.signature(), useGcm),
            0);
        t.signature()[15] ^= 0x01;
        t.header[51] ^= 0x80;  // session id, inside the associated data
        EXPECT_EQ(
            cmSmb3DecryptMessage(t.key.data(), t.nonce(), m.data(), 64, t.aad(), 32, t.signature(), useGcm),
            0);
    }
}

TEST(Transform, UnsealableMessageIsReportedAndLeftAlone)
{
    Transform t;
    Bytes message(40, 0x11);
    Bytes before = t.header;
    EXPECT_EQ(cmSmb3SealMessage(t.key.data(), nullptr, message.data(), 40, t.aad(), 32, t.signature(), 1,
                                nullptr, nullptr),
              0);
    EXPECT_EQ(cmSmb3SealMessage(t.key.data(), nullptr, message.data(), 40, t.aad(), 32, t.signature(), 0,
                                nullptr, nullptr),
              0);
    EXPECT_EQ(message, Bytes(40, 0x11));
    EXPECT_EQ(t.header, before);
}

}  // namespace
