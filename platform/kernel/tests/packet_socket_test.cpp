#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct Sent {
    std::vector<std::vector<unsigned char>> frames;
};

void record(void *ctx, const unsigned char *frame, size_t len)
{
    static_cast<Sent *>(ctx)->frames.emplace_back(frame, frame + len);
}

struct PacketSocket : ::testing::Test {
    Sent sent;
    struct socket *sock = nullptr;
    int ifindex = 0;
    void SetUp() override
    {
        kstandin_clock_use_fake(1'000'000'000);
        const unsigned char mac[6] = {2, 0, 0, 0, 0, 1};
        ifindex = kstandin_vdev_add("tst0", mac, record, &sent);
        ASSERT_GT(ifindex, 0);
        ASSERT_EQ(sock_create_kern(PF_PACKET, SOCK_RAW, htons(0x6120), &sock), 0);
        struct sockaddr_ll ll = {};
        ll.sll_family = AF_PACKET;
        ll.sll_protocol = htons(0x6120);
        ll.sll_ifindex = ifindex;
        ASSERT_EQ(kernel_bind(sock, reinterpret_cast<struct sockaddr *>(&ll), sizeof ll), 0);
    }
    void TearDown() override
    {
        sock_release(sock);
        kstandin_vdev_remove_all();
        kstandin_clock_use_real();
    }
    int recv(unsigned char *buf, size_t n, long timeout_jiffies)
    {
        sock->sk->sk_rcvtimeo = timeout_jiffies;
        struct kvec v = {buf, n};
        struct msghdr mh = {};
        return kernel_recvmsg(sock, &mh, &v, 1, n, 0);
    }
    static std::vector<unsigned char> frame(uint16_t type, unsigned char tag)
    {
        std::vector<unsigned char> f(24, 0);
        f[12] = static_cast<unsigned char>(type >> 8);
        f[13] = static_cast<unsigned char>(type);
        f[16] = tag;
        return f;
    }
};

TEST_F(PacketSocket, SendReachesTheDevice)
{
    unsigned char out[24] = {1, 2, 3};
    struct kvec v = {out, sizeof out};
    struct msghdr mh = {};
    EXPECT_EQ(kernel_sendmsg(sock, &mh, &v, 1, sizeof out), 24);
    ASSERT_EQ(sent.frames.size(), 1u);
    EXPECT_EQ(sent.frames[0][2], 3);
    kstandin_vdev_set_up("tst0", 0);
    EXPECT_EQ(kernel_sendmsg(sock, &mh, &v, 1, sizeof out), -ENETDOWN);
}

TEST_F(PacketSocket, ReceiveTimesOutOnTheFakeClock)
{
    unsigned char buf[64];
    int64_t t0 = kstandin_now_ns();
    EXPECT_EQ(recv(buf, sizeof buf, 3), -EAGAIN);  // 3 jiffies = 30 ms
    EXPECT_EQ(kstandin_now_ns() - t0, 30'000'000);
}

TEST_F(PacketSocket, DelayedFramesArriveInTimeOrderAndByProtocol)
{
    auto late = frame(0x6120, 2), early = frame(0x6120, 1), other = frame(0x0800, 9);
    kstandin_vdev_rx("tst0", late.data(), late.size(), 50'000'000);
    kstandin_vdev_rx("tst0", early.data(), early.size(), 5'000'000);
    kstandin_vdev_rx("tst0", other.data(), other.size(), 0);
    unsigned char buf[64];
    int64_t t0 = kstandin_now_ns();
    ASSERT_EQ(recv(buf, sizeof buf, 2), 24);  // the early one, 5 ms in
    EXPECT_EQ(buf[16], 1);
    EXPECT_EQ(kstandin_now_ns() - t0, 5'000'000);
    EXPECT_EQ(recv(buf, sizeof buf, 2), -EAGAIN);  // the late one is not due within 20 ms
    ASSERT_EQ(recv(buf, sizeof buf, 10), 24);
    EXPECT_EQ(buf[16], 2);
    EXPECT_EQ(kstandin_now_ns() - t0, 50'000'000);
    EXPECT_EQ(recv(buf, sizeof buf, 1), -EAGAIN);  // the IPv4 frame never matched
    // A short read keeps the frame's head.
    kstandin_vdev_rx("tst0", early.data(), early.size(), 0);
    EXPECT_EQ(recv(buf, 8, 1), 8);
}

}  // namespace
