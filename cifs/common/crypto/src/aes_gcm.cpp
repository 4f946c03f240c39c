// AES-GCM with a 12-byte nonce and a 16-byte tag (SMB 3.1.1 encryption).
// GHASH runs on a per-message 8-bit table; the key is expanded once per message
// and the message is transformed in place, so no work buffer is needed.
#include <array>

#include "cmcryptmodes.h"
#include "crypt_internal.h"

namespace {

using cmcrypt::load64be;
using cmcrypt::store64be;

// Reduction of the eight bits shifted out of the low end, by the polynomial's
// R = 0xE1 || 0^120: the bit b places below the end folds back as R >> (7 - b).
constexpr std::array<uint64_t, 256> makeLast8()
{
    std::array<uint64_t, 256> t{};
    for (int r = 0; r < 256; ++r)
        for (int b = 0; b < 8; ++b)
            if (r & (1 << b))
                t[size_t(r)] ^= uint64_t(0xe100 >> (7 - b)) << 48;
    return t;
}
constexpr std::array<uint64_t, 256> kLast8 = makeLast8();

// GHASH with a per-message table of the 256 multiples of H (4 KiB): one look-up
// per byte of input.
class Ghash {
public:
    explicit Ghash(const uint8_t *h)
    {
        uint64_t vh = load64be(h), vl = load64be(h + 8);
        hl_[0] = hh_[0] = 0;
        hl_[128] = vl;
        hh_[128] = vh;
        for (int i = 64; i > 0; i >>= 1) {
            uint64_t t = (vl & 1) ? 0xe100000000000000ull : 0;
            vl = (vh << 63) | (vl >> 1);
            vh = (vh >> 1) ^ t;
            hl_[i] = vl;
            hh_[i] = vh;
        }
        for (int i = 2; i <= 128; i *= 2)
            for (int j = 1; j < i; ++j) {
                hh_[i + j] = hh_[i] ^ hh_[j];
                hl_[i + j] = hl_[i] ^ hl_[j];
            }
    }
    ~Ghash() { cmcrypt::wipe(this, sizeof *this); }

    void block(const uint8_t *p)
    {
        yh_ ^= load64be(p);
        yl_ ^= load64be(p + 8);
        multiply();
    }
    void partial(const uint8_t *p, size_t n)
    {
        uint8_t b[16] = {};
        std::memcpy(b, p, n);
        block(b);
    }
    void bytes(const uint8_t *p, size_t n)
    {
        for (; n >= 16; p += 16, n -= 16)
            block(p);
        if (n)
            partial(p, n);
    }
    void lengths(uint64_t aadBytes, uint64_t textBytes)
    {
        yh_ ^= aadBytes * 8;
        yl_ ^= textBytes * 8;
        multiply();
    }
    void result(uint8_t *out) const
    {
        store64be(out, yh_);
        store64be(out + 8, yl_);
    }

private:
    // Y := Y * H, a byte at a time from the low end of Y.
    void multiply()
    {
        uint64_t zh = 0, zl = 0;
        for (int w = 0; w < 2; ++w) {
            uint64_t x = w ? yh_ : yl_;
            for (int k = 0; k < 8; ++k, x >>= 8) {
                unsigned byte = unsigned(x & 0xff), rem = unsigned(zl & 0xff);
                zl = (zh << 56) | (zl >> 8);
                zh = (zh >> 8) ^ kLast8[rem];
                zh ^= hh_[byte];
                zl ^= hl_[byte];
            }
        }
        yh_ = zh;
        yl_ = zl;
    }

