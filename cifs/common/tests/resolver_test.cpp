// The resolver against fake methods on loopback: each fake answers by sending
// a datagram to its own method socket, so the resolver's select, priorities,
// union, ordering, cache and external functions run as with real methods.
#include "ud_test_env.h"

#include "self_datagram.h"

#include "failing_new.h"

#include "cmmemory.h"
#include "cmresolver.h"
#include "cmselfip.h"
#include "cmstring.h"
#include "sysockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <map>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

using namespace testenv;

namespace {

uint32_t ip(const char *text) { return inet_addr(text); }

// What the fake behind one server address does when asked.
struct Behaviour {
    std::vector<uint32_t> answer;  // empty: stays silent
    bool junkFirst = false;        // a datagram the method ignores comes first
    int flood = 0;                 // datagrams the method ignores, sent instead of an answer
    std::string name;              // answer to a question by address
    int calls = 0;
};
std::map<uint32_t, Behaviour> gFakes;

int fakeRequestByName(int sock, const CMWchar *, void **, const uint32_t *server)
{
    Behaviour &b = gFakes[*server];
    ++b.calls;
    if (b.junkFirst)
        sendToSelf(sock, "bad");
    for (int i = 0; i < b.flood; ++i)
        sendToSelf(sock, "bad");
    if (!b.answer.empty())
        sendToSelf(sock, std::string(reinterpret_cast<const char *>(b.answer.data()), 4 * b.answer.size()));
    return 1;
}

int fakeResponseByName(int sock, uint32_t **ips, int *count, void **)
{
    char buf[512];
    ssize_t n = recv(sock, buf, sizeof buf, 0);
    if (n <= 0 || n % 4 != 0)
        return CM_RESOLVER_PENDING;
    *ips = static_cast<uint32_t *>(cmMemoryAllocNonDebug(static_cast<uint32_t>(n)));
    if (*ips == nullptr)
        return CM_ERR_NOMEM;
    std::memcpy(*ips, buf, static_cast<size_t>(n));
    *count = static_cast<int>(n / 4);
    return 0;
}

int fakeRequestByIp(int sock, const uint32_t *, void **, const uint32_t *server)
{
    Behaviour &b = gFakes[*server];
    ++b.calls;
    if (!b.name.empty())
        sendToSelf(sock, b.name);
    return 1;
}

int fakeResponseByIp(int sock, CMWchar *name, void **, uint32_t *)
{
    char buf[256] = {};
    ssize_t n = recv(sock, buf, sizeof buf - 1, 0);
    if (n <= 0)
        return -1;
    cmAnsiToUnicodeN(name, buf, static_cast<uint32_t>(n));
    return 0;
}

CMResolverMethodDescriptor fake(uint32_t priority, uint32_t timeoutMs = 1000)
{
    CMResolverMethodDescriptor d{};
    d.type = CM_RESOLVER_HOST;
    d.priority = priority;
    d.timeout = CMUint64{timeoutMs, 0};
    d.requestByName = fakeRequestByName;
    d.responseByName = fakeResponseByName;
    d.requestByIp = fakeRequestByIp;
    d.responseByIp = fakeResponseByIp;
    return d;
}

uint32_t gNow = 1000;
uint32_t fakeClock() { return gNow; }

class ResolverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gFakes.clear();
        gNow = 1000;
        cmResolverSetClock(fakeClock);
        ASSERT_EQ(cmSelfipStart(), 1);
        ASSERT_EQ(cmResolverStart(), 1);
    }
    void TearDown() override
    {
        cmResolverShutdown();
        cmSelfipShutdown();
        cmResolverSetClock(nullptr);
    }
    static void add(uint32_t server, uint32_t priority, Behaviour b, uint32_t timeoutMs = 1000)
    {
        gFakes[server] = std::move(b);
        CMResolverMethodDescriptor d = fake(priority, timeoutMs);
        ASSERT_EQ(cmResolverRegisterMethod(&d, &server), 1);
    }
    static std::vector<uint32_t> lookup(const char *name)
    {
        std::vector<uint16_t> w = W(name);
        int count = -1;
        uint32_t *ips = cmResolverGetHostIps(w.data(), &count);
        std::vector<uint32_t> out(ips, ips + (ips != nullptr ? count : 0));
        if (ips == nullptr)
            EXPECT_EQ(count, 0);
        cmMemoryFreeNonDebug(ips);
        return out;
    }
    static double seconds(std::chrono::steady_clock::time_point since)
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
    }
};

