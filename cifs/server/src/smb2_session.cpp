// SMB2 SESSION_SETUP (the logon through SPNEGO, the SMB3 keys and the
// signing decision), LOGOFF and ECHO.
#include "cssmb2.h"

#include "cmcrypt.h"
#include "cmcryptsmb3.h"
#include "cmsign.h"
#include "cmstring.h"
#include "csauth.h"

#include <cstring>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kMoreProcessing = 0xC0000016u;
constexpr uint32_t kSessionDeleted = 0xC0000203u;
constexpr uint32_t kRequestNotAccepted = 0xC00000D0u;
constexpr uint32_t kSetupFixed = 24;  // the body before the security blob
constexpr uint32_t kBlobOffset = CM_SMB2_HEADER_SIZE + 8;

void derive(const uint8_t *sessionKey, const char *label, const uint8_t *context, uint32_t contextLength,
            uint8_t *key)
{
    cmKeyDerivation(sessionKey, 16, reinterpret_cast<const uint8_t *>(label),
                    uint32_t(std::strlen(label) + 1), context, contextLength, key);
}

void deriveKeys(CSUser *user, uint32_t dialect)
{
    if (dialect == CS_DIALECT_SMB30) {
        auto text = [](const char *s) { return reinterpret_cast<const uint8_t *>(s); };
        derive(user->sessionKey, "SMB2AESCMAC", text("SmbSign"), 8, user->smb3SigningKey);
        derive(user->sessionKey, "SMB2AESCCM", text("ServerIn "), 10, user->decryptionKey);
        derive(user->sessionKey, "SMB2AESCCM", text("ServerOut"), 10, user->encryptionKey);
        derive(user->sessionKey, "SMB2APP", text("SmbRpc"), 7, user->applicationKey);
    } else {
        const uint8_t *hash = user->preauthHash;
        derive(user->sessionKey, "SMBSigningKey", hash, 64, user->smb3SigningKey);
        derive(user->sessionKey, "SMBS2CCipherKey", hash, 64, user->encryptionKey);
        derive(user->sessionKey, "SMBC2SCipherKey", hash, 64, user->decryptionKey);
        derive(user->sessionKey, "SMBAppKey", hash, 64, user->applicationKey);
    }
    // A fresh nonce sequence for each new encryption key.
    user->nonceCounter = 0;
    cmCreateRandomByteSequence(user->nonceSalt, sizeof user->nonceSalt);
}

// The user of another SessionId, on whatever connection it was made.
CSUser *anyUserByUid(uint16_t uid)
{
    for (uint32_t i = 0; CSUser *u = csGetUserByIndex(i); ++i)
        if (u->uid == uid)
            return u;
    return nullptr;
}

// A client that reconnects names its earlier session: that one goes, but
// only when it belonged to the same account.
void releasePrevious(const CSUser *user, const CMUint64 &previous)
{
    if (previous.low == 0 && previous.high == 0)
        return;
    const uint16_t uid = uint16_t((previous.low - CS_SMB2_SESSION_BASE) & 0xFFFF);
    if (uid == user->uid)
        return;
    CSUser *old = anyUserByUid(uid);
    if (old && !old->anonymous && cmWStrcmp(old->name, user->name) == 0)
        csReleaseUser(uid, 1);
}

uint16_t sessionFlags(const CSUser *user, uint32_t dialect)
{
    if (!user)
        return 0;
    if (dialect >= CS_DIALECT_SMB30 && user->encryptionRequired)
        return 0x0004;
    if (user->anonymous)
        return 0x0002;
    if (user->guest)
        return 0x0001;
    return 0;
}

}  // namespace

