/* Block and stream ciphers: AES (encryption only), single-block DES with
 * 7-byte keys, RC4. */
#ifndef CMCRYPTCIPHER_H
#define CMCRYPTCIPHER_H

#include "cmtypes.h"

/* Table-driven AES: 60 round-key words and the round count (244 bytes). */
typedef struct CMAesContext {
    uint32_t roundKeys[60];
    uint32_t rounds;
} CMAesContext;

#define CM_CRYPT_TABLE VX_EXTERN_C __attribute__((visibility("default"))) const
CM_CRYPT_TABLE uint32_t Te0[256], Te1[256], Te2[256], Te3[256], Te4[256];
/* Decryption tables: exported for hosts, used by nothing here. */
CM_CRYPT_TABLE uint32_t Td0[256], Td1[256], Td2[256], Td3[256], Td4[256];
CM_CRYPT_TABLE uint32_t rcon[10];

/* Expands a 128-, 192- or 256-bit key; returns the round count or -1. */
VX_API int rijndaelKeySetupEnc(uint32_t *roundKeys, const uint8_t *key, int keyBits);
/* keyLength in bytes. A null context takes one from the buffer manager.
 * Returns the context, or null (bad length, no buffer). */
VX_API CMAesContext *aesEncryptInit(const uint8_t *key, uint32_t keyLength, CMAesContext *context);
/* One 16-byte block; in and out may be the same buffer. */
VX_API void aesEncrypt(const CMAesContext *context, const uint8_t *in, uint8_t *out);
/* Gives a context taken by aesEncryptInit back unless the caller provided it. */
VX_API void aesEncrypt_deinit(CMAesContext *context, int callerProvided);

/* AES-128 with a 44-word schedule (CCM and CMAC). */
VX_API void AES_128_ExpandKey(uint32_t *roundKeys, const uint8_t *key);
VX_API void AES_Encryption(const uint8_t *in, const uint32_t *roundKeys, uint8_t *out);

/* DES with the 56 key bits given as 7 bytes. */
VX_API void desEncryptBlock(uint8_t *out, const uint8_t *in, const uint8_t *key);
/* out = DES(key[7..13], DES(key[0..6], in)). */
VX_API void cmDES112(uint8_t *out, const uint8_t *in, const uint8_t *key);

/* RC4 state; the owner zeroes i and j before first use. */
typedef struct CMArcfourState {
    uint8_t s[256];
    uint8_t i;
    uint8_t j;
} CMArcfourState;

/* Key scheduling into s; a key length of 0 leaves the state untouched. */
VX_API void cmArcfourPrepareState(const uint8_t *key, uint32_t keyLength, CMArcfourState *state);
VX_API void cmArcfourCryptWithState(uint8_t *data, uint32_t length, CMArcfourState *state);
VX_API void cmArcfourCrypt(uint8_t *data, uint32_t length, const uint8_t *key, uint32_t keyLength);

#endif
