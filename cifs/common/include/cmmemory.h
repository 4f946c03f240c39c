/* The stack's allocator, blobs and string copies. Every block handed out is
 * freed with cmMemoryFreeNonDebug by whoever received it. */
#ifndef CMMEMORY_H
#define CMMEMORY_H

#include "cmtypes.h"

/* A byte run owned by its holder; data comes from this allocator. */
typedef struct CMBlob {
    uint8_t *data; /* null when there is no data */
    uint32_t len;
} CMBlob;

/* Sets the limit on the total of live requested sizes (0 = none); returns 1. */
VX_API int cmMemoryStart(uint32_t limit);
VX_API void cmMemoryShutdown(void);

VX_API void *cmMemoryAllocNonDebug(uint32_t size);
/* Accepts null and blocks that came from the C library directly. */
VX_API void cmMemoryFreeNonDebug(const void *block);

VX_API CMBlob cmMemoryCloneBlobNonDebug(const CMBlob *source);
VX_API void cmMemoryFreeBlobNonDebug(CMBlob *blob);

VX_API CMWchar *cmMemoryCloneAStringNonDebug(const char *text);
VX_API CMWchar *cmMemoryCloneWStringNonDebug(const CMWchar *wtext);
VX_API char *cmMemoryCloneWStringAsAsciiNonDebug(const CMWchar *wtext);

/* Bytes currently handed out (requested sizes, headers not counted). */
VX_API uint32_t cmMemoryGetTotal(void);

#endif
