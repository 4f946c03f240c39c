/* The TRANSACTION2 subcommands of files, finds and volumes behind the
 * transaction layer: it finds the request's parameter and data blocks
 * inside the message and where the answer's parameters go; these read the
 * blocks within their counts and write the answer within its room. */
#ifndef CSTRANS2_H
#define CSTRANS2_H

#include "cmtypes.h"

typedef struct CSTrans2Request {
    const uint8_t *header; /* the request's SMB header: tid, uid, FLAGS2 */
    const uint8_t *parameters;
    uint32_t parameterCount;
    const uint8_t *data;
    uint32_t dataCount;
    uint32_t maxDataCount;
    uint8_t *outParameters; /* the answer's parameter area */
    uint32_t room;          /* bytes from outParameters to the buffer's end */
    /* The answer. */
    uint32_t outParameterCount;
    uint8_t *outData;
    uint32_t outDataCount;
} CSTrans2Request;

VX_API uint32_t csTrans2QueryFileInformation(CSTrans2Request *request);
VX_API uint32_t csTrans2QueryPathInformation(CSTrans2Request *request);
VX_API uint32_t csTrans2QueryFsInformation(CSTrans2Request *request);
VX_API uint32_t csTrans2SetFileInformation(CSTrans2Request *request);
VX_API uint32_t csTrans2SetPathInformation(CSTrans2Request *request);
VX_API uint32_t csTrans2FindFirst(CSTrans2Request *request);
VX_API uint32_t csTrans2FindNext(CSTrans2Request *request);
/* The opens' subcommands. */
VX_API uint32_t csTrans2Open(CSTrans2Request *request);
VX_API uint32_t csTrans2CreateDirectory(CSTrans2Request *request);

#endif
