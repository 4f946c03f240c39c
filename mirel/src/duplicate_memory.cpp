// Duplicate detection: per peer, the ids received in the last minute,
// bounded in count and in stored answer bytes, the oldest dropped first.
#include "duplicate_memory.h"

#include <netinet/in.h>

#include <cstring>
#include <new>

#include "mirel_util.h"

namespace mirel {

namespace {

DuplicateMemory::PeerId peer_id(const struct sockaddr_storage &ss)
{
    DuplicateMemory::PeerId p;
    p.bytes[0] = static_cast<uint8_t>(ss.ss_family);
    if (ss.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const struct sockaddr_in &>(ss);
        std::memcpy(p.bytes + 1, &in.sin_port, 2);
        std::memcpy(p.bytes + 3, &in.sin_addr, 4);
    } else if (ss.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const struct sockaddr_in6 &>(ss);
        std::memcpy(p.bytes + 1, &in6.sin6_port, 2);
        std::memcpy(p.bytes + 3, &in6.sin6_addr, 16);
    }
    return p;
}

// Eight bytes a step: every datagram is fingerprinted whole, blocks of a
// kilobyte included. Not a defence against forgery: a copy that matches
// only gets the answer sent already, to the peer's address.
uint64_t hash_bytes(const uint8_t *bytes, size_t n, uint64_t h = 0x9e3779b97f4a7c15ull)
{
    constexpr uint64_t kMul = 0xff51afd7ed558ccdull;
    h ^= n * kMul;
    for (; n >= 8; bytes += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, bytes, 8);
        h = (h ^ w) * kMul;
        h ^= h >> 29;
    }
    if (n > 0) {
        uint64_t w = 0;
        std::memcpy(&w, bytes, n);
        h = (h ^ w) * kMul;
    }
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

}  // namespace

bool DuplicateMemory::PeerId::operator==(const PeerId &o) const
{
    return std::memcmp(bytes, o.bytes, sizeof bytes) == 0;
}

size_t DuplicateMemory::Hash::operator()(const PeerId &p) const
{
    return hash_bytes(p.bytes, sizeof p.bytes);
}

size_t DuplicateMemory::Hash::operator()(const Key &k) const
{
    uint8_t id[2] = {static_cast<uint8_t>(k.id >> 8), static_cast<uint8_t>(k.id)};
    return hash_bytes(id, 2, (*this)(k.peer));
}

uint64_t DuplicateMemory::default_clock(void *) { return TimeMono_Ms(); }

void DuplicateMemory::set_clock(Clock clock, void *context)
{
    std::lock_guard<std::mutex> lock(mutex_);
    clock_ = clock ? clock : default_clock;
    clock_ctx_ = clock ? context : nullptr;
}

size_t DuplicateMemory::size()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return index_.size();
}

void DuplicateMemory::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    index_.clear();
    peers_.clear();
    order_.clear();
    answer_bytes_ = 0;
}

// Only ever called for the oldest node of its peer, which is the front of
// the peer's queue: both queues are in arrival order.
void DuplicateMemory::drop_node(Order::iterator it)
{
    auto peer = peers_.find(it->key.peer);
    if (peer != peers_.end()) {
        peer->second.pop_front();
        if (peer->second.empty())
            peers_.erase(peer);
    }
    auto ix = index_.find(it->key);
    if (ix != index_.end() && ix->second == it)
        index_.erase(ix);
    answer_bytes_ -= it->answer.size();
    order_.erase(it);
}

void DuplicateMemory::drop_oldest() { drop_node(order_.begin()); }

void DuplicateMemory::expire(uint64_t t)
{
    while (!order_.empty() && t - order_.front().time >= limits_.keep_ms)
        drop_oldest();
}

uint64_t DuplicateMemory::fingerprint(const uint8_t *bytes, size_t length)
{
    return hash_bytes(bytes, length);
}

DuplicateMemory::Seen DuplicateMemory::check(const struct sockaddr_storage &peer, uint16_t id,
                                             std::vector<uint8_t> *answer, uint64_t print)
{
    if (answer)
        answer->clear();
    Key key{peer_id(peer), id};
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t t = now();
    expire(t);
    auto ix = index_.find(key);
    if (ix != index_.end() && ix->second->print != print) {
        // Not a copy of what came under this id: a new message.
        Node &n = *ix->second;
        n.print = print;
        answer_bytes_ -= n.answer.size();
        std::vector<uint8_t>().swap(n.answer);
        return Seen::New;
    }
    if (ix != index_.end()) {
        if (answer) {
            try {
                *answer = ix->second->answer;
            } catch (const std::bad_alloc &) {
                answer->clear();
            }
        }
        return Seen::Duplicate;
    }
    try {
        auto &queue = peers_[key.peer];
        if (queue.size() >= limits_.per_peer)
            drop_node(queue.front());
        while (order_.size() >= limits_.entries)
            drop_oldest();
        // The peer's queue may have gone with the nodes dropped above.
        auto &fresh = peers_[key.peer];
        auto it = order_.insert(order_.end(), Node{key, t, print, {}});
        try {
            fresh.push_back(it);
        } catch (...) {
            order_.erase(it);
            throw;
        }
        try {
            index_.emplace(key, it);
        } catch (...) {
            fresh.pop_back();
            order_.erase(it);
            throw;
        }
    } catch (const std::bad_alloc &) {
        auto q = peers_.find(key.peer);
        if (q != peers_.end() && q->second.empty())
            peers_.erase(q);
    }
    return Seen::New;
}

void DuplicateMemory::forget(const struct sockaddr_storage &peer, uint16_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // The node stays in the queues until its turn; only the lookup goes.
    index_.erase(Key{peer_id(peer), id});
}

void DuplicateMemory::record_answer(const struct sockaddr_storage &peer, uint16_t id, const uint8_t *bytes,
                                    size_t length)
{
    if (!bytes || length == 0 || length > limits_.answer_bytes)
        return;
    Key key{peer_id(peer), id};
    std::lock_guard<std::mutex> lock(mutex_);
    auto ix = index_.find(key);
    if (ix == index_.end())
        return;
    Order::iterator it = ix->second;
    while (answer_bytes_ - it->answer.size() + length > limits_.answer_bytes && order_.begin() != it)
        drop_oldest();
    if (answer_bytes_ - it->answer.size() + length > limits_.answer_bytes)
        return;
    try {
        std::vector<uint8_t> copy(bytes, bytes + length);
        answer_bytes_ -= it->answer.size();
        it->answer.swap(copy);
        answer_bytes_ += length;
    } catch (const std::bad_alloc &) {
    }
}

}  // namespace mirel
