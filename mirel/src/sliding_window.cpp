// Blocks of one block-wise transfer and the window over their numbers.
#include <cerrno>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "mirel_util.h"
#include "sliding_window.h"

namespace {

struct Block {
    std::vector<uint8_t> data;
    uint8_t flags;
};

}  // namespace

struct SlidingWindow {
    uint32_t block_size = 0;
    uint32_t window_size = 1;
    uint32_t offset = 0;
    std::map<uint32_t, Block> blocks;
    bool receiving = false;
    bool complete = false;
    // Number of the block flagged last, once one is held: nothing beyond it
    // belongs to the body.
    bool last_known = false;
    uint32_t last = 0;

    bool in_window(uint32_t number) const { return number >= offset && number - offset < window_size; }

    // The held block of that number; null with ENOENT.
    Block *block(uint32_t number)
    {
        auto it = blocks.find(number);
        if (it == blocks.end()) {
            errno = ENOENT;
            return nullptr;
        }
        return &it->second;
    }
};

extern "C" {

struct SlidingWindow *SlidingWindow(int sending, uint32_t block_size, uint32_t window_size)
{
    if (window_size == 0) {
        errno = EINVAL;
        return nullptr;
    }
    auto *w = new (std::nothrow) struct SlidingWindow;
    if (!w) {
        errno = ENOMEM;
        return nullptr;
    }
    w->receiving = !sending;
    w->block_size = block_size;
    w->window_size = window_size;
    return w;
}

int SlidingWindow_SetBlockSize(struct SlidingWindow *w, uint32_t size)
{
    if (!w || size == 0) {
        errno = EINVAL;
        return -1;
    }
    if (w->block_size != 0) {
        errno = EALREADY;
        return -1;
    }
    w->block_size = size;
    return 0;
}

int SlidingWindow_Write(struct SlidingWindow *w, const void *data, size_t length)
{
    if (!w || !data || length == 0) {
        errno = EINVAL;
        return -1;
    }
    if (!w->blocks.empty()) {
        errno = ENOTEMPTY;
        return -1;
    }
    if (w->block_size == 0) {
        errno = EBADE;
        return -1;
    }
    if ((length - 1) / w->block_size > UINT32_MAX) {
        errno = EINVAL;
        return -1;
    }
    const auto *p = static_cast<const uint8_t *>(data);
    try {
        for (size_t at = 0, k = 0; at < length; at += w->block_size, k++) {
            size_t n = std::min<size_t>(w->block_size, length - at);
            bool last = at + n == length;
            w->blocks.emplace(static_cast<uint32_t>(k),
                              Block{std::vector<uint8_t>(p + at, p + at + n),
                                    static_cast<uint8_t>(last ? SW_BLOCK_LAST : 0)});
        }
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

int SlidingWindow_WriteBlock(struct SlidingWindow *w, uint32_t number, const void *data, size_t length,
                             int check, const uint8_t *flags)
{
    if (!w || !data || length == 0) {
        errno = EINVAL;
        return -1;
    }
    if (check && !w->in_window(number)) {
        errno = ERANGE;
        return -1;
    }
    if (w->block_size == 0) {
        errno = EBADE;
        return -1;
    }
    if (length > w->block_size) {
        errno = E2BIG;
        return -1;
    }
    if (w->blocks.count(number)) {
        errno = EEXIST;
        return -1;
    }
    bool is_last = flags && (*flags & SW_BLOCK_LAST);
    // A peer that keeps sending past its last block, or names a last block
    // below blocks already held, is not building one body.
    if ((w->last_known && number > w->last) ||
        (is_last && (w->last_known || (!w->blocks.empty() && w->blocks.rbegin()->first > number)))) {
        errno = ERANGE;
        return -1;
    }
    const auto *p = static_cast<const uint8_t *>(data);
    try {
        w->blocks.emplace(
            number, Block{std::vector<uint8_t>(p, p + length), static_cast<uint8_t>(flags ? *flags : 0)});
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    if (is_last) {
        w->last_known = true;
        w->last = number;
    }
    return 0;
}

const uint8_t *SlidingWindow_ReadBlock(struct SlidingWindow *w, uint32_t number, uint32_t *length, int check,
                                       uint8_t *flags)
{
    if (!w) {
        errno = EINVAL;
        return nullptr;
    }
    if (check && !w->in_window(number)) {
        errno = ERANGE;
        return nullptr;
    }
    Block *b = w->block(number);
    if (!b)
        return nullptr;
    if (length)
        *length = static_cast<uint32_t>(b->data.size());
    if (flags)
        *flags = b->flags;
    return b->data.data();
}

int SlidingWindow_ReadBlockIter(struct SlidingWindow *w, int in_window, SlidingWindow_BlockCallback callback,
                                void *context)
{
    if (!w || !callback) {
        errno = EINVAL;
        return -1;
    }
    auto it = w->blocks.begin();
    if (in_window) {
        it = w->blocks.find(w->offset);
        if (it == w->blocks.end())
            return 1;
    }
    for (; it != w->blocks.end(); ++it) {
        if (in_window && !w->in_window(it->first))
            break;
        Block &b = it->second;
        int rc =
            callback(w, it->first, b.data.data(), static_cast<uint32_t>(b.data.size()), &b.flags, context);
        if (rc < 1)
            return rc;
    }
    return 1;
}

int SlidingWindow_GetBlockFlags(struct SlidingWindow *w, uint32_t number, uint8_t *flags)
{
    if (!w || !flags) {
        errno = EINVAL;
        return -1;
    }
    Block *b = w->block(number);
    if (!b)
        return -1;
    *flags = b->flags;
    return 0;
}

int SlidingWindow_SetBlockFlags(struct SlidingWindow *w, uint32_t number, uint8_t flags)
{
    if (!w) {
        errno = EINVAL;
        return -1;
    }
    Block *b = w->block(number);
    if (!b)
        return -1;
    b->flags = flags;
    return 0;
}

int SlidingWindow_Advance(struct SlidingWindow *w, uint8_t *complete)
{
    if (!w) {
        errno = EINVAL;
        return -1;
    }
    bool passed_last = false;
    for (uint32_t step = 0; step < w->window_size; step++) {
        auto it = w->blocks.find(w->offset);
        if (it == w->blocks.end())
            break;
        if (!w->receiving && !(it->second.flags & SW_BLOCK_ACKED))
            break;
        w->offset++;
        // Nothing after the last block belongs to the body.
        if (it->second.flags & SW_BLOCK_LAST) {
            passed_last = true;
            break;
        }
    }
    w->complete = passed_last;
    if (complete)
        *complete = passed_last;
    return 0;
}

int64_t SlidingWindow_GetOffset(const struct SlidingWindow *w)
{
    if (!w) {
        errno = EINVAL;
        return -1;
    }
    return w->offset;
}

uint64_t SlidingWindow_GetSize(const struct SlidingWindow *w)
{
    if (!w) {
        errno = EINVAL;
        return 0;
    }
    if (!w->complete) {
        errno = ENODATA;
        return 0;
    }
    // The body is what the window passed: blocks 0 up to the last one.
    uint64_t size = 0;
    for (auto it = w->blocks.begin(); it != w->blocks.end() && it->first < w->offset; ++it)
        size += it->second.data.size();
    return size;
}

void *SlidingWindow_Read(const struct SlidingWindow *w, uint32_t *length)
{
    uint64_t size = SlidingWindow_GetSize(w);
    if (size == 0)
        return nullptr;
    if (size > UINT32_MAX) {
        errno = E2BIG;
        return nullptr;
    }
    auto *out = static_cast<uint8_t *>(Mem_malloc(size));
    if (!out)
        return nullptr;
    size_t at = 0;
    for (auto it = w->blocks.begin(); it != w->blocks.end() && it->first < w->offset; ++it) {
        std::memcpy(out + at, it->second.data.data(), it->second.data.size());
        at += it->second.data.size();
    }
    if (length)
        *length = static_cast<uint32_t>(size);
    return out;
}

int SlidingWindow_IsRx(const struct SlidingWindow *w) { return w ? w->receiving : 0; }

void SlidingWindow_Free(struct SlidingWindow *w) { delete w; }

}  // extern "C"
