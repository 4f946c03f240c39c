// Pending-message pool: send queue, retransmission schedule and answer lookup.
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <unordered_map>

#include "coap_pool.h"
#include "message_internal.h"
#include "zmo.h"

namespace {

struct Entry {
    uint64_t seq;        // insertion rank: the latest wins a lookup
    uint64_t created;    // ms
    uint64_t last_sent;  // ms, valid once send_count > 0
    struct CoAPMessage *msg;
    uint16_t id;  // key as added; a holder may change the message id later
    uint8_t send_count;
    uint8_t extra;
    bool awaiting;
};

using EntryList = std::list<Entry>;

constexpr uint64_t kNever = UINT64_MAX;

uint64_t real_clock(void *) { return TimeMono_Ms(); }

bool same_peer(const struct CoAPMessage *msg, const struct sockaddr_storage *peer)
{
    if (!peer || CoAPMessage_IsMulticast(msg))
        return true;
    return zmo_ip_sockaddr_is_equal(reinterpret_cast<const zmo_ip_sockaddr_t *>(&msg->addr),
                                    reinterpret_cast<const zmo_ip_sockaddr_t *>(peer)) != 0;
}

}  // namespace

struct CoAPMessagePool {
    std::mutex mutex;
    std::condition_variable cv;
    EntryList entries;
    std::unordered_multimap<uint16_t, EntryList::iterator> by_id;
    uint64_t next_seq = 0;
    bool wake = false;
    CoAPMessagePool_Clock clock = real_clock;
    void *clock_ctx = nullptr;

    uint64_t now() { return clock(clock_ctx); }

    void drop(EntryList::iterator it)
    {
        auto range = by_id.equal_range(it->id);
        for (auto m = range.first; m != range.second; ++m) {
            if (m->second == it) {
                by_id.erase(m);
                break;
            }
        }
        CoAPMessage_Decref(it->msg);
        entries.erase(it);
    }

    EntryList::iterator find(uint16_t id, const struct sockaddr_storage *peer)
    {
        auto best = entries.end();
        auto range = by_id.equal_range(id);
        for (auto m = range.first; m != range.second; ++m) {
            EntryList::iterator it = m->second;
            if (same_peer(it->msg, peer) && (best == entries.end() || it->seq > best->seq))
                best = it;
        }
        return best;
    }

    // One walk in insertion order: drops what expired, picks the first entry
    // due for transmission, and notes when the next one falls due.
    EntryList::iterator walk(uint64_t t, uint64_t *next_due)
    {
        *next_due = kNever;
        for (auto it = entries.begin(); it != entries.end();) {
            Entry &e = *it;
            uint64_t expires = e.created + COAP_POOL_LIFETIME_MS;
            if (e.send_count > 0)
                expires = std::min(expires, e.last_sent + COAP_POOL_KEEP_AFTER_SEND_MS);
            if (t >= expires) {
                drop(it++);
                continue;
            }
            if (e.awaiting) {
                // Multicast requests are sent once and kept for every answer.
                uint64_t due =
                    CoAPMessage_IsMulticast(e.msg) ? kNever : e.last_sent + COAP_POOL_RETRANSMIT_MS;
                if (t < due) {
                    *next_due = std::min(*next_due, std::min(due, expires));
                    ++it;
                    continue;
                }
                e.awaiting = false;
            }
            if (e.send_count >= COAP_POOL_MAX_SENDS) {
                drop(it++);
                continue;
            }
            return it;
        }
        return entries.end();
    }
};

