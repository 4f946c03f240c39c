// AES (both schedules), DES with 7-byte keys and RC4: published vectors and
// differential runs against OpenSSL.
#include <gtest/gtest.h>
#include <openssl/aes.h>
#include <openssl/des.h>
#include <openssl/rc4.h>

#include "cmbuffer.h"
#include "cmcryptcipher.h"
#include "test_util.h"

using namespace cryptotest;

namespace {

struct AesVector {
    const char *key;
    const char *plain;
    const char *cipher;
};

// FIPS 197 appendix B and C.1 to C.3.
const AesVector kFips197[] = {
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
     "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(Aes, Fips197BothSchedules)
{
    for (const auto &v : kFips197) {
        Bytes key = hex(v.key), in = hex(v.plain), out(16);
        CMAesContext context;
        ASSERT_EQ(aesEncryptInit(key.data(), uint32_t(key.size()), &context), &context);
        EXPECT_EQ(context.rounds, key.size() / 4 + 6);
        aesEncrypt(&context, in.data(), out.data());
        EXPECT_EQ(to_hex(out), v.cipher) << v.key;
        if (key.size() == 16) {
            uint32_t rk[44];
            AES_128_ExpandKey(rk, key.data());
            Bytes out2(16);
            AES_Encryption(in.data(), rk, out2.data());
            EXPECT_EQ(to_hex(out2), v.cipher);
            // In place.
            AES_Encryption(in.data(), rk, in.data());
            EXPECT_EQ(to_hex(in), v.cipher);
        }
    }
}

TEST(Aes, KeyLengthsAndBufferManagerContext)
{
    ASSERT_EQ(cmBufManStart(), 1);
    uint32_t rk[60];
    uint8_t key[32] = {};
    EXPECT_EQ(rijndaelKeySetupEnc(rk, key, 128), 10);
    EXPECT_EQ(rijndaelKeySetupEnc(rk, key, 192), 12);
    EXPECT_EQ(rijndaelKeySetupEnc(rk, key, 256), 14);
    EXPECT_EQ(rijndaelKeySetupEnc(rk, key, 64), -1);
    CMAesContext mine;
    EXPECT_EQ(aesEncryptInit(key, 15, &mine), nullptr);
    EXPECT_EQ(aesEncryptInit(key, 20, nullptr), nullptr);
    // A context the call takes itself is given back by deinit.
    CMAesContext *taken = aesEncryptInit(key, 32, nullptr);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->rounds, 14u);
    aesEncrypt_deinit(taken, 0);
    // The buffer went back: the next take hands out the same one.
    uint8_t *again = cmBufManTake(100);
    EXPECT_EQ(again, reinterpret_cast<uint8_t *>(taken));
    cmBufManGive(again);
    aesEncrypt_deinit(&mine, 1);
    cmBufManShutdown();
}

// The exported tables agree with each other: byte rotations, and Td4 undoes Te4.
TEST(Aes, TablesAreConsistent)
{
    for (int x = 0; x < 256; ++x) {
        uint32_t t = Te0[x];
        EXPECT_EQ(Te1[x], (t >> 8) | (t << 24));
        EXPECT_EQ(Te2[x], (t >> 16) | (t << 16));
        EXPECT_EQ(Te3[x], (t >> 24) | (t << 8));
        EXPECT_EQ(Te4[x] & 0xff, (Te0[x] >> 16) & 0xff);
        EXPECT_EQ(Td4[Te4[x] & 0xff] & 0xff, uint32_t(x));
        uint32_t d = Td0[x];
        EXPECT_EQ(Td3[x], (d >> 24) | (d << 8));
    }
    EXPECT_EQ(Te4[0], 0x63636363u);
    EXPECT_EQ(rcon[0], 0x01000000u);
    EXPECT_EQ(rcon[9], 0x36000000u);
}

TEST(Aes, DifferentialAgainstOpenSsl)
{
    Rng rng(11);
    for (int bits : {128, 192, 256}) {
        for (int i = 0; i < 50; ++i) {
            Bytes key = rng.bytes(size_t(bits / 8)), in = rng.bytes(16), mine(16), theirs(16);
            CMAesContext context;
            aesEncryptInit(key.data(), uint32_t(key.size()), &context);
            aesEncrypt(&context, in.data(), mine.data());
            AES_KEY ref;
            AES_set_encrypt_key(key.data(), bits, &ref);
            AES_encrypt(in.data(), theirs.data(), &ref);
            ASSERT_EQ(to_hex(mine), to_hex(theirs)) << bits;
        }
    }
}

// The 7-byte key spread to DES form the independent way: seven bits per byte, parity bit clear.
Bytes spread(const Bytes &key7)
{
    Bytes key8(8);
    for (int n = 0; n < 8; ++n) {
        int value = 0;
        for (int b = 0; b < 7; ++b) {
            int bit = 7 * n + b;
            value = value << 1 | ((key7[size_t(bit / 8)] >> (7 - bit % 8)) & 1);
        }
        key8[size_t(n)] = uint8_t(value << 1);
    }
    return key8;
}

Bytes opensslDes(const Bytes &key8, const Bytes &in)
{
    DES_cblock k;
    std::memcpy(k, key8.data(), 8);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&k, &schedule);
    DES_cblock input, output;
    std::memcpy(input, in.data(), 8);
    DES_ecb_encrypt(&input, &output, &schedule, DES_ENCRYPT);
    return Bytes(output, output + 8);
}

