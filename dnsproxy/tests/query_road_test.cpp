// The query road in one process: a client socket, the proxy's listener and
// upstream socket, and a fake upstream server, all on loopback.
#include "fw_test/matchers.h"
#include "fw_test/log_capture.h"
#include "server.h"
#include "udp_io.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <set>
#include <fstream>
#include <string>
#include <vector>

using fw_test::HasSubstr;

namespace {

using fw_test::LogCapture;

using Bytes = std::vector<uint8_t>;

Bytes wire_name(const std::string &name)
{
    Bytes out;
    size_t start = 0;
    while (start < name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos)
            dot = name.size();
        out.push_back(uint8_t(dot - start));
        out.insert(out.end(), name.begin() + long(start), name.begin() + long(dot));
        start = dot + 1;
    }
    out.push_back(0);
    return out;
}

Bytes query(const std::string &name, uint16_t type, uint16_t klass = 1, uint16_t id = 0x1234)
{
    Bytes q = {uint8_t(id >> 8), uint8_t(id), 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    Bytes n = wire_name(name);
    q.insert(q.end(), n.begin(), n.end());
    q.insert(q.end(), {uint8_t(type >> 8), uint8_t(type), uint8_t(klass >> 8), uint8_t(klass)});
    return q;
}

// The answer to q: its question and one A record per address (TTL ttl).
Bytes answer(const Bytes &q, unsigned rcode, const std::vector<std::string> &addrs, uint32_t ttl = 300,
             uint16_t answer_type = 1)
{
    Bytes a = q;
    a[2] = uint8_t(0x80 | (q[2] & 0x01));
    a[3] = uint8_t(0x80 | rcode);
    a[7] = uint8_t(addrs.size());
    for (auto &text : addrs) {
        a.insert(a.end(), {0xc0, 0x0c, uint8_t(answer_type >> 8), uint8_t(answer_type), 0, 1,
                           uint8_t(ttl >> 24), uint8_t(ttl >> 16), uint8_t(ttl >> 8), uint8_t(ttl), 0, 4});
        in_addr in;
        inet_pton(AF_INET, text.c_str(), &in);
        auto *b = reinterpret_cast<const uint8_t *>(&in);
        a.insert(a.end(), b, b + 4);
    }
    return a;
}

int udp_socket(uint16_t *port)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t l = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &l);
    if (port)
        *port = ntohs(a.sin_port);
    return fd;
}

bool receive(int fd, Bytes &out, sockaddr_in *from = nullptr, int ms = 300)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) != 1)
        return false;
    uint8_t buf[65536];
    sockaddr_in f{};
    socklen_t l = sizeof f;
    ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&f), &l);
    if (n < 0)
        return false;
    out.assign(buf, buf + n);
    if (from)
        *from = f;
    return true;
}

void send_to(int fd, const Bytes &msg, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    ASSERT_EQ(ssize_t(msg.size()),
              sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a));
}

struct Road : ::testing::Test {
    dnsr::Server s{dnsr::Options{}};
    int client = -1, upstream = -1, upstream2 = -1;
    uint16_t listener_port = 0, upstream_port = 0, upstream2_port = 0, proxy_out_port = 0;

    void SetUp() override
    {
        client = udp_socket(nullptr);
        upstream = udp_socket(&upstream_port);
        upstream2 = udp_socket(&upstream2_port);
    }
    void TearDown() override
    {
        for (int fd : {client, upstream, upstream2})
            close(fd);
    }

