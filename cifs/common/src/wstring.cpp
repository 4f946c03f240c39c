// UTF-16 and 8-bit text operations and the one-to-one conversions between them.
#include "cmstring.h"
#include "case_table.h"

#include <cctype>
#include <cstring>

namespace {

// Strings in messages may follow odd-sized fields: start at the next even address.
template <typename T> T *even(T *s)
{
    auto v = reinterpret_cast<uintptr_t>(s);
    return reinterpret_cast<T *>((v + 1) & ~uintptr_t(1));
}

int compare(const CMWchar *a, const CMWchar *b, uint32_t n, bool fold)
{
    a = even(a);
    b = even(b);
    for (uint32_t i = 0; i < n; ++i) {
        CMWchar x = fold ? cmUpperUnit(a[i]) : a[i];
        CMWchar y = fold ? cmUpperUnit(b[i]) : b[i];
        if (x != y)
            return (int)x - (int)y;
        if (x == 0)
            break;
    }
    return 0;
}

int acompare(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        auto x = (signed char)std::toupper((unsigned char)a[i]);
        auto y = (signed char)std::toupper((unsigned char)b[i]);
        if (x != y)
            return x - y;
        if (x == 0)
            break;
    }
    return 0;
}

}  // namespace

extern "C" {

uint32_t cmWStrlen(const CMWchar *s)
{
    s = even(s);
    uint32_t n = 0;
    while (s[n])
        ++n;
    return n;
}

void cmWStrcpy(CMWchar *dst, const CMWchar *src)
{
    dst = even(dst);
    src = even(src);
    std::memmove(dst, src, (cmWStrlen(src) + 1) * sizeof(CMWchar));
}

CMWchar *cmWStrcat(CMWchar *dst, const CMWchar *src)
{
    dst = even(dst);
    CMWchar *end = dst + cmWStrlen(dst);
    cmWStrcpy(end, src);
    return end + cmWStrlen(end) + 1;
}

uint32_t cmWStrncpy(CMWchar *dst, const CMWchar *src, uint32_t n)
{
    dst = even(dst);
    src = even(src);
    for (uint32_t i = 0; i < n; ++i) {
        dst[i] = src[i];
        if (src[i] == 0)
            return i + 1;
    }
    return n;
}

CMWchar *cmWStrchr(const CMWchar *s, CMWchar c)
{
    s = even(s);
    for (;; ++s) {
        if (*s == c)
            return const_cast<CMWchar *>(s);
        if (*s == 0)
            return nullptr;
    }
}

CMWchar *cmWStrrchr(const CMWchar *s, CMWchar c)
{
    s = even(s);
    const CMWchar *found = nullptr;
    for (; *s; ++s)
        if (*s == c)
            found = s;
    return const_cast<CMWchar *>(found);
}

int cmWStrcmp(const CMWchar *a, const CMWchar *b) { return compare(a, b, UINT32_MAX, false); }
int cmWStrncmp(const CMWchar *a, const CMWchar *b, uint32_t n) { return compare(a, b, n, false); }
int cmWStricmp(const CMWchar *a, const CMWchar *b) { return compare(a, b, UINT32_MAX, true); }
int cmWStrincmp(const CMWchar *a, const CMWchar *b, uint32_t n) { return compare(a, b, n, true); }

int cmWToupper(CMWchar *dst, CMWchar src)
{
    *dst = cmUpperUnit(src);
    return 1;
}

void cmWStrupr(CMWchar *s)
{
    for (s = even(s); *s; ++s)
        *s = cmUpperUnit(*s);
}

const CMWchar *cmWDump(const CMWchar *s) { return s; }

char *cmAStrchr(const char *s, int c) { return const_cast<char *>(std::strchr(s, c)); }
char *cmAStrrchr(const char *s, int c) { return const_cast<char *>(std::strrchr(s, c)); }

int cmAToupper(char *dst, char src)
{
    *dst = (char)std::toupper((unsigned char)src);
    return 1;
}

void cmAStrupr(char *s)
{
    for (; *s; ++s)
        cmAToupper(s, *s);
}

int cmAStricmp(const char *a, const char *b) { return acompare(a, b, SIZE_MAX); }
int cmAStrincmp(const char *a, const char *b, uint32_t n) { return acompare(a, b, n); }

void cmAnsiToUnicodeN(CMWchar *dst, const char *src, uint32_t n)
{
    dst = even(dst);
    uint32_t i = 0;
    for (; i < n && src[i]; ++i)
        dst[i] = (unsigned char)src[i];
    dst[i] = 0;
}

void cmAnsiToUnicode(CMWchar *dst, const char *src) { cmAnsiToUnicodeN(dst, src, UINT32_MAX); }

void cmUnicodeToAnsiN(char *dst, const CMWchar *src, uint32_t nBytes)
{
    src = even(src);
    uint32_t i = 0;
    for (; i < nBytes / 2 && src[i]; ++i)
        dst[i] = (char)(src[i] & 0xFF);
    dst[i] = 0;
}

void cmUnicodeToAnsi(char *dst, const CMWchar *src)
{
    src = even(src);
    uint32_t i = 0;
    for (; src[i]; ++i)
        dst[i] = (char)(src[i] & 0xFF);
    dst[i] = 0;
}

void *cmUnicodeToStr(void *dst, const CMWchar *src, int unicode)
{
    if (!unicode) {
        auto *d = static_cast<char *>(dst);
        cmUnicodeToAnsi(d, src);
        return d + std::strlen(d) + 1;
    }
    auto *d = even(static_cast<CMWchar *>(dst));
    cmWStrcpy(d, src);
    return d + cmWStrlen(d) + 1;
}

void *cmWcharToStr(void *dst, const CMWchar *src, int unicode) { return cmUnicodeToStr(dst, src, unicode); }

void *cmAnsiToStr(void *dst, const char *src, int unicode)
{
    if (!unicode) {
        auto *d = static_cast<char *>(dst);
        size_t n = std::strlen(src) + 1;
        std::memmove(d, src, n);
        return d + n;
    }
    auto *d = even(static_cast<CMWchar *>(dst));
    cmAnsiToUnicode(d, src);
    return d + cmWStrlen(d) + 1;
}

}  // extern "C"
