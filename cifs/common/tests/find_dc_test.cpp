// Domain-controller lookups over fake controller and host methods on
// loopback: candidates without an address are passed over, answers are
// cached for 60 s and failures for 10 s on the resolver's clock, the own
// domain's controller stays, and a two-stage method asks each candidate.
#include "ud_test_env.h"

#include "self_datagram.h"

#include "cmmemory.h"
#include "cmnetbios.h"
#include "cmresolver.h"
#include "cmselfip.h"
#include "cmstring.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

using namespace testenv;

namespace {

std::vector<std::string> gControllers;  // what the controller method answers
std::vector<std::string> gKnownHosts;   // names the host method resolves
int gDcCalls = 0;
std::string gAskedDomain;

// Names as one block of zero-terminated UTF-16 names.
CMWchar *block(const std::vector<std::string> &names)
{
    size_t units = 0;
    for (const auto &n : names)
        units += n.size() + 1;
    auto *out = static_cast<CMWchar *>(cmMemoryAllocNonDebug(static_cast<uint32_t>(units * 2 + 2)));
    CMWchar *p = out;
    for (const auto &n : names) {
        cmAnsiToUnicode(p, n.c_str());
        p += n.size() + 1;
    }
    return out;
}

int dcRequest(int sock, const CMWchar *domain, void **, const uint32_t *)
{
    ++gDcCalls;
    gAskedDomain = A(domain);
    if (!gControllers.empty())
        sendToSelf(sock, "dc");
    return 1;
}

int dcResponse(int sock, CMWchar *, void **context, uint32_t *count)
{
    char buf[16];
    if (recv(sock, buf, sizeof buf, 0) <= 0)
        return -1;
    *context = block(gControllers);
    *count = static_cast<uint32_t>(gControllers.size());
    return 0;
}

int hostRequest(int sock, const CMWchar *name, void **, const uint32_t *)
{
    for (const auto &h : gKnownHosts)
        if (h == A(name))
            sendToSelf(sock, "ip");
    return 1;
}

int hostResponse(int sock, uint32_t **ips, int *count, void **)
{
    char buf[16];
    if (recv(sock, buf, sizeof buf, 0) <= 0)
        return -1;
    *ips = static_cast<uint32_t *>(cmMemoryAllocNonDebug(4));
    **ips = inet_addr("10.1.0.10");
    *count = 1;
    return 0;
}

// A two-stage method: candidates first, then one question per candidate.
std::vector<std::string> gSecondStage;
int twoStageCandidates(int sock, uint32_t **names, int *count, void **)
{
    char buf[16];
    if (recv(sock, buf, sizeof buf, 0) <= 0)
        return -1;
    *names = reinterpret_cast<uint32_t *>(block(gControllers));
    *count = static_cast<int>(gControllers.size());
    return 0;
}
int twoStageAsk(int sock, const uint32_t *candidate, void **, const uint32_t *)
{
    gSecondStage.push_back(A(reinterpret_cast<const CMWchar *>(candidate)));
    if (gSecondStage.size() == 2)
        sendToSelf(sock, "ok");
    return 1;
}

uint32_t gNow = 5000;
uint32_t fakeClock() { return gNow; }

class FindDcTest : public HookTest {
protected:
    void SetUp() override
    {
        HookTest::SetUp();
        if (IsSkipped())
            return;
        gControllers.clear();
        gKnownHosts.clear();
        gSecondStage.clear();
        gDcCalls = 0;
        cmResolverSetClock(fakeClock);
        ASSERT_EQ(cmSelfipStart(), 1);
        ASSERT_EQ(cmResolverStart(), 1);
        cmResolverCacheSet(0);
        ASSERT_EQ(cmFindDCInit(), 0);
        CMResolverMethodDescriptor dc{};
        dc.type = CM_RESOLVER_DC;
        dc.priority = 2;
        dc.timeout = CMUint64{1000, 0};
        dc.requestByName = dcRequest;
        dc.responseByIp = dcResponse;
        uint32_t server = inet_addr("10.1.0.1");
        ASSERT_EQ(cmResolverRegisterMethod(&dc, &server), 1);
        CMResolverMethodDescriptor host{};
        host.type = CM_RESOLVER_HOST;
        host.priority = 1;
        host.timeout = CMUint64{1000, 0};
        host.requestByName = hostRequest;
        host.responseByName = hostResponse;
        ASSERT_EQ(cmResolverRegisterMethod(&host, &server), 1);
    }
    void TearDown() override
    {
        cmFindDCExit();
        cmResolverShutdown();
        cmSelfipShutdown();
        cmResolverSetClock(nullptr);
        cmNetBiosExit();
        HookTest::TearDown();
    }
};

TEST_F(FindDcTest, FirstCandidateWithAnAddressAndItsCache)
{
    gControllers = {"gone.corp.lan", "dc1.corp.lan", "dc2.corp.lan"};
    gKnownHosts = {"dc1.corp.lan", "dc2.corp.lan"};
    char dc[CM_DC_NAME_MAX + 1];
    ASSERT_EQ(cmGetDCNameByDomain("corp.lan", dc), 0);
    EXPECT_STREQ(dc, "dc1.corp.lan");
    EXPECT_EQ(gAskedDomain, "corp.lan");
    gControllers.clear();
    gNow += 60;
    ASSERT_EQ(cmGetDCNameByDomain("CORP.LAN", dc), 0) << "kept for 60 s, any case";
    EXPECT_EQ(gDcCalls, 1);
    gNow += 1;
    errno = 0;
    EXPECT_EQ(cmGetDCNameByDomain("corp.lan", dc), -1);
    EXPECT_EQ(errno, 0xFF03EB);
    EXPECT_STREQ(dc, "");
    EXPECT_EQ(gDcCalls, 2);
}

TEST_F(FindDcTest, NoControllerIsRememberedFor10Seconds)
{
    char dc[CM_DC_NAME_MAX + 1];
    gControllers = {"nohost.corp.lan"};
    EXPECT_EQ(cmGetDCNameByDomain("corp.lan", dc), -1);
    EXPECT_EQ(gDcCalls, 1);
    gKnownHosts = {"nohost.corp.lan"};
    gNow += 10;
    errno = 0;
    EXPECT_EQ(cmGetDCNameByDomain("corp.lan", dc), -1) << "the failure still stands";
    EXPECT_EQ(errno, 0xFF03EB);
    EXPECT_EQ(gDcCalls, 1);
    gNow += 1;
    EXPECT_EQ(cmGetDCNameByDomain("corp.lan", dc), 0);
    EXPECT_STREQ(dc, "nohost.corp.lan");
    EXPECT_EQ(gDcCalls, 2);
}

TEST_F(FindDcTest, OwnDomainControllerStays)
{
    ASSERT_EQ(sethostname("nas", 3), 0);
    ASSERT_EQ(setdomainname("corp.lan", 8), 0);
    writeFile(path("cm_cfg.txt"), "DOMAIN=CORP:D\n");
    ASSERT_EQ(cmNetBiosInit(), 0);
    gControllers = {"dc1.corp.lan"};
    gKnownHosts = {"dc1.corp.lan"};
    char dc[CM_DC_NAME_MAX + 1];
    char domain[CM_NB_FULL_NAME_MAX + 1];
    ASSERT_EQ(cmGetDCName(dc, domain), 0);
    EXPECT_STREQ(dc, "dc1.corp.lan");
    EXPECT_STREQ(domain, "CORP.LAN");
    gControllers.clear();
    gNow += 3600;
    ASSERT_EQ(cmGetDCName(dc, nullptr), 0);
    EXPECT_STREQ(dc, "dc1.corp.lan");
    ASSERT_EQ(cmGetDCNameByDomain("CORP.LAN", dc), 0) << "a permanent entry";
    EXPECT_EQ(gDcCalls, 1);
}

TEST_F(FindDcTest, TwoStageMethodAsksEachCandidate)
{
    cmFindDCExit();
    cmResolverShutdown();
    ASSERT_EQ(cmResolverStart(), 1);
    CMResolverMethodDescriptor two{};
    two.type = CM_RESOLVER_DC_TWO_STAGE;
    two.priority = 1;
    two.timeout = CMUint64{1000, 0};
    two.requestByName = dcRequest;
    two.responseByName = twoStageCandidates;
    two.requestByIp = twoStageAsk;
    two.responseByIp = dcResponse;
    ASSERT_EQ(cmResolverRegisterMethod(&two, nullptr), 1);
    gControllers = {"a.corp.lan", "b.corp.lan"};
    int count = 0;
    CMWchar *names = cmResolverGetDCName(W("corp.lan").data(), &count);
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(A(names), "a.corp.lan");
    EXPECT_EQ(gSecondStage, (std::vector<std::string>{"a.corp.lan", "b.corp.lan"}));
    cmMemoryFreeNonDebug(names);
}

}  // namespace
