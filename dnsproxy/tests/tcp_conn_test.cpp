// TCP client connections: memory taken as bytes come, the cap on client
// connections and who makes room when it is reached.
#include "server.h"
#include "tcp_conn.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

struct Tcp : ::testing::Test {
    dnsr::Server s{dnsr::Options{}};
    uint16_t port = 0;
    std::vector<int> clients;

    void SetUp() override
    {
        s.cfg = std::make_unique<dnsr::Config>(false);
        dnsr::config_finish(*s.cfg);
        s.stats = std::make_unique<dnsr::UpstreamStats>(dnsr::config_servers(*s.cfg));
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a));
        ASSERT_EQ(0, listen(fd, 512));
        socklen_t l = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &l);
        port = ntohs(a.sin_port);
        s.slots.set_fd(dnsr::kSlotTcp4, fd);
        s.slots.set_handlers(dnsr::kSlotTcp4, dnsr::tcp_accept, nullptr);
    }
    void TearDown() override
    {
        for (int fd : clients)
            close(fd);
    }
    int connect_one()
    {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        EXPECT_EQ(0, connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a));
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        clients.push_back(fd);
        return fd;
    }
    void rounds(int n = 3)
    {
        for (int i = 0; i < n; i++)
            s.slots.poll_and_dispatch(s, 20, nullptr);
    }
    // The proxy's side of a connection, by the peer's port.
    const dnsr::TcpConn *conn_of(int client)
    {
        sockaddr_in a{};
        socklen_t l = sizeof a;
        getsockname(client, reinterpret_cast<sockaddr *>(&a), &l);
        for (const auto &c : s.road.tcp)
            if (c.role == dnsr::TcpConn::kClient && zmo_ip_sockaddr_port(&c.peer) == ntohs(a.sin_port))
                return &c;
        return nullptr;
    }
    static bool closed_by_proxy(int fd)
    {
        pollfd p{fd, POLLIN, 0};
        char b;
        return poll(&p, 1, 200) == 1 && recv(fd, &b, 1, MSG_DONTWAIT) == 0;
    }
};

TEST_F(Tcp, MemoryFollowsTheBytesThatCame)
{
    int c = connect_one();
    rounds();
    uint64_t before = s.acc.in_use();
    // 65535 bytes announced, none sent.
    ASSERT_EQ(2, send(c, "\xff\xff", 2, 0));
    rounds();
    ASSERT_NE(nullptr, conn_of(c));
    EXPECT_EQ(65535u, conn_of(c)->want);
    EXPECT_EQ(before, s.acc.in_use()) << "memory was taken for bytes that never came";
    // Then a byte at a time: the buffer at most doubles what came.
    for (int i = 1; i <= 300; i++) {
        ASSERT_EQ(1, send(c, "x", 1, 0));
        rounds(1);
        const dnsr::TcpConn *k = conn_of(c);
        ASSERT_NE(nullptr, k);
        ASSERT_LE(k->rx_room, 2 * k->rx_have) << "after " << i << " bytes";
    }
    EXPECT_LE(s.acc.in_use() - before, 2 * 300 + dnsr::Accountant::kHeader);
}

TEST_F(Tcp, OldestSenderMakesRoomWhenClientSlotsAreFull)
{
    int cap = dnsr::kSlotCount - dnsr::kFirstConnectionSlot - dnsr::kTcpUpstreamReserve;
    for (int i = 0; i < cap; i++) {
        int c = connect_one();
        ASSERT_EQ(1, send(c, "\x00", 1, 0));
        if (i % 16 == 15)
            rounds(1);
    }
    rounds();
    int taken = 0;
    for (const auto &c : s.road.tcp)
        taken += c.role == dnsr::TcpConn::kClient;
    ASSERT_EQ(cap, taken);
    int newest = connect_one();
    rounds();
    EXPECT_NE(nullptr, conn_of(newest)) << "a new client found no slot";
    EXPECT_TRUE(closed_by_proxy(clients[0])) << "the oldest sender kept its slot";
    EXPECT_FALSE(closed_by_proxy(clients[1]));
    taken = 0;
    for (const auto &c : s.road.tcp)
        taken += c.role == dnsr::TcpConn::kClient;
    EXPECT_EQ(cap, taken) << "clients went past their cap";
}

}  // namespace
