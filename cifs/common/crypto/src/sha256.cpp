// SHA-256 and HMAC-SHA256 (SMB2 signing, SMB3 key derivation).
#include "sha2_core.h"

#include <new>

#include "cmcrypt.h"

namespace cmcrypt {

namespace {

constexpr uint32_t sha256_k[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t sha256_h0[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

struct Sha256Words {
    using Word = uint32_t;
    static constexpr int kRounds = 64;
    static constexpr const uint32_t *kK = sha256_k;
    static Word load(const uint8_t *p) { return load32be(p); }
    static Word S0(Word x) { return rotr32(x, 2) ^ rotr32(x, 13) ^ rotr32(x, 22); }
    static Word S1(Word x) { return rotr32(x, 6) ^ rotr32(x, 11) ^ rotr32(x, 25); }
    static Word s0(Word x) { return rotr32(x, 7) ^ rotr32(x, 18) ^ (x >> 3); }
    static Word s1(Word x) { return rotr32(x, 17) ^ rotr32(x, 19) ^ (x >> 10); }
};

void sha256Compress(uint32_t *state, const uint8_t *p, size_t blocks)
{
    sha2Compress<Sha256Words>(state, p, blocks);
}

}  // namespace

void Sha256::init()
{
    std::memcpy(h, sha256_h0, sizeof h);
    count = 0;
    waiting = 0;
}

void Sha256::update(const uint8_t *data, size_t n)
{
    count += n;
    absorb<64>(block, waiting, data, n,
               [this](const uint8_t *p, size_t blocks) { sha256Compress(h, p, blocks); });
}

void Sha256::final(uint8_t *out)
{
    uint64_t bits = count * 8;
    finish<64, 8>(
        block, waiting, [this](const uint8_t *p, size_t blocks) { sha256Compress(h, p, blocks); },
        [bits](uint8_t *field) { store64be(field, bits); });
    for (int i = 0; i < 8; ++i)
        store32be(out + 4 * i, h[i]);
    wipe(this, sizeof *this);
}

}  // namespace cmcrypt

extern "C" void sha256Vector(const CMBlob *, const CMBlob *, const CMBlob *fragments, uint32_t count,
                             uint8_t *out, uint32_t)
{
    cmcrypt::Sha256 sha;
    sha.init();
    cmcrypt::forEachFragment(fragments, count, [&](const uint8_t *p, size_t n) { sha.update(p, n); });
    sha.final(out);
}

// HMAC through the live SHA-256 entry: the pads and the inner digest travel as fragments.
extern "C" void cmHMACSHA256Vector(const uint8_t *key, uint32_t keyLength, const CMBlob *fragments,
                                   uint32_t count, uint8_t *out)
{
    uint8_t ipad[64], opad[64], inner[32];
    cmcrypt::hmacPads<cmcrypt::Sha256, 32>(key, key ? keyLength : 0, ipad, opad);
    CMCryptDigest sha256 = cmGetCrypters()->sha256;
    if (!fragments)
        count = 0;
    // The inner hash takes the pad and then the caller's fragments in one list.
    CMBlob local[9];
    CMBlob *list = count < 9 ? local : new (std::nothrow) CMBlob[size_t(count) + 1];
    if (list) {
        list[0] = CMBlob{ipad, 64};
        for (uint32_t i = 0; i < count; ++i)
            list[i + 1] = fragments[i];
        sha256(nullptr, nullptr, list, count + 1, inner, 32);
        if (list != local)
            delete[] list;
    } else {
        // No memory for a long list: the built-in digest still gives the right MAC.
        cmcrypt::Sha256 sha;
        sha.init();
        sha.update(ipad, 64);
        cmcrypt::forEachFragment(fragments, count, [&](const uint8_t *p, size_t n) { sha.update(p, n); });
        sha.final(inner);
    }
    CMBlob outer[2] = {{opad, 64}, {inner, 32}};
    sha256(nullptr, nullptr, outer, 2, out, 32);
    cmcrypt::wipe(ipad, 64);
    cmcrypt::wipe(opad, 64);
    cmcrypt::wipe(inner, 32);
}

extern "C" void cmHMACSHA256(const uint8_t *key, uint32_t keyLength, const uint8_t *data, uint32_t dataLength,
                             uint8_t *out)
{
    CMBlob fragment = {const_cast<uint8_t *>(data), dataLength};
    cmHMACSHA256Vector(key, keyLength, &fragment, 1, out);
}
