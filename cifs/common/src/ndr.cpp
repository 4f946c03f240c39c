// NDR marshalling on the packet descriptor, in either byte order.
#include "cmmemory.h"
#include "cmrpc.h"
#include "cmstring.h"
#include "cmtime.h"
#include "cursor.h"

using namespace cm;

namespace {

const CMWchar *evenText(const CMWchar *s)
{
    auto v = reinterpret_cast<uintptr_t>(s);
    return reinterpret_cast<const CMWchar *>((v + 1) & ~uintptr_t(1));
}

// Units before the terminator within the bytes left; overrun when there is none.
uint32_t boundedWLen(CMRpcPacketDescriptor *d)
{
    uint32_t max = left(d) / 2;
    for (uint32_t i = 0; i < max; ++i)
        if ((d->current[2 * i] | d->current[2 * i + 1]) == 0)
            return i;
    overrun(d);
    return 0;
}

uint32_t boundedALen(CMRpcPacketDescriptor *d)
{
    uint32_t max = left(d);
    // An empty cursor may have no buffer at all: nothing to search.
    const void *z = max ? std::memchr(d->current, 0, max) : nullptr;
    if (!z) {
        overrun(d);
        return 0;
    }
    return (uint32_t)(static_cast<const uint8_t *>(z) - d->current);
}

// Claims a counted text; on overrun the result describes an empty string.
template <typename S, typename C> void claimText(CMRpcPacketDescriptor *d, S *result, uint64_t bytes)
{
    result->text = reinterpret_cast<C *>(d->current);
    if (bytes > left(d)) {
        overrun(d);
        result->size = result->offset = result->length = 0;
        result->text = reinterpret_cast<C *>(d->current);
        return;
    }
    d->current += bytes;
}

}  // namespace

