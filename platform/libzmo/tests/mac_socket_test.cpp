#include <gtest/gtest.h>

#include <net/if.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "zmo.h"

namespace {
// Loopback carries raw frames back to this host without leaving it; the
// veth case between two namespaces is the end-to-end scenario's.
TEST(MacSocket, FrameOverLoopbackArrivesIntact) {
  int ifindex = static_cast<int>(if_nametoindex("lo"));
  ASSERT_GT(ifindex, 0);
  int rx = -1, tx = -1;
  zmo_mac_addr_t own;
  if (!zmo_mac_socket_open(&rx, 0x6121, &ifindex, &own)) {
    if (errno == EPERM) GTEST_SKIP() << "raw sockets need CAP_NET_RAW";
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
  for (size_t i = 14; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
  zmo_mac_addr_t to;
  zmo_mac_addr_assign_array(&to, dst, 6);
  ASSERT_EQ(zmo_mac_socket_send(tx, frame.data(), frame.size(), 0, ifindex, &to), static_cast<ssize_t>(frame.size()));

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

TEST(MacSocket, RefusesBadArguments) {
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
