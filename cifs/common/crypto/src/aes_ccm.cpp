// AES-128-CCM with an 11-byte nonce and a 16-byte tag (SMB 3.0 encryption).
// The CBC-MAC streams over the message: no work area, one key schedule per call.
#include "cmcryptmodes.h"
#include "crypt_internal.h"

namespace {

using cmcrypt::aesEncryptBlock;

struct Ccm {
    uint32_t rk[44];
    uint8_t mac[16];  // running CBC-MAC
    uint8_t ctr[16];  // counter block Ai
    uint8_t pending[16];
    uint32_t waiting = 0;

    void macBlock(const uint8_t *block)
    {
        cmcrypt::xor16(mac, mac, block);
        aesEncryptBlock(rk, 10, mac, mac);
    }
    // Feeds associated data, zero-filling only at the end of the whole field.
    void macStream(const uint8_t *p, size_t n)
    {
        while (n) {
            size_t take = 16 - waiting < n ? 16 - waiting : n;
            std::memcpy(pending + waiting, p, take);
            waiting += uint32_t(take);
            p += take;
            n -= take;
            if (waiting == 16) {
                macBlock(pending);
                waiting = 0;
            }
        }
    }
    void macFlush()
    {
        if (waiting) {
            std::memset(pending + waiting, 0, 16 - waiting);
            macBlock(pending);
            waiting = 0;
        }
    }
    ~Ccm() { cmcrypt::wipe(this, sizeof *this); }
};

bool usable(const CMBlob *key, const CMBlob *nonce, const CMBlob *message)
{
    return key && key->data && nonce && nonce->data && nonce->len == CM_CCM_NONCE_SIZE && message &&
           (message->data || !message->len);
}

// Runs CBC-MAC and counter mode over the message in place; s0Tag gets T xor S0.
void ccmRun(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad, const CMBlob *message, bool decrypt,
            uint8_t *s0Tag)
{
    Ccm c;
    cmcrypt::aesKeySetup(c.rk, key->data, 128);
    const uint8_t *a = aad && aad->data ? aad->data : nullptr;
    uint32_t aLen = a ? aad->len : 0, len = message->len;
    uint8_t *m = message->data;

    // B0: flags (Adata, M' = 7, L' = 3), nonce, message length.
    uint8_t b0[16];
    b0[0] = aLen ? 0x7b : 0x3b;
    std::memcpy(b0 + 1, nonce->data, 11);
    cmcrypt::store32be(b0 + 12, len);
    std::memset(c.mac, 0, 16);
    c.macBlock(b0);
    if (aLen) {
        uint8_t prefix[6];
        size_t prefixLength;
        if (aLen < 0xff00) {
            prefix[0] = uint8_t(aLen >> 8);
            prefix[1] = uint8_t(aLen);
            prefixLength = 2;
        } else {
            prefix[0] = 0xff;
            prefix[1] = 0xfe;
            cmcrypt::store32be(prefix + 2, aLen);
            prefixLength = 6;
        }
        c.macStream(prefix, prefixLength);
        c.macStream(a, aLen);
        c.macFlush();
    }

    c.ctr[0] = 0x03;
    std::memcpy(c.ctr + 1, nonce->data, 11);
    uint8_t ks[16];
    uint32_t i = 1, off = 0;
    // Whole blocks: the CBC-MAC takes the plaintext straight from the message;
    // MAC and counter stay in words, two independent chains the core overlaps.
    uint32_t x[4], head[3];
    for (int w = 0; w < 4; ++w)
        x[w] = cmcrypt::load32be(c.mac + 4 * w);
    for (int w = 0; w < 3; ++w)
        head[w] = cmcrypt::load32be(c.ctr + 4 * w);
    for (; len - off >= 16; ++i, off += 16) {
        uint8_t *block = m + off;
        uint32_t k[4] = {head[0], head[1], head[2], i};
        uint32_t b[4];
        for (int w = 0; w < 4; ++w)
            b[w] = cmcrypt::load32be(block + 4 * w);
        if (!decrypt)
            for (int w = 0; w < 4; ++w)
                x[w] ^= b[w];
        cmcrypt::aesEncryptWords(c.rk, 10, k);
        for (int w = 0; w < 4; ++w) {
            b[w] ^= k[w];
            cmcrypt::store32be(block + 4 * w, b[w]);
        }
        if (decrypt)
            for (int w = 0; w < 4; ++w)
                x[w] ^= b[w];
        cmcrypt::aesEncryptWords(c.rk, 10, x);
    }
    for (int w = 0; w < 4; ++w)
        cmcrypt::store32be(c.mac + 4 * w, x[w]);
    // The last partial block is zero-filled for the MAC and uses as many key-stream bytes as it has.
    if (off < len) {
        uint32_t n = len - off;
        cmcrypt::store32be(c.ctr + 12, i);
        aesEncryptBlock(c.rk, 10, c.ctr, ks);
        if (!decrypt)
            c.macStream(m + off, n);
        for (uint32_t k = 0; k < n; ++k)
            m[off + k] ^= ks[k];
        if (decrypt)
            c.macStream(m + off, n);
        c.macFlush();
    }
    cmcrypt::store32be(c.ctr + 12, 0);
    aesEncryptBlock(c.rk, 10, c.ctr, ks);
    cmcrypt::xor16(s0Tag, c.mac, ks);
    cmcrypt::wipe(ks, sizeof ks);
}

}  // namespace

extern "C" int aesCcmEncryptVector(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                                   const CMBlob *message, uint8_t *tag)
{
    if (!usable(key, nonce, message) || !tag)
        return 0;
    ccmRun(key, nonce, aad, message, false, tag);
    return 1;
}

extern "C" int aesCcmDecryptVector(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                                   const CMBlob *message, const uint8_t *tag)
{
    if (!usable(key, nonce, message) || !tag)
        return 0;
    uint8_t expected[16];
    ccmRun(key, nonce, aad, message, true, expected);
    int ok = cmCryptEqual(expected, tag, 16);
    cmcrypt::wipe(expected, sizeof expected);
    return ok;
}

extern "C" int cmAes128CcmSeal(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                               uint32_t messageLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag)
{
    CMBlob k = {const_cast<uint8_t *>(key), 16}, n = {const_cast<uint8_t *>(nonce), CM_CCM_NONCE_SIZE};
    CMBlob a = {const_cast<uint8_t *>(aad), aadLength}, m = {message, messageLength};
    return cmGetCrypters()->aesCcmEncrypt(&k, &n, &a, &m, tag);
}

extern "C" void AES_128_CCM_Encrypt(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                    uint32_t messageLength, const uint8_t *aad, uint32_t aadLength,
                                    uint8_t *tag)
{
    cmAes128CcmSeal(key, nonce, message, messageLength, aad, aadLength, tag);
}

extern "C" int AES_128_CCM_Decrypt(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                   uint32_t messageLength, const uint8_t *aad, uint32_t aadLength,
                                   const uint8_t *tag)
{
    CMBlob k = {const_cast<uint8_t *>(key), 16}, n = {const_cast<uint8_t *>(nonce), CM_CCM_NONCE_SIZE};
    CMBlob a = {const_cast<uint8_t *>(aad), aadLength}, m = {message, messageLength};
    return cmGetCrypters()->aesCcmDecrypt(&k, &n, &a, &m, tag);
}
