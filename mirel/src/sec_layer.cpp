// Security layer: secure messages wait for the peer's session, go out
// sealed, and come in opened; handshakes and session errors.
#include <cerrno>
#include <cstring>
#include <new>

#include "endpoint.h"
#include "layers.h"
#include "message_internal.h"
#include "zmo.h"

namespace {

using mirel::Session;
using mirel::SessionTable;

constexpr uint32_t kHandshakeRequest = 1;
constexpr uint32_t kHandshakeAnswer = 2;
constexpr int kCodeContent = COAP_CODE(2, 5);
constexpr int kCodeUnauthorized = COAP_CODE(4, 1);
constexpr int kHandshakeSeconds = 10;

struct MsgRef {
    struct CoAPMessage *m;
    ~MsgRef() { CoAPMessage_Decref(m); }
};

bool is_secure(const struct CoAPMessage *msg)
{
    int secure = 0;
    return CoAPMessage_GetSecure(msg, &secure) == 0 && secure;
}

int handshake_type(const struct CoAPMessage *msg)
{
    uint32_t v = 0;
    return CoAPMessage_GetOptionUint(msg, COAP_OPTION_HANDSHAKE_TYPE, &v) == 0 ? static_cast<int>(v) : 0;
}

void own_keys(struct Mirel *ep, uint8_t priv[MIREL_KEY_SIZE], uint8_t pub[MIREL_KEY_SIZE])
{
    std::lock_guard<std::mutex> lock(ep->lock);
    std::memcpy(priv, ep->private_key, MIREL_KEY_SIZE);
    std::memcpy(pub, ep->public_key, MIREL_KEY_SIZE);
}

// An ACK (handshake answer, session error) to msg: its id, token and peer.
struct CoAPMessage *answer_to(const struct CoAPMessage *msg, int code, struct Err *err)
{
    struct CoAPMessage *a = CoAPMessage(COAP_TYPE_ACK, code, msg->id);
    if (!a || CoAPMessage_CopyToken(a, msg) != 0 || CoAPMessage_CopySockAddr(a, msg) != 0) {
        Err_Set(err, errno, "CoAPMessage:");
        CoAPMessage_Decref(a);
        return nullptr;
    }
    return a;
}

int send_session_error(struct Mirel *ep, const struct CoAPMessage *msg, uint32_t option, struct Err *err)
{
    MsgRef e{answer_to(msg, kCodeUnauthorized, err)};
    if (!e.m)
        return LAYER_ERROR;
    if (CoAPMessage_AddOptionUint(e.m, option, 1) != 0) {
        Err_Set(err, errno, "CoAPMessage_AddOptionUint:");
        return LAYER_ERROR;
    }
    if (Mirel_Send(ep, e.m) != 0) {
        Err_Set(err, errno, "Mirel_Send:");
        return LAYER_ERROR;
    }
    return LAYER_STOP;
}

// Seals every queued message and hands it to the pool to pass the send
// layers unchanged; a failure leaves the rest queued.
int seal_queue(struct Mirel *ep, Session &s, struct Err *err)
{
    while (!s.queue.empty()) {
        struct CoAPMessage *m = s.queue.front();
        if (mirel::seal_message(s, m, err) != 0)
            return LAYER_ERROR;
        if (CoAPMessagePool_Add(ep->pool, m, COAP_POOL_PASS_BLOCK | COAP_POOL_PASS_SEC) != 0) {
            Err_Set(err, errno, "CoAPMessagePool_Add:");
            return LAYER_ERROR;
        }
        s.queue.pop_front();
        CoAPMessage_Decref(m);
    }
    return LAYER_STOP;
}

int send_handshake_request(struct Mirel *ep, Session &s, const struct CoAPMessage *cause, struct Err *err)
{
    uint8_t priv[MIREL_KEY_SIZE], pub[MIREL_KEY_SIZE];
    own_keys(ep, priv, pub);
    std::memset(priv, 0, sizeof priv);
    MsgRef req{CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, -1)};
    if (!req.m || CoAPMessage_CopyToken(req.m, cause) != 0 || CoAPMessage_CopySockAddr(req.m, cause) != 0) {
        Err_Set(err, errno, "CoAPMessage:");
        return LAYER_ERROR;
    }
    if (CoAPMessage_AddOptionUint(req.m, COAP_OPTION_HANDSHAKE_TYPE, kHandshakeRequest) != 0 ||
        CoAPMessage_SetPayload(req.m, pub, sizeof pub) != 0) {
        Err_Set(err, errno, "CoAPMessage_AddOptionUint:");
        return LAYER_ERROR;
    }
    if (Mirel_Send(ep, req.m) != 0) {
        Err_Set(err, errno, "Mirel_Send:");
        return LAYER_ERROR;
    }
    zmo_time_get_monotonic(&s.deadline);
    zmo_time_add_sec(&s.deadline, kHandshakeSeconds);
    s.state = mirel::kSessionHandshakeSent;
    s.handshake_pending = true;
    s.handshake_id = req.m->id;
    s.handshake_token_len = req.m->token_len;
    std::memcpy(s.handshake_token, req.m->token, req.m->token_len);
    return LAYER_STOP;
}

