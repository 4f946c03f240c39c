// Mersenne Twister MT19937.
#include "mt19937.h"

namespace dnsr {

namespace {
constexpr int M = 397;
constexpr uint32_t kMatrixA = 0x9908b0dfu;
constexpr uint32_t kUpper = 0x80000000u;
constexpr uint32_t kLower = 0x7fffffffu;
}  // namespace

void Mt19937::seed(uint32_t s)
{
    mt_[0] = s;
    for (int i = 1; i < N; i++)
        mt_[i] = 1812433253u * (mt_[i - 1] ^ (mt_[i - 1] >> 30)) + uint32_t(i);
    index_ = N;
}

void Mt19937::seed_by_array(const uint32_t *key, size_t length)
{
    seed(19650218u);
    int i = 1;
    size_t j = 0;
    for (size_t k = (N > length ? N : length); k; k--) {
        mt_[i] = (mt_[i] ^ ((mt_[i - 1] ^ (mt_[i - 1] >> 30)) * 1664525u)) + key[j] + uint32_t(j);
        i++;
        j++;
        if (i >= N) {
            mt_[0] = mt_[N - 1];
            i = 1;
        }
        if (j >= length)
            j = 0;
    }
    for (int k = N - 1; k; k--) {
        mt_[i] = (mt_[i] ^ ((mt_[i - 1] ^ (mt_[i - 1] >> 30)) * 1566083941u)) - uint32_t(i);
        i++;
        if (i >= N) {
            mt_[0] = mt_[N - 1];
            i = 1;
        }
    }
    mt_[0] = 0x80000000u;  // a non-zero initial array is assured
}

uint32_t Mt19937::next()
{
    if (index_ >= N) {
        for (int k = 0; k < N; k++) {
            uint32_t y = (mt_[k] & kUpper) | (mt_[(k + 1) % N] & kLower);
            mt_[k] = mt_[(k + M) % N] ^ (y >> 1) ^ ((y & 1u) ? kMatrixA : 0u);
        }
        index_ = 0;
    }
    uint32_t y = mt_[index_++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

}  // namespace dnsr
