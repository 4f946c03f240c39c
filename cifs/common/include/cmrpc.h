/* The packet descriptor: the one cursor under all packing and parsing of the
 * stack, and NDR marshalling on it. Every operation is bounded by `length`:
 * a read past the end yields zeros, a write past the end is dropped, and both
 * set the sticky `overrun` flag and leave the position at the end. Callers
 * test cmRpcIsOverrun once per message instead of checking every field. */
#ifndef CMRPC_H
#define CMRPC_H

#include "cmtypes.h"

typedef struct CMRpcPacketDescriptor {
    void *token;      /* the caller's security token, or null */
    uint8_t *current; /* position */
    uint32_t nbo;     /* 0 little-endian, else big-endian */
    uint8_t *origin;  /* buffer start; alignment is measured from it */
    uint32_t length;  /* buffer size from the origin */
    uint32_t overrun; /* sticky: some operation passed the end */
    /* Cursors the pipe framework hands to an operation also carry the
     * caller's user record and the call's call_id; null and 0 otherwise. */
    void *user;
    uint32_t callId;
} CMRpcPacketDescriptor;

/* Parse result of an NDR string: the text points into the packet and is not
 * necessarily terminated. */
typedef struct CMRpcUnicodeString {
    uint32_t size;
    uint32_t offset;
    uint32_t length;
    CMWchar *text;
} CMRpcUnicodeString;

typedef struct CMRpcAsciiString {
    uint32_t size;
    uint32_t offset;
    uint32_t length;
    char *text;
} CMRpcAsciiString;

/* NDR string flags. */
#define CM_RP_NULLTERM 0x01    /* terminator written and counted */
#define CM_RP_SIZE32 0x02      /* u32 maximum count first */
#define CM_RP_SIZE16 0x04      /* u16 count (8-bit strings without 0x02) */
#define CM_RP_FRAGMENT32 0x08  /* u32 offset 0 and u32 actual count */
#define CM_RP_INCMAXCOUNT 0x10 /* maximum count one above the characters */
#define CM_RP_DECACTCOUNT 0x20 /* actual count one below the characters */

/* Origin = position = buffer; no token. The descriptor has no room until the
 * caller sets `length` to the buffer's size. */
VX_API void cmRpcSetDescriptor(CMRpcPacketDescriptor *d, uint8_t *buffer, uint32_t bigEndian);
VX_API void cmRpcSetTokenDescriptor(CMRpcPacketDescriptor *d, uint8_t *buffer, uint32_t bigEndian,
                                    void *token);
VX_API void cmRpcResetDescriptor(CMRpcPacketDescriptor *d);
VX_API void cmRpcCloneDescriptor(const CMRpcPacketDescriptor *source, CMRpcPacketDescriptor *destination);
VX_API int32_t cmRpcSpace(const CMRpcPacketDescriptor *d);
VX_API int cmRpcIsOverrun(const CMRpcPacketDescriptor *d);

VX_API void cmRpcPackByte(CMRpcPacketDescriptor *d, uint8_t value);
VX_API void cmRpcPackUint16(CMRpcPacketDescriptor *d, uint16_t value);
VX_API void cmRpcPackUint32(CMRpcPacketDescriptor *d, uint32_t value);
VX_API void cmRpcPackUint64(CMRpcPacketDescriptor *d, uint32_t low, uint32_t high);
VX_API void cmRpcPackBytes(CMRpcPacketDescriptor *d, const void *data, uint32_t count);
VX_API void cmRpcPackZeroes(CMRpcPacketDescriptor *d, uint32_t count);
VX_API void cmRpcPackSkip(CMRpcPacketDescriptor *d, uint32_t count);

VX_API void cmRpcParseByte(CMRpcPacketDescriptor *d, uint8_t *value);
VX_API void cmRpcParseUint16(CMRpcPacketDescriptor *d, uint16_t *value);
VX_API void cmRpcParseUint32(CMRpcPacketDescriptor *d, uint32_t *value);
VX_API void cmRpcParseUint64(CMRpcPacketDescriptor *d, uint32_t *low, uint32_t *high);
VX_API void cmRpcParseBytes(CMRpcPacketDescriptor *d, void *destination, uint32_t count);
VX_API void cmRpcParseSkip(CMRpcPacketDescriptor *d, uint32_t count);

VX_API void cmRpcAllign(CMRpcPacketDescriptor *d, uint32_t alignment);
VX_API void cmRpcAllignZero(CMRpcPacketDescriptor *d, uint32_t alignment);

VX_API int cmRpcPackUnicode(CMRpcPacketDescriptor *d, const CMWchar *wtext, uint32_t flags);
VX_API int cmRpcPackWcharAsUnicode(CMRpcPacketDescriptor *d, const CMWchar *wtext, uint32_t flags);
VX_API int cmRpcPackAsciiAsUnicode(CMRpcPacketDescriptor *d, const char *text, uint32_t flags);
VX_API void cmRpcPackAscii(CMRpcPacketDescriptor *d, const char *text, uint32_t flags);
VX_API void cmRpcParseAscii(CMRpcPacketDescriptor *d, CMRpcAsciiString *result, uint32_t flags);
VX_API void cmRpcParseUnicode(CMRpcPacketDescriptor *d, CMRpcUnicodeString *result, uint32_t flags);
VX_API int32_t cmRpcTcharAsUnicodeLength(const CMWchar *wtext);

VX_API void cmRpcPackUuid(CMRpcPacketDescriptor *d, const uint8_t *uuid);
VX_API void cmRpcParseUuid(CMRpcPacketDescriptor *d, uint8_t *uuid);
VX_API void cmRpcPackTimeAsUTC(CMRpcPacketDescriptor *d, uint32_t msLow, uint32_t msHigh);

#endif
