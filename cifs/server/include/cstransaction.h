/* The SMB1 transactions: TRANSACTION, TRANSACTION2 and NT_TRANSACT routed
 * by name or code to their handlers with one context, the security
 * descriptor subcommands, the answer of a pipe that answers later, and the
 * packers of the LAN Manager remote API. */
#ifndef CSTRANSACTION_H
#define CSTRANSACTION_H

#include "cmbuffer.h"
#include "csdispatch.h"
#include "cstrans2.h"
#include "cmtypes.h"

#define CS_TRANSACTION_NAME_SIZE 256

/* request: the blocks (inside the message), the answer's room and the
 * answer, as TRANSACTION2's subcommands see them. TRANSACTION adds its
 * name, setup words and the answer's setup; its handler writes the setup
 * words, ByteCount, pad, parameters and data from request.outParameters and
 * sets the pointers and counts of what it wrote. */
typedef struct CSTransactionContext {
    CSTrans2Request request;
    const uint8_t *words; /* the request's block from its WordCount byte */
    uint32_t maxParameterCount;
    const uint8_t *setup; /* SetupCount words */
    uint32_t setupCount;
    uint32_t maxSetupCount;
    char name[CS_TRANSACTION_NAME_SIZE]; /* TRANSACTION: 8-bit */
    uint32_t outSetupCount;              /* words the handler wrote */
    CSLateResponseContext *late;         /* a pipe that answers later */
} CSTransactionContext;

typedef uint32_t (*CSTransactionHandler)(CSTransactionContext *context);

/* TRANSACTION handlers by name: the LAN Manager API, the browse mailslot
 * and the other pipes. */
VX_API uint32_t csRapApiEntry(CSTransactionContext *context);
VX_API uint32_t csMailslotBrowse(CSTransactionContext *context);
VX_API uint32_t csNamedPipeEntry(CSTransactionContext *context);

/* TRANSACTION2 subcommands of the opens (the others in cstrans2.h). */
VX_API uint32_t csTrans2Open(CSTrans2Request *request);
VX_API uint32_t csTrans2CreateDirectory(CSTrans2Request *request);

/* NT_TRANSACT subcommands. */
VX_API uint32_t csNtTransactionCreate(CSTransactionContext *context);
VX_API uint32_t csNtTransactionSetSecurityDescriptor(CSTransactionContext *context);
VX_API uint32_t csNtTransactionNotifyChange(CSTransactionContext *context);
VX_API uint32_t csNtTransactionQuerySecurityDescriptor(CSTransactionContext *context);

/* The descriptor answered when the host keeps none: owner only for
 * information 1, else an everyone-full-access DACL. */
VX_API const uint8_t *csGetEmptySd(uint32_t information, uint32_t *length);

/* A pipe transaction answered later: the TRANSACTION words are reserved in
 * the late answer, then written when it is sent. length: ByteCount, one pad
 * byte and the data. */
VX_API void csTransactionPrepareLateResponse(CSLateResponseContext *context);
VX_API int csTransactionSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);

/* RAP packers: one descriptor letter, one value. value points to the
 * bytes (G, B), a uint16_t (H, E, W, N) or a uint32_t (I, D, Z); O skips 4
 * bytes. The descriptor moves past the letter and its count. */
VX_API void writeResponseParameter(const char **descriptor, CMBufferWriter *out, const void *value);
VX_API void writeResponseData(const char **descriptor, CMBufferWriter *out, const void *value);

#endif
