// What the two block-wise layers share: constants, the block sender and
// block acknowledgements.
#ifndef MIREL_BLOCK_LAYER_H
#define MIREL_BLOCK_LAYER_H

#include <cerrno>
#include <cstdint>

#include "coap_message.h"
#include "endpoint.h"
#include "message_internal.h"
#include "sliding_window.h"

namespace mirel {

constexpr uint32_t kBlockSzx = 6;  // 1024-byte blocks
constexpr uint32_t kBlockSize = 1u << (kBlockSzx + 4);
constexpr uint32_t kBlockWindow = 70;
// What a peer may ask of us: its window and block size are clamped, its
// body and the number of running transfers capped, idle transfers expire.
constexpr uint32_t kMaxPeerWindow = 256;
constexpr uint32_t kMaxPeerSzx = 6;
constexpr uint64_t kMaxBody = 1u << 20;
constexpr int kMaxTransfers = 16;
// One address (whatever its ports) holds at most three quarters of them:
// peers there that never acknowledge cannot keep every other address from a
// transfer, while a busy peer (the cloud) still has most of the table.
constexpr int kMaxTransfersPerAddress = kMaxTransfers - kMaxTransfers / 4;
// A long answer refused for want of a transfer slot says when to ask again.
constexpr uint32_t kBusyMaxAgeS = 10;
// The pool resends a lost block on the peer's round-trip timer, or when
// three later blocks are acknowledged. A window standing still this long
// (the pool's timers backed off, or its copy gone) gets its lowest block
// sent again under a fresh id...
constexpr uint64_t kQuickStallMs = 1000;
// ...and this long, past every retransmission of the pool (6 s of sends,
// 3 s kept), every unacknowledged block of the window.
constexpr uint64_t kStallMs = 10000;

constexpr int kCodeContinue = COAP_CODE(2, 31);
constexpr int kCodeTooLarge = COAP_CODE(4, 13);
constexpr int kCodeUnavailable = COAP_CODE(5, 3);

struct MsgRef {
    struct CoAPMessage *m;
    ~MsgRef() { CoAPMessage_Decref(m); }
};

inline bool copy_if_present(struct CoAPMessage *dst, const struct CoAPMessage *src, uint32_t number)
{
    return CoAPMessage_CopyOption(dst, src, number) == 0 || errno == ENOENT;
}

// A reassembled body (from SlidingWindow_Read) becomes msg's payload as it
// is: a megabyte is not copied once more.
inline void adopt_body(struct CoAPMessage *msg, MemStr body, uint32_t length)
{
    Mem_free(msg->payload);
    msg->payload = length > 0 ? reinterpret_cast<uint8_t *>(body.release()) : nullptr;
    msg->payload_len = msg->payload ? length : 0;
}

inline uint32_t block_size_of(uint32_t szx) { return 1u << ((szx > kMaxPeerSzx ? kMaxPeerSzx : szx) + 4); }

// The peer's window from its option 3001, within 1 .. kMaxPeerWindow.
uint32_t peer_window(const struct CoAPMessage *msg);

// Sends the blocks of the window not sent yet: copies of the template with
// option 3001, the block option and the block's bytes; Block2 blocks go as
// CON. The first block sent takes *first_id when it is set (and empties it).
// 0, or -1 with the failing step in err.
int send_window(struct Mirel *ep, struct SlidingWindow *w, const struct CoAPMessage *tmpl, uint32_t option,
                uint32_t szx, int *first_id, struct Err *err);

// An ACK to a block: its id, token and peer, the given code, the block
// option as received and option 3001 as received (or ours).
int acknowledge(struct Mirel *ep, const struct CoAPMessage *block, int code, uint32_t option,
                struct Err *err);

// The block of ours that an ACK acknowledges: the pending message with the
// ACK's id and peer carrying the same block number; null when none.
struct CoAPMessage *acknowledged_block(struct Mirel *ep, const struct CoAPMessage *ack, uint32_t option,
                                       const struct CoAPMessage_Block &b);

// The acknowledgement of one of our blocks: its round trip times the
// peer's next retransmissions, blocks sent before it and still waiting may
// go again at once, and its pending entry goes.
void block_acknowledged(struct Mirel *ep, const struct CoAPMessage *block);

// Transfers whose key ("address:port_token") has the same address as key.
int window_pool_count_address(struct SlidingWindowPool *pool, const char *key);

// Room for one more transfer: in the table and, unless key is null, for
// the address of key (a transfer a peer asked for). Only the receiver
// thread, which uses the windows, lets idle transfers expire first.
bool transfer_room(struct Mirel *ep, const char *key, bool expire);

// The sending window of a body that goes out block-wise, holding the
// payload (key as for transfer_room); null with err set (EBUSY when there is no room for another
// transfer, or ENOMEM).
struct SlidingWindow *sending_window(struct Mirel *ep, const char *key, const struct CoAPMessage *msg,
                                     struct Err *err);

}  // namespace mirel

#endif
