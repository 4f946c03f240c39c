// IPv4 sockets of the system layer. Ports and addresses pass through in
// network byte order; nothing here swaps them.
#include "sysockets.h"

#include "syfiles.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Inbound direct transfers go through this one buffer (the server loop is single-threaded).
unsigned char gTransferBuffer[SY_DT_BUFFER_SIZE];

sockaddr_in makeAddress(const uint32_t *ip, uint16_t port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ip != nullptr ? *ip : 0;
    a.sin_port = port;
    return a;
}

void report(const sockaddr_in &a, uint32_t *ip, uint16_t *port)
{
    if (ip != nullptr)
        *ip = a.sin_addr.s_addr;
    if (port != nullptr)
        *port = a.sin_port;
}

int setInt(int sock, int level, int option, int value)
{
    return setsockopt(sock, level, option, &value, sizeof value);
}

// Waits up to `ms` for the descriptor; the poll result.
int waitFor(int sock, short events, int ms)
{
    struct pollfd p {
        sock, events, 0
    };
    return poll(&p, 1, ms);
}

// Joins or leaves group on every interface; results are not needed.
void membership(int sock, const uint32_t *group, int option)
{
    struct if_nameindex *list = if_nameindex();
    if (list == nullptr)
        return;
    for (struct if_nameindex *i = list; i->if_index != 0 || i->if_name != nullptr; ++i) {
        struct ip_mreqn req;
        std::memset(&req, 0, sizeof req);
        req.imr_multiaddr.s_addr = *group;
        req.imr_address.s_addr = htonl(INADDR_ANY);
        req.imr_ifindex = static_cast<int>(i->if_index);
        setsockopt(sock, IPPROTO_IP, option, &req, sizeof req);
    }
    if_freenameindex(list);
}

}  // namespace

