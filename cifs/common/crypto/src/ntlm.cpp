// LM, NT and NTLMv2 hashes and responses, and the keys NTLM session security,
// SAMR and Netlogon derive from them. Digests go through the crypter table.
#include <memory>
#include <new>

#include "cmcryptntlm.h"
#include "cmstring.h"
#include "crypt_internal.h"

namespace {

size_t wideLength(const CMWchar *s)
{
    size_t n = 0;
    if (s)
        while (s[n])
            ++n;
    return n;
}

// Appends the characters as UTF-16LE bytes, upper-cased when asked.
uint8_t *putWide(uint8_t *out, const CMWchar *s, size_t n, bool upper)
{
    for (size_t i = 0; i < n; ++i) {
        CMWchar c = s[i];
        if (upper)
            cmWToupper(&c, s[i]);
        *out++ = uint8_t(c);
        *out++ = uint8_t(c >> 8);
    }
    return out;
}

void hmacMd5(const uint8_t *key, uint32_t keyLength, const CMBlob *fragments, uint32_t count, uint8_t *out)
{
    CMBlob k = {const_cast<uint8_t *>(key), keyLength};
    cmGetCrypters()->hmacMd5(&k, nullptr, fragments, count, out, 16);
}

void md5(const CMBlob *fragments, uint32_t count, uint8_t *out)
{
    cmGetCrypters()->md5(nullptr, nullptr, fragments, count, out, 16);
}

CMBlob blob(const void *p, uint32_t n) { return CMBlob{static_cast<uint8_t *>(const_cast<void *>(p)), n}; }

}  // namespace

extern "C" void cmHashPassword(const char *password, uint8_t *hash)
{
    static const uint8_t kMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
    uint8_t key[15] = {};
    for (size_t i = 0; password && i < 14 && password[i]; ++i) {
        uint8_t c = uint8_t(password[i]);
        key[i] = (c >= 'a' && c <= 'z') ? uint8_t(c - 0x20) : c;  // toupper of the "C" locale
    }
    desEncryptBlock(hash, kMagic, key);
    desEncryptBlock(hash + 8, kMagic, key + 7);
    cmcrypt::wipe(key, sizeof key);
}

extern "C" void cmEncryptHashedPassword(const uint8_t *hash, const uint8_t *challenge, uint8_t *response)
{
    uint8_t keys[21] = {};
    std::memcpy(keys, hash, 16);
    for (int i = 0; i < 3; ++i)
        desEncryptBlock(response + 8 * i, challenge, keys + 7 * i);
    cmcrypt::wipe(keys, sizeof keys);
}

extern "C" void cmEncryptLMPassword(const uint8_t *challenge, const uint8_t *hash, uint8_t *response,
                                    uint16_t *responseLength)
{
    cmEncryptHashedPassword(hash, challenge, response);
    *responseLength = CM_NTLM_RESPONSE_SIZE;
}

extern "C" void cmEncryptNTLMPassword(const uint8_t *challenge, const uint8_t *hash, uint8_t *response,
                                      uint16_t *responseLength)
{
    cmEncryptHashedPassword(hash, challenge, response);
    *responseLength = CM_NTLM_RESPONSE_SIZE;
}

extern "C" void cmEncryptPlainTextPassword(const char *password, const uint8_t *challenge, uint8_t *response)
{
    uint8_t hash[16];
    cmHashPassword(password, hash);
    cmEncryptHashedPassword(hash, challenge, response);
    cmcrypt::wipe(hash, sizeof hash);
}

extern "C" int cmCreateV2Hash(const CMWchar *domain, int upperUserOnly, const CMWchar *user,
                              const uint8_t *hash, uint32_t hashLength, uint8_t *v2hash)
{
    // Names of any length: a stack buffer for the usual case, the heap beyond it.
    size_t userLength = wideLength(user), domainLength = wideLength(domain);
    size_t bytes = 2 * (userLength + domainLength);
    uint8_t local[1030 * 2];
    std::unique_ptr<uint8_t[]> heap;
    uint8_t *text = local;
    if (bytes > sizeof local || bytes > 0xffffffffu) {
        heap.reset(bytes <= 0xffffffffu ? new (std::nothrow) uint8_t[bytes] : nullptr);
        if (!heap) {
            std::memset(v2hash, 0, 16);
            return -1;
        }
        text = heap.get();
    }
    uint8_t *end = putWide(text, user, userLength, true);
    putWide(end, domain, domainLength, !upperUserOnly);
    CMBlob fragment = blob(text, uint32_t(bytes));
    hmacMd5(hash, hashLength, &fragment, 1, v2hash);
    cmcrypt::wipe(text, bytes);
    return 0;
}

