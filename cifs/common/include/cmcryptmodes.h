/* AES modes: AES-128-CMAC, AES-128-CCM (11-byte nonce) and AES-GCM (12-byte
 * nonce), all with 16-byte tags; CCM and GCM work in place. */
#ifndef CMCRYPTMODES_H
#define CMCRYPTMODES_H

#include "cmtypes.h"

#include "cmcrypt.h"
#include "cmcryptcipher.h"

#define CM_CCM_NONCE_SIZE 11
#define CM_GCM_NONCE_SIZE 12

CM_CRYPT_TABLE uint8_t const_Rb[16];

typedef struct CMAesCmacContext {
    uint8_t key[16];
    uint32_t roundKeys[44]; /* expanded once per message */
    uint8_t x[16];          /* chaining value */
    uint8_t last[16];       /* bytes not yet absorbed */
    uint32_t waiting;
    uint8_t k1[16];
    uint8_t k2[16];
    uint8_t mLast[16];
    uint32_t blocks; /* blocks of the declared message */
    int lastComplete;
} CMAesCmacContext;

/* totalLength is the declared message length; the MAC is right for whatever is fed. */
VX_API void aes_cmac_init(const uint8_t *key, uint32_t totalLength, CMAesCmacContext *context);
VX_API void aes_cmac_update(CMAesCmacContext *context, const uint8_t *data, uint32_t length);
VX_API void aes_cmac_final(CMAesCmacContext *context, uint8_t *mac);
VX_API void AES_CMAC_GenSubKey(const uint8_t *key, uint8_t *k1, uint8_t *k2);
VX_API int AES_CMAC_ShiftBitLeft(const uint8_t *in, uint8_t *out);
VX_API void AES_CMAC_Padding(const uint8_t *lastBlock, uint8_t *padded, uint32_t length);
VX_API int AES_XOR_128(const uint8_t *a, const uint8_t *b, uint8_t *out);

/* Crypter table defaults, entries 4 and 6 to 9. aesContext is a CMAesContext
 * the caller may lend; workBuffer is accepted for form: the modes work in place. */
VX_API void aesCmacVector(const CMBlob *key, const CMBlob *unused, const CMBlob *fragments, uint32_t count,
                          uint8_t *mac, uint32_t macLength);
VX_API int aesCcmEncryptVector(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                               const CMBlob *message, uint8_t *tag);
VX_API int aesCcmDecryptVector(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                               const CMBlob *message, const uint8_t *tag);
VX_API int aesGcmEncryptVector(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                               const CMBlob *message, uint8_t *tag, void *aesContext, uint8_t *workBuffer);
VX_API int aesGcmDecryptVector(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                               const CMBlob *message, const uint8_t *tag, void *aesContext,
                               uint8_t *workBuffer);

/* Sealing through the live table with a status: 1 sealed, 0 nothing written
 * (the caller drops the message). */
VX_API int cmAes128CcmSeal(const uint8_t *key, const uint8_t *nonce, uint8_t *message, uint32_t messageLength,
                           const uint8_t *aad, uint32_t aadLength, uint8_t *tag);
VX_API int cmAes128GcmSeal(const uint8_t *key, const uint8_t *nonce, uint8_t *message, uint32_t messageLength,
                           const uint8_t *aad, uint32_t aadLength, uint8_t *tag, CMAesContext *aesContext,
                           uint8_t *workBuffer);

/* Exported wrappers over the live table. Decryptions: 1 authentic, 0 not
 * (the buffer then holds untrusted plaintext), GCM -1 could not run. */
VX_API void AES_128_CCM_Encrypt(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                uint32_t messageLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag);
VX_API int AES_128_CCM_Decrypt(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                               uint32_t messageLength, const uint8_t *aad, uint32_t aadLength,
                               const uint8_t *tag);
VX_API void aes128GcmEncrypt(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                             uint32_t messageLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag,
                             CMAesContext *aesContext, uint8_t *workBuffer);
VX_API int aes128GcmDecrypt(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                            uint32_t messageLength, const uint8_t *aad, uint32_t aadLength,
                            const uint8_t *tag, CMAesContext *aesContext, uint8_t *workBuffer);

/* GCM from plaintext into ciphertext with the built-in code; returns 0, or -1
 * for a key length other than 16, 24, 32 or a nonce length other than 12. */
VX_API int aesGcmAuthEncrypt(const uint8_t *key, uint32_t keyLength, const uint8_t *nonce,
                             uint32_t nonceLength, const uint8_t *plaintext, uint32_t length,
                             const uint8_t *aad, uint32_t aadLength, uint8_t *ciphertext, uint8_t *tag);

#endif
