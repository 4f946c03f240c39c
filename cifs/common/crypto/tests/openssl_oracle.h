// OpenSSL as the independent reference for the AES modes.
#ifndef CIFS_CRYPTO_OPENSSL_ORACLE_H
#define CIFS_CRYPTO_OPENSSL_ORACLE_H

#include <openssl/evp.h>

#include "test_util.h"

namespace cryptotest {

struct Sealed {
    Bytes cipher;
    Bytes tag;
};

inline const EVP_CIPHER *gcmCipher(size_t keyLength) {
    return keyLength == 16 ? EVP_aes_128_gcm() : keyLength == 24 ? EVP_aes_192_gcm() : EVP_aes_256_gcm();
}

// OpenSSL wants non-null pointers even for empty inputs.
inline const uint8_t *ptr(const Bytes &b) {
    static const uint8_t empty[1] = {0};
    return b.empty() ? empty : b.data();
}

// ccm: 11-byte nonce, 16-byte tag; gcm: 12-byte nonce, 16-byte tag.
inline Sealed opensslSeal(bool gcm, const Bytes &key, const Bytes &nonce, const Bytes &aad,
                          const Bytes &plain) {
    Sealed s{Bytes(plain.size() + 16), Bytes(16)};
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    int len = 0, total = 0;
    EVP_EncryptInit_ex(c, gcm ? gcmCipher(key.size()) : EVP_aes_128_ccm(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_ctrl(c, gcm ? EVP_CTRL_GCM_SET_IVLEN : EVP_CTRL_CCM_SET_IVLEN, int(nonce.size()), nullptr);
    if (!gcm)
        EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_CCM_SET_TAG, 16, nullptr);
    EVP_EncryptInit_ex(c, nullptr, nullptr, key.data(), nonce.data());
    if (!gcm)
        EVP_EncryptUpdate(c, nullptr, &len, nullptr, int(plain.size())); // CCM needs the length first
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

} // namespace cryptotest

#endif
