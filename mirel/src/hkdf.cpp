// HKDF-SHA256 (RFC 5869) through OpenSSL's key-derivation interface.
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <memory>

#include "mirel_crypto.h"

namespace {

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};

}  // namespace

extern "C" int Hkdf(const uint8_t *secret, size_t secret_length, uint8_t *out)
{
    if (!secret || !out || secret_length == 0 || secret_length > INT32_MAX)
        return -1;
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr));
    if (!ctx)
        return -1;
    // Empty salt and no info: only the key and the digest are set.
    size_t len = HKDF_OUT_SIZE;
    if (EVP_PKEY_derive_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_hkdf_md(ctx.get(), EVP_sha256()) <= 0 ||
        EVP_PKEY_CTX_set1_hkdf_key(ctx.get(), secret, static_cast<int>(secret_length)) <= 0 ||
        EVP_PKEY_derive(ctx.get(), out, &len) <= 0 || len != HKDF_OUT_SIZE)
        return -1;
    return 0;
}
