// Shared by the daemon's tests: the daemon's tables on adapters given by
// the test, in a network namespace of the process's own. One "network"
// socket on UDP 137 and one on 138 (bound to any) hear everything the
// daemon sends to an adapter's broadcast address or a WINS server, and a
// "client" socket on 127.0.0.1 plays a local process.
#ifndef NETBIOS_DAEMON_ENV_H
#define NETBIOS_DAEMON_ENV_H

#include "layer_env.h"

#include "../src/nd_internal.h"
#include "ndpackets.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace ndtest {

using nbtest::Bytes;

inline uint32_t ip(const char *text) { return inet_addr(text); }

// A UDP socket bound to address:port (port host order; 0 ephemeral).
inline int udp(const char *address, uint16_t port)
{
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(address);
    a.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

inline uint16_t portOf(int s)
{
    sockaddr_in a{};
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &n);
    return a.sin_port;
}

// The next datagram on s within ms, empty when none; from gets its sender.
inline Bytes receive(int s, int ms = 300, sockaddr_in *from = nullptr)
{
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return {};
    uint8_t buffer[2048];
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ssize_t got = recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&a), &n);
    if (from != nullptr)
        *from = a;
    return got > 0 ? Bytes(buffer, buffer + got) : Bytes{};
}

inline uint16_t be16(const Bytes &b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

class DaemonTest : public nbtest::HookedTest {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace";
        if (!wins.empty())
            cmConfig = "WINS=" + wins + "\n";
        nbtest::HookedTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(nsInit(0, 4), 0);
        started = true;
        ASSERT_EQ(ndNameInit(), 0);
        ASSERT_EQ(ndDatagramInit(), 0);
        ASSERT_EQ(ndAdapterListInit(), 0);
        network = udp("0.0.0.0", udGetPort(137));
        network138 = udp("0.0.0.0", udGetPort(138));
        client = udp("127.0.0.1", 0);
        daemonName = udp("127.0.0.1", 0);
        daemonDatagram = udp("127.0.0.1", 0);
        ASSERT_GE(network, 0);
        ASSERT_GE(network138, 0);
        ASSERT_GE(client, 0);
        load({{ip("127.1.0.1"), ip("127.1.0.255"), ip("255.255.255.0")}});
        requester.ip = 0;
        requester.nameSocket = daemonName;
        requester.datagramSocket = daemonDatagram;
        requester.recv = receiveBuffer;
        requester.send = sendBuffer;
    }
    void TearDown() override
    {
        for (int s : {network, network138, client, daemonName, daemonDatagram})
            if (s >= 0)
                close(s);
        ndAdapterListStop();
        ndDatagramStop();
        ndNameStop();
        if (started)
            nsExit(0, 4);
        nbtest::HookedTest::TearDown();
    }
    void load(const std::vector<NDSelfAddress> &addresses)
    {
        ASSERT_EQ(ndAdapterListLoadFrom(addresses), 0);
        for (NDAdapter *a; (a = ndAdapterGetNext()) != nullptr;) {
            a->nameSocket = daemonName;
            a->datagramSocket = daemonDatagram;
            a->recv = receiveBuffer;
            a->send = sendBuffer;
        }
    }
    NDAdapter *adapter(uint32_t address) { return ndFindAdapter(address | htonl(0xFF), nullptr); }
    // A message arriving on adapter a from src:port.
    void arrive(NDAdapter *a, const Bytes &message, uint32_t src, uint16_t portNetworkOrder)
    {
        ASSERT_LE(message.size(), sizeof receiveBuffer);
        if (!message.empty())
            std::memcpy(receiveBuffer, message.data(), message.size());
        a->recv = receiveBuffer;
        a->length = static_cast<uint32_t>(message.size());
        a->srcIp = src;
        a->srcPort = portNetworkOrder;
        a->word = 0;
    }
    // A request of the loopback name channel from the client socket.
    void fromClient(const Bytes &message) { arrive(&requester, message, ip("127.0.0.1"), portOf(client)); }
    // A name service message: header (id, flags, counts) and what follows.
    static Bytes header(uint16_t id, uint16_t flags, uint16_t qd, uint16_t an, uint16_t ns, uint16_t ar)
    {
        return Bytes{static_cast<uint8_t>(id >> 8),
                     static_cast<uint8_t>(id),
                     static_cast<uint8_t>(flags >> 8),
                     static_cast<uint8_t>(flags),
                     0,
                     static_cast<uint8_t>(qd),
                     0,
                     static_cast<uint8_t>(an),
                     0,
                     static_cast<uint8_t>(ns),
                     0,
                     static_cast<uint8_t>(ar)};
    }
    static Bytes encoded(const char *text, uint8_t suffix)
    {
        CMNetBiosNameInfo n = nbtest::name(text, suffix);
        uint8_t out[CM_NB_ENCODED_NAME_MAX];
        uint32_t len = cmNetBiosEncodeName(&n, out);
        return Bytes(out, out + len);
    }
    // A response record: name, type, class 1, TTL, rdata.
    static Bytes response(uint16_t id, uint16_t flags, const char *text, uint8_t suffix, uint16_t type,
                          uint32_t ttl, const Bytes &rdata)
    {
        Bytes m = header(id, flags, 0, 1, 0, 0);
        Bytes n = encoded(text, suffix);
        m.insert(m.end(), n.begin(), n.end());
        Bytes rest{static_cast<uint8_t>(type >> 8),
                   static_cast<uint8_t>(type),
                   0,
                   1,
                   static_cast<uint8_t>(ttl >> 24),
                   static_cast<uint8_t>(ttl >> 16),
                   static_cast<uint8_t>(ttl >> 8),
                   static_cast<uint8_t>(ttl),
                   static_cast<uint8_t>(rdata.size() >> 8),
                   static_cast<uint8_t>(rdata.size())};
        m.insert(m.end(), rest.begin(), rest.end());
        m.insert(m.end(), rdata.begin(), rdata.end());
        return m;
    }
    static Bytes nb(uint16_t flags, const char *address)
    {
        uint32_t a = inet_addr(address);
        const auto *p = reinterpret_cast<const uint8_t *>(&a);
        return Bytes{static_cast<uint8_t>(flags >> 8), static_cast<uint8_t>(flags), p[0], p[1], p[2], p[3]};
    }

    std::string wins;  // set before SetUp for WINS adapters
    bool started = false;
    int network = -1, network138 = -1, client = -1, daemonName = -1, daemonDatagram = -1;
    uint8_t receiveBuffer[ND_BUFFER_SIZE]{};
    uint8_t sendBuffer[ND_BUFFER_SIZE]{};
    NDAdapter requester{};
};

}  // namespace ndtest

#endif
