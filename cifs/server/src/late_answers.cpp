// SMB2 answers sent after their request was left: built in a message of
// their own (never a shared fixed area), signed and sealed as the saved
// request's session asks, sent on its connection.
#include "late_answers.h"

#include "cmsmbheader.h"
#include "csdcerpc.h"
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

bool cancels(const CMSmb2Header &cancel, uint16_t uid, const SavedRequest &r)
{
    if (r.uid != uid)
        return false;
    const CMUint64 &id = (cancel.flags & CM_SMB2_FLAG_ASYNC) ? r.aid : r.mid;
    const CMUint64 &named = (cancel.flags & CM_SMB2_FLAG_ASYNC) ? cancel.aid : cancel.mid;
    return id.low == named.low && id.high == named.high;
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

bool sendLate(const SavedRequest &r, uint32_t status, const uint8_t *body, uint32_t length)
{
    struct Body {
        const uint8_t *data;
        uint32_t length;
    } b{body, length};
    return sendLate(
        r, status,
        [](CMBufferWriter *w, const void *d) {
            auto *x = static_cast<const Body *>(d);
            cmBufferWriteBytes(w, x->data, x->length);
        },
        &b);
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

namespace {

constexpr uint32_t kHeader = CM_SMB2_HEADER_SIZE;
constexpr uint32_t kIoctlFixed = 48;
constexpr uint32_t kWriteFixed = 16;
constexpr uint32_t kBufferTooSmall = 0xC0000023u;

// Late answers are built one at a time, in a message buffer of their own.
std::vector<uint8_t> gLate;

uint32_t le32(const uint8_t *p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

cs2::SavedRequest savedOf(const CSLateResponseContext &c)
{
    cs2::SavedRequest r;
    r.socket = c.socket;
    r.flags = c.smb2Flags;
    r.tid = c.smb2TreeId;
    r.uid = c.uid;
    r.mid = c.smb2MessageId;
    r.aid = c.smb2AsyncId;
    r.pid = c.pid | uint32_t(c.pidHigh) << 16;
    r.command = c.command;
    r.encrypted = c.smb2Encrypted != 0;
    return r;
}

bool inLateBuffer(const uint8_t *p)
{
    return !gLate.empty() && p >= gLate.data() + kHeader && p <= gLate.data() + gLate.size();
}

void writeLe16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void writeLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// The interim answer of the request being served; the context then names
// its AsyncId.
void saveDeferred(CSLateResponseContext *c)
{
    const CMSmb2Header *h = cs2DispatchGetCurrentHeader();
    cs2DispatchSaveResponseContext(c, cs2DispatchCurrentHeader());
    const uint32_t aid = h ? csSmb2SendInterimResponse(h) : 0;
    c->smb2AsyncId = CMUint64{aid, 0};
    c->smb2Flags |= CM_SMB2_FLAG_ASYNC;
}

}  // namespace

extern "C" {

void cs2DispatchSaveResponseContext(CSLateResponseContext *c, const uint8_t *header)
{
    if (!c)
        return;
    c->isSmb2 = 1;
    c->socket = csDispatchGetSocket();
    c->smb2Encrypted = cs2::context().encrypted;
    if (!header)
        return;
    c->command = header[12];
    c->smb2Flags = le32(header + 16);
    c->smb2MessageId = CMUint64{le32(header + 24), le32(header + 28)};
    if (c->smb2Flags & CM_SMB2_FLAG_ASYNC) {
        c->smb2AsyncId = CMUint64{le32(header + 32), le32(header + 36)};
    } else {
        const uint32_t pid = le32(header + 32);
        c->pid = uint16_t(pid);
        c->pidHigh = uint16_t(pid >> 16);
        c->smb2TreeId = le32(header + 36);
        c->tid = uint16_t(c->smb2TreeId);
    }
    c->smb2SessionId = CMUint64{le32(header + 40), le32(header + 44)};
    c->uid = uint16_t(c->smb2SessionId.low - CS_SMB2_SESSION_BASE);
}

void cs2DispatchPrepareLateResponse(CSLateResponseContext *c)
{
    if (!c)
        return;
    gLate.assign(CS2_BUFFER_SIZE, 0);
    c->response = gLate.data() + kHeader;
    c->remaining = CS2_BUFFER_SIZE - kHeader;
}

int cs2DispatchSendLateResponse(CSLateResponseContext *c, uint32_t length)
{
    if (!c || !inLateBuffer(c->response))
        return 0;
    const uint8_t *body = gLate.data() + kHeader;
    uint32_t status = c->lateStatus;
    // An answer past the message buffer is not sent cut: the client hears why.
    if (length > gLate.size() - kHeader) {
        status = kBufferTooSmall;
        length = 0;
    }
    const bool failed = (status & 0xC0000000u) == 0xC0000000u;
    const bool sent = failed || length == 0 ? cs2::sendLate(savedOf(*c), status, cs2::errorBody, nullptr)
                                            : cs2::sendLate(savedOf(*c), status, body, length);
    gLate.clear();
    c->response = nullptr;
    c->remaining = 0;
    return sent ? 1 : 0;
}

void cs2PipeIoctlSaveLateResponse(CSLateResponseContext *c)
{
    if (!c)
        return;
    saveDeferred(c);
    // The IOCTL's CtlCode and FileId follow its StructureSize and Reserved.
    if (const uint8_t *h = cs2DispatchCurrentHeader()) {
        c->ctlCode = le32(h + kHeader + 4);
        c->fileId = uint16_t(h[kHeader + 8] | h[kHeader + 9] << 8);
    }
}

int cs2PipeIoctlPrepareLateResponse(CSLateResponseContext *c)
{
    csDispatchPrepareLateResponse(c);
    if (!c || !c->response || c->remaining < kIoctlFixed) {
        if (c) {
            c->response = nullptr;
            c->remaining = 0;
        }
        return 0;
    }
    c->response += kIoctlFixed;
    c->remaining -= kIoctlFixed;
    return 0;
}

int cs2PipeIoctlSendLateResponse(CSLateResponseContext *c, uint32_t status, uint32_t length)
{
    if (!c || !inLateBuffer(c->response) || c->response - gLate.data() < kHeader + kIoctlFixed)
        return 0;
    uint8_t *b = c->response - kIoctlFixed;
    std::memset(b, 0, kIoctlFixed);
    writeLe16(b, 49);
    writeLe32(b + 4, c->ctlCode);
    writeLe16(b + 8, uint16_t(c->fileId));
    writeLe32(b + 32, kHeader + kIoctlFixed);
    writeLe32(b + 36, length);
    c->response = b;
    return csDispatchSendLateResponse(c, status, kIoctlFixed + length);
}

void cs2PipeWriteSaveLateResponse(CSLateResponseContext *c)
{
    if (!c)
        return;
    CSLateResponseContext write{};
    csDispatchSaveWriteResponseContext(&write);
    saveDeferred(c);
    c->writeCount = write.writeCount;
    c->file = write.file;
    c->fileId = write.fileId;
}

int cs2PipeWritePrepareLateResponse(CSLateResponseContext *c)
{
    csDispatchPrepareLateResponse(c);
    if (!c || !c->response || c->remaining < kWriteFixed) {
        if (c) {
            c->response = nullptr;
            c->remaining = 0;
        }
        return 0;
    }
    c->response += kWriteFixed;
    c->remaining -= kWriteFixed;
    return 0;
}

int cs2PipeWriteSendLateResponse(CSLateResponseContext *c, uint32_t status, uint32_t length)
{
    if (!c || !inLateBuffer(c->response) || c->response - gLate.data() < kHeader + kWriteFixed)
        return 0;
    // The pipe keeps the answer for the client's READ; the WRITE says how
    // much it took.
    csDcerpcSaveCompleteResponse(static_cast<CSFile *>(c->file), c->response, length);
    return cs2PrintWriteSendLateResponse(c, status, 0);
}

int cs2PrintWriteSendLateResponse(CSLateResponseContext *c, uint32_t status, uint32_t)
{
    if (!c || !inLateBuffer(c->response) || c->response - gLate.data() < kHeader + kWriteFixed)
        return 0;
    uint8_t *b = c->response - kWriteFixed;
    std::memset(b, 0, kWriteFixed);
    writeLe16(b, 17);
    writeLe32(b + 4, c->writeCount);
    c->response = b;
    return csDispatchSendLateResponse(c, status, kWriteFixed);
}

}  // extern "C"
