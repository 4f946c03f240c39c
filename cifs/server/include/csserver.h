/* What the control handlers reach of the running server: its context and
 * the two things only its loop can do. */
#ifndef CSSERVER_H
#define CSSERVER_H

#include "cmtypes.h"

#define CS_SCRATCH_UNITS 514

typedef struct CSServerContext {
    uint32_t restart; /* set by a restart, cleared by a stop */
    /* Filled by the user enumeration of the control channel. */
    CMWchar userName[CS_SCRATCH_UNITS];
    CMWchar fullName[CS_SCRATCH_UNITS];
    CMWchar description[CS_SCRATCH_UNITS];
} CSServerContext;

/* One per process: null when it cannot be had. */
VX_API CSServerContext *csServerContextCreate(void);
VX_API void csServerContextFree(void);
VX_API CSServerContext *csGetServerContext(void);

/* endLoop: the loop ends after this pass. dropAllClients: every client
 * connection is released, closed and its slot freed. Null uninstalls. */
VX_API void csServerSetLoopHooks(void (*endLoop)(void), void (*dropAllClients)(void));
VX_API void csServerEndLoop(void);
VX_API void csServerDropAllClients(void);

#endif
