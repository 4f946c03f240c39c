/* UTF-16 and 8-bit text. UTF-16 strings are host-order units ending in a zero
 * unit; every operation taking one accepts an odd address and starts at the
 * next even one (strings after odd-sized fields of a message). Conversions
 * are one byte to one unit, no code page. */
#ifndef CMSTRING_H
#define CMSTRING_H

#include "cmtypes.h"

VX_API uint32_t cmWStrlen(const CMWchar *s);
VX_API void cmWStrcpy(CMWchar *dst, const CMWchar *src);
/* Returns the position after the terminator written. */
VX_API CMWchar *cmWStrcat(CMWchar *dst, const CMWchar *src);
VX_API uint32_t cmWStrncpy(CMWchar *dst, const CMWchar *src, uint32_t n);
VX_API CMWchar *cmWStrchr(const CMWchar *s, CMWchar c);
VX_API CMWchar *cmWStrrchr(const CMWchar *s, CMWchar c);
VX_API int cmWStrcmp(const CMWchar *a, const CMWchar *b);
VX_API int cmWStrncmp(const CMWchar *a, const CMWchar *b, uint32_t n);
VX_API int cmWStricmp(const CMWchar *a, const CMWchar *b);
VX_API int cmWStrincmp(const CMWchar *a, const CMWchar *b, uint32_t n);
VX_API int cmWToupper(CMWchar *dst, CMWchar src);
VX_API void cmWStrupr(CMWchar *s);
VX_API const CMWchar *cmWDump(const CMWchar *s);

VX_API char *cmAStrchr(const char *s, int c);
VX_API char *cmAStrrchr(const char *s, int c);
VX_API int cmAToupper(char *dst, char src);
VX_API void cmAStrupr(char *s);
VX_API int cmAStricmp(const char *a, const char *b);
VX_API int cmAStrincmp(const char *a, const char *b, uint32_t n);

VX_API void cmAnsiToUnicodeN(CMWchar *dst, const char *src, uint32_t n);
VX_API void cmAnsiToUnicode(CMWchar *dst, const char *src);
/* dst needs nBytes / 2 + 1 bytes. */
VX_API void cmUnicodeToAnsiN(char *dst, const CMWchar *src, uint32_t nBytes);
VX_API void cmUnicodeToAnsi(char *dst, const CMWchar *src);
/* unicode 0: narrow src into dst; else copy it as UTF-16. Returns the
 * position after the terminator written. */
VX_API void *cmUnicodeToStr(void *dst, const CMWchar *src, int unicode);
VX_API void *cmWcharToStr(void *dst, const CMWchar *src, int unicode);
/* unicode 0: copy the 8-bit src; else widen it. */
VX_API void *cmAnsiToStr(void *dst, const char *src, int unicode);

#endif
