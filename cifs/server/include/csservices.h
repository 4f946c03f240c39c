/* What the database calls of the server's neighbours: the pipes and
 * printers (the spooler's own header), change notification and path checks.
 * The library holds least versions until each neighbour is linked in. */
#ifndef CSSERVICES_H
#define CSSERVICES_H

#include "cmtypes.h"
#include "cscreate.h"
#include "csfiles.h"
#include "csshares.h"
#include "syprint.h"

#define CS_PRINTER_SLOTS SY_PRINTERS
/* A printer device path: as a share path. */
#define CS_SHARE_PATH_UNITS 1002

VX_API int csDcerpcClosePipe(CSFile *file);
/* action 2 removed, 3 modified; filter the watchers' filter bits. */
VX_API void csNotifyImmediatelly(const CMWchar *path, uint32_t action, uint32_t filter);
/* Pipes: 1 when name is one of the RPC interfaces' pipes (the file record
 * then holds the pipe), else 0. */
VX_API int csDcerpcOpenPipe(const CMWchar *name, CSFile *file);
/* A pipe's information: allocation 0x10050, delete pending 1, one link. */
VX_API int csDcerpcGetPipeInformation(CSFile *file, SYFileInformation *info);

/* Oplocks: the opens waiting on the holder's break are answered.
 * acknowledgment: the holder's message answered first, or null. */
VX_API int csBreakComplete(CSFile *holder, uint8_t *acknowledgment, uint32_t flags);
/* 1 when the open must wait for another client's oplock break, 0 when it
 * need not, -1 when no break can be sent (no oplock is then granted). */
VX_API int csBreakCheck(CSCreateParameters *parameters);
/* A file record goes: its oplock and the opens waiting on it go with it. */
VX_API void csOplockFileReleased(CSFile *file);
/* A file record goes: a request parked on it is answered
 * STATUS_NOTIFY_CLEANUP. */
VX_API void csNotifyFileReleased(CSFile *file);
/* Breaks unacknowledged for 35 s let their waiters go; now in ms (0: the clock). */
VX_API void csOplockExpire(uint64_t now);

#endif