TEST_F(ResolverTest, UnionOfOnePriorityWithoutDuplicates)
{
    add(ip("10.9.0.1"), 1, {{ip("10.0.0.1"), ip("10.0.0.2")}});
    add(ip("10.9.0.2"), 1, {{ip("10.0.0.2"), ip("10.0.0.3")}});
    add(ip("10.9.0.3"), 2, {{ip("10.0.0.9")}});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lookup("host"), (std::vector<uint32_t>{ip("10.0.0.1"), ip("10.0.0.2"), ip("10.0.0.3")}));
    EXPECT_LT(seconds(start), 0.9) << "both answered: no need to wait out the time-out";
    EXPECT_EQ(gFakes[ip("10.9.0.3")].calls, 0);
}

TEST_F(ResolverTest, NextPriorityOnlyAfterSilence)
{
    add(ip("10.9.0.1"), 1, {});
    add(ip("10.9.0.2"), 2, {{ip("10.0.0.7")}});
    add(ip("10.9.0.3"), 3, {{ip("10.0.0.8")}});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lookup("host"), (std::vector<uint32_t>{ip("10.0.0.7")}));
    EXPECT_GE(seconds(start), 0.9);
    EXPECT_EQ(gFakes[ip("10.9.0.1")].calls, 1);
    EXPECT_EQ(gFakes[ip("10.9.0.3")].calls, 0);
}

TEST_F(ResolverTest, IgnoredDatagramIsNoAnswer)
{
    Behaviour b{{ip("10.0.0.5")}};
    b.junkFirst = true;
    add(ip("10.9.0.1"), 1, b);
    add(ip("10.9.0.2"), 2, {{ip("10.0.0.6")}});
    EXPECT_EQ(lookup("host"), (std::vector<uint32_t>{ip("10.0.0.5")}));
}

TEST_F(ResolverTest, FloodOfIgnoredDatagramsEndsWithTheTimeOut)
{
    Behaviour b;
    b.flood = 2000;
    add(ip("10.9.0.1"), 1, b);
    cmResolverCacheSet(0);
    for (int round = 0; round < 2; ++round) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(lookup("host").empty());
        EXPECT_LT(seconds(start), 2.5);
    }
    // What is left of the flood is thrown away before the next question.
    gFakes[ip("10.9.0.1")] = Behaviour{{ip("10.0.0.1")}};
    EXPECT_EQ(lookup("host"), (std::vector<uint32_t>{ip("10.0.0.1")}));
}

TEST_F(ResolverTest, MemoryRunningOutLosesOnlyAnswers)
{
    add(ip("10.9.0.1"), 1, {{ip("10.0.0.1"), ip("10.0.0.2")}});
    add(ip("10.9.0.2"), 1, {{ip("10.0.0.3")}});
    cmResolverCacheSet(0);
    const std::vector<uint32_t> all = {ip("10.0.0.1"), ip("10.0.0.2"), ip("10.0.0.3")};
    // Whatever comes back is some of the answers, each once: an answer that
    // could not be kept is lost like a lost datagram.
    auto someOf = [&](const uint32_t *ips, int count) {
        std::vector<uint32_t> got(ips, ips + count);
        std::sort(got.begin(), got.end());
        return count > 0 && std::unique(got.begin(), got.end()) == got.end() &&
               std::includes(all.begin(), all.end(), got.begin(), got.end());
    };
    for (int granted = 0; granted < 12; ++granted) {
        SCOPED_TRACE(granted);
        std::vector<uint16_t> w = W("host");
        int count = -1;
        t_newsBeforeFailure = granted;
        uint32_t *ips = cmResolverGetHostIps(w.data(), &count);
        t_newsBeforeFailure = -1;
        EXPECT_TRUE(ips == nullptr ? count == 0 : someOf(ips, count));
        cmMemoryFreeNonDebug(ips);
    }
    cmResolverCacheSet(10);
    for (uint32_t room = 0; room < 200; room += 4) {
        SCOPED_TRACE(room);
        ASSERT_EQ(cmMemoryStart(cmMemoryGetTotal() + room), 1);
        std::vector<uint16_t> w = W("host");
        int count = -1;
        uint32_t *ips = cmResolverGetHostIps(w.data(), &count);
        ASSERT_EQ(cmMemoryStart(0), 1);
        EXPECT_TRUE(ips == nullptr ? count == 0 : someOf(ips, count));
        cmMemoryFreeNonDebug(ips);
        cmResolverCacheSet(0);
        cmResolverCacheSet(10);
    }
    EXPECT_EQ(lookup("host").size(), all.size());
}

