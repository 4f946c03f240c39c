// Message signing of SMB1, SMB 2.x and SMB 3.x, and the decision of which
// messages are signed or checked, from the session and user records.
#include "cmcrypt.h"
#include "cmsign.h"
#include "cssign.h"

#include <cstring>

namespace {

constexpr uint32_t kSmb1Header = 32, kSmb2Header = 64;
const uint8_t kWaitingForKey[8] = {'B', 'S', 'R', 'S', 'P', 'Y', 'L', ' '};

uint16_t u16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t *p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }
void setU16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void setU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void signSmb1(CSSession *session, const CSUser *withResponse, uint8_t *message, uint32_t length,
              uint32_t sequence)
{
    const uint8_t *response = withResponse ? withResponse->macResponse.data : nullptr;
    uint32_t responseLength = response ? withResponse->macResponse.len : 0;
    cmSmbCalculateMessageSignature(session->signingKey, 16, sequence, message, length, nullptr, 0, response,
                                   responseLength, message + CM_SMB1_SIGNATURE_OFFSET);
}

using Calculate = void (*)(const uint8_t *, uint32_t, uint8_t *, uint32_t, const uint8_t *, uint32_t,
                           uint8_t *);

void clearSmb2Signature(uint8_t *message)
{
    std::memset(message + CM_SMB2_SIGNATURE_OFFSET, 0, CM_SMB2_SIGNATURE_SIZE);
    setU32(message + CM_SMB2_FLAGS_OFFSET, u32(message + CM_SMB2_FLAGS_OFFSET) & ~CM_SMB2_FLAGS_SIGNED);
}

CSUser *userOfSession(uint32_t sessionId)
{
    return csGetUserByUid(uint16_t((sessionId - CS_SMB2_SESSION_BASE) & 0xFFFF));
}

int checkSmb2(CSUser *user, uint8_t *message, uint32_t length, uint32_t flags, const uint8_t *key,
              Calculate calc)
{
    if (!user || user->anonymous || user->guest || !user->session || user->session->id == CS_FREE_ID ||
        !user->authenticated)
        return 1;
    if (!(flags & CM_SMB2_FLAGS_SIGNED) && !user->session->signingActive)
        return 1;
    if (length < kSmb2Header)
        return 0;
    uint8_t received[CM_SMB2_SIGNATURE_SIZE];
    std::memcpy(received, message + CM_SMB2_SIGNATURE_OFFSET, sizeof received);
    calc(key, 16, message, length, nullptr, 0, message + CM_SMB2_SIGNATURE_OFFSET);
    return cmCryptEqual(received, message + CM_SMB2_SIGNATURE_OFFSET, sizeof received);
}

}  // namespace