    void load(const std::string &text)
    {
        s.cfg = std::make_unique<dnsr::Config>(false);
        dnsr::config_read_text(*s.cfg, text, "test");
        dnsr::config_finish(*s.cfg);
        s.stats = std::make_unique<dnsr::UpstreamStats>(dnsr::config_servers(*s.cfg));
        int fd = udp_socket(&listener_port);
        dnsr::road_prepare_listener(fd, AF_INET);
        s.slots.set_fd(dnsr::kSlotUdp4, fd);
        s.slots.set_handlers(dnsr::kSlotUdp4, dnsr::udp_read_listener, nullptr);
        ASSERT_TRUE(dnsr::upstream_open(s, AF_INET));
    }
    std::string server_line(uint16_t port, const char *domain = "")
    {
        return "dns_server = 127.0.0.1:" + std::to_string(port) + " " + domain + "\n";
    }
    // One round of the loop.
    void round(int wait_ms = 20)
    {
        s.slots.poll_and_dispatch(s, wait_ms, nullptr);
        dnsr::road_end_of_round(s);
        s.timers.run_immediate(s);
        s.timers.run_due(s);
        dnsr::road_end_of_round(s);
    }
    void ask(const Bytes &q)
    {
        send_to(client, q, listener_port);
        round();
    }
    // What the upstream got, with its id; the answer goes back from sock, to
    // the port the query came from.
    bool upstream_got(int sock, Bytes &q)
    {
        sockaddr_in from{};
        if (!receive(sock, q, &from))
            return false;
        proxy_out_port = ntohs(from.sin_port);
        return true;
    }
    void reply(int sock, const Bytes &a, uint16_t to_port = 0)
    {
        send_to(sock, a, to_port ? to_port : proxy_out_port);
        round();
    }
    bool client_got(Bytes &a)
    {
        round();
        return receive(client, a, nullptr, 100);
    }
};

unsigned rcode(const Bytes &m) { return m[3] & 0x0f; }
unsigned ancount(const Bytes &m) { return unsigned(m[6] << 8 | m[7]); }

TEST_F(Road, AnswerIsRelayedWithTheClientsIdAndCached)
{
    load(server_line(upstream_port));
    ask(query("www.example.test", 1, 1, 0x4242));
    Bytes q, a;
    ASSERT_TRUE(upstream_got(upstream, q));
    EXPECT_NE(0x4242, q[0] << 8 | q[1]) << "the client's id went upstream";
    reply(upstream, answer(q, 0, {"192.0.2.1"}));
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ(0x42, a[0]);
    EXPECT_EQ(0x42, a[1]);
    EXPECT_EQ(1u, ancount(a));
    // Again, in other letters: from the cache, the asker's spelling kept.
    ask(query("WWW.example.test", 1, 1, 0x5151));
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ(1u, ancount(a));
    EXPECT_EQ('W', a[13]);
    EXPECT_FALSE(upstream_got(upstream, q)) << "a cached name went upstream";
    EXPECT_EQ(1u, s.counters.cache_hits);
}

TEST_F(Road, CacheKeepsTypesAndClassesApart)
{
    load(server_line(upstream_port));
    struct {
        uint16_t type, klass;
    } cases[] = {{1, 1}, {257, 1} /* CAA: same low byte as A */, {1, 3} /* CH */};
    for (auto &c : cases) {
        SCOPED_TRACE(c.type * 1000 + c.klass);
        ask(query("collide.test", c.type, c.klass));
        Bytes q, a;
        ASSERT_TRUE(upstream_got(upstream, q)) << "answered from another type's or class's entry";
        reply(upstream, answer(q, 0, {"192.0.2.1"}));
        ASSERT_TRUE(client_got(a));
    }
}

TEST_F(Road, AnswersFromAnotherPortOrForAnotherQuestionAreIgnored)
{
    load(server_line(upstream_port));
    ask(query("poison.test", 1));
    Bytes q, a;
    ASSERT_TRUE(upstream_got(upstream, q));
    LogCapture log(1);
    // Same id, from another port of the server's address.
    send_to(upstream2, answer(q, 0, {"6.6.6.6"}), proxy_out_port);
    round();
    // Same id and port, another question.
    reply(upstream, answer(query("other.test", 1, 1, uint16_t(q[0] << 8 | q[1])), 0, {"6.6.6.6"}));
    EXPECT_FALSE(client_got(a)) << "a forged answer was relayed";
    reply(upstream, answer(q, 0, {"192.0.2.7"}));
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ((Bytes{192, 0, 2, 7}), Bytes(a.end() - 4, a.end()));
    // The second genuine answer is dropped: a request is answered once.
    reply(upstream, answer(q, 0, {"192.0.2.8"}));
    EXPECT_FALSE(client_got(a));
}

