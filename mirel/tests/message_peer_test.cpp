#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <string>

#include "../src/message_internal.h"
#include "test_util.h"

using namespace mirel_test;

namespace {

void set_peer(struct CoAPMessage *m, int family, const char *ip, uint16_t port)
{
    struct sockaddr_storage ss {};
    ss.ss_family = static_cast<sa_family_t>(family);
    if (family == AF_INET) {
        auto *sin = reinterpret_cast<struct sockaddr_in *>(&ss);
        sin->sin_port = htons(port);
        inet_pton(AF_INET, ip, &sin->sin_addr);
    } else {
        auto *sin6 = reinterpret_cast<struct sockaddr_in6 *>(&ss);
        sin6->sin6_port = htons(port);
        inet_pton(AF_INET6, ip, &sin6->sin6_addr);
    }
    ASSERT_EQ(CoAPMessage_SetSockAddr(m, &ss), 0);
}

TEST(PeerKeys, FitTheLongestAddresses)
{
    struct Case {
        int family;
        const char *ip;
        uint16_t port;
        Bytes token;
        const char *peer, *window;
    } cases[] = {
        {AF_INET, "192.0.2.1", 5683, {}, "192.0.2.1:5683", "192.0.2.1:5683_"},
        {AF_INET, "10.0.200.9", 0, {0xff}, "10.0.200.9:0", "10.0.200.9:0_ff"},
        {AF_INET,
         "255.255.255.255",
         65535,
         {0x0a, 0xff},
         "255.255.255.255:65535",
         "255.255.255.255:65535_0aff"},
        {AF_INET6,
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
         65535,
         {1, 2, 3, 4, 5, 6, 7, 8},
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff:65535",
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff:65535_0102030405060708"},
    };
    for (const auto &c : cases) {
        Msg m(CoAPMessage(0, 1, 1));
        set_peer(m.get(), c.family, c.ip, c.port);
        if (!c.token.empty())
            CoAPMessage_SetToken(m.get(), c.token.data(), c.token.size());
        char peer[mirel::kPeerKeySize];
        char window[mirel::kWindowKeySize];
        ASSERT_EQ(mirel::peer_key_format(m.get(), peer, sizeof peer), 0) << c.ip;
        ASSERT_EQ(mirel::window_key_format(m.get(), window, sizeof window), 0) << c.ip;
        EXPECT_STREQ(peer, c.peer);
        EXPECT_STREQ(window, c.window);
    }
    Msg m(CoAPMessage(0, 1, 1));
    set_peer(m.get(), AF_INET, "255.255.255.255", 65535);
    char small[21];
    errno = 0;
    EXPECT_EQ(mirel::peer_key_format(m.get(), small, sizeof small), -1) << "never cut silently";
    EXPECT_EQ(errno, ENOSPC);
}

TEST(Equals, PeerAndBytes)
{
    Msg a(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 5));
    set_peer(a.get(), AF_INET, "192.0.2.1", 5683);
    CoAPMessage_AddOptionString(a.get(), COAP_OPTION_URI_PATH, "x");
    CoAPMessage_AddOptionUint(a.get(), COAP_OPTION_ACCEPT, 40);
    Msg b(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 5));
    set_peer(b.get(), AF_INET, "192.0.2.1", 5683);
    // Same options added in another order encode the same.
    CoAPMessage_AddOptionUint(b.get(), COAP_OPTION_ACCEPT, 40);
    CoAPMessage_AddOptionString(b.get(), COAP_OPTION_URI_PATH, "x");
    EXPECT_EQ(CoAPMessage_Equals(a.get(), b.get()), 1);

    set_peer(b.get(), AF_INET, "192.0.2.1", 5684);
    EXPECT_EQ(CoAPMessage_Equals(a.get(), b.get()), 0);
    set_peer(b.get(), AF_INET, "192.0.2.1", 5683);
    CoAPMessage_SetPayload(b.get(), "p", 1);
    EXPECT_EQ(CoAPMessage_Equals(a.get(), b.get()), 0);
    errno = 0;
    EXPECT_EQ(CoAPMessage_Equals(a.get(), nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
