// The SHA-2 compression function, shared by SHA-256 (32-bit words, 64 rounds)
// and SHA-512 (64-bit words, 80 rounds). A traits type gives the word, the
// round constants and the four sigma functions.
#ifndef CIFS_CRYPT_SHA2_CORE_H
#define CIFS_CRYPT_SHA2_CORE_H

#include "crypt_internal.h"

namespace cmcrypt {

template <typename T> void sha2Compress(typename T::Word *state, const uint8_t *p, size_t blocks)
{
    using Word = typename T::Word;
    constexpr size_t kWordBytes = sizeof(Word);
    for (; blocks; --blocks, p += 16 * kWordBytes) {
        Word w[16];
        Word a = state[0], b = state[1], c = state[2], d = state[3];
        Word e = state[4], f = state[5], g = state[6], h = state[7];
#define SHA2_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHA2_MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
#define SHA2_W(i) (w[(i)&15] += T::s1(w[((i)-2) & 15]) + w[((i)-7) & 15] + T::s0(w[((i)-15) & 15]))
#define SHA2_ROUND(a, b, c, d, e, f, g, h, i, wi)                                                            \
    do {                                                                                                     \
        Word t1 = h + T::S1(e) + SHA2_CH(e, f, g) + T::kK[i] + (wi);                                         \
        d += t1;                                                                                             \
        h = t1 + T::S0(a) + SHA2_MAJ(a, b, c);                                                               \
    } while (0)
        for (int i = 0; i < 16; ++i)
            w[i] = T::load(p + kWordBytes * i);
        for (int i = 0; i < 16; i += 8) {
            SHA2_ROUND(a, b, c, d, e, f, g, h, i, w[i]);
            SHA2_ROUND(h, a, b, c, d, e, f, g, i + 1, w[i + 1]);
            SHA2_ROUND(g, h, a, b, c, d, e, f, i + 2, w[i + 2]);
            SHA2_ROUND(f, g, h, a, b, c, d, e, i + 3, w[i + 3]);
            SHA2_ROUND(e, f, g, h, a, b, c, d, i + 4, w[i + 4]);
            SHA2_ROUND(d, e, f, g, h, a, b, c, i + 5, w[i + 5]);
            SHA2_ROUND(c, d, e, f, g, h, a, b, i + 6, w[i + 6]);
            SHA2_ROUND(b, c, d, e, f, g, h, a, i + 7, w[i + 7]);
        }
        for (int i = 16; i < T::kRounds; i += 8) {
            SHA2_ROUND(a, b, c, d, e, f, g, h, i, SHA2_W(i));
            SHA2_ROUND(h, a, b, c, d, e, f, g, i + 1, SHA2_W(i + 1));
            SHA2_ROUND(g, h, a, b, c, d, e, f, i + 2, SHA2_W(i + 2));
            SHA2_ROUND(f, g, h, a, b, c, d, e, i + 3, SHA2_W(i + 3));
            SHA2_ROUND(e, f, g, h, a, b, c, d, i + 4, SHA2_W(i + 4));
            SHA2_ROUND(d, e, f, g, h, a, b, c, i + 5, SHA2_W(i + 5));
            SHA2_ROUND(c, d, e, f, g, h, a, b, i + 6, SHA2_W(i + 6));
            SHA2_ROUND(b, c, d, e, f, g, h, a, i + 7, SHA2_W(i + 7));
        }
#undef SHA2_CH
#undef SHA2_MAJ
#undef SHA2_W
#undef SHA2_ROUND
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

}  // namespace cmcrypt

#endif
