// Round-trip estimate of one peer, for the retransmission timer of blocks:
// smoothed round trip and its variation, a timer between a floor and the
// fixed timer of every other message, doubled while timers expire without a
// fresh measurement.
#ifndef MIREL_RTT_ESTIMATOR_H
#define MIREL_RTT_ESTIMATOR_H

#include <cstdint>

#include "coap_pool.h"

namespace mirel {

class RttEstimator {
public:
    // Until the first measurement, the fixed timer; never above it either,
    // so no block waits longer than any other message would.
    static constexpr uint64_t kInitialMs = COAP_POOL_RETRANSMIT_MS;
    static constexpr uint64_t kMaxMs = COAP_POOL_RETRANSMIT_MS;
    // Below this a late acknowledgement (a busy peer, a scheduler's
    // hiccup) would look like a loss on every round.
    static constexpr uint64_t kMinMs = 10;

    // One round trip of a message sent once (an answer to a message sent
    // again could answer either copy: no measurement then). Ends a backoff.
    void sample(uint64_t rtt_ms);
    // The timer of a message sent at sent_ms ran out at now_ms: the timer
    // doubles, once per round of messages (those sent before the last
    // doubling do not double it again).
    void timeout(uint64_t sent_ms, uint64_t now_ms);
    // The timer for a message's first transmission.
    uint64_t rto() const;
    // The wait after a message's transmission number `sends` (1 for the
    // first): the measured timer doubled for each retransmission, or as
    // often as timers ran out on the path, whichever is more; at most kMaxMs.
    uint64_t interval(unsigned sends) const;
    bool measured() const { return measured_; }
    uint64_t srtt_us() const { return srtt_us_; }
    uint64_t rttvar_us() const { return rttvar_us_; }

private:
    bool measured_ = false;
    uint64_t base_ms_ = kInitialMs;  // the timer before any backoff
    uint64_t srtt_us_ = 0;
    uint64_t rttvar_us_ = 0;
    unsigned backoff_ = 0;
    bool backed_off_ = false;
    uint64_t backoff_at_ms_ = 0;
};

}  // namespace mirel

#endif
