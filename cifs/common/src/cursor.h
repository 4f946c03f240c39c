// Internal: the bounded core of every reader, writer and NDR operation.
#pragma once
#include "cmrpc.h"

#include <cstring>

namespace cm {

inline uint32_t used(const CMRpcPacketDescriptor *d) { return (uint32_t)(d->current - d->origin); }
inline uint32_t left(const CMRpcPacketDescriptor *d)
{
    uint32_t u = used(d);
    return d->length > u ? d->length - u : 0;
}

inline void overrun(CMRpcPacketDescriptor *d)
{
    d->overrun = 1;
    d->current = d->origin + d->length;
}

// The next n bytes, advancing past them; null (and overrun) when they are not all there.
inline uint8_t *claim(CMRpcPacketDescriptor *d, uint32_t n)
{
    if (n > left(d)) {
        overrun(d);
        return nullptr;
    }
    uint8_t *p = d->current;
    d->current += n;
    return p;
}

// Moves to an absolute position inside [origin, origin + length]; else overrun.
inline void seek(CMRpcPacketDescriptor *d, const uint8_t *p)
{
    auto v = reinterpret_cast<uintptr_t>(p), o = reinterpret_cast<uintptr_t>(d->origin);
    if (v < o || v - o > d->length) {
        overrun(d);
        return;
    }
    d->current = d->origin + (v - o);
}

inline void put(CMRpcPacketDescriptor *d, uint64_t v, unsigned size)
{
    uint8_t *p = claim(d, size);
    if (!p)
        return;
    for (unsigned i = 0; i < size; ++i) {
        unsigned shift = d->nbo ? 8 * (size - 1 - i) : 8 * i;
        p[i] = (uint8_t)(v >> shift);
    }
}

inline uint64_t get(CMRpcPacketDescriptor *d, unsigned size)
{
    const uint8_t *p = claim(d, size);
    if (!p)
        return 0;
    uint64_t v = 0;
    for (unsigned i = 0; i < size; ++i) {
        unsigned shift = d->nbo ? 8 * (size - 1 - i) : 8 * i;
        v |= (uint64_t)p[i] << shift;
    }
    return v;
}

inline void putBytes(CMRpcPacketDescriptor *d, const void *data, uint32_t n)
{
    if (n == 0)
        return;
    if (uint8_t *p = claim(d, n))
        std::memmove(p, data, n);
}

inline void getBytes(CMRpcPacketDescriptor *d, void *out, uint32_t n)
{
    if (n == 0)
        return;
    if (const uint8_t *p = claim(d, n))
        std::memmove(out, p, n);
    else if (n)
        std::memset(out, 0, n);
}

// Pad so that (position - start) is a multiple of alignment; returns the gap.
inline uint32_t alignFrom(CMRpcPacketDescriptor *d, const uint8_t *start, uint32_t alignment, bool zero)
{
    if (alignment == 0)
        return 0;
    auto off = (uint64_t)(reinterpret_cast<uintptr_t>(d->current) - reinterpret_cast<uintptr_t>(start));
    auto gap = (uint32_t)((alignment - off % alignment) % alignment);
    uint8_t *p = claim(d, gap);
    if (!p)
        return 0;
    if (zero)
        std::memset(p, 0, gap);
    return gap;
}

}  // namespace cm
