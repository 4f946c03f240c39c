// Request layer: pings, and requests dispatched to the resources by path
// and method. Requests never go further down the stack.
#include <cerrno>
#include <cstring>

#include "coap_uri.h"
#include "endpoint.h"
#include "layers.h"
#include "message_internal.h"
#include "zmo.h"

namespace {

constexpr int kCodeNotFound = COAP_CODE(4, 4);
constexpr int kCodeMethodNotAllowed = COAP_CODE(4, 5);

// Options the prepared response takes over from the request: the scheme, so
// that the answer to a secure request is sealed too, and the block-wise ones.
constexpr uint32_t kCopiedOptions[] = {COAP_OPTION_URI_SCHEME, COAP_OPTION_BLOCK1,
                                       COAP_OPTION_SR_WINDOW_SIZE};

struct MsgRef {
    struct CoAPMessage *m;
    ~MsgRef() { CoAPMessage_Decref(m); }
};

// An empty message of the given type with the request's id, token and peer.
struct CoAPMessage *reply_to(const struct CoAPMessage *req, int type)
{
    struct CoAPMessage *m = CoAPMessage(type, COAP_CODE_EMPTY, req->id);
    if (!m)
        return nullptr;
    if (CoAPMessage_CopyToken(m, req) != 0 || CoAPMessage_CopySockAddr(m, req) != 0) {
        CoAPMessage_Decref(m);
        return nullptr;
    }
    return m;
}

int answer_ping(struct Mirel *ep, const struct CoAPMessage *req, struct Err *err)
{
    MsgRef rst{reply_to(req, COAP_TYPE_RST)};
    if (!rst.m) {
        Err_Set(err, errno, "CoAPMessage:");
        return LAYER_ERROR;
    }
    if (Mirel_Send(ep, rst.m) != 0) {
        Err_Set(err, errno, "Mirel_Send:");
        return LAYER_ERROR;
    }
    return LAYER_STOP;
}

}  // namespace

extern "C" int ReqLayer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t, struct Err *err)
{
    Err_Init(err, "ReqLayer_OnReceive");
    if (msg->type == COAP_TYPE_CON && msg->code == COAP_CODE_EMPTY)
        return answer_ping(ep, msg, err);
    if (!mirel::code_is_request(msg->code))
        return LAYER_CONTINUE;

    mirel::MemStr path(CoAPMessage_GetUriPath(msg));
    if (!path) {
        if (errno != ENOENT) {
            Err_Set(err, errno, "CoAPMessage_GetUriPath:");
            return LAYER_ERROR;
        }
        path.reset(Mem_strdup("/"));
        if (!path) {
            Err_Set(err, errno, "Mem_strdup:");
            return LAYER_ERROR;
        }
    }

    // Always an ACK, also for a NON request.
    MsgRef response{reply_to(msg, COAP_TYPE_ACK)};
    if (!response.m) {
        Err_Set(err, errno, "CoAPMessage:");
        return LAYER_ERROR;
    }
    for (uint32_t number : kCopiedOptions) {
        if (CoAPMessage_CopyOption(response.m, msg, number) != 0 && errno != ENOENT) {
            Err_Set(err, errno, "CoAPMessage_CopyOption:");
            return LAYER_ERROR;
        }
    }

    Mirel_ResHandler handler = nullptr;
    if (Mirel_GetRes(ep, path.get(), msg->code, &handler) != 0) {
        int code;
        if (errno == ENOENT)
            code = kCodeNotFound;
        else if (errno == ENOKEY)
            code = kCodeMethodNotAllowed;
        else
            return LAYER_STOP;
        char text[48];
        zmo_log_debug(1, "%s: resource \"%s\" with code %s doesn't exist", "ReqLayer_OnReceive", path.get(),
                      CoAPMessage_GetCodeStr(msg, text, sizeof text));
        CoAPMessage_SetCode(response.m, code);
        if (Mirel_Send(ep, response.m) != 0) {
            Err_Set(err, errno, "Mirel_Send:");
            return LAYER_ERROR;
        }
        return LAYER_STOP;
    }
    if (handler(ep, msg, response.m) == 0)
        Mirel_Send(ep, response.m);
    return LAYER_STOP;
}
