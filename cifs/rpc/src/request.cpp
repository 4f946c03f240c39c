// REQUEST: the bound interface's operation by opnum, with the pipe owner's
// identity, writing its answer over the request stub.
#include "dcerpc_call.h"

#include "csdb.h"

#include <algorithm>
#include <cstring>

namespace rpc {

namespace {

// An interface's size check could not be met.
constexpr uint32_t kNoMemory = 0x00000008u;
// The answer ran out of room.
constexpr uint32_t kNoRoom = 0x0000007Au;

CSFile *gServing;

}  // namespace

uint32_t request(CSFile *pipe, Call *c)
{
    if (c->contextId >= CS_PIPE_CONTEXTS || pipe->pipeContexts[c->contextId] == kUnbound) {
        fault(c, CS_RPC_CONTEXT_MISMATCH);
        return 0;
    }
    const CSDcerpcInterface *f = csDcerpcGetInterface(pipe->pipeContexts[c->contextId]);
    if (!f) {
        fault(c, CS_RPC_CONTEXT_MISMATCH);
        return 0;
    }
    if (c->opnum >= f->operationCount || !f->operations || !f->operations[c->opnum]) {
        fault(c, CS_RPC_OP_RANGE_ERROR);
        return 0;
    }
    // Reserving keeps the request stub: the operation reads it from the
    // bigger buffer.
    if (f->sizeCheck) {
        uint32_t need = f->sizeCheck(c->opnum);
        if (need > CS_RPC_BUFFER_SIZE && !c->reserve(need)) {
            fault(c, kNoMemory);
            return 0;
        }
    }
    CSUser *user = csGetUserByUid(pipe->uid);
    if (!user) {
        fault(c, 1);
        return 0;
    }

    CMRpcPacketDescriptor in, out;
    cmRpcSetTokenDescriptor(&in, c->data, c->bigEndian(), &user->token);
    in.length = c->length;
    in.user = user;
    in.callId = c->callId;
    cmRpcCloneDescriptor(&in, &out);
    // The status follows whatever the operation writes: keep its room.
    out.length = c->capacity - 4;

    CSFile *outer = gServing;
    gServing = pipe;
    uint32_t status;
    try {
        status = f->operations[c->opnum](&in, &out);
    } catch (...) {
        // An operation short of memory for its own work: nothing it wrote
        // is sent, and nothing escapes to the carrier.
        gServing = outer;
        fault(c, kNoMemory);
        return 0;
    }
    gServing = outer;

    if (status == CS_RPC_LATE) {
        freeCall(pipe);
        return CS_RPC_LATE;
    }
    // Arguments that ran past the stub were misread: nothing the operation
    // made of them is sent.
    if (cmRpcIsOverrun(&in)) {
        fault(c, CS_RPC_BAD_STUB_DATA);
        return 0;
    }
    if (cmRpcIsOverrun(&out)) {
        fault(c, kNoRoom);
        return 0;
    }
    const uint32_t stub = uint32_t(out.current - c->data);
    out.length = c->capacity;
    cmRpcPackUint32(&out, status);
    c->cancelCount = status ? 1 : 0;
    answer(c, CS_RPC_RESPONSE, stub + 4);
    return 0;
}

}  // namespace rpc

extern "C" CSFile *csDcerpcCurrentPipe(void) { return rpc::gServing; }
