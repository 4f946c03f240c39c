// Running block-wise transfers of an endpoint, by transfer key.
#include <cerrno>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "sliding_window.h"
#include "zmo.h"

namespace {

struct Transfer {
    struct SlidingWindow *window = nullptr;
    struct CoAPMessage *tmpl = nullptr;
    CoAPMessage_Handler handler = nullptr;
    bool has_code = false;
    int code = 0;
    uint64_t start_us = 0;
    uint64_t active_ms = 0;  // last Set or Get
};

uint64_t real_clock(void *) { return TimeMono_Ms(); }

void release(Transfer &t)
{
    SlidingWindow_Free(t.window);
    CoAPMessage_Decref(t.tmpl);
}

// "ARQ rx|tx transfer <key> <size> at <speed>" at debug level 1.
void log_transfer(const std::string &key, const Transfer &t)
{
    if (zmo_log_get_debug() < 1)
        return;
    uint64_t size = SlidingWindow_GetSize(t.window);
    if (size == 0)
        return;
    uint64_t now = TimeMono_Us();
    // A transfer done within the clock's resolution counts as one microsecond.
    double seconds = now > t.start_us ? static_cast<double>(now - t.start_us) / 1e6 : 1e-6;
    char size_text[32], speed_text[32];
    Str_SizeFormat(size, size_text, sizeof size_text);
    Str_SpeedFormat(static_cast<double>(size) / seconds, speed_text, sizeof speed_text);
    zmo_log_debug(1, "ARQ %s transfer %s %s at %s", SlidingWindow_IsRx(t.window) ? "rx" : "tx", key.c_str(),
                  size_text, speed_text);
}

}  // namespace

struct SlidingWindowPool {
    // Ordered, with a transparent comparison: a lookup by the caller's text
    // allocates nothing, so it cannot fail for want of memory.
    using Map = std::map<std::string, Transfer, std::less<>>;
    std::mutex mutex;
    Map transfers;
    SlidingWindowPool_Clock clock = real_clock;
    void *clock_ctx = nullptr;

    uint64_t now() { return clock(clock_ctx); }

    // The transfer of a key, or end() with ENOENT; called with the mutex held.
    Map::iterator lookup(const char *key)
    {
        auto it = transfers.find(std::string_view(key));
        if (it == transfers.end())
            errno = ENOENT;
        return it;
    }
};

extern "C" {

struct SlidingWindowPool *SlidingWindowPool(void)
{
    auto *pool = new (std::nothrow) struct SlidingWindowPool;
    if (!pool)
        errno = ENOMEM;
    return pool;
}

int SlidingWindowPool_Set(struct SlidingWindowPool *pool, const char *key, struct SlidingWindow *w,
                          struct CoAPMessage *tmpl, CoAPMessage_Handler handler)
{
    if (!pool || !key || !w) {
        errno = EINVAL;
        return -1;
    }
    try {
        // One critical section: the check and the insert cannot be split by
        // another thread registering the same key.
        std::lock_guard<std::mutex> lock(pool->mutex);
        auto res = pool->transfers.try_emplace(key);
        if (!res.second) {
            errno = EEXIST;
            return -1;
        }
        Transfer &t = res.first->second;
        t.window = w;
        t.tmpl = tmpl;
        t.handler = handler;
        t.start_us = TimeMono_Us();
        t.active_ms = pool->now();
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

struct SlidingWindow *SlidingWindowPool_Get(struct SlidingWindowPool *pool, const char *key,
                                            struct CoAPMessage **tmpl, CoAPMessage_Handler *handler)
{
    if (!pool || !key) {
        errno = EINVAL;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    auto it = pool->lookup(key);
    if (it == pool->transfers.end())
        return nullptr;
    if (tmpl)
        *tmpl = it->second.tmpl;
    if (handler)
        *handler = it->second.handler;
    it->second.active_ms = pool->now();
    return it->second.window;
}

int SlidingWindowPool_SetCode(struct SlidingWindowPool *pool, const char *key, int code)
{
    if (!pool || !key) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    auto it = pool->lookup(key);
    if (it == pool->transfers.end())
        return 0;
    it->second.has_code = true;
    it->second.code = code;
    return 0;
}

int SlidingWindowPool_GetCode(struct SlidingWindowPool *pool, const char *key)
{
    if (!pool || !key) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    auto it = pool->lookup(key);
    if (it == pool->transfers.end())
        return -1;
    if (!it->second.has_code) {
        errno = ENOENT;
        return -1;
    }
    return it->second.code;
}

int SlidingWindowPool_Del(struct SlidingWindowPool *pool, const char *key)
{
    if (!pool || !key) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    auto it = pool->lookup(key);
    if (it == pool->transfers.end())
        return -1;
    log_transfer(it->first, it->second);
    release(it->second);
    pool->transfers.erase(it);
    return 0;
}

void SlidingWindowPool_SetClock(struct SlidingWindowPool *pool, SlidingWindowPool_Clock clock, void *context)
{
    if (!pool)
        return;
    std::lock_guard<std::mutex> lock(pool->mutex);
    pool->clock = clock ? clock : real_clock;
    pool->clock_ctx = clock ? context : nullptr;
}

int SlidingWindowPool_Expire(struct SlidingWindowPool *pool, uint64_t idle_ms)
{
    if (!pool) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    uint64_t t = pool->now();
    int gone = 0;
    for (auto it = pool->transfers.begin(); it != pool->transfers.end();) {
        if (t - it->second.active_ms >= idle_ms) {
            zmo_log_debug(1, "ARQ %s transfer %s idle, dropped",
                          SlidingWindow_IsRx(it->second.window) ? "rx" : "tx", it->first.c_str());
            release(it->second);
            it = pool->transfers.erase(it);
            gone++;
        } else {
            ++it;
        }
    }
    return gone;
}

int SlidingWindowPool_ForEach(struct SlidingWindowPool *pool, SlidingWindowPool_Visit visit, void *context)
{
    if (!pool || !visit) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    for (auto &kv : pool->transfers)
        if (visit(kv.first.c_str(), kv.second.window, kv.second.tmpl, context) == 0)
            break;
    return 0;
}

int SlidingWindowPool_Count(struct SlidingWindowPool *pool, int rx)
{
    if (!pool) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    int n = 0;
    for (const auto &kv : pool->transfers)
        if (rx < 0 || SlidingWindow_IsRx(kv.second.window) == rx)
            n++;
    return n;
}

void SlidingWindowPool_Free(struct SlidingWindowPool *pool)
{
    if (!pool)
        return;
    for (auto &kv : pool->transfers)
        release(kv.second);
    delete pool;
}

}  // extern "C"

namespace mirel {

namespace {

// The address part of a transfer key "address:port_token" (the token is hex,
// so the last ':' ends the address).
std::string_view key_address(std::string_view key)
{
    size_t colon = key.rfind(':');
    return colon == std::string_view::npos ? key : key.substr(0, colon);
}

}  // namespace

int window_pool_count_address(struct SlidingWindowPool *pool, const char *key)
{
    if (!pool || !key) {
        errno = EINVAL;
        return -1;
    }
    std::string_view address = key_address(key);
    std::lock_guard<std::mutex> lock(pool->mutex);
    int n = 0;
    for (const auto &kv : pool->transfers)
        if (key_address(kv.first) == address)
            n++;
    return n;
}

}  // namespace mirel