bool answers_our_handshake(const Session &s, const struct CoAPMessage *msg)
{
    return s.state == mirel::kSessionHandshakeSent && s.handshake_pending && msg->id == s.handshake_id &&
           msg->token_len == s.handshake_token_len &&
           std::memcmp(msg->token, s.handshake_token, msg->token_len) == 0;
}

int on_handshake_answer(struct Mirel *ep, struct CoAPMessage *msg, const char *key, struct Err *err)
{
    if (msg->payload_len != MIREL_KEY_SIZE)
        return LAYER_STOP;
    SessionTable &t = *ep->sessions;
    std::lock_guard<std::mutex> lock(t.mutex);
    Session *s = t.find(key);
    // Only the answer to the handshake request we have out sets keys: any
    // other would let whoever sends from the peer's address replace them.
    if (!s || !answers_our_handshake(*s, msg))
        return LAYER_STOP;
    uint8_t priv[MIREL_KEY_SIZE], pub[MIREL_KEY_SIZE];
    own_keys(ep, priv, pub);
    int rc = s->derive(priv, msg->payload, true);
    std::memset(priv, 0, sizeof priv);
    if (rc != 0) {
        Err_Set(err, 0, "Hkdf");
        return LAYER_ERROR;
    }
    s->state = mirel::kSessionEstablished;
    s->handshake_pending = false;
    if (seal_queue(ep, *s, err) == LAYER_ERROR)
        return LAYER_ERROR;
    // On to the response layer, which retires our handshake request.
    return LAYER_CONTINUE;
}

