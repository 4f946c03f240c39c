// OpenSSL as the independent reference for the AES modes.
#ifndef CIFS_CRYPTO_OPENSSL_ORACLE_H
#define CIFS_CRYPTO_OPENSSL_ORACLE_H

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "test_util.h"

namespace cryptotest {

struct Sealed {
    Bytes cipher;
    Bytes tag;
};

inline const EVP_CIPHER *gcmCipher(size_t keyLength)
{
    return keyLength == 16 ? EVP_aes_128_gcm() : keyLength == 24 ? EVP_aes_192_gcm() : EVP_aes_256_gcm();
}

// OpenSSL wants non-null pointers even for empty inputs.
inline const uint8_t *ptr(const Bytes &b)
{
    static const uint8_t empty[1] = {0};
    return b.empty() ? empty : b.data();
}

// ccm: 11-byte nonce, 16-byte tag; gcm: 12-byte nonce, 16-byte tag.
inline Sealed opensslSeal(bool gcm, const Bytes &key, const Bytes &nonce, const Bytes &aad,
                          const Bytes &plain)
{
    Sealed s{Bytes(plain.size() + 16), Bytes(16)};
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    int len = 0, total = 0;
    EVP_EncryptInit_ex(c, gcm ? gcmCipher(key.size()) : EVP_aes_128_ccm(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_ctrl(c, gcm ? EVP_CTRL_GCM_SET_IVLEN : EVP_CTRL_CCM_SET_IVLEN, int(nonce.size()), nullptr);
    if (!gcm)
        EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_CCM_SET_TAG, 16, nullptr);
    EVP_EncryptInit_ex(c, nullptr, nullptr, key.data(), nonce.data());
    if (!gcm)
        EVP_EncryptUpdate(c, nullptr, &len, nullptr, int(plain.size()));  // CCM needs the length first
    if (!aad.empty())
        EVP_EncryptUpdate(c, nullptr, &len, aad.data(), int(aad.size()));
    EVP_EncryptUpdate(c, s.cipher.data(), &len, ptr(plain), int(plain.size()));
    total = len;
    EVP_EncryptFinal_ex(c, s.cipher.data() + total, &len);
    total += len;
    s.cipher.resize(size_t(total));
    EVP_CIPHER_CTX_ctrl(c, gcm ? EVP_CTRL_GCM_GET_TAG : EVP_CTRL_CCM_GET_TAG, 16, s.tag.data());
    EVP_CIPHER_CTX_free(c);
    return s;
}

inline Bytes opensslCmac(const Bytes &key, const Bytes &data)
{
    EVP_MAC *mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
    EVP_MAC_CTX *c = EVP_MAC_CTX_new(mac);
    char cipher[] = "AES-128-CBC";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
                           OSSL_PARAM_construct_end()};
    EVP_MAC_init(c, key.data(), key.size(), params);
    EVP_MAC_update(c, ptr(data), data.size());
    Bytes out(16);
    size_t len = 0;
    EVP_MAC_final(c, out.data(), &len, out.size());
    EVP_MAC_CTX_free(c);
    EVP_MAC_free(mac);
    return out;
}

}  // namespace cryptotest

#endif
