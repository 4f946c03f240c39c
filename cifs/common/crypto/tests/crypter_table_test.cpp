// The crypter table's replace and reset, random bytes and constant-time comparison.
#include <gtest/gtest.h>

#include <set>

#include "cmcrypt.h"
#include "cmcryptmodes.h"
#include "cmcryptntlm.h"
#include "cmcryptsmb3.h"
#include "test_util.h"

using namespace cryptotest;

namespace {

int fakeCalls = 0;

void fakeHmac(const CMBlob *, const CMBlob *, const CMBlob *, uint32_t, uint8_t *out, uint32_t)
{
    ++fakeCalls;
    std::memset(out, 0x5a, 16);
}

class CrypterTable : public testing::Test {
protected:
    void TearDown() override { cmResetExternalCrypters(); }
};

TEST_F(CrypterTable, StartsWithTheDefaults)
{
    const CMCrypters *t = cmGetCrypters();
    EXPECT_EQ(t->md4, &md4Vector);
    EXPECT_EQ(t->md5, &md5Vector);
    EXPECT_EQ(t->hmacMd5, &hmacMd5Vector);
    EXPECT_EQ(t->sha256, &sha256Vector);
    EXPECT_EQ(t->aesCmac, &aesCmacVector);
    EXPECT_EQ(t->sha512, &sha512Vector);
    EXPECT_EQ(t->aesCcmEncrypt, &aesCcmEncryptVector);
    EXPECT_EQ(t->aesCcmDecrypt, &aesCcmDecryptVector);
    EXPECT_EQ(t->aesGcmEncrypt, &aesGcmEncryptVector);
    EXPECT_EQ(t->aesGcmDecrypt, &aesGcmDecryptVector);
}

TEST_F(CrypterTable, ReplacesOnlyNonNullEntriesAndResets)
{
    CMCrypters record = {};
    record.hmacMd5 = fakeHmac;
    cmSetExternalCrypters(&record);
    const CMCrypters *t = cmGetCrypters();
    EXPECT_EQ(t->hmacMd5, &fakeHmac);
    EXPECT_EQ(t->md5, &md5Vector);
    EXPECT_EQ(t->sha512, &sha512Vector);

    // The wrappers go through the live entry.
    uint8_t key[16] = {}, out[16];
    fakeCalls = 0;
    cmHMACMD5(key, 16, key, 16, out);
    EXPECT_EQ(fakeCalls, 1);
    EXPECT_EQ(out[0], 0x5a);

    cmSetExternalCrypters(nullptr);  // ignored
    cmResetExternalCrypters();
    EXPECT_EQ(cmGetCrypters()->hmacMd5, &hmacMd5Vector);
    cmHMACMD5(key, 16, key, 16, out);
    EXPECT_EQ(fakeCalls, 1);
}

void fakeMd5(const CMBlob *, const CMBlob *, const CMBlob *, uint32_t, uint8_t *out, uint32_t)
{
    ++fakeCalls;
    std::memset(out, 0x11, 16);
}

void fakeSha512(const CMBlob *, const CMBlob *, const CMBlob *, uint32_t, uint8_t *out, uint32_t,
                CMSha512Context *)
{
    ++fakeCalls;
    std::memset(out, 0x22, 64);
}

// The higher operations reach the digests through the live table, so a host's entries serve them.
TEST_F(CrypterTable, HigherOperationsUseTheLiveEntries)
{
    CMCrypters record = {};
    record.md5 = fakeMd5;
    record.sha512 = fakeSha512;
    cmSetExternalCrypters(&record);
    fakeCalls = 0;
    uint8_t session[16] = {}, key[16];
    cmCalculateNtlmSigningKey(session, key, CM_NTLM_CLIENT_SIGNING);
    EXPECT_EQ(to_hex(key, 16), std::string(32, '1'));
    uint8_t hash[64] = {}, message[3] = {1, 2, 3};
    cmSmb311CalcMessagesHash(message, 3, hash, nullptr);
    EXPECT_EQ(hash[63], 0x22);
    EXPECT_EQ(fakeCalls, 2);
}

TEST(Random, ZeroLengthWritesNothing)
{
    uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    cmCreateRandomByteSequence(buffer, 0);
    EXPECT_EQ(to_hex(buffer, 8), "0102030405060708");
}

// Challenges must differ between calls and between processes: no fixed seed.
TEST(Random, FillsWithFreshBytes)
{
    std::set<Bytes> seen;
    for (int i = 0; i < 64; ++i) {
        Bytes b(16, 0);
        cmCreateRandomByteSequence(b.data(), 16);
        seen.insert(b);
    }
    EXPECT_EQ(seen.size(), 64u);
    // Every byte position gets written over a long buffer.
    Bytes big(4096, 0);
    cmCreateRandomByteSequence(big.data(), uint32_t(big.size()));
    size_t zeros = 0;
    for (uint8_t b : big)
        zeros += b == 0;
    EXPECT_LT(zeros, 64u);
}

TEST(ConstantTimeEqual, ComparesEveryByte)
{
    Bytes a = Rng(9).bytes(32);
    EXPECT_EQ(cmCryptEqual(a.data(), a.data(), 32), 1);
    EXPECT_EQ(cmCryptEqual(a.data(), a.data(), 0), 1);
    for (size_t i = 0; i < a.size(); ++i) {
        Bytes b = a;
        b[i] ^= 0x80;
        EXPECT_EQ(cmCryptEqual(a.data(), b.data(), 32), 0) << i;
    }
}

}  // namespace
