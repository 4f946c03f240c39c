// AES-CMAC, AES-128-CCM and AES-GCM: published vectors, differential runs
// against OpenSSL, in-place behaviour and tamper detection.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "cmcryptmodes.h"
#include "openssl_oracle.h"

using namespace cryptotest;

namespace {

const Bytes kRfc4493Key = hex("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes kRfc4493Message = hex("6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
                                  "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");

Bytes cmacOneCall(const Bytes &key, const Bytes &data)
{
    CMAesCmacContext c;
    aes_cmac_init(key.data(), uint32_t(data.size()), &c);
    aes_cmac_update(&c, data.data(), uint32_t(data.size()));
    Bytes mac(16);
    aes_cmac_final(&c, mac.data());
    return mac;
}

Bytes cmacBytewise(const Bytes &key, const Bytes &data)
{
    CMAesCmacContext c;
    aes_cmac_init(key.data(), uint32_t(data.size()), &c);
    for (size_t i = 0; i < data.size(); ++i)
        aes_cmac_update(&c, data.data() + i, 1);
    Bytes mac(16);
    aes_cmac_final(&c, mac.data());
    return mac;
}

TEST(Cmac, Rfc4493)
{
    uint8_t k1[16], k2[16];
    AES_CMAC_GenSubKey(kRfc4493Key.data(), k1, k2);
    EXPECT_EQ(to_hex(k1, 16), "fbeed618357133667c85e08f7236a8de");
    EXPECT_EQ(to_hex(k2, 16), "f7ddac306ae266ccf90bc11ee46d513b");
    struct {
        size_t length;
        const char *mac;
    } cases[] = {{0, "bb1d6929e95937287fa37d129b756746"},
                 {16, "070a16b46b4d4144f79bdd9dd04a287c"},
                 {40, "dfa66747de9ae63030ca32611497c827"},
                 {64, "51f0bebf7e3b9d92fc49741779363cfe"}};
    for (const auto &c : cases) {
        Bytes m(kRfc4493Message.begin(), kRfc4493Message.begin() + long(c.length));
        EXPECT_EQ(to_hex(cmacOneCall(kRfc4493Key, m)), c.mac) << c.length;
        EXPECT_EQ(to_hex(cmacBytewise(kRfc4493Key, m)), c.mac) << c.length;
    }
}

TEST(Cmac, BuildingBlocks)
{
    uint8_t out[16];
    EXPECT_EQ(AES_CMAC_ShiftBitLeft(hex("80000000000000000000000000000001").data(), out), 1);
    EXPECT_EQ(to_hex(out, 16), "00000000000000000000000000000002");
    AES_CMAC_Padding(hex("aabb").data(), out, 2);
    EXPECT_EQ(to_hex(out, 16), "aabb8000000000000000000000000000");
    EXPECT_EQ(AES_XOR_128(const_Rb, const_Rb, out), 16);
    EXPECT_EQ(to_hex(out, 16), std::string(32, '0'));
    EXPECT_EQ(const_Rb[15], 0x87);
}

TEST(Cmac, VectorEntryTruncatesAndSkipsNullFragments)
{
    Bytes m(kRfc4493Message.begin(), kRfc4493Message.begin() + 40);
    CMBlob key{const_cast<uint8_t *>(kRfc4493Key.data()), 16};
    CMBlob parts[3] = {{m.data(), 10}, {nullptr, 99}, {m.data() + 10, 30}};
    uint8_t mac[20];
    std::memset(mac, 0xcc, sizeof mac);
    aesCmacVector(&key, nullptr, parts, 3, mac, 8);
    EXPECT_EQ(to_hex(mac, 8), "dfa66747de9ae630");
    EXPECT_EQ(mac[8], 0xcc);
    aesCmacVector(&key, nullptr, parts, 0, mac, 16);
    EXPECT_EQ(to_hex(mac, 16), "bb1d6929e95937287fa37d129b756746");
}

TEST(Cmac, DifferentialOneCallAndSplit)
{
    Rng rng(21);
    for (size_t n : boundaryLengths()) {
        Bytes key = rng.bytes(16), data = rng.bytes(n);
        Bytes expected = opensslCmac(key, data);
        ASSERT_EQ(to_hex(cmacOneCall(key, data)), to_hex(expected)) << n;
        auto parts = randomFragments(data, rng);
        CMBlob k{key.data(), 16};
        Bytes mac(16);
        aesCmacVector(&k, nullptr, parts.data(), uint32_t(parts.size()), mac.data(), 16);
        ASSERT_EQ(to_hex(mac), to_hex(expected)) << "split " << n;
    }
}

// ---- CCM ----

struct Aead {
    bool gcm;
    Bytes key, nonce, aad;

