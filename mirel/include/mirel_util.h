/* Mirel library: allocator table, byte buffer, hex text, error record,
 * string helpers and the monotonic clock. */
#ifndef MIREL_UTIL_H
#define MIREL_UTIL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Allocator table: every block the library hands out is freed with Mem_free. */
void *Mem_malloc(size_t size);
void *Mem_calloc(size_t count, size_t size);
void *Mem_realloc(void *block, size_t size);
void Mem_free(void *block);
char *Mem_strdup(const char *text);
char *Mem_strndup(const char *text, size_t size);
void Mem_Setup(void *(*calloc_fn)(size_t, size_t), void *(*malloc_fn)(size_t),
               void *(*realloc_fn)(void *, size_t), void (*free_fn)(void *),
               char *(*strdup_fn)(const char *), char *(*strndup_fn)(const char *, size_t));

/* Growable byte buffer; the data block is always exactly as long as the content. */
struct Buf {
    uint32_t len;
    uint8_t *data;
};

struct Buf *Buf(void);
int Buf_Add(struct Buf *buf, const void *bytes, size_t size);
int Buf_AddStr(struct Buf *buf, const char *text);
int Buf_AddCh(struct Buf *buf, uint8_t byte);
int Buf_AddFormatStr(struct Buf *buf, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
void *Buf_GetData(struct Buf *buf, uint32_t *length, int copy);
void Buf_Clear(struct Buf *buf);
void Buf_Free(struct Buf *buf);
int Buf_Print(const struct Buf *buf, FILE *stream);

/* Hex text and its bytes. */
struct HexString {
    uint8_t *bytes;
    uint32_t len;
};

struct HexString *HexString(void);
int HexString_Set(struct HexString *hs, const char *text);
int HexString_SetBin(struct HexString *hs, const void *bytes, size_t length);
char *HexString_Get(const struct HexString *hs);
void *HexString_GetBin(const struct HexString *hs, uint32_t *length);
void HexString_Free(struct HexString *hs);

/* Error record filled by layer handlers, logged as "[name] text". */
#define ERR_NAME_SIZE 50
#define ERR_TEXT_SIZE 100
struct Err {
    int32_t code;
    char name[ERR_NAME_SIZE];
    char text[ERR_TEXT_SIZE];
};

void Err_Init(struct Err *err, const char *name);
void Err_Set(struct Err *err, int code, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* Strings. */
void Str_Up(char *text);
void Str_Low(char *text);
int Str_ArrIsPrintable(const void *bytes, size_t length);
char *Str_FromArr(const void *bytes, size_t length, char *out, size_t size);
const char *Str_strnchr(const char *text, size_t length, int ch);
char Str_Hex2Char(unsigned value);
int Str_Char2Hex(int ch);
char *Str_SizeFormat(uint64_t size, char *out, size_t out_size);
char *Str_SpeedFormat(double bytes_per_second, char *out, size_t out_size);

/* Raw monotonic clock; 0 when it cannot be read. */
uint64_t TimeMono_Us(void);
uint64_t TimeMono_Ms(void);
uint32_t TimeMono_Sec(void);

#ifdef __cplusplus
}
#endif

#endif
