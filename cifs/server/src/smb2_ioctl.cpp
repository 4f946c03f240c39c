// SMB2 IOCTL: the response frame around the control table's rows, pipe
// transceive, and validate negotiate (the client's view of its NEGOTIATE
// against what it sent).
#include "cssmb2.h"

#include "cs2tables.h"
#include "csdcerpc.h"
#include "csfiles.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kInvalidHandle = 0xC0000008u;
constexpr uint32_t kNotFound = 0xC0000225u;
constexpr uint32_t kBufferOverflow = 0x80000005u;
constexpr uint32_t kResponseFixed = 48;  // the response body before the output
constexpr uint32_t kMaxOutput = 0x10030;

uint16_t securityMode()
{
    return uint16_t((csIsMessageSigningEnabled() ? 0x01 : 0) | (csIsMessageSigningRequired() ? 0x02 : 0));
}

}  // namespace

extern "C" {

uint32_t cs2FsctlPipeTransceive(CS2IoctlContext *c)
{
    CSFile *pipe = c->file;
    if (!pipe || !pipe->pipe)
        return 0xC0000010u;  // not a pipe: invalid device request
    // Fragments are cut to what one answer carries, also those the call
    // builds while it is written.
    const uint32_t size = std::min(c->maxOutputResponse, cmBufferWriterGetRemaining(c->output));
    pipe->pipeOutputLimit = std::min<uint32_t>(size, 65535);
    // An answer longer than the output goes with BUFFER_OVERFLOW: the client
    // reads the rest. So does an empty one, as before.
    uint32_t count = 0;
    const uint32_t status =
        csDcerpcTransact(pipe, c->input, c->inputCount, cmBufferWriterGetPosition(c->output), size, &count);
    if (status != 0 && status != kBufferOverflow)
        return status;
    cmBufferWriterSkip(c->output, count);
    return count == 0 ? kBufferOverflow : status;
}

uint32_t cs2FsctlValidateNegotiate(CS2IoctlContext *c)
{
    CSSession *session = c->sessionId ? csGetSessionById(*c->sessionId) : nullptr;
    if (!session)
        return kInvalidHandle;
    // What the client believes it negotiated must be what it sent: a
    // difference is a downgrade by someone in between.
    CMBufferReader in;
    cmBufferReaderInit(&in, c->input, c->inputCount);
    uint32_t capabilities = 0;
    uint8_t guid[16] = {};
    uint16_t mode = 0, count = 0;
    cmBufferReadUint32(&in, &capabilities);
    cmBufferReadBytes(&in, guid, sizeof guid);
    cmBufferReadUint16(&in, &mode);
    cmBufferReadUint16(&in, &count);
    bool same = !cmBufferReaderIsOverrun(&in) && session->negotiated &&
                capabilities == session->clientCapabilities &&
                std::memcmp(guid, session->clientGuid, 16) == 0 && mode == session->clientSecurityMode &&
                count == session->clientDialectCount;
    for (uint16_t i = 0; same && i < count; ++i) {
        uint16_t d = 0;
        cmBufferReadUint16(&in, &d);
        same = !cmBufferReaderIsOverrun(&in) && (i >= 32 || d == session->clientDialects[i]);
    }
    if (!same)
        return CS2_STATUS_DISCONNECT;
    const uint16_t dialect = cs2DialectRevision(session->dialect);
    if (dialect == 0)
        return CS2_STATUS_DISCONNECT;
    static const uint8_t kNoGuid[16] = {};
    const uint8_t *serverGuid = cs2GetServerUuid();
    cmBufferWriteUint32(c->output, session->dialect >= CS_DIALECT_SMB30 ? 0x40 : 0);
    cmBufferWriteBytes(c->output, serverGuid ? serverGuid : kNoGuid, 16);
    cmBufferWriteUint16(c->output, securityMode());
    cmBufferWriteUint16(c->output, dialect);
    return 0;
}

uint32_t csSmb2OnIoctl(CMSmb2Header *request, CMSmb2Header *response, CMBufferReader *reader,
                       CSSession *session, CSUser *user, CSTree *tree, CMBufferWriter *writer)
{
    uint32_t code = 0, inputOffset = 0, inputCount = 0, maxOutput = 0, flags = 0;
    uint16_t fid = 0;
    cmBufferReaderSkip(reader, 2);
    cmBufferReadUint32(reader, &code);
    cmBufferReadUint16(reader, &fid);
    cmBufferReaderSkip(reader, 14);
    cmBufferReadUint32(reader, &inputOffset);
    cmBufferReadUint32(reader, &inputCount);
    cmBufferReaderSkip(reader, 12);
    cmBufferReadUint32(reader, &maxOutput);
    cmBufferReadUint32(reader, &flags);
    cs2ParseFid(&fid);
    // The input lies inside the request.
    if (cmBufferReaderIsOverrun(reader) ||
        (inputCount && (inputOffset > reader->length || inputCount > reader->length - inputOffset)))
        return kInvalidParameter;
    if (maxOutput > kMaxOutput)
        maxOutput = kMaxOutput;

    const CS2IoctlRow *row = cs2FindIoctlMethod(code);
    if (!row || !row->handler)
        return kNotFound;

    CMBufferWriter output;
    const uint32_t room = cmBufferWriterGetRemaining(writer);
    if (room < kResponseFixed)
        return 0xC0000023u;
    cmBufferWriterInit(&output, cmBufferWriterGetPosition(writer) + kResponseFixed,
                       std::min(room - kResponseFixed, maxOutput));
    const uint32_t sessionId = session->id;
    CS2IoctlContext context{};
    context.code = code;
    context.input = request->_start + inputOffset;
    context.inputCount = inputCount;
    context.maxOutputResponse = maxOutput;
    context.flags = flags;
    context.output = &output;
    if (row->flags & CS2_IOCTL_NEEDS_FILE) {
        context.file = (tree && user) ? csGetFileByFid(fid, tree->tid, user->uid) : nullptr;
        if (!context.file)
            return kInvalidHandle;
    } else {
        context.sessionId = &sessionId;
    }
    uint32_t status = row->handler(&context);
    if (status != 0 && status != kBufferOverflow)
        return status;
    if (cmBufferWriterIsOverrun(&output))
        return 0xC0000023u;
    const uint32_t written = cmBufferWriterGetDataCount(&output);

    cmBufferWriteUint16(writer, 49);
    cmBufferWriteUint16(writer, 0);
    cmBufferWriteUint32(writer, code);
    if (row->flags & CS2_IOCTL_NEEDS_FILE) {
        cmBufferWriteUint16(writer, fid);
        cmBufferWriteZeroes(writer, 14);
    } else {
        static const uint8_t kAllOnes[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        cmBufferWriteBytes(writer, kAllOnes, 16);
    }
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint32(writer, written ? CM_SMB2_HEADER_SIZE + kResponseFixed : 0);
    cmBufferWriteUint32(writer, written);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriterSkip(writer, written);
    if (status == kBufferOverflow) {
        response->status = status;
        return CS2_STATUS_BODY_SET;
    }
    return 0;
}

}  // extern "C"
