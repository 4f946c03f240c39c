// X25519 (RFC 7748): Montgomery ladder over GF(2^255 - 19) in ten limbs of
// alternately 26 and 25 bits, so the board's 32-bit core multiplies limbs
// into 64-bit products without a wider type.
#include <cerrno>
#include <cstring>

#include "mirel_crypto.h"

namespace {

using Fe = int64_t[10];

// Bits of limb i; limb i starts at bit ceil(25.5 * i).
constexpr int kBits[10] = {26, 25, 26, 25, 26, 25, 26, 25, 26, 25};

// Moves the excess of limb i into the next one (limb 9's, times 19, into
// limb 0, as 2^255 = 19), leaving limb i signed and centred on 0.
inline void carry_step(int64_t h[10], int i)
{
    int b = kBits[i];
    int64_t c = (h[i] + (int64_t{1} << (b - 1))) >> b;
    h[i] -= c * (int64_t{1} << b);
    if (i < 9)
        h[i + 1] += c;
    else
        h[0] += 19 * c;
}

// Two interleaved chains, so neighbouring steps do not wait on each other;
// afterwards every limb is within its width (plus a bit for limb 1).
void carry(Fe h)
{
    static constexpr int kOrder[12] = {0, 4, 1, 5, 2, 6, 3, 7, 4, 8, 9, 0};
#pragma GCC unroll 12
    for (int i : kOrder)
        carry_step(h, i);
}

void fe_copy(Fe h, const Fe f) { std::memcpy(h, f, sizeof(Fe)); }
void fe_set(Fe h, int64_t v)
{
    std::memset(h, 0, sizeof(Fe));
    h[0] = v;
}
void fe_add(Fe h, const Fe f, const Fe g)
{
    for (int i = 0; i < 10; i++)
        h[i] = f[i] + g[i];
}
void fe_sub(Fe h, const Fe f, const Fe g)
{
    for (int i = 0; i < 10; i++)
        h[i] = f[i] - g[i];
}

void fe_mul(Fe h, const Fe f, const Fe g)
{
    int64_t g19[10];
    for (int j = 0; j < 10; j++)
        g19[j] = 19 * g[j];
    int64_t t[10] = {};
#pragma GCC unroll 10
    for (int i = 0; i < 10; i++) {
        // Two 25-bit limbs (both odd) meet half a bit short of the target limb.
        const int64_t fi = f[i], fi_odd = (i & 1) ? 2 * f[i] : f[i];
#pragma GCC unroll 10
        for (int j = 0; j < 10 - i; j++)
            t[i + j] += ((j & 1) ? fi_odd : fi) * g[j];
#pragma GCC unroll 10
        for (int j = 10 - i; j < 10; j++)
            t[i + j - 10] += ((j & 1) ? fi_odd : fi) * g19[j];
    }
    carry(t);
    fe_copy(h, t);
}

// Squaring: each cross product once, doubled.
void fe_sq(Fe h, const Fe f)
{
    int64_t t[10] = {};
#pragma GCC unroll 10
    for (int i = 0; i < 10; i++) {
#pragma GCC unroll 10
        for (int j = i; j < 10; j++) {
            int64_t p = f[i] * f[j];
            if ((i & 1) && (j & 1))
                p *= 2;
            if (j != i)
                p *= 2;
            if (i + j >= 10)
                t[i + j - 10] += 19 * p;
            else
                t[i + j] += p;
        }
    }
    carry(t);
    fe_copy(h, t);
}

void fe_sqn(Fe h, const Fe f, int n)
{
    fe_sq(h, f);
    for (int i = 1; i < n; i++)
        fe_sq(h, h);
}

void fe_mul_small(Fe h, const Fe f, int64_t k)
{
    int64_t t[10];
    for (int i = 0; i < 10; i++)
        t[i] = f[i] * k;
    carry(t);
    fe_copy(h, t);
}

// z^(p - 2) = z^(2^255 - 21).
void fe_invert(Fe out, const Fe z)
{
    Fe t0, t1, t2, t3;
    fe_sq(t0, z);        // 2
    fe_sqn(t1, t0, 2);   // 8
    fe_mul(t1, z, t1);   // 9
    fe_mul(t0, t0, t1);  // 11
    fe_sq(t2, t0);       // 22
    fe_mul(t1, t1, t2);  // 2^5 - 1
    fe_sqn(t2, t1, 5);
    fe_mul(t1, t2, t1);  // 2^10 - 1
    fe_sqn(t2, t1, 10);
    fe_mul(t2, t2, t1);  // 2^20 - 1
    fe_sqn(t3, t2, 20);
    fe_mul(t2, t3, t2);  // 2^40 - 1
    fe_sqn(t2, t2, 10);
    fe_mul(t1, t2, t1);  // 2^50 - 1
    fe_sqn(t2, t1, 50);
    fe_mul(t2, t2, t1);  // 2^100 - 1
    fe_sqn(t3, t2, 100);
    fe_mul(t2, t3, t2);  // 2^200 - 1
    fe_sqn(t2, t2, 50);
    fe_mul(t1, t2, t1);   // 2^250 - 1
    fe_sqn(t1, t1, 5);    // 2^255 - 32
    fe_mul(out, t1, t0);  // 2^255 - 21
}

// The top bit of the u-coordinate is ignored; values >= p are taken mod p.
void fe_frombytes(Fe h, const uint8_t s[32])
{
    uint8_t b[32];
    std::memcpy(b, s, 32);
    b[31] &= 0x7f;
    int bit = 0;
    for (int i = 0; i < 10; i++) {
        uint64_t v = 0;
        int byte = bit / 8;
        int shift = bit % 8;
        // Gather up to 5 bytes from the limb's first byte, then cut.
        for (int k = 0; k < 5 && byte + k < 32; k++)
            v |= static_cast<uint64_t>(b[byte + k]) << (8 * k);
        h[i] = static_cast<int64_t>((v >> shift) & ((uint64_t{1} << kBits[i]) - 1));
        bit += kBits[i];
    }
}

// Fully reduced little-endian encoding.
void fe_tobytes(uint8_t s[32], const Fe f)
{
    Fe h;
    fe_copy(h, f);
    carry(h);
    carry(h);
    // q = floor((h + 19) / 2^255) is 1 exactly when h >= p.
    int64_t q = (19 * h[9] + (int64_t{1} << 24)) >> 25;
    for (int i = 0; i < 10; i++)
        q = (h[i] + q) >> kBits[i];
    h[0] += 19 * q;
    // Exact carries now, dropping what leaves bit 255.
    for (int i = 0; i < 10; i++) {
        int64_t c = h[i] >> kBits[i];
        h[i] -= c * (int64_t{1} << kBits[i]);
        if (i < 9)
            h[i + 1] += c;
    }
    std::memset(s, 0, 32);
    int bit = 0;
    for (int i = 0; i < 10; i++) {
        uint64_t v = static_cast<uint64_t>(h[i]) << (bit % 8);
        for (int k = bit / 8; v && k < 32; k++, v >>= 8)
            s[k] |= static_cast<uint8_t>(v);
        bit += kBits[i];
    }
}

// Constant-time swap of f and g when swap is 1.
void fe_cswap(Fe f, Fe g, int64_t swap)
{
    int64_t mask = -swap;
    for (int i = 0; i < 10; i++) {
        int64_t x = (f[i] ^ g[i]) & mask;
        f[i] ^= x;
        g[i] ^= x;
    }
}

}  // namespace

