// The LAN Manager remote API's answer packers: one descriptor letter, one
// value, written with the bounded writer.
#include "cstransaction.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

// The decimal count after a counted letter: 1 when 0 or missing.
uint32_t countAfter(const char **descriptor)
{
    uint32_t n = 0;
    while (std::isdigit(static_cast<unsigned char>(**descriptor)) && n < 0x10000)
        n = n * 10 + uint32_t(*(*descriptor)++ - '0');
    while (std::isdigit(static_cast<unsigned char>(**descriptor)))
        ++*descriptor;
    return n ? n : 1;
}

uint16_t value16(const void *value)
{
    uint16_t v = 0;
    if (value)
        std::memcpy(&v, value, sizeof v);
    return v;
}

uint32_t value32(const void *value)
{
    uint32_t v = 0;
    if (value)
        std::memcpy(&v, value, sizeof v);
    return v;
}

void copy(CMBufferWriter *out, const void *value, uint32_t n)
{
    if (value)
        cmBufferWriteBytes(out, value, n);
    else
        cmBufferWriteZeroes(out, n);
}

}  // namespace

extern "C" {

void writeResponseParameter(const char **descriptor, CMBufferWriter *out, const void *value)
{
    const char letter = char(std::toupper(static_cast<unsigned char>(**descriptor)));
    if (letter == 0)
        return;
    ++*descriptor;
    switch (letter) {
    case 'G':
        copy(out, value, countAfter(descriptor));
        break;
    case 'H':
    case 'E':
        cmBufferWriteUint16(out, value16(value));
        break;
    case 'I':
        cmBufferWriteUint32(out, value32(value));
        break;
    default:
        break;
    }
}

void writeResponseData(const char **descriptor, CMBufferWriter *out, const void *value)
{
    const char letter = char(std::toupper(static_cast<unsigned char>(**descriptor)));
    if (letter == 0)
        return;
    ++*descriptor;
    switch (letter) {
    case 'B':
        copy(out, value, countAfter(descriptor));
        break;
    case 'W':
    case 'N':
        cmBufferWriteUint16(out, value16(value));
        break;
    case 'D':
    case 'Z':
        cmBufferWriteUint32(out, value32(value));
        break;
    case 'O':
        cmBufferWriterSkip(out, 4);
        break;
    default:
        break;
    }
}

}  // extern "C"