TEST_F(ResolverTest, CacheAndItsLifetime)
{
    add(ip("10.9.0.1"), 1, {{ip("10.0.0.1")}});
    EXPECT_EQ(lookup("Host").size(), 1u);
    EXPECT_EQ(lookup("HOST").size(), 1u);
    EXPECT_EQ(gFakes[ip("10.9.0.1")].calls, 1) << "the second lookup came from the cache";
    uint32_t addr = ip("10.0.0.1");
    CMWchar *name = cmResolverGetHostName(&addr);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(A(name), "Host");
    cmMemoryFreeNonDebug(name);

    gNow += 11;
    EXPECT_EQ(lookup("host").size(), 1u);
    EXPECT_EQ(gFakes[ip("10.9.0.1")].calls, 2);

    cmResolverCacheSet(0);
    EXPECT_EQ(lookup("host").size(), 1u);
    EXPECT_EQ(lookup("host").size(), 1u);
    EXPECT_EQ(gFakes[ip("10.9.0.1")].calls, 4) << "no cache";

    cmResolverCacheSet(30);
    EXPECT_EQ(lookup("host").size(), 1u);
    gNow += 20;
    EXPECT_EQ(lookup("host").size(), 1u);
    EXPECT_EQ(gFakes[ip("10.9.0.1")].calls, 5) << "30-second lifetime";
}

int gExternalCalls = 0;
int externalNameToIpW(const CMWchar *name, uint32_t *address, int index)
{
    ++gExternalCalls;
    if (A(name) != "outside" || index > 1)
        return 0;
    *address = index == 0 ? inet_addr("172.16.0.1") : inet_addr("172.16.0.2");
    return 4;
}
int externalNameToIpA(const char *name, uint32_t *address, int index)
{
    if (std::string(name) != "narrow" || index > 0)
        return 0;
    *address = inet_addr("172.16.0.9");
    return 4;
}
int externalIpToNameA(char *name, const uint32_t *, int size)
{
    std::snprintf(name, static_cast<size_t>(size), "%s", "from-outside");
    return 1;
}

TEST_F(ResolverTest, NothingFoundIsNotCachedAndExternalFunctionsAreLast)
{
    add(ip("10.9.0.1"), 5, {}, 100);
    EXPECT_TRUE(lookup("nobody").empty());
    EXPECT_TRUE(lookup("nobody").empty());
    EXPECT_EQ(gFakes[ip("10.9.0.1")].calls, 2);
    uint32_t key[2] = {CM_RESOLVER_HOST, 0};
    uint32_t server = ip("10.9.0.1");
    cmResolverRemoveMethod(key, &server);

    cmResolverCacheSet(0);
    cmResolverSetExternalA(externalNameToIpA, externalIpToNameA);
    EXPECT_EQ(lookup("narrow"), (std::vector<uint32_t>{ip("172.16.0.9")}));
    cmResolverSetExternalW(externalNameToIpW, nullptr);
    EXPECT_EQ(lookup("outside"), (std::vector<uint32_t>{ip("172.16.0.1"), ip("172.16.0.2")}));
    EXPECT_TRUE(lookup("narrow").empty()) << "the UTF-16 function stands in for the 8-bit one";
    uint32_t addr = ip("10.1.1.1");
    CMWchar *name = cmResolverGetHostName(&addr);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(A(name), "from-outside");
    cmMemoryFreeNonDebug(name);
}

TEST_F(ResolverTest, LookupByAddressEndsAtFirstAnswer)
{
    Behaviour b;
    b.name = "fileserver";
    add(ip("10.9.0.1"), 1, {});
    add(ip("10.9.0.2"), 1, b);
    uint32_t addr = ip("10.0.0.4");
    auto start = std::chrono::steady_clock::now();
    CMWchar *name = cmResolverGetHostName(&addr);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(A(name), "fileserver");
    EXPECT_LT(seconds(start), 0.9);
    cmMemoryFreeNonDebug(name);
}

