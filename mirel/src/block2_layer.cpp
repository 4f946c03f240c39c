// Block-wise transfer of response bodies (option 23): the server announces
// a long body with an empty ACK and sends it in blocks, the client collects
// them.
#include <cerrno>
#include <utility>
#include <cstring>

#include "block_layer.h"
#include "layers.h"
#include "mirel.h"
#include "zmo.h"

namespace {

using namespace mirel;

const char kName[] = "ArqBlock2Layer";

// A long answer with no transfer slot free: a 5.03 with Max-Age in its place
// (same type, id, token and peer), so that the client hears at once instead
// of waiting out its request.
int answer_busy(struct Mirel *ep, const struct CoAPMessage *msg, struct Err *err)
{
    MsgRef r{CoAPMessage(msg->type, kCodeUnavailable, msg->id)};
    if (!r.m || CoAPMessage_CopyToken(r.m, msg) != 0 || CoAPMessage_CopySockAddr(r.m, msg) != 0 ||
        !copy_if_present(r.m, msg, COAP_OPTION_URI_SCHEME) ||
        CoAPMessage_AddOptionUint(r.m, COAP_OPTION_MAX_AGE, kBusyMaxAgeS) != 0) {
        Err_Set(err, errno, "CoAPMessage:");
        return LAYER_ERROR;
    }
    if (Mirel_Send(ep, r.m) != 0) {
        Err_Set(err, errno, "Mirel_Send:");
        return LAYER_ERROR;
    }
    zmo_log_debug(1, "[%d] %s: no transfer slot, answered 5.03", msg->id, kName);
    return LAYER_STOP;
}

// A receiving window for a response body to the given request.
int start_receiving(struct Mirel *ep, const char *key, const struct CoAPMessage *announcing,
                    CoAPMessage_Handler handler, struct Err *err)
{
    struct SlidingWindow *w = SlidingWindow(0, 0, peer_window(announcing));
    if (!w) {
        Err_Set(err, errno, "SlidingWindow:");
        return -1;
    }
    if (SlidingWindowPool_Set(ep->windows, key, w, nullptr, handler) != 0) {
        SlidingWindow_Free(w);
        Err_Set(err, errno, "SlidingWindowPool_Set:");
        return -1;
    }
    return 0;
}

// Client: one block of a response body.
int on_response_block(struct Mirel *ep, struct CoAPMessage *msg, const char *key,
                      const struct CoAPMessage_Block &b, struct Err *err)
{
    CoAPMessage_Handler handler = nullptr;
    struct SlidingWindow *w = SlidingWindowPool_Get(ep->windows, key, nullptr, &handler);
    if (!w) {
        // The announcement may have been lost: a block for a request still
        // pending (same peer and token) starts the transfer itself.
        MsgRef request{CoAPMessagePool_GetByToken(ep->pool, msg->token, msg->token_len, &msg->addr)};
        if (!request.m || !transfer_room(ep, nullptr, true)) {
            zmo_log_debug(1, "[%d] %s: block %u for no transfer dropped", msg->id, kName, b.num);
            return LAYER_STOP;
        }
        handler = CoAPMessage_GetHandler(request.m);
        if (start_receiving(ep, key, msg, handler, err) != 0)
            return LAYER_ERROR;
        CoAPMessagePool_RemoveMessage(ep->pool, request.m);
        w = SlidingWindowPool_Get(ep->windows, key, nullptr, nullptr);
    }
    if (msg->payload_len == 0) {
        Err_Set(err, ENODATA, "CoAPMessage_GetPayload:");
        return LAYER_ERROR;
    }
    SlidingWindow_SetBlockSize(w, block_size_of(b.szx));  // the first block's, once
    uint64_t end = (uint64_t{b.num} + 1) * block_size_of(b.szx);
    if (end > kMaxBody) {
        // A body past the cap is a failure the requester sees, with the
        // code a server would have given.
        SlidingWindowPool_Del(ep->windows, key);
        CoAPMessage_RemoveOptions(msg, COAP_OPTION_BLOCK2);
        CoAPMessage_RemoveOptions(msg, COAP_OPTION_SR_WINDOW_SIZE);
        CoAPMessage_SetPayload(msg, nullptr, 0);
        CoAPMessage_SetCode(msg, kCodeTooLarge);
        if (handler)
            handler(ep, msg);
        return LAYER_STOP;
    }
    uint8_t flags = b.more ? 0 : SW_BLOCK_LAST;
    if (SlidingWindow_WriteBlock(w, b.num, msg->payload, msg->payload_len, 1, &flags) != 0) {
        int e = errno;
        // Held or passed already: its acknowledgement was lost.
        if (e == EEXIST || (e == ERANGE && b.num < SlidingWindow_GetOffset(w)))
            return acknowledge(ep, msg, b.more ? kCodeContinue : COAP_CODE_EMPTY, COAP_OPTION_BLOCK2, err) ==
                           0
                       ? LAYER_STOP
                       : LAYER_ERROR;
        Err_Set(err, e, "SlidingWindow_WriteBlock:");
        return LAYER_ERROR;
    }
    uint8_t complete = 0;
    SlidingWindow_Advance(w, &complete);
    if (acknowledge(ep, msg, b.more ? kCodeContinue : COAP_CODE_EMPTY, COAP_OPTION_BLOCK2, err) != 0)
        return LAYER_ERROR;
    if (!complete)
        return LAYER_STOP;
    uint32_t len = 0;
    MemStr body(static_cast<char *>(SlidingWindow_Read(w, &len)));
    SlidingWindowPool_Del(ep->windows, key);
    if (!body) {
        Err_Set(err, errno, "SlidingWindow_Read:");
        return LAYER_ERROR;
    }
    adopt_body(msg, std::move(body), len);
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_BLOCK2);
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_SR_WINDOW_SIZE);
    if (handler)
        handler(ep, msg);
    return LAYER_STOP;
}

