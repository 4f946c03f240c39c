// Statistics of the upstream servers and their ranks: which server a
// request tries first, and which ones have stopped answering.
#pragma once

#include "hash_table.h"
#include "mt19937.h"

#include <zmo.h>

#include <cstdint>
#include <vector>

namespace dnsr {

constexpr uint32_t kRankMax = 99;
constexpr size_t kRingSize = 16;

struct ServerStats {
    zmo_ip_sockaddr_t address{};
    bool inactive = false;
    uint32_t tolerance = 10;  // largest accepted ratio of requests to answers
    uint32_t sent = 0;
    uint32_t answered = 0;
    uint32_t nxdomain = 0;
    uint32_t rank = 1;  // 0 failing, else 1..99, higher is better
    uint32_t ring_pos = 0;
    uint32_t samples = 0;
    uint32_t ring[kRingSize] = {};  // last response times, ms
    uint32_t median = 0;
    uint32_t average = 0;
};

// Median and average of the samples in the ring (left in place).
void stats_summarize(ServerStats &s);

class UpstreamStats {
public:
    // One entry at the start values for each server (made anew at every load).
    explicit UpstreamStats(const std::vector<zmo_ip_sockaddr_t> &servers);
    bool ok() const { return table_.ok(); }

    ServerStats *find(const zmo_ip_sockaddr_t &addr) { return table_.find(addr.u.storage); }
    void sent(const zmo_ip_sockaddr_t &addr);
    void answered(const zmo_ip_sockaddr_t &addr, unsigned rcode, int64_t response_ms);
    void inactivate(const zmo_ip_sockaddr_t &addr);

    // Every 100 ms: ranks from medians, answer ratios and the tolerance.
    void compute_ranks(Mt19937 &rng);
    // Every rank := 1.
    void reset_ranks();
    // Rank 0 -> 1 with the tolerance doubled.
    void revive_failed();
    // The revival, when no server has a rank above 0.
    void revive_if_all_failed();

    // fn(ServerStats&) for every entry, in configuration order.
    template <class F> void visit(F fn)
    {
        for (auto &a : order_)
            if (ServerStats *s = table_.find(a.u.storage))
                fn(*s);
    }
    size_t size() const { return order_.size(); }

private:
    HashTable<sockaddr_storage, ServerStats, AddressKeyTraits> table_{32};
    std::vector<zmo_ip_sockaddr_t> order_;
};

// The upstream servers of one request, best rank first; equal ranks in the
// order they were pushed, rank-0 servers last.
class ServerHeap {
public:
    explicit ServerHeap(size_t capacity) : capacity_(capacity) { items_.reserve(capacity); }
    bool push(uint32_t rank, uint16_t id);
    bool pop(uint16_t &id);
    bool empty() const { return items_.empty(); }
    size_t size() const { return items_.size(); }
    uint32_t pushed() const { return pushed_; }

private:
    struct Item {
        uint32_t rank;
        uint32_t order;
        uint16_t id;
    };
    static bool before(const Item &a, const Item &b)
    {
        return a.rank != b.rank ? a.rank > b.rank : a.order < b.order;
    }
    std::vector<Item> items_;
    size_t capacity_;
    uint32_t pushed_ = 0;
};

}  // namespace dnsr
