// The pools of upstream UDP sockets.
#include "upstream_pool.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace dnsr {

namespace {

// A socket carries this many queries, picked at random, before it retires.
constexpr uint32_t kBudgetMin = 16, kBudgetSpan = 112;

uint64_t event_data(const UpstreamSocket &s) { return uint64_t(s.id) << 32 | uint32_t(s.fd); }

}  // namespace

uint32_t UpstreamPool::fresh_budget()
{
    return pinned_port_ ? UINT32_MAX : kBudgetMin + random_.below(kBudgetSpan);
}

bool UpstreamPool::open_one(UpstreamSocket &sock)
{
    int fd = socket(family_, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    zmo_ip_sockaddr_t sa = family_ == AF_INET ? *ZMO_IP_SOCKADDR_ANY : *ZMO_IP_SOCKADDR_ANY6;
    // Port 0: the kernel picks an ephemeral port at random, and keeps clear
    // of the ports it reserves for the router's other services.
    zmo_ip_sockaddr_set_port(&sa, pinned_port_);
    int one = 1;
    bool ok = (family_ != AF_INET6 || setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) == 0) &&
              bind(fd, &sa.u.sa, zmo_ip_sockaddr_len(&sa)) == 0;
    socklen_t len = sizeof sa.u.storage;
    ok = ok && getsockname(fd, &sa.u.sa, &len) == 0;
    UpstreamSocket made;
    made.fd = fd;
    made.id = next_id_++;
    if (next_id_ == 0)
        next_id_ = 1;
    made.port = zmo_ip_sockaddr_port(&sa);
    made.budget = fresh_budget();
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = event_data(made);
    ok = ok && epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) == 0;
    if (!ok) {
        int err = errno;
        ::close(fd);
        errno = err;
        return false;
    }
    sock = made;
    return true;
}

bool UpstreamPool::open(int family, size_t size, uint16_t pinned_port)
{
    close();
    family_ = family;
    pinned_port_ = pinned_port;
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0)
        return false;
    if (pinned_port_)
        size = 1;
    live_.reserve(size);
    for (size_t i = 0; i < size; i++) {
        UpstreamSocket sock;
        if (!open_one(sock))
            break;
        live_.push_back(sock);
    }
    if (live_.empty()) {
        int err = errno;
        close();
        errno = err;
        return false;
    }
    return true;
}

void UpstreamPool::close()
{
    for (auto *list : {&live_, &retired_}) {
        for (UpstreamSocket &s : *list)
            ::close(s.fd);
        list->clear();
    }
    if (epoll_fd_ >= 0)
        ::close(epoll_fd_);
    epoll_fd_ = -1;
}

UpstreamSocket *UpstreamPool::pick()
{
    if (live_.empty())
        return nullptr;
    return &live_[random_.below(uint32_t(live_.size()))];
}

void UpstreamPool::retire(size_t index, int64_t grace_ms)
{
    if (pinned_port_ || retired_.size() >= kMaxRetired)
        return;  // a later query retires it, once room is made
    UpstreamSocket next;
    if (!open_one(next)) {
        live_[index].budget = fresh_budget();
        return;
    }
    UpstreamSocket old = live_[index];
    zmo_time_get_monotonic_plus_msec(&old.close_by, grace_ms);
    retired_.push_back(old);
    live_[index] = next;
}

void UpstreamPool::sent(size_t index, int64_t grace_ms)
{
    UpstreamSocket &sock = live_[index];
    sock.outstanding++;
    if (sock.budget > 1) {
        sock.budget--;
        return;
    }
    // Spent: it retires now, or (the retired list full) at its next query.
    sock.budget = 0;
    retire(index, grace_ms);
}

void UpstreamPool::settle(uint32_t id, size_t index)
{
    if (index < live_.size() && live_[index].id == id) {
        if (live_[index].outstanding)
            live_[index].outstanding--;
        return;
    }
    for (UpstreamSocket &s : retired_)
        if (s.id == id) {
            if (s.outstanding)
                s.outstanding--;
            return;
        }
}

void UpstreamPool::rotate(int64_t grace_ms)
{
    if (!live_.empty())
        retire(random_.below(uint32_t(live_.size())), grace_ms);
}

void UpstreamPool::sweep()
{
    for (size_t i = 0; i < retired_.size();) {
        UpstreamSocket &s = retired_[i];
        if (s.outstanding && zmo_time_left_monotonic_msec(&s.close_by) > 0) {
            i++;
            continue;
        }
        ::close(s.fd);  // leaves the epoll set with it
        s = retired_.back();
        retired_.pop_back();
    }
}

size_t UpstreamPool::ready(int *fds, uint32_t *ids, size_t max)
{
    if (epoll_fd_ < 0)
        return 0;
    epoll_event evs[kSize];
    int n = epoll_wait(epoll_fd_, evs, int(std::min(max, kSize)), 0);
    size_t out = 0;
    for (int i = 0; i < n; i++) {
        fds[out] = int(uint32_t(evs[i].data.u64));
        ids[out] = uint32_t(evs[i].data.u64 >> 32);
        out++;
    }
    return out;
}

}  // namespace dnsr
