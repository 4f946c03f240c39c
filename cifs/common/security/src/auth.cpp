// The logon decision of SMB1 and SMB2 session setup: credentials from the
// 13-word request or from the SPNEGO/NTLMSSP exchange, checked against the
// account's password hashes; fills the user record and its token.
#include "csauth.h"

#include "cmcrypt.h"
#include "cmcryptcipher.h"
#include "cmcryptntlm.h"
#include "cmresolver.h"
#include "cmsd.h"
#include "cmstring.h"
#include "csdispatch.h"
#include "syerror.h"
#include "udhooks.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// NT status and DOS error pairs of the logon.
constexpr uint32_t kAccessDenied = 0xC0000022, kAccessDeniedDos = 0x50001;
constexpr uint32_t kNoMemory = 0xC0000017, kNoMemoryDos = 0x80001;
constexpr uint32_t kInvalidParameter = 0xC000000D, kInvalidParameterDos = 0xB0001;
constexpr uint32_t kMoreProcessing = 0xC0000016, kMoreProcessingDos = 0xFF04D2;
constexpr uint32_t kNoResources = 0xC000009A, kNoResourcesDos = 0x80001;
constexpr uint32_t kUnsuccessful = 0xC0000001, kUnsuccessfulDos = 0x10002;
constexpr uint32_t kLogonFailure = 0xC000006D, kLogonFailureDos = 0x50001;

constexpr uint32_t kMaxResponses = 1953;
constexpr uint32_t kGuestRid = CM_SD_RID_GUESTS;

struct AuthContext {
    char pdcName[CS_AUTH_CONTEXT_SIZE];
};

AuthContext *gContext;
int gPermissive;
uint32_t gMask = CS_AUTH_ALL;
// The v2 hash of the logon under way (one logon is decided at a time).
uint8_t gV2Hash[16];

uint16_t u16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }

const CMWchar kAnonymousLogon[] = {'A', 'N', 'O', 'N', 'Y', 'M', 'O', 'U',
                                   'S', ' ', 'L', 'O', 'G', 'O', 'N', 0};
const CMWchar kAnonymous[] = {'a', 'n', 'o', 'n', 'y', 'm', 'o', 'u', 's', 0};
const CMWchar kEmpty[] = {0};

// The credentials of one round, whichever way they came.
struct Logon {
    CMWchar account[CS_AUTH_NAME_UNITS] = {};
    CMWchar domain[CS_AUTH_NAME_UNITS] = {};
    AMNtlmsspResult exchange{};
    const uint8_t *encryptedKey = nullptr;
    uint32_t result = 0;
    uint32_t wordCount = 0;
    bool smb1 = false;
    bool blob = false;  // NTLMSSP, raw or in SPNEGO
};

// Reads a zero-terminated name of the 13-word request inside [p, end).
// Returns the position after it, or null when it is longer than the work buffer.
const uint8_t *readName(const uint8_t *p, const uint8_t *end, bool unicode, CMWchar *out)
{
    uint32_t n = 0;
    if (unicode) {
        if ((reinterpret_cast<uintptr_t>(p) & 1) && p < end)
            ++p;
        while (p + 2 <= end) {
            CMWchar c = u16(p);
            p += 2;
            if (c == 0)
                break;
            if (n + 1 >= CS_AUTH_NAME_UNITS)
                return nullptr;
            out[n++] = c;
        }
    } else {
        while (p < end) {
            uint8_t c = *p++;
            if (c == 0)
                break;
            if (n + 1 >= CS_AUTH_NAME_UNITS)
                return nullptr;
            out[n++] = c;
        }
    }
    out[n] = 0;
    return p < end ? p : end;
}

// The 13-word SESSION_SETUP_ANDX: two password fields, account and domain.
bool readPlainRequest(const uint8_t *request, uint32_t length, bool unicode, Logon &logon,
                      const uint8_t **end)
{
    constexpr uint32_t kBytes = 29;
    if (length < kBytes)
        return false;
    uint32_t lm = u16(request + 15), nt = u16(request + 17), byteCount = u16(request + 27);
    uint32_t available = length - kBytes < byteCount ? length - kBytes : byteCount;
    if (lm + nt > available)
        return false;
    const uint8_t *p = request + kBytes, *limit = request + kBytes + available;
    logon.exchange.lmResponse = p;
    logon.exchange.lmLength = uint16_t(lm);
    logon.exchange.ntResponse = p + lm;
    logon.exchange.ntLength = uint16_t(nt);
    p += lm + nt;
    p = readName(p, limit, unicode, logon.account);
    if (!p)
        return false;
    p = readName(p, limit, unicode, logon.domain);
    if (!p)
        return false;
    if (end)
        *end = p;
    logon.result = AM_SPNEGO_DONE;
    return true;
}

