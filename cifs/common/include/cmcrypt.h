/* Digests, the crypter table, random bytes and constant-time comparison.
 *
 * Every digest and authenticated cipher of the stack runs through the live
 * crypter table; a host may swap entries at start-up. Fragment lists: a
 * fragment with a null pointer is skipped whatever its length. */
#ifndef CMCRYPT_H
#define CMCRYPT_H

#include "cmtypes.h"

#include "cmmemory.h"

#define CM_MD4_SIZE 16
#define CM_MD5_SIZE 16
#define CM_SHA256_SIZE 32
#define CM_SHA512_SIZE 64
#define CM_AEAD_TAG_SIZE 16

/* SHA-512 work area (720 bytes) a caller may keep so that no memory is taken per call. */
typedef struct CMSha512Context {
    uint64_t state[8];
    uint64_t count; /* bytes hashed */
    uint8_t block[128];
    uint32_t waiting; /* bytes waiting in block */
    uint32_t reserved[129];
} CMSha512Context;

/* Entry forms of the crypter table. The AEAD encryptions answer 1 when the
 * message was sealed and 0 when nothing was written (bad key or nonce): the
 * caller must then drop the message. Decryptions answer 1 only when the tag
 * verifies; GCM answers -1 when it could not run at all (message untouched). */
typedef void (*CMCryptMd4)(const uint8_t *data, uint8_t *digest, uint32_t length);
typedef void (*CMCryptDigest)(const CMBlob *key, const CMBlob *unused, const CMBlob *fragments,
                              uint32_t count, uint8_t *out, uint32_t outLength);
typedef void (*CMCryptSha512)(const CMBlob *unused1, const CMBlob *unused2, const CMBlob *fragments,
                              uint32_t count, uint8_t *out, uint32_t outLength, CMSha512Context *work);
typedef int (*CMCryptCcmEncrypt)(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                                 const CMBlob *message, uint8_t *tag);
typedef int (*CMCryptCcmDecrypt)(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                                 const CMBlob *message, const uint8_t *tag);
typedef int (*CMCryptGcmEncrypt)(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                                 const CMBlob *message, uint8_t *tag, void *aesContext, uint8_t *workBuffer);
typedef int (*CMCryptGcmDecrypt)(const CMBlob *key, const CMBlob *nonce, const CMBlob *aad,
                                 const CMBlob *message, const uint8_t *tag, void *aesContext,
                                 uint8_t *workBuffer);

/* The ten entries, in table order. */
typedef struct CMCrypters {
    CMCryptMd4 md4;
    CMCryptDigest md5;
    CMCryptDigest hmacMd5;
    CMCryptDigest sha256;
    CMCryptDigest aesCmac;
    CMCryptSha512 sha512;
    CMCryptCcmEncrypt aesCcmEncrypt;
    CMCryptCcmDecrypt aesCcmDecrypt;
    CMCryptGcmEncrypt aesGcmEncrypt;
    CMCryptGcmDecrypt aesGcmDecrypt;
} CMCrypters;

/* The live table; never null. */
VX_API const CMCrypters *cmGetCrypters(void);
/* Non-null entries of the record replace live ones; null entries are kept. */
VX_API void cmSetExternalCrypters(const CMCrypters *crypters);
VX_API void cmResetExternalCrypters(void);

/* Built-in defaults of entries 0 to 3 and 5 (the AES modes are in cmcryptmodes.h).
 * Output lengths are ignored: the full digest is always written. */
VX_API void md4Vector(const uint8_t *data, uint8_t *digest, uint32_t length);
VX_API void md5Vector(const CMBlob *key, const CMBlob *unused, const CMBlob *fragments, uint32_t count,
                      uint8_t *out, uint32_t outLength);
/* Keys longer than 64 bytes are hashed first, as HMAC prescribes. */
VX_API void hmacMd5Vector(const CMBlob *key, const CMBlob *unused, const CMBlob *fragments, uint32_t count,
                          uint8_t *out, uint32_t outLength);
VX_API void sha256Vector(const CMBlob *unused1, const CMBlob *unused2, const CMBlob *fragments,
                         uint32_t count, uint8_t *out, uint32_t outLength);
/* With a null work area the context lives on the stack; a caller's area is
 * left holding the digest words. A null output writes "digest is null". */
VX_API void sha512Vector(const CMBlob *unused1, const CMBlob *unused2, const CMBlob *fragments,
                         uint32_t count, uint8_t *out, uint32_t outLength, CMSha512Context *work);

/* One-buffer wrappers over the live table. */
VX_API void cmMD4(uint8_t *out, const uint8_t *data, uint32_t length);
VX_API void cmMD5(uint8_t *out, const uint8_t *data, uint32_t length);
VX_API int cmHMACMD5(const uint8_t *key, uint32_t keyLength, const uint8_t *data, uint32_t dataLength,
                     uint8_t *out);
/* HMAC-SHA256 over the live SHA-256 entry (SMB2 signing, key derivation); 32 bytes out.
 * Keys longer than 64 bytes are hashed first. */
VX_API void cmHMACSHA256Vector(const uint8_t *key, uint32_t keyLength, const CMBlob *fragments,
                               uint32_t count, uint8_t *out);
VX_API void cmHMACSHA256(const uint8_t *key, uint32_t keyLength, const uint8_t *data, uint32_t dataLength,
                         uint8_t *out);

/* Bytes from the kernel's generator (challenges, nonces, UUIDs). A length of 0 writes nothing. */
VX_API void cmCreateRandomByteSequence(uint8_t *buffer, uint32_t length);

/* 1 when the two byte strings are equal; the time taken depends on the length only. */
VX_API int cmCryptEqual(const void *a, const void *b, uint32_t length);

#endif
