// Endpoints for the tests: a live one on loopback with a plain UDP socket
// as its peer, and a bare record (pool and resources, no threads) for
// driving single layers.
#ifndef MIREL_ENDPOINT_FIXTURE_H
#define MIREL_ENDPOINT_FIXTURE_H

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <optional>

#include "../src/endpoint.h"
#include "coap_uri.h"
#include "test_util.h"

namespace mirel_test {

struct EndpointFree {
    void operator()(struct Mirel *ep) const { Mirel_Free(ep); }
};
using Endpoint = std::unique_ptr<struct Mirel, EndpointFree>;

inline Endpoint loopback_endpoint() { return Endpoint(Mirel(0, htonl(INADDR_LOOPBACK))); }

inline uint16_t endpoint_port(const struct Mirel *ep)
{
    struct sockaddr_in a {};
    socklen_t len = sizeof a;
    getsockname(ep->rt.sock, reinterpret_cast<struct sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

// A plain UDP socket on 127.0.0.1 playing the endpoint's peer.
class Peer {
public:
    Peer()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        struct sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<struct sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<struct sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Peer() { close(fd_); }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    uint16_t port() const { return port_; }
    struct sockaddr_storage address() const { return v4("127.0.0.1", port_); }

    void send(uint16_t to, const Bytes &bytes) const
    {
        struct sockaddr_storage a = v4("127.0.0.1", to);
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<struct sockaddr *>(&a),
               sizeof(struct sockaddr_in));
    }
    void send(uint16_t to, struct CoAPMessage *m) const { send(to, encode(m)); }

    std::optional<Bytes> recv(int timeout_ms) const
    {
        struct pollfd p {
            fd_, POLLIN, 0
        };
        if (poll(&p, 1, timeout_ms) != 1)
            return std::nullopt;
        Bytes buf(2048);
        ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
        if (n < 0)
            return std::nullopt;
        buf.resize(static_cast<size_t>(n));
        return buf;
    }
    Msg recv_msg(int timeout_ms) const
    {
        auto b = recv(timeout_ms);
        return Msg(b ? CoAPMessage_FromBytes(b->data(), b->size()) : nullptr);
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// The endpoint record without socket or threads: what the layers see. What
// they send stays in the pool, where the test reads it with Next.
struct BareEndpoint {
    struct Mirel ep;
    // The pool's clock stands still unless a test moves it: retransmission
    // timers of a few milliseconds must not fire because a test ran slowly.
    uint64_t now_ms = 1000000;
    BareEndpoint()
    {
        ep.pool = CoAPMessagePool();
        CoAPMessagePool_SetClock(
            ep.pool, [](void *c) { return *static_cast<uint64_t *>(c); }, &now_ms);
        ep.windows = SlidingWindowPool();
        struct Err err;
        LayerStack_Init(&ep, &err);
    }
    ~BareEndpoint()
    {
        LayerStack_Deinit(&ep);
        mirel::free_resources(&ep);
        CoAPMessagePool_Free(ep.pool);
        SlidingWindowPool_Free(ep.windows);
    }
    // What the sender thread would put on the wire now: every message due,
    // through the send layers, encoded; non-CON messages leave the pool.
    std::vector<Bytes> pump()
    {
        std::vector<Bytes> out;
        for (;;) {
            CoAPMessagePool_Wake(ep.pool);
            uint8_t extra = 0;
            Msg m(CoAPMessagePool_Next(ep.pool, &extra));
            if (!m)
                return out;
            struct Err err;
            int rc = LayerStack_OnSend(&ep, m.get(), extra, &err);
            if (rc == 0)
                out.push_back(encode(m.get()));
            if (rc != 1 && CoAPMessage_GetType(m.get()) != COAP_TYPE_CON)
                CoAPMessagePool_RemoveMessage(ep.pool, m.get());
        }
    }
    // A datagram from `from` through the receive layers: the stack's result.
    int deliver(const Bytes &wire, const struct sockaddr_storage &from)
    {
        Msg m(CoAPMessage_FromBytes(wire.data(), wire.size()));
        if (!m)
            return -1;
        CoAPMessage_SetSockAddr(m.get(), &from);
        struct Err err;
        return LayerStack_OnReceive(&ep, m.get(), 0, &err);
    }
    // The next queued message, or null when none is queued.
    Msg next_sent()
    {
        CoAPMessagePool_Wake(ep.pool);
        Msg m(CoAPMessagePool_Next(ep.pool, nullptr));
        if (m)
            CoAPMessagePool_RemoveMessage(ep.pool, m.get());
        return m;
    }
};

// Two endpoint records that exchange datagrams by hand.
struct BarePair : ::testing::Test {
    BareEndpoint a, b;
    const struct sockaddr_storage addr_a = v4("192.0.2.1");
    const struct sockaddr_storage addr_b = v4("192.0.2.2");

    // Everything due on each side crosses over until both are quiet; a
    // filter may drop datagrams (true = deliver).
    template <typename Filter> void settle(Filter keep, int rounds = 1000)
    {
        for (int round = 0; round < rounds; round++) {
            auto from_a = a.pump();
            auto from_b = b.pump();
            if (from_a.empty() && from_b.empty())
                return;
            for (const Bytes &w : from_a)
                if (keep(true, w))
                    b.deliver(w, addr_a);
            for (const Bytes &w : from_b)
                if (keep(false, w))
                    a.deliver(w, addr_b);
        }
    }
    void settle()
    {
        settle([](bool, const Bytes &) { return true; });
    }
};

inline Msg request(int type, int code, int id, const char *path, const Bytes &token = {0x7a})
{
    Msg m(CoAPMessage(type, code, id));
    if (path)
        CoAPMessage_SetUriPath(m.get(), path);
    if (!token.empty())
        CoAPMessage_SetToken(m.get(), token.data(), token.size());
    return m;
}

inline Bytes token_of(const struct CoAPMessage *m)
{
    uint8_t t[COAP_TOKEN_MAX];
    size_t len = sizeof t;
    if (CoAPMessage_GetToken(m, t, &len) != 0)
        return {};
    return Bytes(t, t + len);
}

inline std::string payload_of(const struct CoAPMessage *m)
{
    uint32_t len = 0;
    auto *p = static_cast<const char *>(CoAPMessage_GetPayload(m, &len, 0));
    return p ? std::string(p, len) : std::string();
}

}  // namespace mirel_test

#endif
