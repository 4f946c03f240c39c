// One-line summary of every message that passes the layer stacks.
#include <cerrno>
#include <memory>

#include "coap_uri.h"
#include "layers.h"
#include "message_internal.h"
#include "zmo.h"

namespace {

struct BufFree {
    void operator()(struct Buf *b) const { Buf_Free(b); }
};
using BufPtr = std::unique_ptr<struct Buf, BufFree>;

int add_block(struct Buf *buf, const struct CoAPMessage *msg, uint32_t number, int which)
{
    struct CoAPMessage_Block b;
    if (CoAPMessage_GetOptionBlock(msg, number, &b) != 0)
        return 0;
    return Buf_AddFormatStr(buf, ", %d:%u/%u/%u", which, b.num, b.more, 1u << (b.szx + 4));
}

int build(struct Buf *buf, const struct CoAPMessage *msg, bool outgoing, bool with_options, bool with_payload)
{
    int secure = 0;
    CoAPMessage_GetSecure(msg, &secure);
    char code[48];
    CoAPMessage_GetCodeStr(msg, code, sizeof code);
    if (Buf_AddFormatStr(buf, "[%d] %s %s%s %s", msg->id, outgoing ? "S" : "R", secure ? "$ " : "",
                         CoAPMessage_GetTypeStr(msg), code) != 0)
        return -1;

    if (mirel::code_is_request(msg->code)) {
        mirel::MemStr path(CoAPMessage_GetUriPath(msg));
        if (path && Buf_AddFormatStr(buf, " %s", path.get()) != 0)
            return -1;
        mirel::MemStr query(CoAPMessage_GetUriQuery(msg));
        if (query && Buf_AddFormatStr(buf, " %s", query.get()) != 0)
            return -1;
    }
    if (add_block(buf, msg, COAP_OPTION_BLOCK1, 1) != 0 || add_block(buf, msg, COAP_OPTION_BLOCK2, 2) != 0)
        return -1;
    uint32_t window;
    if (CoAPMessage_GetOptionUint(msg, COAP_OPTION_SR_WINDOW_SIZE, &window) == 0 &&
        Buf_AddFormatStr(buf, ", W:%u", window) != 0)
        return -1;
    if (msg->payload_len > 0 && Buf_AddFormatStr(buf, ", [%ub]", msg->payload_len) != 0)
        return -1;

    // Peer
    const auto *peer = reinterpret_cast<const zmo_ip_sockaddr_t *>(&msg->addr);
    char addr[ZMO_IP_ADDRSTRLEN];
    if (!zmo_ip_sockaddr_ntop(peer, addr, sizeof addr))
        snprintf(addr, sizeof addr, "-");
    if (Buf_AddFormatStr(buf, " %s %s", outgoing ? "to" : "from", addr) != 0)
        return -1;
    uint16_t port = zmo_ip_sockaddr_port(peer);
    if (port != COAP_DEFAULT_PORT && Buf_AddFormatStr(buf, ":%u", port) != 0)
        return -1;

    if (msg->token_len > 0 && (Buf_AddStr(buf, ", Token: ") != 0 ||
                               mirel::add_quoted_or_hex(buf, msg->token, msg->token_len, false) != 0))
        return -1;
    if (with_payload && msg->payload_len > 0 &&
        (Buf_AddStr(buf, ", Payload: ") != 0 ||
         mirel::add_quoted_or_hex(buf, msg->payload, msg->payload_len, true) != 0))
        return -1;
    if (with_options) {
        if (Buf_AddStr(buf, ", Options: [") != 0)
            return -1;
        for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
            char name[32];
            CoAPMessage_OptionCodeStr(o->number, name, sizeof name);
            if (Buf_AddFormatStr(buf, "%s%s:", o == msg->options.first ? "" : ", ", name) != 0)
                return -1;
            int rc = o->length == 0 ? Buf_AddStr(buf, "(empty)")
                                    : mirel::add_quoted_or_hex(buf, o->value, o->length, false);
            if (rc != 0)
                return -1;
        }
        if (Buf_AddStr(buf, "]") != 0)
            return -1;
    }
    return Buf_AddCh(buf, 0);
}

int log_layer(struct CoAPMessage *msg, bool outgoing)
{
    int level = zmo_log_get_debug();
    if (level >= 1 && msg)
        mirel::message_summary(msg, outgoing, level >= 2, level >= 2);
    return LAYER_CONTINUE;
}

}  // namespace

namespace mirel {

int message_summary(const struct CoAPMessage *msg, bool outgoing, bool with_options, bool with_payload)
{
    if (!msg) {
        errno = EINVAL;
        return -1;
    }
    BufPtr buf(Buf());
    if (!buf || build(buf.get(), msg, outgoing, with_options, with_payload) != 0)
        return -1;
    zmo_log_debug(1, "%s", reinterpret_cast<const char *>(buf->data));
    return 0;
}

}  // namespace mirel

extern "C" {

int LogLayer_OnSend(struct Mirel *, struct CoAPMessage *msg, uint8_t, struct Err *)
{
    return log_layer(msg, true);
}

int LogLayer_OnReceive(struct Mirel *, struct CoAPMessage *msg, uint8_t, struct Err *)
{
    return log_layer(msg, false);
}

}  // extern "C"
