// Round-trip estimate and retransmission timer of one peer.
#include "rtt_estimator.h"

#include <algorithm>

namespace mirel {

namespace {

// The clock counts whole milliseconds.
constexpr uint64_t kGranularityUs = 1000;
constexpr unsigned kMaxBackoff = 16;

uint64_t clamp_ms(uint64_t ms) { return std::min(std::max(ms, RttEstimator::kMinMs), RttEstimator::kMaxMs); }

}  // namespace

void RttEstimator::sample(uint64_t rtt_ms)
{
    // Anything longer than the fixed timer is answered by it anyway.
    uint64_t r = std::min(rtt_ms, kMaxMs) * 1000;
    if (!measured_) {
        srtt_us_ = r;
        rttvar_us_ = r / 2;
        measured_ = true;
    } else {
        uint64_t diff = srtt_us_ > r ? srtt_us_ - r : r - srtt_us_;
        rttvar_us_ = (3 * rttvar_us_ + diff) / 4;
        srtt_us_ = (7 * srtt_us_ + r) / 8;
    }
    backoff_ = 0;
    backed_off_ = false;
    // Kept: the sender thread asks for it for every waiting block on every
    // walk of the pool.
    base_ms_ = (srtt_us_ + std::max(kGranularityUs, 4 * rttvar_us_) + 999) / 1000;
}

void RttEstimator::timeout(uint64_t sent_ms, uint64_t now_ms)
{
    if (backed_off_ && sent_ms < backoff_at_ms_)
        return;
    if (backoff_ < kMaxBackoff)
        backoff_++;
    backed_off_ = true;
    backoff_at_ms_ = now_ms;
}

uint64_t RttEstimator::rto() const { return clamp_ms(base_ms_ << backoff_); }

uint64_t RttEstimator::interval(unsigned sends) const
{
    // A message's own doublings and the path's do not add up: a block lost
    // twice on a silent path waits four timers, not sixteen.
    unsigned doublings = std::min(std::max(sends > 1 ? sends - 1 : 0, backoff_), kMaxBackoff);
    return clamp_ms(base_ms_ << doublings);
}

}  // namespace mirel
