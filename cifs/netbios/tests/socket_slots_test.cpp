// Start-up counting, slots and their names, sets, the buffer rings, WINS
// lists and the names registered for other programs.
#include "layer_env.h"

#include "cminit.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

using namespace nbtest;

namespace {

class Slots : public LayerTest {};

TEST_F(Slots, InitCountsAndTheLastExitRemoves)
{
    ASSERT_EQ(nsInit(0, 4), 0);
    ASSERT_EQ(nsExit(0, 4), 0);
    // Still started: buffers and slots work.
    uint8_t *b = nsGetBuffer();
    ASSERT_NE(b, nullptr);
    nsPutBuffer(b);
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(std::string(slot->name.name, 16), n16("nas", 0x00));
    EXPECT_EQ(std::string(slot->peerName.name, 16), std::string(16, ' '));
    EXPECT_EQ(nsClose(slot), 0);
    ASSERT_EQ(nsExit(0, 4), 0);
    started = false;
    EXPECT_EQ(nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS), nullptr);
    EXPECT_EQ(errno, NS_ERR_NO_SLOT);
    EXPECT_EQ(nsGetBuffer(), nullptr);
    // And again from the start.
    ASSERT_EQ(nsInit(0, 4), 0);
    started = true;
}

TEST_F(Slots, HostNameSocketListensUnderTheHostName)
{
    ASSERT_EQ(nsInit(1, 4), 0);
    NSSocket *common = nsGetCommonDatagramSocket();
    ASSERT_NE(common, nullptr);
    EXPECT_EQ(std::string(common->name.name, 16), n16("nas", 0x00));
    EXPECT_EQ(std::string(common->peerName.name, 16), NS_LISTEN_PEER);
    EXPECT_TRUE(daemon.holds(n16("nas", 0x00)));
    // The domain's <00> as a group, once.
    EXPECT_TRUE(daemon.holds(n16("workgroup", 0x00)));
    ASSERT_EQ(nsExit(1, 4), 0);
    EXPECT_EQ(nsGetCommonDatagramSocket(), nullptr);
    EXPECT_FALSE(daemon.holds(n16("nas", 0x00)));
}

TEST_F(Slots, ClosingReleasesNamesOnlyOfBoundSessionSlots)
{
    NSSocket *unbound = nsSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
    ASSERT_NE(unbound, nullptr);
    EXPECT_EQ(nsClose(unbound), 0);
    EXPECT_TRUE(daemon.seen().empty());

    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    CMNetBiosNameInfo fred = name("fred", 0x20);
    ASSERT_EQ(nsBindNetBios(slot, &fred, 1), 0);
    EXPECT_TRUE(daemon.holds(n16("fred", 0x20)));
    EXPECT_EQ(nsClose(slot), 0);
    EXPECT_FALSE(daemon.holds(n16("fred", 0x20)));
    EXPECT_FALSE(daemon.holds(n16("workgroup", 0x00)));

    errno = 0;
    EXPECT_EQ(nsClose(nullptr), -1);
    EXPECT_EQ(errno, NS_ERR_NO_SOCKET);
    NSSocket *plain = nsSocket(NS_SOCKET_STREAM, NS_TRANSPORT_IP);
    errno = 0;
    EXPECT_EQ(nsListen(plain, 1), -1);
    EXPECT_EQ(errno, NS_ERR_NOT_BOUND);
    uint32_t lo = inet_addr("127.0.0.1");
    ASSERT_EQ(nsBindInet(plain, &lo, 0), 0);
    EXPECT_NE(plain->port, 0);
    EXPECT_EQ(nsListen(plain, 1), 0);
    EXPECT_EQ(nsClose(plain), 0);
}

TEST_F(Slots, SetsAndAliveness)
{
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_IP);
    NSSocketSet set;
    nsClearSocketSet(&set);
    int highest = -1;
    EXPECT_EQ(nsAddSocketToSet(&highest, &set, slot), 1);
    EXPECT_EQ(highest, nsGetSySocket(slot));
    EXPECT_EQ(nsSocketInSet(&set, slot), 1);
    nsClearSocketFromSet(&set, slot);
    EXPECT_EQ(nsSocketInSet(&set, slot), 0);
    EXPECT_EQ(nsSocketInSet(&set, nullptr), 0);
    EXPECT_EQ(nsAddSocketToSet(&highest, &set, nullptr), 0);
    EXPECT_EQ(nsIsSocketAlive(nullptr), 0);
    nsClose(slot);
}

