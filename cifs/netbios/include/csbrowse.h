/* Host announcements of the SMB server to its workgroup's master browser,
 * and the server's listening sockets. */
#ifndef CSBROWSE_H
#define CSBROWSE_H

#include "cmtypes.h"
#include "nssocket.h"

#define CS_ANNOUNCEMENT_SIZE 374
#define CS_ANNOUNCEMENT_DATA 86 /* browser opcode onward */
#define CS_ANNOUNCEMENT_DATA_SIZE 288
#define CS_ANNOUNCE_FIRST_PERIOD 5
#define CS_ANNOUNCE_MAX_PERIOD 30

/* A listening slot: transport 1 under the host name <20> on udGetPort(139),
 * transport 2 on TCP 445; null on failure. */
VX_API NSSocket *csPrepareSocket(uint32_t type, uint32_t transport);

/* Server type bits of the announcement (the workstation service's). */
VX_API uint32_t csGetHostType(void);

VX_API int csInitBrowse(void);
VX_API void csStopBrowse(void);
/* Seconds until the next announcement (5, 10, 20, then 30), or -1. */
VX_API int csAnnounceServer(void);
/* The message as it stands (CS_ANNOUNCEMENT_SIZE bytes), built once. */
VX_API const uint8_t *csGetHostAnnouncement(void);

#endif
