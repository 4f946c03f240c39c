// Growable byte buffer: exact-size data block, reallocated per append.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "message_internal.h"
#include "mirel_util.h"

extern "C" {

struct Buf *Buf(void) { return static_cast<struct Buf *>(Mem_calloc(1, sizeof(struct Buf))); }

int Buf_Add(struct Buf *buf, const void *bytes, size_t size)
{
    if (!buf || !bytes || size == 0 || size > UINT32_MAX - buf->len) {
        errno = EINVAL;
        return -1;
    }
    auto *data = static_cast<uint8_t *>(Mem_realloc(buf->data, buf->len + size));
    if (!data)
        return -1;
    std::memcpy(data + buf->len, bytes, size);
    buf->data = data;
    buf->len += static_cast<uint32_t>(size);
    return 0;
}

int Buf_AddStr(struct Buf *buf, const char *text)
{
    if (!text) {
        errno = EINVAL;
        return -1;
    }
    return Buf_Add(buf, text, std::strlen(text));
}

int Buf_AddCh(struct Buf *buf, uint8_t byte) { return Buf_Add(buf, &byte, 1); }

int Buf_AddFormatStr(struct Buf *buf, const char *format, ...)
{
    if (!buf || !format) {
        errno = EINVAL;
        return -1;
    }
    va_list ap;
    va_start(ap, format);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n < 0) {
        va_end(ap2);
        errno = ENOMEM;
        return -1;
    }
    if (n == 0) {
        va_end(ap2);
        errno = EINVAL;
        return -1;
    }
    char *text = static_cast<char *>(Mem_malloc(static_cast<size_t>(n) + 1));
    if (!text) {
        va_end(ap2);
        errno = ENOMEM;
        return -1;
    }
    std::vsnprintf(text, static_cast<size_t>(n) + 1, format, ap2);
    va_end(ap2);
    int rc = Buf_Add(buf, text, static_cast<size_t>(n));
    int saved = errno;
    Mem_free(text);
    errno = saved;
    return rc;
}

void *Buf_GetData(struct Buf *buf, uint32_t *length, int copy)
{
    if (!buf) {
        errno = EINVAL;
        return nullptr;
    }
    if (buf->len == 0) {
        errno = ENODATA;
        return nullptr;
    }
    if (length)
        *length = buf->len;
    if (!copy)
        return buf->data;
    return mirel::mem_copy(buf->data, buf->len);
}

void Buf_Clear(struct Buf *buf)
{
    if (!buf)
        return;
    Mem_free(buf->data);
    buf->data = nullptr;
    buf->len = 0;
}

void Buf_Free(struct Buf *buf)
{
    if (!buf)
        return;
    Mem_free(buf->data);
    Mem_free(buf);
}

int Buf_Print(const struct Buf *buf, FILE *stream)
{
    if (!buf || !stream) {
        errno = EINVAL;
        return -1;
    }
    if (buf->len == 0) {
        std::fputs("buf is empty\n", stream);
        return 0;
    }
    for (uint32_t i = 0; i < buf->len; i++)
        std::fprintf(stream, "0x%x:\t0x%02hhx %c\n", i, buf->data[i], buf->data[i]);
    return 0;
}

}  // extern "C"