TEST_F(Road, LoopNeedsTheSameQuestion)
{
    load(server_line(upstream_port) + server_line(upstream2_port, "other.test"));
    ask(query("loop.test", 1));
    Bytes q, a;
    ASSERT_TRUE(upstream_got(upstream, q));
    LogCapture log;
    // A client on the server's address with that id but another question is
    // just a client.
    Bytes unrelated = query("unrelated.other.test", 1, 1, uint16_t(q[0] << 8 | q[1]));
    send_to(upstream, unrelated, listener_port);
    round();
    Bytes q2;
    ASSERT_TRUE(upstream_got(upstream2, q2)) << "a colliding id was taken for a loop";
    EXPECT_FALSE(s.stats->find(s.cfg->pool[0])->inactive);
    // Our own query coming back is a loop.
    send_to(upstream, q, listener_port);
    round();
    EXPECT_TRUE(s.stats->find(s.cfg->pool[0])->inactive);
    ASSERT_FALSE(log.lines().empty());
    EXPECT_THAT(log.lines()[0], HasSubstr("Proxy loop detected"));
}

TEST_F(Road, TruncatedAnswerReachesTheClientWithTc)
{
    load(server_line(upstream_port) + server_line(upstream2_port));
    ask(query("big.test", 1));
    Bytes q, a;
    ASSERT_TRUE(upstream_got(upstream2, q));  // newest server first
    Bytes tc = answer(q, 0, {});
    tc[2] |= 0x02;
    reply(upstream2, tc);
    ASSERT_TRUE(client_got(a));
    EXPECT_TRUE(a[2] & 0x02);
    EXPECT_EQ(0u, rcode(a));
    EXPECT_FALSE(upstream_got(upstream, q)) << "the next server was tried instead";
}

TEST_F(Road, LongAnswerIsCutForAClientWithoutEdns)
{
    load(server_line(upstream_port));
    ask(query("many.test", 1));
    Bytes q, a;
    ASSERT_TRUE(upstream_got(upstream, q));
    std::vector<std::string> addrs(60, "192.0.2.1");  // 60 x 16 bytes: past 512
    reply(upstream, answer(q, 0, addrs));
    ASSERT_TRUE(client_got(a));
    EXPECT_TRUE(a[2] & 0x02);
    EXPECT_EQ(0u, ancount(a));
    EXPECT_EQ(query("many.test", 1).size(), a.size());
}

TEST_F(Road, AnswerPastTheDatagramBufferIsNotRelayedCut)
{
    load(server_line(upstream_port));
    // The client takes 4096 bytes (EDNS); the server sends more than that.
    Bytes q = query("huge.test", 1);
    q[11] = 1;
    q.insert(q.end(), {0, 0, 41, 0x10, 0x00, 0, 0, 0, 0, 0, 0});
    ask(q);
    Bytes up, a;
    ASSERT_TRUE(upstream_got(upstream, up));
    Bytes big = answer(up, 0, std::vector<std::string>(320, "192.0.2.1"));
    ASSERT_GT(big.size(), 4096u);
    reply(upstream, big);
    ASSERT_TRUE(client_got(a));
    EXPECT_TRUE(a[2] & 0x02) << "a cut answer went out without TC";
    EXPECT_EQ(0u, ancount(a));
    EXPECT_EQ(query("huge.test", 1).size(), a.size());
}