int on_handshake_request(struct Mirel *ep, struct CoAPMessage *msg, const char *key, struct Err *err)
{
    if (msg->payload_len != MIREL_KEY_SIZE)
        return LAYER_STOP;
    uint8_t priv[MIREL_KEY_SIZE], pub[MIREL_KEY_SIZE];
    own_keys(ep, priv, pub);
    SessionTable &t = *ep->sessions;
    std::lock_guard<std::mutex> lock(t.mutex);
    std::deque<struct CoAPMessage *> waiting;
    if (Session *old = t.find(key)) {
        if (old->state == mirel::kSessionHandshakeSent) {
            // Both sides asked at once. The larger public key stays the
            // initiator and lets the crossing request go unanswered; the
            // other side answers, and takes its waiting messages along.
            if (std::memcmp(pub, msg->payload, MIREL_KEY_SIZE) > 0) {
                std::memset(priv, 0, sizeof priv);
                return LAYER_STOP;
            }
            if (old->handshake_pending) {
                struct sockaddr_storage peer = msg->addr;
                CoAPMessagePool_Remove(ep->pool, old->handshake_id, &peer);
            }
        }
        waiting = old->take_queue();
        t.erase(key);
    }
    Session *s = t.find_or_make(key, TimeMono_Ms());
    int rc = s ? s->derive(priv, msg->payload, false) : -1;
    std::memset(priv, 0, sizeof priv);
    if (rc != 0) {
        for (struct CoAPMessage *m : waiting)
            CoAPMessage_Decref(m);
        if (s)
            t.erase(key);
        Err_Set(err, s ? 0 : ENOMEM, s ? "Hkdf" : "Mem_calloc:");
        return LAYER_ERROR;
    }
    s->state = mirel::kSessionEstablished;
    s->queue.swap(waiting);

    MsgRef answer{answer_to(msg, kCodeContent, err)};
    if (!answer.m)
        return LAYER_ERROR;
    if (CoAPMessage_AddOptionUint(answer.m, COAP_OPTION_HANDSHAKE_TYPE, kHandshakeAnswer) != 0 ||
        CoAPMessage_SetPayload(answer.m, pub, sizeof pub) != 0) {
        Err_Set(err, errno, "CoAPMessage_AddOptionUint:");
        return LAYER_ERROR;
    }
    if (Mirel_Send(ep, answer.m) != 0) {
        Err_Set(err, errno, "Mirel_Send:");
        return LAYER_ERROR;
    }
    // The answer is queued first, so it leaves before what was waiting.
    if (seal_queue(ep, *s, err) == LAYER_ERROR)
        return LAYER_ERROR;
    return LAYER_STOP;
}

int on_sealed(struct Mirel *ep, struct CoAPMessage *msg, const char *key, struct Err *err)
{
    SessionTable &t = *ep->sessions;
    std::unique_lock<std::mutex> lock(t.mutex);
    Session *s = t.find(key);
    bool request_like = msg->type == COAP_TYPE_CON || msg->type == COAP_TYPE_NON;
    if (!s) {
        lock.unlock();
        if (mirel::code_is_request(msg->code))
            return send_session_error(ep, msg, COAP_OPTION_SESSION_NOT_FOUND, err);
        return LAYER_STOP;
    }
    if (s->state != mirel::kSessionEstablished)
        return LAYER_STOP;
    s->last_used = TimeMono_Ms();
    struct Err open_err;
    Err_Init(&open_err, "SecLayer_OnReceive");
    if (mirel::open_message(*s, msg, &open_err) != 0) {
        lock.unlock();
        zmo_log_debug(1, "[%d] SecLayer_OnReceive: %s", msg->id, open_err.text);
        // Whoever sent it from the peer's address, it does not spend the
        // id: the peer's own message with that id must still get through.
        ep->dups.forget(msg->addr, msg->id);
        // An answer that does not open is dropped; a request is told.
        if (request_like)
            return send_session_error(ep, msg, COAP_OPTION_SESSION_EXPIRED, err);
        return LAYER_STOP;
    }
    return LAYER_CONTINUE;
}

}  // namespace

