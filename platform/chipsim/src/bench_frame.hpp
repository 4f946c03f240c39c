// Bench frames: "CS", a 32-bit request id, then a zero-terminated text.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace chipsim {

constexpr size_t kBenchTextOffset = 20;

inline std::vector<uint8_t> bench_frame(const uint8_t dst[6], const uint8_t src[6], uint32_t id,
                                        const std::string &text)
{
    std::vector<uint8_t> f(std::max<size_t>(60, kBenchTextOffset + text.size() + 1), 0);
    std::memcpy(f.data(), dst, 6);
    std::memcpy(f.data() + 6, src, 6);
    f[12] = 0x88;
    f[13] = 0xB5;
    f[14] = 'C';
    f[15] = 'S';
    std::memcpy(f.data() + 16, &id, 4);
    std::memcpy(f.data() + kBenchTextOffset, text.data(), text.size());
    return f;
}

// The text of a bench frame, false when it is not one.
inline bool bench_parse(const uint8_t *f, size_t len, uint32_t &id, std::string &text)
{
    if (len <= kBenchTextOffset || f[12] != 0x88 || f[13] != 0xB5 || f[14] != 'C' || f[15] != 'S')
        return false;
    std::memcpy(&id, f + 16, 4);
    const char *t = reinterpret_cast<const char *>(f + kBenchTextOffset);
    text.assign(t, strnlen(t, len - kBenchTextOffset));
    return true;
}

}  // namespace chipsim