TEST_F(Road, EmptyAndFailedAnswersGoOnThenRefusedOrNxdomain)
{
    load(server_line(upstream_port) + server_line(upstream2_port));
    struct Case {
        const char *name;
        unsigned first, second, want;
    } cases[] = {{"a.test", 2, 2, 5}, {"b.test", 0, 0, 5}, {"c.test", 3, 2, 3}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        ask(query(c.name, 1));
        Bytes q, a;
        ASSERT_TRUE(upstream_got(upstream2, q));
        reply(upstream2, answer(q, c.first, {}));
        ASSERT_TRUE(upstream_got(upstream, q)) << "the next server was not tried at once";
        reply(upstream, answer(q, c.second, {}));
        ASSERT_TRUE(client_got(a));
        EXPECT_EQ(c.want, rcode(a));
        EXPECT_TRUE(a[2] & 0x80);
    }
    // The NXDOMAIN ending is cached.
    ask(query("c.test", 1));
    Bytes a, q;
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ(3u, rcode(a));
    EXPECT_FALSE(upstream_got(upstream2, q));
}

TEST_F(Road, StaticsAndOpcodeTwo)
{
    load("static_a = *.lan 192.168.1.9\n" + server_line(upstream_port));
    ask(query("x.lan", 1));
    Bytes a, q;
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ((Bytes{192, 168, 1, 9}), Bytes(a.end() - 4, a.end()));
    EXPECT_EQ(600u, unsigned(a[a.size() - 8] << 8 | a[a.size() - 7]));
    // An AAAA for a name with only an IPv4 static goes upstream.
    ask(query("x.lan", 28));
    EXPECT_TRUE(upstream_got(upstream, q));
    Bytes status = query("status.test", 1);
    status[2] = 0x10;  // opcode 2
    ask(status);
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ(0x90, a[2]);
    EXPECT_EQ(0x80, a[3]);
    EXPECT_EQ(12u, a.size());
}

TEST_F(Road, ServerOfAMissingFamilyIsPassedAtOnce)
{
    // No IPv6 upstream socket here: the IPv6 server (newest, so first) is
    // skipped without waiting for proceed or its deadline.
    load(server_line(upstream_port) + "dns_server = [2001:db8::1]:53\n");
    LogCapture log;
    ask(query("v6less.test", 1));
    round();  // the next try runs in the next round, which doesn't wait
    Bytes q;
    ASSERT_TRUE(upstream_got(upstream, q));
    EXPECT_EQ((std::vector<std::string>{"socket is not ready for request"}), log.lines());
}

TEST_F(Road, NoServerGivesRefused)
{
    load("");
    ask(query("nowhere.test", 1));
    Bytes a;
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ(5u, rcode(a));
}

TEST_F(Road, MemoryPurgeKeepsTheLaterHalfOfTheCache)
{
    load(server_line(upstream_port));
    for (int i = 0; i < 8; i++) {
        ask(query("n" + std::to_string(i) + ".test", 1));
        Bytes q, a;
        ASSERT_TRUE(upstream_got(upstream, q));
        reply(upstream, answer(q, 0, {"192.0.2.1"}, uint32_t(100 + i)));
        ASSERT_TRUE(client_got(a));
    }
    EXPECT_EQ(8u, s.road.cache.size());
    dnsr::road_memory_purge(s);
    EXPECT_EQ(4u, s.road.cache.size());
    // The ones that live longest stay.
    ask(query("n7.test", 1));
    Bytes a, q;
    ASSERT_TRUE(client_got(a));
    EXPECT_FALSE(upstream_got(upstream, q));
    ask(query("n0.test", 1));
    EXPECT_TRUE(upstream_got(upstream, q));
}

TEST_F(Road, PurgeWhileDeliveringKeepsTheRequestUntilTheRoundEnds)
{
    load(server_line(upstream_port));
    for (int i = 0; i < 4; i++) {
        ask(query("full" + std::to_string(i) + ".test", 1));
        Bytes q, a;
        ASSERT_TRUE(upstream_got(upstream, q));
        reply(upstream, answer(q, 0, {"192.0.2.1"}));
        ASSERT_TRUE(client_got(a));
    }
    ask(query("last.test", 1));
    Bytes q, a;
    ASSERT_TRUE(upstream_got(upstream, q));
    // Storing this answer can't fit: the purge runs inside the delivery, and
    // its pending check finds the request answered and without entries.
    s.acc.set_limit(uint32_t(s.acc.in_use() + 64));
    reply(upstream, answer(q, 0, {"192.0.2.2"}));
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ((Bytes{192, 0, 2, 2}), Bytes(a.end() - 4, a.end()));
    EXPECT_LT(s.road.cache.size(), 4u) << "the purge did not run";
    round();
    EXPECT_EQ(nullptr, s.road.requests) << "the delivered request was never freed";
}

