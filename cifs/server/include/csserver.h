/* What the control handlers reach of the running server: its context and
 * the two things only its loop can do. */
#ifndef CSSERVER_H
#define CSSERVER_H

#include "cmtypes.h"
#include "nssocket.h"

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

/* The server loop. */
#define CS_CLIENT_SLOTS 50
#define CS_LISTEN_BACKLOG 10
#define CS_CONTROL_PORT 4445
#define CS_PRINTER_POLL_SECONDS 5
/* A NetBIOS client must send its session request within this many seconds. */
#define CS_SESSION_REQUEST_SECONDS 3

/* Runs the server until it is stopped: 0 after an orderly stop, -1 when
 * start-up fails. One server per process. */
VX_API int csStart(void);
/* Asks the running server to stop; -1 when no socket could be had. */
VX_API int csStop(void);
VX_API void csLockDispatch(void);
VX_API void csUnlockDispatch(void);
VX_API int csNotifyInit(void);
VX_API void csNotifyExit(void);

/* The SMB2 core's and the pipes' parts of start and stop; least versions
 * until they are linked in. */
VX_API int cs2NotifyInit(void);
VX_API void cs2NotifyExit(void);
VX_API int csDcerpcInit(void);
VX_API void csDcerpcStop(void);

#endif
