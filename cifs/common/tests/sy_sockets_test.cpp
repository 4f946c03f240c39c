// Sockets: ports in network order, waits, liveness, multicast, direct transfer.
#include "sysockets.h"
#include "syfiles.h"

#include "ud_test_env.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

class SocketsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs root for a network namespace";
    }
    void TearDown() override
    {
        for (int fd : fds)
            close(fd);
    }
    int keep(int fd)
    {
        if (fd >= 0)
            fds.push_back(fd);
        return fd;
    }

    // A listener on 127.0.0.1 at the given network-order port.
    int listener(uint16_t port)
    {
        int s = keep(syCreateSocket(1, 0));
        EXPECT_EQ(syBindSocket(s, &kLoopback, port), 0);
        EXPECT_EQ(syListenSocket(s, 4), 0);
        return s;
    }

    // A connected pair {client, accepted}.
    std::pair<int, int> connection(uint16_t port)
    {
        int l = listener(port);
        int c = keep(syCreateSocket(1, 0));
        EXPECT_EQ(syConnectSocket(c, &kLoopback, port), 0);
        uint32_t ip = 0;
        uint16_t peerPort = 0;
        int a = keep(syAcceptSocket(l, &ip, &peerPort));
        return {c, a};
    }

    static int option(int s, int level, int name)
    {
        int v = -1;
        socklen_t len = sizeof v;
        getsockopt(s, level, name, &v, &len);
        return v;
    }

    std::vector<int> fds;
};

TEST_F(SocketsTest, PortsStayInNetworkOrder)
{
    const uint16_t port445 = 48385;  // what 445 looks like swapped on this host
    ASSERT_EQ(htons(445), port445);
    int l = listener(port445);
    uint32_t ip = 0;
    uint16_t port = 0;
    syGetSocketPortAndIP(l, &ip, &port);
    EXPECT_EQ(port, port445);
    EXPECT_EQ(ip, kLoopback);

    int c = keep(syCreateSocket(1, 0));
    ASSERT_EQ(syConnectSocket(c, &kLoopback, port445), 0);
    uint16_t clientPort = 0;
    syGetSocketPortAndIP(c, nullptr, &clientPort);
    uint16_t peerPort = 0;
    ASSERT_GE(keep(syAcceptSocket(l, &ip, &peerPort)), 0);
    EXPECT_EQ(peerPort, clientPort);
    EXPECT_EQ(ip, kLoopback);

    // Datagrams: UDP 4445 is 23825 swapped.
    int u = keep(syCreateSocket(0, 0));
    ASSERT_EQ(syBindSocket(u, &kLoopback, htons(4445)), 0);
    EXPECT_EQ(htons(4445), 23825);
    int v = keep(syCreateSocket(0, 0));
    ASSERT_EQ(syBindSocket(v, &kLoopback, 0), 0);
    uint16_t senderPort = 0;
    syGetSocketPortAndIP(v, nullptr, &senderPort);
    ASSERT_EQ(sySendToSocket(v, "ping", 4, &kLoopback, 23825), 4);
    char buf[8];
    uint16_t from = 0;
    EXPECT_EQ(syRecvFromSocket(u, buf, sizeof buf, &ip, &from), 4);
    EXPECT_EQ(from, senderPort);

    syGetSocketPortAndIP(-1, &ip, &port);
    EXPECT_EQ(ip, 0u);
    EXPECT_EQ(port, 0u);
}