TEST_F(Road, RequestWithoutMemoryIsRefusedAtOnce)
{
    load(server_line(upstream_port));
    s.acc.set_limit(uint32_t(s.acc.in_use() + 16));
    ask(query("nomem.test", 1, 1, 0x7777));
    Bytes a, q;
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ(0x77, a[0]);
    EXPECT_EQ(5u, rcode(a));
    EXPECT_FALSE(upstream_got(upstream, q));
}

TEST_F(Road, MalformedAnswerIsAFailedTryAndNeverCached)
{
    std::string long_name;  // 250 octets on the wire
    for (int l : {63, 63, 63, 56})
        long_name += std::string(size_t(l), 'a') + ".";
    long_name.pop_back();
    // Each answer is the good one with a fault put in; rr is where its one
    // record starts (its owner a pointer to the question).
    struct Case {
        const char *what;
        std::string name;
        std::function<void(Bytes &a, size_t rr)> spoil;
    } cases[] = {
        {"owner pointing at itself", "self.test", [](Bytes &a, size_t rr) { a[rr + 1] = uint8_t(rr); }},
        {"owner pointing forward", "fwd.test", [](Bytes &a, size_t rr) { a[rr + 1] = uint8_t(rr + 20); }},
        {"record length past the end", "rdlen.test", [](Bytes &a, size_t rr) { a[rr + 11] = 200; }},
        {"count larger than the records", "count.test", [](Bytes &a, size_t) { a[7] = 3; }},
        {"name over 255 octets through a pointer", long_name,
         [](Bytes &a, size_t rr) {
             const uint8_t label[] = {9, 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
             a.insert(a.begin() + long(rr), label, label + sizeof label);
         }},
    };
    load(server_line(upstream_port) + server_line(upstream2_port));
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        ask(query(c.name, 1));
        Bytes q, a;
        ASSERT_TRUE(upstream_got(upstream2, q));  // newest server first
        Bytes bad = answer(q, 0, {"6.6.6.6"});
        c.spoil(bad, q.size());
        reply(upstream2, bad);
        round();  // the next try runs in the next round, at once
        ASSERT_TRUE(upstream_got(upstream, q)) << "the next server was not asked";
        reply(upstream, answer(q, 0, {"192.0.2.5"}));
        ASSERT_TRUE(client_got(a));
        EXPECT_EQ((Bytes{192, 0, 2, 5}), Bytes(a.end() - 4, a.end()));
        // What the cache holds is the good answer.
        ask(query(c.name, 1));
        ASSERT_TRUE(client_got(a));
        EXPECT_EQ((Bytes{192, 0, 2, 5}), Bytes(a.end() - 4, a.end()));
        EXPECT_FALSE(upstream_got(upstream2, q));
    }
}

TEST_F(Road, RefusalWithoutQuestionFailsTheTryOnlyWithAnError)
{
    load(server_line(upstream_port) + server_line(upstream2_port));
    ask(query("junk.test", 1));
    Bytes q, a;
    ASSERT_TRUE(upstream_got(upstream2, q));  // newest server first
    // Just a header with the try's id: NOERROR says nothing, it is ignored.
    Bytes header(q.begin(), q.begin() + 12);
    header[2] = 0x80;
    header[3] = 0x80;
    header[5] = 0;
    reply(upstream2, header);
    round();
    EXPECT_FALSE(upstream_got(upstream, q)) << "a bare NOERROR header ended the try";
    // FORMERR without the question: the try failed, the next server at once.
    header[3] = 0x81;
    reply(upstream2, header);
    round();
    ASSERT_TRUE(upstream_got(upstream, q));
    reply(upstream, answer(q, 0, {"192.0.2.7"}));
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ((Bytes{192, 0, 2, 7}), Bytes(a.end() - 4, a.end()));
}

