// Mersenne Twister (period 2^19937 - 1), seeded by an array as published by
// its authors: query ids and the random part of ranks come from it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dnsr {

class Mt19937 {
public:
    Mt19937() { seed(5489u); }
    void seed(uint32_t s);
    void seed_by_array(const uint32_t *key, size_t length);
    uint32_t next();

private:
    static constexpr int N = 624;
    uint32_t mt_[N];
    int index_ = N + 1;
};

}  // namespace dnsr
