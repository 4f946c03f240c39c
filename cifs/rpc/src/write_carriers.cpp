// The late answers of WRITE_ANDX and WRITE on a pipe: the finished PDU
// stays on the pipe for the client's next read, and the write is answered.
#include "dcerpc_call.h"

#include "csfiles.h"

namespace {

constexpr uint32_t kWriteAndXWords = 15;
constexpr uint32_t kWriteWords = 5;

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

int reserve(CSLateResponseContext *context, uint32_t words)
{
    csDispatchPrepareLateResponse(context);
    if (context->response && context->remaining >= words) {
        context->response += words;
        context->remaining -= words;
    } else {
        context->response = nullptr;
        context->remaining = 0;
    }
    return 0;
}

// The pipe of the write, if it is still the open pipe it was.
CSFile *writtenPipe(const CSLateResponseContext *context)
{
    CSFile *f = csGetFileByJustFid(uint16_t(context->fileId));
    return f && f == context->file && f->pipe ? f : nullptr;
}

uint8_t *keep(CSLateResponseContext *context, uint32_t length, uint32_t words)
{
    if (!context->response)
        return nullptr;
    if (context->rpcFraming)
        if (CSFile *pipe = writtenPipe(context))
            csDcerpcSaveCompleteResponse(pipe, context->response, length);
    context->response -= words;
    context->remaining += words;
    return context->response;
}

}  // namespace

extern "C" {

int csWriteAndXPipePrepareLateResponse(CSLateResponseContext *context)
{
    return context ? reserve(context, kWriteAndXWords) : 0;
}

int csWriteAndXPipeSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length)
{
    uint8_t *w = context ? keep(context, length, kWriteAndXWords) : nullptr;
    if (!w)
        return 0;
    w[0] = 6;     // WordCount
    w[1] = 0xFF;  // no AndX command
    w[2] = 0;
    put16(w + 3, 0);
    put16(w + 5, uint16_t(context->writeCount));
    put16(w + 7, 0xFFFF);  // Available
    put16(w + 9, uint16_t(context->writeCount >> 16));
    put16(w + 11, 0);
    put16(w + 13, 0);  // ByteCount
    return csDispatchSendLateResponse(context, status, kWriteAndXWords);
}

int csWritePipePrepareLateResponse(CSLateResponseContext *context)
{
    return context ? reserve(context, kWriteWords) : 0;
}

int csWritePipeSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length)
{
    uint8_t *w = context ? keep(context, length, kWriteWords) : nullptr;
    if (!w)
        return 0;
    w[0] = 1;
    put16(w + 1, uint16_t(context->writeCount));
    put16(w + 3, 0);
    return csDispatchSendLateResponse(context, status, kWriteWords);
}

}  // extern "C"