TEST_F(ResolverTest, EnableRemoveAndExternalRegistration)
{
    add(ip("10.9.0.1"), 1, {{ip("10.0.0.1")}});
    cmResolverCacheSet(0);
    cmResolverEnableMethod(CM_RESOLVER_HOST, 0, 1);
    EXPECT_TRUE(lookup("host").empty());
    EXPECT_EQ(gFakes[ip("10.9.0.1")].calls, 0);
    cmResolverEnableMethod(CM_RESOLVER_HOST, 1, 1);
    EXPECT_EQ(lookup("host").size(), 1u);
    uint32_t key[2] = {CM_RESOLVER_HOST, 0};
    uint32_t other = ip("10.9.9.9");
    cmResolverRemoveMethod(key, &other);
    EXPECT_EQ(lookup("host").size(), 1u);
    uint32_t server = ip("10.9.0.1");
    cmResolverRemoveMethod(key, &server);
    gFakes[server].calls = 0;
    EXPECT_TRUE(lookup("host").empty());
    EXPECT_EQ(gFakes[server].calls, 0);

    uint32_t outside = ip("10.9.0.5");
    gFakes[outside] = {{ip("10.0.0.5")}};
    CMResolverExternalMethod bad{1, 1, &outside, fakeRequestByName, nullptr, nullptr, nullptr};
    EXPECT_EQ(cmResolverRegisterExternalMethod(&bad), 0) << "a question without its answer";
    CMResolverExternalMethod noServer{1, 1, nullptr, fakeRequestByName, fakeResponseByName, nullptr, nullptr};
    EXPECT_EQ(cmResolverRegisterExternalMethod(&noServer), 0);
    CMResolverExternalMethod good{2, 1, &outside, fakeRequestByName, fakeResponseByName, nullptr, nullptr};
    EXPECT_EQ(cmResolverRegisterExternalMethod(&good), 1);
    EXPECT_EQ(lookup("host"), (std::vector<uint32_t>{ip("10.0.0.5")}));
    EXPECT_EQ(cmResolverUpdateExternalMethodsPriority(1), 1);
    EXPECT_EQ(lookup("host"), (std::vector<uint32_t>{ip("10.0.0.5")}));
}

TEST_F(ResolverTest, OwnNetworksFirst)
{
    if (!enterPrivateNet())
        GTEST_SKIP() << "needs a network namespace of its own";
    ASSERT_EQ(
        std::system("ip link add rs0 type veth peer name rs1 && ip addr add 192.168.1.1/24 brd + dev rs0 "
                    "&& ip link set rs0 up && ip link set rs1 up"),
        0);
    // 192.0.1.5 has only bits of the broadcast address 192.168.1.255 set, yet
    // lies on no own network.
    add(ip("10.9.0.1"), 1, {{ip("10.0.0.5"), ip("192.0.1.5"), ip("192.168.1.5"), ip("192.168.1.7")}});
    EXPECT_EQ(lookup("host"),
              (std::vector<uint32_t>{ip("192.168.1.5"), ip("192.168.1.7"), ip("10.0.0.5"), ip("192.0.1.5")}));
    std::system("ip link del rs0");
}

TEST(ResolverIpv6Literal, Suffix)
{
    const struct {
        const char *name;
        int want;
    } cases[] = {
        {"fe80--1s4.ipv6-literal.net", 1}, {"2001-DB8--1.IPV6-LITERAL.NET", 1},
        {".ipv6-literal.net", 1},          {"ipv6-literal.net", 0},
        {"host.example.net", 0},           {"", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cmIsIPv6Literal(W(c.name).data()), c.want);
    }
    EXPECT_EQ(cmIsIPv6Literal(nullptr), 0);
}

TEST(ResolverStopped, AnswersNothing)
{
    int count = 5;
    EXPECT_EQ(cmResolverGetHostIps(W("host").data(), &count), nullptr);
    EXPECT_EQ(count, 0);
    uint32_t addr = 0;
    EXPECT_EQ(cmResolverGetHostName(&addr), nullptr);
    cmResolverCacheSet(5);
    CMResolverMethodDescriptor d = fake(1);
    EXPECT_EQ(cmResolverRegisterMethod(&d, nullptr), 0);
}

}  // namespace
