// NTLMSSP server: NEGOTIATE answered with a CHALLENGE, AUTHENTICATE taken
// apart for the logon decision. Every field of AUTHENTICATE must lie inside
// the message before a byte of it is read.
#include "amspnego.h"
#include "cmcrypt.h"
#include "cmnetbios.h"

#include <cstring>

namespace {

constexpr uint32_t kNegotiate = 1, kChallenge = 2, kAuthenticate = 3;
constexpr uint32_t kChallengeHeader = 48;
constexpr char kSignature[] = "NTLMSSP";

// AV pair types of the target information.
constexpr uint16_t kAvEol = 0, kAvComputer = 1, kAvDomain = 2, kAvDnsComputer = 3, kAvDnsDomain = 4;

struct Field {
    uint16_t length;
    uint32_t offset;
};

Field readField(CMBufferReader *r)
{
    Field f{};
    uint16_t maximum;
    cmBufferReadUint16(r, &f.length);
    cmBufferReadUint16(r, &maximum);
    cmBufferReadUint32(r, &f.offset);
    return f;
}

bool inside(const Field &f, uint32_t messageLength) { return uint64_t(f.offset) + f.length <= messageLength; }

// The text of a name record without its padding.
uint32_t nameLength(const char *name, uint32_t max)
{
    uint32_t n = 0;
    while (n < max && name[n])
        ++n;
    while (n && name[n - 1] == ' ')
        --n;
    return n;
}

void writeUtf16(CMBufferWriter *w, const char *text, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        cmBufferWriteUint16(w, uint8_t(text[i]));
}

// Key exchange is offered only to a client that asked for it: one that did
// not still answers an offer with a key of its own while leaving the flag out
// of AUTHENTICATE, and the two sides' session keys part.
uint32_t challengeFlags(uint32_t clientFlags)
{
    return AM_NTLMSSP_CHALLENGE_FLAGS & ~(clientFlags & AM_NTLMSSP_KEY_EXCHANGE ? 0 : AM_NTLMSSP_KEY_EXCHANGE);
}

uint32_t writeChallenge(CMBufferWriter *w, const uint8_t *challenge, uint32_t clientFlags)
{
    const CMNetBiosNameInfo *auth = cmNetBiosGetDomainAuth();
    const uint32_t domainLength = nameLength(auth->name, CM_NB_NAME_SIZE);
    const char *host = cmNetBiosGetHostNameZeroed();
    const uint32_t hostLength = nameLength(host, CM_NB_NAME_SIZE);
    const char *full = cmGetFullDomainName();
    const uint32_t fullLength = full ? uint32_t(std::strlen(full)) : 0;
    const uint32_t info = 4 * 5 + 2 * (domainLength + hostLength + fullLength + hostLength);
    cmBufferWriteBytes(w, kSignature, sizeof kSignature);
    cmBufferWriteUint32(w, kChallenge);
    // Target name
    cmBufferWriteUint16(w, uint16_t(2 * domainLength));
    cmBufferWriteUint16(w, uint16_t(2 * domainLength));
    cmBufferWriteUint32(w, kChallengeHeader);
    cmBufferWriteUint32(w, challengeFlags(clientFlags));
    cmBufferWriteBytes(w, challenge, 8);
    cmBufferWriteZeroes(w, 8);
    // Target information
    cmBufferWriteUint16(w, uint16_t(info));
    cmBufferWriteUint16(w, uint16_t(info));
    cmBufferWriteUint32(w, kChallengeHeader + 2 * domainLength);
    writeUtf16(w, auth->name, domainLength);
    char text[CM_NB_FULL_NAME_MAX + 1] = {};
    auto pair = [&](uint16_t type, const char *value, uint32_t n) {
        std::memcpy(text, value, n);
        text[n] = 0;
        ntlmsspPackAvPair(w, type, text);
    };
    pair(kAvDomain, auth->name, domainLength);
    pair(kAvComputer, host, hostLength);
    pair(kAvDnsDomain, full ? full : "", fullLength);
    pair(kAvDnsComputer, host, hostLength);
    ntlmsspPackAvPair(w, kAvEol, nullptr);
    return AM_SPNEGO_CONTINUE;
}

uint32_t readAuthenticate(CMBufferReader *r, const uint8_t *message, uint32_t messageLength,
                          AMNtlmsspResult *result, CMWchar *account, CMWchar **domain,
                          const uint8_t **encryptedKey)
{
    Field lm = readField(r), nt = readField(r), dom = readField(r), user = readField(r);
    readField(r);  // workstation
    Field key = readField(r);
    uint32_t flags = 0;
    cmBufferReadUint32(r, &flags);
    if (cmBufferReaderIsOverrun(r))
        return AM_SPNEGO_REFUSED;
    if (!inside(lm, messageLength) || lm.length >= AM_NTLMSSP_RESPONSE_MAX || !inside(nt, messageLength) ||
        nt.length >= AM_NTLMSSP_RESPONSE_MAX || !inside(dom, messageLength) ||
        dom.length >= AM_NTLMSSP_NAME_MAX || !inside(user, messageLength) ||
        user.length >= AM_NTLMSSP_NAME_MAX || !inside(key, messageLength) ||
        (key.length != 0 && key.length != AM_NTLMSSP_SESSION_KEY_SIZE))
        return AM_SPNEGO_REFUSED;
    result->lmResponse = message + lm.offset;
    result->lmLength = lm.length;
    result->ntResponse = message + nt.offset;
    result->ntLength = nt.length;
    result->flags = flags;
    // Room for an odd byte count and a whole terminating unit.
    uint32_t units = (dom.length + 1u) / 2 + 1;
    if (auto *copy = static_cast<CMWchar *>(cmMemoryAllocNonDebug(2 * units))) {
        std::memset(copy, 0, 2 * units);
        std::memcpy(copy, message + dom.offset, dom.length);
        *domain = copy;
    }
    std::memset(account, 0, 2 * AM_ACCOUNT_NAME_UNITS);
    std::memcpy(account, message + user.offset, user.length);
    if (key.length)
        *encryptedKey = message + key.offset;
    if (!(flags & AM_NTLMSSP_NTLM2_SESSION) || lm.length != 24 || nt.length != 24)
        return AM_SPNEGO_DONE;
    // NTLM2 session security: the session nonce replaces the challenge.
    uint8_t *challenge = nullptr, *nonce = nullptr;
    if (amSpnegoServerGetCurrentSessionKey(&challenge, &nonce) != 8 || !challenge || !nonce)
        return AM_SPNEGO_REFUSED;
    std::memmove(nonce, challenge, 8);
    std::memcpy(nonce + 8, result->lmResponse, 8);
    uint8_t digest[CM_MD5_SIZE];
    cmMD5(digest, nonce, 16);
    std::memcpy(challenge, digest, 8);
    return AM_SPNEGO_DONE;
}

const AMMechanismDescriptor kNtlmssp = {&cmGssApiOidNtlmSsp, nullptr, ntlmsspServerProcess, 0};

}  // namespace

