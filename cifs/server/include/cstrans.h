/* The SMB1 TRANSACTION context as its handlers (named pipes, the LANMAN
 * remote API) see it, the deferred answer of a pipe transaction and the
 * packers of LANMAN response items. */
#ifndef CSTRANS_H
#define CSTRANS_H

#include "cmtypes.h"
#include "csdispatch.h"

/* A transaction's response ends this many bytes after its SMB header. */
#define CS_TRANS_RESPONSE_SIZE 65696u
/* The TRANSACTION response words (WordCount through the reserved byte). */
#define CS_TRANS_RESPONSE_WORDS 21u

typedef struct CSTransaction {
    const uint8_t *words;  /* the request's word block, from WordCount */
    const uint8_t *header; /* the request's SMB header */
    uint8_t *response;     /* the response's SMB header */
    /* The request's parts, each within the received message. */
    const uint8_t *parameters;
    uint32_t parameterCount;
    uint32_t maxParameterCount;
    const uint8_t *data;
    uint32_t dataCount;
    uint32_t maxDataCount;
    const uint8_t *setup;
    uint32_t setupCount;
    uint32_t maxSetupCount;
    /* The response: the handler writes the byte count at `byteCount`, then
     * pad, parameters and data, and sets the pointers and counts below. */
    uint8_t *setupOut;
    uint32_t setupCountOut;
    uint8_t *byteCount;
    uint8_t *parametersOut;
    uint32_t parameterCountOut;
    uint8_t *dataOut;
    uint32_t dataCountOut;
} CSTransaction;

/* The handlers of TRANSACTION names beginning "\PIPE\LANMAN" and "\PIPE\". */
VX_API uint32_t csRapApiEntry(CSTransaction *transaction);
VX_API uint32_t csNamedPipeEntry(CSTransaction *transaction);
/* The browse mailslot's TRANSACTION. */
VX_API uint32_t csMailslotBrowse(CSTransaction *transaction);

/* NT_TRANSACT subcommands: the request's parts as for TRANSACTION; the
 * answer's parameters go at parametersOut (set by the command, no byte
 * count to write), the data where the handler puts dataOut. */
VX_API uint32_t csNtTransactionCreate(CSTransaction *transaction);
VX_API uint32_t csNtTransactionSetSecurityDescriptor(CSTransaction *transaction);
VX_API uint32_t csNtTransactionNotifyChange(CSTransaction *transaction);
VX_API uint32_t csNtTransactionQuerySecurityDescriptor(CSTransaction *transaction);
/* The descriptor answered and accepted when the host keeps none: owner
 * only for information 1, else an everyone-full-access DACL. */
VX_API const uint8_t *csGetEmptySd(uint32_t information, uint32_t *length);

/* Deferred pipe transaction: prepare reserves the response words after the
 * header; send (length: byte count, pad and data) writes them and sends. */
VX_API int csTransactionPrepareLateResponse(CSLateResponseContext *context);
VX_API int csTransactionSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);

/* LANMAN packers: one item of the descriptor at *descriptor written at
 * *out; both cursors advance. Counted byte items ("g", "B") copy from the
 * address in value, the others write value itself. */
VX_API void writeResponseParameter(const char **descriptor, uint8_t **out, uintptr_t value);
VX_API void writeResponseData(const char **descriptor, uint8_t **out, uintptr_t value);

#endif
