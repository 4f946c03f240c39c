// Pending-message pool: send queue, retransmission schedule and answer lookup.
#include <cerrno>
#include <chrono>
#include <array>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <new>
#include <unordered_map>

#include "coap_pool.h"
#include "message_internal.h"
#include "pool_internal.h"
#include "rtt_estimator.h"
#include "zmo.h"

namespace {

using Estimator = std::shared_ptr<mirel::RttEstimator>;

struct Entry {
    uint64_t seq;        // insertion rank: the latest wins a lookup
    uint64_t created;    // ms
    uint64_t last_sent;  // ms, valid once send_count > 0
    struct CoAPMessage *msg;
    uint16_t id;  // key as added; a holder may change the message id later
    uint8_t send_count;
    uint8_t extra;
    bool awaiting;
    // Blocks only: the peer's round-trip estimate, which times them; their
    // first transmission; the rank of their latest transmission; how often
    // a message sent after it has been acknowledged since.
    Estimator rtt;
    uint64_t first_sent = 0;
    uint64_t sent_rank = 0;
    uint8_t overtaken = 0;
};

using EntryList = std::list<Entry>;

constexpr uint64_t kNever = UINT64_MAX;
// A block is given up when the fixed timer gives a message up: after its
// last wait, this long after its first transmission.
constexpr uint64_t kGiveUpMs = uint64_t{COAP_POOL_MAX_SENDS} * COAP_POOL_RETRANSMIT_MS;
// Peers with an estimate; beyond this many the longest unused goes.
constexpr size_t kMaxEstimates = 64;

// A peer as the estimates know it: family, port and address bytes.
struct PeerKey {
    uint16_t family = 0;
    uint16_t port = 0;
    std::array<uint8_t, 16> addr{};
    bool operator<(const PeerKey &o) const
    {
        if (family != o.family)
            return family < o.family;
        if (port != o.port)
            return port < o.port;
        return addr < o.addr;
    }
};

PeerKey peer_key(const struct sockaddr_storage &peer)
{
    PeerKey k;
    k.family = peer.ss_family;
    if (peer.ss_family == AF_INET) {
        const auto *a = reinterpret_cast<const struct sockaddr_in *>(&peer);
        k.port = a->sin_port;
        std::memcpy(k.addr.data(), &a->sin_addr, sizeof a->sin_addr);
    } else if (peer.ss_family == AF_INET6) {
        const auto *a = reinterpret_cast<const struct sockaddr_in6 *>(&peer);
        k.port = a->sin6_port;
        std::memcpy(k.addr.data(), &a->sin6_addr, sizeof a->sin6_addr);
    }
    return k;
}

struct PeerEstimate {
    Estimator rtt;
    uint64_t used;  // ms
};

uint64_t real_clock(void *) { return TimeMono_Ms(); }

// The pool whose Add signals this thread holds back, and whether one is due.
thread_local struct CoAPMessagePool *t_holding = nullptr;
thread_local bool t_held = false;

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
    uint64_t next_sent_rank = 0;
    std::map<PeerKey, PeerEstimate> estimates;
    bool wake = false;
    CoAPMessagePool_Clock clock = real_clock;
    void *clock_ctx = nullptr;

    uint64_t now() { return clock(clock_ctx); }

