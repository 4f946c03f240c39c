// Helpers shared by the cryptographic sources: byte order, wiping, fragment
// walks and the incremental digests the keyed constructions are built on.
#ifndef CIFS_CRYPT_INTERNAL_H
#define CIFS_CRYPT_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cmcrypt.h"
#include "cmcryptcipher.h"

namespace cmcrypt {

inline uint32_t load32be(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t load32le(const uint8_t *p)
{
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline uint64_t load64be(const uint8_t *p) { return uint64_t(load32be(p)) << 32 | load32be(p + 4); }
inline void store32be(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void store32le(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void store64be(uint8_t *p, uint64_t v)
{
    store32be(p, uint32_t(v >> 32));
    store32be(p + 4, uint32_t(v));
}
inline void store64le(uint8_t *p, uint64_t v)
{
    store32le(p, uint32_t(v));
    store32le(p + 4, uint32_t(v >> 32));
}
inline uint32_t rotl32(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }
inline uint32_t rotr32(uint32_t v, int n) { return (v >> n) | (v << (32 - n)); }
inline uint64_t rotr64(uint64_t v, int n) { return (v >> n) | (v << (64 - n)); }

inline void xor16(uint8_t *dst, const uint8_t *a, const uint8_t *b)
{
    for (int i = 0; i < 16; ++i)
        dst[i] = uint8_t(a[i] ^ b[i]);
}

// Clears secrets so that the compiler cannot drop the stores.
void wipe(void *p, size_t n);

// Calls f(data, length) for every fragment that carries data, in order.
template <typename F> void forEachFragment(const CMBlob *fragments, uint32_t count, F &&f)
{
    if (!fragments)
        return;
    for (uint32_t i = 0; i < count; ++i)
        if (fragments[i].data && fragments[i].len)
            f(fragments[i].data, size_t(fragments[i].len));
}

// Feeds bytes to a block compressor: the waiting block is completed first,
// whole blocks are then compressed straight from the input, the rest waits.
template <size_t B, typename N, typename Compress>
void absorb(uint8_t *block, N &waiting, const uint8_t *data, size_t n, Compress compress)
{
    if (waiting) {
        size_t take = B - waiting < n ? B - waiting : n;
        std::memcpy(block + waiting, data, take);
        waiting = N(waiting + take);
        data += take;
        n -= take;
        if (waiting < B)
            return;
        compress(block, 1);
        waiting = 0;
    }
    compress(data, n / B);
    data += n - n % B;
    waiting = N(n % B);
    if (waiting)
        std::memcpy(block, data, waiting);
}

// Pads with 0x80 and zeros up to the L-byte length field at the block's end
// (one more block when the waiting bytes leave no room), lets putLength fill
// the field and compresses.
template <size_t B, size_t L, typename N, typename Compress, typename PutLength>
void finish(uint8_t *block, N &waiting, Compress compress, PutLength putLength)
{
    block[waiting++] = 0x80;
    if (waiting > B - L) {
        std::memset(block + waiting, 0, B - waiting);
        compress(block, 1);
        waiting = 0;
    }
    std::memset(block + waiting, 0, B - L - waiting);
    putLength(block + B - L);
    compress(block, 1);
    waiting = 0;
}

struct Md5 {
    uint32_t h[4];
    uint64_t count;
    uint8_t block[64];
    size_t waiting;
    void init();
    void update(const uint8_t *data, size_t n);
    void final(uint8_t *out);  // 16 bytes; clears the context
};

struct Sha256 {
    uint32_t h[8];
    uint64_t count;
    uint8_t block[64];
    size_t waiting;
    void init();
    void update(const uint8_t *data, size_t n);
    void final(uint8_t *out);  // 32 bytes; clears the context
};

void sha512Init(CMSha512Context *c);
void sha512Update(CMSha512Context *c, const uint8_t *data, size_t n);
void sha512Final(CMSha512Context *c, uint8_t *out);  // 64 bytes; keeps the digest words

// HMAC pads over a 64-byte block; longer keys are reduced by the hash first.
template <typename Hash, size_t DigestSize>
void hmacPads(const uint8_t *key, size_t keyLength, uint8_t *ipad, uint8_t *opad)
{
    uint8_t shortKey[DigestSize];
    if (keyLength > 64) {
        Hash h;
        h.init();
        h.update(key, keyLength);
        h.final(shortKey);
        key = shortKey;
        keyLength = DigestSize;
    }
    std::memset(ipad, 0x36, 64);
    std::memset(opad, 0x5c, 64);
    for (size_t i = 0; i < keyLength; ++i) {
        ipad[i] ^= key[i];
        opad[i] ^= key[i];
    }
    wipe(shortKey, sizeof shortKey);
}

// AES encryption core over round keys in the table-driven layout.
int aesKeySetup(uint32_t *roundKeys, const uint8_t *key, int keyBits);
// One block held as four big-endian words, encrypted in place. Inline so
// that the modes' loops can overlap a block's rounds with their own work,
// and chained modes keep their state in registers from block to block.
inline void aesEncryptWords(const uint32_t *rk, int rounds, uint32_t *state)
{
    uint32_t s0 = state[0] ^ rk[0];
    uint32_t s1 = state[1] ^ rk[1];
    uint32_t s2 = state[2] ^ rk[2];
    uint32_t s3 = state[3] ^ rk[3];
    uint32_t t0, t1, t2, t3;
#define AES_ROUND(d0, d1, d2, d3, a0, a1, a2, a3, k)                                                         \
    d0 = Te0[a0 >> 24] ^ Te1[(a1 >> 16) & 0xff] ^ Te2[(a2 >> 8) & 0xff] ^ Te3[a3 & 0xff] ^ (k)[0];           \
    d1 = Te0[a1 >> 24] ^ Te1[(a2 >> 16) & 0xff] ^ Te2[(a3 >> 8) & 0xff] ^ Te3[a0 & 0xff] ^ (k)[1];           \
    d2 = Te0[a2 >> 24] ^ Te1[(a3 >> 16) & 0xff] ^ Te2[(a0 >> 8) & 0xff] ^ Te3[a1 & 0xff] ^ (k)[2];           \
    d3 = Te0[a3 >> 24] ^ Te1[(a0 >> 16) & 0xff] ^ Te2[(a1 >> 8) & 0xff] ^ Te3[a2 & 0xff] ^ (k)[3]
    // Two rounds per pass; the last full round is left for the final step below.
    for (int r = rounds >> 1;;) {
        AES_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, rk + 4);
        rk += 8;
        if (--r == 0)
            break;
        AES_ROUND(s0, s1, s2, s3, t0, t1, t2, t3, rk);
    }
#undef AES_ROUND
    state[0] = (Te4[t0 >> 24] & 0xff000000) ^ (Te4[(t1 >> 16) & 0xff] & 0x00ff0000) ^
               (Te4[(t2 >> 8) & 0xff] & 0x0000ff00) ^ (Te4[t3 & 0xff] & 0x000000ff) ^ rk[0];
    state[1] = (Te4[t1 >> 24] & 0xff000000) ^ (Te4[(t2 >> 16) & 0xff] & 0x00ff0000) ^
               (Te4[(t3 >> 8) & 0xff] & 0x0000ff00) ^ (Te4[t0 & 0xff] & 0x000000ff) ^ rk[1];
    state[2] = (Te4[t2 >> 24] & 0xff000000) ^ (Te4[(t3 >> 16) & 0xff] & 0x00ff0000) ^
               (Te4[(t0 >> 8) & 0xff] & 0x0000ff00) ^ (Te4[t1 & 0xff] & 0x000000ff) ^ rk[2];
    state[3] = (Te4[t3 >> 24] & 0xff000000) ^ (Te4[(t0 >> 16) & 0xff] & 0x00ff0000) ^
               (Te4[(t1 >> 8) & 0xff] & 0x0000ff00) ^ (Te4[t2 & 0xff] & 0x000000ff) ^ rk[3];
}

// One block; in and out may be the same.
inline void aesEncryptBlock(const uint32_t *rk, int rounds, const uint8_t *in, uint8_t *out)
{
    uint32_t state[4] = {load32be(in), load32be(in + 4), load32be(in + 8), load32be(in + 12)};
    aesEncryptWords(rk, rounds, state);
    store32be(out, state[0]);
    store32be(out + 4, state[1]);
    store32be(out + 8, state[2]);
    store32be(out + 12, state[3]);
}

}  // namespace cmcrypt

#endif
