// The crypter table: every digest and AEAD of the stack goes through it.
#include "cmcryptmodes.h"
#include "crypt_internal.h"

namespace {

constexpr CMCrypters kDefaults = {
    md4Vector,    md5Vector,           hmacMd5Vector,       sha256Vector,        aesCmacVector,
    sha512Vector, aesCcmEncryptVector, aesCcmDecryptVector, aesGcmEncryptVector, aesGcmDecryptVector,
};

// Written only at start-up, before any other thread hashes.
CMCrypters live = kDefaults;

template <typename T> void replace(T &entry, T with)
{
    if (with)
        entry = with;
}

}  // namespace

extern "C" const CMCrypters *cmGetCrypters(void) { return &live; }

extern "C" void cmSetExternalCrypters(const CMCrypters *c)
{
    if (!c)
        return;
    replace(live.md4, c->md4);
    replace(live.md5, c->md5);
    replace(live.hmacMd5, c->hmacMd5);
    replace(live.sha256, c->sha256);
    replace(live.aesCmac, c->aesCmac);
    replace(live.sha512, c->sha512);
    replace(live.aesCcmEncrypt, c->aesCcmEncrypt);
    replace(live.aesCcmDecrypt, c->aesCcmDecrypt);
    replace(live.aesGcmEncrypt, c->aesGcmEncrypt);
    replace(live.aesGcmDecrypt, c->aesGcmDecrypt);
}

extern "C" void cmResetExternalCrypters(void) { live = kDefaults; }

extern "C" void cmMD4(uint8_t *out, const uint8_t *data, uint32_t length) { live.md4(data, out, length); }

extern "C" void cmMD5(uint8_t *out, const uint8_t *data, uint32_t length)
{
    CMBlob fragment = {const_cast<uint8_t *>(data), length};
    live.md5(nullptr, nullptr, &fragment, 1, out, CM_MD5_SIZE);
}

extern "C" int cmHMACMD5(const uint8_t *key, uint32_t keyLength, const uint8_t *data, uint32_t dataLength,
                         uint8_t *out)
{
    CMBlob k = {const_cast<uint8_t *>(key), keyLength};
    CMBlob fragment = {const_cast<uint8_t *>(data), dataLength};
    live.hmacMd5(&k, nullptr, &fragment, 1, out, CM_MD5_SIZE);
    return 0;
}