extern "C" {

const AMMechanismDescriptor *amNtlmsspGetServerDescriptor(void) { return &kNtlmssp; }

uint32_t ntlmsspServerProcess(CMBufferReader *in, CMBufferWriter *out, AMNtlmsspResult *result,
                              CMWchar *account, CMWchar **domain, const uint8_t **encryptedKey)
{
    const uint8_t *message = cmBufferReaderGetPosition(in);
    const uint32_t messageLength = cmBufferReaderGetRemaining(in);
    uint8_t signature[8];
    uint32_t type = 0;
    cmBufferReadBytes(in, signature, 8);
    cmBufferReadUint32(in, &type);
    if (cmBufferReaderIsOverrun(in) || std::memcmp(signature, kSignature, 7) != 0)
        return AM_SPNEGO_REFUSED;
    if (type == kNegotiate) {
        uint32_t clientFlags;
        cmBufferReadUint32(in, &clientFlags);
        uint8_t *challenge = nullptr, *nonce = nullptr;
        // Without a session there is no challenge to send: never an unset one.
        if (cmBufferReaderIsOverrun(in) || amSpnegoServerGetCurrentSessionKey(&challenge, &nonce) != 8 ||
            !challenge)
            return AM_SPNEGO_REFUSED;
        return writeChallenge(out, challenge, clientFlags);
    }
    if (type == kAuthenticate)
        return readAuthenticate(in, message, messageLength, result, account, domain, encryptedKey);
    return AM_SPNEGO_REFUSED;
}

void ntlmsspPackAvPair(CMBufferWriter *writer, uint16_t type, const char *text)
{
    uint32_t n = text ? uint32_t(std::strlen(text)) : 0;
    cmBufferWriteUint16(writer, type);
    cmBufferWriteUint16(writer, uint16_t(2 * n));
    writeUtf16(writer, text ? text : "", n);
}

const uint8_t *amNtlmsspServerGetChallenge(const CMBlob *blob)
{
    if (!blob || !blob->data)
        return nullptr;
    CMBufferReader r;
    cmBufferReaderInit(&r, blob->data, blob->len);
    if (blob->len && blob->data[0] == 0xA1) {
        uint32_t n;
        if (cmAsn1ParseTag(&r, &n) != 0xA1 || cmAsn1ParseTag(&r, &n) != 0x30 ||
            cmAsn1ParseTag(&r, &n) != 0xA0 || cmAsn1ParseTag(&r, &n) != 0x0A || n != 1)
            return nullptr;
        cmBufferReaderSkip(&r, 1);
        if (cmAsn1ParseTag(&r, &n) != 0xA1 || !cmAsn1ParseCompareOid(&r, &cmGssApiOidNtlmSsp, 0) ||
            cmAsn1ParseTag(&r, &n) != 0xA2 || cmAsn1ParseTag(&r, &n) != 0x04 || cmBufferReaderIsOverrun(&r))
            return nullptr;
    }
    // The challenge lies 24 bytes into the message and must be whole.
    if (cmBufferReaderGetRemaining(&r) < 32)
        return nullptr;
    return cmBufferReaderGetPosition(&r) + 24;
}

}  // extern "C"
