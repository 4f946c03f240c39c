#include "fw_test/bytes.h"

#include <cctype>
#include <cstring>

namespace fw_test {

namespace {
const char kDigits[] = "0123456789abcdef";

// The value of a hex digit of either case, -1 for any other character.
int digit(char c)
{
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const char *at = lower ? std::strchr(kDigits, lower) : nullptr;
    return at ? static_cast<int>(at - kDigits) : -1;
}
}  // namespace

Bytes hex(const std::string &text)
{
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v = digit(c);
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

std::string to_hex(const uint8_t *p, std::size_t n)
{
    std::string s;
    s.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 15];
    }
    return s;
}

}  // namespace fw_test
