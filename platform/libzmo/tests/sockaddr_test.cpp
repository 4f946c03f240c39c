#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>

#include "zmo.h"

namespace {
zmo_ip_sockaddr_t make(sa_family_t family, const char *text, uint16_t port)
{
    zmo_ip_sockaddr_t sa;
    std::memset(&sa, 0, sizeof sa);
    sa.u.sa.sa_family = family;
    EXPECT_TRUE(zmo_ip_sockaddr_pton(text, &sa)) << text;
    zmo_ip_sockaddr_set_port(&sa, port);
    return sa;
}

TEST(SockAddr, RoundTripBothFamilies)
{
    EXPECT_EQ(sizeof(zmo_ip_sockaddr_t), 128u);
    const struct {
        sa_family_t family;
        const char *text;
    } cases[] = {
        {AF_INET, "192.168.1.1"}, {AF_INET, "0.0.0.0"}, {AF_INET6, "fe80::1"}, {AF_INET6, "::ffff:10.0.0.1"}};
    for (const auto &c : cases) {
        zmo_ip_sockaddr_t sa = make(c.family, c.text, 5683);
        char buf[ZMO_IP_ADDRSTRLEN];
        ASSERT_NE(zmo_ip_sockaddr_ntop(&sa, buf, sizeof buf), nullptr);
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(zmo_ip_sockaddr_port(&sa), 5683);
    }
}

TEST(SockAddr, PortIsHostOrderAndStoredInNetworkOrder)
{
    zmo_ip_sockaddr_t sa = make(AF_INET, "127.0.0.1", 0x1234);
    EXPECT_EQ(sa.u.in.sin_port, htons(0x1234));
    EXPECT_EQ(zmo_ip_sockaddr_len(&sa), sizeof(struct sockaddr_in));
}

TEST(SockAddr, PtonFollowsThePresetFamilyAndRefusesJunk)
{
    zmo_ip_sockaddr_t sa;
    std::memset(&sa, 0, sizeof sa);
    sa.u.sa.sa_family = AF_INET;
    EXPECT_FALSE(zmo_ip_sockaddr_pton("::1", &sa));
    EXPECT_FALSE(zmo_ip_sockaddr_pton("1.2.3.4x", &sa));
    EXPECT_FALSE(zmo_ip_sockaddr_pton("256.1.1.1", &sa));
    sa.u.sa.sa_family = AF_UNSPEC;
    EXPECT_FALSE(zmo_ip_sockaddr_pton("1.2.3.4", &sa));
}

TEST(SockAddr, Equality)
{
    zmo_ip_sockaddr_t a = make(AF_INET, "10.0.0.1", 53), b = make(AF_INET, "10.0.0.1", 54),
                      c = make(AF_INET, "10.0.0.2", 53), d = make(AF_INET6, "::1", 53);
    EXPECT_TRUE(zmo_ip_sockaddr_is_equal(&a, &a));
    EXPECT_FALSE(zmo_ip_sockaddr_is_equal(&a, &b));
    EXPECT_TRUE(zmo_ip_sockaddr_address_is_equal(&a, &b));  // port ignored
    EXPECT_FALSE(zmo_ip_sockaddr_address_is_equal(&a, &c));
    EXPECT_FALSE(zmo_ip_sockaddr_address_is_equal(&a, &d));
}

TEST(SockAddr, AnyAddresses)
{
    char buf[ZMO_IP_ADDRSTRLEN];
    EXPECT_STREQ(zmo_ip_sockaddr_ntop(ZMO_IP_SOCKADDR_ANY, buf, sizeof buf), "0.0.0.0");
    EXPECT_STREQ(zmo_ip_sockaddr_ntop(ZMO_IP_SOCKADDR_ANY6, buf, sizeof buf), "::");
    EXPECT_EQ(zmo_ip_sockaddr_port(ZMO_IP_SOCKADDR_ANY), 0);
    char small[4];
    EXPECT_EQ(zmo_ip_sockaddr_ntop(ZMO_IP_SOCKADDR_ANY6, small, 2), nullptr);
    (void)small;
}
}  // namespace
