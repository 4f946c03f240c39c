// AES-128-GCM pair of a security session: one context to seal, one to open.
#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "mirel_crypto.h"
#include "mirel_util.h"

struct Aead {
    uint8_t open_key[AEAD_KEY_SIZE];
    uint8_t seal_key[AEAD_KEY_SIZE];
    uint8_t open_iv[AEAD_IV_SIZE];
    uint8_t seal_iv[AEAD_IV_SIZE];
    EVP_CIPHER_CTX *open_ctx;
    EVP_CIPHER_CTX *seal_ctx;
};

namespace {

constexpr size_t kNonceSize = 12;

// IV of the direction, the message id low byte first, six zero bytes.
void make_nonce(uint8_t nonce[kNonceSize], const uint8_t iv[AEAD_IV_SIZE], uint16_t id)
{
    std::memset(nonce, 0, kNonceSize);
    std::memcpy(nonce, iv, AEAD_IV_SIZE);
    nonce[4] = static_cast<uint8_t>(id);
    nonce[5] = static_cast<uint8_t>(id >> 8);
}

bool fits_int(size_t n) { return n <= static_cast<size_t>(INT32_MAX); }

}  // namespace

extern "C" {

struct Aead *Aead(const uint8_t *open_key, size_t open_key_length, const uint8_t *seal_key,
                  size_t seal_key_length, const uint8_t *open_iv, size_t open_iv_length,
                  const uint8_t *seal_iv, size_t seal_iv_length)
{
    if (!open_key || !seal_key || !open_iv || !seal_iv || open_key_length != AEAD_KEY_SIZE ||
        seal_key_length != AEAD_KEY_SIZE || open_iv_length != AEAD_IV_SIZE ||
        seal_iv_length != AEAD_IV_SIZE) {
        errno = EINVAL;
        return nullptr;
    }
    auto *a = static_cast<struct Aead *>(Mem_calloc(1, sizeof(struct Aead)));
    if (!a)
        return nullptr;
    std::memcpy(a->open_key, open_key, AEAD_KEY_SIZE);
    std::memcpy(a->seal_key, seal_key, AEAD_KEY_SIZE);
    std::memcpy(a->open_iv, open_iv, AEAD_IV_SIZE);
    std::memcpy(a->seal_iv, seal_iv, AEAD_IV_SIZE);
    a->open_ctx = EVP_CIPHER_CTX_new();
    a->seal_ctx = EVP_CIPHER_CTX_new();
    if (!a->open_ctx || !a->seal_ctx ||
        EVP_DecryptInit_ex(a->open_ctx, EVP_aes_128_gcm(), nullptr, a->open_key, nullptr) != 1 ||
        EVP_EncryptInit_ex(a->seal_ctx, EVP_aes_128_gcm(), nullptr, a->seal_key, nullptr) != 1) {
        Aead_Free(a);
        errno = EBADE;
        return nullptr;
    }
    return a;
}

void Aead_Free(struct Aead *aead)
{
    if (!aead)
        return;
    EVP_CIPHER_CTX_free(aead->open_ctx);
    EVP_CIPHER_CTX_free(aead->seal_ctx);
    Mem_free(aead);
}

int Aead_Seal(struct Aead *aead, const uint8_t *plaintext, size_t length, uint16_t message_id,
              const uint8_t *aad, size_t aad_length, uint8_t *out, size_t *out_length)
{
    if (!aead || !plaintext || length == 0 || !out || !out_length || *out_length < length + AEAD_TAG_SIZE ||
        !fits_int(length) || !fits_int(aad_length) || (!aad && aad_length > 0))
        return -1;
    uint8_t nonce[kNonceSize];
    make_nonce(nonce, aead->seal_iv, message_id);
    if (EVP_EncryptInit_ex(aead->seal_ctx, nullptr, nullptr, nullptr, nonce) != 1)
        return -2;
    int n = 0;
    if (aad && aad_length > 0 &&
        EVP_EncryptUpdate(aead->seal_ctx, nullptr, &n, aad, static_cast<int>(aad_length)) != 1)
        return -3;
    int written = 0;
    if (EVP_EncryptUpdate(aead->seal_ctx, out, &written, plaintext, static_cast<int>(length)) != 1)
        return -4;
    int final_len = 0;
    if (EVP_EncryptFinal_ex(aead->seal_ctx, out + written, &final_len) != 1)
        return -5;
    size_t size = static_cast<size_t>(written) + static_cast<size_t>(final_len);
    if (EVP_CIPHER_CTX_ctrl(aead->seal_ctx, EVP_CTRL_GCM_GET_TAG, AEAD_TAG_SIZE, out + size) != 1)
        return -6;
    *out_length = size + AEAD_TAG_SIZE;
    return 0;
}

int Aead_Open(struct Aead *aead, const uint8_t *sealed, size_t sealed_length, uint16_t message_id,
              const uint8_t *aad, size_t aad_length, uint8_t *out, size_t *out_length)
{
    if (!aead || !sealed || sealed_length <= AEAD_TAG_SIZE || !out || !out_length ||
        *out_length < sealed_length - AEAD_TAG_SIZE || !fits_int(sealed_length) || !fits_int(aad_length) ||
        (!aad && aad_length > 0))
        return -1;
    size_t cipher_len = sealed_length - AEAD_TAG_SIZE;
    uint8_t tag[AEAD_TAG_SIZE];
    std::memcpy(tag, sealed + cipher_len, AEAD_TAG_SIZE);
    uint8_t nonce[kNonceSize];
    make_nonce(nonce, aead->open_iv, message_id);
    if (EVP_DecryptInit_ex(aead->open_ctx, nullptr, nullptr, nullptr, nonce) != 1)
        return -2;
    int n = 0;
    if (aad && aad_length > 0 &&
        EVP_DecryptUpdate(aead->open_ctx, nullptr, &n, aad, static_cast<int>(aad_length)) != 1)
        return -3;
    int written = 0;
    if (EVP_DecryptUpdate(aead->open_ctx, out, &written, sealed, static_cast<int>(cipher_len)) != 1)
        return -4;
    if (EVP_CIPHER_CTX_ctrl(aead->open_ctx, EVP_CTRL_GCM_SET_TAG, AEAD_TAG_SIZE, tag) != 1)
        return -6;
    int final_len = 0;
    if (EVP_DecryptFinal_ex(aead->open_ctx, out + written, &final_len) != 1)
        return -5;
    *out_length = static_cast<size_t>(written) + static_cast<size_t>(final_len);
    return 0;
}

}  // extern "C"
