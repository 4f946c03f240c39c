/* Path checks and share access rights: a client path confined to its share,
 * components matched against the disk without regard to case, the user's
 * read and write rights on a share, and a file's information whatever it is
 * (a file, a pipe, a print job). Paths are local: the share path, then
 * '/'-separated components (cmCifsNtohFilename). */
#ifndef CSPATH_H
#define CSPATH_H

#include "cmtypes.h"
#include "csfiles.h"
#include "csshares.h"
#include "syfiles.h"

/* 1 when the directory part of path stays inside the share and exists (every
 * component, the last too, keeps the depth at or below the share root);
 * caseless lookups rewrite the components to the case on disk. */
VX_API int csCheckPath(const CSShare *share, CMWchar *path, uint32_t shareRootLength, uint32_t caseSensitive);
/* 1 when the final component exists (its case rewritten when caseless). */
VX_API int csCheckFile(const CSShare *share, CMWchar *path, uint32_t caseSensitive);
VX_API int csCheckPathAndFile(const CSShare *share, CMWchar *path, uint32_t shareRootLength,
                              uint32_t caseSensitive);
/* 1 and name rewritten to the entry of directory (null: the current one)
 * that equals it without regard to case; 0 when there is none. The exact
 * name is tried before the directory is listed. */
VX_API int csLookupNameCaseless(const CMWchar *directory, CMWchar *name);
/* 1 when the share's directory exists (always for IPC$ and printers). */
VX_API int csCheckShareMapping(const CSShare *share);
/* 0, or the error pair (csErrorReturn) of the refusal. */
VX_API uint32_t csCanReadShare(uint16_t tid);
VX_API uint32_t csCanWriteShare(uint16_t tid);

/* Information helpers. */
/* 1 when the file's information can be read and written back. */
VX_API int csCanDeleteFile(const CMWchar *path);
/* The file's directory, volume, device and normal bits stay; the request
 * sets the others. 0 requested: unchanged. */
VX_API uint32_t csChangeFileAttributes(uint32_t oldAttributes, uint32_t newAttributes);
/* 1 when a file with attributes matches the search attributes requested. */
VX_API int csMatchFileAttributes(uint32_t requested, uint32_t attributes);
VX_API void csResetFileTimes(CSName *name);
/* Four FILETIMEs, little-endian: creation, last access, last write, change;
 * the name's pinned times win over the file system's. */
VX_API void csWriteFileTimes(const SYFileInformation *info, const CSName *name, uint8_t *output);
/* Pipes and printers have zeroed information. 0, or the system layer's -1. */
VX_API int csGetFileInformationByName(const CSShare *share, const CMWchar *path, SYFileInformation *info);
VX_API int csGetFileInformation(const CSFile *file, const CMWchar *path, SYFileInformation *info);
VX_API int csSetFileInformation(const CSFile *file, const CMWchar *path, const SYFileInformation *info);
/* 0, or the error pair (csErrorReturn) of the failure. */
VX_API uint32_t csTruncateFile(CSFile *file, const CMWchar *path, uint32_t lengthLow, uint32_t lengthHigh);

#endif
