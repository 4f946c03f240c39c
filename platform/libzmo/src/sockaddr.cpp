// IPv4/IPv6 socket-address helpers over one 128-byte store.
#include "zmo.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

namespace {
zmo_ip_sockaddr_t make_any(sa_family_t family)
{
    zmo_ip_sockaddr_t sa;
    std::memset(&sa, 0, sizeof sa);
    sa.u.sa.sa_family = family;
    return sa;
}
}  // namespace

static_assert(sizeof(zmo_ip_sockaddr_t) == 128, "the address store is 128 bytes");

extern "C" {

const zmo_ip_sockaddr_t zmo_ip_sockaddr_any = make_any(AF_INET);
const zmo_ip_sockaddr_t zmo_ip_sockaddr_any6 = make_any(AF_INET6);

int zmo_ip_sockaddr_pton(const char *text, zmo_ip_sockaddr_t *sa)
{
    if (!text || !sa) {
        errno = EINVAL;
        return 0;
    }
    int ok = 0;
    switch (sa->u.sa.sa_family) {
    case AF_INET:
        ok = inet_pton(AF_INET, text, &sa->u.in.sin_addr);
        break;
    case AF_INET6:
        ok = inet_pton(AF_INET6, text, &sa->u.in6.sin6_addr);
        break;
    default:
        errno = EAFNOSUPPORT;
        return 0;
    }
    if (ok != 1) {
        errno = EINVAL;
        return 0;
    }
    return 1;
}

const char *zmo_ip_sockaddr_ntop(const zmo_ip_sockaddr_t *sa, char *buf, size_t size)
{
    if (!sa || !buf) {
        errno = EINVAL;
        return nullptr;
    }
    switch (sa->u.sa.sa_family) {
    case AF_INET:
        return inet_ntop(AF_INET, &sa->u.in.sin_addr, buf, static_cast<socklen_t>(size));
    case AF_INET6:
        return inet_ntop(AF_INET6, &sa->u.in6.sin6_addr, buf, static_cast<socklen_t>(size));
    default:
        errno = EAFNOSUPPORT;
        return nullptr;
    }
}

uint16_t zmo_ip_sockaddr_port(const zmo_ip_sockaddr_t *sa)
{
    switch (sa->u.sa.sa_family) {
    case AF_INET:
        return ntohs(sa->u.in.sin_port);
    case AF_INET6:
        return ntohs(sa->u.in6.sin6_port);
    default:
        return 0;
    }
}

void zmo_ip_sockaddr_set_port(zmo_ip_sockaddr_t *sa, uint16_t port)
{
    switch (sa->u.sa.sa_family) {
    case AF_INET:
        sa->u.in.sin_port = htons(port);
        break;
    case AF_INET6:
        sa->u.in6.sin6_port = htons(port);
        break;
    default:
        break;
    }
}

socklen_t zmo_ip_sockaddr_len(const zmo_ip_sockaddr_t *sa)
{
    switch (sa->u.sa.sa_family) {
    case AF_INET:
        return sizeof(struct sockaddr_in);
    case AF_INET6:
        return sizeof(struct sockaddr_in6);
    default:
        return sizeof(struct sockaddr_storage);
    }
}

int zmo_ip_sockaddr_address_is_equal(const zmo_ip_sockaddr_t *a, const zmo_ip_sockaddr_t *b)
{
    if (!a || !b || a->u.sa.sa_family != b->u.sa.sa_family)
        return 0;
    switch (a->u.sa.sa_family) {
    case AF_INET:
        return a->u.in.sin_addr.s_addr == b->u.in.sin_addr.s_addr;
    case AF_INET6:
        return std::memcmp(&a->u.in6.sin6_addr, &b->u.in6.sin6_addr, sizeof(struct in6_addr)) == 0 &&
               a->u.in6.sin6_scope_id == b->u.in6.sin6_scope_id;
    default:
        return 0;
    }
}

int zmo_ip_sockaddr_is_equal(const zmo_ip_sockaddr_t *a, const zmo_ip_sockaddr_t *b)
{
    return zmo_ip_sockaddr_address_is_equal(a, b) && zmo_ip_sockaddr_port(a) == zmo_ip_sockaddr_port(b);
}

}  // extern "C"