extern "C" {

uint32_t csSmb2OnSessionSetup(CMSmb2Header *request, CMSmb2Header *response, CMBufferReader *reader,
                              CSSession *session, CSUser *, CSTree *, CMBufferWriter *writer)
{
    const uint32_t dialect = session->dialect;
    const bool v311 = dialect == CS_DIALECT_SMB311;
    const bool newLogon = request->sid.low == 0 && request->sid.high == 0;
    CSUser *user = nullptr;
    uint8_t connectionHash[CM_SMB311_HASH_SIZE];
    const uint32_t length = reader->length;

    if (newLogon) {
        if (v311)
            std::memcpy(connectionHash, session->preauthHash, sizeof connectionHash);
    } else {
        user = csGetUserByUid(uint16_t((request->sid.low - CS_SMB2_SESSION_BASE) & 0xFFFF));
        if (!user)
            return kSessionDeleted;
        const bool expired = csUserHasExpired(user->uid) != 0;
        if (!expired && user->authenticated)
            return kRequestNotAccepted;
        if (expired) {
            // The same session logs on again: its keys stay those the
            // client already signs and seals with.
            csRenewUserTimeStamp(user);
            if (user->authenticated && !user->reauthenticating) {
                user->reauthenticating = 1;
                std::memcpy(user->keptSessionKey, user->sessionKey, sizeof user->keptSessionKey);
            }
            user->authenticated = 0;
        }
        if (v311 && user->preauthInProgress)
            cmSmb311CalcMessagesHash(request->_start, length, user->preauthHash, nullptr);
    }

    uint8_t clientMode = 0;
    uint16_t blobOffset = 0, blobLength = 0;
    CMUint64 previous{0, 0};
    cmBufferReaderSkip(reader, 1);
    cmBufferReadByte(reader, &clientMode);
    cmBufferReaderSkip(reader, 8);
    cmBufferReadUint16(reader, &blobOffset);
    cmBufferReadUint16(reader, &blobLength);
    cmBufferReadUint64(reader, &previous);
    if (cmBufferReaderIsOverrun(reader) || blobLength == 0 || blobOffset >= length)
        return kInvalidParameter;
    const uint8_t *blob = cmBufferReaderGetPosition(reader);
    const uint32_t blobRoom = cmBufferReaderGetRemaining(reader);
    if (blobLength > blobRoom)
        return kInvalidParameter;

    // The answer blob goes 8 bytes into the body.
    uint8_t *body = cmBufferWriterGetPosition(writer);
    const uint32_t room = cmBufferWriterGetRemaining(writer);
    if (room < 8)
        return 0xC0000001u;
    uint32_t answerLength = room - 8;
    const bool hadUser = user != nullptr;
    uint32_t status = csAuthenticateUser(blob, blobRoom, session, body + 8, &answerLength, 1, &user, nullptr);

    if (!user) {
        if (status != 0 && status != kMoreProcessing)
            return status;
        response->sid = CMUint64{0, 0};
    } else {
        if (newLogon && v311 && !hadUser && !user->authenticated) {
            user->preauthInProgress = 1;
            std::memcpy(user->preauthHash, connectionHash, sizeof connectionHash);
            cmSmb311CalcMessagesHash(request->_start, length, user->preauthHash, nullptr);
        }
        if (status != 0 && status != kMoreProcessing)
            return status;
        if (status == 0) {
            user->authenticated = 1;
            user->loggedOn = 1;
            user->ntStatusMode = 1;
            if (user->reauthenticating) {
                std::memcpy(user->sessionKey, user->keptSessionKey, sizeof user->sessionKey);
                user->reauthenticating = 0;
            } else {
                releasePrevious(user, previous);
                deriveKeys(user, dialect);
            }
            user->preauthInProgress = 0;
        }
        response->sid = CMUint64{uint32_t(user->uid) + CS_SMB2_SESSION_BASE, 0};
    }

    // Signing.
    if (!csIsMessageSigningEnabled())
        session->signingActive = 0;
    else if (!csIsMessageSigningRequired())
        session->signingActive = (clientMode & 0x02) ? 1 : 0;
    else
        session->signingActive = 1;
    if (user && session->signingActive && !user->anonymous && !user->guest && user->authenticated)
        response->flags |= CM_SMB2_FLAGS_SIGNED;

    cmBufferWriteUint16(writer, 9);
    cmBufferWriteUint16(writer, sessionFlags(user, dialect));
    cmBufferWriteUint16(writer, kBlobOffset);
    cmBufferWriteUint16(writer, uint16_t(answerLength));
    cmBufferWriterSkip(writer, answerLength);
    return status;
}

uint32_t csSmb2OnLogoff(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *, CSUser *user,
                        CSTree *, CMBufferWriter *writer)
{
    cmBufferReaderSkip(reader, 2);
    if (user)
        csReleaseUser(user->uid, 1);
    cmBufferWriteUint16(writer, 4);
    cmBufferWriteUint16(writer, 0);
    return 0;
}

uint32_t csSmb2OnEcho(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *, CSUser *, CSTree *,
                      CMBufferWriter *writer)
{
    cmBufferReaderSkip(reader, 2);
    cmBufferWriteUint16(writer, 4);
    cmBufferWriteUint16(writer, 0);
    return 0;
}

}  // extern "C"
