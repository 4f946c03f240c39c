#include <gtest/gtest.h>

#include <dlfcn.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "zmo.h"

namespace {
// Runs once just before the next bind(), to put traffic in the gap between
// socket() and bind() of an open.
std::function<void()> g_before_bind;
}  // namespace

extern "C" int bind(int fd, const struct sockaddr *addr, socklen_t len)
{
    using Fn = int (*)(int, const struct sockaddr *, socklen_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "bind"));
    if (g_before_bind) {
        std::function<void()> f;
        f.swap(g_before_bind);
        f();
    }
    return real(fd, addr, len);
}

namespace {
std::vector<uint8_t> test_frame(uint16_t ethertype)
{
    std::vector<uint8_t> frame(60, 0x5a);
    const uint8_t dst[6] = {0x02, 0, 0, 0, 0, 0x61};
    std::memcpy(frame.data(), dst, 6);
    std::memset(frame.data() + 6, 0, 6);
    frame[12] = static_cast<uint8_t>(ethertype >> 8);
    frame[13] = static_cast<uint8_t>(ethertype);
    return frame;
}

// Loopback carries raw frames back to this host without leaving it; the
// veth case between two namespaces is the end-to-end scenario's.
TEST(MacSocket, FrameOverLoopbackArrivesIntact)
{
    int ifindex = static_cast<int>(if_nametoindex("lo"));
    ASSERT_GT(ifindex, 0);
    int rx = -1, tx = -1;
    zmo_mac_addr_t own;
    if (!zmo_mac_socket_open(&rx, 0x6121, &ifindex, &own)) {
        if (errno == EPERM)
            GTEST_SKIP() << "raw sockets need CAP_NET_RAW";
        FAIL() << zmo_sys_strerror(errno);
    }
    ASSERT_TRUE(zmo_mac_socket_open(&tx, 0x6121, &ifindex, nullptr));
    zmo_mac_addr_t zero;
    zmo_mac_addr_init(&zero);
    EXPECT_TRUE(zmo_mac_addr_is_equal(&own, &zero));  // loopback's own address

    std::vector<uint8_t> frame(60);
    const uint8_t dst[6] = {0x02, 0, 0, 0, 0, 0x61};
    std::memcpy(frame.data(), dst, 6);
    std::memcpy(frame.data() + 6, own.bytes, 6);
    frame[12] = 0x61;
    frame[13] = 0x21;
    for (size_t i = 14; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7);
    zmo_mac_addr_t to;
    zmo_mac_addr_assign_array(&to, dst, 6);
    ASSERT_EQ(zmo_mac_socket_send(tx, frame.data(), frame.size(), 0, ifindex, &to),
              static_cast<ssize_t>(frame.size()));

    struct pollfd p = {rx, POLLIN, 0};
    ASSERT_EQ(zmo_poll(&p, 1, 2000), 1);
    std::vector<uint8_t> buf(1600);
    zmo_mac_recv_info_t info;
    ssize_t n = zmo_mac_socket_recv(rx, buf.data(), buf.size(), 0, &info);
    ASSERT_EQ(n, static_cast<ssize_t>(frame.size()));
    buf.resize(static_cast<size_t>(n));
    EXPECT_EQ(buf, frame);
    EXPECT_EQ(info.ethertype, 0x6121);
    EXPECT_EQ(info.ifindex, ifindex);
    EXPECT_TRUE(zmo_mac_addr_is_equal(&info.destination, &to));
    zmo_mac_socket_close(&rx);
    zmo_mac_socket_close(&tx);
    EXPECT_EQ(rx, -1);
}

// A socket bound to one interface never hands out a frame of another one,
// not even one that arrived while it was being opened.
TEST(MacSocket, BoundSocketGetsNoFrameOfAnotherInterface)
{
    int lo = static_cast<int>(if_nametoindex("lo"));
    int other = 0;
    // An interface that is up: a socket bound to one that is down reports an error.
    int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct if_nameindex *names = if_nameindex();
    for (struct if_nameindex *n = names; n && n->if_index && !other; ++n) {
        struct ifreq ifr;
        std::memset(&ifr, 0, sizeof ifr);
        std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", n->if_name);
        if (static_cast<int>(n->if_index) != lo && ioctl(probe, SIOCGIFFLAGS, &ifr) == 0 &&
            (ifr.ifr_flags & IFF_UP))
            other = static_cast<int>(n->if_index);
    }
    if_freenameindex(names);
    close(probe);
    if (other == 0)
        GTEST_SKIP() << "no interface up besides loopback";
    int tx = -1;
    if (!zmo_mac_socket_open(&tx, 0x6123, &lo, nullptr)) {
        if (errno == EPERM)
            GTEST_SKIP() << "raw sockets need CAP_NET_RAW";
        FAIL() << zmo_sys_strerror(errno);
    }
    std::vector<uint8_t> frame = test_frame(0x6123);
    g_before_bind = [&] {
        EXPECT_EQ(zmo_mac_socket_send(tx, frame.data(), frame.size(), 0, lo, nullptr),
                  static_cast<ssize_t>(frame.size()));
    };
    int rx = -1;
    ASSERT_TRUE(zmo_mac_socket_open(&rx, 0x6123, &other, nullptr)) << zmo_sys_strerror(errno);
    EXPECT_FALSE(g_before_bind) << "the open did not bind";
    // Later loopback traffic must not reach it either.
    ASSERT_EQ(zmo_mac_socket_send(tx, frame.data(), frame.size(), 0, lo, nullptr),
              static_cast<ssize_t>(frame.size()));
    struct pollfd p = {rx, POLLIN, 0};
    EXPECT_EQ(zmo_poll(&p, 1, 200), 0) << "a loopback frame reached a socket bound elsewhere";
    zmo_mac_socket_close(&rx);
    zmo_mac_socket_close(&tx);
}

TEST(MacSocket, RefusesBadArguments)
{
    int s = -1, bad = -1;
    EXPECT_FALSE(zmo_mac_socket_open(&s, 0x6120, &bad, nullptr));
    EXPECT_EQ(errno, EINVAL);
    uint8_t tiny[10] = {};
    EXPECT_EQ(zmo_mac_socket_send(3, tiny, sizeof tiny, 0, 1, ZMO_MAC_ADDR_BROADCAST), -1);
    EXPECT_EQ(errno, EINVAL);
    int no_such = 1 << 20;
    if (zmo_mac_socket_open(&s, 0x6120, &no_such, nullptr)) {
        zmo_mac_socket_close(&s);
        FAIL() << "bound to an interface that does not exist";
    }
}
}  // namespace
