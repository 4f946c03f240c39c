// Answers that come after their request was left: the carrying command's
// callbacks, the saved request, the PDU built around what the operation
// wrote, and a finished PDU kept on the pipe for the client's next read.
#include "dcerpc_call.h"

#include <cstring>

namespace {

struct Callbacks {
    CSLateSave save;
    CSLatePrepare prepare;
    CSLateSend send;
};

// Installed by the command being served, replaced by the next carrier.
Callbacks gCallbacks;

void put16(uint8_t *p, uint16_t v, bool big)
{
    p[big ? 1 : 0] = uint8_t(v);
    p[big ? 0 : 1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v, bool big)
{
    for (int i = 0; i < 4; ++i)
        p[big ? 3 - i : i] = uint8_t(v >> (8 * i));
}

}  // namespace

extern "C" {

void csDcerpcSetLateResponseCallbacks(CSLateSave save, CSLatePrepare prepare, CSLateSend send)
{
    gCallbacks = Callbacks{save, prepare, send};
}

void csDcerpcSaveResponseContext(uint32_t rpcFraming, const CMRpcPacketDescriptor *request,
                                 CSLateResponseContext *context)
{
    if (!context)
        return;
    context->rpcFraming = rpcFraming;
    if (gCallbacks.save)
        gCallbacks.save(context);
    if (rpcFraming && request) {
        context->bigEndian = request->nbo;
        context->callId = request->callId;
    }
    context->prepare = gCallbacks.prepare;
    context->send = gCallbacks.send;
}

int csDcerpcPrepareLateResponse(CSLateResponseContext *context, uint32_t)
{
    if (!context)
        return 0;
    if (context->prepare)
        context->prepare(context);
    if (context->rpcFraming) {
        // Room for the PDU header, and after the stub for the status (or a
        // fault's status and reserved word).
        if (context->response && context->remaining >= rpc::kResponseHeader + 8) {
            context->response += rpc::kResponseHeader;
            context->remaining -= rpc::kResponseHeader + 8;
        } else {
            // No room for a PDU: the answer is not sent at all.
            context->response = nullptr;
            context->remaining = 0;
        }
    }
    return 0;
}

int csDcerpcSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length)
{
    if (!context || !context->send)
        return 0;
    if (!context->rpcFraming)
        return context->send(context, 0, status == 0 ? length : 0);
    if (!context->response)
        return 0;
    // A stub longer than its room was not written whole: it fails instead.
    if (length > context->remaining && status == 0)
        status = 0x0000007Au;
    // A failure travels as a FAULT: the status and four reserved bytes.
    if (status != 0)
        length = 4;
    const bool big = context->bigEndian != 0;
    uint8_t *h = context->response - rpc::kResponseHeader;
    context->response = h;
    std::memset(h, 0, rpc::kResponseHeader);
    h[0] = 5;
    h[2] = status == 0 ? CS_RPC_RESPONSE : CS_RPC_FAULT;
    h[3] = CS_RPC_FIRST_FRAG | CS_RPC_LAST_FRAG;
    h[4] = big ? 0x00 : 0x10;
    put16(h + 8, uint16_t(length + 28), big);
    put32(h + 12, context->callId, big);
    put32(h + 16, length + 4, big);
    if (status != 0) {
        put32(h + rpc::kResponseHeader, status, big);
        put32(h + rpc::kResponseHeader + 4, 0, big);
    } else {
        put32(h + rpc::kResponseHeader + length, status, big);
    }
    return context->send(context, 0, length + 28);
}

void csDcerpcSaveCompleteResponse(CSFile *pipe, const uint8_t *data, uint32_t length)
{
    if (!pipe)
        return;
    rpc::freeCall(pipe);
    auto *c = new (std::nothrow) rpc::Call;
    if (!c)
        return;
    if (!c->reserve(length ? length : 1)) {
        delete c;
        return;
    }
    if (length)
        std::memcpy(c->data, data, length);
    c->length = length;
    c->state = rpc::kSaved;
    pipe->callState = c;
}

}  // extern "C"
