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

#endif
