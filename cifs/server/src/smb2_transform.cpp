// The SMB3 transform header: opening a sealed request, sealing a response.
#include "smb2_context.h"

#include "cmcryptsmb3.h"
#include "dispatch_frame.h"

#include <cstring>

namespace {

constexpr uint32_t kTransform = CM_SMB2_TRANSFORM_HEADER_SIZE;
constexpr uint32_t kNonceOffset = 20;  // the authenticated data: Nonce to SessionId
constexpr uint32_t kAadSize = 32;
constexpr uint32_t kSignatureOffset = 4;
constexpr uint16_t kEncrypted = 1;

uint16_t userOf(const CMUint64 &sid) { return uint16_t((sid.low - CS_SMB2_SESSION_BASE) & 0xFFFF); }

bool gcmFor(const CSSession *session, uint16_t flags)
{
    return session->dialect >= CS_DIALECT_SMB311 && session->useGcm && flags == kEncrypted;
}

}  // namespace

extern "C" {

int cs2TransformHeaderDecrypt(NSRecvContext *reader, uint8_t *buffer, uint32_t length)
{
    // What the client says it sent must be what came, and fit the buffer.
    if (length < kTransform - 4 || uint64_t(length) + 4 > CS2_BUFFER_SIZE)
        return -1;
    if (!cs::readMessage(reader, buffer + 4, kTransform - 4))
        return -1;
    CMBufferReader in;
    cmBufferReaderInit(&in, buffer, kTransform);
    CMSmb2TransformHeader header;
    cmSmb2TransformHeaderRead(&header, &in);
    const uint32_t size = length + 4 - kTransform;
    if (header.originalMsgSize != size || size < CM_SMB2_HEADER_SIZE)
        return 0;
    CSUser *user = csGetUserByUid(userOf(header.sid));
    CSSession *session = user ? csGetSessionById(user->sessionId) : nullptr;
    // Only a finished logon has keys; a half one would open with zeros.
    if (!user || !session || !user->authenticated)
        return 0;
    if (!cs::readMessage(reader, buffer + kTransform, size))
        return -1;
    const bool gcm = gcmFor(session, header.flags);
    std::memset(user->nonce, 0, sizeof user->nonce);
    std::memcpy(user->nonce, header.nonce, gcm ? 12 : 11);
    if (cmSmb3DecryptMessage(user->decryptionKey, user->nonce, buffer + kTransform, size,
                             buffer + kNonceOffset, kAadSize, header.signature, gcm) != 1)
        return 0;
    cs2::context().transformSid = header.sid;
    return 1;
}

int cs2TransformHeaderEncrypt(CSUser *user, uint8_t *buffer, uint32_t length)
{
    if (length < CM_SMB2_HEADER_SIZE)
        return 0;
    CMSmb2TransformHeader header{};
    const uint8_t *message = buffer + kTransform;
    header.sid.low =
        uint32_t(message[40] | message[41] << 8 | message[42] << 16 | uint32_t(message[43]) << 24);
    header.sid.high =
        uint32_t(message[44] | message[45] << 8 | message[46] << 16 | uint32_t(message[47]) << 24);
    if (!user)
        user = csGetUserByUid(userOf(header.sid));
    CSSession *session = user ? csGetSessionById(user->sessionId) : nullptr;
    if (!user || !session)
        return 0;
    header.sid = CMUint64{uint32_t(user->uid) + CS_SMB2_SESSION_BASE, 0};
    // A nonce never used with this key: a counter, and random bytes drawn
    // with the key.
    const bool gcm = gcmFor(session, kEncrypted);
    const uint64_t counter = user->nonceCounter++;
    for (int i = 0; i < 8; ++i)
        header.nonce[i] = uint8_t(counter >> (8 * i));
    std::memcpy(header.nonce + 8, user->nonceSalt, gcm ? 4 : 3);
    header.originalMsgSize = length;
    header.flags = kEncrypted;
    CMBufferWriter out;
    cmBufferWriterInit(&out, buffer, kTransform);
    cmSmb2TransformHeaderWrite(&header, &out);
    return cmSmb3SealMessage(user->encryptionKey, header.nonce, buffer + kTransform, length,
                             buffer + kNonceOffset, kAadSize, buffer + kSignatureOffset, gcm, nullptr,
                             nullptr) == 1
               ? 1
               : 0;
}

}  // extern "C"