extern "C" {

void cmSmbCalculateMessageSignature(const uint8_t *key, uint32_t keyLength, uint32_t sequenceNumber,
                                    uint8_t *message, uint32_t messageLength, const uint8_t *extra,
                                    uint32_t extraLength, const uint8_t *response, uint32_t responseLength,
                                    uint8_t *signature)
{
    setU32(signature, sequenceNumber);
    std::memset(signature + 4, 0, 4);
    CMBlob fragments[4] = {{const_cast<uint8_t *>(key), keyLength},
                           {const_cast<uint8_t *>(response), response ? responseLength : 0},
                           {message, messageLength},
                           {const_cast<uint8_t *>(extra), extra ? extraLength : 0}};
    uint8_t digest[CM_MD5_SIZE];
    cmGetCrypters()->md5(nullptr, nullptr, fragments, 4, digest, sizeof digest);
    std::memcpy(signature, digest, CM_SMB1_SIGNATURE_SIZE);
}

void cmSmb2CalculateMessageSignature(const uint8_t *key, uint32_t keyLength, uint8_t *message,
                                     uint32_t messageLength, const uint8_t *extra, uint32_t extraLength,
                                     uint8_t *signature)
{
    std::memset(signature, 0, CM_SMB2_SIGNATURE_SIZE);
    CMBlob fragments[2] = {{message, messageLength}, {const_cast<uint8_t *>(extra), extra ? extraLength : 0}};
    uint8_t mac[CM_SHA256_SIZE];
    cmHMACSHA256Vector(key, keyLength, fragments, 2, mac);
    std::memcpy(signature, mac, CM_SMB2_SIGNATURE_SIZE);
}

void cmSmb3CalculateMessageSignature(const uint8_t *key, uint32_t keyLength, uint8_t *message,
                                     uint32_t messageLength, const uint8_t *extra, uint32_t extraLength,
                                     uint8_t *signature)
{
    std::memset(signature, 0, CM_SMB2_SIGNATURE_SIZE);
    CMBlob k = {const_cast<uint8_t *>(key), keyLength};
    CMBlob fragments[2] = {{message, messageLength}, {const_cast<uint8_t *>(extra), extra ? extraLength : 0}};
    uint8_t mac[16];
    cmGetCrypters()->aesCmac(&k, nullptr, fragments, 2, mac, sizeof mac);
    std::memcpy(signature, mac, CM_SMB2_SIGNATURE_SIZE);
}

void csCreateMessageSignatureSMB(CSSession *session, CSUser *user, uint8_t *message, uint32_t length)
{
    if (!session || !session->signingActive || length < kSmb1Header)
        return;
    uint8_t *flags2 = message + CM_SMB1_FLAGS2_OFFSET;
    setU16(flags2, u16(flags2) | CM_SMB1_FLAGS2_SIGNATURE);
    if (session->waitingForFirstKey) {
        std::memcpy(message + CM_SMB1_SIGNATURE_OFFSET, kWaitingForKey, sizeof kWaitingForKey);
        return;
    }
    if (user && user->guest) {
        setU16(flags2, u16(flags2) & ~CM_SMB1_FLAGS2_SIGNATURE);
        return;
    }
    signSmb1(session, user && !user->anonymous ? user : nullptr, message, length, session->responseSequence);
}

int csCheckMessageSignatureSMB(CSSession *session, CSUser *user, uint8_t *message, uint32_t length)
{
    if (!session || !session->signingActive || session->waitingForFirstKey)
        return 1;
    if (length < kSmb1Header)
        return 0;
    const CSUser *withResponse = nullptr;
    uint8_t received[CM_SMB1_SIGNATURE_SIZE];
    std::memcpy(received, message + CM_SMB1_SIGNATURE_OFFSET, sizeof received);
    if (user) {
        if (user->guest)
            return 1;
        if (user->anonymous) {
            static const uint8_t zero[CM_SMB1_SIGNATURE_SIZE] = {};
            if (std::memcmp(received, zero, sizeof zero) == 0)
                return 1;
        } else {
            withResponse = user;
        }
    }
    uint32_t expected = session->expectedSequence;
    signSmb1(session, withResponse, message, length, expected);
    session->responseSequence = expected + 1;
    session->expectedSequence = expected + 2;
    return cmCryptEqual(received, message + CM_SMB1_SIGNATURE_OFFSET, sizeof received);
}

void csCreateMessageSignatureSMB2(uint32_t sessionId, uint8_t *message, uint32_t length)
{
    if (length < kSmb2Header)
        return;
    CSUser *user = userOfSession(sessionId);
    bool signedFlag = u32(message + CM_SMB2_FLAGS_OFFSET) & CM_SMB2_FLAGS_SIGNED;
    if (user && !user->guest && user->authenticated && user->session) {
        bool active = user->session->signingActive;
        if ((active && !user->anonymous) || (!active && signedFlag)) {
            cmSmb2CalculateMessageSignature(user->sessionKey, 16, message, length, nullptr, 0,
                                            message + CM_SMB2_SIGNATURE_OFFSET);
            return;
        }
    }
    clearSmb2Signature(message);
}

void csCreateMessageSignatureSMB3(uint32_t sessionId, uint8_t *message, uint32_t length)
{
    if (length < kSmb2Header)
        return;
    CSUser *user = userOfSession(sessionId);
    bool signedFlag = u32(message + CM_SMB2_FLAGS_OFFSET) & CM_SMB2_FLAGS_SIGNED;
    if (user && !user->guest && user->authenticated && user->session) {
        if ((user->session->signingActive && !user->anonymous) || signedFlag) {
            cmSmb3CalculateMessageSignature(user->smb3SigningKey, 16, message, length, nullptr, 0,
                                            message + CM_SMB2_SIGNATURE_OFFSET);
            return;
        }
    }
    clearSmb2Signature(message);
}

int csCheckMessageSignatureSMB2(CSUser *user, uint8_t *message, uint32_t length, uint32_t flags)
{
    return checkSmb2(user, message, length, flags, user ? user->sessionKey : nullptr,
                     cmSmb2CalculateMessageSignature);
}

int csCheckMessageSignatureSMB3(CSUser *user, uint8_t *message, uint32_t length, uint32_t flags)
{
    return checkSmb2(user, message, length, flags, user ? user->smb3SigningKey : nullptr,
                     cmSmb3CalculateMessageSignature);
}

}  // extern "C"
