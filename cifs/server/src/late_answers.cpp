// SMB2 answers sent after their request was left: built in a message of
// their own (never a shared fixed area), signed and sealed as the saved
// request's session asks, sent on its connection.
#include "late_answers.h"

#include "cmsmbheader.h"
#include "cssign.h"
#include "nssocket.h"
#include "smb2_context.h"

#include <cstring>

namespace {

constexpr uint32_t kTransform = 52;

uint32_t sessionIdOf(const uint8_t *message)
{
    return uint32_t(message[40] | message[41] << 8 | message[42] << 16 | uint32_t(message[43]) << 24);
}

}  // namespace

namespace cs2 {

SavedRequest saveRequest(const CMSmb2Header &request, uint16_t uid)
{
    SavedRequest r;
    r.socket = csDispatchGetSocket();
    r.flags = request.flags;
    r.tid = request.tid;
    r.uid = uid;
    r.mid = request.mid;
    r.aid = request.aid;
    r.pid = request.pid;
    r.command = request.command;
    r.encrypted = context().encrypted != 0;
    return r;
}

void errorBody(CMBufferWriter *writer, const void *) { cs2WriteErrorBody(writer); }

CSSession *sessionOf(const CSUser *user) { return user ? csGetSessionById(user->sessionId) : nullptr; }

std::vector<uint8_t> asyncMessage(const SavedRequest &r, uint32_t status, bool signing, BodyWriter body,
                                  const void *data)
{
    std::vector<uint8_t> m(CS2_BUFFER_SIZE);
    CMBufferWriter w;
    cmBufferWriterInit(&w, m.data(), uint32_t(m.size()));
    CMSmb2Header h;
    cmSmb2HeaderInitForResponse(&h, &w, 1);
    h.command = r.command;
    h.mid = r.mid;
    h.aid = r.aid;
    h.pid = r.pid;
    h.tid = r.tid;
    h.sid = CMUint64{uint32_t(r.uid) + CS_SMB2_SESSION_BASE, 0};
    h.flags = CM_SMB2_FLAG_RESPONSE | CM_SMB2_FLAG_ASYNC |
              ((signing || (r.flags & CM_SMB2_FLAGS_SIGNED)) ? CM_SMB2_FLAGS_SIGNED : 0);
    h.status = status;
    cmSmb2HeaderWrite(&h, &w);
    body(&w, data);
    if (cmBufferWriterIsOverrun(&w))
        return {};
    m.resize(cmBufferWriterGetDataCount(&w));
    return m;
}

void signMessage(const CSSession *session, uint8_t *message, uint32_t length, bool sealed)
{
    if (!session)
        return;
    if (session->dialect < CS_DIALECT_SMB30)
        csCreateMessageSignatureSMB2(sessionIdOf(message), message, length);
    else if (!sealed)
        csCreateMessageSignatureSMB3(sessionIdOf(message), message, length);
}

bool sendMessage(CSSocketSlot socket, const std::vector<uint8_t> &message, CSUser *sealFor)
{
    if (!socket || message.empty())
        return false;
    std::vector<uint8_t> frame(NS_SESSION_HEADER + kTransform + message.size());
    uint32_t length = uint32_t(message.size());
    if (sealFor) {
        std::memcpy(frame.data() + NS_SESSION_HEADER + kTransform, message.data(), length);
        if (cs2TransformHeaderEncrypt(sealFor, frame.data() + NS_SESSION_HEADER, length) != 1)
            return false;
        length += kTransform;
    } else {
        std::memcpy(frame.data() + NS_SESSION_HEADER, message.data(), length);
    }
    const uint32_t packet = nsPrepareNBBuffer(frame.data(), length, length);
    return packet && nsSendFromBuffer(static_cast<NSSocket *>(socket), frame.data(), packet, packet,
                                      nullptr) == int(packet);
}

bool sendLate(const SavedRequest &r, uint32_t status, BodyWriter body, const void *data)
{
    OnSocket on(r.socket);
    CSUser *user = csGetUserByUid(r.uid);
    CSSession *session = sessionOf(user);
    if (!user || !session || session->socket != r.socket)
        return false;
    std::vector<uint8_t> m = asyncMessage(r, status, session->signingActive != 0, body, data);
    if (m.empty())
        return false;
    signMessage(session, m.data(), uint32_t(m.size()), r.encrypted);
    return sendMessage(r.socket, m, r.encrypted ? user : nullptr);
}

}  // namespace cs2