extern "C" {

struct CoAPMessagePool *CoAPMessagePool(void)
{
    auto *pool = new (std::nothrow) struct CoAPMessagePool;
    if (!pool)
        errno = ENOMEM;
    return pool;
}

void CoAPMessagePool_SetClock(struct CoAPMessagePool *pool, CoAPMessagePool_Clock clock, void *context)
{
    if (!pool)
        return;
    std::lock_guard<std::mutex> lock(pool->mutex);
    pool->clock = clock ? clock : real_clock;
    pool->clock_ctx = clock ? context : nullptr;
}

int CoAPMessagePool_Add(struct CoAPMessagePool *pool, struct CoAPMessage *msg, uint8_t extra)
{
    if (!pool || !msg) {
        errno = EINVAL;
        return -1;
    }
    CoAPMessage_Incref(msg);
    try {
        std::lock_guard<std::mutex> lock(pool->mutex);
        Entry e{pool->next_seq++, pool->now(), 0, msg, msg->id, 0, extra, false};
        auto it = pool->entries.insert(pool->entries.end(), e);
        try {
            pool->by_id.emplace(msg->id, it);
        } catch (...) {
            pool->entries.erase(it);
            throw;
        }
    } catch (const std::bad_alloc &) {
        CoAPMessage_Decref(msg);
        errno = ENOMEM;
        return -1;
    }
    pool->cv.notify_all();
    return 0;
}

struct CoAPMessage *CoAPMessagePool_Get(struct CoAPMessagePool *pool, uint16_t id,
                                        const struct sockaddr_storage *peer, uint8_t *extra)
{
    if (!pool)
        return nullptr;
    std::lock_guard<std::mutex> lock(pool->mutex);
    auto it = pool->find(id, peer);
    if (it == pool->entries.end())
        return nullptr;
    if (extra)
        *extra = it->extra;
    return CoAPMessage_Incref(it->msg);
}

struct CoAPMessage *CoAPMessagePool_GetByToken(struct CoAPMessagePool *pool, const uint8_t *token,
                                               size_t length, const struct sockaddr_storage *peer)
{
    if (!pool || (!token && length > 0) || length > COAP_TOKEN_MAX)
        return nullptr;
    std::lock_guard<std::mutex> lock(pool->mutex);
    for (auto it = pool->entries.rbegin(); it != pool->entries.rend(); ++it) {
        const struct CoAPMessage *m = it->msg;
        if (m->type == COAP_TYPE_CON && m->token_len == length && std::memcmp(m->token, token, length) == 0 &&
            same_peer(m, peer))
            return CoAPMessage_Incref(it->msg);
    }
    return nullptr;
}

int CoAPMessagePool_RemoveByToken(struct CoAPMessagePool *pool, const uint8_t *token, size_t length,
                                  const struct sockaddr_storage *peer, const struct CoAPMessage *keep)
{
    if (!pool || (!token && length > 0) || length > COAP_TOKEN_MAX) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    int n = 0;
    for (auto it = pool->entries.begin(); it != pool->entries.end();) {
        const struct CoAPMessage *m = it->msg;
        if (m != keep && m->type == COAP_TYPE_CON && m->token_len == length &&
            std::memcmp(m->token, token, length) == 0 && same_peer(m, peer)) {
            pool->drop(it++);
            n++;
        } else {
            ++it;
        }
    }
    return n;
}

int CoAPMessagePool_Remove(struct CoAPMessagePool *pool, uint16_t id, const struct sockaddr_storage *peer)
{
    if (!pool) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    auto it = pool->find(id, peer);
    if (it == pool->entries.end()) {
        errno = ENOENT;
        return -1;
    }
    pool->drop(it);
    return 0;
}

int CoAPMessagePool_RemoveMessage(struct CoAPMessagePool *pool, const struct CoAPMessage *msg)
{
    if (!pool || !msg) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    // By pointer, not by id: the message may carry another id by now.
    for (auto it = pool->entries.begin(); it != pool->entries.end(); ++it) {
        if (it->msg == msg) {
            pool->drop(it);
            return 0;
        }
    }
    errno = ENOENT;
    return -1;
}

int CoAPMessagePool_SetExtra(struct CoAPMessagePool *pool, const struct CoAPMessage *msg, uint8_t extra)
{
    if (!pool || !msg) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    for (auto it = pool->entries.rbegin(); it != pool->entries.rend(); ++it) {
        if (it->msg == msg) {
            it->extra = extra;
            return 0;
        }
    }
    errno = ENOENT;
    return -1;
}

int CoAPMessagePool_Unsent(struct CoAPMessagePool *pool)
{
    if (!pool) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    int n = 0;
    for (const Entry &e : pool->entries)
        n += e.send_count == 0;
    return n;
}

int CoAPMessagePool_Clear(struct CoAPMessagePool *pool)
{
    if (!pool) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    for (Entry &e : pool->entries)
        CoAPMessage_Decref(e.msg);
    pool->entries.clear();
    pool->by_id.clear();
    return 0;
}

void CoAPMessagePool_Free(struct CoAPMessagePool *pool)
{
    if (!pool)
        return;
    CoAPMessagePool_Clear(pool);
    delete pool;
}

struct CoAPMessage *CoAPMessagePool_Next(struct CoAPMessagePool *pool, uint8_t *extra)
{
    if (!pool) {
        errno = EINVAL;
        return nullptr;
    }
    std::unique_lock<std::mutex> lock(pool->mutex);
    for (bool waited = false;; waited = true) {
        uint64_t t = pool->now();
        uint64_t next_due;
        auto it = pool->walk(t, &next_due);
        if (it != pool->entries.end()) {
            it->awaiting = true;
            it->last_sent = t;
            it->send_count++;
            if (extra)
                *extra = it->extra;
            return CoAPMessage_Incref(it->msg);
        }
        if (waited || pool->wake) {
            pool->wake = false;
            return nullptr;
        }
        // Sleep until the earliest due time, an Add, or a Wake.
        if (next_due == kNever)
            pool->cv.wait(lock);
        else
            pool->cv.wait_for(lock, std::chrono::milliseconds(next_due - t));
    }
}

void CoAPMessagePool_Wake(struct CoAPMessagePool *pool)
{
    if (!pool)
        return;
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        pool->wake = true;
    }
    pool->cv.notify_all();
}

}  // extern "C"