    uint64_t hl_[256], hh_[256];
    uint64_t yh_ = 0, yl_ = 0;
};

// Encrypts or decrypts len bytes from in to out (which may be the same buffer)
// and writes the tag computed over the ciphertext.
void gcmRun(const CMAesContext *aes, const uint8_t *nonce, const uint8_t *aad, uint32_t aadLength,
            const uint8_t *in, uint8_t *out, uint32_t len, bool decrypt, uint8_t *tag)
{
    const uint32_t *rk = aes->roundKeys;
    const int rounds = int(aes->rounds);
    uint8_t h[16] = {}, j0[16], ek0[16], ctr[16], ks[16];
    cmcrypt::aesEncryptBlock(rk, rounds, h, h);
    Ghash g(h);
    std::memcpy(j0, nonce, 12);
    cmcrypt::store32be(j0 + 12, 1);
    cmcrypt::aesEncryptBlock(rk, rounds, j0, ek0);
    if (aad)
        g.bytes(aad, aadLength);
    else
        aadLength = 0;

    std::memcpy(ctr, j0, 16);
    uint32_t counter = 1;
    uint32_t off = 0;
    for (; len - off >= 16; off += 16) {
        cmcrypt::store32be(ctr + 12, ++counter);  // wraps within the last four bytes only
        cmcrypt::aesEncryptBlock(rk, rounds, ctr, ks);
        if (decrypt)
            g.block(in + off);
        cmcrypt::xor16(out + off, in + off, ks);
        if (!decrypt)
            g.block(out + off);
    }
    if (off < len) {
        uint32_t n = len - off;
        cmcrypt::store32be(ctr + 12, ++counter);
        cmcrypt::aesEncryptBlock(rk, rounds, ctr, ks);
        if (decrypt)
            g.partial(in + off, n);
        for (uint32_t k = 0; k < n; ++k)
            out[off + k] = uint8_t(in[off + k] ^ ks[k]);
        if (!decrypt)
            g.partial(out + off, n);
    }
    g.lengths(aadLength, len);
    g.result(tag);
    cmcrypt::xor16(tag, tag, ek0);
    cmcrypt::wipe(h, sizeof h);
    cmcrypt::wipe(ek0, sizeof ek0);
    cmcrypt::wipe(ks, sizeof ks);
}

// Key schedule into the caller's context or a local one; null for a bad key length.
const CMAesContext *gcmKey(const CMBlob *key, void *aesContext, CMAesContext *local)
{
    if (!key || !key->data)
        return nullptr;
    CMAesContext *c = aesContext ? static_cast<CMAesContext *>(aesContext) : local;
    return aesEncryptInit(key->data, key->len, c);
}

bool usable(const CMBlob *nonce, const CMBlob *message)
{
    return nonce && nonce->data && nonce->len == CM_GCM_NONCE_SIZE && message &&
           (message->data || !message->len);
}

const uint8_t *aadData(const CMBlob *aad) { return aad && aad->data ? aad->data : nullptr; }

}  // namespace

extern "C" int aesGcmEncryptVector(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                                   const CMBlob *message, uint8_t *tag, void *aesContext, uint8_t *)
{
    if (!usable(nonce, message) || !tag)
        return 0;
    CMAesContext local;
    const CMAesContext *aes = gcmKey(key, aesContext, &local);
    if (!aes)
        return 0;
    gcmRun(aes, nonce->data, aadData(aad), aad ? aad->len : 0, message->data, message->data, message->len,
           false, tag);
    cmcrypt::wipe(&local, sizeof local);
    return 1;
}

extern "C" int aesGcmDecryptVector(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                                   const CMBlob *message, const uint8_t *tag, void *aesContext, uint8_t *)
{
    if (!usable(nonce, message) || !tag)
        return -1;
    CMAesContext local;
    const CMAesContext *aes = gcmKey(key, aesContext, &local);
    if (!aes)
        return -1;
    uint8_t expected[16];
    gcmRun(aes, nonce->data, aadData(aad), aad ? aad->len : 0, message->data, message->data, message->len,
           true, expected);
    int ok = cmCryptEqual(expected, tag, 16);
    cmcrypt::wipe(expected, sizeof expected);
    cmcrypt::wipe(&local, sizeof local);
    return ok;
}

extern "C" int cmAes128GcmSeal(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                               uint32_t messageLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag,
                               CMAesContext *aesContext, uint8_t *workBuffer)
{
    CMBlob k = {const_cast<uint8_t *>(key), 16}, n = {const_cast<uint8_t *>(nonce), CM_GCM_NONCE_SIZE};
    CMBlob a = {const_cast<uint8_t *>(aad), aadLength}, m = {message, messageLength};
    return cmGetCrypters()->aesGcmEncrypt(&k, &n, &a, &m, tag, aesContext, workBuffer);
}

extern "C" void aes128GcmEncrypt(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                 uint32_t messageLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag,
                                 CMAesContext *aesContext, uint8_t *workBuffer)
{
    cmAes128GcmSeal(key, nonce, message, messageLength, aad, aadLength, tag, aesContext, workBuffer);
}

extern "C" int aes128GcmDecrypt(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                uint32_t messageLength, const uint8_t *aad, uint32_t aadLength,
                                const uint8_t *tag, CMAesContext *aesContext, uint8_t *workBuffer)
{
    CMBlob k = {const_cast<uint8_t *>(key), 16}, n = {const_cast<uint8_t *>(nonce), CM_GCM_NONCE_SIZE};
    CMBlob a = {const_cast<uint8_t *>(aad), aadLength}, m = {message, messageLength};
    return cmGetCrypters()->aesGcmDecrypt(&k, &n, &a, &m, tag, aesContext, workBuffer);
}

extern "C" int aesGcmAuthEncrypt(const uint8_t *key, uint32_t keyLength, const uint8_t *nonce,
                                 uint32_t nonceLength, const uint8_t *plaintext, uint32_t length,
                                 const uint8_t *aad, uint32_t aadLength, uint8_t *ciphertext, uint8_t *tag)
{
    if (!key || !nonce || nonceLength != CM_GCM_NONCE_SIZE || !tag || (length && (!plaintext || !ciphertext)))
        return -1;
    CMAesContext local;
    if (!aesEncryptInit(key, keyLength, &local))
        return -1;
    gcmRun(&local, nonce, aad, aadLength, plaintext, ciphertext, length, false, tag);
    cmcrypt::wipe(&local, sizeof local);
    return 0;
}
