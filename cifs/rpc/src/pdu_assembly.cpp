// Taking what a client writes to a pipe: headers that may arrive in pieces,
// fragment bodies joined into one stub, then the PDU handed on by its type.
#include "dcerpc_call.h"

#include "csdispatch.h"

#include <algorithm>
#include <cstring>

namespace rpc {

namespace {

uint16_t get16(const uint8_t *p, bool big)
{
    return big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[0] | p[1] << 8);
}
uint32_t get32(const uint8_t *p, bool big)
{
    return big ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
               : uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t headerLength(const Call *c)
{
    return c->header[2] == CS_RPC_REQUEST ? kRequestHeader : kCommonHeader;
}

void takeHeader(Call *c)
{
    const uint8_t *h = c->header;
    c->version = h[0];
    c->versionMinor = h[1];
    c->ptype = h[2];
    c->flags = h[3];
    c->drep0 = h[4];
    c->drep1 = h[5];
    const bool big = c->bigEndian();
    c->fragLength = get16(h + 8, big);
    c->authLength = get16(h + 10, big);
    c->callId = get32(h + 12, big);
    if (c->ptype == CS_RPC_REQUEST) {
        // alloc_hint (h + 16) is only a hint: the fragments say what comes.
        c->contextId = get16(h + 20, big);
        c->opnum = get16(h + 22, big);
    }
}

// Bytes beyond an ordinary buffer held by requests being joined, all pipes
// together: many pipes each near the 1 MiB cap would otherwise hold hundreds
// of MiB.
uint32_t gJoining = 0;

uint32_t finish(CSFile *pipe, Call *c)
{
    // Whole: it is no longer being joined.
    c->unclaim();
    // The answer is built over the request: room for an ordinary one.
    if (!c->reserve(std::max<uint32_t>(c->length + 64, CS_RPC_BUFFER_SIZE))) {
        freeCall(pipe);
        return outOfMemory();
    }
    // Authenticated calls are not served. The fragment size stays what the
    // bind gave: a tiny one would make fragments without room for a stub.
    if (c->authLength != 0) {
        c->authLength = 0;
        fault(c, CS_RPC_OP_RANGE_ERROR);
        return 0;
    }
    switch (c->ptype) {
    case CS_RPC_BIND:
    case CS_RPC_ALTER_CONTEXT:
        bind(pipe, c);
        return 0;
    case CS_RPC_REQUEST:
        return request(pipe, c);
    case CS_RPC_AUTH3:
        // It wants no RPC answer, but the write that carried it still needs
        // its own: "answered later" would leave the client's write waiting
        // for good. Taken, and nothing to read.
        freeCall(pipe);
        return 0;
    default:
        freeCall(pipe);
        return csErrorReturn(0xC00000BBu, 0xFFFF0002u);
    }
}

}  // namespace

Call::~Call()
{
    unclaim();
    delete[] data;
}

bool Call::claim(uint32_t n)
{
    const uint32_t beyond = n > CS_RPC_BUFFER_SIZE ? n - CS_RPC_BUFFER_SIZE : 0;
    if (beyond <= claimed)
        return true;
    if (gJoining - claimed + beyond > CS_RPC_MAX_JOINING)
        return false;
    gJoining += beyond - claimed;
    claimed = beyond;
    return true;
}

void Call::unclaim()
{
    gJoining -= claimed;
    claimed = 0;
}

bool Call::reserve(uint32_t n)
{
    if (n <= capacity)
        return true;
    uint8_t *bigger = new (std::nothrow) uint8_t[n];
    if (!bigger)
        return false;
    if (length)
        std::memcpy(bigger, data, length);
    delete[] data;
    data = bigger;
    capacity = n;
    return true;
}

void freeCall(CSFile *pipe)
{
    delete callOf(pipe);
    pipe->callState = nullptr;
}

uint32_t outOfMemory() { return csErrorReturn(0xC0000023u, (122u << 16) | 1u); }
uint32_t badPipe() { return csErrorReturn(0xC00000ADu, (230u << 16) | 1u); }

}  // namespace rpc

using namespace rpc;

extern "C" {

uint32_t csDcerpcWrite(CSFile *pipe, const uint8_t *data, uint32_t length, uint32_t forceLast)
{
    if (!pipe || !pipe->pipe || (!data && length))
        return badPipe();
    Call *c = callOf(pipe);
    // A write while an answer waits unread: the answer is lost and the
    // write fails, so the client learns it is out of step.
    if (c && c->state != kCollecting) {
        freeCall(pipe);
        return outOfMemory();
    }
    if (!c) {
        c = new (std::nothrow) Call;
        if (!c)
            return outOfMemory();
        pipe->callState = c;
    }
    for (;;) {
        if (!c->inFragment) {
            if (length == 0)
                return 0;
            // The header may be split over writes: keep its bytes until whole.
            uint32_t want = c->headerHave < kCommonHeader ? kCommonHeader : headerLength(c);
            uint32_t take = std::min(want - c->headerHave, length);
            std::memcpy(c->header + c->headerHave, data, take);
            c->headerHave += take;
            data += take;
            length -= take;
            if (c->headerHave < headerLength(c) || c->headerHave < kCommonHeader)
                continue;
            takeHeader(c);
            c->headerHave = 0;
            const uint32_t head = c->ptype == CS_RPC_REQUEST ? kRequestHeader : kCommonHeader;
            if (c->fragLength < head) {
                freeCall(pipe);
                return csErrorReturn(0xC000000Du, (87u << 16) | 1u);
            }
            const uint32_t body = c->fragLength - head;
            if (uint64_t(c->length) + body > CS_RPC_MAX_REQUEST) {
                freeCall(pipe);
                return outOfMemory();
            }
            const uint32_t room =
                std::max(c->length + body, std::min<uint32_t>(2 * c->capacity, CS_RPC_MAX_REQUEST));
            if (!c->claim(room) || !c->reserve(room)) {
                freeCall(pipe);
                return outOfMemory();
            }
            c->remainder = body;
            c->inFragment = true;
            c->last = forceLast || (c->flags & CS_RPC_LAST_FRAG) ? 1 : 0;
        }
        // A fragment takes only its own body; what follows begins the next one.
        uint32_t take = std::min(c->remainder, length);
        if (take)
            std::memcpy(c->data + c->length, data, take);
        c->length += take;
        c->remainder -= take;
        data += take;
        length -= take;
        if (c->remainder)
            return 0;
        c->inFragment = false;
        // Bytes after the last fragment belong to no call: a message pipe
        // carries one PDU a message.
        if (c->last)
            return finish(pipe, c);
    }
}

void csDcerpcFreeCall(void *call) { delete static_cast<Call *>(call); }

}  // extern "C"
