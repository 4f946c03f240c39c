/* LAN Manager, NTLM and NTLMv2 hashes and responses, and the keys derived
 * from them (NTLM session security, SAMR password buffers, Netlogon). */
#ifndef CMCRYPTNTLM_H
#define CMCRYPTNTLM_H

#include "cmtypes.h"

#include "cmcryptcipher.h"

#define CM_NTLM_CHALLENGE_SIZE 8
#define CM_NTLM_RESPONSE_SIZE 24
#define CM_NTLM_HASH_SIZE 16
#define CM_SAMR_PASSWORD_SIZE 516

/* which values of cmCalculateNtlmSigningKey */
#define CM_NTLM_CLIENT_SIGNING 1
#define CM_NTLM_SERVER_SIGNING 2
#define CM_NTLM_CLIENT_SEALING 4
#define CM_NTLM_SERVER_SEALING 8

/* LM hash of an 8-bit password (its first 14 bytes). */
VX_API void cmHashPassword(const char *password, uint8_t *hash);
/* 24-byte response to an 8-byte challenge from a 16-byte LM or NT hash. */
VX_API void cmEncryptHashedPassword(const uint8_t *hash, const uint8_t *challenge, uint8_t *response);
VX_API void cmEncryptLMPassword(const uint8_t *challenge, const uint8_t *hash, uint8_t *response,
                                uint16_t *responseLength);
VX_API void cmEncryptNTLMPassword(const uint8_t *challenge, const uint8_t *hash, uint8_t *response,
                                  uint16_t *responseLength);
VX_API void cmEncryptPlainTextPassword(const char *password, const uint8_t *challenge, uint8_t *response);
/* NTLMv2 hash from UTF-16 (zero-terminated) user and domain names, upper-cased with cmWToupper.
 * Returns 0, or -1 (v2hash zeroed) when no memory could be had for long names. */
VX_API int cmCreateV2Hash(const CMWchar *domain, int upperUserOnly, const CMWchar *user, const uint8_t *hash,
                          uint32_t hashLength, uint8_t *v2hash);
VX_API void cmEncryptNTLMv2Password(const uint8_t *serverChallenge, const uint8_t *v2hash,
                                    const uint8_t *clientBlob, uint32_t clientBlobLength, uint8_t *proof,
                                    uint16_t *proofLength);
/* HMAC-MD5 of 16 bytes under a 16-byte key; sessionKey may be key. */
VX_API void cmGenerateExtSecuritySessionKey(const uint8_t *key, const uint8_t *data, uint8_t *sessionKey);
/* Signing keys (16 bytes) or prepared RC4 sealing states (CMArcfourState) into out. */
VX_API void cmCalculateNtlmSigningKey(const uint8_t *sessionKey, uint8_t *out, int which);
VX_API void cmCalculateDcerpcSignature(const uint8_t *message, uint32_t messageLength,
                                       const uint8_t *signingKey, CMArcfourState *sealingState,
                                       uint32_t sequenceNumber, uint8_t *checksum);
/* Decrypts the first 516 bytes of a SAMR password buffer in place; with salted
 * the 16-byte salt follows them. */
VX_API void cmDecryptPassword(const uint8_t *key, uint8_t *buffer, int salted);
VX_API void cmGenerateNetlogonCredentials(const uint8_t *clientChallenge, const uint8_t *serverChallenge,
                                          const uint8_t *sharedSecret, uint8_t *clientCredential,
                                          uint8_t *serverCredential, uint8_t *sessionKey);

#endif
