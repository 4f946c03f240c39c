/* Mirel library: allocator table, byte buffer, hex text, error record,
 * string helpers and the monotonic clock. */
#ifndef MIREL_UTIL_H
#define MIREL_UTIL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* Marks what libmirel exports; every public header includes this one. The
 * library is built with hidden visibility (mirel/CMakeLists.txt), so a
 * declaration without MIREL_API is not reachable from outside. */
#define MIREL_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Allocator table: every block the library hands out is freed with Mem_free. */
MIREL_API void *Mem_malloc(size_t size);
MIREL_API void *Mem_calloc(size_t count, size_t size);
MIREL_API void *Mem_realloc(void *block, size_t size);
MIREL_API void Mem_free(void *block);
MIREL_API char *Mem_strdup(const char *text);
MIREL_API char *Mem_strndup(const char *text, size_t size);
MIREL_API void Mem_Setup(void *(*calloc_fn)(size_t, size_t), void *(*malloc_fn)(size_t),
                         void *(*realloc_fn)(void *, size_t), void (*free_fn)(void *),
                         char *(*strdup_fn)(const char *), char *(*strndup_fn)(const char *, size_t));

/* Growable byte buffer; the data block is always exactly as long as the content. */
struct Buf {
    uint32_t len;
    uint8_t *data;
};

MIREL_API struct Buf *Buf(void);
MIREL_API int Buf_Add(struct Buf *buf, const void *bytes, size_t size);
MIREL_API int Buf_AddStr(struct Buf *buf, const char *text);
MIREL_API int Buf_AddCh(struct Buf *buf, uint8_t byte);
MIREL_API int Buf_AddFormatStr(struct Buf *buf, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
MIREL_API void *Buf_GetData(struct Buf *buf, uint32_t *length, int copy);
MIREL_API void Buf_Clear(struct Buf *buf);
MIREL_API void Buf_Free(struct Buf *buf);
MIREL_API int Buf_Print(const struct Buf *buf, FILE *stream);

/* Hex text and its bytes. */
struct HexString {
    uint8_t *bytes;
    uint32_t len;
};

MIREL_API struct HexString *HexString(void);
MIREL_API int HexString_Set(struct HexString *hs, const char *text);
MIREL_API int HexString_SetBin(struct HexString *hs, const void *bytes, size_t length);
MIREL_API char *HexString_Get(const struct HexString *hs);
MIREL_API void *HexString_GetBin(const struct HexString *hs, uint32_t *length);
MIREL_API void HexString_Free(struct HexString *hs);

/* Error record filled by layer handlers, logged as "[name] text". */
#define ERR_NAME_SIZE 50
#define ERR_TEXT_SIZE 100
struct Err {
    int32_t code;
    char name[ERR_NAME_SIZE];
    char text[ERR_TEXT_SIZE];
};

MIREL_API void Err_Init(struct Err *err, const char *name);
MIREL_API void Err_Set(struct Err *err, int code, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* Strings. */
MIREL_API void Str_Up(char *text);
MIREL_API void Str_Low(char *text);
MIREL_API int Str_ArrIsPrintable(const void *bytes, size_t length);
MIREL_API char *Str_FromArr(const void *bytes, size_t length, char *out, size_t size);
MIREL_API const char *Str_strnchr(const char *text, size_t length, int ch);
MIREL_API char Str_Hex2Char(unsigned value);
MIREL_API int Str_Char2Hex(int ch);
MIREL_API char *Str_SizeFormat(uint64_t size, char *out, size_t out_size);
MIREL_API char *Str_SpeedFormat(double bytes_per_second, char *out, size_t out_size);

/* Raw monotonic clock; 0 when it cannot be read. */
MIREL_API uint64_t TimeMono_Us(void);
MIREL_API uint64_t TimeMono_Ms(void);
MIREL_API uint32_t TimeMono_Sec(void);

#ifdef __cplusplus
}
#endif

#endif
