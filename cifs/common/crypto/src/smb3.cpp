// SMB 3.x key derivation, transform sealing and the 3.1.1 preauth hash.
#include "cmcryptmodes.h"
#include "cmcryptsmb3.h"
#include "crypt_internal.h"

namespace {
CMBlob blob(const void *p, uint32_t n) { return CMBlob{static_cast<uint8_t *>(const_cast<void *>(p)), n}; }
}  // namespace

extern "C" void cmKeyDerivation(const uint8_t *key, uint32_t keyLength, const uint8_t *label,
                                uint32_t labelLength, const uint8_t *context, uint32_t contextLength,
                                uint8_t *derivedKey)
{
    // Counter mode, one iteration: i || label || 0x00 || context || L, with L = 128 bits.
    static const uint8_t kCounter[4] = {0, 0, 0, 1};
    static const uint8_t kSeparator[1] = {0};
    static const uint8_t kBits[4] = {0, 0, 0, 0x80};
    CMBlob input[5] = {blob(kCounter, 4), blob(label, labelLength), blob(kSeparator, 1),
                       blob(context, contextLength), blob(kBits, 4)};
    uint8_t prf[32];
    cmHMACSHA256Vector(key, keyLength, input, 5, prf);
    std::memcpy(derivedKey, prf, CM_SMB3_KEY_SIZE);
    cmcrypt::wipe(prf, sizeof prf);
}

extern "C" int cmSmb3SealMessage(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                 uint32_t messageLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag,
                                 int useGcm, CMAesContext *aesContext, uint8_t *workBuffer)
{
    if (useGcm)
        return cmAes128GcmSeal(key, nonce, message, messageLength, aad, aadLength, tag, aesContext,
                               workBuffer);
    return cmAes128CcmSeal(key, nonce, message, messageLength, aad, aadLength, tag);
}

extern "C" void cmSmb3EncryptMessage(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                     uint32_t messageLength, const uint8_t *aad, uint32_t aadLength,
                                     uint8_t *tag, int useGcm)
{
    cmSmb3SealMessage(key, nonce, message, messageLength, aad, aadLength, tag, useGcm, nullptr, nullptr);
}

extern "C" int cmSmb3DecryptMessage(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                    uint32_t messageLength, const uint8_t *aad, uint32_t aadLength,
                                    const uint8_t *tag, int useGcm)
{
    if (useGcm)
        return aes128GcmDecrypt(key, nonce, message, messageLength, aad, aadLength, tag, nullptr, nullptr);
    return AES_128_CCM_Decrypt(key, nonce, message, messageLength, aad, aadLength, tag);
}

extern "C" int cmSmb311CalcMessagesHash(const uint8_t *message, uint32_t messageLength, uint8_t *hash,
                                        CMSha512Context *workContext)
{
    uint8_t next[CM_SMB311_HASH_SIZE];
    CMBlob input[2] = {blob(hash, CM_SMB311_HASH_SIZE), blob(message, messageLength)};
    cmGetCrypters()->sha512(nullptr, nullptr, input, 2, next, CM_SMB311_HASH_SIZE, workContext);
    std::memcpy(hash, next, CM_SMB311_HASH_SIZE);
    return 0;
}
