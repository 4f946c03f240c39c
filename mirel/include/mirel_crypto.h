/* Mirel library: X25519, HKDF-SHA256 and the AES-128-GCM pair of a session. */
#ifndef MIREL_CRYPTO_H
#define MIREL_CRYPTO_H

#include <stddef.h>
#include <stdint.h>

#include "mirel_util.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MIREL_X25519_SIZE 32
#define AEAD_KEY_SIZE 16
#define AEAD_IV_SIZE 4
#define AEAD_TAG_SIZE 12
#define HKDF_OUT_SIZE 40

/* X25519 of RFC 7748: out = scalar * point. Returns 0; -1 with EINVAL for a
 * null argument or when the result is all zero (a low-order peer point). */
MIREL_API int curve25519_donna(uint8_t *out, const uint8_t *scalar, const uint8_t *point);

/* HKDF-SHA256 with empty salt and info: 40 bytes into out. 0 or -1. */
MIREL_API int Hkdf(const uint8_t *secret, size_t secret_length, uint8_t *out);

struct Aead;

MIREL_API struct Aead *Aead(const uint8_t *open_key, size_t open_key_length, const uint8_t *seal_key,
                            size_t seal_key_length, const uint8_t *open_iv, size_t open_iv_length,
                            const uint8_t *seal_iv, size_t seal_iv_length);
MIREL_API void Aead_Free(struct Aead *aead);

/* Both return 0, or -1 .. -6 for the failing step (no errno):
 * -1 arguments, -2 nonce, -3 additional data, -4 update, -5 final (tag
 * mismatch when opening), -6 tag. */
MIREL_API int Aead_Seal(struct Aead *aead, const uint8_t *plaintext, size_t length, uint16_t message_id,
                        const uint8_t *aad, size_t aad_length, uint8_t *out, size_t *out_length);
MIREL_API int Aead_Open(struct Aead *aead, const uint8_t *sealed, size_t sealed_length, uint16_t message_id,
                        const uint8_t *aad, size_t aad_length, uint8_t *out, size_t *out_length);

#ifdef __cplusplus
}
#endif

#endif
