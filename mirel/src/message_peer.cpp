// What is read of a message's peer through the base library: comparison and
// the key texts of the security and block-wise layers.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "message_internal.h"
#include "zmo.h"

namespace {

const zmo_ip_sockaddr_t *peer_of(const struct CoAPMessage *msg)
{
    return reinterpret_cast<const zmo_ip_sockaddr_t *>(&msg->addr);
}

}  // namespace

namespace mirel {

// "%s:%u" of address and port; the buffer fits the longest IPv6 text, so
// distinct peers never share a key.
int peer_key_format(const struct CoAPMessage *msg, char *out, size_t size)
{
    if (!msg || !out || size == 0) {
        errno = EINVAL;
        return -1;
    }
    char addr[ZMO_IP_ADDRSTRLEN];
    if (!zmo_ip_sockaddr_ntop(peer_of(msg), addr, sizeof addr))
        addr[0] = '\0';
    int n = std::snprintf(out, size, "%s:%u", addr, zmo_ip_sockaddr_port(peer_of(msg)));
    if (n < 0 || static_cast<size_t>(n) >= size) {
        errno = ENOSPC;
        return -1;
    }
    return 0;
}

// "%s:%u_%s" of address, port and the token as lower-case hex.
int window_key_format(const struct CoAPMessage *msg, char *out, size_t size)
{
    char peer[kPeerKeySize];
    if (peer_key_format(msg, peer, sizeof peer) != 0)
        return -1;
    char token[2 * COAP_TOKEN_MAX + 1] = "";
    if (msg->token_len > 0)
        Str_FromArr(msg->token, msg->token_len, token, sizeof token);
    int n = std::snprintf(out, size, "%s_%s", peer, token);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        errno = ENOSPC;
        return -1;
    }
    return 0;
}

}  // namespace mirel

extern "C" int CoAPMessage_Equals(struct CoAPMessage *a, struct CoAPMessage *b)
{
    if (!a || !b) {
        errno = EINVAL;
        return -1;
    }
    if (!zmo_ip_sockaddr_is_equal(peer_of(a), peer_of(b)))
        return 0;
    uint32_t la = 0, lb = 0;
    std::unique_ptr<uint8_t, mirel::MemFree> ea(CoAPMessage_ToBytes(a, &la));
    if (!ea)
        return -1;
    std::unique_ptr<uint8_t, mirel::MemFree> eb(CoAPMessage_ToBytes(b, &lb));
    if (!eb)
        return -1;
    return la == lb && std::memcmp(ea.get(), eb.get(), la) == 0;
}