TEST_F(SocketsTest, OptionsOfBoundAndConnectedSockets)
{
    int u = keep(syCreateSocket(0, 0));
    EXPECT_EQ(syBindSocket(u, &kLoopback, 0), 0);  // the TCP option fails harmlessly
    EXPECT_EQ(option(u, SOL_SOCKET, SO_BROADCAST), 1);
    EXPECT_EQ(option(u, SOL_SOCKET, SO_TYPE), SOCK_DGRAM);

    auto [c, a] = connection(htons(7001));
    EXPECT_EQ(option(c, SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(option(c, IPPROTO_TCP, TCP_NODELAY), 1);
    int l = fds[fds.size() - 3];
    EXPECT_EQ(option(l, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(l, SOL_SOCKET, SO_TYPE), SOCK_STREAM);

    EXPECT_EQ(sySetClientSocketOptions(a), 0);
    struct timeval t {};
    socklen_t len = sizeof t;
    getsockopt(a, SOL_SOCKET, SO_RCVTIMEO, &t, &len);
    EXPECT_EQ(t.tv_sec, 10);
    EXPECT_GE(option(a, SOL_SOCKET, SO_RCVBUF), 394200);
}

void noop(int) {}

TEST_F(SocketsTest, SelectAndTimedReceive)
{
    int u = keep(syCreateSocket(0, 0));
    ASSERT_EQ(syBindSocket(u, &kLoopback, htons(7002)), 0);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(u, &set);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sySelectSocket(u, &set, 0), 0);
    char buf[8];
    EXPECT_EQ(syRecvSocketWithTimeout(u, buf, sizeof buf, 0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    // An interrupted wait is a time-out, not an error.
    struct sigaction sa {};
    sa.sa_handler = noop;
    sigaction(SIGUSR1, &sa, nullptr);
    pthread_t self = pthread_self();
    std::thread kicker([self] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pthread_kill(self, SIGUSR1);
    });
    FD_ZERO(&set);
    FD_SET(u, &set);
    EXPECT_EQ(sySelectSocket(u, &set, 5), 0);
    kicker.join();
    signal(SIGUSR1, SIG_DFL);

    ASSERT_EQ(sySendToSocket(u, "abc", 3, &kLoopback, htons(7002)), 3);
    FD_ZERO(&set);
    FD_SET(u, &set);
    EXPECT_EQ(sySelectSocket(u, &set, 1), 1);
    EXPECT_EQ(syRecvSocketWithTimeout(u, buf, sizeof buf, 1), 3);
}

TEST_F(SocketsTest, Liveness)
{
    auto [c, a] = connection(htons(7003));
    ASSERT_EQ(sySendSocket(c, "data", 4), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(syIsSocketAlive(a), 1);  // unread data alone
    syShutdownSocket(c);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(syIsSocketAlive(a), 1);  // a half-close alone

    auto [c2, a2] = connection(htons(7004));
    struct linger lg {
        1, 0
    };
    setsockopt(c2, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(c2);
    fds.erase(std::find(fds.begin(), fds.end(), c2));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(syIsSocketAlive(a2), 0);  // reset by the peer
}

TEST_F(SocketsTest, MulticastStaysInTheNamespace)
{
    const uint32_t group = inet_addr("224.0.0.251");
    int r = keep(syCreateSocket(0, 0));
    uint32_t any = 0;
    ASSERT_EQ(syBindSocket(r, &any, htons(7005)), 0);
    sySubscribeToMulticast(r, &group);
    int s = keep(syCreateSocket(0, 0));
    struct in_addr lo {
        kLoopback
    };
    setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &lo, sizeof lo);
    ASSERT_EQ(sySendMulticast(s, "hello", 5, &group, htons(7005)), 5);
    char buf[8];
    EXPECT_EQ(syRecvSocketWithTimeout(r, buf, sizeof buf, 2), 5);
}

TEST_F(SocketsTest, HostNames)
{
    EXPECT_EQ(syGetHostByName("127.0.0.1"), kLoopback);
    EXPECT_EQ(syGetHostByName("no-such-host.invalid"), 0u);
}

class TransferTest : public SocketsTest {
protected:
    void SetUp() override
    {
        SocketsTest::SetUp();
        if (IsSkipped())
            return;
        char tmpl[] = "/tmp/sydtXXXXXX";
        file = keep(mkstemp(tmpl));
        unlink(tmpl);
    }
    int file = -1;
};

TEST_F(TransferTest, FromSocketInChunks)
{
    auto [c, a] = connection(htons(7006));
    std::string data(70000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    std::thread sender([&, c = c] { sySendSocket(c, data.data(), static_cast<uint32_t>(data.size())); });
    uint32_t count = 70000;
    EXPECT_EQ(syDtFromSocket(a, file, &count), 0);
    sender.join();
    EXPECT_EQ(count, 70000u);
    std::string back(70000, '\0');
    EXPECT_EQ(pread(file, &back[0], back.size(), 0), 70000);
    EXPECT_EQ(back, data);
    count = 0;
    EXPECT_EQ(syDtFromSocket(a, file, &count), 0);
}

TEST_F(TransferTest, PeerClosingEarlyFailsInsteadOfWaiting)
{
    auto [c, a] = connection(htons(7007));
    struct timeval guard {
        5, 0
    };
    setsockopt(a, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    ASSERT_EQ(sySendSocket(c, std::string(1000, 'x').data(), 1000), 1000);
    close(c);
    fds.erase(std::find(fds.begin(), fds.end(), c));
    uint32_t count = 5000;
    errno = 0;
    EXPECT_EQ(syDtFromSocket(a, file, &count), -1);
    EXPECT_EQ(errno, ECONNRESET);
    EXPECT_EQ(count, 5000u);
}

TEST_F(TransferTest, ToSocketReportsShortTransfer)
{
    auto [c, a] = connection(htons(7008));
    ASSERT_EQ(pwrite(file, "0123456789", 10, 0), 10);
    lseek(file, 4, SEEK_SET);
    EXPECT_EQ(syDtStartPacket(a), 0);
    EXPECT_EQ(option(a, IPPROTO_TCP, TCP_CORK), 1);
    ASSERT_EQ(sySendSocket(a, "HDR", 3), 3);
    uint32_t count = 100;
    EXPECT_EQ(syDtToSocket(a, file, &count), 0);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(syDtEndPacket(a), 0);
    EXPECT_EQ(option(a, IPPROTO_TCP, TCP_CORK), 0);
    char buf[16] = {};
    int got = 0;
    while (got < 9) {
        int n = syRecvSocketWithTimeout(c, buf + got, sizeof buf - got, 2);
        if (n <= 0)
            break;
        got += n;
    }
    EXPECT_EQ(std::string(buf, got), "HDR456789");

    count = 10;
    EXPECT_EQ(syDtToSocket(a, -1, &count), -1);
    EXPECT_EQ(count, static_cast<uint32_t>(-1));
}

}  // namespace
