/* Bounded readers and writers over a packet descriptor, and the buffer
 * manager of the large message buffers. A reader or writer never touches
 * memory outside [origin, origin + length): reads past the end give zeros,
 * writes past the end are dropped, and the sticky overrun flag records it.
 * Test cmBufferReaderIsOverrun / cmBufferWriterIsOverrun once per message. */
#ifndef CMBUFFER_H
#define CMBUFFER_H

#include "cmrpc.h"
#include "cmtypes.h"

typedef CMRpcPacketDescriptor CMBufferReader;
typedef CMRpcPacketDescriptor CMBufferWriter;

/* Flag of the string writers: a terminator follows the text. */
#define CM_BSF_ADDNULL 0x1

/* Largest buffer the buffer manager hands out. */
#define CM_BUFMAN_MAX_SIZE 65852

VX_API void cmBufferReaderInit(CMBufferReader *reader, const uint8_t *buffer, uint32_t size);
VX_API void cmBufferWriterInit(CMBufferWriter *writer, uint8_t *buffer, uint32_t size);
VX_API void cmBufferReaderSetByteOrder(CMBufferReader *reader, int littleEndian);
VX_API void cmBufferWriterSetByteOrder(CMBufferWriter *writer, int littleEndian);
VX_API int cmBufferReaderIsOverrun(const CMBufferReader *reader);
VX_API int cmBufferWriterIsOverrun(const CMBufferWriter *writer);

VX_API uint8_t *cmBufferReaderGetPosition(const CMBufferReader *reader);
VX_API uint8_t *cmBufferWriterGetPosition(const CMBufferWriter *writer);
/* A pointer outside the buffer sets the overrun flag and moves to the end. */
VX_API void cmBufferReaderSetPosition(CMBufferReader *reader, const uint8_t *position);
VX_API void cmBufferWriterSetPosition(CMBufferWriter *writer, const uint8_t *position);
VX_API uint8_t *cmBufferReaderGetStart(const CMBufferReader *reader);
VX_API uint8_t *cmBufferWriterGetStart(const CMBufferWriter *writer);
VX_API uint32_t cmBufferReaderGetDataCount(const CMBufferReader *reader);
VX_API uint32_t cmBufferWriterGetDataCount(const CMBufferWriter *writer);
VX_API uint32_t cmBufferReaderGetRemaining(const CMBufferReader *reader);
VX_API uint32_t cmBufferWriterGetRemaining(const CMBufferWriter *writer);
VX_API void cmBufferReaderSkip(CMBufferReader *reader, uint32_t count);
VX_API void cmBufferWriterSkip(CMBufferWriter *writer, uint32_t count);
VX_API void cmBufferReaderReset(CMBufferReader *reader);
VX_API void cmBufferWriterReset(CMBufferWriter *writer);
VX_API void cmBufferReaderSetOffset(CMBufferReader *reader, uint32_t offset);
/* Make the position the new origin; returns the new length. */
VX_API uint32_t cmBufferReaderStart(CMBufferReader *reader);
VX_API uint32_t cmBufferWriterStart(CMBufferWriter *writer);
VX_API void cmBufferReaderAlign(CMBufferReader *reader, const uint8_t *start, uint32_t alignment);
/* Zero-fills up to the next multiple of alignment from start; returns the bytes added. */
VX_API uint32_t cmBufferWriterAlign(CMBufferWriter *writer, const uint8_t *start, uint32_t alignment);
/* Takes the other writer's position (and its overrun). */
VX_API void cmBufferWriterSync(CMBufferWriter *writer, const CMBufferWriter *other);
/* A sub-writer at position + offset, bounded by the writer's own end. */
VX_API void cmBufferWriterBranch(const CMBufferWriter *writer, CMBufferWriter *subWriter, uint32_t offset);
VX_API void cmBufferWriterClone(const CMBufferWriter *writer, CMBufferWriter *copy, int32_t offset);
/* copy stays at the position, the writer skips count bytes: a field filled later. */
VX_API void cmBufferWriterCloneAndSkip(CMBufferWriter *writer, CMBufferWriter *copy, uint32_t count);

VX_API void cmBufferWriteByte(CMBufferWriter *writer, uint8_t value);
VX_API void cmBufferWriteUint16(CMBufferWriter *writer, uint16_t value);
VX_API void cmBufferWriteUint32(CMBufferWriter *writer, uint32_t value);
VX_API void cmBufferWriteUint64(CMBufferWriter *writer, const CMUint64 *value);
VX_API void cmBufferWriteBytes(CMBufferWriter *writer, const void *data, uint32_t count);
VX_API void cmBufferWriteZeroes(CMBufferWriter *writer, uint32_t count);
VX_API void cmBufferWriteRandomBytes(CMBufferWriter *writer, uint32_t count);
VX_API void cmBufferWriteUuid(CMBufferWriter *writer, const uint8_t *uuid);
VX_API void cmBufferWriteUnicode(CMBufferWriter *writer, const CMWchar *wtext);
VX_API void cmBufferWriteUnicodeNoNull(CMBufferWriter *writer, const CMWchar *wtext);
VX_API void cmBufferWriteAsciiAsUnicodeN(CMBufferWriter *writer, const char *text, uint32_t count,
                                         uint32_t flags);
VX_API void cmBufferWriteString(CMBufferWriter *writer, int asAscii, const void *text, int textIsUnicode,
                                uint32_t flags);

VX_API void cmBufferReadByte(CMBufferReader *reader, uint8_t *value);
VX_API void cmBufferReadUint16(CMBufferReader *reader, uint16_t *value);
VX_API void cmBufferReadUint32(CMBufferReader *reader, uint32_t *value);
VX_API void cmBufferReadUint64(CMBufferReader *reader, CMUint64 *value);
VX_API void cmBufferReadBytes(CMBufferReader *reader, void *destination, uint32_t count);

/* Buffer manager: 65852-byte message buffers recycled last-given-first. */
VX_API int cmBufManStart(void);
/* Null for size >= 65853 or when no buffer can be had. */
VX_API uint8_t *cmBufManTake(uint32_t size);
VX_API void cmBufManGive(uint8_t *buffer);
VX_API void cmBufManShutdown(void);

#endif