TEST_F(Slots, TheSlotPoolDoesNotRunDry)
{
    std::vector<NSSocket *> slots;
    for (int i = 0; i < NS_SOCKET_POOL + 5; ++i) {
        NSSocket *s = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_IP);
        ASSERT_NE(s, nullptr);
        slots.push_back(s);
    }
    for (NSSocket *s : slots)
        EXPECT_EQ(nsClose(s), 0);
}

TEST_F(Slots, FifthBufferWaitsForOneToComeBack)
{
    uint8_t *held[NS_MESSAGE_BUFFERS];
    for (auto &b : held) {
        b = nsGetBuffer();
        ASSERT_NE(b, nullptr);
    }
    std::atomic<uint8_t *> fifth{nullptr};
    std::thread waiter([&] { fifth = nsGetBuffer(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(fifth.load(), nullptr);
    nsPutBuffer(held[2]);
    waiter.join();
    EXPECT_EQ(fifth.load(), held[2]);
    // After a reset all four are there again.
    nsResetBufferPool();
    std::set<uint8_t *> distinct;
    for (int i = 0; i < NS_MESSAGE_BUFFERS; ++i)
        distinct.insert(nsGetBuffer());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(NS_MESSAGE_BUFFERS));
    nsResetBufferPool();
}

TEST_F(Slots, NamesForOtherPrograms)
{
    EXPECT_EQ(vxRegisterNetBiosName("printer"), 0);
    EXPECT_TRUE(daemon.holds(n16("printer", 0x00)));
    EXPECT_TRUE(daemon.holds(n16("printer", 0x20)));
    EXPECT_EQ(vxReleaseNetBiosName("printer"), 0);
    EXPECT_FALSE(daemon.holds(n16("printer", 0x00)));
    EXPECT_FALSE(daemon.holds(n16("printer", 0x20)));
    EXPECT_EQ(vxRegisterNetBiosNameEx("scanner", 0x80 | 0x1E), 0);
    auto requests = daemon.seenOn(1026);
    ASSERT_FALSE(requests.empty());
    const Bytes &last = requests.back().bytes;
    EXPECT_EQ(fakend::decodeName(last, 12), n16("scanner", 0x1E));
    EXPECT_EQ(last[last.size() - 6], 0x80);  // group flag in the NB flags
    EXPECT_EQ(vxReleaseNetBiosNameEx("scanner", 0x80 | 0x1E), 0);
}

class RefusingSlots : public LayerTest {
protected:
    void prepare() override { daemon.refused.insert(n16("busy", 0x20)); }
};

TEST_F(RefusingSlots, SecondNameRefusedReleasesTheFirst)
{
    EXPECT_EQ(vxRegisterNetBiosName("busy"), -1);
    EXPECT_EQ(errno, NS_ERR_REFUSED);
    EXPECT_FALSE(daemon.holds(n16("busy", 0x00)));
}

TEST_F(Slots, WinsListsMethodsAndLimits)
{
    auto list = testenv::W("10.0.0.1;not an address;;10.0.0.2;1234567890123456789;10.0.0.3");
    ndSetWinsW(list.data());
    ASSERT_EQ(cmNetBiosGetNumWinsServers(), 3u);
    EXPECT_EQ(cmNetBiosGetWins(2), inet_addr("10.0.0.3"));
    ndSetWinsW(nullptr);
    EXPECT_EQ(cmNetBiosGetNumWinsServers(), 0u);
    std::string many;
    for (int i = 0; i < 200; ++i)
        many += "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ";";
    auto w = testenv::W(many);
    ndSetWinsW(w.data());
    EXPECT_EQ(cmNetBiosGetNumWinsServers(), static_cast<uint32_t>(NS_MAX_WINS_SERVERS));
    ndSetWinsW(testenv::W("").data());
    EXPECT_EQ(cmNetBiosGetNumWinsServers(), 0u);
}

}  // namespace

namespace {

class FailingStart : public HookedTest {};

TEST_F(FailingStart, AFailedCommonStartLeavesNothingStarted)
{
    if (!testenv::enterPrivateNet())
        GTEST_SKIP() << "needs a network namespace";
    cmInitSetStepHook([](const char *step) { return std::string(step) == "cmThreadStart" ? 1 : 0; });
    EXPECT_EQ(nsInit(0, 4), -1);
    cmInitSetStepHook(nullptr);
    EXPECT_EQ(nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_IP), nullptr);
    // Without a daemon the host-name socket cannot be had: the start fails
    // whole and a later one succeeds.
    nsChannelSetWait(1);
    EXPECT_EQ(nsInit(1, 4), -1);
    EXPECT_EQ(nsGetBuffer(), nullptr);
    ASSERT_EQ(nsInit(0, 4), 0);
    EXPECT_EQ(nsExit(0, 4), 0);
    nsChannelSetWait(0);
}

}  // namespace
