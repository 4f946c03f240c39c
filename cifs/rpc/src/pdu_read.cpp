// Giving the answer back: cut into fragments no longer than the client
// accepts, each read taking as much of the current fragment as fits.
#include "dcerpc_call.h"

#include <algorithm>
#include <cstring>

namespace rpc {

namespace {

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

// The longest fragment for this pipe: what the client's bind allowed, bound
// by a carrier's own limit, and never below what every client accepts.
uint32_t fragmentSize(const CSFile *pipe)
{
    uint32_t size = pipe->maxResponseFragment ? pipe->maxResponseFragment : CS_RPC_DEFAULT_FRAGMENT;
    if (pipe->pipeOutputLimit)
        size = std::min(size, pipe->pipeOutputLimit);
    return std::max(size, CS_RPC_MIN_FRAGMENT);
}

void startFragment(const CSFile *pipe, Call *c)
{
    const bool big = c->bigEndian();
    const bool withStub = c->ptype == CS_RPC_RESPONSE || c->ptype == CS_RPC_FAULT;
    const uint32_t head = withStub ? kResponseHeader : kCommonHeader;
    const uint32_t left = c->length - c->offset;
    const uint32_t max = fragmentSize(pipe);
    uint8_t flags = c->offset == 0 ? CS_RPC_FIRST_FRAG : 0;
    uint32_t length = max;
    if (head + left <= max) {
        flags |= CS_RPC_LAST_FRAG;
        length = head + left;
    }
    uint8_t *h = c->fragmentHeader;
    std::memset(h, 0, sizeof c->fragmentHeader);
    h[0] = 5;
    h[1] = 0;
    h[2] = c->ptype;
    h[3] = flags;
    h[4] = c->drep0;
    h[5] = c->drep1;
    put16(h + 8, uint16_t(length), big);
    put16(h + 10, c->authLength, big);
    put32(h + 12, c->callId, big);
    if (withStub) {
        put32(h + 16, left, big);  // alloc_hint: the stub still to come
        put16(h + 20, c->contextId, big);
        h[22] = c->cancelCount;
    }
    c->fragmentHeaderLength = head;
    c->fragmentLength = length;
    c->fragmentRead = 0;
}

}  // namespace

void answer(Call *c, uint8_t ptype, uint32_t length)
{
    c->state = kAnswering;
    c->ptype = ptype;
    c->length = length;
    c->offset = 0;
    c->remainder = 0;
    c->fragmentLength = c->fragmentRead = 0;
}

// A fault's body is its status and four reserved bytes; clients that parse
// it strictly drop a connection whose fault is shorter.
void fault(Call *c, uint32_t status)
{
    put32(c->data, status, c->bigEndian());
    put32(c->data + 4, 0, false);
    c->cancelCount = 0;
    answer(c, CS_RPC_FAULT, 8);
}

}  // namespace rpc

using namespace rpc;

extern "C" {

uint32_t csDcerpcRead(CSFile *pipe, uint8_t *buffer, uint32_t size, uint32_t *remaining)
{
    if (remaining)
        *remaining = 0;
    Call *c = pipe ? callOf(pipe) : nullptr;
    if (!c || !buffer)
        return 0;
    if (c->state == kSaved) {
        // A whole PDU kept for this read; one that does not fit goes on
        // with the next read rather than being cut off.
        uint32_t n = std::min(size, c->length - c->offset);
        std::memcpy(buffer, c->data + c->offset, n);
        c->offset += n;
        if (c->offset == c->length)
            freeCall(pipe);
        else if (remaining)
            *remaining = c->length - c->offset;
        return n;
    }
    if (c->state != kAnswering)
        return 0;
    if (c->fragmentRead == c->fragmentLength)
        startFragment(pipe, c);
    uint32_t n = 0;
    while (n < size && c->fragmentRead < c->fragmentLength) {
        if (c->fragmentRead < c->fragmentHeaderLength) {
            uint32_t take = std::min(size - n, c->fragmentHeaderLength - c->fragmentRead);
            std::memcpy(buffer + n, c->fragmentHeader + c->fragmentRead, take);
            n += take;
            c->fragmentRead += take;
            continue;
        }
        uint32_t take = std::min(size - n, c->fragmentLength - c->fragmentRead);
        std::memcpy(buffer + n, c->data + c->offset, take);
        n += take;
        c->offset += take;
        c->fragmentRead += take;
    }
    const uint32_t left = c->fragmentLength - c->fragmentRead;
    if (left == 0 && c->offset == c->length)
        freeCall(pipe);
    else if (remaining)
        *remaining = left;
    return n;
}

}  // extern "C"
