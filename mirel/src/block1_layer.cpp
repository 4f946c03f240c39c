// Block-wise transfer of request bodies (option 27): the client cuts a long
// body into blocks, the server collects them.
#include <cerrno>
#include <utility>

#include "block_layer.h"
#include "layers.h"
#include "mirel.h"
#include "zmo.h"

namespace {

using namespace mirel;

const char kName[] = "ArqBlock1Layer";

// A request answered at once with a code, for blocks we will not take.
int refuse(struct Mirel *ep, const struct CoAPMessage *block, int code, struct Err *err)
{
    MsgRef r{CoAPMessage(COAP_TYPE_ACK, code, block->id)};
    if (!r.m || CoAPMessage_CopyToken(r.m, block) != 0 || CoAPMessage_CopySockAddr(r.m, block) != 0) {
        Err_Set(err, errno, "CoAPMessage:");
        return LAYER_ERROR;
    }
    CoAPMessage_CopyOption(r.m, block, COAP_OPTION_URI_SCHEME);
    if (Mirel_Send(ep, r.m) != 0) {
        Err_Set(err, errno, "Mirel_Send:");
        return LAYER_ERROR;
    }
    return LAYER_STOP;
}

// Server: one block of a request body.
int on_request_block(struct Mirel *ep, struct CoAPMessage *msg, const char *key,
                     const struct CoAPMessage_Block &b, struct Err *err)
{
    if (msg->type != COAP_TYPE_CON)
        return LAYER_STOP;
    struct SlidingWindow *w = SlidingWindowPool_Get(ep->windows, key, nullptr, nullptr);
    if (!w) {
        if (!transfer_room(ep, key, true))
            return refuse(ep, msg, kCodeUnavailable, err);
        w = SlidingWindow(0, block_size_of(b.szx), peer_window(msg));
        if (!w) {
            Err_Set(err, errno, "SlidingWindow:");
            return LAYER_ERROR;
        }
        struct CoAPMessage *tmpl = CoAPMessage_Clone(msg, 0);
        if (!tmpl) {
            SlidingWindow_Free(w);
            Err_Set(err, errno, "CoAPMessage_Clone:");
            return LAYER_ERROR;
        }
        if (SlidingWindowPool_Set(ep->windows, key, w, tmpl, nullptr) != 0) {
            SlidingWindow_Free(w);
            CoAPMessage_Decref(tmpl);
            Err_Set(err, errno, "SlidingWindowPool_Set:");
            return LAYER_ERROR;
        }
    }
    if (msg->payload_len == 0)
        return LAYER_STOP;
    uint64_t end = (uint64_t{b.num} + 1) * block_size_of(b.szx);
    if (end > kMaxBody) {
        SlidingWindowPool_Del(ep->windows, key);
        return refuse(ep, msg, kCodeTooLarge, err);
    }
    uint8_t flags = b.more ? 0 : SW_BLOCK_LAST;
    if (SlidingWindow_WriteBlock(w, b.num, msg->payload, msg->payload_len, 1, &flags) != 0) {
        int e = errno;
        // A block we hold already, or passed already: its acknowledgement
        // was lost. Say it again, or the sender stalls.
        if (e == EEXIST || (e == ERANGE && b.num < SlidingWindow_GetOffset(w)))
            return acknowledge(ep, msg, kCodeContinue, COAP_OPTION_BLOCK1, err) == 0 ? LAYER_STOP
                                                                                     : LAYER_ERROR;
        Err_Set(err, e, "SlidingWindow_WriteBlock:");
        return LAYER_ERROR;
    }
    uint8_t complete = 0;
    SlidingWindow_Advance(w, &complete);
    if (!complete) {
        // "more" = 0 in the acknowledgement's Block1, as for every block.
        MsgRef ack{CoAPMessage(COAP_TYPE_ACK, kCodeContinue, msg->id)};
        struct CoAPMessage_Block ab {
            b.num, b.szx, 0
        };
        if (!ack.m || CoAPMessage_CopyToken(ack.m, msg) != 0 || CoAPMessage_CopySockAddr(ack.m, msg) != 0 ||
            CoAPMessage_AddOptionBlock(ack.m, COAP_OPTION_BLOCK1, &ab) != 0 ||
            CoAPMessage_CopyOption(ack.m, msg, COAP_OPTION_SR_WINDOW_SIZE) != 0) {
            Err_Set(err, errno, "CoAPMessage:");
            return LAYER_ERROR;
        }
        if (Mirel_Send(ep, ack.m) != 0) {
            Err_Set(err, errno, "Mirel_Send:");
            return LAYER_ERROR;
        }
        return LAYER_STOP;
    }
    uint32_t len = 0;
    MemStr body(static_cast<char *>(SlidingWindow_Read(w, &len)));
    SlidingWindowPool_Del(ep->windows, key);
    if (!body) {
        Err_Set(err, errno, "SlidingWindow_Read:");
        return LAYER_ERROR;
    }
    adopt_body(msg, std::move(body), len);
    // The block that completed the body goes on to its resource, whose
    // answer acknowledges it.
    return LAYER_CONTINUE;
}

// Client: the acknowledgement of one of our request blocks.
int on_block_ack(struct Mirel *ep, struct CoAPMessage *msg, const char *key,
                 const struct CoAPMessage_Block &b, struct Err *err)
{
    struct CoAPMessage *tmpl = nullptr;
    CoAPMessage_Handler handler = nullptr;
    struct SlidingWindow *w = SlidingWindowPool_Get(ep->windows, key, &tmpl, &handler);
    if (!w)
        return LAYER_STOP;
    MsgRef block{acknowledged_block(ep, msg, COAP_OPTION_BLOCK1, b)};
    uint8_t flags = 0;
    if (!block.m || SlidingWindow_GetBlockFlags(w, b.num, &flags) != 0)
        return LAYER_STOP;
    SlidingWindow_SetBlockFlags(w, b.num, flags | SW_BLOCK_ACKED);
    uint8_t complete = 0;
    SlidingWindow_Advance(w, &complete);
    if (msg->code != kCodeContinue) {
        SlidingWindowPool_SetCode(ep->windows, key, msg->code);
        // The server answers with another code only once it has the whole
        // body (or refuses it): this is the answer, with its payload, even
        // when acknowledgements of earlier blocks were lost. Those blocks
        // need no more retransmissions.
        complete = 1;
        // This block stays: the response layer finds the request by it.
        CoAPMessagePool_RemoveByToken(ep->pool, msg->token, msg->token_len, &msg->addr, block.m);
    }
    if (complete && msg->code == kCodeContinue && SlidingWindowPool_GetCode(ep->windows, key) < 0) {
        // Every block is acknowledged, but by 2.31: the server's answer
        // (sent for an earlier copy of a block) was lost. It comes again
        // for that copy's retransmission; a 2.31 is no answer.
        block_acknowledged(ep, block.m);
        return LAYER_STOP;
    }
    if (!complete) {
        block_acknowledged(ep, block.m);
        if (send_window(ep, w, tmpl, COAP_OPTION_BLOCK1, b.szx, nullptr, err) != 0)
            return LAYER_ERROR;
        return LAYER_STOP;
    }
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_BLOCK1);
    // An empty ACK keeps 3001: it announces a block-wise response.
    if (msg->code != COAP_CODE_EMPTY)
        CoAPMessage_RemoveOptions(msg, COAP_OPTION_SR_WINDOW_SIZE);
    int code = SlidingWindowPool_GetCode(ep->windows, key);
    if (code >= 0)
        CoAPMessage_SetCode(msg, code);
    SlidingWindowPool_Del(ep->windows, key);
    // The response layer hands this answer to the whole request's handler.
    CoAPMessage_SetHandler(block.m, handler);
    return LAYER_CONTINUE;
}

}  // namespace

