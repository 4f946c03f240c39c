/* The SMB1 request dispatcher: the dispatch frame (the request being served,
 * as handlers reach it), the command table, the error-pair convention,
 * direct transfer and answers sent after their request was left. */
#ifndef CSDISPATCH_H
#define CSDISPATCH_H

#include "csdb.h"
#include "cmtypes.h"
#include "nssocket.h"

/* Rows of the command table. */
#define CS_CMD_SUPPORTED 0x01u
#define CS_CMD_ANDX 0x02u
#define CS_CMD_NO_SESSION 0x04u
#define CS_CMD_DT_IN 0x08u
#define CS_CMD_DT_OUT 0x10u

/* A handler's status: the answer is sent later. */
#define CS_STATUS_LATE 0xFF000000u
/* A transaction whose data does not fit: buffer too small with the body. */
#define CS_STATUS_TRANS_TOO_SMALL 0xE0000004u
/* Responses end before this many bytes from the SMB header. */
#define CS_RESPONSE_LIMIT 65697u
/* The late-response buffer, session header space included. */
#define CS_LATE_BUFFER_SIZE 1500u
/* Most blocks one AndX chain may hold. */
#define CS_MAX_CHAIN 32u
/* A message must arrive whole within this many seconds of its first byte. */
#define CS_MESSAGE_DEADLINE_SECONDS 3u

/* params: the command's block from its WordCount byte (in the request);
 * response: the response's SMB header; position: where the handler writes
 * its block, advanced past it. The dispatcher links AndX responses (the
 * AndXCommand and AndXOffset words of each response block). */
typedef uint32_t (*CSCommandHandler)(const uint8_t *params, uint8_t *response, uint8_t **position);

typedef struct CSCommandRow {
    uint32_t flags;
    CSCommandHandler handler;
} CSCommandRow;

/* The row of an SMB1 command code. */
VX_API const CSCommandRow *csDispatchGetCommand(uint8_t code);

struct CSLateResponseContext;
/* The callbacks of the command that carries a pipe call: prepare builds the
 * response's header and reserves the command's words (moving `response` and
 * `remaining`); send completes and sends it. */
typedef int (*CSLatePrepare)(struct CSLateResponseContext *context);
typedef int (*CSLateSend)(struct CSLateResponseContext *context, uint32_t status, uint32_t length);

/* What an answer sent later needs of its request. */
typedef struct CSLateResponseContext {
    uint16_t tid, uid, mid, pid, pidHigh;
    uint8_t command, flags;
    uint16_t flags2;
    uint32_t fileId;
    uint32_t isSmb2;
    uint32_t saveResponse;
    CSSocketSlot socket;
    uint8_t *response;
    uint32_t remaining;
    void *file;
    uint32_t sequence;
    /* A pipe call: whether the answer is a DCE/RPC PDU, the request's byte
     * order and call_id, the carrier's callbacks and the byte count of the
     * write being answered. */
    uint32_t rpcFraming;
    uint32_t bigEndian;
    uint32_t callId;
    CSLatePrepare prepare;
    CSLateSend send;
    uint32_t writeCount;
    /* SMB2: the request's 64-bit ids, TreeId and flags, whether it came
     * sealed; the late answer's status; an IOCTL's control code and file. */
    CMUint64 smb2SessionId, smb2MessageId, smb2AsyncId;
    uint32_t smb2TreeId, smb2Flags, smb2Encrypted;
    uint32_t lateStatus;
    uint32_t ctlCode;
} CSLateResponseContext;

VX_API int csDispatchInit(void);
VX_API void csDispatchExit(void);
/* Serves one message of the client: 0 keeps the connection, -1 drops it.
 * address: the client's IPv4 address in its connection slot. */
VX_API int csDispatchRequest(NSSocket *socket, const uint32_t *address);

VX_API void csDispatchSetSocket(CSSocketSlot socket);
VX_API CSSocketSlot csDispatchGetSocket(void);
/* The client's IPv4 address (network order) lives in its connection slot. */
VX_API void csDispatchSetSocketIp(const uint32_t *address);
VX_API const uint32_t *csDispatchGetSocketIp(void);
VX_API void csDispatchSetNtError(uint32_t mode);
VX_API uint32_t csDispatchIsNtError(void);
VX_API uint32_t csDispatchIsSmb2(void);

/* dos 0: NT mode on, nt returned; nt 0: DOS mode on, dos returned; else the
 * one the client's mode asks for. */
VX_API uint32_t csErrorReturn(uint32_t nt, uint32_t dos);
/* The system layer's last error in the client's mode. */
VX_API uint32_t csErrorGetLast(void);
/* 0 when need more bytes fit at position, else buffer-too-small. */
VX_API uint32_t csDispatchCheckSpace(const uint8_t *responseStart, const uint8_t *position, uint32_t need);
/* Answers the socket's next message with "no resources": 0, or -1. */
VX_API int csDispatchErrorNoResources(NSSocket *socket);
VX_API uint32_t convertVxAccessToNtAccess(uint16_t mode);

/* Direct transfer: the payload of a read or write goes between the file
 * and the connection without passing through a message buffer. */
VX_API void csDispatchSetDtIn(uint32_t flag);
VX_API uint32_t csDispatchIsDtIn(void);
VX_API void csDispatchSetDtOut(uint32_t flag);
VX_API uint32_t csDispatchIsDtOut(void);
VX_API void csDispatchDtSet(int fd, uint32_t count);
VX_API uint32_t csDispatchDtGetCount(void);
VX_API int csDispatchDtAvailable(void);
VX_API void csDispatchDtSaveParameters(uint8_t *position, NSRecvContext *reader);
/* 1 success, 0 failure. */
VX_API int csDispatchDtToSocket(NSRecvContext *reader);
/* Moves expected bytes of the message into the file; only as many as the
 * message still holds. 1 success, 0 failure. */
VX_API int csDispatchDtFromSocket(NSRecvContext *reader, uint32_t expected);
/* Reads the rest of the message into the buffer after all: 1, or 0 when it
 * does not fit or cannot be read. */
VX_API int csDispatchDtDiscard(void);

/* Late responses (SMB1 here, SMB2 through the SMB2 dispatcher). */
VX_API void csDispatchSaveResponseContext(CSLateResponseContext *context);
VX_API void csDispatchPrepareLateResponse(CSLateResponseContext *context);
/* A body longer than the context's remaining space is answered with
 * buffer-too-small instead. 1 when the whole frame was sent. */
VX_API int csDispatchSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);
VX_API void csDispatchSaveWriteAndXResponseContext(CSLateResponseContext *context);
VX_API void csDispatchSaveWriteResponseContext(CSLateResponseContext *context);
/* Sets the file of the write being served (the save callbacks store it). */
VX_API void csDispatchSetWriteFile(uint32_t fid, void *file);
/* Sets the byte count of the write being served, for its late answer. */
VX_API void csDispatchSetWriteCount(uint32_t count);

/* The SMB2 dispatcher's entries; least versions until it is linked in. */
VX_API int csSmb2DispatchRequest(NSRecvContext *reader, uint8_t *buffer, uint32_t length);
VX_API int cs2DispatchInit(void);
VX_API void cs2DispatchExit(void);
VX_API void cs2DispatchSaveResponseContext(CSLateResponseContext *context, const uint8_t *header);
VX_API void cs2DispatchPrepareLateResponse(CSLateResponseContext *context);
VX_API int cs2DispatchSendLateResponse(CSLateResponseContext *context, uint32_t length);
VX_API const uint8_t *cs2DispatchCurrentHeader(void);

#endif
