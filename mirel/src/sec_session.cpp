// Security sessions: key schedule, the session table and sealing and
// opening of one message.
#include "sec_session.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "coap_uri.h"
#include "message_internal.h"
#include "mirel_util.h"

namespace mirel {

namespace {

constexpr size_t kIdWords = 65536 / 64;
// Near the end of the id space a free id takes long to find, and at its end
// there is none: the record starts over. Ids then repeat under the same
// keys, as they do in every new session of two static key pairs.
constexpr uint32_t kIdCycle = 65536 - 1024;

using Bytes = std::unique_ptr<uint8_t, MemFree>;

// Sealed and opened URIs up to this size stay on the stack.
constexpr size_t kSmallSealed = 256;

}  // namespace

Session::~Session()
{
    release_queue();
    Aead_Free(aead);
}

void Session::release_queue()
{
    for (struct CoAPMessage *m : queue)
        CoAPMessage_Decref(m);
    queue.clear();
}

std::deque<struct CoAPMessage *> Session::take_queue()
{
    std::deque<struct CoAPMessage *> out;
    out.swap(queue);
    return out;
}

bool Session::id_sealed(uint16_t id) const
{
    return !sealed_ids.empty() && (sealed_ids[id / 64] >> (id % 64) & 1);
}

void Session::mark_sealed(uint16_t id)
{
    if (sealed_ids.empty() || sealed_count >= kIdCycle) {
        sealed_ids.assign(kIdWords, 0);
        sealed_count = 0;
    }
    uint64_t bit = uint64_t{1} << (id % 64);
    if (!(sealed_ids[id / 64] & bit))
        sealed_count++;
    sealed_ids[id / 64] |= bit;
}

int Session::derive(const uint8_t own_private[MIREL_X25519_SIZE],
                    const uint8_t peer_public[MIREL_X25519_SIZE], bool initiator)
{
    uint8_t shared[MIREL_X25519_SIZE];
    uint8_t okm[HKDF_OUT_SIZE];
    if (curve25519_donna(shared, own_private, peer_public) != 0)
        return -1;
    int rc = Hkdf(shared, sizeof shared, okm);
    std::memset(shared, 0, sizeof shared);
    if (rc != 0)
        return -1;
    const uint8_t *k1 = okm, *k2 = okm + 16, *iv1 = okm + 32, *iv2 = okm + 36;
    struct Aead *a = initiator ? Aead(k1, 16, k2, 16, iv1, 4, iv2, 4) : Aead(k2, 16, k1, 16, iv2, 4, iv1, 4);
    std::memset(okm, 0, sizeof okm);
    if (!a)
        return -1;
    Aead_Free(aead);
    aead = a;
    // New keys: no nonce of theirs is used yet.
    sealed_ids.clear();
    sealed_count = 0;
    return 0;
}

Session *SessionTable::find(const char *key)
{
    auto it = sessions.find(std::string_view(key));
    return it == sessions.end() ? nullptr : &it->second;
}

Session *SessionTable::find_or_make(const char *key, uint64_t now_ms)
{
    if (Session *s = find(key)) {
        s->last_used = now_ms;
        return s;
    }
    try {
        if (sessions.size() >= kMaxSessions) {
            auto oldest = sessions.begin();
            for (auto it = sessions.begin(); it != sessions.end(); ++it)
                if (it->second.last_used < oldest->second.last_used)
                    oldest = it;
            sessions.erase(oldest);
        }
        auto ins =
            sessions.emplace(std::piecewise_construct, std::forward_as_tuple(key), std::forward_as_tuple());
        ins.first->second.last_used = now_ms;
        return &ins.first->second;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

void SessionTable::erase(const char *key)
{
    auto it = sessions.find(std::string_view(key));
    if (it != sessions.end())
        sessions.erase(it);
}

int seal_message(Session &s, struct CoAPMessage *msg, struct Err *err)
{
    if (!s.aead) {
        Err_Set(err, EINVAL, "aead:");
        return -1;
    }
    if (msg->type == COAP_TYPE_CON || msg->type == COAP_TYPE_NON) {
        // Answers keep the peer's id; our own messages can move.
        while (s.id_sealed(msg->id))
            msg->id = CoAPMessage_GenId();
    }
    try {
        s.mark_sealed(msg->id);
    } catch (const std::bad_alloc &) {
        Err_Set(err, ENOMEM, "Mem_malloc:");
        return -1;
    }

    // Both sealed texts are made before the message changes: a failure
    // leaves it as it was.
    MemStr uri(CoAPMessage_GetUri(msg));
    if (!uri) {
        Err_Set(err, errno, "CoAPMessage_GetUri:");
        return -1;
    }
    size_t uri_len = std::strlen(uri.get());
    size_t out_len = uri_len + AEAD_TAG_SIZE;
    uint8_t small[kSmallSealed];
    Bytes big(out_len > sizeof small ? static_cast<uint8_t *>(Mem_malloc(out_len)) : nullptr);
    uint8_t *out = out_len > sizeof small ? big.get() : small;
    if (!out) {
        Err_Set(err, errno, "Mem_malloc:");
        return -1;
    }
    if (Aead_Seal(s.aead, reinterpret_cast<const uint8_t *>(uri.get()), uri_len, msg->id, nullptr, 0, out,
                  &out_len) != 0) {
        Err_Set(err, 0, "Aead_Seal");
        return -1;
    }
    if (msg->payload_len > 0) {
        // Sealed into the block that becomes the payload: no second copy.
        size_t sealed_len = msg->payload_len + AEAD_TAG_SIZE;
        Bytes sealed(static_cast<uint8_t *>(Mem_malloc(sealed_len)));
        if (!sealed) {
            Err_Set(err, errno, "Mem_malloc:");
            return -1;
        }
        if (Aead_Seal(s.aead, msg->payload, msg->payload_len, msg->id, nullptr, 0, sealed.get(),
                      &sealed_len) != 0) {
            Err_Set(err, 0, "Aead_Seal");
            return -1;
        }
        Mem_free(msg->payload);
        msg->payload = sealed.release();
        msg->payload_len = static_cast<uint32_t>(sealed_len);
    }
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_URI_PATH);
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_URI_QUERY);
    if (CoAPMessage_AddOptionOpaque(msg, COAP_OPTION_COAPS_URI, out, out_len) != 0) {
        Err_Set(err, errno, "CoAPMessage_AddOptionOpaque:");
        return -1;
    }
    return 0;
}

int open_message(Session &s, struct CoAPMessage *msg, struct Err *err)
{
    if (!s.aead)
        return -1;
    uint32_t sealed_len = 0;
    const uint8_t *sealed = CoAPMessage_GetOptionOpaque(msg, COAP_OPTION_COAPS_URI, &sealed_len);
    if (!sealed || sealed_len <= AEAD_TAG_SIZE) {
        Err_Set(err, EBADMSG, "DecryptUri:");
        return -1;
    }
    size_t uri_len = sealed_len - AEAD_TAG_SIZE;
    char small[kSmallSealed];
    std::unique_ptr<char, MemFree> big(
        uri_len + 1 > sizeof small ? static_cast<char *>(Mem_malloc(uri_len + 1)) : nullptr);
    char *uri = uri_len + 1 > sizeof small ? big.get() : small;
    if (!uri)
        return -1;
    if (Aead_Open(s.aead, sealed, sealed_len, msg->id, nullptr, 0, reinterpret_cast<uint8_t *>(uri),
                  &uri_len) != 0) {
        Err_Set(err, 0, "DecryptUri:");
        return -1;
    }
    uri[uri_len] = '\0';

    Bytes plain;
    size_t plain_len = 0;
    if (msg->payload_len > 0) {
        if (msg->payload_len <= AEAD_TAG_SIZE) {
            Err_Set(err, EBADMSG, "DecryptPayload:");
            return -1;
        }
        plain_len = msg->payload_len - AEAD_TAG_SIZE;
        plain.reset(static_cast<uint8_t *>(Mem_malloc(plain_len)));
        if (!plain || Aead_Open(s.aead, msg->payload, msg->payload_len, msg->id, nullptr, 0, plain.get(),
                                &plain_len) != 0) {
            Err_Set(err, 0, "DecryptPayload:");
            return -1;
        }
    }
    // Path and query only: the host in it is ours, as the peer saw it.
    if (CoAPMessage_SetUri(msg, uri, COAP_URI_SECURE | COAP_URI_PATH | COAP_URI_QUERY) != 0) {
        Err_Set(err, errno, "CoAPMessage_SetUri:");
        return -1;
    }
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_COAPS_URI);
    if (plain) {
        // The opened block becomes the payload: no second copy.
        Mem_free(msg->payload);
        msg->payload = plain.release();
        msg->payload_len = static_cast<uint32_t>(plain_len);
    }
    return 0;
}

}  // namespace mirel