extern "C" int curve25519_donna(uint8_t *out, const uint8_t *scalar, const uint8_t *point)
{
    if (!out || !scalar || !point) {
        errno = EINVAL;
        return -1;
    }
    uint8_t k[32];
    std::memcpy(k, scalar, 32);
    k[0] &= 248;
    k[31] &= 127;
    k[31] |= 64;

    Fe x1, x2, z2, x3, z3, a, aa, b, bb, e, c, d, da, cb, t;
    fe_frombytes(x1, point);
    fe_set(x2, 1);
    fe_set(z2, 0);
    fe_copy(x3, x1);
    fe_set(z3, 1);
    int64_t swap = 0;
    for (int pos = 254; pos >= 0; pos--) {
        int64_t bit = (k[pos / 8] >> (pos & 7)) & 1;
        swap ^= bit;
        fe_cswap(x2, x3, swap);
        fe_cswap(z2, z3, swap);
        swap = bit;

        fe_add(a, x2, z2);
        fe_sq(aa, a);
        fe_sub(b, x2, z2);
        fe_sq(bb, b);
        fe_sub(e, aa, bb);
        fe_add(c, x3, z3);
        fe_sub(d, x3, z3);
        fe_mul(da, d, a);
        fe_mul(cb, c, b);
        fe_add(t, da, cb);
        fe_sq(x3, t);
        fe_sub(t, da, cb);
        fe_sq(t, t);
        fe_mul(z3, x1, t);
        fe_mul(x2, aa, bb);
        fe_mul_small(t, e, 121665);
        fe_add(t, aa, t);
        fe_mul(z2, e, t);
    }
    fe_cswap(x2, x3, swap);
    fe_cswap(z2, z3, swap);
    fe_invert(z2, z2);
    fe_mul(x2, x2, z2);
    fe_tobytes(out, x2);
    std::memset(k, 0, sizeof k);

    // A low-order peer point makes every scalar give 0: refuse it, or both
    // sides would derive their keys from a secret anyone knows.
    uint8_t acc = 0;
    for (int i = 0; i < 32; i++)
        acc |= out[i];
    if (acc == 0) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}
