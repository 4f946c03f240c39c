// Allocator of the stack: a 12-byte header {size, magic, sequence} sits right
// in front of every block so the total of live bytes can be kept against a
// limit. Blocks are registered, so freeing a foreign pointer never has to peek
// in front of it.
#include "cmmemory.h"
#include "cmstring.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace {

constexpr uint32_t kMagic = 0xFED12345u;
constexpr size_t kHeader = 12;
// The header stays 12 bytes in front of the block; the lead pad keeps the
// block aligned for any type on 64-bit hosts.
constexpr size_t kLead = 16;

std::atomic<uint32_t> g_limit{0};
std::atomic<uint32_t> g_total{0};
std::atomic<uint32_t> g_sequence{0};

// Live blocks, sharded by address to keep the lock short.
struct Shard {
    std::mutex lock;
    std::unordered_set<const void *> blocks;
};
Shard &shardOf(const void *p)
{
    // Never destroyed: blocks may still be freed by other static destructors.
    static auto *shards = new std::array<Shard, 16>;
    auto v = reinterpret_cast<uintptr_t>(p);
    return (*shards)[(v >> 4 ^ v >> 12) & 15];
}

void release(uint32_t n)
{
    // cmMemoryStart may clear the total while blocks live; never wrap below 0.
    uint32_t total = g_total.load();
    while (!g_total.compare_exchange_weak(total, total > n ? total - n : 0)) {
    }
}

bool reserve(uint32_t n)
{
    uint32_t total = g_total.load();
    for (;;) {
        uint32_t limit = g_limit.load();
        if (limit != 0 && (uint64_t)n + total > limit)
            return false;
        if (g_total.compare_exchange_weak(total, total + n))
            return true;
    }
}

}  // namespace

extern "C" {

int cmMemoryStart(uint32_t limit)
{
    g_limit = limit;
    g_total = 0;
    g_sequence = 0;
    return 1;
}

void cmMemoryShutdown(void) {}

uint32_t cmMemoryGetTotal(void) { return g_total.load(); }

void *cmMemoryAllocNonDebug(uint32_t size)
{
    if (size == 0 || size > SIZE_MAX - kLead || !reserve(size))
        return nullptr;
    auto *raw = static_cast<uint8_t *>(std::malloc((size_t)size + kLead));
    if (!raw) {
        release(size);
        return nullptr;
    }
    uint8_t *block = raw + kLead;
    const uint32_t header[3] = {size, kMagic, ++g_sequence};
    std::memcpy(block - kHeader, header, sizeof header);
    Shard &s = shardOf(block);
    try {
        std::lock_guard<std::mutex> g(s.lock);
        s.blocks.insert(block);
    } catch (...) {
        release(size);
        std::free(raw);
        return nullptr;
    }
    return block;
}

void cmMemoryFreeNonDebug(const void *block)
{
    if (!block)
        return;
    bool ours;
    {
        Shard &s = shardOf(block);
        std::lock_guard<std::mutex> g(s.lock);
        ours = s.blocks.erase(block) != 0;
    }
    if (!ours) {
        std::free(const_cast<void *>(block));
        return;
    }
    const auto *p = static_cast<const uint8_t *>(block);
    uint32_t header[3];
    std::memcpy(header, p - kHeader, sizeof header);
    release(header[0]);
    std::free(const_cast<uint8_t *>(p - kLead));
}

CMBlob cmMemoryCloneBlobNonDebug(const CMBlob *source)
{
    CMBlob copy{nullptr, source->len};
    if (source->data) {
        copy.data = static_cast<uint8_t *>(cmMemoryAllocNonDebug(source->len));
        if (copy.data)
            std::memcpy(copy.data, source->data, source->len);
    }
    return copy;
}

void cmMemoryFreeBlobNonDebug(CMBlob *blob)
{
    if (blob->data)
        cmMemoryFreeNonDebug(blob->data);
    blob->data = nullptr;
    blob->len = 0;
}

CMWchar *cmMemoryCloneAStringNonDebug(const char *text)
{
    auto *w = static_cast<CMWchar *>(cmMemoryAllocNonDebug((uint32_t)(std::strlen(text) + 1) * 2));
    if (w)
        cmAnsiToUnicode(w, text);
    return w;
}

CMWchar *cmMemoryCloneWStringNonDebug(const CMWchar *wtext)
{
    uint32_t bytes = (cmWStrlen(wtext) + 1) * 2;
    auto *w = static_cast<CMWchar *>(cmMemoryAllocNonDebug(bytes));
    if (w)
        cmWStrcpy(w, wtext);
    return w;
}

char *cmMemoryCloneWStringAsAsciiNonDebug(const CMWchar *wtext)
{
    auto *a = static_cast<char *>(cmMemoryAllocNonDebug((cmWStrlen(wtext) + 1) * 4));
    if (a)
        cmUnicodeToAnsi(a, wtext);
    return a;
}

}  // extern "C"
