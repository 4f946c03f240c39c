// What the block-wise layers tell the pending-message pool beyond its C
// interface: acknowledgements of blocks, which time their retransmissions.
#ifndef MIREL_POOL_INTERNAL_H
#define MIREL_POOL_INTERNAL_H

#include <sys/socket.h>

#include <cstdint>

#include "coap_pool.h"

namespace mirel {

// Blocks overtaken by this many acknowledgements of blocks sent after them
// count as lost and go again at once.
constexpr int kOvertakenForResend = 3;

// An acknowledgement of msg (a message marked rtt_timed) arrived. Its round
// trip feeds the peer's estimate when it was sent once; the messages of the
// same peer and token still waiting that were sent before it are overtaken
// once more, and due at once at kOvertakenForResend. With drop, msg's entry
// goes too. 0, or -1 with EINVAL or ENOENT (no entry holds msg).
int pool_acknowledged(struct CoAPMessagePool *pool, const struct CoAPMessage *msg, bool drop);

// With hold, CoAPMessagePool_Add on this thread leaves the sender asleep;
// without, the signals held back are given at once. The receiver thread
// holds them while datagrams are waiting: the sender wakes once for the
// answers to a burst, not once for each.
void pool_hold_signals(struct CoAPMessagePool *pool, bool hold);

// The retransmission timer of a peer's next block in ms, 0 when the pool
// keeps no estimate for it.
uint64_t pool_peer_rto(struct CoAPMessagePool *pool, const struct sockaddr_storage &peer);

}  // namespace mirel

#endif
