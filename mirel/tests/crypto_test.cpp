#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "mirel_crypto.h"
#include "test_util.h"

using namespace mirel_test;

namespace {

Bytes x25519(const Bytes &scalar, const Bytes &point)
{
    Bytes out(32);
    EXPECT_EQ(curve25519_donna(out.data(), scalar.data(), point.data()), 0);
    return out;
}

Bytes base_point()
{
    Bytes b(32, 0);
    b[0] = 9;
    return b;
}

TEST(X25519, Rfc7748Vectors)
{
    struct Case {
        const char *scalar, *u, *result;
    } cases[] = {
        {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
         "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
         "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
        {"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
         "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
         "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(x25519(hex(c.scalar), hex(c.u)), hex(c.result));
}

TEST(X25519, Rfc7748IteratedToAThousand)
{
    Bytes k = base_point(), u = base_point();
    for (int i = 1; i <= 1000; i++) {
        Bytes r = x25519(k, u);
        u = k;
        k = r;
        if (i == 1) {
            EXPECT_EQ(k, hex("422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079"));
        }
    }
    EXPECT_EQ(k, hex("684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51"));
}

TEST(X25519, Rfc7748KeyAgreement)
{
    Bytes alice = hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    Bytes bob = hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    Bytes alice_pub = x25519(alice, base_point());
    Bytes bob_pub = x25519(bob, base_point());
    EXPECT_EQ(alice_pub, hex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"));
    EXPECT_EQ(bob_pub, hex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"));
    Bytes shared = hex("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
    EXPECT_EQ(x25519(alice, bob_pub), shared);
    EXPECT_EQ(x25519(bob, alice_pub), shared);
}

TEST(X25519, RefusesAllZeroResult)
{
    // u = 0 and u = 1 are of low order: every clamped scalar gives 0.
    Bytes scalar = hex("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4");
    Bytes one(32, 0);
    one[0] = 1;
    // p + 1 with the top bit set: the same point as 1 in a non-canonical form.
    Bytes p_plus_one = hex("eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff");
    for (const Bytes &u : {Bytes(32, 0), one, p_plus_one}) {
        Bytes out(32, 0xAA);
        errno = 0;
        EXPECT_EQ(curve25519_donna(out.data(), scalar.data(), u.data()), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(curve25519_donna(nullptr, scalar.data(), one.data()), -1);
}

struct PkeyFree {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *p) const { EVP_PKEY_CTX_free(p); }
};

// OpenSSL's X25519 as the reference; empty when it refuses (all-zero result).
Bytes openssl_x25519(const Bytes &scalar, const Bytes &point)
{
    std::unique_ptr<EVP_PKEY, PkeyFree> priv(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar.data(), 32));
    std::unique_ptr<EVP_PKEY, PkeyFree> peer(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, point.data(), 32));
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(priv.get(), nullptr));
    Bytes out(32);
    size_t len = out.size();
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) <= 0 ||
        EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) <= 0 ||
        EVP_PKEY_derive(ctx.get(), out.data(), &len) <= 0)
        return {};
    return out;
}

TEST(X25519, AgreesWithOpenSsl)
{
    for (int i = 0; i < 120; i++) {
        Bytes scalar(32), point(32);
        ASSERT_EQ(RAND_bytes(scalar.data(), 32), 1);
        ASSERT_EQ(RAND_bytes(point.data(), 32), 1);
        if (i % 3 == 0)
            point[31] |= 0x80;  // the top bit must be ignored
        if (i % 7 == 0)
            std::memset(point.data() + 1, 0xFF, 31);  // values at and above p
        Bytes want = openssl_x25519(scalar, point);
        if (want.empty()) {
            // A low-order point in non-canonical form (p - 1, p, p + 1 ...):
            // both sides refuse the all-zero result.
            Bytes out(32);
            EXPECT_EQ(curve25519_donna(out.data(), scalar.data(), point.data()), -1) << i;
        } else {
            EXPECT_EQ(x25519(scalar, point), want) << i;
        }

        // Public keys from the base point agree as well.
        std::unique_ptr<EVP_PKEY, PkeyFree> priv(
            EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar.data(), 32));
        Bytes pub(32);
        size_t len = 32;
        ASSERT_EQ(EVP_PKEY_get_raw_public_key(priv.get(), pub.data(), &len), 1);
        EXPECT_EQ(x25519(scalar, base_point()), pub) << i;
    }
}

// HKDF-SHA256 spelled out with HMAC: extract with an empty salt, expand with no info.
Bytes hmac_hkdf(const Bytes &secret)
{
    uint8_t prk[32];
    unsigned len = 0;
    HMAC(EVP_sha256(), "", 0, secret.data(), secret.size(), prk, &len);
    Bytes okm;
    Bytes t;
    for (uint8_t i = 1; okm.size() < 40; i++) {
        Bytes in = t;
        in.push_back(i);
        t.resize(32);
        HMAC(EVP_sha256(), prk, 32, in.data(), in.size(), t.data(), &len);
        okm.insert(okm.end(), t.begin(), t.end());
    }
    okm.resize(40);
    return okm;
}

TEST(Hkdf, Rfc5869EmptySaltAndInfo)
{
    Bytes ikm(22, 0x0b);
    Bytes out(40);
    ASSERT_EQ(Hkdf(ikm.data(), ikm.size(), out.data()), 0);
    EXPECT_EQ(out, hex("8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d"
                       "9d201395faa4b61a"));
    for (int i = 0; i < 20; i++) {
        Bytes secret(32);
        RAND_bytes(secret.data(), 32);
        ASSERT_EQ(Hkdf(secret.data(), secret.size(), out.data()), 0);
        EXPECT_EQ(out, hmac_hkdf(secret));
    }
    EXPECT_EQ(Hkdf(nullptr, 32, out.data()), -1);
    EXPECT_EQ(Hkdf(ikm.data(), 0, out.data()), -1);
    EXPECT_EQ(Hkdf(ikm.data(), 22, nullptr), -1);
}

struct AeadFree {
    void operator()(struct Aead *a) const { Aead_Free(a); }
};
using AeadPtr = std::unique_ptr<struct Aead, AeadFree>;

const Bytes kKeyA = hex("000102030405060708090a0b0c0d0e0f");
const Bytes kKeyB = hex("f0e0d0c0b0a090807060504030201000");
const Bytes kIvA = hex("a1a2a3a4");
const Bytes kIvB = hex("b1b2b3b4");

// Sealer seals with (B, IvB); its mirror opens with (B, IvB).
AeadPtr sealer() { return AeadPtr(Aead(kKeyA.data(), 16, kKeyB.data(), 16, kIvA.data(), 4, kIvB.data(), 4)); }
AeadPtr mirror() { return AeadPtr(Aead(kKeyB.data(), 16, kKeyA.data(), 16, kIvB.data(), 4, kIvA.data(), 4)); }

Bytes seal(struct Aead *a, const Bytes &plain, uint16_t id, const Bytes &aad = {})
{
    Bytes out(plain.size() + 12);
    size_t len = out.size();
    EXPECT_EQ(Aead_Seal(a, plain.data(), plain.size(), id, aad.empty() ? nullptr : aad.data(), aad.size(),
                        out.data(), &len),
              0);
    out.resize(len);
    return out;
}

int open(struct Aead *a, const Bytes &sealed, uint16_t id, Bytes *plain, const Bytes &aad = {})
{
    plain->assign(sealed.size() > 12 ? sealed.size() - 12 : 1, 0);
    size_t len = plain->size();
    int rc = Aead_Open(a, sealed.data(), sealed.size(), id, aad.empty() ? nullptr : aad.data(), aad.size(),
                       plain->data(), &len);
    if (rc == 0)
        plain->resize(len);
    return rc;
}

TEST(Aead, ChecksKeyAndIvSizes)
{
    errno = 0;
    EXPECT_EQ(Aead(kKeyA.data(), 15, kKeyB.data(), 16, kIvA.data(), 4, kIvB.data(), 4), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Aead(kKeyA.data(), 16, kKeyB.data(), 16, kIvA.data(), 3, kIvB.data(), 4), nullptr);
    EXPECT_EQ(Aead(kKeyA.data(), 16, nullptr, 16, kIvA.data(), 4, kIvB.data(), 4), nullptr);
    Aead_Free(nullptr);
}

TEST(Aead, SealUsesIvAndLittleEndianIdAsNonce)
{
    AeadPtr a = sealer();
    ASSERT_TRUE(a);
    Bytes plain = {'h', 'e', 'l', 'l', 'o'};
    Bytes aad = {1, 2, 3};
    Bytes sealed = seal(a.get(), plain, 0x1234, aad);
    ASSERT_EQ(sealed.size(), plain.size() + 12);

    // The same seal by hand: nonce = IvB, 0x34, 0x12, six zero bytes.
    Bytes nonce = kIvB;
    nonce.insert(nonce.end(), {0x34, 0x12, 0, 0, 0, 0, 0, 0});
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    Bytes want(plain.size() + 16);
    int n = 0, m = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_128_gcm(), nullptr, kKeyB.data(), nonce.data()), 1);
    EVP_EncryptUpdate(ctx, nullptr, &n, aad.data(), static_cast<int>(aad.size()));
    EVP_EncryptUpdate(ctx, want.data(), &n, plain.data(), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx, want.data() + n, &m);
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 12, want.data() + n + m);
    EVP_CIPHER_CTX_free(ctx);
    want.resize(plain.size() + 12);
    EXPECT_EQ(sealed, want);
}

