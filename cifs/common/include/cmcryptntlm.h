/* LAN Manager, NTLM and NTLMv2 hashes and responses, and the keys derived
 * from them (NTLM session security, SAMR password buffers, Netlogon). */
#ifndef CMCRYPTNTLM_H
#define CMCRYPTNTLM_H

#include <stdint.h>

#include "cmcryptcipher.h"

#ifdef __cplusplus
extern "C" {
#endif

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
void cmHashPassword(const char *password, uint8_t *hash);
/* 24-byte response to an 8-byte challenge from a 16-byte LM or NT hash. */
void cmEncryptHashedPassword(const uint8_t *hash, const uint8_t *challenge, uint8_t *response);
void cmEncryptLMPassword(const uint8_t *challenge, const uint8_t *hash, uint8_t *response,
                         uint16_t *responseLength);
void cmEncryptNTLMPassword(const uint8_t *challenge, const uint8_t *hash, uint8_t *response,
                           uint16_t *responseLength);
void cmEncryptPlainTextPassword(const char *password, const uint8_t *challenge, uint8_t *response);
/* NTLMv2 hash from UTF-16 (host order, zero-terminated) user and domain names.
 * Returns 0, or -1 (v2hash zeroed) when no memory could be had for long names. */
int cmCreateV2Hash(const uint16_t *domain, int upperUserOnly, const uint16_t *user,
                   const uint8_t *hash, uint32_t hashLength, uint8_t *v2hash);
void cmEncryptNTLMv2Password(const uint8_t *serverChallenge, const uint8_t *v2hash,
                             const uint8_t *clientBlob, uint32_t clientBlobLength, uint8_t *proof,
                             uint16_t *proofLength);
/* HMAC-MD5 of 16 bytes under a 16-byte key; sessionKey may be key. */
void cmGenerateExtSecuritySessionKey(const uint8_t *key, const uint8_t *data, uint8_t *sessionKey);
/* Signing keys (16 bytes) or prepared RC4 sealing states (CMArcfourState) into out. */
void cmCalculateNtlmSigningKey(const uint8_t *sessionKey, uint8_t *out, int which);
void cmCalculateDcerpcSignature(const uint8_t *message, uint32_t messageLength,
                                const uint8_t *signingKey, CMArcfourState *sealingState,
                                uint32_t sequenceNumber, uint8_t *checksum);
/* Decrypts the first 516 bytes of a SAMR password buffer in place; with salted
 * the 16-byte salt follows them. */
void cmDecryptPassword(const uint8_t *key, uint8_t *buffer, int salted);
void cmGenerateNetlogonCredentials(const uint8_t *clientChallenge, const uint8_t *serverChallenge,
                                   const uint8_t *sharedSecret, uint8_t *clientCredential,
                                   uint8_t *serverCredential, uint8_t *sessionKey);

#ifdef __cplusplus
}
#endif

#endif
