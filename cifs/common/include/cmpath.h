/* SMB path names to local paths under a share's directory. */
#ifndef CMPATH_H
#define CMPATH_H

#include "cmtypes.h"

/* Characters of the UTF-16 buffer that cmCifsNtohFilename fills. */
#define CM_PATH_BUFFER 513

/* Allocates the pipe prefix "\PIPE\": 0, or -1 with errno 0xff03f0. */
VX_API int cmCifsInit(void);
VX_API void cmCifsExit(void);
VX_API void cmCifsHtonFilename(CMWchar *wpath);
VX_API CMWchar *cmCifsExtractFilenameFromFullName(CMWchar *wpath);
/* out (CM_PATH_BUFFER units) = share path joined to name with one "/", or
 * null for a name too long, a pipe name, or wildcards where not allowed. */
VX_API CMWchar *cmCifsNtohFilename(CMWchar *out, const CMWchar *sharePath, const void *name,
                                   int nameIsUnicode, int allowWildcards);

#endif
