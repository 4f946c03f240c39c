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

}  // namespace fw_test
