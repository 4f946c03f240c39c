/* The server database's shares: "IPC$", the configured shares and those
 * added at run time. The share API may be called from any thread: it holds
 * the database mutex and, inside it, the dispatch mutex. */
#ifndef CSSHARES_H
#define CSSHARES_H

#include "cmsd.h"
#include "cmtypes.h"
#include "csdb.h"

#define CS_MAX_SHARES 15
#define CS_SHARE_NAME_MAX 129
#define CS_SHARE_PATH_MAX 1001
#define CS_SHARE_COMMENT_MAX 501

typedef struct CSShare {
    uint16_t index;
    uint32_t free;
    CMWchar name[CS_SHARE_NAME_MAX + 1];
    CMWchar path[CS_SHARE_PATH_MAX + 1];
    CMWchar statusPath[CS_SHARE_PATH_MAX + 1];
    CMWchar comment[CS_SHARE_COMMENT_MAX + 1];
    int16_t debugLevel; /* -1 a file share; 0 or more a printer share */
    uint32_t isIpc;
    uint32_t isPrinter;
    uint32_t isHidden;
    uint32_t encryptionRequired;
    CMSdSecurityDescriptor sd;
} CSShare;

/* 0, or -1 with errno: 0xff0bcd not started, 0xff0003 too long, unknown or
 * the administrative share, 0xff0016 exists, 0xff0829 no room. */
VX_API int vxAddShareW(const CMWchar *name, const CMWchar *path, const CMWchar *statusPath,
                       int16_t debugLevel, const CMWchar *comment);
VX_API int vxAddShareA(const char *name, const char *path, const char *statusPath, int16_t debugLevel,
                       const char *comment);
VX_API int vxRemoveShareW(const CMWchar *name);
VX_API int vxRemoveShareA(const char *name);
/* A null name sets the server-wide word. */
VX_API int vxSetShareEncryptionW(const CMWchar *name, uint32_t flag);
VX_API int vxSetShareEncryptionA(const char *name, uint32_t flag);

VX_API CSShare *csGetShareByName(const CMWchar *name);
VX_API CSShare *csGetShareByIndex(uint32_t index);
VX_API CSShare *csGetHiddenShareByMap(const CMWchar *path);

VX_API void csLoadShareSecurityDescriptor(CSShare *share);
VX_API int csSetShareSecurityDescriptor(CSShare *share);

VX_API void vxUpdatePrinterStatuses(void);
VX_API void vxRemovePrinterStatuses(void);
VX_API void csDisconnectAllPrinters(const CMWchar *userName);

#endif
