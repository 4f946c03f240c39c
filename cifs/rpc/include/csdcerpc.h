/* Connection-oriented DCE/RPC over the named pipes of IPC$: the framework
 * that joins request fragments, answers binds, dispatches requests to the
 * interfaces by opnum and cuts answers into fragments; the interface
 * descriptors and their table; the SMB carriers' entries and the road of an
 * answer sent later. */
#ifndef CSDCERPC_H
#define CSDCERPC_H

#include "cmrpc.h"
#include "cmtypes.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "syfiles.h"

/* PDU types. */
#define CS_RPC_REQUEST 0
#define CS_RPC_RESPONSE 2
#define CS_RPC_FAULT 3
#define CS_RPC_BIND 11
#define CS_RPC_BIND_ACK 12
#define CS_RPC_BIND_NAK 13
#define CS_RPC_ALTER_CONTEXT 14
#define CS_RPC_ALTER_CONTEXT_RESP 15
#define CS_RPC_AUTH3 16

#define CS_RPC_FIRST_FRAG 0x01
#define CS_RPC_LAST_FRAG 0x02

/* Faults and statuses of the framework. */
#define CS_RPC_CONTEXT_MISMATCH 0x1C00001Au
#define CS_RPC_OP_RANGE_ERROR 0x1C010002u
#define CS_RPC_BAD_STUB_DATA 0x000006F7u
/* An operation's result: the answer comes later. */
#define CS_RPC_LATE 0xFF000000u

/* The request buffer an answer is built over, and the most an interface's
 * size check changes it to. */
#define CS_RPC_BUFFER_SIZE 65700u
/* A joined request longer than this is refused as out of memory. */
#define CS_RPC_MAX_REQUEST (1024u * 1024u)
/* What requests still being joined may hold beyond an ordinary buffer each,
 * all pipes together; a fragment that would pass it is refused as out of
 * memory. */
#define CS_RPC_MAX_JOINING (8u * 1024u * 1024u)
/* The largest fragment before any bind, and the least one after: what every
 * client must accept. */
#define CS_RPC_DEFAULT_FRAGMENT 4280u
#define CS_RPC_MIN_FRAGMENT 1432u
/* max_xmit_frag and max_recv_frag of our acks. */
#define CS_RPC_ACK_FRAGMENT 65448u

/* An operation reads its arguments from `in` and writes its answer to
 * `out` (both positioned on the stub, carrying the caller's token, user
 * record and call_id) and returns the status written after the answer, or
 * CS_RPC_LATE when it saved the request to answer later. */
typedef uint32_t (*CSDcerpcOperation)(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);

typedef struct CSDcerpcInterface {
    int (*init)(void);           /* 0, or -1; may be null */
    void (*stop)(void);          /* may be null */
    void (*close)(CSFile *pipe); /* on close of a pipe bound to it; may be null */
    const char *name;            /* the pipe name served, as "srvsvc" */
    uint8_t uuid[16];            /* abstract syntax, NDR byte order */
    uint16_t versionMajor;
    uint16_t versionMinor;
    uint32_t operationCount;
    const CSDcerpcOperation *operations;   /* operationCount entries; null entries refused */
    uint32_t (*sizeCheck)(uint16_t opnum); /* bytes an answer may need; may be null */
} CSDcerpcInterface;

/* The interfaces, in the order binding searches them; a pipe's context slot
 * holds an index into this order. */
#define CS_RPC_INTERFACES 7
VX_API const CSDcerpcInterface *csRpcSrvsvc(void);
VX_API const CSDcerpcInterface *csRpcWkssvc(void);
VX_API const CSDcerpcInterface *csRpcSpoolss(void);
VX_API const CSDcerpcInterface *csRpcLsa(void);
VX_API const CSDcerpcInterface *csRpcLsads(void);
VX_API const CSDcerpcInterface *csRpcSamr(void);
VX_API const CSDcerpcInterface *csRpcWinReg(void);
/* The descriptor at an index of the table, or null past its end. */
VX_API const CSDcerpcInterface *csDcerpcGetInterface(uint32_t index);

/* Start and stop of the pipe layer and its interfaces: 0 or -1. */
VX_API int csDcerpcInit(void);
VX_API void csDcerpcStop(void);

/* name: the pipe's UTF-16 name without its leading backslash. 1 bound,
 * 0 refused (not one of the interfaces' names, or 20 characters or more). */
VX_API int csDcerpcOpenPipe(const CMWchar *name, CSFile *pipe);
VX_API int csDcerpcClosePipe(CSFile *pipe);
VX_API int csDcerpcGetPipeInformation(CSFile *pipe, SYFileInformation *info);

/* Bytes written to a pipe: 0 taken (an answer may be ready; none after
 * AUTH3), CS_RPC_LATE answered later, else an SMB error through
 * csErrorReturn. */
VX_API uint32_t csDcerpcWrite(CSFile *pipe, const uint8_t *data, uint32_t length, uint32_t forceLast);
/* The next bytes of the pipe's answer, at most size; remaining (when given)
 * receives the bytes of the current fragment that did not fit. 0 when
 * nothing waits. */
VX_API uint32_t csDcerpcRead(CSFile *pipe, uint8_t *buffer, uint32_t size, uint32_t *remaining);
/* One forced-last write and one read: the write's error unchanged, else
 * 0x80000005 when the fragment did not fit, else 0. *outLength receives the
 * bytes read. */
VX_API uint32_t csDcerpcTransact(CSFile *pipe, const uint8_t *in, uint32_t inLength, uint8_t *out,
                                 uint32_t outSize, uint32_t *outLength);

/* The road of an answer sent later. */
typedef void (*CSLateSave)(CSLateResponseContext *context);
VX_API void csDcerpcSetLateResponseCallbacks(CSLateSave save, CSLatePrepare prepare, CSLateSend send);
VX_API void csDcerpcSaveResponseContext(uint32_t rpcFraming, const CMRpcPacketDescriptor *request,
                                        CSLateResponseContext *context);
VX_API int csDcerpcPrepareLateResponse(CSLateResponseContext *context, uint32_t size);
VX_API int csDcerpcSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);
VX_API void csDcerpcSaveCompleteResponse(CSFile *pipe, const uint8_t *data, uint32_t length);
VX_API void csDcerpcFreeCall(void *call);

/* The late answers of the SMB1 carriers. */
VX_API int csNamedPipePrepareLateResponse(CSLateResponseContext *context);
VX_API int csNamedPipeSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);
VX_API int csWriteAndXPipePrepareLateResponse(CSLateResponseContext *context);
VX_API int csWriteAndXPipeSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);
VX_API int csWritePipePrepareLateResponse(CSLateResponseContext *context);
VX_API int csWritePipeSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);

/* An operation that would release the pipe or the user carrying it (a
 * client closing its own pipe, or deleting its own session) records the
 * release; the server carries it out once the request has been answered. */
VX_API void csDcerpcDeferFileRelease(uint16_t fid);
VX_API void csDcerpcDeferUserRelease(uint16_t uid);
VX_API void csDcerpcRunDeferredReleases(void);

/* The pipe being served and its caller, while an operation runs. */
VX_API CSFile *csDcerpcCurrentPipe(void);

#endif