// Server: the acknowledgement of one of our response blocks.
int on_block_ack(struct Mirel *ep, struct CoAPMessage *msg, const char *key,
                 const struct CoAPMessage_Block &b, struct Err *err)
{
    struct CoAPMessage *tmpl = nullptr;
    struct SlidingWindow *w = SlidingWindowPool_Get(ep->windows, key, &tmpl, nullptr);
    if (!w)
        return LAYER_STOP;
    MsgRef block{acknowledged_block(ep, msg, COAP_OPTION_BLOCK2, b)};
    uint8_t flags = 0;
    if (!block.m || SlidingWindow_GetBlockFlags(w, b.num, &flags) != 0)
        return LAYER_STOP;
    SlidingWindow_SetBlockFlags(w, b.num, flags | SW_BLOCK_ACKED);
    block_acknowledged(ep, block.m);
    uint8_t complete = 0;
    SlidingWindow_Advance(w, &complete);
    if (complete) {
        SlidingWindowPool_Del(ep->windows, key);
        // Copies still out (a block sent again under a fresh id while its
        // first copy was on its way) need no more retransmissions.
        CoAPMessagePool_RemoveByToken(ep->pool, msg->token, msg->token_len, &msg->addr, nullptr);
        return LAYER_STOP;
    }
    if (send_window(ep, w, tmpl, COAP_OPTION_BLOCK2, b.szx, nullptr, err) != 0)
        return LAYER_ERROR;
    return LAYER_STOP;
}

// Client: the empty ACK that announces a block-wise answer to a request.
int on_announcement(struct Mirel *ep, struct CoAPMessage *msg, const char *key, struct Err *err)
{
    MsgRef request{CoAPMessagePool_Get(ep->pool, msg->id, &msg->addr, nullptr)};
    if (!request.m || request.m->type != COAP_TYPE_CON || request.m->token_len != msg->token_len ||
        std::memcmp(request.m->token, msg->token, msg->token_len) != 0)
        return LAYER_STOP;
    // Blocks that overtook the announcement started the transfer already.
    if (!SlidingWindowPool_Get(ep->windows, key, nullptr, nullptr)) {
        if (!transfer_room(ep, nullptr, true))
            return LAYER_STOP;
        if (start_receiving(ep, key, msg, CoAPMessage_GetHandler(request.m), err) != 0)
            return LAYER_ERROR;
    }
    // Answered: no more retransmissions of the request.
    CoAPMessagePool_RemoveMessage(ep->pool, request.m);
    return LAYER_STOP;
}

}  // namespace

