// MD4 over one buffer (NT password hash, NTLMv1 user session key).
#include "crypt_internal.h"

namespace {

using cmcrypt::load32le;
using cmcrypt::rotl32;

void md4Compress(uint32_t *h, const uint8_t *block)
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = load32le(block + 4 * i);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
#define F(x, y, z) (((x) & (y)) | (~(x) & (z)))
#define G(x, y, z) (((x) & (y)) | ((x) & (z)) | ((y) & (z)))
#define H(x, y, z) ((x) ^ (y) ^ (z))
#define R1(a, b, c, d, k, s) a = rotl32(a + F(b, c, d) + x[k], s)
#define R2(a, b, c, d, k, s) a = rotl32(a + G(b, c, d) + x[k] + 0x5a827999u, s)
#define R3(a, b, c, d, k, s) a = rotl32(a + H(b, c, d) + x[k] + 0x6ed9eba1u, s)
    for (int i = 0; i < 16; i += 4) {
        R1(a, b, c, d, i, 3);
        R1(d, a, b, c, i + 1, 7);
        R1(c, d, a, b, i + 2, 11);
        R1(b, c, d, a, i + 3, 19);
    }
    for (int i = 0; i < 4; ++i) {
        R2(a, b, c, d, i, 3);
        R2(d, a, b, c, i + 4, 5);
        R2(c, d, a, b, i + 8, 9);
        R2(b, c, d, a, i + 12, 13);
    }
    static const int order[4] = {0, 2, 1, 3};
    for (int i : order) {
        R3(a, b, c, d, i, 3);
        R3(d, a, b, c, i + 8, 9);
        R3(c, d, a, b, i + 4, 11);
        R3(b, c, d, a, i + 12, 15);
    }
#undef F
#undef G
#undef H
#undef R1
#undef R2
#undef R3
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    cmcrypt::wipe(x, sizeof x);
}

}  // namespace

extern "C" void md4Vector(const uint8_t *data, uint8_t *digest, uint32_t length)
{
    uint32_t h[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    uint32_t left = length;
    // Full blocks straight from the input while more than one block's worth remains.
    while (left > 64) {
        md4Compress(h, data);
        data += 64;
        left -= 64;
    }
    uint8_t tail[128] = {};
    if (left)
        std::memcpy(tail, data, left);
    tail[left] = 0x80;
    size_t tailLength = left < 56 ? 64 : 128;
    cmcrypt::store64le(tail + tailLength - 8, uint64_t(length) * 8);
    for (size_t off = 0; off < tailLength; off += 64)
        md4Compress(h, tail + off);
    for (int i = 0; i < 4; ++i)
        cmcrypt::store32le(digest + 4 * i, h[i]);
    cmcrypt::wipe(tail, sizeof tail);
    cmcrypt::wipe(h, sizeof h);
}