extern "C" {

int ArqBlock1Layer_OnSend(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err)
{
    Err_Init(err, "ArqBlock1Layer_OnSend");
    if ((extra & COAP_POOL_PASS_BLOCK) || !code_is_request(msg->code) || msg->payload_len <= kBlockSize)
        return LAYER_CONTINUE;
    // The long request itself never goes out.
    CoAPMessagePool_RemoveMessage(ep->pool, msg);
    char key[kWindowKeySize];
    if (window_key_format(msg, key, sizeof key) != 0) {
        Err_Set(err, errno, "Mem_strdup:");
        return LAYER_ERROR;
    }
    if (SlidingWindowPool_Get(ep->windows, key, nullptr, nullptr)) {
        Err_Set(err, EEXIST, "SlidingWindowPool_Set:");
        return LAYER_ERROR;
    }
    // Our own request: only the table's cap, none per address.
    struct SlidingWindow *w = sending_window(ep, nullptr, msg, err);
    if (!w)
        return LAYER_ERROR;
    struct CoAPMessage *tmpl = CoAPMessage_Clone(msg, 0);
    if (!tmpl) {
        Err_Set(err, errno, "CoAPMessage_Clone:");
        SlidingWindow_Free(w);
        return LAYER_ERROR;
    }
    int first_id = msg->id;
    if (send_window(ep, w, tmpl, COAP_OPTION_BLOCK1, kBlockSzx, &first_id, err) != 0 ||
        SlidingWindowPool_Set(ep->windows, key, w, tmpl, msg->handler) != 0) {
        if (err->text[0] == '\0')
            Err_Set(err, errno, "SlidingWindowPool_Set:");
        SlidingWindow_Free(w);
        CoAPMessage_Decref(tmpl);
        return LAYER_ERROR;
    }
    return LAYER_STOP;
}

int ArqBlock1Layer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t, struct Err *err)
{
    Err_Init(err, kName);
    struct CoAPMessage_Block b;
    uint32_t window = 0;
    if (CoAPMessage_GetOptionUint(msg, COAP_OPTION_SR_WINDOW_SIZE, &window) != 0 ||
        CoAPMessage_GetOptionBlock(msg, COAP_OPTION_BLOCK1, &b) != 0)
        return LAYER_CONTINUE;
    char key[kWindowKeySize];
    if (window_key_format(msg, key, sizeof key) != 0) {
        Err_Set(err, errno, "Mem_strdup:");
        return LAYER_ERROR;
    }
    if (msg->type == COAP_TYPE_CON)
        return on_request_block(ep, msg, key, b, err);
    if (msg->type == COAP_TYPE_ACK)
        return on_block_ack(ep, msg, key, b, err);
    return LAYER_STOP;
}

}  // extern "C"