extern "C" void cmEncryptNTLMv2Password(const uint8_t *serverChallenge, const uint8_t *v2hash,
                                        const uint8_t *clientBlob, uint32_t clientBlobLength, uint8_t *proof,
                                        uint16_t *proofLength)
{
    CMBlob data[2] = {blob(serverChallenge, 8), blob(clientBlob, clientBlobLength)};
    hmacMd5(v2hash, 16, data, 2, proof);
    if (proofLength)
        *proofLength = 16;
}

extern "C" void cmGenerateExtSecuritySessionKey(const uint8_t *key, const uint8_t *data, uint8_t *sessionKey)
{
    // The output may overlay the key: compute aside first.
    uint8_t out[16];
    CMBlob fragment = blob(data, 16);
    hmacMd5(key, 16, &fragment, 1, out);
    std::memcpy(sessionKey, out, 16);
    cmcrypt::wipe(out, sizeof out);
}

extern "C" void cmCalculateNtlmSigningKey(const uint8_t *sessionKey, uint8_t *out, int which)
{
    // The magic texts travel with their terminating zero.
    static const char kClientSign[] = "session key to client-to-server signing key magic constant";
    static const char kServerSign[] = "session key to server-to-client signing key magic constant";
    static const char kClientSeal[] = "session key to client-to-server sealing key magic constant";
    static const char kServerSeal[] = "session key to server-to-client sealing key magic constant";
    const char *magic;
    switch (which) {
    case CM_NTLM_CLIENT_SIGNING:
        magic = kClientSign;
        break;
    case CM_NTLM_SERVER_SIGNING:
        magic = kServerSign;
        break;
    case CM_NTLM_CLIENT_SEALING:
        magic = kClientSeal;
        break;
    case CM_NTLM_SERVER_SEALING:
        magic = kServerSeal;
        break;
    default:
        return;
    }
    static_assert(sizeof kClientSign == 59, "magic constants are 59 bytes with the zero");
    uint8_t key[16];
    CMBlob data[2] = {blob(sessionKey, 16), blob(magic, sizeof kClientSign)};
    md5(data, 2, key);
    if (which == CM_NTLM_CLIENT_SIGNING || which == CM_NTLM_SERVER_SIGNING)
        std::memcpy(out, key, 16);
    else
        cmArcfourPrepareState(key, 16, reinterpret_cast<CMArcfourState *>(out));
    cmcrypt::wipe(key, sizeof key);
}

extern "C" void cmCalculateDcerpcSignature(const uint8_t *message, uint32_t messageLength,
                                           const uint8_t *signingKey, CMArcfourState *sealingState,
                                           uint32_t sequenceNumber, uint8_t *checksum)
{
    uint8_t seq[4];
    cmcrypt::store32le(seq, sequenceNumber);
    CMBlob data[2] = {blob(seq, 4), blob(message, messageLength)};
    hmacMd5(signingKey, 16, data, 2, checksum);
    cmArcfourCryptWithState(checksum, 8, sealingState);
}

extern "C" void cmDecryptPassword(const uint8_t *key, uint8_t *buffer, int salted)
{
    uint8_t rc4Key[16];
    if (salted) {
        CMBlob data[2] = {blob(buffer + CM_SAMR_PASSWORD_SIZE, 16), blob(key, 16)};
        md5(data, 2, rc4Key);
    } else {
        std::memcpy(rc4Key, key, 16);
    }
    cmArcfourCrypt(buffer, CM_SAMR_PASSWORD_SIZE, rc4Key, 16);
    cmcrypt::wipe(rc4Key, sizeof rc4Key);
}

extern "C" void cmGenerateNetlogonCredentials(const uint8_t *clientChallenge, const uint8_t *serverChallenge,
                                              const uint8_t *sharedSecret, uint8_t *clientCredential,
                                              uint8_t *serverCredential, uint8_t *sessionKey)
{
    static const uint8_t kZeros[4] = {};
    uint8_t digest[16];
    CMBlob data[3] = {blob(kZeros, 4), blob(clientChallenge, 8), blob(serverChallenge, 8)};
    md5(data, 3, digest);
    CMBlob fragment = blob(digest, 16);
    hmacMd5(sharedSecret, 16, &fragment, 1, sessionKey);
    cmDES112(clientCredential, clientChallenge, sessionKey);
    cmDES112(serverCredential, serverChallenge, sessionKey);
    cmcrypt::wipe(digest, sizeof digest);
}
