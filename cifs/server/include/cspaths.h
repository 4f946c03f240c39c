/* Path checks, share rights and file information records as the file
 * commands use them: confine a client path to its share, decide whether the
 * user may read or write the share, read and write a file's information. */
#ifndef CSPATHS_H
#define CSPATHS_H

#include "cmtypes.h"
#include "csdb.h"
#include "csfiles.h"
#include "csshares.h"
#include "syfiles.h"

VX_API int csCheckPath(const CSShare *share, CMWchar *path, uint32_t shareRootLength, uint32_t caseSensitive);
VX_API int csCheckFile(const CSShare *share, CMWchar *path, uint32_t caseSensitive);
VX_API int csCheckPathAndFile(const CSShare *share, CMWchar *path, uint32_t shareRootLength,
                              uint32_t caseSensitive);
/* 1 and name rewritten to the entry of directory (null: the current one)
 * that equals it without regard to case; 0 when there is none. The exact
 * name is tried before the directory is listed. */
VX_API int csLookupNameCaseless(const CMWchar *directory, CMWchar *name);
/* 1 when the share's directory exists (always for IPC$ and printers). */
VX_API int csCheckShareMapping(const CSShare *share);
/* 0, or an error in the client's mode. */
VX_API uint32_t csCanReadShare(uint16_t tid);
VX_API uint32_t csCanWriteShare(uint16_t tid);
VX_API int csCanDeleteFile(const CMWchar *path);
VX_API uint32_t csChangeFileAttributes(uint32_t oldAttributes, uint32_t requested);
VX_API int csMatchFileAttributes(uint32_t requested, uint32_t attributes);
VX_API void csResetFileTimes(CSName *name);
/* Four FILETIMEs (creation, last access, last write, change) into out[32];
 * an open name's pinned times go before the file system's. The pinned
 * times are the first 32 bytes of the name's create state, little-endian
 * FILETIMEs in the same order, 0 when not pinned. */
VX_API void csWriteFileTimes(const SYFileInformation *info, const CSName *name, uint8_t *out);
VX_API int csGetFileInformationByName(const CSShare *share, const CMWchar *path, SYFileInformation *info);
VX_API int csGetFileInformation(const CSFile *file, const CMWchar *path, SYFileInformation *info);
VX_API int csSetFileInformation(const CSFile *file, const CMWchar *path, const SYFileInformation *info);
VX_API uint32_t csTruncateFile(CSFile *file, const CMWchar *path, uint32_t low, uint32_t high);

#endif
