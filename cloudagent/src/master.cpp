// The cloud master's HTTP/1.0 look-up: its answer is the address of the
// Mirel server to talk to.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "agent.h"
#include "cloud.h"
#include "socket_wait.h"

namespace {

using cloudagent::Fd;

// However the master drips its answer, the look-up ends within this time and
// holds at most this much of it.
constexpr int kDeadlineMs = 10000;
constexpr size_t kReplyMax = 4096;

using Clock = std::chrono::steady_clock;

// The deadline bounds every wait; no poll outlasts it.
bool wait_for(int fd, short events, Clock::time_point deadline)
{
    return cloudagent::wait_for(fd, events, deadline, kDeadlineMs);
}

}  // namespace

extern "C" int master_reply_parse(const char *reply, size_t length, zmo_ip_sockaddr_t *out)
{
    std::string_view text(reply, length);
    size_t ok = text.find("200 OK");
    size_t blank = ok == std::string_view::npos ? ok : text.find("\r\n\r\n", ok);
    if (blank == std::string_view::npos) {
        errno = EBADMSG;
        return -1;
    }
    std::string body(text.substr(blank + 4));
    if (body.empty() || body.find('\0') != std::string::npos) {
        errno = EBADMSG;
        return -1;
    }
    return address_parse(body.c_str(), out);
}

extern "C" int master_lookup(const char *host, const char *service, int reconnect, zmo_ip_sockaddr_t *out)
{
    try {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kDeadlineMs);
        const char *type = agent_type_text(g_agent.type);
        if (!type) {
            errno = EINVAL;
            return -1;
        }
        struct addrinfo hints {};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        struct addrinfo *res = nullptr;
        int gai = getaddrinfo(host, service, &hints, &res);
        if (gai != 0 || !res) {
            zmo_log_debug(1, "master %s: %s", host, gai_strerror(gai));
            errno = EHOSTUNREACH;
            return -1;
        }
        Fd s;
        s.fd = socket(res->ai_family, res->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, res->ai_protocol);
        int rc = s.fd < 0 ? -1 : connect(s.fd, res->ai_addr, res->ai_addrlen);
        freeaddrinfo(res);
        if (s.fd < 0)
            return -1;
        if (rc != 0) {
            if (errno != EINPROGRESS || !wait_for(s.fd, POLLOUT, deadline))
                return -1;
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err) {
                errno = err ? err : EIO;
                return -1;
            }
        }

        std::string path = std::string("/?cid=") + g_agent.cid + "&type=" + type;
        if (reconnect)
            path += "&error=reconnect";
        std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + host + ":" + service + "\r\n\r\n";
        size_t sent = 0;
        while (sent < request.size()) {
            if (!wait_for(s.fd, POLLOUT, deadline))
                return -1;
            ssize_t n = send(s.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                return -1;
            if (n > 0)
                sent += static_cast<size_t>(n);
        }

        std::string reply;
        char piece[256];
        for (;;) {
            if (!wait_for(s.fd, POLLIN, deadline))
                return -1;
            ssize_t n = recv(s.fd, piece, sizeof piece, 0);
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return -1;
            }
            if (reply.size() + static_cast<size_t>(n) > kReplyMax) {
                errno = EMSGSIZE;
                return -1;
            }
            reply.append(piece, static_cast<size_t>(n));
        }
        return master_reply_parse(reply.data(), reply.size(), out);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
}