extern "C" {

int SecLayer_Init(struct Mirel *ep, struct Err *err)
{
    ep->sessions = new (std::nothrow) SessionTable;
    if (!ep->sessions) {
        Err_Set(err, ENOMEM, "kh_init:");
        return -1;
    }
    return 0;
}

void SecLayer_Deinit(struct Mirel *ep)
{
    delete ep->sessions;
    ep->sessions = nullptr;
}

int SecLayer_OnSend(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err)
{
    Err_Init(err, "SecLayer_OnSend");
    if ((extra & COAP_POOL_PASS_SEC) || !is_secure(msg))
        return LAYER_CONTINUE;
    char key[mirel::kPeerKeySize];
    if (mirel::peer_key_format(msg, key, sizeof key) != 0) {
        Err_Set(err, errno, "Mem_strdup:");
        return LAYER_ERROR;
    }
    SessionTable &t = *ep->sessions;
    std::lock_guard<std::mutex> lock(t.mutex);
    Session *s = t.find_or_make(key, TimeMono_Ms());
    if (!s) {
        Err_Set(err, errno, "Mem_calloc:");
        return LAYER_ERROR;
    }
    // Established and nothing waiting: seal it where it stands and let it
    // go now, rather than through the queue and the pool once more. Only
    // when its id stays, for the pool knows it by that id.
    if (s->state == mirel::kSessionEstablished && s->queue.empty() && !s->id_sealed(msg->id)) {
        if (mirel::seal_message(*s, msg, err) != 0)
            return LAYER_ERROR;
        if (CoAPMessagePool_SetExtra(ep->pool, msg, COAP_POOL_PASS_BLOCK | COAP_POOL_PASS_SEC) != 0 &&
            errno != ENOENT) {
            Err_Set(err, errno, "CoAPMessagePool_Add:");
            return LAYER_ERROR;
        }
        return LAYER_CONTINUE;
    }
    try {
        s->queue.push_back(CoAPMessage_Incref(msg));
    } catch (const std::bad_alloc &) {
        CoAPMessage_Decref(msg);
        Err_Set(err, ENOMEM, "Mem_malloc:");
        return LAYER_ERROR;
    }
    // The queue owns it now.
    CoAPMessagePool_RemoveMessage(ep->pool, msg);
    switch (s->state) {
    case mirel::kSessionNone:
        return send_handshake_request(ep, *s, msg, err);
    case mirel::kSessionHandshakeSent:
        if (zmo_time_left_monotonic_msec(&s->deadline) < 0) {
            zmo_log_debug(1, "SecLayer_OnSend: no handshake answer from %s, %zu messages dropped", key,
                          s->queue.size());
            t.erase(key);
        }
        return LAYER_STOP;
    default:
        return seal_queue(ep, *s, err);
    }
}

int SecLayer_OnReceive_SessionError(struct Mirel *ep, struct CoAPMessage *msg, uint8_t, struct Err *err)
{
    Err_Init(err, "SecLayer_OnReceive_SessionError");
    // Only an error answering one of our pending requests ends a session.
    struct CoAPMessage *pending = CoAPMessagePool_Get(ep->pool, msg->id, &msg->addr, nullptr);
    bool ours = pending && pending->type == COAP_TYPE_CON && pending->token_len == msg->token_len &&
                std::memcmp(pending->token, msg->token, msg->token_len) == 0;
    CoAPMessage_Decref(pending);
    if (!ours)
        return LAYER_CONTINUE;
    char key[mirel::kPeerKeySize];
    if (mirel::peer_key_format(msg, key, sizeof key) != 0)
        return LAYER_CONTINUE;
    std::lock_guard<std::mutex> lock(ep->sessions->mutex);
    ep->sessions->erase(key);
    return LAYER_CONTINUE;
}

int SecLayer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err)
{
    Err_Init(err, "SecLayer_OnReceive");
    char key[mirel::kPeerKeySize];
    if (mirel::peer_key_format(msg, key, sizeof key) != 0) {
        Err_Set(err, errno, "Mem_strdup:");
        return LAYER_ERROR;
    }
    int hs = handshake_type(msg);
    if (msg->type == COAP_TYPE_ACK && hs == static_cast<int>(kHandshakeAnswer))
        return on_handshake_answer(ep, msg, key, err);
    if (msg->type == COAP_TYPE_CON && hs == static_cast<int>(kHandshakeRequest))
        return on_handshake_request(ep, msg, key, err);
    if (is_secure(msg))
        return on_sealed(ep, msg, key, err);
    uint32_t flag = 0;
    if (msg->type == COAP_TYPE_ACK && msg->code == kCodeUnauthorized &&
        (CoAPMessage_GetOptionUint(msg, COAP_OPTION_SESSION_NOT_FOUND, &flag) == 0 ||
         CoAPMessage_GetOptionUint(msg, COAP_OPTION_SESSION_EXPIRED, &flag) == 0))
        return SecLayer_OnReceive_SessionError(ep, msg, extra, err);
    return LAYER_CONTINUE;
}

}  // extern "C"
