/* The dispatch frame's request identity and the error-pair convention. */
#ifndef CSDISPATCH_H
#define CSDISPATCH_H

#include "csdb.h"
#include "cmtypes.h"

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
} CSLateResponseContext;

VX_API void csDispatchSetSocket(CSSocketSlot socket);
VX_API CSSocketSlot csDispatchGetSocket(void);
/* The client's IPv4 address (network order) lives in its connection slot. */
VX_API void csDispatchSetSocketIp(const uint32_t *address);
VX_API const uint32_t *csDispatchGetSocketIp(void);
VX_API void csDispatchSetNtError(uint32_t mode);
VX_API uint32_t csDispatchIsNtError(void);

/* dos 0: NT mode on, nt returned; nt 0: DOS mode on, dos returned; else the
 * one the client's mode asks for. */
VX_API uint32_t csErrorReturn(uint32_t nt, uint32_t dos);

#endif
