// Response layer: an ACK or RST finds the request it answers in the
// pending-message pool and reaches that request's handler.
#include <cstring>

#include "endpoint.h"
#include "layers.h"
#include "message_internal.h"
#include "zmo.h"

namespace {

bool same_token(const struct CoAPMessage *a, const struct CoAPMessage *b)
{
    return a->token_len == b->token_len && std::memcmp(a->token, b->token, a->token_len) == 0;
}

// Ids are sequential, so an id alone is easy to forge: an answer with a code
// must carry the request's token too, and so must every answer to a
// multicast request (which any peer may give). The pool has already matched
// the peer of a unicast request.
bool answers(const struct CoAPMessage *pending, const struct CoAPMessage *answer)
{
    if (pending->type != COAP_TYPE_CON)
        return false;  // one of our own answers, still queued
    if (CoAPMessage_IsMulticast(pending) || answer->code != COAP_CODE_EMPTY)
        return same_token(pending, answer);
    return true;
}

}  // namespace

extern "C" int ResLayer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t, struct Err *)
{
    if (msg->type != COAP_TYPE_ACK && msg->type != COAP_TYPE_RST)
        return LAYER_CONTINUE;
    struct CoAPMessage *pending = CoAPMessagePool_Get(ep->pool, msg->id, &msg->addr, nullptr);
    if (!pending)
        return LAYER_STOP;
    if (!answers(pending, msg)) {
        zmo_log_debug(1, "[%d] %s: answer does not match the pending request, dropped", msg->id,
                      "ResLayer_OnReceive");
        CoAPMessage_Decref(pending);
        return LAYER_STOP;
    }
    // Removed before the handler runs, so that a slow handler sees no
    // retransmission of an answered request; multicast requests stay for
    // every peer's answer until the pool expires them.
    if (!CoAPMessage_IsMulticast(pending))
        CoAPMessagePool_RemoveMessage(ep->pool, pending);
    if (CoAPMessage_Handler handler = CoAPMessage_GetHandler(pending))
        handler(ep, msg);
    CoAPMessage_Decref(pending);
    return LAYER_STOP;
}