extern "C" {

void cmRpcSetDescriptor(CMRpcPacketDescriptor *d, uint8_t *buffer, uint32_t bigEndian)
{
    cmRpcSetTokenDescriptor(d, buffer, bigEndian, nullptr);
}

void cmRpcSetTokenDescriptor(CMRpcPacketDescriptor *d, uint8_t *buffer, uint32_t bigEndian, void *token)
{
    d->token = token;
    d->origin = d->current = buffer;
    d->nbo = bigEndian ? 1 : 0;
    d->length = 0;
    d->overrun = 0;
    d->user = nullptr;
    d->callId = 0;
}

void cmRpcResetDescriptor(CMRpcPacketDescriptor *d) { d->current = d->origin; }

void cmRpcCloneDescriptor(const CMRpcPacketDescriptor *source, CMRpcPacketDescriptor *destination)
{
    *destination = *source;
}

int32_t cmRpcSpace(const CMRpcPacketDescriptor *d) { return (int32_t)left(d); }
int cmRpcIsOverrun(const CMRpcPacketDescriptor *d) { return d->overrun != 0; }

void cmRpcPackByte(CMRpcPacketDescriptor *d, uint8_t value) { put(d, value, 1); }
void cmRpcPackUint16(CMRpcPacketDescriptor *d, uint16_t value) { put(d, value, 2); }
void cmRpcPackUint32(CMRpcPacketDescriptor *d, uint32_t value) { put(d, value, 4); }
void cmRpcPackUint64(CMRpcPacketDescriptor *d, uint32_t low, uint32_t high)
{
    put(d, (uint64_t)high << 32 | low, 8);
}
void cmRpcPackBytes(CMRpcPacketDescriptor *d, const void *data, uint32_t count) { putBytes(d, data, count); }
void cmRpcPackZeroes(CMRpcPacketDescriptor *d, uint32_t count)
{
    if (uint8_t *p = claim(d, count))
        std::memset(p, 0, count);
}
void cmRpcPackSkip(CMRpcPacketDescriptor *d, uint32_t count) { claim(d, count); }

void cmRpcParseByte(CMRpcPacketDescriptor *d, uint8_t *value) { *value = (uint8_t)get(d, 1); }
void cmRpcParseUint16(CMRpcPacketDescriptor *d, uint16_t *value) { *value = (uint16_t)get(d, 2); }
void cmRpcParseUint32(CMRpcPacketDescriptor *d, uint32_t *value) { *value = (uint32_t)get(d, 4); }
void cmRpcParseUint64(CMRpcPacketDescriptor *d, uint32_t *low, uint32_t *high)
{
    uint64_t v = get(d, 8);
    *low = (uint32_t)v;
    *high = (uint32_t)(v >> 32);
}
void cmRpcParseBytes(CMRpcPacketDescriptor *d, void *destination, uint32_t count)
{
    getBytes(d, destination, count);
}
void cmRpcParseSkip(CMRpcPacketDescriptor *d, uint32_t count) { claim(d, count); }

void cmRpcAllign(CMRpcPacketDescriptor *d, uint32_t alignment) { alignFrom(d, d->origin, alignment, false); }
void cmRpcAllignZero(CMRpcPacketDescriptor *d, uint32_t alignment)
{
    alignFrom(d, d->origin, alignment, true);
}

int cmRpcPackUnicode(CMRpcPacketDescriptor *d, const CMWchar *wtext, uint32_t flags)
{
    wtext = evenText(wtext);
    uint32_t n = cmWStrlen(wtext);
    uint32_t count = n + (flags & CM_RP_NULLTERM ? 1 : 0);
    if (flags & CM_RP_SIZE32)
        cmRpcPackUint32(d, count + (flags & CM_RP_INCMAXCOUNT ? 1 : 0));
    if (flags & CM_RP_FRAGMENT32) {
        cmRpcPackUint32(d, 0);
        cmRpcPackUint32(d, count - (flags & CM_RP_DECACTCOUNT ? 1 : 0));
    }
    if (!d->nbo) {
        putBytes(d, wtext, n * 2);
    } else {
        for (uint32_t i = 0; i < n; ++i)
            cmRpcPackUint16(d, wtext[i]);
    }
    if (flags & CM_RP_NULLTERM)
        cmRpcPackUint16(d, 0);
    if (flags & CM_RP_SIZE32)
        cmRpcAllignZero(d, 4);
    return 0;
}

int cmRpcPackWcharAsUnicode(CMRpcPacketDescriptor *d, const CMWchar *wtext, uint32_t flags)
{
    static const CMWchar empty[1] = {0};
    return cmRpcPackUnicode(d, wtext ? wtext : empty, flags);
}

int cmRpcPackAsciiAsUnicode(CMRpcPacketDescriptor *d, const char *text, uint32_t flags)
{
    CMWchar *w = cmMemoryCloneAStringNonDebug(text);
    if (!w)
        return -1;
    cmRpcPackUnicode(d, w, flags);
    cmMemoryFreeNonDebug(w);
    return 0;
}

void cmRpcPackAscii(CMRpcPacketDescriptor *d, const char *text, uint32_t flags)
{
    uint32_t n = (uint32_t)std::strlen(text);
    uint32_t count = n + (flags & CM_RP_NULLTERM ? 1 : 0);
    if (flags & CM_RP_SIZE32) {
        cmRpcPackUint32(d, count);
    } else if (flags & CM_RP_SIZE16) {
        cmRpcPackUint16(d, (uint16_t)count);
    }
    if (flags & CM_RP_FRAGMENT32) {
        cmRpcPackUint32(d, 0);
        cmRpcPackUint32(d, count);
    }
    putBytes(d, text, n);
    if (flags & CM_RP_NULLTERM)
        cmRpcPackByte(d, 0);
}

void cmRpcParseAscii(CMRpcPacketDescriptor *d, CMRpcAsciiString *result, uint32_t flags)
{
    result->size = result->offset = 0;
    bool sized = true;
    bool sized16 = false;
    if (flags & CM_RP_SIZE32) {
        cmRpcParseUint32(d, &result->size);
    } else if (flags & CM_RP_SIZE16) {
        uint16_t s;
        cmRpcParseUint16(d, &s);
        result->size = s;
        sized16 = true;
    } else {
        sized = false;
    }
    if (flags & CM_RP_FRAGMENT32 || sized16) {
        cmRpcParseUint32(d, &result->offset);
        cmRpcParseUint32(d, &result->length);
    }
    if (!sized)
        result->size = boundedALen(d);
    if (!(flags & CM_RP_FRAGMENT32 || sized16))
        result->length = result->size;
    // Only size bytes are claimed: an actual count beyond them would let a
    // caller read past what was checked.
    if (result->length > result->size) {
        overrun(d);
        result->size = result->offset = result->length = 0;
        result->text = reinterpret_cast<char *>(d->current);
        return;
    }
    claimText<CMRpcAsciiString, char>(d, result, result->size);
}

void cmRpcParseUnicode(CMRpcPacketDescriptor *d, CMRpcUnicodeString *result, uint32_t flags)
{
    result->size = result->offset = 0;
    if (flags & CM_RP_SIZE32)
        cmRpcParseUint32(d, &result->size);
    if (flags & CM_RP_FRAGMENT32) {
        cmRpcParseUint32(d, &result->offset);
        cmRpcParseUint32(d, &result->length);
    }
    if (!(flags & CM_RP_SIZE32))
        result->size = boundedWLen(d) + 1;
    if (!(flags & CM_RP_FRAGMENT32))
        result->length = result->size;
    claimText<CMRpcUnicodeString, CMWchar>(d, result, (uint64_t)result->length * 2);
    // An odd count is padded so that a string starting on 4 bytes ends on 4;
    // a string that ends the message has no padding after it.
    if ((result->length & 1) && !d->overrun && left(d) >= 2)
        d->current += 2;
}

int32_t cmRpcTcharAsUnicodeLength(const CMWchar *wtext) { return (int32_t)cmWStrlen(wtext); }

void cmRpcPackUuid(CMRpcPacketDescriptor *d, const uint8_t *uuid)
{
    cmRpcPackUint32(d, (uint32_t)uuid[0] | (uint32_t)uuid[1] << 8 | (uint32_t)uuid[2] << 16 |
                           (uint32_t)uuid[3] << 24);
    cmRpcPackUint16(d, (uint16_t)(uuid[4] | uuid[5] << 8));
    cmRpcPackUint16(d, (uint16_t)(uuid[6] | uuid[7] << 8));
    putBytes(d, uuid + 8, 2);
    putBytes(d, uuid + 10, 6);
}

void cmRpcParseUuid(CMRpcPacketDescriptor *d, uint8_t *uuid)
{
    uint32_t d1;
    uint16_t d2, d3;
    cmRpcParseUint32(d, &d1);
    cmRpcParseUint16(d, &d2);
    cmRpcParseUint16(d, &d3);
    const uint8_t fields[8] = {(uint8_t)d1, (uint8_t)(d1 >> 8), (uint8_t)(d1 >> 16), (uint8_t)(d1 >> 24),
                               (uint8_t)d2, (uint8_t)(d2 >> 8), (uint8_t)d3,         (uint8_t)(d3 >> 8)};
    std::memcpy(uuid, fields, 8);
    getBytes(d, uuid + 8, 2);
    getBytes(d, uuid + 10, 6);
}

void cmRpcPackTimeAsUTC(CMRpcPacketDescriptor *d, uint32_t msLow, uint32_t msHigh)
{
    uint32_t low, high;
    cmCifsTimeToUTC(msLow, msHigh, &low, &high);
    cmRpcPackUint64(d, low, high);
}

}  // extern "C"
