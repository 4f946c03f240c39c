// The pools of upstream sockets and the kernel's random numbers behind them.
#include "upstream_pool.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <set>

namespace {

std::set<uint16_t> ports_of(const dnsr::UpstreamPool &pool)
{
    std::set<uint16_t> ports;
    for (const auto &s : pool.live())
        ports.insert(s.port);
    return ports;
}

}  // namespace

TEST(UpstreamPool, SixtyFourSocketsOnDistinctPorts)
{
    dnsr::KernelRandom random;
    dnsr::UpstreamPool pool(random);
    ASSERT_TRUE(pool.open(AF_INET, dnsr::UpstreamPool::kSize));
    EXPECT_EQ(dnsr::UpstreamPool::kSize, pool.live().size());
    EXPECT_EQ(dnsr::UpstreamPool::kSize, ports_of(pool).size());
    EXPECT_GE(pool.poll_fd(), 0);
    std::set<uint32_t> ids;
    for (const auto &s : pool.live())
        ids.insert(s.id);
    EXPECT_EQ(dnsr::UpstreamPool::kSize, ids.size());
}

TEST(UpstreamPool, SocketRetiresAfterItsBudgetAndClosesWhenSettled)
{
    dnsr::KernelRandom random;
    dnsr::UpstreamPool pool(random);
    ASSERT_TRUE(pool.open(AF_INET, 4));
    const uint32_t first = pool.live()[0].id;
    const uint16_t first_port = pool.live()[0].port;
    int sends = 0;
    while (pool.live()[0].id == first && sends < 200) {
        pool.sent(0, 60000);
        sends++;
    }
    EXPECT_GE(sends, 16);
    EXPECT_LE(sends, 127);
    EXPECT_NE(first_port, pool.live()[0].port);
    ASSERT_EQ(1u, pool.retired_count());
    // Its tries are still out: it stays open for their answers.
    pool.sweep();
    EXPECT_EQ(1u, pool.retired_count());
    for (int i = 0; i < sends; i++)
        pool.settle(first, 0);
    pool.sweep();
    EXPECT_EQ(0u, pool.retired_count());
}

TEST(UpstreamPool, RetiredSocketClosesAtItsTimeEvenWithTriesOut)
{
    dnsr::KernelRandom random;
    dnsr::UpstreamPool pool(random);
    ASSERT_TRUE(pool.open(AF_INET, 2));
    pool.sent(0, 0);
    pool.rotate(0);
    pool.sent(1, 0);
    pool.rotate(0);
    pool.sweep();
    EXPECT_EQ(0u, pool.retired_count());
    EXPECT_EQ(2u, pool.live().size());
}

TEST(UpstreamPool, RetiredSocketsAreBounded)
{
    dnsr::KernelRandom random;
    dnsr::UpstreamPool pool(random);
    ASSERT_TRUE(pool.open(AF_INET, 8));
    for (int i = 0; i < 500; i++) {
        pool.sent(size_t(i) % 8, 60000);
        pool.rotate(60000);
    }
    EXPECT_EQ(dnsr::UpstreamPool::kMaxRetired, pool.retired_count());
    EXPECT_EQ(8u, pool.live().size());
    // With no room to retire, a socket spends its whole budget and stays.
    uint32_t spent = pool.live()[0].id;
    for (int i = 0; i < 128; i++)
        pool.sent(0, 60000);
    ASSERT_EQ(spent, pool.live()[0].id);
    // Once the retired ones close, it retires at its very next query.
    for (uint32_t id = 1; id < 1000; id++)
        for (int k = 0; k < 200; k++)
            pool.settle(id, dnsr::UpstreamPool::kSize);
    pool.sweep();
    EXPECT_EQ(0u, pool.retired_count());
    pool.sent(0, 60000);
    EXPECT_NE(spent, pool.live()[0].id) << "a spent socket stayed live";
}

