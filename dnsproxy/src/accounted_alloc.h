// The memory-counting allocator: requests, answers, timers and the cache
// take their blocks here, so that max_mem bounds the whole request road.
#pragma once

#include "hash_table.h"

#include <cstddef>
#include <cstdint>

namespace dnsr {

class Accountant {
public:
    // Each block carries its size in a header; in use counts both.
    static constexpr size_t kHeader = alignof(std::max_align_t);

    void set_limit(uint32_t max_mem) { max_mem_ = max_mem; }
    uint32_t limit() const { return max_mem_; }
    uint64_t in_use() const { return in_use_; }
    // Would a block of size pass max_mem? Callers purge memory first then.
    bool would_pass(size_t size) const { return max_mem_ > 0 && in_use_ + size + kHeader > max_mem_; }

    void *alloc(size_t size);
    void free(void *block);
    Allocator allocator();

private:
    uint64_t in_use_ = 0;
    uint32_t max_mem_ = 0;
};

}  // namespace dnsr
