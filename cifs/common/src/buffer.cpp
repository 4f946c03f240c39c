// Bounded readers and writers of messages: positions relative to an origin,
// sub-writers for fields filled later, alignment and string forms.
#include "cmbuffer.h"
#include "cmcrypt.h"
#include "cmstring.h"
#include "cursor.h"

#include <cstdlib>

using namespace cm;

namespace {

void init(CMRpcPacketDescriptor *d, const uint8_t *buffer, uint32_t size)
{
    d->token = nullptr;
    d->origin = d->current = const_cast<uint8_t *>(buffer);
    d->nbo = 0;
    d->length = buffer ? size : 0;
    d->overrun = 0;
}

const CMWchar *evenText(const void *s)
{
    auto v = reinterpret_cast<uintptr_t>(s);
    return reinterpret_cast<const CMWchar *>((v + 1) & ~uintptr_t(1));
}

// UTF-16 text goes on the wire little-endian, as it is held in memory.
void putUnits(CMBufferWriter *w, const CMWchar *units, uint32_t n)
{
    uint8_t *p = claim(w, n * 2);
    if (!p)
        return;
    for (uint32_t i = 0; i < n; ++i) {
        p[2 * i] = (uint8_t)units[i];
        p[2 * i + 1] = (uint8_t)(units[i] >> 8);
    }
}

void putNarrowed(CMBufferWriter *w, const CMWchar *units, uint32_t n)
{
    uint8_t *p = claim(w, n);
    if (!p)
        return;
    for (uint32_t i = 0; i < n; ++i)
        p[i] = (uint8_t)units[i];
}

}  // namespace

