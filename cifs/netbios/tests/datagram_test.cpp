// Datagrams: totals with and without a scope, the parser's refusals, and
// where a datagram to a unique or a group name goes.
#include "layer_env.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace nbtest;

namespace {

NSSocket fakeSlot(const char *text)
{
    NSSocket s{};
    s.type = NS_SOCKET_DATAGRAM;
    s.name = name(text, 0x20);
    s.ip = inet_addr("10.0.0.5");
    s.port = htons(138);
    return s;
}

class DatagramFrames : public HookedTest {};

TEST_F(DatagramFrames, TotalsWithoutScope)
{
    NSSocket slot = fakeSlot("fred");
    CMNetBiosNameInfo to = name("printer", 0x20);
    Bytes b(NS_DATAGRAM_BUFFER_SIZE + 8, 0xEE);
    for (uint32_t length : {0u, 1u, 100u, 1500u - 82u}) {
        SCOPED_TRACE(length);
        Bytes data(length, 'd');
        int n = frameComposeDatagram(b.data(), &slot, 0x11, &slot.name, &to, data.data(), length);
        ASSERT_EQ(n, static_cast<int>(14 + 68 + length));
        EXPECT_EQ((b[10] << 8) | b[11], n - 14);
        EXPECT_EQ(b[12] | b[13], 0);
    }
    errno = 0;
    Bytes over(1500 - 82 + 1, 'd');
    EXPECT_EQ(frameComposeDatagram(b.data(), &slot, 0x11, &slot.name, &to, over.data(),
                                   static_cast<uint32_t>(over.size())),
              -1);
    EXPECT_EQ(errno, NS_ERR_DATAGRAM);
    EXPECT_EQ(b[NS_DATAGRAM_BUFFER_SIZE], 0xEE);
}

class ScopedDatagrams : public HookedTest {
protected:
    void SetUp() override
    {
        cmConfig = "SCOPE_ID=corp.lan\n";
        HookedTest::SetUp();
    }
};

TEST_F(ScopedDatagrams, TotalsWithScopeAndTheRoundTrip)
{
    NSSocket slot = fakeSlot("fred");
    CMNetBiosNameInfo to = name("printer", 0x20);
    Bytes b(NS_DATAGRAM_BUFFER_SIZE);
    const std::string data = "payload";
    int n = frameComposeDatagram(b.data(), &slot, 0x10, &slot.name, &to, data.data(), 7);
    // 14 + data + 2 x (scope length + 35)
    ASSERT_EQ(n, static_cast<int>(14 + 7 + 2 * (8 + 35)));
    CMNetBiosNameInfo source{};
    uint8_t out[16] = {};
    EXPECT_EQ(frameParseDatagram(b.data(), static_cast<uint32_t>(n), &source, out, sizeof out, &to), 7);
    EXPECT_EQ(std::string(source.name, 16), n16("fred", 0x20));
    EXPECT_EQ(std::string(out, out + 7), data);
}

TEST_F(DatagramFrames, ParserRefusals)
{
    NSSocket slot = fakeSlot("fred");
    CMNetBiosNameInfo to = name("printer", 0x20);
    Bytes good(NS_DATAGRAM_BUFFER_SIZE);
    int n = frameComposeDatagram(good.data(), &slot, 0x11, &slot.name, &to, "0123456789", 10);
    good.resize(static_cast<size_t>(n));
    auto with = [&](size_t at, uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
    auto cut = [&](size_t size) { return Bytes(good.begin(), good.begin() + size); };
    const struct {
        const char *what;
        Bytes bytes;
        int result;
        int error;
    } cases[] = {
        {"whole", good, 8, 0},
        {"data cut to the maximum", good, 8, 0},
        {"names only", cut(82), 0, 0},
        {"type 0x12", with(0, 0x12), -1, NS_ERR_DATAGRAM_TYPE},
        {"empty", Bytes{}, -1, NS_ERR_DATAGRAM_TYPE},
        {"header cut", cut(10), -1, NS_ERR_BAD_SOURCE},
        {"source cut", cut(30), -1, NS_ERR_BAD_SOURCE},
        {"source pointing out of the packet", with(14, 0xFF), -1, NS_ERR_BAD_SOURCE},
        {"destination cut", cut(60), -1, NS_ERR_BAD_DESTINATION},
        {"another destination", with(20 + 34, 'D'), -1, NS_ERR_BAD_DESTINATION},
        {"destination pointing forward", with(48, 0xC0), -1, NS_ERR_BAD_DESTINATION},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t out[8];
        CMNetBiosNameInfo source{};
        errno = 0;
        EXPECT_EQ(frameParseDatagram(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), &source, out,
                                     sizeof out, &to),
                  c.result);
        if (c.result < 0) {
            EXPECT_EQ(errno, c.error);
        }
    }
    // Without a source output the source name is only skipped.
    uint8_t out[16];
    EXPECT_EQ(
        frameParseDatagram(good.data(), static_cast<uint32_t>(good.size()), nullptr, out, sizeof out, &to),
        10);
}

// A receiver on UDP 138 of 127.0.0.1 inside the test's namespace.
class Datagrams : public LayerTest {
protected:
    void prepare() override
    {
        daemon.queryAnswers[n16("printer", 0x20)] = text_bytes(std::string("\x00\x00\x7F\x00\x00\x01", 6));
    }
    int receiver(uint16_t port)
    {
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        return s;
    }
    Bytes receive(int s)
    {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, 2000) != 1)
            return {};
        Bytes b(2000);
        ssize_t n = recv(s, b.data(), b.size(), 0);
        b.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return b;
    }
};

