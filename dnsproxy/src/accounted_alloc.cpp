// The memory-counting allocator.
#include "accounted_alloc.h"

#include <cstdlib>
#include <cstring>

namespace dnsr {

void *Accountant::alloc(size_t size)
{
    if (size > SIZE_MAX - kHeader || would_pass(size))
        return nullptr;
    auto *block = static_cast<unsigned char *>(malloc(size + kHeader));
    if (!block)
        return nullptr;
    memcpy(block, &size, sizeof size);
    in_use_ += size + kHeader;
    return block + kHeader;
}

void Accountant::free(void *p)
{
    if (!p)
        return;
    auto *block = static_cast<unsigned char *>(p) - kHeader;
    size_t size;
    memcpy(&size, block, sizeof size);
    in_use_ -= size + kHeader;
    ::free(block);
}

Allocator Accountant::allocator()
{
    return Allocator{[](void *owner, size_t n) { return static_cast<Accountant *>(owner)->alloc(n); },
                     [](void *owner, void *p) { static_cast<Accountant *>(owner)->free(p); }, this};
}

}  // namespace dnsr
