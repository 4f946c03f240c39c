// Upstream statistics and ranking.
#include "upstream_rank.h"

#include <algorithm>
#include <limits>

namespace dnsr {

namespace {
// Rank changes are the detail DNSRELAYD_DEBUG_VERBOSE=1 asks for.
void set_rank(ServerStats &s, uint32_t rank)
{
    if (s.rank != rank) {
        char text[ZMO_IP_ADDRSTRLEN];
        zmo_log_debug(2, "rank of %s: %u -> %u (median %u ms)",
                      zmo_ip_sockaddr_ntop(&s.address, text, sizeof text), s.rank, rank, s.median);
    }
    s.rank = rank;
}
}  // namespace

void stats_summarize(ServerStats &s)
{
    if (s.samples == 0)
        return;
    size_t n = std::min<size_t>(s.samples, kRingSize);
    // Sort a copy: the ring must keep its order, or the next sample would
    // overwrite whichever value sorted into its slot instead of the oldest.
    uint32_t sorted[kRingSize];
    std::copy(s.ring, s.ring + n, sorted);
    std::sort(sorted, sorted + n);
    s.median = sorted[n / 2];
    uint64_t sum = 0;
    for (size_t i = 0; i < n; i++)
        sum += sorted[i];
    s.average = uint32_t(sum / n);
}

UpstreamStats::UpstreamStats(const std::vector<zmo_ip_sockaddr_t> &servers)
{
    for (const auto &a : servers) {
        if (table_.find(a.u.storage))
            continue;
        ServerStats s;
        s.address = a;
        if (table_.insert(a.u.storage, s))
            order_.push_back(a);
    }
}

void UpstreamStats::sent(const zmo_ip_sockaddr_t &addr)
{
    if (ServerStats *s = find(addr))
        if (s->sent < std::numeric_limits<uint32_t>::max())
            s->sent++;
}

void UpstreamStats::answered(const zmo_ip_sockaddr_t &addr, unsigned rcode, int64_t response_ms)
{
    ServerStats *s = find(addr);
    if (!s)
        return;
    if (response_ms < 0)
        response_ms = 0;
    s->ring[s->ring_pos] = uint32_t(std::min<int64_t>(response_ms, std::numeric_limits<uint32_t>::max()));
    s->ring_pos = (s->ring_pos + 1) % kRingSize;
    if (s->samples < std::numeric_limits<uint32_t>::max())
        s->samples++;
    uint32_t &count = rcode == 3 ? s->nxdomain : s->answered;
    if (count < std::numeric_limits<uint32_t>::max())
        count++;
}

void UpstreamStats::inactivate(const zmo_ip_sockaddr_t &addr)
{
    ServerStats *s = find(addr);
    if (!s)
        return;
    s->inactive = true;
    char text[ZMO_IP_ADDRSTRLEN];
    zmo_log(ZMO_LOG_ERROR, "DNS server %s inactivated", zmo_ip_sockaddr_ntop(&addr, text, sizeof text));
}

void UpstreamStats::compute_ranks(Mt19937 &rng)
{
    uint32_t M = 0;
    visit([&](ServerStats &s) {
        stats_summarize(s);
        M = std::max(M, s.median);
    });
    if (M == 0)
        return;
    visit([&](ServerStats &s) {
        // 64-bit and saturated: a server may answer more often than it was
        // asked (duplicate answers), which must not wrap S - A.
        uint64_t S = s.sent, A = s.answered, X = s.nxdomain;
        uint64_t unanswered = S > A ? S - A : 0;
        uint64_t d = S == 0 ? 2 : 2 - (4 * unanswered) / (2 * (S + 1));
        uint64_t q = (S + 1) / (A + X + 1);
        uint64_t c = A > 0 ? 1 : 0;
        uint64_t f = 2 * c;
        uint32_t h = s.median;
        if (M > 3) {
            uint32_t l = M / 4;
            if (h <= l)
                f = 8 * c;
            else if (h <= 2 * l)
                f = 6 * c;
            else if (h <= 3 * l)
                f = 4 * c;
            else
                f = 2 * c;
        }
        if (s.tolerance < q) {
            set_rank(s, 0);
            return;
        }
        uint64_t rank = (h > 0 && s.rank > 0) ? d + f : d + rng.next() % 4 + f;
        set_rank(s, uint32_t(std::clamp<uint64_t>(rank, 1, kRankMax)));
    });
}

void UpstreamStats::reset_ranks()
{
    visit([](ServerStats &s) { s.rank = 1; });
}

void UpstreamStats::revive_failed()
{
    visit([](ServerStats &s) {
        if (s.rank != 0)
            return;
        s.rank = 1;
        // Doubling saturates: a wrap to 0 would fail the server for good.
        s.tolerance = s.tolerance > std::numeric_limits<uint32_t>::max() / 2
                          ? std::numeric_limits<uint32_t>::max()
                          : s.tolerance * 2;
    });
}

void UpstreamStats::revive_if_all_failed()
{
    bool any = false;
    visit([&](ServerStats &s) { any = any || s.rank > 0; });
    if (!any)
        revive_failed();
}

bool ServerHeap::push(uint32_t rank, uint16_t id)
{
    auto cmp = [](const Item &a, const Item &b) { return before(b, a); };
    Item item{rank, pushed_++, id};
    if (items_.size() < capacity_) {
        items_.push_back(item);
        std::push_heap(items_.begin(), items_.end(), cmp);
        return true;
    }
    // Full: the best servers stay, so a better one takes the worst one's place.
    if (capacity_ == 0)
        return false;
    auto worst = std::min_element(items_.begin(), items_.end(), cmp);
    if (!before(item, *worst))
        return false;
    *worst = item;
    std::make_heap(items_.begin(), items_.end(), cmp);
    return true;
}

bool ServerHeap::pop(uint16_t &id)
{
    if (items_.empty())
        return false;
    std::pop_heap(items_.begin(), items_.end(), [](const Item &a, const Item &b) { return before(b, a); });
    id = items_.back().id;
    items_.pop_back();
    return true;
}

}  // namespace dnsr