    int seal(Bytes &message, Bytes &tag) const
    {
        CMBlob k{const_cast<uint8_t *>(key.data()), uint32_t(key.size())};
        CMBlob n{const_cast<uint8_t *>(nonce.data()), uint32_t(nonce.size())};
        CMBlob a{const_cast<uint8_t *>(aad.data()), uint32_t(aad.size())};
        CMBlob m{message.data(), uint32_t(message.size())};
        tag.assign(16, 0);
        return gcm ? aesGcmEncryptVector(&k, &n, &a, &m, tag.data(), nullptr, nullptr)
                   : aesCcmEncryptVector(&k, &n, &a, &m, tag.data());
    }
    int open(Bytes &message, const Bytes &tag) const
    {
        CMBlob k{const_cast<uint8_t *>(key.data()), uint32_t(key.size())};
        CMBlob n{const_cast<uint8_t *>(nonce.data()), uint32_t(nonce.size())};
        CMBlob a{const_cast<uint8_t *>(aad.data()), uint32_t(aad.size())};
        CMBlob m{message.data(), uint32_t(message.size())};
        return gcm ? aesGcmDecryptVector(&k, &n, &a, &m, tag.data(), nullptr, nullptr)
                   : aesCcmDecryptVector(&k, &n, &a, &m, tag.data());
    }
};

void differential(bool gcm, size_t keyLength, uint32_t seed)
{
    Rng rng(seed);
    const size_t aadLengths[] = {0, 1, 15, 16, 17, 32, 52};
    for (size_t n : boundaryLengths()) {
        size_t aadLength = aadLengths[rng.below(7)];
        Aead a{gcm, rng.bytes(keyLength), rng.bytes(gcm ? 12 : 11), rng.bytes(aadLength)};
        Bytes plain = rng.bytes(n), message = plain, tag;
        ASSERT_EQ(a.seal(message, tag), 1);
        Sealed expected = opensslSeal(gcm, a.key, a.nonce, a.aad, plain);
        ASSERT_EQ(to_hex(message), to_hex(expected.cipher)) << "len " << n << " aad " << aadLength;
        ASSERT_EQ(to_hex(tag), to_hex(expected.tag)) << "len " << n << " aad " << aadLength;
        ASSERT_EQ(a.open(message, tag), 1);
        ASSERT_EQ(message, plain);
    }
}

TEST(Ccm, DifferentialAgainstOpenSsl) { differential(false, 16, 31); }

// Associated data of 0xFF00 bytes and more takes the six-byte length prefix.
TEST(Ccm, LongAssociatedData)
{
    Rng rng(32);
    for (size_t aadLength : {size_t(0xfeff), size_t(0xff00), size_t(0x10005)}) {
        Aead a{false, rng.bytes(16), rng.bytes(11), rng.bytes(aadLength)};
        Bytes plain = rng.bytes(33), message = plain, tag;
        ASSERT_EQ(a.seal(message, tag), 1);
        Sealed expected = opensslSeal(false, a.key, a.nonce, a.aad, plain);
        EXPECT_EQ(to_hex(message), to_hex(expected.cipher)) << aadLength;
        EXPECT_EQ(to_hex(tag), to_hex(expected.tag)) << aadLength;
    }
}

// Every single-bit change of ciphertext, associated data or tag fails the check.
void bitFlips(bool gcm)
{
    Rng rng(gcm ? 41 : 42);
    Aead a{gcm, rng.bytes(16), rng.bytes(gcm ? 12 : 11), rng.bytes(32)};
    Bytes plain = rng.bytes(37), sealed = plain, tag;
    ASSERT_EQ(a.seal(sealed, tag), 1);
    for (size_t bit = 0; bit < sealed.size() * 8; ++bit) {
        Bytes m = sealed;
        m[bit / 8] ^= uint8_t(1 << bit % 8);
        ASSERT_EQ(a.open(m, tag), 0) << "message bit " << bit;
    }
    for (size_t bit = 0; bit < 128; ++bit) {
        Bytes m = sealed, t = tag;
        t[bit / 8] ^= uint8_t(1 << bit % 8);
        ASSERT_EQ(a.open(m, t), 0) << "tag bit " << bit;
    }
    for (size_t bit = 0; bit < a.aad.size() * 8; ++bit) {
        Aead changed = a;
        changed.aad[bit / 8] ^= uint8_t(1 << bit % 8);
        Bytes m = sealed;
        ASSERT_EQ(changed.open(m, tag), 0) << "aad bit " << bit;
    }
    Bytes m = sealed;
    EXPECT_EQ(a.open(m, tag), 1);
    EXPECT_EQ(m, plain);
}

TEST(Ccm, BitFlipFailsTheCheck) { bitFlips(false); }
TEST(Gcm, BitFlipFailsTheCheck) { bitFlips(true); }

// A nonce of the wrong length seals nothing: message and tag stay as they were.
TEST(AeadRefusal, WrongNonceLengthWritesNothing)
{
    for (bool gcm : {false, true}) {
        Aead a{gcm, Bytes(16, 1), Bytes(gcm ? 11 : 12, 2), Bytes(4, 3)};
        Bytes message(20, 0x44), tag;
        EXPECT_EQ(a.seal(message, tag), 0);
        EXPECT_EQ(message, Bytes(20, 0x44));
        EXPECT_EQ(tag, Bytes(16, 0));
        EXPECT_EQ(a.open(message, tag), gcm ? -1 : 0);
        EXPECT_EQ(message, Bytes(20, 0x44));
    }
    // GCM with a key that is no AES key length cannot run.
    Aead bad{true, Bytes(20, 1), Bytes(12, 2), {}};
    Bytes message(5, 9), tag(16, 0);
    EXPECT_EQ(bad.seal(message, tag), 0);
    EXPECT_EQ(bad.open(message, tag), -1);
    EXPECT_EQ(message, Bytes(5, 9));
}

TEST(Ccm, ExportedWrappers)
{
    Rng rng(43);
    Bytes key = rng.bytes(16), nonce = rng.bytes(11), aad = rng.bytes(32), plain = rng.bytes(100);
    Bytes message = plain, tag(16);
    AES_128_CCM_Encrypt(key.data(), nonce.data(), message.data(), 100, aad.data(), 32, tag.data());
    Sealed expected = opensslSeal(false, key, nonce, aad, plain);
    EXPECT_EQ(message, expected.cipher);
    EXPECT_EQ(tag, expected.tag);
    EXPECT_EQ(AES_128_CCM_Decrypt(key.data(), nonce.data(), message.data(), 100, aad.data(), 32, tag.data()),
              1);
    EXPECT_EQ(message, plain);
}

// ---- GCM ----

struct GcmCase {
    const char *key, *plain, *aad, *cipher, *tag;
};

const char kP[] = "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                  "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255";
const char kP60[] = "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                    "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39";
const char kA[] = "feedfacedeadbeeffeedfacedeadbeefabaddad2";
const char kZ16[] = "00000000000000000000000000000000";

// The test cases of the original GCM paper that use 96-bit IVs (1-4, 7-10, 13-16).
const GcmCase kGcmCases[] = {
    {kZ16, "", "", "", "58e2fccefa7e3061367f1d57a4e7455a"},
    {kZ16, kZ16, "", "0388dace60b6a392f328c2b971b2fe78", "ab6e47d42cec13bdf53a67b21257bddf"},
    {"feffe9928665731c6d6a8f9467308308", kP, "",
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e"
     "21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091473f5985",
     "4d5c2af327cd64a62cf35abd2ba6fab4"},
    {"feffe9928665731c6d6a8f9467308308", kP60, kA,
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e"
     "21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091",
     "5bc94fbc3221a5db94fae95ae7121a47"},
    {"000000000000000000000000000000000000000000000000", "", "", "", "cd33b28ac773f74ba00ed1f312572435"},
    {"000000000000000000000000000000000000000000000000", kZ16, "", "98e7247c07f0fe411c267e4384b0f600",
     "2ff58d80033927ab8ef4d4587514f0fb"},
    {"feffe9928665731c6d6a8f9467308308feffe9928665731c", kP, "",
     "3980ca0b3c00e841eb06fac4872a2757859e1ceaa6efd984628593b40ca1e19c"
     "7d773d00c144c525ac619d18c84a3f4718e2448b2fe324d9ccda2710acade256",
     "9924a7c8587336bfb118024db8674a14"},
    {"feffe9928665731c6d6a8f9467308308feffe9928665731c", kP60, kA,
     "3980ca0b3c00e841eb06fac4872a2757859e1ceaa6efd984628593b40ca1e19c"
     "7d773d00c144c525ac619d18c84a3f4718e2448b2fe324d9ccda2710",
     "2519498e80f1478f37ba55bd6d27618c"},
    {"0000000000000000000000000000000000000000000000000000000000000000", "", "", "",
     "530f8afbc74536b9a963b4f1c4cb738b"},
    {"0000000000000000000000000000000000000000000000000000000000000000", kZ16, "",
     "cea7403d4d606b6e074ec5d3baf39d18", "d0d1c8a799996bf0265b98b5d48ab919"},
    {"feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", kP, "",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
     "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad",
     "b094dac5d93471bdec1a502270e3cc6c"},
    {"feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", kP60, kA,
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
     "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
};

TEST(Gcm, PaperTestCases)
{
    for (const auto &c : kGcmCases) {
        bool zeroKey = hex(c.key) == Bytes(hex(c.key).size(), 0);
        Aead a{true, hex(c.key), hex(zeroKey ? "000000000000000000000000" : "cafebabefacedbaddecaf888"),
               hex(c.aad)};
        Bytes message = hex(c.plain), tag;
        ASSERT_EQ(a.seal(message, tag), 1);
        EXPECT_EQ(to_hex(message), c.cipher) << c.key;
        EXPECT_EQ(to_hex(tag), c.tag) << c.key;
        EXPECT_EQ(a.open(message, tag), 1);
        EXPECT_EQ(to_hex(message), to_hex(hex(c.plain)));
        // Separate output through the direct entry gives the same result.
        Bytes plain = hex(c.plain), out(plain.size()), tag2(16);
        EXPECT_EQ(aesGcmAuthEncrypt(a.key.data(), uint32_t(a.key.size()), a.nonce.data(), 12, plain.data(),
                                    uint32_t(plain.size()), a.aad.data(), uint32_t(a.aad.size()), out.data(),
                                    tag2.data()),
                  0);
        EXPECT_EQ(to_hex(out), c.cipher);
        EXPECT_EQ(to_hex(tag2), c.tag);
    }
}

TEST(Gcm, DifferentialAgainstOpenSsl128) { differential(true, 16, 51); }
TEST(Gcm, DifferentialAgainstOpenSsl192) { differential(true, 24, 52); }
TEST(Gcm, DifferentialAgainstOpenSsl256) { differential(true, 32, 53); }

TEST(Gcm, CallerContextAndExportedWrappers)
{
    Rng rng(54);
    Bytes key = rng.bytes(16), nonce = rng.bytes(12), aad = rng.bytes(32), plain = rng.bytes(300);
    CMAesContext context;
    uint8_t work[8];  // accepted for form; the mode works in place
    Bytes message = plain, tag(16);
    aes128GcmEncrypt(key.data(), nonce.data(), message.data(), 300, aad.data(), 32, tag.data(), &context,
                     work);
    Sealed expected = opensslSeal(true, key, nonce, aad, plain);
    EXPECT_EQ(message, expected.cipher);
    EXPECT_EQ(tag, expected.tag);
    EXPECT_EQ(context.rounds, 10u);
    EXPECT_EQ(aes128GcmDecrypt(key.data(), nonce.data(), message.data(), 300, aad.data(), 32, tag.data(),
                               nullptr, nullptr),
              1);
    EXPECT_EQ(message, plain);
    EXPECT_EQ(aesGcmAuthEncrypt(key.data(), 17, nonce.data(), 12, plain.data(), 300, aad.data(), 32,
                                message.data(), tag.data()),
              -1);
    EXPECT_EQ(aesGcmAuthEncrypt(key.data(), 16, nonce.data(), 16, plain.data(), 300, aad.data(), 32,
                                message.data(), tag.data()),
              -1);
}

// Messages past the buffer manager's 65852 bytes need no work buffer either.
TEST(Gcm, LargeMessageInPlace)
{
    Rng rng(55);
    Aead a{true, rng.bytes(16), rng.bytes(12), rng.bytes(32)};
    Bytes plain = rng.bytes(200000), message = plain, tag;
    ASSERT_EQ(a.seal(message, tag), 1);
    Sealed expected = opensslSeal(true, a.key, a.nonce, a.aad, plain);
    EXPECT_TRUE(message == expected.cipher);
    EXPECT_EQ(tag, expected.tag);
}

}  // namespace
