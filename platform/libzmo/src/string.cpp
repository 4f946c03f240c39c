// String copies and the growable text accumulator.
#include "zmo.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {

char *zmo_string_dup(const char *s)
{
    if (!s) {
        errno = EINVAL;
        return nullptr;
    }
    return strdup(s);
}

char *zmo_string_ndup(const char *s, size_t n)
{
    if (!s) {
        errno = EINVAL;
        return nullptr;
    }
    return strndup(s, n);
}

int zmo_stracc_append(zmo_stracc_t *acc, const char *format, ...)
{
    if (!acc || !format) {
        errno = EINVAL;
        return 0;
    }
    va_list ap;
    va_start(ap, format);
    va_list again;
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n < 0) {
        va_end(again);
        return 0;
    }
    size_t need = acc->size + static_cast<size_t>(n) + 1;
    if (need > acc->capacity) {
        size_t cap = acc->capacity ? acc->capacity : 64;
        while (cap < need)
            cap *= 2;
        char *grown = static_cast<char *>(std::realloc(acc->data, cap));
        if (!grown) {
            va_end(again);
            errno = ENOMEM;
            return 0;
        }
        acc->data = grown;
        acc->capacity = cap;
    }
    vsnprintf(acc->data + acc->size, static_cast<size_t>(n) + 1, format, again);
    va_end(again);
    acc->size += static_cast<size_t>(n);
    return 1;
}

const char *zmo_stracc_value(const zmo_stracc_t *acc) { return acc && acc->data ? acc->data : ""; }

const char *zmo_stracc_next_cstr(const zmo_stracc_t *acc, const char *prev)
{
    if (!acc || !acc->data || acc->size == 0)
        return nullptr;
    if (!prev)
        return acc->data;
    if (prev < acc->data || prev >= acc->data + acc->size)
        return nullptr;
    const char *next = prev + std::strlen(prev) + 1;
    return next < acc->data + acc->size ? next : nullptr;
}

size_t zmo_stracc_size(const zmo_stracc_t *acc) { return acc ? acc->size : 0; }

int zmo_stracc_is_equal(const zmo_stracc_t *a, const zmo_stracc_t *b)
{
    if (!a || !b)
        return 0;
    return a->size == b->size && (a->size == 0 || std::memcmp(a->data, b->data, a->size) == 0);
}

void zmo_stracc_clear(zmo_stracc_t *acc)
{
    if (!acc)
        return;
    std::free(acc->data);
    acc->data = nullptr;
    acc->size = 0;
    acc->capacity = 0;
}

}  // extern "C"
