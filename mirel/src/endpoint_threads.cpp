// The endpoint's receiver and sender threads, one datagram or message at
// a time.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "endpoint.h"
#include "layers.h"
#include "message_internal.h"
#include "pool_internal.h"
#include "zmo.h"

namespace {

const char kReceiver[] = "CoAPReceiver";
// A busy socket still wakes the sender after this many datagrams.
constexpr int kBurst = 16;
const char kSender[] = "CoAPSender";

socklen_t peer_length(const struct sockaddr_storage &peer)
{
    return peer.ss_family == AF_INET ? sizeof(struct sockaddr_in) : sizeof(struct sockaddr_in6);
}

const char *peer_text(const struct sockaddr_storage &peer, char *buf, size_t size)
{
    const char *text = zmo_ip_sockaddr_ntop(reinterpret_cast<const zmo_ip_sockaddr_t *>(&peer), buf, size);
    return text ? text : "-";
}

struct MsgRef {
    struct CoAPMessage *m;
    ~MsgRef() { CoAPMessage_Decref(m); }
};

// A retransmitted request reaches no handler again; a confirmable one gets
// the answer already sent for it once more. True when msg was a duplicate.
bool handled_as_duplicate(struct Mirel *ep, const struct CoAPMessage *msg, const uint8_t *bytes,
                          size_t length)
{
    if (msg->type != COAP_TYPE_CON && msg->type != COAP_TYPE_NON)
        return false;
    std::vector<uint8_t> answer;
    uint64_t print = mirel::DuplicateMemory::fingerprint(bytes, length);
    if (ep->dups.check(msg->addr, msg->id, &answer, print) == mirel::DuplicateMemory::Seen::New)
        return false;
    char addr[ZMO_IP_ADDRSTRLEN];
    if (msg->type == COAP_TYPE_CON && !answer.empty()) {
        zmo_log_debug(2, "[%d] %s: duplicate from %s answered again", msg->id, kReceiver,
                      peer_text(msg->addr, addr, sizeof addr));
        sendto(ep->rt.sock, answer.data(), answer.size(), 0,
               reinterpret_cast<const struct sockaddr *>(&msg->addr), peer_length(msg->addr));
    } else {
        zmo_log_debug(2, "[%d] %s: duplicate from %s dropped", msg->id, kReceiver,
                      peer_text(msg->addr, addr, sizeof addr));
    }
    return true;
}

}  // namespace

namespace mirel {

void endpoint_receive(struct Mirel *ep, const uint8_t *bytes, size_t length,
                      const struct sockaddr_storage &from)
{
    MsgRef msg{CoAPMessage_FromBytes(bytes, length)};
    if (!msg.m)
        return;
    CoAPMessage_SetSockAddr(msg.m, &from);
    if (handled_as_duplicate(ep, msg.m, bytes, length))
        return;
    struct Err err;
    Err_Init(&err, kReceiver);
    if (LayerStack_OnReceive(ep, msg.m, 0, &err) == LAYER_ERROR) {
        zmo_log(ZMO_LOG_ERROR, "[%s] %s", err.name, err.text);
        // Not answered: a retransmission may still get through.
        ep->dups.forget(from, msg.m->id);
    }
}

void endpoint_send(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra)
{
    struct sockaddr_storage peer {};
    if (CoAPMessage_GetSockAddr(msg, &peer) != 0) {
        // It can never go out: no retransmissions of nothing.
        zmo_log_debug(1, "[%d] %s: message without peer address dropped", msg->id, kSender);
        CoAPMessagePool_RemoveMessage(ep->pool, msg);
        return;
    }
    struct Err err;
    Err_Init(&err, kSender);
    int rc = LayerStack_OnSend(ep, msg, extra, &err);
    if (rc == LAYER_STOP)
        return;  // a layer took the message over
    if (rc == LAYER_ERROR) {
        zmo_log(ZMO_LOG_ERROR, "[%s] %s", err.name, err.text);
    } else {
        char text[100];
        uint32_t length = 0;
        MemStr bytes(reinterpret_cast<char *>(CoAPMessage_ToBytes(msg, &length)));
        if (!bytes) {
            zmo_log(ZMO_LOG_ERROR, "%s (CoAPMessage_ToBytes): %s", kSender,
                    errno_text(errno, text, sizeof text));
        } else {
            if (sendto(ep->rt.sock, bytes.get(), length, 0, reinterpret_cast<const struct sockaddr *>(&peer),
                       peer_length(peer)) < 0)
                zmo_log_debug(1, "%s (sendto): %s", kSender, errno_text(errno, text, sizeof text));
            if (msg->type == COAP_TYPE_ACK || msg->type == COAP_TYPE_RST)
                ep->dups.record_answer(peer, msg->id, reinterpret_cast<uint8_t *>(bytes.get()), length);
        }
    }
    // Only confirmable messages wait for an answer and retransmission.
    if (msg->type != COAP_TYPE_CON)
        CoAPMessagePool_RemoveMessage(ep->pool, msg);
}

void *receiver_main(void *arg)
{
    auto *ep = static_cast<struct Mirel *>(arg);
    uint8_t buf[kMaxDatagram];
    // Datagrams handled since the sender was last woken.
    int burst = 0;
    while (!ep->rt.stop.load()) {
        struct sockaddr_storage from {};
        socklen_t from_len = sizeof from;
        // MSG_TRUNC: the datagram's real length, so a longer one is seen.
        // Within a burst only what is there already: before waiting, the
        // sender gets what the burst queued.
        ssize_t n = recvfrom(ep->rt.sock, buf, sizeof buf, MSG_TRUNC | (burst > 0 ? MSG_DONTWAIT : 0),
                             reinterpret_cast<struct sockaddr *>(&from), &from_len);
        if (n < 0 && burst > 0) {
            pool_hold_signals(ep->pool, false);
            burst = 0;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                // A quiet moment: look after the block-wise transfers.
                block_sweep(ep, TimeMono_Ms());
                continue;
            }
            char text[100];
            zmo_log(ZMO_LOG_WARNING, "%s (recvfrom): %s", kReceiver, errno_text(errno, text, sizeof text));
            usleep(10000);  // no log flood from a socket that keeps failing
            continue;
        }
        if (static_cast<size_t>(n) > sizeof buf) {
            char addr[ZMO_IP_ADDRSTRLEN];
            zmo_log_debug(1, "%s: datagram of %zd bytes from %s dropped, longer than %zu", kReceiver, n,
                          peer_text(from, addr, sizeof addr), sizeof buf);
            continue;
        }
        if (burst++ == 0)
            pool_hold_signals(ep->pool, true);
        endpoint_receive(ep, buf, static_cast<size_t>(n), from);
        if (burst >= kBurst) {
            pool_hold_signals(ep->pool, false);
            burst = 0;
        }
        // A busy socket has no quiet moments: sweep once a second anyway.
        uint64_t now = TimeMono_Ms();
        if (now - ep->last_block_sweep >= 1000)
            block_sweep(ep, now);
    }
    pool_hold_signals(ep->pool, false);
    return nullptr;
}

void *sender_main(void *arg)
{
    auto *ep = static_cast<struct Mirel *>(arg);
    while (!ep->rt.stop.load()) {
        uint8_t extra = 0;
        struct CoAPMessage *msg = CoAPMessagePool_Next(ep->pool, &extra);
        if (!msg)
            continue;
        endpoint_send(ep, msg, extra);
        CoAPMessage_Decref(msg);
    }
    return nullptr;
}

}  // namespace mirel
