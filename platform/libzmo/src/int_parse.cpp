// Strict decimal number parsing: the whole text or nothing.
#include "zmo.h"

#include <cerrno>
#include <climits>

namespace {
// Digits only, optionally after one '-' when negative values are allowed.
// Stores the magnitude and the sign; refuses overflow of unsigned long long.
bool parse_decimal(const char *text, bool allow_minus, bool *negative, unsigned long long *magnitude)
{
    if (!text) {
        errno = EINVAL;
        return false;
    }
    const char *p = text;
    *negative = false;
    if (allow_minus && *p == '-') {
        *negative = true;
        ++p;
    }
    if (*p < '0' || *p > '9') {
        errno = EINVAL;
        return false;
    }
    unsigned long long v = 0;
    bool overflow = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        unsigned d = static_cast<unsigned>(*p - '0');
        if (v > (ULLONG_MAX - d) / 10)
            overflow = true;
        v = v * 10 + d;
    }
    if (*p != '\0') {
        errno = EINVAL;
        return false;
    }
    if (overflow) {
        errno = ERANGE;
        return false;
    }
    *magnitude = v;
    return true;
}

bool parse_unsigned(const char *text, unsigned long long max, unsigned long long *out)
{
    bool negative;
    unsigned long long v;
    if (!parse_decimal(text, false, &negative, &v))
        return false;
    if (v > max) {
        errno = ERANGE;
        return false;
    }
    *out = v;
    return true;
}
}  // namespace

extern "C" {

int zmo_int_parse_ulong(const char *text, unsigned long *value)
{
    unsigned long long v;
    if (!value || !parse_unsigned(text, ULONG_MAX, &v))
        return 0;
    *value = static_cast<unsigned long>(v);
    return 1;
}

int zmo_int_parse_ushort(const char *text, unsigned short *value)
{
    unsigned long long v;
    if (!value || !parse_unsigned(text, USHRT_MAX, &v))
        return 0;
    *value = static_cast<unsigned short>(v);
    return 1;
}

int zmo_int_parse_int(const char *text, int *value)
{
    bool negative;
    unsigned long long v;
    if (!value || !parse_decimal(text, true, &negative, &v))
        return 0;
    const unsigned long long limit =
        negative ? static_cast<unsigned long long>(INT_MAX) + 1 : static_cast<unsigned long long>(INT_MAX);
    if (v > limit) {
        errno = ERANGE;
        return 0;
    }
    *value = negative ? static_cast<int>(-static_cast<long long>(v)) : static_cast<int>(v);
    return 1;
}

}  // extern "C"