TEST_F(Road, IPv6ServerThroughItsOwnPool)
{
    int v6 = socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (v6 < 0)
        GTEST_SKIP() << "no IPv6 here";
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    if (bind(v6, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(v6);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    socklen_t l = sizeof a;
    getsockname(v6, reinterpret_cast<sockaddr *>(&a), &l);
    load("dns_server = [::1]:" + std::to_string(ntohs(a.sin6_port)) + "\n");
    ASSERT_TRUE(dnsr::upstream_open(s, AF_INET6));
    ask(query("six.test", 1));
    pollfd p{v6, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 300));
    uint8_t buf[512];
    sockaddr_in6 from{};
    l = sizeof from;
    ssize_t n = recvfrom(v6, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &l);
    ASSERT_GT(n, 12);
    bool from_pool = false;
    for (const dnsr::UpstreamSocket &sock : s.pool6.live())
        from_pool |= sock.port == ntohs(from.sin6_port);
    EXPECT_TRUE(from_pool) << "the query did not leave from the IPv6 pool";
    Bytes reply_msg = answer(Bytes(buf, buf + n), 0, {"192.0.2.66"});
    ASSERT_EQ(ssize_t(reply_msg.size()),
              sendto(v6, reply_msg.data(), reply_msg.size(), 0, reinterpret_cast<sockaddr *>(&from), l));
    round();
    Bytes got;
    ASSERT_TRUE(client_got(got));
    EXPECT_EQ((Bytes{192, 0, 2, 66}), Bytes(got.end() - 4, got.end()));
    close(v6);
}

TEST_F(Road, AnswerOnAnotherUpstreamSocketIsIgnored)
{
    load(server_line(upstream_port));
    ask(query("port.test", 1));
    Bytes q, a;
    ASSERT_TRUE(upstream_got(upstream, q));
    uint16_t asked_from = proxy_out_port;
    uint16_t other = 0;
    for (const dnsr::UpstreamSocket &sock : s.pool4.live())
        if (sock.port != asked_from)
            other = sock.port;
    ASSERT_NE(0, other);
    // The right server, id and question, to another socket of the pool.
    reply(upstream, answer(q, 0, {"6.6.6.6"}), other);
    EXPECT_FALSE(client_got(a));
    reply(upstream, answer(q, 0, {"192.0.2.6"}), asked_from);
    ASSERT_TRUE(client_got(a));
    EXPECT_EQ((Bytes{192, 0, 2, 6}), Bytes(a.end() - 4, a.end()));
}

TEST_F(Road, PendingIdsAreNeverSharedAndSourcePortsSpread)
{
    // A server that never answers keeps every try pending.
    load("timeout = 60000\n" + server_line(upstream_port));
    std::set<unsigned> ids;
    std::set<uint16_t> ports;
    const int n = 1000;
    for (int i = 0; i < n; i++) {
        ask(query("p" + std::to_string(i) + ".test", 1));
        Bytes q;
        ASSERT_TRUE(upstream_got(upstream, q));
        ids.insert(unsigned(q[0] << 8 | q[1]));
        ports.insert(proxy_out_port);
    }
    EXPECT_EQ(size_t(n), ids.size()) << "an id of a pending try was drawn again";
    // 64 sockets, each retiring after 16 to 127 queries.
    EXPECT_GE(ports.size(), 64u);
    EXPECT_LE(s.pool4.retired_count(), dnsr::UpstreamPool::kMaxRetired);
}

TEST(QueryMessage, QuestionAndUdpLimit)
{
    auto parsed = std::make_unique<dnsr::Parsed>();
    auto load = [&](const Bytes &m) { return parsed->load(m.data(), m.size()) ? parsed->packet() : nullptr; };
    dnsr::Question q;
    Bytes m = query("A.b", 257, 3);
    ASSERT_TRUE(load(m));
    ASSERT_TRUE(dnsr::question_parse(load(m), q));
    EXPECT_EQ(257, q.type);
    EXPECT_EQ(3, q.klass);
    EXPECT_EQ('a', q.name[1]);
    EXPECT_EQ(512u, dnsr::msg_udp_limit(load(m)));
    // An OPT record offering 1232 bytes.
    m[11] = 1;
    m.insert(m.end(), {0, 0, 41, 0x04, 0xd0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(1232u, dnsr::msg_udp_limit(load(m)));
    // Malformed first questions.
    EXPECT_FALSE(load(Bytes(11, 0)));
    for (Bytes bad :
         {Bytes{0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xc0, 0x0c, 0, 1, 0, 1},
          Bytes{0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 5, 'a', 0}, Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}})
        EXPECT_FALSE(dnsr::question_parse(load(bad), q));
}

TEST(QueryMessage, TextFormat)
{
    Bytes q = query("t.test", 16);
    auto txt = [&](const std::string &s) {
        Bytes a = q;
        a[2] = 0x81;
        a[3] = 0x80;
        a[7] = 1;
        a.insert(a.end(),
                 {0xc0, 0x0c, 0, 16, 0, 1, 0, 0, 0, 60, 0, uint8_t(s.size() + 1), uint8_t(s.size())});
        a.insert(a.end(), s.begin(), s.end());
        return a;
    };
    Bytes cname_only = answer(query("c.test", 1), 0, {});
    cname_only[7] = 1;
    cname_only.insert(cname_only.end(), {0xc0, 0x0c, 0, 5, 0, 1, 0, 0, 0, 60, 0, 2, 0xc0, 0x0c});
    struct {
        Bytes msg;
        std::string want;
    } cases[] = {
        {txt("say \"hi\"\\"), "t.test TXT \"say \\\"hi\\\"\\\\\"\n"},
        {txt("tab\there"), "not resolved;\n"},
        {cname_only, "not resolved;\n"},
        {answer(query("a.test", 1), 0, {"192.0.2.1", "192.0.2.2"}),
         "a.test A 192.0.2.1\na.test A 192.0.2.2\n"},
        {answer(query("a.test", 1), 0, std::vector<std::string>(200, "192.0.2.200")), "large answer;\n"},
        {Bytes{1, 2, 3}, "system error;\n"},
    };
    for (auto &c : cases)
        EXPECT_EQ(c.want, dnsr::text_format(c.msg.data(), c.msg.size()));
}

TEST(ArpTable, ReadsAddressAndMacColumns)
{
    dnsr::Accountant acc;
    dnsr::Road road(acc);
    char path[] = "/tmp/arpXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "IP address       HW type     Flags       HW address            Mask     Device\n"
                           "10.0.1.2         0x1         0x2         02:00:00:00:00:01     *        eth0\n"
                           "10.0.1.3         0x1         0x0         00:00:00:00:00:00     *        eth0\n"
                           "garbage\n"
                           "10.0.1.4\t0x1\t0x2\t02:00:00:00:00:04\t*\teth1";
    ASSERT_TRUE(dnsr::arp_read(road, path));
    unlink(path);
    zmo_ip_sockaddr_t a = *ZMO_IP_SOCKADDR_ANY;
    ASSERT_TRUE(zmo_ip_sockaddr_pton("10.0.1.2", &a));
    ASSERT_NE(nullptr, road.arp.find(a.u.storage));
    EXPECT_EQ(1, road.arp.find(a.u.storage)->bytes[5]);
    ASSERT_TRUE(zmo_ip_sockaddr_pton("10.0.1.4", &a));
    ASSERT_NE(nullptr, road.arp.find(a.u.storage));
    EXPECT_EQ(3u, road.arp.size());  // the all-zero MAC still parses
    LogCapture log;
    EXPECT_FALSE(dnsr::arp_read(road, "/nonexistent/arp"));
    EXPECT_EQ((std::vector<std::string>{"unable to read arp table"}), log.lines());
}

}  // namespace