TEST(Des, SevenByteKeys)
{
    Bytes in = hex("4b47532140232425"), out(8);
    struct {
        Bytes key7;
        const char *key8;
    } cases[] = {{Bytes(7, 0x00), "0000000000000000"}, {Bytes(7, 0xff), "fefefefefefefefe"}};
    for (const auto &c : cases) {
        EXPECT_EQ(to_hex(spread(c.key7)), c.key8);
        desEncryptBlock(out.data(), in.data(), c.key7.data());
        EXPECT_EQ(to_hex(out), to_hex(opensslDes(hex(c.key8), in)));
    }
}

TEST(Des, DifferentialAgainstOpenSsl)
{
    Rng rng(12);
    for (int i = 0; i < 200; ++i) {
        Bytes key = rng.bytes(7), in = rng.bytes(8), out(8);
        desEncryptBlock(out.data(), in.data(), key.data());
        ASSERT_EQ(to_hex(out), to_hex(opensslDes(spread(key), in)));
    }
    // Two-key chain: second half encrypts the first half's output.
    Bytes key14 = rng.bytes(14), in = rng.bytes(8), out(8);
    cmDES112(out.data(), in.data(), key14.data());
    Bytes first = opensslDes(spread(Bytes(key14.begin(), key14.begin() + 7)), in);
    EXPECT_EQ(to_hex(out), to_hex(opensslDes(spread(Bytes(key14.begin() + 7, key14.end())), first)));
}

// RFC 6229 keystream at chosen offsets.
TEST(Rc4, Rfc6229)
{
    struct {
        const char *key;
        size_t offset;
        const char *stream;
    } cases[] = {
        {"0102030405", 0, "b2396305f03dc027ccc3524a0a1118a8"},
        {"0102030405", 16, "6982944f18fc82d589c403a47a0d0919"},
        {"0102030405", 240, "28cb1132c96ce286421dcaadb8b69eae"},
        {"0102030405", 256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
        {"0102030405060708090a0b0c0d0e0f10", 0, "9ac7cc9a609d1ef7b2932899cde41b97"},
        {"0102030405060708090a0b0c0d0e0f10", 16, "5248c4959014126a6e8a84f11d1a9e1c"},
    };
    for (const auto &c : cases) {
        Bytes key = hex(c.key), data(c.offset + 16, 0);
        cmArcfourCrypt(data.data(), uint32_t(data.size()), key.data(), uint32_t(key.size()));
        EXPECT_EQ(to_hex(data.data() + c.offset, 16), c.stream) << c.key << "@" << c.offset;
    }
}

TEST(Rc4, DifferentialOneCallAndSplit)
{
    Rng rng(13);
    for (size_t keyLength : {1, 5, 16, 256}) {
        for (size_t n : {0, 1, 16, 17, 255, 256, 1000}) {
            Bytes key = rng.bytes(keyLength), data = rng.bytes(n), theirs(n);
            RC4_KEY ref;
            RC4_set_key(&ref, int(keyLength), key.data());
            RC4(&ref, n, data.data(), theirs.data());
            Bytes once = data;
            cmArcfourCrypt(once.data(), uint32_t(n), key.data(), uint32_t(keyLength));
            EXPECT_EQ(to_hex(once), to_hex(theirs));
            // A prepared state used in two pieces continues the same stream.
            CMArcfourState state;
            cmArcfourPrepareState(key.data(), uint32_t(keyLength), &state);
            state.i = state.j = 0;
            Bytes split = data;
            size_t first = rng.below(n + 1);
            cmArcfourCryptWithState(split.data(), uint32_t(first), &state);
            cmArcfourCryptWithState(split.data() + first, uint32_t(n - first), &state);
            EXPECT_EQ(to_hex(split), to_hex(theirs));
            // Twice with the same key restores the data.
            cmArcfourCrypt(once.data(), uint32_t(n), key.data(), uint32_t(keyLength));
            EXPECT_EQ(once, data);
        }
    }
}

TEST(Rc4, EmptyKeyAndZeroLengthChangeNothing)
{
    Bytes data = hex("00112233"), copy = data;
    cmArcfourCrypt(data.data(), 4, data.data(), 0);
    EXPECT_EQ(data, copy);
    CMArcfourState state;
    uint8_t key[3] = {1, 2, 3};
    cmArcfourPrepareState(key, 3, &state);
    state.i = 7;
    state.j = 9;
    CMArcfourState before = state;
    cmArcfourCryptWithState(data.data(), 0, &state);
    EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
}

}  // namespace
