/* SMB 3.x key derivation, transform encryption and the 3.1.1 preauth hash. */
#ifndef CMCRYPTSMB3_H
#define CMCRYPTSMB3_H

#include "cmtypes.h"

#include "cmcrypt.h"
#include "cmcryptcipher.h"

#define CM_SMB3_KEY_SIZE 16
#define CM_SMB311_HASH_SIZE 64

/* Counter-mode KDF over HMAC-SHA256, one iteration, L = 128: 16 bytes out.
 * Lengths count every byte passed, including a terminating zero. */
VX_API void cmKeyDerivation(const uint8_t *key, uint32_t keyLength, const uint8_t *label,
                            uint32_t labelLength, const uint8_t *context, uint32_t contextLength,
                            uint8_t *derivedKey);

/* Seals a message in place: AES-128-CCM (11-byte nonce) when useGcm is 0,
 * AES-128-GCM (12-byte nonce) otherwise. 1 sealed, 0 nothing written: drop it. */
VX_API int cmSmb3SealMessage(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                             uint32_t messageLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag,
                             int useGcm, CMAesContext *aesContext, uint8_t *workBuffer);
VX_API void cmSmb3EncryptMessage(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                 uint32_t messageLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag,
                                 int useGcm);
/* 1 authentic, 0 not, -1 could not run (GCM). */
VX_API int cmSmb3DecryptMessage(const uint8_t *key, const uint8_t *nonce, uint8_t *message,
                                uint32_t messageLength, const uint8_t *aad, uint32_t aadLength,
                                const uint8_t *tag, int useGcm);

/* hash := SHA-512(hash || message); workContext may be null. Returns 0. */
VX_API int cmSmb311CalcMessagesHash(const uint8_t *message, uint32_t messageLength, uint8_t *hash,
                                    CMSha512Context *workContext);

#endif
