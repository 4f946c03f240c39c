// AES-128-CMAC (SMB 3.x signing). The key is expanded once per message.
#include "cmcryptmodes.h"
#include "crypt_internal.h"

extern "C" const uint8_t const_Rb[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x87};

namespace {

void subKeys(const uint32_t *rk, uint8_t *k1, uint8_t *k2)
{
    uint8_t l[16] = {};
    cmcrypt::aesEncryptBlock(rk, 10, l, l);
    if (AES_CMAC_ShiftBitLeft(l, k1))
        AES_XOR_128(k1, const_Rb, k1);
    if (AES_CMAC_ShiftBitLeft(k1, k2))
        AES_XOR_128(k2, const_Rb, k2);
    cmcrypt::wipe(l, sizeof l);
}

inline void absorb(CMAesCmacContext *c, const uint8_t *block)
{
    cmcrypt::xor16(c->x, c->x, block);
    cmcrypt::aesEncryptBlock(c->roundKeys, 10, c->x, c->x);
}

}  // namespace

extern "C" int AES_CMAC_ShiftBitLeft(const uint8_t *in, uint8_t *out)
{
    int carry = in[0] >> 7;
    for (int i = 0; i < 15; ++i)
        out[i] = uint8_t((in[i] << 1) | (in[i + 1] >> 7));
    out[15] = uint8_t(in[15] << 1);
    return carry;
}

extern "C" void AES_CMAC_Padding(const uint8_t *lastBlock, uint8_t *padded, uint32_t length)
{
    if (length > 16)
        length = 16;
    for (uint32_t i = 0; i < 16; ++i)
        padded[i] = i < length ? lastBlock[i] : i == length ? 0x80 : 0;
}

extern "C" int AES_XOR_128(const uint8_t *a, const uint8_t *b, uint8_t *out)
{
    cmcrypt::xor16(out, a, b);
    return 16;
}

extern "C" void AES_CMAC_GenSubKey(const uint8_t *key, uint8_t *k1, uint8_t *k2)
{
    uint32_t rk[44];
    cmcrypt::aesKeySetup(rk, key, 128);
    subKeys(rk, k1, k2);
    cmcrypt::wipe(rk, sizeof rk);
}

extern "C" void aes_cmac_init(const uint8_t *key, uint32_t totalLength, CMAesCmacContext *c)
{
    std::memset(c, 0, sizeof *c);
    std::memcpy(c->key, key, 16);
    cmcrypt::aesKeySetup(c->roundKeys, key, 128);
    subKeys(c->roundKeys, c->k1, c->k2);
    c->blocks = totalLength ? (totalLength - 1) / 16 + 1 : 1;
    c->lastComplete = totalLength > 0 && totalLength % 16 == 0;
}

// A block is absorbed only once more data follows it, so the message's last
// block always waits for final, however the caller splits its updates.
extern "C" void aes_cmac_update(CMAesCmacContext *c, const uint8_t *data, uint32_t length)
{
    if (!length)
        return;
    if (c->waiting < 16) {
        uint32_t take = 16 - c->waiting < length ? 16 - c->waiting : length;
        std::memcpy(c->last + c->waiting, data, take);
        c->waiting += take;
        data += take;
        length -= take;
        if (!length)
            return;
    }
    absorb(c, c->last);
    if (length > 16) {
        // The chaining value stays in words across the run of whole blocks.
        uint32_t x[4] = {cmcrypt::load32be(c->x), cmcrypt::load32be(c->x + 4), cmcrypt::load32be(c->x + 8),
                         cmcrypt::load32be(c->x + 12)};
        for (; length > 16; data += 16, length -= 16) {
            x[0] ^= cmcrypt::load32be(data);
            x[1] ^= cmcrypt::load32be(data + 4);
            x[2] ^= cmcrypt::load32be(data + 8);
            x[3] ^= cmcrypt::load32be(data + 12);
            cmcrypt::aesEncryptWords(c->roundKeys, 10, x);
        }
        for (int i = 0; i < 4; ++i)
            cmcrypt::store32be(c->x + 4 * i, x[i]);
    }
    std::memcpy(c->last, data, length);
    c->waiting = length;
}

extern "C" void aes_cmac_final(CMAesCmacContext *c, uint8_t *mac)
{
    if (c->waiting == 16) {
        AES_XOR_128(c->last, c->k1, c->mLast);
    } else {
        AES_CMAC_Padding(c->last, c->mLast, c->waiting);
        AES_XOR_128(c->mLast, c->k2, c->mLast);
    }
    absorb(c, c->mLast);
    std::memcpy(mac, c->x, 16);
    cmcrypt::wipe(c, sizeof *c);
}

extern "C" void aesCmacVector(const CMBlob *key, const CMBlob *, const CMBlob *fragments, uint32_t count,
                              uint8_t *mac, uint32_t macLength)
{
    std::memset(mac, 0, macLength);
    if (!key || !key->data)
        return;
    uint32_t total = 0;
    cmcrypt::forEachFragment(fragments, count, [&](const uint8_t *, size_t n) { total += uint32_t(n); });
    CMAesCmacContext c;
    aes_cmac_init(key->data, total, &c);
    cmcrypt::forEachFragment(fragments, count,
                             [&](const uint8_t *p, size_t n) { aes_cmac_update(&c, p, uint32_t(n)); });
    uint8_t full[16];
    aes_cmac_final(&c, full);
    std::memcpy(mac, full, macLength < 16 ? macLength : 16);
}