TEST(Aead, MirrorOpensAndTamperingFails)
{
    AeadPtr a = sealer(), b = mirror();
    Bytes plain(300);
    for (size_t i = 0; i < plain.size(); i++)
        plain[i] = static_cast<uint8_t>(i * 7);
    Bytes sealed = seal(a.get(), plain, 0x1234);
    Bytes got;
    ASSERT_EQ(open(b.get(), sealed, 0x1234, &got), 0);
    EXPECT_EQ(got, plain);
    // The record stays usable after failures: each call sets a fresh nonce.
    EXPECT_EQ(open(b.get(), sealed, 0x1235, &got), -5) << "another message id";
    Bytes tag_flip = sealed;
    tag_flip.back() ^= 1;
    EXPECT_EQ(open(b.get(), tag_flip, 0x1234, &got), -5);
    Bytes body_flip = sealed;
    body_flip[17] ^= 0x40;
    EXPECT_EQ(open(b.get(), body_flip, 0x1234, &got), -5);
    EXPECT_EQ(open(a.get(), sealed, 0x1234, &got), -5) << "the sealer's own open key differs";
    Bytes aad = {9};
    Bytes with_aad = seal(a.get(), plain, 7, aad);
    EXPECT_EQ(open(b.get(), with_aad, 7, &got, Bytes{8}), -5);
    ASSERT_EQ(open(b.get(), with_aad, 7, &got, aad), 0);
    EXPECT_EQ(got, plain);
}

TEST(Aead, SizeChecks)
{
    AeadPtr a = sealer();
    uint8_t out[64];
    const uint8_t one = 'x';
    size_t len = 12;
    EXPECT_EQ(Aead_Seal(a.get(), &one, 1, 1, nullptr, 0, out, &len), -1);
    len = 13;
    EXPECT_EQ(Aead_Seal(a.get(), &one, 1, 1, nullptr, 0, out, &len), 0);
    EXPECT_EQ(len, 13u);
    len = sizeof out;
    EXPECT_EQ(Aead_Seal(a.get(), &one, 0, 1, nullptr, 0, out, &len), -1) << "empty plaintext";
    EXPECT_EQ(Aead_Seal(nullptr, &one, 1, 1, nullptr, 0, out, &len), -1);
    len = sizeof out;
    EXPECT_EQ(Aead_Open(a.get(), out, 12, 1, nullptr, 0, out, &len), -1) << "12 bytes hold no text";
    len = 0;
    EXPECT_EQ(Aead_Open(a.get(), out, 13, 1, nullptr, 0, out, &len), -1) << "no room";
}

}  // namespace
