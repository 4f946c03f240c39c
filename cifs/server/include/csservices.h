/* What the database calls of the server's neighbours: the pipes and
 * printers, change notification and path checks. The library holds least
 * versions until each neighbour is linked in. */
#ifndef CSSERVICES_H
#define CSSERVICES_H

#include "cmtypes.h"
#include "csfiles.h"
#include "csshares.h"

#define CS_PRINTER_SLOTS 4
/* A printer device path: as a share path. */
#define CS_SHARE_PATH_UNITS 1002

VX_API int csDcerpcClosePipe(CSFile *file);
VX_API int syEndPrintJob(uint32_t printer, uint32_t job);
/* The printer slot serving path, or all ones when all are taken. */
VX_API uint32_t syGetPrinterHandle(const CMWchar *path, const CMWchar *name, int16_t debugLevel);
VX_API int syPrinterSetSecurityDescriptor(uint32_t slot, const uint8_t *sd, uint32_t length);
VX_API void syUpdatePrinterStatus(const CMWchar *path, const CMWchar *name, const CMWchar *statusPath,
                                  int16_t debugLevel);
/* action 2 removed, 3 modified; filter the watchers' filter bits. */
VX_API void csNotifyImmediatelly(const CMWchar *path, uint32_t action, uint32_t filter);
/* 1 when the path exists and passes the attribute filter. */
VX_API int csCheckFile(const CMWchar *path, uint32_t attributes);

/* Pipes: the pending answer copied out (its byte count, 0 when none), and
 * a request taken (0), taken with its answer later (0xFF000000), or an NT
 * status. The callbacks complete a write whose answer comes later. */
typedef void (*CSLateSave)(CSLateResponseContext *context);
typedef void (*CSLatePrepare)(CSLateResponseContext *context);
typedef int (*CSLateSend)(CSLateResponseContext *context, uint32_t status, uint32_t length);
VX_API uint32_t csDcerpcRead(CSFile *file, uint8_t *out, uint32_t room, uint32_t *remaining);
VX_API uint32_t csDcerpcWrite(CSFile *file, const uint8_t *data, uint32_t length, uint32_t transact);
VX_API void csDcerpcSetLateResponseCallbacks(CSLateSave save, CSLatePrepare prepare, CSLateSend send);
VX_API void csDcerpcSaveResponseContext(uint32_t flag, void *pipeState, CSLateResponseContext *context);
/* Print data: -1 failure, the count taken, or 0 with *context set when the
 * answer waits for the spooler. */
VX_API int syWritePrintData(uint32_t printer, uint32_t job, const uint8_t *data, uint32_t length,
                            CSLateResponseContext **context);

/* Path checks and share rights. 1 when the share's directory exists (the
 * IPC and printer shares always). */
VX_API int csCheckShareMapping(const CSShare *share);
/* 0, or the refusal's error result. */
VX_API uint32_t csCanReadShare(uint16_t tid);
VX_API uint32_t csCanWriteShare(uint16_t tid);
/* 0 or -1: a file's information through its descriptor (zeroed for a pipe). */
VX_API int csGetFileInformation(const CSFile *file, const CMWchar *path, SYFileInformation *info);
VX_API int csSetFileInformation(const CSFile *file, const CMWchar *path, const SYFileInformation *info);
/* 0 or an error result. */
VX_API uint32_t csTruncateFile(CSFile *file, const CMWchar *path, uint32_t low, uint32_t high);

/* Oplocks: the opens waiting on the holder's break are answered.
 * acknowledgment: the holder's message answered first, or null. */
VX_API int csBreakComplete(CSFile *holder, uint8_t *acknowledgment, uint32_t flags);

#endif