extern "C" {

int syCreateSocket(int isStream, int)
{
    return socket(AF_INET, (isStream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
}

int syBindSocket(int sock, const uint32_t *ip, uint16_t port)
{
    if (setInt(sock, SOL_SOCKET, SO_REUSEADDR, 1) != 0)
        return -1;
    sockaddr_in a = makeAddress(ip, port);
    if (bind(sock, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return -1;
    // On a datagram socket the TCP option fails harmlessly.
    setInt(sock, SOL_SOCKET, SO_BROADCAST, 1);
    setInt(sock, IPPROTO_TCP, TCP_NODELAY, 1);
    setInt(sock, SOL_SOCKET, SO_KEEPALIVE, 1);
    return 0;
}

int syListenSocket(int sock, int backlog) { return listen(sock, backlog) == 0 ? 0 : -1; }

int syAcceptSocket(int listenSock, uint32_t *ip, uint16_t *port)
{
    sockaddr_in a;
    socklen_t len = sizeof a;
    int s;
    do {
        s = accept4(listenSock, reinterpret_cast<sockaddr *>(&a), &len, SOCK_CLOEXEC);
    } while (s < 0 && errno == EINTR);
    if (s >= 0)
        report(a, ip, port);
    return s;
}

int syConnectSocket(int sock, const uint32_t *ip, uint16_t port)
{
    sockaddr_in a = makeAddress(ip, port);
    if (connect(sock, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return -1;
    setInt(sock, SOL_SOCKET, SO_KEEPALIVE, 0);
    setInt(sock, IPPROTO_TCP, TCP_NODELAY, 1);
    return 0;
}

int sySetClientSocketOptions(int sock)
{
    setInt(sock, SOL_SOCKET, SO_SNDBUF, 262800);
    setInt(sock, SOL_SOCKET, SO_RCVBUF, 394200);
    struct timeval t {
        10, 0
    };
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
    return setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t) == 0 ? 0 : -1;
}

int syAllowBroadcastsSocket(int sock)
{
    setInt(sock, SOL_SOCKET, SO_BROADCAST, 1);
    return 0;
}

void syGetSocketPortAndIP(int sock, uint32_t *ip, uint16_t *port)
{
    sockaddr_in a;
    socklen_t len = sizeof a;
    if (getsockname(sock, reinterpret_cast<sockaddr *>(&a), &len) != 0 || a.sin_family != AF_INET)
        a = makeAddress(nullptr, 0);
    report(a, ip, port);
}

int sySendSocket(int sock, const void *buf, uint32_t len) { return syWriteFile(sock, buf, len); }

int syRecvSocket(int sock, void *buf, uint32_t len) { return syReadFile(sock, buf, len); }

int syRecvSocketWithTimeout(int sock, void *buf, uint32_t len, uint32_t seconds)
{
    // poll rather than select: a descriptor above 1023 must not overflow a set.
    uint64_t ms = static_cast<uint64_t>(seconds) * 1000u;
    int ready = waitFor(sock, POLLIN, ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms));
    if (ready < 1)
        return ready;
    ssize_t n;
    do {
        n = recv(sock, buf, len, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int sySendToSocket(int sock, const void *buf, uint32_t len, const uint32_t *ip, uint16_t port)
{
    sockaddr_in a = makeAddress(ip, port);
    for (;;) {
        ssize_t n = sendto(sock, buf, len, 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EAGAIN)
            waitFor(sock, POLLOUT, 100);
        else if (errno != EINTR)
            return -1;
    }
}

int syRecvFromSocket(int sock, void *buf, uint32_t len, uint32_t *ip, uint16_t *port)
{
    for (;;) {
        sockaddr_in a;
        socklen_t alen = sizeof a;
        ssize_t n = recvfrom(sock, buf, len, 0, reinterpret_cast<sockaddr *>(&a), &alen);
        if (n >= 0) {
            report(a, ip, port);
            return static_cast<int>(n);
        }
        if (errno == EAGAIN)
            waitFor(sock, POLLIN, 100);
        else if (errno != EINTR)
            return -1;
    }
}

int sySelectSocket(int maxSock, fd_set *readSet, uint32_t seconds)
{
    struct timeval t {
        static_cast<time_t>(seconds), 0
    };
    int n = select(maxSock + 1, readSet, nullptr, nullptr, &t);
    if (n < 0)
        return (errno == EINTR || errno == EAGAIN) ? 0 : -1;
    return n;
}

int syCloseSocket(int sock) { return close(sock) == 0 ? 0 : -1; }

int syShutdownSocket(int sock) { return shutdown(sock, SHUT_RDWR) == 0 ? 0 : -1; }

int syIsSocketAlive(int sock)
{
    struct pollfd p {
        sock, static_cast<short>(POLLIN | POLLRDHUP), 0
    };
    if (poll(&p, 1, 0) <= 0)
        return 1;
    return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) ? 0 : 1;
}

void sySubscribeToMulticast(int sock, const uint32_t *group) { membership(sock, group, IP_ADD_MEMBERSHIP); }

int sySendMulticast(int sock, const void *buf, uint32_t len, const uint32_t *group, uint16_t port)
{
    membership(sock, group, IP_ADD_MEMBERSHIP);
    int n = sySendToSocket(sock, buf, len, group, port);
    membership(sock, group, IP_DROP_MEMBERSHIP);
    return n;
}

uint32_t syGetHostByName(const char *name)
{
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    struct addrinfo *res = nullptr;
    if (name == nullptr || getaddrinfo(name, nullptr, &hints, &res) != 0 || res == nullptr)
        return 0;
    uint32_t ip = reinterpret_cast<sockaddr_in *>(res->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(res);
    return ip;
}

int syDtStartPacket(int sock)
{
    setInt(sock, IPPROTO_TCP, TCP_CORK, 1);
    return 0;
}

int syDtEndPacket(int sock) { return setInt(sock, IPPROTO_TCP, TCP_CORK, 0); }

int syDtToSocket(int sock, int fileFd, uint32_t *count)
{
    ssize_t n;
    do {
        n = sendfile64(sock, fileFd, nullptr, *count);
    } while (n < 0 && errno == EINTR);
    *count = static_cast<uint32_t>(n);
    return n < 0 ? -1 : 0;
}

int syDtFromSocket(int sock, int fileFd, uint32_t *count)
{
    uint32_t remaining = *count;
    while (remaining > 0) {
        uint32_t chunk = remaining < SY_DT_BUFFER_SIZE ? remaining : SY_DT_BUFFER_SIZE;
        uint32_t got = 0;
        while (got < chunk) {
            ssize_t n = recv(sock, gTransferBuffer + got, chunk - got, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0) {
                // The peer closed: the rest can never come.
                errno = ECONNRESET;
                return -1;
            }
            got += static_cast<uint32_t>(n);
        }
        uint32_t written = 0;
        while (written < chunk) {
            ssize_t n = write(fileFd, gTransferBuffer + written, chunk - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            written += static_cast<uint32_t>(n);
        }
        remaining -= chunk;
    }
    return 0;
}

}  // extern "C"
