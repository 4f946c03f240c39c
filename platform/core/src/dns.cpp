// The DNS manager (the proxy's reload) and the resolver.
#include "builtins.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Core {

ReturnT DnsManagerImpl::ReinitProxy(int flags)
{
    if (::Core::Fail("dns.reinit")) {
        Journal("dns reinit-proxy failed (injected)");
        return static_cast<ReturnT>(0x80ff0040u);
    }
    const String path = MapPath(PROXY_PID_FILE);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // Nothing runs yet: the proxy reads the files when it starts.
        Journal("dns reinit-proxy flags=" + std::to_string(flags) + ": no proxy running");
        return static_cast<ReturnT>(Code::DONE);
    }
    char buf[32];
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    long pid = 0;
    if (n > 0) {
        buf[n] = 0;
        char *end;
        pid = std::strtol(buf, &end, 10);
        while (*end == '\n' || *end == ' ')
            ++end;
        if (*end)
            pid = 0;
    }
    if (pid <= 1) {
        Journal("dns reinit-proxy: bad pid file");
        return static_cast<ReturnT>(0x80ff0041u);
    }
    if (kill(static_cast<pid_t>(pid), SIGURG) != 0) {
        Journal("dns reinit-proxy SIGURG pid=" + std::to_string(pid) + " failed: " + strerror(errno));
        return errno == ESRCH ? static_cast<ReturnT>(Code::DONE) : static_cast<ReturnT>(0x80ff0042u);
    }
    Journal("dns reinit-proxy SIGURG pid=" + std::to_string(pid));
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT DnsManagerImpl::ClearServiceData(const String &name)
{
    Journal("dns clear-service-data " + name);
    return static_cast<ReturnT>(Code::DONE);
}

bool IsLocalAddress(Network::IpAddress addr)
{
    if ((addr.Value() >> 24) == 127)
        return true;
    struct ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (struct ifaddrs *i = list; i && !found; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        auto *sin = reinterpret_cast<struct sockaddr_in *>(i->ifa_addr);
        found = ntohl(sin->sin_addr.s_addr) == addr.Value();
    }
    freeifaddrs(list);
    return found;
}

bool DnsBuildQuery(const String &name, uint16_t id, std::vector<uint8_t> *out)
{
    std::vector<uint8_t> &q = *out;
    q.clear();
    const uint8_t header[12] = {
        static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    q.insert(q.end(), header, header + 12);
    size_t pos = 0;
    if (name.empty() || name.size() > 253)
        return false;
    while (pos < name.size()) {
        size_t dot = name.find('.', pos);
        if (dot == String::npos)
            dot = name.size();
        size_t len = dot - pos;
        if (len == 0 || len > 63)
            return false;
        q.push_back(static_cast<uint8_t>(len));
        q.insert(q.end(), name.begin() + static_cast<std::ptrdiff_t>(pos),
                 name.begin() + static_cast<std::ptrdiff_t>(dot));
        pos = dot + 1;
    }
    const uint8_t tail[5] = {0, 0, 1, 0, 1};  // root, type A, class IN
    q.insert(q.end(), tail, tail + 5);
    return true;
}

namespace {
// Skips a (possibly compressed) name; false when it runs past the end.
bool SkipName(const uint8_t *d, size_t size, size_t *pos)
{
    size_t p = *pos;
    for (int labels = 0; labels < 128; ++labels) {
        if (p >= size)
            return false;
        uint8_t len = d[p];
        if (len == 0) {
            *pos = p + 1;
            return true;
        }
        if ((len & 0xc0) == 0xc0) {
            if (p + 2 > size)
                return false;
            *pos = p + 2;
            return true;
        }
        if (len & 0xc0)
            return false;
        p += 1 + len;
    }
    return false;
}
uint16_t U16(const uint8_t *d) { return static_cast<uint16_t>(d[0] << 8 | d[1]); }
}  // namespace

bool DnsParseAnswer(const uint8_t *d, size_t size, uint16_t id, std::vector<Network::IpAddress> *out)
{
    out->clear();
    if (size < 12 || U16(d) != id || !(d[2] & 0x80))
        return false;
    if ((d[3] & 0x0f) != 0)
        return true;  // an error answer: no addresses
    const unsigned qd = U16(d + 4), an = U16(d + 6);
    size_t pos = 12;
    for (unsigned i = 0; i < qd; ++i) {
        if (!SkipName(d, size, &pos) || pos + 4 > size)
            return false;
        pos += 4;
    }
    for (unsigned i = 0; i < an; ++i) {
        if (!SkipName(d, size, &pos) || pos + 10 > size)
            return false;
        const uint16_t type = U16(d + pos), cls = U16(d + pos + 2), rdlen = U16(d + pos + 8);
        pos += 10;
        if (pos + rdlen > size)
            return false;
        if (type == 1 && cls == 1 && rdlen == 4)
            out->push_back(Network::IpAddress(static_cast<uint32_t>(d[pos]) << 24 |
                                              static_cast<uint32_t>(d[pos + 1]) << 16 |
                                              static_cast<uint32_t>(d[pos + 2]) << 8 | d[pos + 3]));
        pos += rdlen;
    }
    return true;
}

}  // namespace Core

namespace Dns {
namespace Resolver {

ReturnT GetAddresses(const String &name, std::vector<Network::IpAddress> &out, uint32_t timeout_ms,
                     Log::VerboseT verbose, Network::IpAddress server, uint16_t port)
{
    out.clear();
    const String target = server.ToString() + ":" + std::to_string(port);
    // The stand-in never sends to the outside world.
    if (!::Core::IsLocalAddress(server)) {
        ::Core::Journal("dns resolve " + name + " @" + target + " refused: not a local address");
        return static_cast<ReturnT>(0x80ff0050u);
    }
    std::vector<uint8_t> q;
    const uint16_t id = static_cast<uint16_t>(::Core::NowMs() * 2654435761u >> 7);
    if (!::Core::DnsBuildQuery(name, id, &q))
        return static_cast<ReturnT>(0x80ff0051u);
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return static_cast<ReturnT>(0x80ff0052u);
    struct sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(server.Value());
    ReturnT r = static_cast<ReturnT>(Code::TIMEOUT);
    if (connect(s, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) == 0 &&
        send(s, q.data(), q.size(), 0) >= 0) {
        // Real time: the peer is a real resolver.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            struct pollfd p = {s, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            uint8_t buf[1500];
            ssize_t n = recv(s, buf, sizeof buf, 0);
            if (n < 0)
                break;  // refused
            if (::Core::DnsParseAnswer(buf, static_cast<size_t>(n), id, &out)) {
                r = out.empty() ? static_cast<ReturnT>(0x80ff0053u) : static_cast<ReturnT>(Code::DONE);
                break;
            }
        }
    }
    close(s);
    ::Core::Journal("dns resolve " + name + " @" + target + " -> " + std::to_string(out.size()) +
                    " address(es)" + (verbose == Log::QUIET ? " (quiet)" : ""));
    if (r == static_cast<ReturnT>(Code::TIMEOUT))
        r = static_cast<ReturnT>(0x80ff0054u);
    return r;
}

}  // namespace Resolver
}  // namespace Dns
