// Own addresses from the interfaces of a private network namespace, and the
// local port manager.
#include "cmselfip.h"
#include "syadapter.h"

#include "ud_test_env.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Record {
    std::string name, ip, bcast, mask;
    bool operator==(const Record &o) const
    {
        return name == o.name && ip == o.ip && bcast == o.bcast && mask == o.mask;
    }
};

std::string dotted(uint32_t a)
{
    char text[INET_ADDRSTRLEN];
    in_addr in{a};
    return inet_ntop(AF_INET, &in, text, sizeof text);
}

// The records of one iteration; loopback first, the rest in name order
// (the walk follows the kernel's address order).
std::vector<Record> ownAddresses()
{
    std::vector<Record> out;
    cmSelfipIterate();
    while (const CMSelfIp *s = cmSelfipNext())
        out.push_back({s->name, dotted(s->ip), dotted(s->bcast), dotted(s->mask)});
    cmSelfipTerminate();
    if (!out.empty())
        std::sort(out.begin() + 1, out.end(),
                  [](const Record &a, const Record &b) { return a.name < b.name; });
    return out;
}

void sh(const std::string &cmd) { ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }

// A veth pair whose first end is up with an IPv4 address; the second end is
// named `peer` and stays down unless it gets an address too.
void vethPair(const std::string &a, const std::string &b, const std::string &addrA,
              const std::string &addrB = "")
{
    sh("ip link add " + a + " type veth peer name " + b);
    if (!addrA.empty())
        sh("ip addr add " + addrA + " brd + dev " + a);
    sh("ip link set " + a + " up");
    if (!addrB.empty()) {
        sh("ip addr add " + addrB + " brd + dev " + b);
        sh("ip link set " + b + " up");
    }
}

class SelfIpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs root for a network namespace";
        if (std::system("ip -V >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs iproute2";
        ASSERT_EQ(cmSelfipStart(), 1);
    }
    void TearDown() override
    {
        cmSelfipShutdown();
        std::system("for i in $(ip -o link | awk -F': ' '{print $2}' | cut -d@ -f1 | grep -v '^lo$'); do "
                    "ip link del $i 2>/dev/null; done");
    }
};

TEST_F(SelfIpTest, LoopbackAndLanWithSkippedKinds)
{
    using V = std::vector<Record>;
    EXPECT_EQ(ownAddresses(), (V{{"lo", "127.0.0.1", "127.0.0.1", "255.0.0.0"}}));

    vethPair("lan0", "lan0p", "192.168.1.1/24");
    vethPair("ppp0", "ppp0p", "10.64.0.1/30");
    vethPair("ezcfg0", "ezcfg0p", "10.65.0.1/30");
    vethPair("ovpn_br0", "ovpnp", "10.66.0.1/30");
    // Up with IPv6 only: no record.
    sh("ip link add v6only type veth peer name v6peer");
    sh("ip -6 addr add fd00::1/64 dev v6only nodad");
    sh("ip link set v6only up");
    vethPair("wan0", "wan0p", "203.0.113.9/29", "203.0.113.10/29");

    EXPECT_EQ(ownAddresses(), (V{{"lo", "127.0.0.1", "127.0.0.1", "255.0.0.0"},
                                 {"lan0", "192.168.1.1", "192.168.1.255", "255.255.255.0"},
                                 {"wan0", "203.0.113.9", "203.0.113.15", "255.255.255.248"},
                                 {"wan0p", "203.0.113.10", "203.0.113.15", "255.255.255.248"}}));

    // The list follows the interfaces at every iteration.
    sh("ip link set lan0 down");
    auto now = ownAddresses();
    ASSERT_EQ(now.size(), 3u);
    EXPECT_EQ(now[1].name, "wan0");
    EXPECT_EQ(now[2].name, "wan0p");
}

TEST_F(SelfIpTest, AdaptersSkipAndReportIpv6WithoutAddress)
{
    sh("ip link add v6only type veth peer name v6peer");
    sh("ip -6 addr add fd00::1/64 dev v6only nodad");
    sh("ip link set v6only up");
    vethPair("ppp1", "ppp1p", "10.70.0.1/30");
    std::vector<std::string> names;
    std::vector<uint32_t> ips;
    int ordinal = -1;
    char name[SY_ADAPTER_NAME_SIZE];
    uint32_t ip, mask, bcast, wins;
    for (int next = 0; syGetAdapter(next, &ordinal, name, &ip, nullptr, &mask, &bcast, &wins) == 0;
         next = 1) {
        names.push_back(name);
        ips.push_back(ip);
    }
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], "lo");
    EXPECT_EQ(ips[0], htonl(INADDR_LOOPBACK));
    bool sawV6 = false;
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_NE(names[i].rfind("ppp", 0), 0u) << names[i];
        if (names[i] == "v6only") {
            sawV6 = true;
            EXPECT_EQ(ips[i], 0u);
        }
    }
    EXPECT_TRUE(sawV6);
}

TEST_F(SelfIpTest, AtMostThirtyTwoRecords)
{
    std::string script;
    for (int i = 0; i < 20; ++i) {
        std::string n = std::to_string(i);
        script += "ip link add a" + n + " type veth peer name b" + n + " && " + "ip addr add 10.80." + n +
                  ".1/24 brd + dev a" + n + " && " + "ip addr add 10.81." + n + ".1/24 brd + dev b" + n +
                  " && " + "ip link set a" + n + " up && ip link set b" + n + " up && ";
    }
    sh(script + "true");
    EXPECT_EQ(ownAddresses().size(), static_cast<size_t>(CM_SELFIP_MAX));
}

TEST(PortManager, CountsReissuesAndWraps)
{
    ASSERT_EQ(cmPortManageStart(), 1);
    EXPECT_EQ(cmPortManage(), 1036);
    EXPECT_EQ(cmPortManage(), 1037);
    EXPECT_EQ(cmPortManage(), 1038);
    cmManageFreePort(1037);
    EXPECT_EQ(cmPortManage(), 1037);
    EXPECT_EQ(cmPortManage(), 1039);
    // Ports outside the range are not taken back.
    cmManageFreePort(0);
    cmManageFreePort(50000);
    EXPECT_EQ(cmPortManage(), 1040);

    uint16_t last = 0, port = 0;
    for (int i = 0; i < 20000 && port != 1036; ++i) {
        last = port;
        port = cmPortManage();
    }
    EXPECT_EQ(last, 9998);
    EXPECT_EQ(port, 1036);            // the call that would give 9999 starts again
    EXPECT_EQ(cmPortManage(), 1037);  // and 1036 is not given out twice
    EXPECT_EQ(cmPortManage(), 1038);
    EXPECT_EQ(cmPortManageShutdown(), 1);
}

}  // namespace
