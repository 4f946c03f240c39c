// Answers sent after their request was left: what they keep of the request,
// and the shared buffer they are built in.
#include "dispatch_frame.h"

#include "cmsmbheader.h"
#include "cssign.h"

#include <cstring>

using cs::gFrame;
using cs::setU16;
using cs::setU32;
using cs::u16;

namespace {

constexpr uint32_t kHeader = CM_SMB_HEADER_SIZE;

uint8_t *lateHeader() { return gFrame.lateBuffer + NS_SESSION_HEADER; }

}  // namespace

extern "C" {

void csDispatchSaveResponseContext(CSLateResponseContext *context)
{
    if (!context)
        return;
    if (gFrame.smb2) {
        cs2DispatchSaveResponseContext(context, cs2DispatchCurrentHeader());
        return;
    }
    context->isSmb2 = 0;
    context->socket = gFrame.socket;
    const uint8_t *request = gFrame.requestBuffer;
    if (!request)
        return;
    context->command = request[4];
    context->flags = request[9];
    context->flags2 = u16(request + 10);
    context->pidHigh = u16(request + 12);
    context->tid = u16(request + 24);
    context->pid = u16(request + 26);
    context->uid = u16(request + 28);
    context->mid = u16(request + 30);
    CSSession *session = csGetSessionBySocket();
    context->sequence = session ? session->responseSequence : 0;
}

void csDispatchPrepareLateResponse(CSLateResponseContext *context)
{
    if (!context)
        return;
    if (context->isSmb2) {
        cs2DispatchPrepareLateResponse(context);
        return;
    }
    if (!gFrame.lateBuffer) {
        context->response = nullptr;
        context->remaining = 0;
        return;
    }
    uint8_t *h = lateHeader();
    std::memset(h, 0, kHeader);
    std::memcpy(h, cmSmbProtocolId, 4);
    h[4] = context->command;
    h[9] = uint8_t(0x88 | (context->flags & 0x10));
    setU16(h + 10, uint16_t(0x0001 | (context->flags2 & 0x8000)));
    setU16(h + 12, context->pidHigh);
    setU16(h + 24, context->tid);
    setU16(h + 26, context->pid);
    setU16(h + 28, context->uid);
    setU16(h + 30, context->mid);
    context->response = h + kHeader;
    context->remaining = CS_LATE_BUFFER_SIZE - NS_SESSION_HEADER - kHeader;
}

int csDispatchSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length)
{
    if (!context)
        return 0;
    if (context->isSmb2) {
        context->lateStatus = status;
        return cs2DispatchSendLateResponse(context, length);
    }
    if (!gFrame.lateBuffer || context->response != lateHeader() + kHeader)
        return 0;
    uint8_t *h = lateHeader();
    // A body that cannot be held is not sent cut: the client hears why.
    if (length > context->remaining) {
        status = gFrame.ntStatusMode ? 0xC0000023u : 0x00010002u;
        std::memset(h + kHeader, 0, 3);
        length = 3;
    }
    setU32(h + 5, status);
    if (gFrame.ntStatusMode)
        setU16(h + 10, uint16_t(u16(h + 10) | 0x4000));

    // The session and user are the saved connection's, not the one being served.
    CSSocketSlot current = gFrame.socket;
    gFrame.socket = context->socket;
    CSSession *session = csGetSessionBySpecificSocket(context->socket);
    CSUser *user = csGetUserByUid(context->uid);
    gFrame.socket = current;
    if (session) {
        uint32_t now = session->responseSequence;
        session->responseSequence = context->sequence;
        csCreateMessageSignatureSMB(session, user, h, kHeader + length);
        session->responseSequence = now;
    } else {
        csCreateMessageSignatureSMB(nullptr, user, h, kHeader + length);
    }
    uint32_t packet = nsPrepareNBBuffer(gFrame.lateBuffer, kHeader + length, kHeader + length);
    if (packet == 0)
        return 0;
    return nsSendFromBuffer(static_cast<NSSocket *>(context->socket), gFrame.lateBuffer, packet, packet,
                            nullptr) == int(packet);
}

void csDispatchSetWriteFile(uint32_t fid, void *file)
{
    gFrame.writeFid = fid;
    gFrame.writeFile = file;
}

void csDispatchSetWriteCount(uint32_t count) { gFrame.writeCount = count; }

void csDispatchSaveWriteAndXResponseContext(CSLateResponseContext *context)
{
    if (!context)
        return;
    context->fileId = gFrame.writeFid;
    context->file = gFrame.writeFile;
    context->writeCount = gFrame.writeCount;
    csDispatchSaveResponseContext(context);
}

void csDispatchSaveWriteResponseContext(CSLateResponseContext *context)
{
    csDispatchSaveWriteAndXResponseContext(context);
}

}  // extern "C"
