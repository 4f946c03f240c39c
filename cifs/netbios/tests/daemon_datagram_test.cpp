// Datagram service of the daemon: listeners, forwarding of local group
// datagrams, and the error answer to unique datagrams for unknown names.
#include "daemon_env.h"

#include "nschannel.h"

namespace ndtest {
namespace {

class Datagrams : public DaemonTest {
protected:
    void SetUp() override
    {
        DaemonTest::SetUp();
        if (IsSkipped())
            return;
        // WIDGET<00> held locally (suffix 0x01 stays off the wire).
        CMNetBiosNameInfo n = nbtest::name("WIDGET", 0x01);
        uint8_t buffer[ND_BUFFER_SIZE];
        int len = frameInternalNameRegistrationRequest(buffer, &n);
        ASSERT_GT(len, 0);
        arrive(&requester, Bytes(buffer, buffer + len), ip("127.0.0.1"), portOf(client));
        ASSERT_EQ(ndNameProcessInternalMessage(&requester), 0);
        ASSERT_EQ(be16(receive(client), 2), 0xA800);
    }
    static Bytes datagram(uint8_t type, const Bytes &source, const Bytes &destination, const Bytes &user)
    {
        Bytes d{type, 0x02, 0x12, 0x34, 127, 1, 0, 7, 0, 138, 0, 0, 0, 0};
        d.insert(d.end(), source.begin(), source.end());
        d.insert(d.end(), destination.begin(), destination.end());
        d.insert(d.end(), user.begin(), user.end());
        return d;
    }
    static Bytes distributor()
    {
        CMNetBiosNameInfo n{};
        std::memcpy(n.name, "TARQUENIX NBT DD", 16);
        uint8_t out[CM_NB_ENCODED_NAME_MAX];
        uint32_t len = cmNetBiosEncodeName(&n, out);
        return Bytes(out, out + len);
    }
    // listen: u16 1, u16 17, u16 kind 1, port, "*123456789012345", 0, pid
    static Bytes listenData(uint16_t port)
    {
        Bytes u{1, 0, 17, 0, 1, 0, static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
        const char tail[] = "*123456789012345";
        u.insert(u.end(), tail, tail + 17);
        u.insert(u.end(), {1, 0, 0, 0});
        return u;
    }
    int listenFor(const char *text, uint8_t suffix, int s)
    {
        arrive(&requester, datagram(0x10, encoded(text, suffix), distributor(), listenData(ntohs(portOf(s)))),
               ip("127.0.0.1"), portOf(client));
        return ndDatagramProcessInternalMessage(&requester);
    }
    int fromPeer(const Bytes &d, uint16_t port)
    {
        NDAdapter *a = adapter(ip("127.1.0.1"));
        arrive(a, d, ip("127.1.0.7"), port);
        return ndDatagramProcessExternalMessage(a);
    }
};

TEST_F(Datagrams, ListenRepliesAcceptedForOwnNamesAndA4ForOthers)
{
    int listener = udp("127.0.0.1", 0);
    const struct {
        const char *text;
        uint16_t status;
    } cases[] = {{"WIDGET", 7}, {"STRANGER", 0xA4}};
    for (const auto &c : cases) {
        ASSERT_EQ(listenFor(c.text, 0x01, listener), 1);
        sockaddr_in from{};
        Bytes reply = receive(client, 300, &from);
        ASSERT_GE(reply.size(), 14u + 6) << c.text;
        EXPECT_EQ(Bytes(reply.begin() + 14, reply.begin() + 14 + distributor().size()), distributor());
        EXPECT_EQ(reply[reply.size() - 6], 1);
        EXPECT_EQ(reply[reply.size() - 2] | reply[reply.size() - 1] << 8, c.status) << c.text;
    }
    close(listener);
}

TEST_F(Datagrams, ADatagramToAnOwnNameReachesEachListenerOnce)
{
    int one = udp("127.0.0.1", 0);
    int two = udp("127.0.0.1", 0);
    ASSERT_EQ(listenFor("WIDGET", 0x01, one), 1);
    ASSERT_EQ(listenFor("WIDGET", 0x01, two), 1);
    ASSERT_EQ(listenFor("WIDGET", 0x01, two), 1);  // asked twice, recorded once
    while (!receive(client, 20).empty()) {
    }
    Bytes d = datagram(0x10, encoded("PEER", 0x00), encoded("WIDGET", 0x01), nbtest::text_bytes("hello"));
    EXPECT_EQ(fromPeer(d, htons(138)), 0);
    EXPECT_EQ(receive(one), d);
    EXPECT_EQ(receive(two), d);
    EXPECT_TRUE(receive(two, 50).empty());
    // Broadcast datagrams are not delivered locally.
    EXPECT_EQ(fromPeer(datagram(0x12, encoded("PEER", 0), encoded("WIDGET", 0x01), Bytes{1}), htons(138)),
              -1);
    EXPECT_TRUE(receive(one, 50).empty());
    close(one);
    close(two);
}

TEST_F(Datagrams, AUniqueDatagramToAnUnknownNameGetsAnElevenByteError)
{
    int peer = udp("127.1.0.7", 0);
    Bytes d = datagram(0x10, encoded("PEER", 0), encoded("NOBODY", 0x20), nbtest::text_bytes("x"));
    EXPECT_EQ(fromPeer(d, portOf(peer)), 0);
    Bytes error = receive(peer);
    ASSERT_EQ(error.size(), 11u);
    EXPECT_EQ(error[0], 0x13);
    EXPECT_EQ(Bytes(error.begin() + 1, error.begin() + 10), Bytes(d.begin() + 1, d.begin() + 10));
    EXPECT_EQ(error[10], 0x82);
    // A group datagram to an unknown name is dropped silently.
    d[0] = 0x11;
    EXPECT_EQ(fromPeer(d, portOf(peer)), 0);
    EXPECT_TRUE(receive(peer, 50).empty());
    close(peer);
}

TEST_F(Datagrams, ALocalGroupDatagramLeavesOncePerAdapterWithItsSource)
{
    load({{ip("127.1.0.1"), ip("127.1.0.255"), ip("255.255.255.0")},
          {ip("127.4.0.1"), ip("127.4.0.255"), ip("255.255.255.0")}});
    Bytes d = datagram(0x11, encoded("WIDGET", 0x01), encoded("TEAM", 0x1E), nbtest::text_bytes("all"));
    arrive(&requester, d, ip("127.0.0.1"), portOf(client));
    EXPECT_EQ(ndDatagramProcessInternalMessage(&requester), 1);
    std::vector<Bytes> sources;
    for (Bytes got; !(got = receive(network138, 100)).empty();)
        sources.push_back(Bytes(got.begin() + 4, got.begin() + 10));
    const Bytes p138{0, 138};
    Bytes first{127, 1, 0, 1}, second{127, 4, 0, 1};
    first.insert(first.end(), p138.begin(), p138.end());
    second.insert(second.end(), p138.begin(), p138.end());
    EXPECT_EQ(sources, (std::vector<Bytes>{first, second}));
}

}  // namespace
}  // namespace ndtest
