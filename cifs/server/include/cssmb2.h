/* The SMB2/SMB3 side of the server: the dispatcher with its command table,
 * transform headers, and the handlers of the conversation's start and end
 * (negotiate, session setup, logoff, echo, tree connect and disconnect,
 * the control frame). Handlers of the file commands join the table by name. */
#ifndef CSSMB2_H
#define CSSMB2_H

#include "cmbuffer.h"
#include "cmsmbheader.h"
#include "cmtypes.h"
#include "csdb.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "nssocket.h"

/* Handler results that are no NT status. */
#define CS2_STATUS_DISCONNECT 0xE0000001u /* end the connection, send nothing */
#define CS2_STATUS_BODY_SET 0xE0000002u   /* status in the header, body kept */
#define CS2_STATUS_LATE 0xFF000000u       /* answered later */

/* Rows of the command table. */
#define CS2_ROW_NEGOTIATE 0x01u
#define CS2_ROW_NO_SESSION 0x02u
#define CS2_ROW_NO_TREE 0x04u
#define CS2_ROW_DT_IN 0x08u
#define CS2_ROW_DT_OUT 0x10u
#define CS2_COMMANDS 19

#define CS2_COMMAND_NEGOTIATE 0
#define CS2_COMMAND_SESSION_SETUP 1
#define CS2_COMMAND_CANCEL 12

/* The response buffer's size and the room the SMB2 messages get in it. */
#define CS2_BUFFER_SIZE 65700u
/* Credits of a connection once a dialect is negotiated. */
#define CS2_CREDIT_POOL 30
/* MessageIds a client may hold at once (the window the server tracks). */
#define CS2_MID_WINDOW 256

/* request: the request header; response: its copy, to be answered; reader
 * after the request's StructureSize, bounded by the element; writer at the
 * response body. */
typedef uint32_t (*CS2CommandHandler)(CMSmb2Header *request, CMSmb2Header *response, CMBufferReader *reader,
                                      CSSession *session, CSUser *user, CSTree *tree, CMBufferWriter *writer);

typedef struct CS2CommandRow {
    CS2CommandHandler handler;
    uint16_t structureSize;
    uint16_t flags;
} CS2CommandRow;

/* The row of a command code; null above 18. */
VX_API const CS2CommandRow *cs2GetCommand(uint16_t code);

/* 1 handled (answered or deferred), 0 close the connection, -1 dropped
 * with the connection kept. buffer holds the protocol id already read;
 * length: the message's length less those 4 bytes. */
VX_API int csSmb2DispatchRequest(NSRecvContext *reader, uint8_t *buffer, uint32_t length);
VX_API const CMSmb2Header *cs2DispatchGetCurrentHeader(void);
/* 0xFFFF takes the file id of the compound so far; any other becomes it. */
VX_API void cs2ParseFid(uint16_t *fid);
/* The error body: StructureSize 9, no error contexts, no data. */
VX_API void cs2WriteErrorBody(CMBufferWriter *writer);

/* Transform headers. Decrypt: 1 opened (the message lies 52 bytes into
 * buffer), 0 refused, -1 not received. Encrypt: the plain message of length
 * bytes lies 52 bytes into buffer; 1 sealed with its header written in
 * front, 0 no user or session. */
VX_API int cs2TransformHeaderDecrypt(NSRecvContext *reader, uint8_t *buffer, uint32_t length);
VX_API int cs2TransformHeaderEncrypt(CSUser *user, uint8_t *buffer, uint32_t length);

/* Negotiate. */
VX_API uint32_t cs2SetDialect(CSSession **session, uint16_t revision, uint32_t useGcm);
VX_API void cs2PackNegotiateResponse(CMSmb2Header *response, CMBufferWriter *writer, uint16_t revision,
                                     uint16_t contextCount, uint16_t cipher, uint16_t hashAlgorithm);
/* The SMB1 NEGOTIATE's hand-over: position lies right after the SMB1
 * response header; the SMB2 header goes over it and the body at position,
 * which is advanced. wildcard: 1 for "SMB 2.???", 0 for "SMB 2.002". */
VX_API uint32_t csSmb2OnSmb1Negotiate(uint8_t **position, int wildcard);
/* The revision of a dialect code; 0 for none or the wildcard. */
VX_API uint16_t cs2DialectRevision(uint32_t dialect);

/* Interim and late answers, oplock breaks. The AsyncId counter starts at 1;
 * each call gives the next, skipping 0. */
VX_API CMUint64 cs2GenerateNextAsyncId(CMUint64 *asyncId);
/* STATUS_PENDING for the request now: its AsyncId, or 0 when not sent. */
VX_API uint32_t csSmb2SendInterimResponse(const CMSmb2Header *request);
/* Pipe late-answer callbacks (csDcerpcSetLateResponseCallbacks) of the
 * IOCTL transceive and of WRITE: the interim answer at save, the fixed
 * body reserved at prepare, written and sent with the pipe's answer. */
VX_API void cs2PipeIoctlSaveLateResponse(CSLateResponseContext *context);
VX_API int cs2PipeIoctlPrepareLateResponse(CSLateResponseContext *context);
VX_API int cs2PipeIoctlSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);
VX_API void cs2PipeWriteSaveLateResponse(CSLateResponseContext *context);
VX_API int cs2PipeWritePrepareLateResponse(CSLateResponseContext *context);
VX_API int cs2PipeWriteSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);
/* A print job's held WRITE: answered with the count it asked for. */
VX_API int cs2PrintWriteSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);
/* 1 when the holder's break notification went out whole. */
VX_API int cs2SendOplockBreakNotification(CSFile *holder);

/* Handlers of the table. */
VX_API uint32_t csSmb2OnNegotiate(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                                  CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnSessionSetup(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                                     CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnLogoff(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                               CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnTreeConnect(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                                    CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnTreeDisconnect(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *,
                                       CSUser *, CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnCreate(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                               CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnClose(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                              CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnFlush(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                              CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnRead(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                             CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnWrite(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                              CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnLock(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                             CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnIoctl(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                              CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnCancel(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                               CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnEcho(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                             CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnQueryDirectory(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *,
                                       CSUser *, CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnChangeNotify(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                                     CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnQueryInfo(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                                  CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnSetInfo(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                                CSTree *, CMBufferWriter *);
VX_API uint32_t csSmb2OnOplockBreak(CMSmb2Header *, CMSmb2Header *, CMBufferReader *, CSSession *, CSUser *,
                                    CSTree *, CMBufferWriter *);

#endif
