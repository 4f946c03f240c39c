// Shared helpers of the cryptography tests: seeded random data, splits.
#ifndef CIFS_CRYPTO_TEST_UTIL_H
#define CIFS_CRYPTO_TEST_UTIL_H

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cmcrypt.h"
#include "fw_test/bytes.h"

namespace cryptotest {

// The suites' shared helpers (tests/support), under the names used here.
using fw_test::Bytes;
using fw_test::hex;
using fw_test::to_hex;

inline Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

inline Bytes cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes repeat(uint8_t value, size_t n) { return Bytes(n, value); }

// Deterministic data so that a failure can be replayed.
class Rng {
public:
    explicit Rng(uint32_t seed) : engine_(seed) {}
    Bytes bytes(size_t n)
    {
        Bytes b(n);
        for (auto &x : b)
            x = uint8_t(engine_());
        return b;
    }
    size_t below(size_t n) { return n ? size_t(engine_() % n) : 0; }

private:
    std::mt19937 engine_;
};

// Lengths that cross the block and padding boundaries of 16-, 64- and 128-byte blocks.
inline std::vector<size_t> boundaryLengths()
{
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 80; ++n)
        lengths.push_back(n);
    for (size_t base : {111, 127, 128, 191, 239, 240, 255, 256, 1000, 4097})
        for (size_t d : {0, 1, 2})
            lengths.push_back(base + d);
    return lengths;
}

// The data cut into random pieces, with a skipped null fragment and an empty one among them.
inline std::vector<CMBlob> randomFragments(Bytes &data, Rng &rng)
{
    std::vector<CMBlob> list;
    size_t off = 0;
    list.push_back(CMBlob{nullptr, 7});
    while (off < data.size()) {
        size_t n = 1 + rng.below(data.size() - off);
        list.push_back(CMBlob{data.data() + off, uint32_t(n)});
        if (rng.below(3) == 0)
            list.push_back(CMBlob{data.data() + off, 0});
        off += n;
    }
    return list;
}

}  // namespace cryptotest

#endif
