// SMB2 header (64 bytes) and the SMB3 transform header (52 bytes), little-endian.
#include "cmsmbheader.h"

#include <cstring>
#include <unistd.h>

namespace {

void readU64(CMBufferReader *r, CMUint64 *v)
{
    cmBufferReadUint32(r, &v->low);
    cmBufferReadUint32(r, &v->high);
}

void writeU64(CMBufferWriter *w, const CMUint64 &v)
{
    cmBufferWriteUint32(w, v.low);
    cmBufferWriteUint32(w, v.high);
}

// Offset of a header's first byte from the origin of the reader it lies in.
uint32_t startOffset(const uint8_t *start, const CMBufferReader *reader)
{
    return (uint32_t)(start - cmBufferReaderGetStart(reader));
}

}  // namespace

extern "C" {

const uint8_t cmSmb2ProtocolId[4] = {0xFE, 'S', 'M', 'B'};
const uint8_t cmSmb2TrnsfrmHdrProtocolId[4] = {0xFD, 'S', 'M', 'B'};

void cmSmb2HeaderRead(CMSmb2Header *h, CMBufferReader *reader)
{
    h->_start = cmBufferReaderGetPosition(reader);
    cmBufferReaderSkip(reader, 4);
    cmBufferReadUint16(reader, &h->size);
    cmBufferReadUint16(reader, &h->creditCharge);
    cmBufferReadUint32(reader, &h->status);
    cmBufferReadUint16(reader, &h->command);
    cmBufferReadUint16(reader, &h->credits);
    cmBufferReadUint32(reader, &h->flags);
    cmBufferReadUint32(reader, &h->next);
    readU64(reader, &h->mid);
    if (h->flags & CM_SMB2_FLAG_ASYNC) {
        readU64(reader, &h->aid);
        h->pid = h->tid = 0;
    } else {
        h->aid.low = h->aid.high = 0;
        cmBufferReadUint32(reader, &h->pid);
        cmBufferReadUint32(reader, &h->tid);
    }
    readU64(reader, &h->sid);
    cmBufferReadBytes(reader, h->signature, sizeof h->signature);
}

void cmSmb2HeaderWrite(const CMSmb2Header *h, CMBufferWriter *writer)
{
    cmBufferWriteBytes(writer, cmSmb2ProtocolId, 4);
    cmBufferWriteUint16(writer, CM_SMB2_HEADER_SIZE);
    cmBufferWriteUint16(writer, h->creditCharge);
    cmBufferWriteUint32(writer, h->status);
    cmBufferWriteUint16(writer, h->command);
    cmBufferWriteUint16(writer, h->credits);
    cmBufferWriteUint32(writer, h->flags);
    cmBufferWriteUint32(writer, h->next);
    writeU64(writer, h->mid);
    if (h->flags & CM_SMB2_FLAG_ASYNC) {
        writeU64(writer, h->aid);
    } else {
        cmBufferWriteUint32(writer, h->pid);
        cmBufferWriteUint32(writer, h->tid);
    }
    writeU64(writer, h->sid);
    cmBufferWriteBytes(writer, h->signature, sizeof h->signature);
}

void cmSmb2HeaderInitForRequest(CMSmb2Header *h, const CMBufferWriter *writer, uint16_t command)
{
    std::memset(h, 0, sizeof *h);
    h->size = CM_SMB2_HEADER_SIZE;
    h->_start = cmBufferWriterGetPosition(writer);
    h->command = command;
    h->creditCharge = 0;
    h->credits = 1;
    h->pid = (uint32_t)getpid();
}

void cmSmb2HeaderInitForResponse(CMSmb2Header *h, const CMBufferWriter *writer, uint16_t credits)
{
    std::memset(h, 0, sizeof *h);
    h->size = CM_SMB2_HEADER_SIZE;
    cmSmb2HeaderSetForResponse(h, writer, credits);
}

void cmSmb2HeaderSetForResponse(CMSmb2Header *h, const CMBufferWriter *writer, uint16_t credits)
{
    h->_start = cmBufferWriterGetPosition(writer);
    h->credits = credits > CM_SMB2_MAX_CREDITS ? CM_SMB2_MAX_CREDITS : credits;
    h->flags |= CM_SMB2_FLAG_RESPONSE;
}

uint32_t cmSmb2HeaderGetReaderOffset(const CMSmb2Header *h, const CMBufferReader *reader)
{
    return (uint32_t)(cmBufferReaderGetPosition(reader) - h->_start);
}

uint32_t cmSmb2HeaderGetWriterOffset(const CMSmb2Header *h, const CMBufferWriter *writer)
{
    return (uint32_t)(cmBufferWriterGetPosition(writer) - h->_start);
}

void cmSmb2HeaderSetReaderOffset(const CMSmb2Header *h, CMBufferReader *reader, uint32_t offset)
{
    uint64_t target = (uint64_t)startOffset(h->_start, reader) + offset;
    cmBufferReaderSetOffset(reader, target > UINT32_MAX ? UINT32_MAX : (uint32_t)target);
}

void cmSmb2HeaderAlignReader(const CMSmb2Header *h, CMBufferReader *reader, uint32_t alignment)
{
    cmBufferReaderAlign(reader, h->_start, alignment);
}

uint32_t cmSmb2HeaderAlignWriter(const CMSmb2Header *h, CMBufferWriter *writer, uint32_t alignment)
{
    return cmBufferWriterAlign(writer, h->_start, alignment);
}

int cmSmb2HeaderShiftNext(const CMSmb2Header *h, CMBufferReader *reader)
{
    // Integers against the bytes left, never pointer sums: a NextCommand near
    // 2^32 must not wrap, and a next header inside this one would loop.
    uintptr_t start = reinterpret_cast<uintptr_t>(h->_start);
    uintptr_t origin = reinterpret_cast<uintptr_t>(cmBufferReaderGetStart(reader));
    if (h->next < CM_SMB2_HEADER_SIZE || start < origin || start - origin > reader->length)
        return 0;
    uint64_t available = reader->length - (start - origin);
    if ((uint64_t)h->next + CM_SMB2_HEADER_SIZE > available)
        return 0;
    cmBufferReaderSetOffset(reader, (uint32_t)(start - origin) + h->next);
    return 1;
}

void cmSmb2TransformHeaderRead(CMSmb2TransformHeader *h, CMBufferReader *reader)
{
    h->_start = cmBufferReaderGetPosition(reader);
    cmBufferReaderSkip(reader, 4);
    cmBufferReadBytes(reader, h->signature, sizeof h->signature);
    cmBufferReadBytes(reader, h->nonce, sizeof h->nonce);
    cmBufferReadUint32(reader, &h->originalMsgSize);
    cmBufferReaderSkip(reader, 2);
    cmBufferReadUint16(reader, &h->flags);
    readU64(reader, &h->sid);
}

void cmSmb2TransformHeaderWrite(const CMSmb2TransformHeader *h, CMBufferWriter *writer)
{
    cmBufferWriteBytes(writer, cmSmb2TrnsfrmHdrProtocolId, 4);
    cmBufferWriterSkip(writer, sizeof h->signature);
    cmBufferWriteBytes(writer, h->nonce, sizeof h->nonce);
    cmBufferWriteUint32(writer, h->originalMsgSize);
    cmBufferWriteUint16(writer, 0);
    cmBufferWriteUint16(writer, h->flags);
    writeU64(writer, h->sid);
}

}  // extern "C"