TEST(UpstreamPool, PinnedPortIsOneSocketThatStays)
{
    // A free port to pin to.
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ASSERT_EQ(0, bind(probe, reinterpret_cast<sockaddr *>(&a), sizeof a));
    socklen_t l = sizeof a;
    getsockname(probe, reinterpret_cast<sockaddr *>(&a), &l);
    uint16_t port = ntohs(a.sin_port);
    close(probe);

    dnsr::KernelRandom random;
    dnsr::UpstreamPool pool(random);
    ASSERT_TRUE(pool.open(AF_INET, dnsr::UpstreamPool::kSize, port));
    ASSERT_EQ(1u, pool.live().size());
    EXPECT_EQ(port, pool.live()[0].port);
    for (int i = 0; i < 1000; i++)
        pool.sent(0, 0);
    pool.rotate(0);
    EXPECT_EQ(port, pool.live()[0].port);
    EXPECT_EQ(0u, pool.retired_count());
}

TEST(UpstreamPool, ReadySocketsAreReportedWithTheirIds)
{
    dnsr::KernelRandom random;
    dnsr::UpstreamPool pool(random);
    ASSERT_TRUE(pool.open(AF_INET, 4));
    int fds[dnsr::UpstreamPool::kSize];
    uint32_t ids[dnsr::UpstreamPool::kSize];
    EXPECT_EQ(0u, pool.ready(fds, ids, dnsr::UpstreamPool::kSize));
    int out = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(pool.live()[2].port);
    ASSERT_EQ(1, sendto(out, "x", 1, 0, reinterpret_cast<sockaddr *>(&to), sizeof to));
    close(out);
    ASSERT_EQ(1u, pool.ready(fds, ids, dnsr::UpstreamPool::kSize));
    EXPECT_EQ(pool.live()[2].fd, fds[0]);
    EXPECT_EQ(pool.live()[2].id, ids[0]);
}

TEST(KernelRandom, BelowStaysInRangeAndBytesAreUniform)
{
    dnsr::KernelRandom random;
    for (uint32_t n : {1u, 2u, 3u, 64u, 1000u, 0x80000001u})
        for (int i = 0; i < 1000; i++)
            ASSERT_LT(random.below(n), n);
    // Chi-square of the high and low bytes of 16-bit draws, 255 degrees of
    // freedom: above 341 happens by chance once in a thousand runs.
    const int draws = 256 * 400;
    std::array<int, 256> hi{}, lo{};
    for (int i = 0; i < draws; i++) {
        uint16_t v = random.next16();
        hi[v >> 8]++;
        lo[v & 0xff]++;
    }
    for (auto *bins : {&hi, &lo}) {
        double chi = 0, expect = draws / 256.0;
        for (int c : *bins)
            chi += (c - expect) * (c - expect) / expect;
        EXPECT_LT(chi, 341.0);
    }
}

TEST(UpstreamPool, IPv6PoolWhereTheHostHasIPv6)
{
    int probe = socket(AF_INET6, SOCK_DGRAM, 0);
    if (probe < 0)
        GTEST_SKIP() << "no IPv6 here";
    close(probe);
    dnsr::KernelRandom random;
    dnsr::UpstreamPool pool(random);
    ASSERT_TRUE(pool.open(AF_INET6, 8));
    EXPECT_EQ(8u, ports_of(pool).size());
    // An answer to ::1 reaches the socket it was sent to.
    int out = socket(AF_INET6, SOCK_DGRAM, 0);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = in6addr_loopback;
    to.sin6_port = htons(pool.live()[5].port);
    if (sendto(out, "x", 1, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) != 1) {
        close(out);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    close(out);
    int fds[dnsr::UpstreamPool::kSize];
    uint32_t ids[dnsr::UpstreamPool::kSize];
    ASSERT_EQ(1u, pool.ready(fds, ids, dnsr::UpstreamPool::kSize));
    EXPECT_EQ(pool.live()[5].id, ids[0]);
}
