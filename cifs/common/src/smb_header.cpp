// SMB1 header: 32 bytes, little-endian, PID split in two halves.
#include "cmsmbheader.h"

#include <cstring>
#include <unistd.h>

extern "C" {

const uint8_t cmSmbProtocolId[4] = {0xFF, 'S', 'M', 'B'};

void cmSmbHeaderRead(CMSmbHeader *h, CMBufferReader *reader)
{
    uint16_t pidHigh, pidLow;
    h->_start = cmBufferReaderGetPosition(reader);
    h->size = CM_SMB_HEADER_SIZE;
    cmBufferReaderSkip(reader, 4);  // the dispatcher has already classified the message
    cmBufferReadByte(reader, &h->command);
    cmBufferReadUint32(reader, &h->status);
    cmBufferReadByte(reader, &h->flags);
    cmBufferReadUint16(reader, &h->flags2);
    cmBufferReadUint16(reader, &pidHigh);
    cmBufferReadBytes(reader, h->signature, sizeof h->signature);
    cmBufferReaderSkip(reader, 2);
    cmBufferReadUint16(reader, &h->tid);
    cmBufferReadUint16(reader, &pidLow);
    cmBufferReadUint16(reader, &h->uid);
    cmBufferReadUint16(reader, &h->mid);
    h->pid = (uint32_t)pidHigh << 16 | pidLow;
}

void cmSmbHeaderWrite(const CMSmbHeader *h, CMBufferWriter *writer)
{
    cmBufferWriteBytes(writer, cmSmbProtocolId, 4);
    cmBufferWriteByte(writer, h->command);
    cmBufferWriteUint32(writer, h->status);
    cmBufferWriteByte(writer, h->flags);
    cmBufferWriteUint16(writer, h->flags2);
    cmBufferWriteUint16(writer, (uint16_t)(h->pid >> 16));
    cmBufferWriteBytes(writer, h->signature, sizeof h->signature);
    cmBufferWriteUint16(writer, 0);
    cmBufferWriteUint16(writer, h->tid);
    cmBufferWriteUint16(writer, (uint16_t)h->pid);
    cmBufferWriteUint16(writer, h->uid);
    cmBufferWriteUint16(writer, h->mid);
}

void cmSmbHeaderInitForRequest(CMSmbHeader *h, const CMBufferWriter *writer, uint8_t command)
{
    std::memset(h, 0, sizeof *h);
    h->size = CM_SMB_HEADER_SIZE;
    h->_start = cmBufferWriterGetPosition(writer);
    h->command = command;
    h->pid = (uint32_t)getpid() & 0xFFFF;
}

void cmSmbHeaderInitForResponse(CMSmbHeader *h, const CMBufferWriter *writer)
{
    std::memset(h, 0, sizeof *h);
    h->size = CM_SMB_HEADER_SIZE;
    cmSmbHeaderSetForResponse(h, writer);
}

void cmSmbHeaderSetForResponse(CMSmbHeader *h, const CMBufferWriter *writer)
{
    h->_start = cmBufferWriterGetPosition(writer);
    h->flags |= 0x80;
}

uint32_t cmSmbHeaderGetReaderOffset(const CMSmbHeader *h, const CMBufferReader *reader)
{
    return (uint32_t)(cmBufferReaderGetPosition(reader) - h->_start);
}

uint32_t cmSmbHeaderGetWriterOffset(const CMSmbHeader *h, const CMBufferWriter *writer)
{
    return (uint32_t)(cmBufferWriterGetPosition(writer) - h->_start);
}

void cmSmbHeaderSetReaderOffset(const CMSmbHeader *h, CMBufferReader *reader, uint32_t offset)
{
    uint32_t base = (uint32_t)(h->_start - cmBufferReaderGetStart(reader));
    cmBufferReaderSetOffset(reader, (uint64_t)base + offset > UINT32_MAX ? UINT32_MAX : base + offset);
}

void cmSmbHeaderAlignReader(const CMSmbHeader *h, CMBufferReader *reader, uint32_t alignment)
{
    cmBufferReaderAlign(reader, h->_start, alignment);
}

uint32_t cmSmbHeaderAlignWriter(const CMSmbHeader *h, CMBufferWriter *writer, uint32_t alignment)
{
    return cmBufferWriterAlign(writer, h->_start, alignment);
}

}  // extern "C"
