// UDP: queries on the listeners, answers on the upstream sockets, replies
// sent from the address the client asked.
#include "udp_io.h"
#include "query_road.h"
#include "server.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace dnsr {

namespace {

// A burst of datagrams is read in one go; the rest waits for the next round
// so that other sockets and the timers get their turn.
constexpr int kReadsPerRound = 64;

union ControlBuffer {
    cmsghdr align;
    char bytes[CMSG_SPACE(sizeof(in6_pktinfo)) + CMSG_SPACE(sizeof(in_pktinfo))];
};

// The one control message of a send.
template <class T> void set_control(msghdr &mh, ControlBuffer &control, int level, int type, const T &value)
{
    mh.msg_control = control.bytes;
    mh.msg_controllen = CMSG_SPACE(sizeof value);
    cmsghdr *c = CMSG_FIRSTHDR(&mh);
    c->cmsg_level = level;
    c->cmsg_type = type;
    c->cmsg_len = CMSG_LEN(sizeof value);
    memcpy(CMSG_DATA(c), &value, sizeof value);
}

// One datagram; its destination address from the packet-info message. 0 on
// EAGAIN, -1 on errors (logged).
ssize_t receive(Server &s, int fd, zmo_ip_sockaddr_t &from, zmo_ip_sockaddr_t *local, int *ifindex, bool &cut)
{
    iovec iov{s.road.rx.data(), kMaxUdpMessage};
    ControlBuffer control;
    msghdr mh{};
    from = zmo_ip_sockaddr_t{};
    mh.msg_name = &from.u.storage;
    mh.msg_namelen = sizeof from.u.storage;
    mh.msg_iov = &iov;
    mh.msg_iovlen = 1;
    mh.msg_control = local ? control.bytes : nullptr;
    mh.msg_controllen = local ? sizeof control.bytes : 0;
    ssize_t n = recvmsg(fd, &mh, 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (!(errno == EINTR && zmo_sys_is_interrupted()))
            zmo_log(ZMO_LOG_ERROR, "failed to receive UDP: %s", zmo_sys_strerror(errno));
        return errno == EINTR ? 0 : -1;
    }
    cut = (mh.msg_flags & MSG_TRUNC) != 0;
    if (local) {
        *local = zmo_ip_sockaddr_t{};
        *ifindex = 0;
        for (cmsghdr *c = CMSG_FIRSTHDR(&mh); c; c = CMSG_NXTHDR(&mh, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo pi;
                memcpy(&pi, CMSG_DATA(c), sizeof pi);
                local->u.in.sin_family = AF_INET;
                local->u.in.sin_addr = pi.ipi_addr;
            } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
                in6_pktinfo pi;
                memcpy(&pi, CMSG_DATA(c), sizeof pi);
                local->u.in6.sin6_family = AF_INET6;
                local->u.in6.sin6_addr = pi.ipi6_addr;
                *ifindex = int(pi.ipi6_ifindex);
            }
        }
    }
    // A zero-length datagram is still a datagram (and no query).
    return n == 0 ? -2 : n;
}

}  // namespace

void road_prepare_listener(int fd, int family)
{
    int one = 1;
    int rc = family == AF_INET6 ? setsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &one, sizeof one)
                                : setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    if (rc != 0)
        zmo_log(ZMO_LOG_ERROR, "failed to enable ip_pktinfo on a socket: %s", zmo_sys_strerror(errno));
}

void udp_read_listener(Server &s, int slot)
{
    for (int i = 0; i < kReadsPerRound; i++) {
        int fd = s.slots.at(slot).fd;
        if (fd < 0)
            return;
        zmo_ip_sockaddr_t from, local;
        int ifindex = 0;
        bool cut = false;
        ssize_t n = receive(s, fd, from, &local, &ifindex, cut);
        if (n == 0 || n == -1)
            return;
        if (n < 0 || cut)
            continue;  // a query longer than any we take is dropped
        road_query(s, s.road.rx.data(), size_t(n), kKindUdp, slot, from,
                   local.u.sa.sa_family ? &local : nullptr, ifindex, nullptr);
    }
}

bool upstream_open(Server &s, int family)
{
    int slot = family == AF_INET6 ? kSlotUpstream6 : kSlotUpstream4;
    UpstreamPool &pool = s.pool_of(family);
    if (!pool.open(family, UpstreamPool::kSize, family == AF_INET ? s.options.pinned_upstream_port : 0))
        return false;
    s.slots.set_fd(slot, pool.poll_fd());
    s.slots.set_handlers(slot, udp_read_upstream, nullptr);
    return true;
}

void udp_read_upstream(Server &s, int slot)
{
    UpstreamPool &pool = s.pool_of(slot == kSlotUpstream6 ? AF_INET6 : AF_INET);
    int fds[UpstreamPool::kSize];
    uint32_t ids[UpstreamPool::kSize];
    size_t ready = pool.ready(fds, ids, UpstreamPool::kSize);
    // One datagram from each ready socket: under load most have just one,
    // and a socket with more is ready again in the next round, so no read
    // is spent on finding a socket empty.
    for (size_t k = 0; k < ready; k++) {
        zmo_ip_sockaddr_t from;
        bool cut = false;
        ssize_t n = receive(s, fds[k], from, nullptr, nullptr, cut);
        if (n > 0)
            road_answer(s, s.road.rx.data(), size_t(n), from, 0, cut, ids[k]);
    }
    // Only now, with no descriptor of the list above in use, may retired
    // sockets close.
    pool.sweep();
}

bool udp_reply(Server &s, const Request &r, const uint8_t *msg, size_t len)
{
    int fd = s.slots.at(r.slot).fd;
    if (fd < 0)
        return false;
    iovec iov{const_cast<uint8_t *>(msg), len};
    msghdr mh{};
    zmo_ip_sockaddr_t to = r.client;
    mh.msg_name = &to.u.storage;
    mh.msg_namelen = zmo_ip_sockaddr_len(&to);
    mh.msg_iov = &iov;
    mh.msg_iovlen = 1;
    ControlBuffer control;
    memset(&control, 0, sizeof control);
    // Answer from the address the client asked, whatever the routes say.
    if (r.local.u.sa.sa_family == AF_INET && to.u.sa.sa_family == AF_INET) {
        in_pktinfo pi{};
        pi.ipi_spec_dst = r.local.u.in.sin_addr;
        set_control(mh, control, IPPROTO_IP, IP_PKTINFO, pi);
    } else if (r.local.u.sa.sa_family == AF_INET6 && to.u.sa.sa_family == AF_INET6) {
        in6_pktinfo pi{};
        pi.ipi6_addr = r.local.u.in6.sin6_addr;
        pi.ipi6_ifindex = unsigned(r.local_ifindex);
        set_control(mh, control, IPPROTO_IPV6, IPV6_PKTINFO, pi);
    }
    if (sendmsg(fd, &mh, 0) < 0) {
        if (errno != EINTR)
            zmo_log(ZMO_LOG_ERROR, "can't send answer [%d]: %s", r.slot, zmo_sys_strerror(errno));
        return false;
    }
    return true;
}

}  // namespace dnsr
