// The LAN Manager remote API's answer packers: one descriptor letter, one
// value at the output cursor. The caller holds the room for the item.
#include "cstrans.h"

#include <cctype>
#include <cstring>

namespace {

// The decimal count after a counted letter, the cursor past it: 1 when 0
// or missing.
uint32_t countAfter(const char **descriptor)
{
    uint32_t n = 0;
    while (std::isdigit(static_cast<unsigned char>(**descriptor))) {
        if (n < 0x10000)
            n = n * 10 + uint32_t(**descriptor - '0');
        ++*descriptor;
    }
    return n ? n : 1;
}

void put(uint8_t **out, uint32_t value, uint32_t size)
{
    for (uint32_t i = 0; i < size; ++i)
        (*out)[i] = uint8_t(value >> (8 * i));
    *out += size;
}

void copy(uint8_t **out, uintptr_t value, uint32_t n)
{
    if (value)
        std::memcpy(*out, reinterpret_cast<const void *>(value), n);
    else
        std::memset(*out, 0, n);
    *out += n;
}

char letterAt(const char **descriptor)
{
    const char letter = char(std::tolower(static_cast<unsigned char>(**descriptor)));
    if (letter)
        ++*descriptor;
    return letter;
}

}  // namespace

extern "C" {

void writeResponseParameter(const char **descriptor, uint8_t **out, uintptr_t value)
{
    switch (letterAt(descriptor)) {
    case 'g':
        copy(out, value, countAfter(descriptor));
        break;
    case 'h':
    case 'e':
        put(out, uint32_t(value), 2);
        break;
    case 'i':
        put(out, uint32_t(value), 4);
        break;
    default:
        break;
    }
}

void writeResponseData(const char **descriptor, uint8_t **out, uintptr_t value)
{
    switch (letterAt(descriptor)) {
    case 'b':
        copy(out, value, countAfter(descriptor));
        break;
    case 'w':
    case 'n':
        put(out, uint32_t(value), 2);
        break;
    case 'd':
    case 'z':
        put(out, uint32_t(value), 4);
        break;
    case 'o':
        *out += 4;
        break;
    default:
        break;
    }
}

}  // extern "C"
