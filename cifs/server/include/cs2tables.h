/* Rows of two SMB2 tables whose commands live elsewhere: the create
 * contexts of CREATE (tag, bit, parse, respond; the apply step belongs to
 * CREATE) and the control codes of IOCTL. Also the bounded walk over a
 * CREATE's context chain and the packing of the contexts it answers. */
#ifndef CS2TABLES_H
#define CS2TABLES_H

#include "cmbuffer.h"
#include "cmtypes.h"
#include "csfiles.h"

#define CS2_CONTEXT_SECD 0x01u
#define CS2_CONTEXT_DHNQ 0x02u
#define CS2_CONTEXT_DHNC 0x04u
#define CS2_CONTEXT_ALSI 0x08u
#define CS2_CONTEXT_MXAC 0x10u
#define CS2_CONTEXT_ROWS 5u

/* What one CREATE's contexts asked for. Positions point into the request. */
typedef struct CS2CreateContextState {
    uint32_t bits;
    const uint8_t *securityDescriptor;
    uint32_t securityDescriptorLength;
    const uint8_t *reconnect;
    CMUint64 allocationSize;
} CS2CreateContextState;

/* 1 when the context is taken, 0 when it is not. */
typedef int (*CS2ContextParse)(CMBufferReader *reader, uint32_t length, CS2CreateContextState *state);
/* The bytes written. */
typedef uint32_t (*CS2ContextRespond)(CMBufferWriter *writer);

typedef struct CS2ContextRow {
    char tag[4];
    uint32_t bit;
    CS2ContextParse parse;
    CS2ContextRespond respond; /* null: nothing answered */
} CS2ContextRow;

VX_API int csSmb2ParseMxAc(CMBufferReader *reader, uint32_t length, CS2CreateContextState *state);
VX_API uint32_t csSmb2PackMxAc(CMBufferWriter *writer);
VX_API int csSmb2ParseSecD(CMBufferReader *reader, uint32_t length, CS2CreateContextState *state);
VX_API int csSmb2ParseDHnQ(CMBufferReader *reader, uint32_t length, CS2CreateContextState *state);
VX_API int csSmb2ParseDHnC(CMBufferReader *reader, uint32_t length, CS2CreateContextState *state);
VX_API int csSmb2ParseALSi(CMBufferReader *reader, uint32_t length, CS2CreateContextState *state);

/* The row of a context name, or null. */
VX_API const CS2ContextRow *cs2FindCreateContext(const uint8_t *name, uint32_t length);
VX_API const CS2ContextRow *cs2CreateContextRow(uint32_t index);

/* Walks the chain of contexts at message + offset, length bytes, every
 * field inside the message and each context: 0 with the state filled and
 * *allAccepted set, or 0xC000000D. */
VX_API uint32_t cs2ParseCreateContexts(const uint8_t *message, uint32_t messageLength, uint32_t offset,
                                       uint32_t length, CS2CreateContextState *state, int *allAccepted);
/* Writes the answered contexts (each 8-aligned) at the writer; returns the
 * CreateContextsLength, 0 when none answers or they do not fit. */
VX_API uint32_t cs2PackCreateContexts(CMBufferWriter *writer, const CS2CreateContextState *state);

/* IOCTL: the control context of a row's handler. */
typedef struct CS2IoctlContext {
    CSFile *file;              /* rows with CS2_IOCTL_NEEDS_FILE */
    const uint32_t *sessionId; /* rows with CS2_IOCTL_SESSION */
    uint32_t code;
    const uint8_t *input;
    uint32_t inputCount;
    uint32_t maxOutputResponse;
    uint32_t flags;
    CMBufferWriter *output;
} CS2IoctlContext;

#define CS2_IOCTL_NEEDS_FILE 0x01u
#define CS2_IOCTL_SESSION 0x02u
#define CS2_IOCTL_ROWS 8u

typedef uint32_t (*CS2IoctlHandler)(CS2IoctlContext *context);

typedef struct CS2IoctlRow {
    uint32_t code;
    uint32_t flags;
    CS2IoctlHandler handler; /* null: answered "not found" */
} CS2IoctlRow;

VX_API uint32_t csSmb2IoctlObjectId(CS2IoctlContext *context);
VX_API uint32_t cs2FsctlPipeTransceive(CS2IoctlContext *context);
VX_API uint32_t cs2FsctlValidateNegotiate(CS2IoctlContext *context);
/* The row of a control code, or null. */
VX_API const CS2IoctlRow *cs2FindIoctlMethod(uint32_t code);

#endif
