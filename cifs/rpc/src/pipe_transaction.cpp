// SMB1 TRANSACTION on "\PIPE\": the pipe's state and information, and
// TRANSACT_NMPIPE, one write and one read in a single exchange.
#include "dcerpc_call.h"

#include "cstrans.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kSetState = 0x0001;
constexpr uint16_t kQueryState = 0x0021;
constexpr uint16_t kQueryInfo = 0x0022;
constexpr uint16_t kTransact = 0x0026;
// Non-blocking, message pipe, message read mode, one instance.
constexpr uint16_t kPipeState = 0x8501;
constexpr uint16_t kInputBufferSize = 65470;
constexpr uint32_t kPipeNameBytes = 64;

uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// The pipe's name with its leading backslash, as the client's text wants it;
// the bytes written with the terminator.
uint32_t pipeNameText(const CSFile *pipe, bool unicode, uint8_t *out)
{
    char name[24];
    if (!rpc::pipeName(pipe, name, sizeof name))
        name[0] = 0;
    char text[28] = "\\";
    std::strncat(text, name, sizeof text - 2);
    const uint32_t n = uint32_t(std::strlen(text)) + 1;
    for (uint32_t i = 0; i < n; ++i) {
        if (unicode) {
            out[2 * i] = uint8_t(text[i]);
            out[2 * i + 1] = 0;
        } else {
            out[i] = uint8_t(text[i]);
        }
    }
    return unicode ? 2 * n : n;
}

}  // namespace

extern "C" {

uint32_t csDcerpcTransact(CSFile *pipe, const uint8_t *in, uint32_t inLength, uint8_t *out, uint32_t outSize,
                          uint32_t *outLength)
{
    if (outLength)
        *outLength = 0;
    uint32_t status = csDcerpcWrite(pipe, in, inLength, 1);
    if (status != 0)
        return status;
    uint32_t remaining = 0;
    uint32_t n = csDcerpcRead(pipe, out, outSize, &remaining);
    if (outLength)
        *outLength = n;
    return remaining ? csErrorReturn(0x80000005u, (234u << 16) | 1u) : 0;
}

uint32_t csNamedPipeEntry(CSTransaction *t)
{
    if (!t || !t->header || !t->response || !t->byteCount || t->setupCount < 2 || !t->setup)
        return rpc::badPipe();
    const uint16_t command = get16(t->setup);
    const uint16_t fid = get16(t->setup + 2);
    CSFile *pipe = csGetFileByFid(fid, get16(t->header + 24), get16(t->header + 28));
    if (!pipe || !pipe->pipe || !csGetNameByNid(pipe->nid))
        return rpc::badPipe();

    // Byte count, one pad byte, then parameters and data from an even offset.
    uint8_t *p = t->byteCount + 2;
    *p++ = 0;
    if ((p - t->response) & 1)
        *p++ = 0;
    uint8_t *const end = t->response + CS_TRANS_RESPONSE_SIZE;
    t->setupCountOut = 0;
    t->parametersOut = t->dataOut = p;
    t->parameterCountOut = t->dataCountOut = 0;
    uint32_t status = 0;
    switch (command) {
    case kSetState:
        break;
    case kQueryState:
        put16(p, kPipeState);
        put16(p + 2, 0);
        t->parameterCountOut = 4;
        t->dataOut = p + 4;
        break;
    case kQueryInfo: {
        uint8_t *d = t->dataOut;
        put16(d, uint16_t(end - (d + 7)));  // what the response buffer holds after the fixed part
        put16(d + 2, kInputBufferSize);
        d[4] = 1;
        d[5] = 1;
        uint8_t name[kPipeNameBytes];
        const uint32_t n = pipeNameText(pipe, (get16(t->header + 10) & 0x8000) != 0, name);
        d[6] = uint8_t(n);
        std::memcpy(d + 7, name, n);
        t->dataCountOut = std::min(7 + n, t->maxDataCount);
        break;
    }
    case kTransact: {
        csDcerpcSetLateResponseCallbacks(csDispatchSaveResponseContext, csNamedPipePrepareLateResponse,
                                         csNamedPipeSendLateResponse);
        const uint32_t room = std::min<uint32_t>(uint32_t(end - t->dataOut), t->maxDataCount);
        uint32_t n = 0;
        status = csDcerpcTransact(pipe, t->data, t->dataCount, t->dataOut, room, &n);
        if (status == CS_RPC_LATE)
            return status;
        t->dataCountOut = n;
        break;
    }
    default:
        return rpc::badPipe();
    }
    put16(t->byteCount, uint16_t(t->dataOut + t->dataCountOut - (t->byteCount + 2)));
    return status;
}

int csNamedPipePrepareLateResponse(CSLateResponseContext *context)
{
    if (!context)
        return 0;
    csTransactionPrepareLateResponse(context);
    // Byte count and pad.
    if (context->response && context->remaining >= 3) {
        context->response += 3;
        context->remaining -= 3;
    } else {
        context->response = nullptr;
        context->remaining = 0;
    }
    return 0;
}

int csNamedPipeSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length)
{
    if (!context || !context->response)
        return 0;
    context->response -= 3;
    context->remaining += 3;
    put16(context->response, uint16_t(length + 1));
    context->response[2] = 0;
    return csTransactionSendLateResponse(context, status, length + 3);
}

}  // extern "C"
