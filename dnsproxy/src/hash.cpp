// Hash functions and the plain allocator of the tables.
#include "hash_table.h"

#include <netinet/in.h>

#include <cstring>

namespace dnsr {

namespace {
void *plain_alloc(void *, size_t size) { return malloc(size); }
void plain_free(void *, void *block) { free(block); }
}  // namespace

Allocator plain_allocator() { return Allocator{plain_alloc, plain_free, nullptr}; }

uint32_t fletcher32(const uint16_t *words, size_t count)
{
    uint32_t sum1 = 0xffff, sum2 = 0xffff;
    while (count) {
        size_t block = count > 359 ? 359 : count;
        count -= block;
        do {
            sum1 += *words++;
            sum2 += sum1;
        } while (--block);
        sum1 = (sum1 & 0xffff) + (sum1 >> 16);
        sum2 = (sum2 & 0xffff) + (sum2 >> 16);
    }
    sum1 = (sum1 & 0xffff) + (sum1 >> 16);
    sum2 = (sum2 & 0xffff) + (sum2 >> 16);
    return sum2 << 16 | sum1;
}

uint32_t sockaddr_hash(const sockaddr_storage &sa)
{
    if (sa.ss_family == AF_INET6) {
        uint16_t words[8];
        memcpy(words, &reinterpret_cast<const sockaddr_in6 &>(sa).sin6_addr, sizeof words);
        return fletcher32(words, 8);
    }
    if (sa.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in &>(sa).sin_addr.s_addr;
    return 0;
}

bool sockaddr_same_address(const sockaddr_storage &a, const sockaddr_storage &b)
{
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET6)
        return memcmp(&reinterpret_cast<const sockaddr_in6 &>(a).sin6_addr,
                      &reinterpret_cast<const sockaddr_in6 &>(b).sin6_addr, 16) == 0;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in &>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in &>(b).sin_addr.s_addr;
    return true;
}

}  // namespace dnsr