extern "C" {

void cmBufferReaderInit(CMBufferReader *reader, const uint8_t *buffer, uint32_t size)
{
    init(reader, buffer, size);
}
void cmBufferWriterInit(CMBufferWriter *writer, uint8_t *buffer, uint32_t size)
{
    init(writer, buffer, size);
}
void cmBufferReaderSetByteOrder(CMBufferReader *reader, int littleEndian)
{
    reader->nbo = littleEndian ? 0 : 1;
}
void cmBufferWriterSetByteOrder(CMBufferWriter *writer, int littleEndian)
{
    writer->nbo = littleEndian ? 0 : 1;
}
int cmBufferReaderIsOverrun(const CMBufferReader *reader) { return reader->overrun != 0; }
int cmBufferWriterIsOverrun(const CMBufferWriter *writer) { return writer->overrun != 0; }

uint8_t *cmBufferReaderGetPosition(const CMBufferReader *reader) { return reader->current; }
uint8_t *cmBufferWriterGetPosition(const CMBufferWriter *writer) { return writer->current; }
void cmBufferReaderSetPosition(CMBufferReader *reader, const uint8_t *position) { seek(reader, position); }
void cmBufferWriterSetPosition(CMBufferWriter *writer, const uint8_t *position) { seek(writer, position); }
uint8_t *cmBufferReaderGetStart(const CMBufferReader *reader) { return reader->origin; }
uint8_t *cmBufferWriterGetStart(const CMBufferWriter *writer) { return writer->origin; }
uint32_t cmBufferReaderGetDataCount(const CMBufferReader *reader) { return used(reader); }
uint32_t cmBufferWriterGetDataCount(const CMBufferWriter *writer) { return used(writer); }
uint32_t cmBufferReaderGetRemaining(const CMBufferReader *reader) { return left(reader); }
uint32_t cmBufferWriterGetRemaining(const CMBufferWriter *writer) { return left(writer); }
void cmBufferReaderSkip(CMBufferReader *reader, uint32_t count) { claim(reader, count); }
void cmBufferWriterSkip(CMBufferWriter *writer, uint32_t count) { claim(writer, count); }
void cmBufferReaderReset(CMBufferReader *reader) { reader->current = reader->origin; }
void cmBufferWriterReset(CMBufferWriter *writer) { writer->current = writer->origin; }

void cmBufferReaderSetOffset(CMBufferReader *reader, uint32_t offset)
{
    if (offset > reader->length)
        overrun(reader);
    else
        reader->current = reader->origin + offset;
}

uint32_t cmBufferReaderStart(CMBufferReader *reader)
{
    reader->length -= used(reader);
    reader->origin = reader->current;
    return reader->length;
}

uint32_t cmBufferWriterStart(CMBufferWriter *writer) { return cmBufferReaderStart(writer); }

void cmBufferReaderAlign(CMBufferReader *reader, const uint8_t *start, uint32_t alignment)
{
    alignFrom(reader, start, alignment, false);
}

uint32_t cmBufferWriterAlign(CMBufferWriter *writer, const uint8_t *start, uint32_t alignment)
{
    return alignFrom(writer, start, alignment, true);
}

void cmBufferWriterSync(CMBufferWriter *writer, const CMBufferWriter *other)
{
    seek(writer, other->current);
    if (other->overrun)
        writer->overrun = 1;
}

void cmBufferWriterBranch(const CMBufferWriter *writer, CMBufferWriter *subWriter, uint32_t offset)
{
    // The sub-writer ends where the writer ends, so an offset never buys room
    // past the buffer.
    uint32_t room = left(writer);
    uint32_t skip = offset < room ? offset : room;
    *subWriter = *writer;
    subWriter->origin = subWriter->current = writer->current + skip;
    subWriter->length = room - skip;
    subWriter->overrun = writer->overrun || offset > room;
}

void cmBufferWriterClone(const CMBufferWriter *writer, CMBufferWriter *copy, int32_t offset)
{
    *copy = *writer;
    int64_t target = (int64_t)used(writer) + offset;
    if (target < 0 || target > (int64_t)writer->length)
        overrun(copy);
    else
        copy->current = copy->origin + target;
}

void cmBufferWriterCloneAndSkip(CMBufferWriter *writer, CMBufferWriter *copy, uint32_t count)
{
    *copy = *writer;
    claim(writer, count);
}

void cmBufferWriteByte(CMBufferWriter *writer, uint8_t value) { put(writer, value, 1); }
void cmBufferWriteUint16(CMBufferWriter *writer, uint16_t value) { put(writer, value, 2); }
void cmBufferWriteUint32(CMBufferWriter *writer, uint32_t value) { put(writer, value, 4); }
void cmBufferWriteUint64(CMBufferWriter *writer, const CMUint64 *value)
{
    put(writer, (uint64_t)value->high << 32 | value->low, 8);
}
void cmBufferWriteBytes(CMBufferWriter *writer, const void *data, uint32_t count)
{
    putBytes(writer, data, count);
}
void cmBufferWriteZeroes(CMBufferWriter *writer, uint32_t count) { cmRpcPackZeroes(writer, count); }
// These bytes can end up as challenges or nonces: the kernel's generator, not rand().
void cmBufferWriteRandomBytes(CMBufferWriter *writer, uint32_t count)
{
    if (uint8_t *p = claim(writer, count))
        cmCreateRandomByteSequence(p, count);
}

void cmBufferWriteUuid(CMBufferWriter *writer, const uint8_t *uuid) { cmRpcPackUuid(writer, uuid); }

void cmBufferWriteUnicode(CMBufferWriter *writer, const CMWchar *wtext)
{
    cmBufferWriteUnicodeNoNull(writer, wtext);
    cmBufferWriteUint16(writer, 0);
}

void cmBufferWriteUnicodeNoNull(CMBufferWriter *writer, const CMWchar *wtext)
{
    const CMWchar *w = evenText(wtext);
    putUnits(writer, w, cmWStrlen(w));
}

void cmBufferWriteAsciiAsUnicodeN(CMBufferWriter *writer, const char *text, uint32_t count, uint32_t flags)
{
    uint32_t n = (uint32_t)strnlen(text, count);
    uint8_t *p = claim(writer, n * 2);
    if (p) {
        for (uint32_t i = 0; i < n; ++i) {
            p[2 * i] = (uint8_t)text[i];
            p[2 * i + 1] = 0;
        }
    }
    if (flags & CM_BSF_ADDNULL)
        cmBufferWriteUint16(writer, 0);
}

void cmBufferWriteString(CMBufferWriter *writer, int asAscii, const void *text, int textIsUnicode,
                         uint32_t flags)
{
    if (textIsUnicode) {
        const CMWchar *w = evenText(text);
        uint32_t n = cmWStrlen(w);
        if (asAscii) {
            putNarrowed(writer, w, n);
            if (flags & CM_BSF_ADDNULL)
                cmBufferWriteByte(writer, 0);
        } else {
            putUnits(writer, w, n);
            if (flags & CM_BSF_ADDNULL)
                cmBufferWriteUint16(writer, 0);
        }
        return;
    }
    auto *a = static_cast<const char *>(text);
    auto n = (uint32_t)std::strlen(a);
    if (asAscii) {
        putBytes(writer, a, n);
        if (flags & CM_BSF_ADDNULL)
            cmBufferWriteByte(writer, 0);
    } else {
        cmBufferWriteAsciiAsUnicodeN(writer, a, n, flags);
    }
}

void cmBufferReadByte(CMBufferReader *reader, uint8_t *value) { *value = (uint8_t)get(reader, 1); }
void cmBufferReadUint16(CMBufferReader *reader, uint16_t *value) { *value = (uint16_t)get(reader, 2); }
void cmBufferReadUint32(CMBufferReader *reader, uint32_t *value) { *value = (uint32_t)get(reader, 4); }
// The mirror of cmBufferWriteUint64 in either byte order.
void cmBufferReadUint64(CMBufferReader *reader, CMUint64 *value)
{
    uint64_t v = get(reader, 8);
    value->low = (uint32_t)v;
    value->high = (uint32_t)(v >> 32);
}
void cmBufferReadBytes(CMBufferReader *reader, void *destination, uint32_t count)
{
    getBytes(reader, destination, count);
}

}  // extern "C"
