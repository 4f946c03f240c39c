/* SMB1, SMB2 and SMB3 transform headers as records, with their readers,
 * writers and offsets measured from the header's first byte. */
#ifndef CMSMBHEADER_H
#define CMSMBHEADER_H

#include "cmbuffer.h"
#include "cmtypes.h"

#define CM_SMB_HEADER_SIZE 32
#define CM_SMB2_HEADER_SIZE 64
#define CM_SMB2_TRANSFORM_HEADER_SIZE 52

#define CM_SMB2_FLAG_RESPONSE 0x1
#define CM_SMB2_FLAG_ASYNC 0x2
/* Credits granted in one response at most. */
#define CM_SMB2_MAX_CREDITS 30

VX_API const uint8_t cmSmbProtocolId[4];
VX_API const uint8_t cmSmb2ProtocolId[4];
VX_API const uint8_t cmSmb2TrnsfrmHdrProtocolId[4];

typedef struct CMSmbHeader {
    uint8_t *_start;
    uint16_t size;
    uint8_t command;
    uint32_t status;
    uint8_t flags;
    uint16_t flags2;
    uint32_t pid; /* PIDHigh << 16 | PID */
    uint8_t signature[8];
    uint16_t tid;
    uint16_t uid;
    uint16_t mid;
} CMSmbHeader;

typedef struct CMSmb2Header {
    uint8_t *_start;
    uint16_t size;
    uint16_t creditCharge;
    uint32_t status;
    uint16_t command;
    uint16_t credits;
    uint32_t flags;
    uint32_t next;
    CMUint64 mid;
    CMUint64 aid;
    uint32_t pid;
    uint32_t tid;
    CMUint64 sid;
    uint8_t signature[16];
} CMSmb2Header;

typedef struct CMSmb2TransformHeader {
    uint8_t *_start;
    uint8_t signature[16];
    uint8_t nonce[16];
    uint32_t originalMsgSize;
    uint16_t flags;
    CMUint64 sid;
} CMSmb2TransformHeader;

VX_API void cmSmbHeaderRead(CMSmbHeader *header, CMBufferReader *reader);
VX_API void cmSmbHeaderWrite(const CMSmbHeader *header, CMBufferWriter *writer);
VX_API void cmSmbHeaderInitForRequest(CMSmbHeader *header, const CMBufferWriter *writer, uint8_t command);
VX_API void cmSmbHeaderInitForResponse(CMSmbHeader *header, const CMBufferWriter *writer);
VX_API void cmSmbHeaderSetForResponse(CMSmbHeader *header, const CMBufferWriter *writer);
VX_API uint32_t cmSmbHeaderGetReaderOffset(const CMSmbHeader *header, const CMBufferReader *reader);
VX_API uint32_t cmSmbHeaderGetWriterOffset(const CMSmbHeader *header, const CMBufferWriter *writer);
VX_API void cmSmbHeaderSetReaderOffset(const CMSmbHeader *header, CMBufferReader *reader, uint32_t offset);
VX_API void cmSmbHeaderAlignReader(const CMSmbHeader *header, CMBufferReader *reader, uint32_t alignment);
VX_API uint32_t cmSmbHeaderAlignWriter(const CMSmbHeader *header, CMBufferWriter *writer, uint32_t alignment);

VX_API void cmSmb2HeaderRead(CMSmb2Header *header, CMBufferReader *reader);
VX_API void cmSmb2HeaderWrite(const CMSmb2Header *header, CMBufferWriter *writer);
VX_API void cmSmb2HeaderInitForRequest(CMSmb2Header *header, const CMBufferWriter *writer, uint16_t command);
VX_API void cmSmb2HeaderInitForResponse(CMSmb2Header *header, const CMBufferWriter *writer, uint16_t credits);
VX_API void cmSmb2HeaderSetForResponse(CMSmb2Header *header, const CMBufferWriter *writer, uint16_t credits);
VX_API uint32_t cmSmb2HeaderGetReaderOffset(const CMSmb2Header *header, const CMBufferReader *reader);
VX_API uint32_t cmSmb2HeaderGetWriterOffset(const CMSmb2Header *header, const CMBufferWriter *writer);
VX_API void cmSmb2HeaderSetReaderOffset(const CMSmb2Header *header, CMBufferReader *reader, uint32_t offset);
VX_API void cmSmb2HeaderAlignReader(const CMSmb2Header *header, CMBufferReader *reader, uint32_t alignment);
VX_API uint32_t cmSmb2HeaderAlignWriter(const CMSmb2Header *header, CMBufferWriter *writer,
                                        uint32_t alignment);
/* 1 and the reader at the next compounded header when there is a whole one
 * (at least 64 bytes past this header's start); else 0, reader untouched. */
VX_API int cmSmb2HeaderShiftNext(const CMSmb2Header *header, CMBufferReader *reader);

VX_API void cmSmb2TransformHeaderRead(CMSmb2TransformHeader *header, CMBufferReader *reader);
/* The 16 signature bytes are skipped: they are filled in after encryption. */
VX_API void cmSmb2TransformHeaderWrite(const CMSmb2TransformHeader *header, CMBufferWriter *writer);

#endif
