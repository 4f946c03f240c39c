// Bytes written as hex in tests, and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fw_test {

using Bytes = std::vector<uint8_t>;

// "41 01 ab" -> {0x41, 0x01, 0xab}: digits of either case; anything else
// (blanks, colons) is skipped; an odd last digit is dropped.
Bytes hex(const std::string &text);
// Lower-case digits, no separators.
std::string to_hex(const uint8_t *p, std::size_t n);
inline std::string to_hex(const Bytes &b) { return to_hex(b.data(), b.size()); }
// The characters of s as bytes.
inline Bytes text_bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

// Little-endian numbers appended to a message, or read from one.
inline void put_le16(Bytes &b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put_le32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
inline uint16_t get_le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t get_le32(const uint8_t *p)
{
    return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
}

}  // namespace fw_test
