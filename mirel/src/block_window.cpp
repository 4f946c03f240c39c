// Blocks out of a window and acknowledgements of blocks, for both
// block-wise layers.
#include <cerrno>
#include <cstring>
#include <new>

#include "block_layer.h"
#include "mirel.h"
#include "pool_internal.h"
#include "zmo.h"

namespace mirel {

namespace {

struct SendContext {
    struct Mirel *ep;
    const struct CoAPMessage *tmpl;
    uint32_t option;
    uint32_t szx;
    int *first_id;
    struct Err *err;
};

int send_block(struct SlidingWindow *, uint32_t number, const uint8_t *data, uint32_t length, uint8_t *flags,
               void *context)
{
    auto *c = static_cast<SendContext *>(context);
    if (*flags & SW_BLOCK_SENT)
        return 1;
    MsgRef m{CoAPMessage_Clone(c->tmpl, 0)};
    if (!m.m) {
        Err_Set(c->err, errno, "CoAPMessage_Clone:");
        return -1;
    }
    struct CoAPMessage_Block b {
        number, c->szx, static_cast<uint8_t>(!(*flags & SW_BLOCK_LAST))
    };
    if (CoAPMessage_AddOptionUint(m.m, COAP_OPTION_SR_WINDOW_SIZE, kBlockWindow) != 0 ||
        CoAPMessage_AddOptionBlock(m.m, c->option, &b) != 0) {
        Err_Set(c->err, errno, "CoAPMessage_AddOptionUint:");
        return -1;
    }
    if (CoAPMessage_SetPayload(m.m, data, length) != 0) {
        Err_Set(c->err, errno, "CoAPMessage_SetPayload:");
        return -1;
    }
    if (c->option == COAP_OPTION_BLOCK2)
        CoAPMessage_SetType(m.m, COAP_TYPE_CON);
    // Our own peer's acknowledgements time a block's retransmissions.
    m.m->rtt_timed = true;
    if (c->first_id && *c->first_id >= 0) {
        CoAPMessage_SetId(m.m, *c->first_id);
        *c->first_id = -1;
    } else {
        CoAPMessage_SetId(m.m, CoAPMessage_GenId());
    }
    // In wire order before the pool publishes it: the receiver thread reads
    // its block option while the sender encodes it.
    option_list_sort(&m.m->options);
    if (Mirel_Send(c->ep, m.m) != 0) {
        Err_Set(c->err, errno, "Mirel_Send:");
        return -1;
    }
    *flags |= SW_BLOCK_SENT;
    return 1;
}

}  // namespace

uint32_t peer_window(const struct CoAPMessage *msg)
{
    uint32_t w = kBlockWindow;
    CoAPMessage_GetOptionUint(msg, COAP_OPTION_SR_WINDOW_SIZE, &w);
    if (w == 0)
        w = 1;
    return w > kMaxPeerWindow ? kMaxPeerWindow : w;
}

int send_window(struct Mirel *ep, struct SlidingWindow *w, const struct CoAPMessage *tmpl, uint32_t option,
                uint32_t szx, int *first_id, struct Err *err)
{
    SendContext c{ep, tmpl, option, szx > kMaxPeerSzx ? kMaxPeerSzx : szx, first_id, err};
    if (SlidingWindow_ReadBlockIter(w, 1, send_block, &c) < 0) {
        if (err->text[0] == '\0')
            Err_Set(err, 0, "SlidingWindow_ReadBlockIter");
        return -1;
    }
    return 0;
}

int acknowledge(struct Mirel *ep, const struct CoAPMessage *block, int code, uint32_t option, struct Err *err)
{
    MsgRef ack{CoAPMessage(COAP_TYPE_ACK, code, block->id)};
    if (!ack.m || CoAPMessage_CopyToken(ack.m, block) != 0 || CoAPMessage_CopySockAddr(ack.m, block) != 0) {
        Err_Set(err, errno, "CoAPMessage:");
        return -1;
    }
    if (CoAPMessage_CopyOption(ack.m, block, option) != 0 ||
        CoAPMessage_CopyOption(ack.m, block, COAP_OPTION_SR_WINDOW_SIZE) != 0) {
        Err_Set(err, errno, "CoAPMessage_CopyOption:");
        return -1;
    }
    if (Mirel_Send(ep, ack.m) != 0) {
        Err_Set(err, errno, "Mirel_Send:");
        return -1;
    }
    return 0;
}

struct CoAPMessage *acknowledged_block(struct Mirel *ep, const struct CoAPMessage *ack, uint32_t option,
                                       const struct CoAPMessage_Block &b)
{
    struct CoAPMessage *pending = CoAPMessagePool_Get(ep->pool, ack->id, &ack->addr, nullptr);
    struct CoAPMessage_Block ours;
    if (pending && pending->type == COAP_TYPE_CON &&
        CoAPMessage_GetOptionBlock(pending, option, &ours) == 0 && ours.num == b.num &&
        pending->token_len == ack->token_len && std::memcmp(pending->token, ack->token, ack->token_len) == 0)
        return pending;
    CoAPMessage_Decref(pending);
    return nullptr;
}

void block_acknowledged(struct Mirel *ep, const struct CoAPMessage *block)
{
    pool_acknowledged(ep->pool, block, true);
}

namespace {

struct SweepContext {
    struct Mirel *ep;
    uint64_t now;
    std::map<std::string, Mirel::BlockProgress> seen;
};

int unsend_unacknowledged(struct SlidingWindow *, uint32_t, const uint8_t *, uint32_t, uint8_t *flags, void *)
{
    if (!(*flags & SW_BLOCK_ACKED))
        *flags &= static_cast<uint8_t>(~SW_BLOCK_SENT);
    return 1;
}

int check_progress(const char *key, struct SlidingWindow *w, struct CoAPMessage *tmpl, void *context)
{
    auto *c = static_cast<SweepContext *>(context);
    if (SlidingWindow_IsRx(w) || !tmpl)
        return 1;
    int64_t offset = SlidingWindow_GetOffset(w);
    auto &progress = c->ep->block_progress;
    auto it = progress.find(key);
    Mirel::BlockProgress state{offset, c->now, c->now};
    if (it != progress.end() && it->second.offset == offset) {
        state = it->second;
        bool all = c->now - state.since >= kStallMs;
        bool lowest = c->now - state.resent >= kQuickStallMs;
        uint8_t f = 0;
        if (all) {
            zmo_log_debug(1, "ARQ tx transfer %s stalled at block %lld, window sent again", key,
                          static_cast<long long>(offset));
            SlidingWindow_ReadBlockIter(w, 1, unsend_unacknowledged, nullptr);
            state.since = c->now;
        } else if (lowest && SlidingWindow_GetBlockFlags(w, static_cast<uint32_t>(offset), &f) == 0 &&
                   (f & SW_BLOCK_SENT) && !(f & SW_BLOCK_ACKED)) {
            SlidingWindow_SetBlockFlags(w, static_cast<uint32_t>(offset),
                                        static_cast<uint8_t>(f & ~SW_BLOCK_SENT));
        }
        if (all || lowest) {
            uint32_t option = code_is_request(tmpl->code) ? COAP_OPTION_BLOCK1 : COAP_OPTION_BLOCK2;
            struct Err err;
            Err_Init(&err, "ARQ");
            if (send_window(c->ep, w, tmpl, option, kBlockSzx, nullptr, &err) != 0)
                zmo_log(ZMO_LOG_ERROR, "[%s] %s", err.name, err.text);
            state.resent = c->now;
        }
    }
    try {
        c->seen.emplace(key, state);
    } catch (const std::bad_alloc &) {
    }
    return 1;
}

}  // namespace

void block_sweep(struct Mirel *ep, uint64_t now_ms)
{
    ep->last_block_sweep = now_ms;
    SlidingWindowPool_Expire(ep->windows, kTransferIdleMs);
    SweepContext c{ep, now_ms, {}};
    SlidingWindowPool_ForEach(ep->windows, check_progress, &c);
    // Transfers that ended are forgotten here too.
    ep->block_progress.swap(c.seen);
}

bool transfer_room(struct Mirel *ep, const char *key, bool expire)
{
    if (expire)
        SlidingWindowPool_Expire(ep->windows, kTransferIdleMs);
    return SlidingWindowPool_Count(ep->windows, -1) < kMaxTransfers &&
           (!key || window_pool_count_address(ep->windows, key) < kMaxTransfersPerAddress);
}

struct SlidingWindow *sending_window(struct Mirel *ep, const char *key, const struct CoAPMessage *msg,
                                     struct Err *err)
{
    if (!transfer_room(ep, key, false)) {
        Err_Set(err, EBUSY, "SlidingWindowPool_Set:");
        return nullptr;
    }
    struct SlidingWindow *w = SlidingWindow(1, kBlockSize, kBlockWindow);
    if (!w) {
        Err_Set(err, errno, "SlidingWindow:");
        return nullptr;
    }
    if (SlidingWindow_Write(w, msg->payload, msg->payload_len) != 0) {
        Err_Set(err, errno, "SlidingWindow_Write:");
        SlidingWindow_Free(w);
        return nullptr;
    }
    return w;
}

}  // namespace mirel
