// Bad peers: floods of malformed session requests and connections that
// close at once beside good ones, garbage datagrams to a listening slot, and
// forged answers on the name channel; the layer answers the good ones and
// loses nothing.
#include "layer_env.h"

#include "csbrowse.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace nbtest;

namespace {

int tcpConnect(uint16_t port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

Bytes goodRequest()
{
    Bytes body = fakend::encodeName(n16("nas", 0x20));
    Bytes calling = fakend::encodeName(n16("client", 0x00));
    body.insert(body.end(), calling.begin(), calling.end());
    Bytes r{0x81, 0, 0, static_cast<uint8_t>(body.size())};
    r.insert(r.end(), body.begin(), body.end());
    return r;
}

class Hostile : public LayerTest {};

TEST_F(Hostile, SessionRequestFlood)
{
    NSSocket *listener = csPrepareSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
    ASSERT_NE(listener, nullptr);
    std::mt19937 random(7);
    const Bytes good = goodRequest();
    int accepted = 0;
    for (int i = 0; i < 300; ++i) {
        int c = tcpConnect(139);
        ASSERT_GE(c, 0);
        Bytes junk;
        switch (i % 4) {
        case 0:  // random bytes
            junk.resize(random() % 200 + 1);
            for (auto &b : junk)
                b = static_cast<uint8_t>(random());
            break;
        case 1:  // a good request cut anywhere
            junk.assign(good.begin(), good.begin() + static_cast<long>(random() % good.size()));
            break;
        case 2:  // a good request with one byte changed
            junk = good;
            junk[random() % junk.size()] = static_cast<uint8_t>(random());
            break;
        default:  // good
            junk = good;
        }
        if (!junk.empty())
            send(c, junk.data(), junk.size(), 0);
        // Half of them hang up without waiting for the answer.
        if (i % 2 == 0)
            shutdown(c, SHUT_RDWR);
        NSSocket *slot = nsAccept(listener, nullptr);
        ASSERT_NE(slot, nullptr);
        if (nsPostAccept(&slot) == 0) {
            ++accepted;
            nsClose(slot);
        }
        close(c);
    }
    // Every untouched good request that stayed connected was taken.
    EXPECT_GE(accepted, 300 / 4 / 2);
    // And the listener serves on.
    int c = tcpConnect(139);
    send(c, good.data(), good.size(), 0);
    NSSocket *slot = nsAccept(listener, nullptr);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(nsPostAccept(&slot), 0);
    nsClose(slot);
    close(c);
    nsClose(listener);
}

TEST_F(Hostile, GarbageDatagramsToAListeningSlot)
{
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    CMNetBiosNameInfo fred = name("fred", 0x20);
    ASSERT_EQ(nsBindNetBios(slot, &fred, 1), 0);
    ASSERT_EQ(nsListen(slot, 3), 0);
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = slot->port;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::mt19937 random(11);
    for (int i = 0; i < 500; ++i) {
        Bytes junk(random() % 1500 + 1);
        for (auto &b : junk)
            b = static_cast<uint8_t>(random());
        if (i % 3 == 0)
            junk[0] = 0x11;  // a datagram type, the rest garbage
        sendto(s, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        uint8_t out[64];
        EXPECT_EQ(nsRecvFromName(slot, out, sizeof out, nullptr), -1);
    }
    Bytes b(NS_DATAGRAM_BUFFER_SIZE);
    NSSocket other{};
    other.name = name("bob", 0x20);
    int n = frameComposeDatagram(b.data(), &other, 0x11, &other.name, &fred, "ok", 2);
    sendto(s, b.data(), static_cast<size_t>(n), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    uint8_t out[8];
    EXPECT_EQ(nsRecvFromName(slot, out, sizeof out, nullptr), 2);
    close(s);
    nsClose(slot);
}

TEST_F(Hostile, ForgedChannelAnswersCountAsFailedAttempts)
{
    // The first request is held; junk reaches the requester's socket first
    // and costs that attempt; the second request is answered.
    daemon.holdNames = 1;
    std::thread registering([] {
        CMNetBiosNameInfo fred = name("fred", 0x20);
        EXPECT_EQ(nsRegisterName(&fred), 0);
    });
    ASSERT_TRUE(daemon.waitFor(1026, 1));
    sockaddr_in requester = daemon.lastNameRequester();
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    const uint8_t junk[] = {0x80, 0x00, 0xA8};
    sendto(s, junk, sizeof junk, 0, reinterpret_cast<sockaddr *>(&requester), sizeof requester);
    registering.join();
    EXPECT_EQ(daemon.seenOn(1026).size(), 2u);
    EXPECT_TRUE(daemon.holds(n16("fred", 0x20)));
    close(s);
}

}  // namespace