uint32_t runBlob(const uint8_t *blob, uint32_t blobLength, CSSession *session, uint8_t *answer,
                 uint32_t *answerLength, Logon &logon)
{
    CMBlob in{const_cast<uint8_t *>(blob), blobLength};
    CMBlob out{answer, *answerLength};
    CMWchar *domain = nullptr;
    logon.blob = true;
    uint32_t result = amSpnegoServerAcceptBlobW(&session->mechanism, &in, &out, logon.account, &domain,
                                                &logon.encryptedKey, &logon.exchange);
    *answerLength = out.len;
    if (domain) {
        uint32_t n = 0;
        while (domain[n] && n + 1 < CS_AUTH_NAME_UNITS) {
            logon.domain[n] = domain[n];
            ++n;
        }
        logon.domain[n] = 0;
        cmMemoryFreeNonDebug(domain);
    }
    return result;
}

// An earlier logon of this connection with the same name and credentials.
CSUser *earlierLogon(const CMWchar *name, const uint8_t *credentials, uint32_t length, const CSUser *self)
{
    for (uint32_t i = 0; CSUser *u = csGetUserByIndex(i); ++i) {
        if (u == self || !u->authenticated || cmWStrcmp(u->name, name) != 0 || !csGetUserByUid(u->uid))
            continue;
        if (length == 0 || std::memcmp(u->credentials, credentials, length) == 0)
            return u;
    }
    return nullptr;
}

void setName(CSUser *user, const CMWchar *name)
{
    uint32_t n = 0;
    for (; name[n] && n + 1 < CS_USER_NAME_UNITS; ++n)
        user->name[n] = name[n];
    user->name[n] = 0;
}

uint32_t release(CSUser **slot, int flag, uint32_t nt, uint32_t dos)
{
    if (*slot)
        csReleaseUser((*slot)->uid, flag);
    *slot = nullptr;
    return csErrorReturn(nt, dos);
}

uint32_t logonFailure(CSUser **slot) { return release(slot, 1, kLogonFailure, kLogonFailureDos); }

void takeEncryptedKey(CSUser *user, const Logon &logon)
{
    if (!logon.encryptedKey || !(logon.exchange.flags & AM_NTLMSSP_KEY_EXCHANGE))
        return;
    uint8_t key[16];
    std::memcpy(key, logon.encryptedKey, 16);
    cmArcfourCrypt(key, 16, user->sessionKey, 16);
    std::memcpy(user->sessionKey, key, 16);
}

void setToken(CSUser *user, uint32_t count, std::initializer_list<uint32_t> rids)
{
    user->token.domain = *cmSdGetComputerSid();
    user->token.ridCount = count;
    uint32_t i = 0;
    for (uint32_t r : rids)
        user->token.rids[i++] = r;
}

uint32_t anonymousLogon(CSUser **slot, Logon &logon)
{
    CSUser *user = *slot;
    if (CSUser *found = earlierLogon(kAnonymousLogon, nullptr, 0, user)) {
        csReleaseUser(user->uid, 1);
        *slot = found;
        return 0;
    }
    setName(user, kAnonymous);
    setToken(user, 1, {kGuestRid});
    user->rid = kGuestRid;
    user->anonymous = 1;
    user->printerOwner = 1;
    std::memset(user->sessionKey, 0, sizeof user->sessionKey);
    takeEncryptedKey(user, logon);
    csActivateSmb1Signing(user, &logon.exchange);
    return 0;
}

// The three forms of the NTLMv2 hash, tried in order.
template <typename Check> bool tryV2Hashes(const Logon &logon, const uint8_t *ntHash, Check check)
{
    const struct {
        const CMWchar *domain;
        int upperUserOnly;
    } forms[] = {{logon.domain, 1}, {logon.domain, 0}, {kEmpty, 1}};
    for (const auto &f : forms) {
        if (cmCreateV2Hash(f.domain, f.upperUserOnly, logon.account, ntHash, 16, gV2Hash) != 0)
            continue;
        if (check())
            return true;
    }
    return false;
}

}  // namespace

