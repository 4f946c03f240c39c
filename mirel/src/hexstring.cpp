// Hex text <-> bytes record.
#include <cerrno>
#include <cstring>

#include "message_internal.h"
#include "mirel_util.h"

namespace {

// The bytes to hand out; false with EINVAL or ENODATA.
bool has_bytes(const struct HexString *hs)
{
    if (!hs) {
        errno = EINVAL;
        return false;
    }
    if (hs->len == 0) {
        errno = ENODATA;
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

struct HexString *HexString(void)
{
    return static_cast<struct HexString *>(Mem_calloc(1, sizeof(struct HexString)));
}

int HexString_Set(struct HexString *hs, const char *text)
{
    if (!hs || !text) {
        errno = EINVAL;
        return -1;
    }
    size_t len = std::strlen(text);
    if (len % 2 != 0) {
        errno = EBADE;
        return -1;
    }
    for (size_t i = 0; i < len; i++) {
        if (Str_Char2Hex(static_cast<unsigned char>(text[i])) < 0) {
            errno = EBADE;
            return -1;
        }
    }
    uint8_t *bytes = nullptr;
    if (len > 0) {
        bytes = static_cast<uint8_t *>(Mem_malloc(len / 2));
        if (!bytes)
            return -1;
        for (size_t i = 0; i < len / 2; i++)
            bytes[i] = static_cast<uint8_t>(Str_Char2Hex(text[2 * i]) << 4 | Str_Char2Hex(text[2 * i + 1]));
    }
    Mem_free(hs->bytes);
    hs->bytes = bytes;
    hs->len = static_cast<uint32_t>(len / 2);
    return 0;
}

int HexString_SetBin(struct HexString *hs, const void *bytes, size_t length)
{
    if (!hs || !bytes || length == 0 || length > UINT32_MAX) {
        errno = EINVAL;
        return -1;
    }
    auto *copy = static_cast<uint8_t *>(mirel::mem_copy(bytes, length));
    if (!copy)
        return -1;
    Mem_free(hs->bytes);
    hs->bytes = copy;
    hs->len = static_cast<uint32_t>(length);
    return 0;
}

char *HexString_Get(const struct HexString *hs)
{
    if (!has_bytes(hs))
        return nullptr;
    size_t size = 2 * static_cast<size_t>(hs->len) + 1;
    char *text = static_cast<char *>(Mem_malloc(size));
    if (!text)
        return nullptr;
    return Str_FromArr(hs->bytes, hs->len, text, size);
}

void *HexString_GetBin(const struct HexString *hs, uint32_t *length)
{
    if (!has_bytes(hs))
        return nullptr;
    void *copy = mirel::mem_copy(hs->bytes, hs->len);
    if (!copy)
        return nullptr;
    if (length)
        *length = hs->len;
    return copy;
}

void HexString_Free(struct HexString *hs)
{
    if (!hs)
        return;
    Mem_free(hs->bytes);
    Mem_free(hs);
}

}  // extern "C"
