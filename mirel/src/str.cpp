// Small string helpers shared by the library and the cloud agent.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "mirel_util.h"

namespace {

char *format_scaled(double v, const char *const units[5], char *out, size_t out_size)
{
    if (!out || out_size == 0)
        return nullptr;
    static const double kStep = 1024.0;
    double limit = kStep;
    double prev = 1.0;
    for (int i = 0; i < 4; i++) {
        if (v < limit) {
            std::snprintf(out, out_size, i == 0 ? "%.0f %s" : "%.02f %s", v / prev, units[i]);
            return out;
        }
        prev = limit;
        limit *= kStep;
    }
    std::snprintf(out, out_size, "%.02f %s", v / prev, units[4]);
    return out;
}

}  // namespace

extern "C" {

void Str_Up(char *text)
{
    for (; text && *text; text++)
        *text = static_cast<char>(std::toupper(static_cast<unsigned char>(*text)));
}

void Str_Low(char *text)
{
    for (; text && *text; text++)
        *text = static_cast<char>(std::tolower(static_cast<unsigned char>(*text)));
}

int Str_ArrIsPrintable(const void *bytes, size_t length)
{
    if (!bytes || length == 0)
        return 0;
    const auto *p = static_cast<const unsigned char *>(bytes);
    for (size_t i = 0; i < length; i++) {
        // C locale: 0x20 .. 0x7e.
        if (p[i] < 0x20 || p[i] > 0x7e)
            return 0;
    }
    return 1;
}

char *Str_FromArr(const void *bytes, size_t length, char *out, size_t size)
{
    if (!bytes || !out || length == 0 || size == 0) {
        errno = EINVAL;
        return nullptr;
    }
    if (size < 2 * length + 1) {
        errno = ENOSPC;
        return nullptr;
    }
    const auto *p = static_cast<const uint8_t *>(bytes);
    for (size_t i = 0; i < length; i++) {
        out[2 * i] = Str_Hex2Char(p[i] >> 4);
        out[2 * i + 1] = Str_Hex2Char(p[i] & 15);
    }
    out[2 * length] = '\0';
    return out;
}

const char *Str_strnchr(const char *text, size_t length, int ch)
{
    if (!text)
        return nullptr;
    for (size_t i = 0; i < length && text[i]; i++) {
        if (text[i] == static_cast<char>(ch))
            return text + i;
    }
    return nullptr;
}

char Str_Hex2Char(unsigned value) { return "0123456789abcdef"[value & 15]; }

int Str_Char2Hex(int ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

char *Str_SizeFormat(uint64_t size, char *out, size_t out_size)
{
    static const char *const kUnits[5] = {"B", "KiB", "MiB", "GiB", "TiB"};
    return format_scaled(static_cast<double>(size), kUnits, out, out_size);
}

char *Str_SpeedFormat(double bytes_per_second, char *out, size_t out_size)
{
    static const char *const kUnits[5] = {"B/s", "KiB/s", "MiB/s", "GiB/s", "TiB/s"};
    return format_scaled(bytes_per_second, kUnits, out, out_size);
}

}  // extern "C"
