// AES encryption: T-table cipher with 128/192/256-bit keys. The AES-128
// schedule for CCM and CMAC shares the same core and is expanded once per message.
#include <array>

#include "cmbuffer.h"
#include "crypt_internal.h"

namespace {

// The S-box and its inverse, generated from the field's multiplicative inverse
// and the affine map rather than typed in.
constexpr uint8_t xtime(uint8_t x) { return uint8_t((x << 1) ^ ((x & 0x80) ? 0x1b : 0)); }

constexpr uint8_t gmul(uint8_t a, uint8_t b)
{
    uint8_t r = 0;
    while (b) {
        if (b & 1)
            r ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return r;
}

constexpr uint8_t rotl8(uint8_t x, int n) { return uint8_t((x << n) | (x >> (8 - n))); }

struct SBoxes {
    std::array<uint8_t, 256> fwd{};
    std::array<uint8_t, 256> inv{};
};

constexpr SBoxes makeSBoxes()
{
    SBoxes s{};
    // p walks the field by multiplying with 3, q by dividing by 3: q = 1/p.
    uint8_t p = 1, q = 1;
    do {
        p = uint8_t(p ^ (p << 1) ^ ((p & 0x80) ? 0x1b : 0));
        q ^= uint8_t(q << 1);
        q ^= uint8_t(q << 2);
        q ^= uint8_t(q << 4);
        if (q & 0x80)
            q ^= 0x09;
        uint8_t x = uint8_t(q ^ rotl8(q, 1) ^ rotl8(q, 2) ^ rotl8(q, 3) ^ rotl8(q, 4) ^ 0x63);
        s.fwd[p] = x;
    } while (p != 1);
    s.fwd[0] = 0x63;
    for (int i = 0; i < 256; ++i)
        s.inv[s.fwd[i]] = uint8_t(i);
    return s;
}

constexpr SBoxes kBoxes = makeSBoxes();

constexpr uint32_t word(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    return uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8 | d;
}
constexpr uint32_t ror(uint32_t v, int n) { return n ? (v >> n) | (v << (32 - n)) : v; }

// Te0: S-box output times (2, 1, 1, 3); Te1..Te3 rotate it a byte at a time.
constexpr uint32_t te(int table, int x)
{
    uint8_t s = kBoxes.fwd[x];
    return ror(word(gmul(s, 2), s, s, gmul(s, 3)), 8 * table);
}
constexpr uint32_t td(int table, int x)
{
    uint8_t s = kBoxes.inv[x];
    return ror(word(gmul(s, 14), gmul(s, 9), gmul(s, 13), gmul(s, 11)), 8 * table);
}
constexpr uint32_t te0(int x) { return te(0, x); }
constexpr uint32_t te1(int x) { return te(1, x); }
constexpr uint32_t te2(int x) { return te(2, x); }
constexpr uint32_t te3(int x) { return te(3, x); }
constexpr uint32_t te4(int x) { return kBoxes.fwd[x] * 0x01010101u; }
constexpr uint32_t td0(int x) { return td(0, x); }
constexpr uint32_t td1(int x) { return td(1, x); }
constexpr uint32_t td2(int x) { return td(2, x); }
constexpr uint32_t td3(int x) { return td(3, x); }
constexpr uint32_t td4(int x) { return kBoxes.inv[x] * 0x01010101u; }

constexpr uint32_t rc(int i)
{
    uint8_t r = 1;
    for (int k = 0; k < i; ++k)
        r = xtime(r);
    return uint32_t(r) << 24;
}

}  // namespace

#define AES_T4(f, n) f(n), f(n + 1), f(n + 2), f(n + 3)
#define AES_T16(f, n) AES_T4(f, n), AES_T4(f, n + 4), AES_T4(f, n + 8), AES_T4(f, n + 12)
#define AES_T64(f, n) AES_T16(f, n), AES_T16(f, n + 16), AES_T16(f, n + 32), AES_T16(f, n + 48)
#define AES_T256(f) AES_T64(f, 0), AES_T64(f, 64), AES_T64(f, 128), AES_T64(f, 192)

extern "C" {
const uint32_t Te0[256] = {AES_T256(te0)};
const uint32_t Te1[256] = {AES_T256(te1)};
const uint32_t Te2[256] = {AES_T256(te2)};
const uint32_t Te3[256] = {AES_T256(te3)};
const uint32_t Te4[256] = {AES_T256(te4)};
// Decryption tables: kept for hosts that link against them; nothing here decrypts.
const uint32_t Td0[256] = {AES_T256(td0)};
const uint32_t Td1[256] = {AES_T256(td1)};
const uint32_t Td2[256] = {AES_T256(td2)};
const uint32_t Td3[256] = {AES_T256(td3)};
const uint32_t Td4[256] = {AES_T256(td4)};
const uint32_t rcon[10] = {rc(0), rc(1), rc(2), rc(3), rc(4), rc(5), rc(6), rc(7), rc(8), rc(9)};
}

namespace cmcrypt {

namespace {

inline uint32_t subWord(uint32_t t)
{
    return (Te4[(t >> 16) & 0xff] & 0xff000000) ^ (Te4[(t >> 8) & 0xff] & 0x00ff0000) ^
           (Te4[t & 0xff] & 0x0000ff00) ^ (Te4[t >> 24] & 0x000000ff);
}

}  // namespace

int aesKeySetup(uint32_t *rk, const uint8_t *key, int keyBits)
{
    if (keyBits != 128 && keyBits != 192 && keyBits != 256)
        return -1;
    const int nk = keyBits / 32, rounds = nk + 6, total = 4 * (rounds + 1);
    for (int i = 0; i < nk; ++i)
        rk[i] = load32be(key + 4 * i);
    for (int i = nk; i < total; ++i) {
        uint32_t t = rk[i - 1];
        if (i % nk == 0)
            t = subWord(t) ^ rcon[i / nk - 1];  // subWord rotates by its lane choice
        else if (nk == 8 && i % nk == 4)
            t = (Te4[t >> 24] & 0xff000000) ^ (Te4[(t >> 16) & 0xff] & 0x00ff0000) ^
                (Te4[(t >> 8) & 0xff] & 0x0000ff00) ^ (Te4[t & 0xff] & 0x000000ff);
        rk[i] = rk[i - nk] ^ t;
    }
    return rounds;
}

}  // namespace cmcrypt

extern "C" int rijndaelKeySetupEnc(uint32_t *roundKeys, const uint8_t *key, int keyBits)
{
    return cmcrypt::aesKeySetup(roundKeys, key, keyBits);
}

extern "C" CMAesContext *aesEncryptInit(const uint8_t *key, uint32_t keyLength, CMAesContext *context)
{
    if (keyLength != 16 && keyLength != 24 && keyLength != 32)
        return nullptr;
    CMAesContext *c =
        context ? context : reinterpret_cast<CMAesContext *>(cmBufManTake(sizeof(CMAesContext)));
    if (!c)
        return nullptr;
    c->rounds = uint32_t(cmcrypt::aesKeySetup(c->roundKeys, key, int(keyLength * 8)));
    return c;
}

extern "C" void aesEncrypt(const CMAesContext *context, const uint8_t *in, uint8_t *out)
{
    cmcrypt::aesEncryptBlock(context->roundKeys, int(context->rounds), in, out);
}

extern "C" void aesEncrypt_deinit(CMAesContext *context, int callerProvided)
{
    if (!context)
        return;
    cmcrypt::wipe(context, sizeof *context);
    if (!callerProvided)
        cmBufManGive(reinterpret_cast<uint8_t *>(context));
}

extern "C" void AES_128_ExpandKey(uint32_t *roundKeys, const uint8_t *key)
{
    cmcrypt::aesKeySetup(roundKeys, key, 128);
}

extern "C" void AES_Encryption(const uint8_t *in, const uint32_t *roundKeys, uint8_t *out)
{
    cmcrypt::aesEncryptBlock(roundKeys, 10, in, out);
}