TEST_F(Datagrams, UniqueNameGoesStraightToItsAddress)
{
    int r = receiver(138);
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    CMNetBiosNameInfo fred = name("fred", 0x20);
    ASSERT_EQ(nsBindNetBios(slot, &fred, 1), 0);
    CMNetBiosNameInfo printer = name("printer", 0x20);
    EXPECT_GT(nsSendToName(slot, "job", 3, &printer), 0);
    Bytes got = receive(r);
    ASSERT_EQ(got.size(), 14u + 68u + 3u);
    EXPECT_EQ(fakend::decodeName(got, 48), n16("printer", 0x20));
    EXPECT_TRUE(daemon.seenOn(1027).empty());
    // Unknown to the daemon: no address.
    CMNetBiosNameInfo nobody = name("nobody", 0x20);
    errno = 0;
    EXPECT_EQ(nsSendToName(slot, "job", 3, &nobody), -1);
    EXPECT_EQ(errno, NS_ERR_NO_ADDRESS);
    // Too big for the compose buffer, sent to an address.
    uint32_t ip = inet_addr("127.0.0.1");
    Bytes big(1500, 'x');
    errno = 0;
    EXPECT_EQ(nsSendTo(slot, big.data(), static_cast<uint32_t>(big.size()), &printer, &ip), -1);
    EXPECT_EQ(errno, NS_ERR_DATAGRAM);
    CMNetBiosNameInfo star = name("*", 0);
    errno = 0;
    EXPECT_EQ(nsSendTo(slot, "x", 1, &star, &ip), -1);
    EXPECT_EQ(errno, NS_ERR_BAD_NAME);
    errno = 0;
    EXPECT_EQ(nsSendTo(slot, "x", 1, &printer, nullptr), -1);
    EXPECT_EQ(errno, NS_ERR_NO_ADDRESS);
    nsClose(slot);
    close(r);
}

TEST_F(Datagrams, ReceivedForUsOrForSomeoneElse)
{
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    CMNetBiosNameInfo fred = name("fred", 0x20);
    ASSERT_EQ(nsBindNetBios(slot, &fred, 1), 0);
    int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = slot->port;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    NSSocket other{};
    other.name = name("bob", 0x20);
    for (const char *dest : {"fred", "george"}) {
        SCOPED_TRACE(dest);
        Bytes b(NS_DATAGRAM_BUFFER_SIZE);
        CMNetBiosNameInfo d = name(dest, 0x20);
        int n = frameComposeDatagram(b.data(), &other, 0x11, &other.name, &d, "hi", 2);
        sendto(sender, b.data(), static_cast<size_t>(n), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        uint8_t out[16];
        CMNetBiosNameInfo source{};
        errno = 0;
        int got = nsRecvFromName(slot, out, sizeof out, &source);
        if (std::string(dest) == "fred") {
            EXPECT_EQ(got, 2);
            EXPECT_EQ(std::string(source.name, 16), n16("bob", 0x20));
        } else {
            EXPECT_EQ(got, -1);
            EXPECT_EQ(errno, NS_ERR_BAD_DESTINATION);
        }
    }
    close(sender);
    nsClose(slot);
}

}  // namespace