extern "C" {

uint32_t getCurrentSessionKey(uint8_t **challenge, uint8_t **nonceArea)
{
    CSSession *session = csGetSessionBySocket();
    if (!session)
        return 11;
    *challenge = session->challenge;
    *nonceArea = session->nonceArea;
    return 8;
}

int csAuthInit(void)
{
    if (!gContext) {
        gContext = static_cast<AuthContext *>(std::calloc(1, sizeof(AuthContext)));
        if (!gContext)
            return -1;
    }
    amSpnegoServerSetSessionKeyCallback(getCurrentSessionKey);
    return 1;
}

void csAuthShutdown(void)
{
    std::free(gContext);
    gContext = nullptr;
}

const char *csAuthGetPDCName(void)
{
    if (!gContext)
        return nullptr;
    if (!gContext->pdcName[0] && cmGetDCName(gContext->pdcName, nullptr) != 0) {
        gContext->pdcName[0] = 0;
        return nullptr;
    }
    return gContext->pdcName;
}

int csAuthIsPermissive(void) { return gPermissive; }
void csAuthSetPermissive(int flag) { gPermissive = flag; }

int csChangeEncryptionLevel(uint16_t mask)
{
    gMask = mask;
    return 1;
}

int csAuthShareIsAccessible(const CSUser *user, uint32_t shareRestricted)
{
    if (gPermissive || shareRestricted == 0)
        return 1;
    return user && user->printerOwner ? 1 : 0;
}

int csFillUserToken(CSUser *user)
{
    if (user->anonymous) {
        user->token.ridCount = 1;
        user->token.rids[0] = kGuestRid;
    } else if (user->token.ridCount == 0) {
        return 0;
    }
    user->token.domain = *cmSdGetComputerSid();
    return 1;
}

int csAuthCheckNtlmv2Response(const uint8_t *challenge, const uint8_t *response, uint32_t length,
                              CSUser *user)
{
    // The proof covers the client blob after the first 16 bytes: there must be one.
    if (length <= 24)
        return 0;
    uint8_t proof[16];
    uint16_t proofLength;
    cmEncryptNTLMv2Password(challenge, gV2Hash, response + 16, length - 16, proof, &proofLength);
    if (!cmCryptEqual(proof, response, 16))
        return 0;
    cmGenerateExtSecuritySessionKey(gV2Hash, proof, user->sessionKey);
    return 1;
}

int csAuthCheckLmv2Response(const uint8_t *challenge, const uint8_t *response, CSUser *user)
{
    uint8_t proof[16];
    uint16_t proofLength;
    cmEncryptNTLMv2Password(challenge, gV2Hash, response + 16, 8, proof, &proofLength);
    if (!cmCryptEqual(proof, response, 16))
        return 0;
    cmGenerateExtSecuritySessionKey(gV2Hash, proof, user->sessionKey);
    return 1;
}

void csActivateSmb1Signing(CSUser *user, const AMNtlmsspResult *exchange)
{
    CSSession *session = user->session;
    if (!session || session->id == CS_FREE_ID || !session->signingActive ||
        session->dialect != CS_DIALECT_SMB1)
        return;
    auto start = [&] {
        if (!session->waitingForFirstKey)
            return;
        std::memcpy(session->signingKey, user->sessionKey, 16);
        session->waitingForFirstKey = 0;
        // The setup request was number 0, its response 1.
        session->responseSequence = 1;
        session->expectedSequence = 2;
    };
    if (user->extendedSecurity) {
        start();
        return;
    }
    const uint8_t *response = nullptr;
    uint32_t length = 0;
    if (exchange->lmv2Accepted) {
        response = exchange->lmResponse;
        length = exchange->lmLength;
    } else if (exchange->ntAccepted) {
        response = exchange->ntResponse;
        length = exchange->ntLength;
    }
    start();
    if (!response || !length)
        return;
    if (user->macResponse.data)
        cmMemoryFreeNonDebug(user->macResponse.data);
    user->macResponse.data = static_cast<uint8_t *>(cmMemoryAllocNonDebug(length));
    user->macResponse.len = user->macResponse.data ? length : 0;
    if (user->macResponse.data)
        std::memcpy(user->macResponse.data, response, length);
}

uint32_t csAuthenticateUser(const uint8_t *request, uint32_t requestLength, CSSession *session,
                            uint8_t *answer, uint32_t *answerLength, int unicode, CSUser **slot,
                            const uint8_t **end)
{
    if (csIsServerEncrypted() && session->dialect < CS_DIALECT_SMB30)
        return csErrorReturn(kAccessDenied, kAccessDeniedDos);
    Logon logon;
    logon.smb1 = session->dialect == CS_DIALECT_SMB1;
    uint32_t room = *answerLength;
    *answerLength = 0;
    if (logon.smb1) {
        logon.wordCount = requestLength ? request[0] : 0;
        if (logon.wordCount == 13) {
            // Lengths and names are bounded by the request: longer is refused.
            if (!readPlainRequest(request, requestLength, unicode != 0, logon, end))
                return csErrorReturn(kInvalidParameter, kInvalidParameterDos);
        } else if (logon.wordCount == 12 && requestLength >= 27) {
            uint32_t blobLength = u16(request + 15);
            if (blobLength > requestLength - 27)
                return csErrorReturn(kInvalidParameter, kInvalidParameterDos);
            *answerLength = room;
            logon.result = runBlob(request + 27, blobLength, session, answer, answerLength, logon);
            if (end) {
                const uint8_t *after = request + 27 + blobLength;
                *end = after + (reinterpret_cast<uintptr_t>(after) & 1);
            }
        } else {
            return csErrorReturn(kInvalidParameter, kInvalidParameterDos);
        }
    } else {
        uint32_t blobLength = u16(request - 10);
        if (blobLength > requestLength)
            return csErrorReturn(kInvalidParameter, kInvalidParameterDos);
        *answerLength = room;
        logon.result = runBlob(request, blobLength, session, answer, answerLength, logon);
    }
    AMNtlmsspResult &x = logon.exchange;

    if (!*slot) {
        *slot = csGetNewUser(session);
        if (!*slot) {
            logError("User table overflow");
            return csErrorReturn(kNoMemory, kNoMemoryDos);
        }
    }
    CSUser *user = *slot;
    if (uint32_t(x.lmLength) + x.ntLength >= kMaxResponses)
        return release(slot, 0, kInvalidParameter, kInvalidParameterDos);
    switch (logon.result) {
    case 1:
        return 0;
    case AM_SPNEGO_CONTINUE:
        return csErrorReturn(kMoreProcessing, kMoreProcessingDos);
    case AM_SPNEGO_DONE:
        break;
    case AM_SPNEGO_REFUSED:
        return release(slot, 0, kInvalidParameter, kInvalidParameterDos);
    case AM_SPNEGO_NOMEM:
        return release(slot, 0, kNoResources, kNoResourcesDos);
    default:
        return release(slot, 0, kUnsuccessful, kUnsuccessfulDos);
    }

    if (logon.account[0] == 0) {
        if (!gPermissive)
            return logonFailure(slot);
        return anonymousLogon(slot, logon);
    }
    if (x.lmLength < 2) {
        if (gPermissive)
            return anonymousLogon(slot, logon);
        uint8_t firstByte = x.lmLength ? x.lmResponse[0] : 0;
        if (x.ntLength < 2 &&
            (session->dialect >= CS_DIALECT_SMB202 || logon.wordCount == 12 || firstByte == 0))
            return logonFailure(slot);
    }

    // The credentials copy finds a repeated SMB1 logon.
    uint8_t credentials[CS_CREDENTIALS_SIZE];
    uint32_t credentialsLength = 0;
    for (uint32_t i = 0; i < x.lmLength && credentialsLength < CS_CREDENTIALS_SIZE; ++i)
        credentials[credentialsLength++] = x.lmResponse[i];
    for (uint32_t i = 0; i < x.ntLength && credentialsLength < CS_CREDENTIALS_SIZE; ++i)
        credentials[credentialsLength++] = x.ntResponse[i];
    if (logon.smb1) {
        if (CSUser *found = earlierLogon(logon.account, credentials, credentialsLength, user)) {
            csReleaseUser(user->uid, 1);
            *slot = found;
            return 0;
        }
    }
    setName(user, logon.account);
    std::memcpy(user->credentials, credentials, credentialsLength);
    user->credentialsLength = credentialsLength;
    if (logon.encryptedKey)
        std::memcpy(user->sessionKey, logon.encryptedKey, 16);

    user->token.ridCount = 0;
    user->extendedSecurity = logon.smb1 && logon.wordCount == 12;
    int printerOwner = 0;
    if (udGetPrinterOwnerFlag(logon.account, &printerOwner))
        user->printerOwner = uint32_t(printerOwner);
    uint8_t secret[UD_PASSWORD_OUT_SIZE] = {};
    int hashed = 0;
    int32_t rid = 0;
    int found = udGetPassword(logon.account, secret, &hashed, &rid);
    uint8_t lmHash[16], ntHash[16];
    if (found == 1 || found == 2) {
        if (!gPermissive) {
            user->rid = 0xFFFF;
            return logonFailure(slot);
        }
        user->guest = 1;
        user->printerOwner = 1;
        user->rid = kGuestRid;
        setToken(user, 1, {kGuestRid});
        return 0;
    }
    if (found != 4)
        return logonFailure(slot);
    if (hashed) {
        std::memcpy(lmHash, secret, 16);
        std::memcpy(ntHash, secret + 16, 16);
    } else {
        cmHashPassword(reinterpret_cast<const char *>(secret), lmHash);
        uint8_t wide[2 * UD_PASSWORD_OUT_SIZE];
        uint32_t n = 0;
        for (; n < UD_PASSWORD_OUT_SIZE && secret[n]; ++n) {
            wide[2 * n] = secret[n];
            wide[2 * n + 1] = 0;
        }
        cmMD4(ntHash, wide, 2 * n);
        std::memset(wide, 0, sizeof wide);
    }
    std::memset(secret, 0, sizeof secret);
    user->rid = uint32_t(rid);

    const uint8_t *challenge = session->challenge;
    if (x.ntLength) {
        if ((gMask & CS_AUTH_NTLM) && x.ntLength == CM_NTLM_RESPONSE_SIZE) {
            uint8_t expected[CM_NTLM_RESPONSE_SIZE];
            uint16_t length;
            cmEncryptNTLMPassword(challenge, ntHash, expected, &length);
            if (cmCryptEqual(expected, x.ntResponse, CM_NTLM_RESPONSE_SIZE)) {
                cmMD4(user->sessionKey, ntHash, 16);
                CSSession *current = csGetSessionBySocket();
                if (!current)
                    return logonFailure(slot);
                // The NTLM2 session key only where the session nonce was made.
                if (logon.blob && (x.flags & AM_NTLMSSP_NTLM2_SESSION) && x.lmLength == 24)
                    cmGenerateExtSecuritySessionKey(user->sessionKey, current->nonceArea, user->sessionKey);
                x.ntAccepted = 1;
            }
        }
        if (!x.ntAccepted && (gMask & CS_AUTH_NTLMV2) && x.ntLength > CM_NTLM_RESPONSE_SIZE) {
            x.ntAccepted = tryV2Hashes(logon, ntHash, [&] {
                return csAuthCheckNtlmv2Response(challenge, x.ntResponse, x.ntLength, user) != 0;
            });
        }
    }
    if (!x.ntAccepted && x.lmLength == CM_NTLM_RESPONSE_SIZE && (gMask & CS_AUTH_LMV2)) {
        x.lmv2Accepted = tryV2Hashes(
            logon, ntHash, [&] { return csAuthCheckLmv2Response(challenge, x.lmResponse, user) != 0; });
    }
    std::memset(lmHash, 0, sizeof lmHash);
    std::memset(ntHash, 0, sizeof ntHash);
    std::memset(gV2Hash, 0, sizeof gV2Hash);
    if (!x.ntAccepted && !x.lmv2Accepted)
        return logonFailure(slot);

    takeEncryptedKey(user, logon);
    csActivateSmb1Signing(user, &x);
    if (int32_t(rid) < 0)
        setToken(user, 4,
                 {uint32_t(rid), CM_SD_RID_USERS, CM_SD_RID_DOMAIN_ADMINS, CM_SD_RID_ADMINISTRATORS});
    else
        setToken(user, 2, {uint32_t(rid), CM_SD_RID_USERS});
    user->encryptionRequired = csIsServerEncrypted();
    return 0;
}

}  // extern "C"