extern "C" {

int ArqBlock2Layer_OnSend(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err)
{
    Err_Init(err, "ArqBlock2Layer_OnSend");
    if ((extra & COAP_POOL_PASS_BLOCK) || msg->code < COAP_CODE(2, 1) || msg->code > COAP_CODE(5, 6) ||
        msg->payload_len <= kBlockSize)
        return LAYER_CONTINUE;
    CoAPMessagePool_RemoveMessage(ep->pool, msg);
    char key[kWindowKeySize];
    if (window_key_format(msg, key, sizeof key) != 0) {
        Err_Set(err, errno, "Mem_strdup:");
        return LAYER_ERROR;
    }
    // One long answer at a time per peer and token.
    if (SlidingWindowPool_Get(ep->windows, key, nullptr, nullptr))
        return LAYER_STOP;
    struct SlidingWindow *w = sending_window(ep, key, msg, err);
    if (!w)
        return err->code == EBUSY ? answer_busy(ep, msg, err) : LAYER_ERROR;
    // The announcement: an empty ACK to the request.
    MsgRef ann{CoAPMessage(COAP_TYPE_ACK, COAP_CODE_EMPTY, msg->id)};
    if (!ann.m || CoAPMessage_CopyToken(ann.m, msg) != 0 || CoAPMessage_CopySockAddr(ann.m, msg) != 0 ||
        !copy_if_present(ann.m, msg, COAP_OPTION_URI_SCHEME) ||
        CoAPMessage_AddOptionUint(ann.m, COAP_OPTION_SR_WINDOW_SIZE, kBlockWindow) != 0 ||
        !copy_if_present(ann.m, msg, COAP_OPTION_BLOCK1)) {
        Err_Set(err, errno, "CoAPMessage:");
        SlidingWindow_Free(w);
        return LAYER_ERROR;
    }
    struct CoAPMessage *tmpl = CoAPMessage_Clone(msg, 0);
    if (tmpl)
        CoAPMessage_RemoveOptions(tmpl, COAP_OPTION_BLOCK1);
    if (!tmpl) {
        Err_Set(err, errno, "CoAPMessage_Clone:");
        CoAPMessage_Decref(tmpl);
        SlidingWindow_Free(w);
        return LAYER_ERROR;
    }
    if (Mirel_Send(ep, ann.m) != 0 ||
        send_window(ep, w, tmpl, COAP_OPTION_BLOCK2, kBlockSzx, nullptr, err) != 0 ||
        SlidingWindowPool_Set(ep->windows, key, w, tmpl, msg->handler) != 0) {
        if (err->text[0] == '\0')
            Err_Set(err, errno, "SlidingWindowPool_Set:");
        SlidingWindow_Free(w);
        CoAPMessage_Decref(tmpl);
        return LAYER_ERROR;
    }
    return LAYER_STOP;
}

int ArqBlock2Layer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t, struct Err *err)
{
    Err_Init(err, kName);
    uint32_t window = 0;
    if (CoAPMessage_GetOptionUint(msg, COAP_OPTION_SR_WINDOW_SIZE, &window) != 0)
        return LAYER_CONTINUE;
    char key[kWindowKeySize];
    if (window_key_format(msg, key, sizeof key) != 0) {
        Err_Set(err, errno, "Mem_strdup:");
        return LAYER_ERROR;
    }
    struct CoAPMessage_Block b;
    if (CoAPMessage_GetOptionBlock(msg, COAP_OPTION_BLOCK2, &b) == 0) {
        if (msg->type == COAP_TYPE_CON)
            return on_response_block(ep, msg, key, b, err);
        if (msg->type == COAP_TYPE_ACK)
            return on_block_ack(ep, msg, key, b, err);
        return LAYER_STOP;
    }
    if (msg->type == COAP_TYPE_ACK && msg->code == COAP_CODE_EMPTY)
        return on_announcement(ep, msg, key, err);
    if (msg->type == COAP_TYPE_NON || msg->type == COAP_TYPE_RST)
        return LAYER_STOP;
    // With option 27 the request layer takes it; 3001 alone is passed on.
    return LAYER_CONTINUE;
}

}  // extern "C"