    // The estimate of a message's peer, made when there is none; null
    // without memory (the message then keeps the fixed timer).
    Estimator estimate_for(const struct CoAPMessage *msg, uint64_t t)
    {
        try {
            PeerKey k = peer_key(msg->addr);
            auto it = estimates.find(k);
            if (it == estimates.end()) {
                if (estimates.size() >= kMaxEstimates) {
                    auto oldest = estimates.begin();
                    for (auto e = estimates.begin(); e != estimates.end(); ++e)
                        if (e->second.used < oldest->second.used)
                            oldest = e;
                    estimates.erase(oldest);
                }
                it = estimates.emplace(k, PeerEstimate{std::make_shared<mirel::RttEstimator>(), t}).first;
            }
            it->second.used = t;
            return it->second.rtt;
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
    }

    // The time an awaiting entry falls due again.
    static uint64_t due_time(const Entry &e)
    {
        // Multicast requests are sent once and kept for every answer.
        if (CoAPMessage_IsMulticast(e.msg))
            return kNever;
        if (!e.rtt)
            return e.last_sent + COAP_POOL_RETRANSMIT_MS;
        return std::min(e.last_sent + e.rtt->interval(e.send_count), e.first_sent + kGiveUpMs);
    }

    // Whether a due entry has had all its transmissions.
    static bool spent(const Entry &e, uint64_t t)
    {
        if (e.rtt && e.send_count > 0)
            return t >= e.first_sent + kGiveUpMs;
        return e.send_count >= COAP_POOL_MAX_SENDS;
    }

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

    // The latest (or the oldest) entry holding exactly msg: by the id it
    // was added with when it kept it (the common case, no walk), else by
    // pointer, for the message may carry another id by now.
    EntryList::iterator holding(const struct CoAPMessage *msg, bool oldest = false)
    {
        auto best = entries.end();
        auto range = by_id.equal_range(msg->id);
        for (auto m = range.first; m != range.second; ++m)
            if (m->second->msg == msg &&
                (best == entries.end() || (oldest ? m->second->seq < best->seq : m->second->seq > best->seq)))
                best = m->second;
        if (best != entries.end())
            return best;
        if (oldest) {
            for (auto it = entries.begin(); it != entries.end(); ++it)
                if (it->msg == msg)
                    return it;
        } else {
            for (auto it = entries.rbegin(); it != entries.rend(); ++it)
                if (it->msg == msg)
                    return std::prev(it.base());
        }
        return entries.end();
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
                uint64_t due = due_time(e);
                if (t < due) {
                    *next_due = std::min(*next_due, std::min(due, expires));
                    ++it;
                    continue;
                }
                e.awaiting = false;
                if (e.rtt)
                    e.rtt->timeout(e.last_sent, t);
            }
            if (spent(e, t)) {
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
        uint64_t t = pool->now();
        Entry e{pool->next_seq++, t, 0, msg, msg->id, 0, extra, false, nullptr, 0, 0, 0};
        if (msg->rtt_timed && !CoAPMessage_IsMulticast(msg))
            e.rtt = pool->estimate_for(msg, t);
        auto it = pool->entries.insert(pool->entries.end(), std::move(e));
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
    if (t_holding == pool)
        t_held = true;
    else
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
    auto it = pool->holding(msg, true);
    if (it == pool->entries.end()) {
        errno = ENOENT;
        return -1;
    }
    pool->drop(it);
    return 0;
}

int CoAPMessagePool_SetExtra(struct CoAPMessagePool *pool, const struct CoAPMessage *msg, uint8_t extra)
{
    if (!pool || !msg) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(pool->mutex);
    auto it = pool->holding(msg);
    if (it == pool->entries.end()) {
        errno = ENOENT;
        return -1;
    }
    it->extra = extra;
    return 0;
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
            if (it->send_count == 0)
                it->first_sent = t;
            it->sent_rank = ++pool->next_sent_rank;
            it->overtaken = 0;
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

namespace mirel {

int pool_acknowledged(struct CoAPMessagePool *pool, const struct CoAPMessage *msg, bool drop)
{
    if (!pool || !msg) {
        errno = EINVAL;
        return -1;
    }
    bool resend = false;
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        auto it = pool->holding(msg);
        if (it == pool->entries.end()) {
            errno = ENOENT;
            return -1;
        }
        const Entry &acked = *it;
        if (acked.rtt && acked.send_count > 0) {
            uint64_t t = pool->now();
            // Karn: an answer to a message sent more than once may answer
            // any of its copies.
            if (acked.send_count == 1)
                acked.rtt->sample(t - acked.last_sent);
            for (Entry &e : pool->entries) {
                if (&e == &acked || e.rtt != acked.rtt || !e.awaiting || e.sent_rank >= acked.sent_rank ||
                    e.msg->token_len != msg->token_len ||
                    std::memcmp(e.msg->token, msg->token, msg->token_len) != 0)
                    continue;
                if (++e.overtaken >= kOvertakenForResend) {
                    e.awaiting = false;
                    resend = true;
                }
            }
        }
        if (drop)
            pool->drop(it);
    }
    if (resend)
        pool->cv.notify_all();
    return 0;
}

uint64_t pool_peer_rto(struct CoAPMessagePool *pool, const struct sockaddr_storage &peer)
{
    if (!pool)
        return 0;
    std::lock_guard<std::mutex> lock(pool->mutex);
    auto it = pool->estimates.find(peer_key(peer));
    return it == pool->estimates.end() ? 0 : it->second.rtt->rto();
}

void pool_hold_signals(struct CoAPMessagePool *pool, bool hold)
{
    if (hold) {
        t_holding = pool;
        return;
    }
    bool held = t_holding == pool && t_held;
    t_holding = nullptr;
    t_held = false;
    if (held)
        pool->cv.notify_all();
}

}  // namespace mirel
