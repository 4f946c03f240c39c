// What is read of a message's peer through the base library: comparison and
// the key texts of the security and block-wise layers.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netinet/in.h>

#include "message_internal.h"
#include "zmo.h"

namespace {

const zmo_ip_sockaddr_t *peer_of(const struct CoAPMessage *msg)
{
    return reinterpret_cast<const zmo_ip_sockaddr_t *>(&msg->addr);
}

}  // namespace

namespace mirel {

namespace {

// Appends the decimal digits of v at p; the end.
char *put_decimal(char *p, unsigned v)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v > 0);
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

}  // namespace

char *address_text(const struct sockaddr_storage &peer, char *out)
{
    char *p = out;
    if (peer.ss_family == AF_INET) {
        const auto *a = reinterpret_cast<const struct sockaddr_in *>(&peer);
        const auto *b = reinterpret_cast<const uint8_t *>(&a->sin_addr);
        for (int i = 0; i < 4; i++) {
            if (i > 0)
                *p++ = '.';
            p = put_decimal(p, b[i]);
        }
        *p = '\0';
        return p;
    }
    if (!zmo_ip_sockaddr_ntop(reinterpret_cast<const zmo_ip_sockaddr_t *>(&peer), out, ZMO_IP_ADDRSTRLEN)) {
        *out = '\0';
        return nullptr;
    }
    return out + std::strlen(out);
}

namespace {

// "%s:%u" of address and port into out (at least kPeerKeySize bytes); the
// end. Every message through the layers is keyed this way, several times:
// formatted by hand, not by the printf family.
char *put_peer(const struct CoAPMessage *msg, char *out)
{
    char *p = address_text(msg->addr, out);
    if (!p)
        p = out;
    *p++ = ':';
    return put_decimal(p, zmo_ip_sockaddr_port(peer_of(msg)));
}

}  // namespace

// "%s:%u" of address and port; the buffer fits the longest IPv6 text, so
// distinct peers never share a key.
int peer_key_format(const struct CoAPMessage *msg, char *out, size_t size)
{
    if (!msg || !out || size == 0) {
        errno = EINVAL;
        return -1;
    }
    char key[kPeerKeySize + 8];
    size_t n = static_cast<size_t>(put_peer(msg, key) - key);
    if (n >= size) {
        errno = ENOSPC;
        return -1;
    }
    std::memcpy(out, key, n);
    out[n] = '\0';
    return 0;
}

// "%s:%u_%s" of address, port and the token as lower-case hex.
int window_key_format(const struct CoAPMessage *msg, char *out, size_t size)
{
    if (!msg || !out || size == 0) {
        errno = EINVAL;
        return -1;
    }
    static const char kHex[] = "0123456789abcdef";
    char key[kWindowKeySize + 8];
    char *p = put_peer(msg, key);
    *p++ = '_';
    for (uint8_t i = 0; i < msg->token_len && i < COAP_TOKEN_MAX; i++) {
        *p++ = kHex[msg->token[i] >> 4];
        *p++ = kHex[msg->token[i] & 15];
    }
    size_t n = static_cast<size_t>(p - key);
    if (n >= size) {
        errno = ENOSPC;
        return -1;
    }
    std::memcpy(out, key, n);
    out[n] = '\0';
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
