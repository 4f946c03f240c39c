// Random numbers from the kernel's generator, drawn in batches: upstream
// query ids and the choice of upstream sockets must not be predictable from
// what an observer saw before (the Twister's output is, after 624 words).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace dnsr {

class KernelRandom {
public:
    KernelRandom() = default;
    ~KernelRandom();
    KernelRandom(const KernelRandom &) = delete;
    KernelRandom &operator=(const KernelRandom &) = delete;
    uint32_t next32();
    uint16_t next16() { return uint16_t(next32()); }
    // Uniform in [0, n) for n > 0, without the modulo's bias.
    uint32_t below(uint32_t n);

private:
    void refill();

    std::array<uint32_t, 256> words_{};
    size_t used_ = 256;
    int urandom_fd_ = -1;
};

}  // namespace dnsr
