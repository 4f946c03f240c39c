// The line inventory's version number and texts.
#include <cstdio>
#include <cstring>

#include "chip_answers.h"

namespace chip_answers {

namespace {

// The version's fourth byte from which the maker writes base-62 numbers.
constexpr unsigned char kBase62From = 0x13;
constexpr size_t kBase62Chars = 7;

int base62_digit(char c, int previous)
{
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return previous;
}

}  // namespace

std::string bounded_text(const unsigned char *bytes, size_t n)
{
    const void *zero = std::memchr(bytes, 0, n);
    size_t length = zero ? static_cast<size_t>(static_cast<const unsigned char *>(zero) - bytes) : n;
    return std::string(reinterpret_cast<const char *>(bytes), length);
}

InventoryVersion decode_inventory_version(const unsigned char (&system_vendor)[kVendorBytes],
                                          const unsigned char (&version)[kVersionBytes])
{
    InventoryVersion v{};
    char hex[3];
    for (unsigned char b : version) {
        std::snprintf(hex, sizeof hex, "%.2X", b);
        v.octets += hex;
    }
    v.raw = bounded_text(version, kVersionBytes);
    if (std::memcmp(system_vendor + 2, "SORV", 4) != 0) {
        v.form = InventoryVersion::Raw;
        v.text = v.raw;
    } else if (version[3] < kBase62From) {
        v.form = InventoryVersion::Octets;
        v.text = v.octets.substr(0, 6) + "_" + v.octets.substr(6, 6) + "_" + v.octets.substr(12, 6) + "_" +
                 v.octets.substr(18, 14);
    } else {
        v.form = InventoryVersion::Base62;
        // A first character outside the three ranges counts as digit 0.
        int d[kBase62Chars], previous = 0;
        for (size_t i = 0; i < kBase62Chars; i++)
            previous = d[i] = base62_digit(static_cast<char>(version[i]), previous);
        v.numbers[0] = d[0];
        v.numbers[1] = d[1] * 62 + d[2];
        v.numbers[2] = d[3] * 62 + d[4];
        v.numbers[3] = d[5] * 62 + d[6];
        char text[64];
        std::snprintf(text, sizeof text, "%d_%d_%d_%d", v.numbers[0], v.numbers[1], v.numbers[2],
                      v.numbers[3]);
        v.text = text;
    }
    return v;
}

}  // namespace chip_answers
