// Replaces operator new for the test binary that includes this (once) so a
// test can make the next allocation fail, as it may on a router short of memory.
#ifndef FAILING_NEW_H
#define FAILING_NEW_H

#include <cstdlib>
#include <new>

// Allocations on this thread still granted before one throws std::bad_alloc;
// -1 grants all.
inline thread_local int t_newsBeforeFailure = -1;

// The replaced forms are malloc and free underneath, matched by construction.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wunknown-warning-option"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(std::size_t size)
{
    if (t_newsBeforeFailure == 0) {
        t_newsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (t_newsBeforeFailure > 0)
        --t_newsBeforeFailure;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
#pragma GCC diagnostic pop

#endif
