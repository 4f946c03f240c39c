// MD5 and HMAC-MD5 (SMB1 signing, NTLM responses and keys).
#include "crypt_internal.h"

namespace cmcrypt {

namespace {

// Per-round sine constants and shift amounts of the standard.
constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void md5Compress(uint32_t *h, const uint8_t *p, size_t blocks)
{
    for (; blocks; --blocks, p += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = load32le(p + 4 * i);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
#define STEP(f, a, b, c, d, k, s, i) a = b + rotl32(a + (f) + x[k] + kT[i], s)
#define FF(b, c, d) (d ^ (b & (c ^ d)))
#define GG(b, c, d) (c ^ (d & (b ^ c)))
#define HH(b, c, d) (b ^ c ^ d)
#define II(b, c, d) (c ^ (b | ~d))
        for (int i = 0; i < 16; i += 4) {
            STEP(FF(b, c, d), a, b, c, d, i, 7, i);
            STEP(FF(a, b, c), d, a, b, c, i + 1, 12, i + 1);
            STEP(FF(d, a, b), c, d, a, b, i + 2, 17, i + 2);
            STEP(FF(c, d, a), b, c, d, a, i + 3, 22, i + 3);
        }
        for (int i = 16; i < 32; i += 4) {
            STEP(GG(b, c, d), a, b, c, d, (5 * i + 1) & 15, 5, i);
            STEP(GG(a, b, c), d, a, b, c, (5 * i + 6) & 15, 9, i + 1);
            STEP(GG(d, a, b), c, d, a, b, (5 * i + 11) & 15, 14, i + 2);
            STEP(GG(c, d, a), b, c, d, a, (5 * i + 16) & 15, 20, i + 3);
        }
        for (int i = 32; i < 48; i += 4) {
            STEP(HH(b, c, d), a, b, c, d, (3 * i + 5) & 15, 4, i);
            STEP(HH(a, b, c), d, a, b, c, (3 * i + 8) & 15, 11, i + 1);
            STEP(HH(d, a, b), c, d, a, b, (3 * i + 11) & 15, 16, i + 2);
            STEP(HH(c, d, a), b, c, d, a, (3 * i + 14) & 15, 23, i + 3);
        }
        for (int i = 48; i < 64; i += 4) {
            STEP(II(b, c, d), a, b, c, d, (7 * i) & 15, 6, i);
            STEP(II(a, b, c), d, a, b, c, (7 * i + 7) & 15, 10, i + 1);
            STEP(II(d, a, b), c, d, a, b, (7 * i + 14) & 15, 15, i + 2);
            STEP(II(c, d, a), b, c, d, a, (7 * i + 21) & 15, 21, i + 3);
        }
#undef STEP
#undef FF
#undef GG
#undef HH
#undef II
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
}

}  // namespace

void Md5::init()
{
    h[0] = 0x67452301u;
    h[1] = 0xefcdab89u;
    h[2] = 0x98badcfeu;
    h[3] = 0x10325476u;
    count = 0;
    waiting = 0;
}

void Md5::update(const uint8_t *data, size_t n)
{
    count += n;
    absorb<64>(block, waiting, data, n,
               [this](const uint8_t *p, size_t blocks) { md5Compress(h, p, blocks); });
}

void Md5::final(uint8_t *out)
{
    uint64_t bits = count * 8;
    finish<64, 8>(
        block, waiting, [this](const uint8_t *p, size_t blocks) { md5Compress(h, p, blocks); },
        [bits](uint8_t *field) { store64le(field, bits); });
    for (int i = 0; i < 4; ++i)
        store32le(out + 4 * i, h[i]);
    wipe(this, sizeof *this);
}

}  // namespace cmcrypt

using cmcrypt::Md5;

extern "C" void md5Vector(const CMBlob *, const CMBlob *, const CMBlob *fragments, uint32_t count,
                          uint8_t *out, uint32_t)
{
    Md5 md;
    md.init();
    cmcrypt::forEachFragment(fragments, count, [&](const uint8_t *p, size_t n) { md.update(p, n); });
    md.final(out);
}

extern "C" void hmacMd5Vector(const CMBlob *key, const CMBlob *, const CMBlob *fragments, uint32_t count,
                              uint8_t *out, uint32_t)
{
    uint8_t ipad[64], opad[64], inner[16];
    const uint8_t *k = key ? key->data : nullptr;
    cmcrypt::hmacPads<Md5, 16>(k, k ? key->len : 0, ipad, opad);
    Md5 md;
    md.init();
    md.update(ipad, 64);
    cmcrypt::forEachFragment(fragments, count, [&](const uint8_t *p, size_t n) { md.update(p, n); });
    md.final(inner);
    md.init();
    md.update(opad, 64);
    md.update(inner, 16);
    md.final(out);
    cmcrypt::wipe(ipad, 64);
    cmcrypt::wipe(opad, 64);
}
