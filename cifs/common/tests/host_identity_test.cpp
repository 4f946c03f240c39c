// The host's own names from the system host name, the domain hooks and the
// scope: paddings, workgroup default, full DNS names, cuts and the
// authentication domain.
#include "ud_test_env.h"

#include "cmmemory.h"
#include "cmnetbios.h"

#include <cerrno>
#include <string>
#include <unistd.h>

using namespace testenv;

namespace {

class HostIdentityTest : public HookTest {
protected:
    void TearDown() override
    {
        cmNetBiosExit();
        HookTest::TearDown();
    }
    void configure(const char *host, const char *domain, const std::string &cmConfig)
    {
        ASSERT_EQ(sethostname(host, std::strlen(host)), 0);
        ASSERT_EQ(setdomainname(domain, std::strlen(domain)), 0);
        udStop();
        ASSERT_EQ(udInit(), 0);
        writeFile(path("cm_cfg.txt"), cmConfig);
        ASSERT_EQ(cmNetBiosInit(), 0);
    }
    static std::string s17(const char *p) { return std::string(p, 17); }
};

TEST_F(HostIdentityTest, WorkgroupDefault)
{
    configure("router", "(none)", "");
    EXPECT_EQ(s17(cmNetBiosGetHostNameInfo()->name), "ROUTER           ");
    EXPECT_EQ(cmNetBiosGetHostNameInfo()->isGroup, 0u);
    EXPECT_EQ(s17(cmNetBiosGetHostNameZeroed()), std::string("ROUTER") + std::string(11, '\0'));
    EXPECT_EQ(s17(cmNetBiosGetHostNameSpaced()), "ROUTER           ");
    EXPECT_EQ(s17(cmNetBiosGetDomain()->name), std::string("WORKGROUP") + std::string(8, '\0'));
    EXPECT_EQ(cmNetBiosGetDomain()->isGroup, 1u);
    EXPECT_EQ(s17(cmNetBiosGetDomainAuth()->name), s17(cmNetBiosGetDomain()->name));
    EXPECT_EQ(cmGetFullDomainName(), nullptr);
    EXPECT_STREQ(cmGetFullHostName(), "ROUTER");
    EXPECT_STREQ(cmNetBiosGetScope(), "");
    EXPECT_EQ(cmNetBiosGetScopeLength(), 0u);
}

TEST_F(HostIdentityTest, DomainMemberWithDnsName)
{
    configure("nas.lan", "corp.example.com", "DOMAIN=CORP:D\nSCOPE_ID=abc.defgh\n");
    EXPECT_EQ(s17(cmNetBiosGetHostNameZeroed()), std::string("NAS") + std::string(14, '\0'));
    EXPECT_EQ(s17(cmNetBiosGetDomain()->name), std::string("CORP.EXAMPLE.COM") + '\0');
    EXPECT_EQ(cmNetBiosGetDomain()->isGroup, 0u);
    ASSERT_NE(cmGetFullDomainName(), nullptr);
    EXPECT_STREQ(cmGetFullDomainName(), "CORP.EXAMPLE.COM");
    EXPECT_STREQ(cmGetFullHostName(), "NAS.CORP.EXAMPLE.COM");
    EXPECT_STREQ(cmNetBiosGetScope(), "abc.defgh");
    EXPECT_EQ(cmNetBiosGetScopeLength(), 9u);

    // A workgroup named with a dot is no DNS domain.
    configure("nas", "corp.example.com", "DOMAIN=CORP\n");
    EXPECT_EQ(cmGetFullDomainName(), nullptr);
    EXPECT_STREQ(cmGetFullHostName(), "NAS");
}

TEST_F(HostIdentityTest, LongNamesAreCut)
{
    // The kernel keeps at most 64 characters of a domain name.
    const std::string longDomain = std::string(30, 'd') + "." + std::string(33, 'e');
    const std::string longScope(99, 's');
    configure("abcdefghijklmnopqrstu", longDomain.c_str(), "DOMAIN=X:D\nSCOPE_ID=" + longScope + "\n");
    EXPECT_EQ(s17(cmNetBiosGetHostNameInfo()->name), "ABCDEFGHIJKLMNOP ");
    EXPECT_EQ(cmNetBiosGetScopeLength(), 99u);
    ASSERT_NE(cmGetFullDomainName(), nullptr);
    EXPECT_EQ(std::strlen(cmGetFullDomainName()), longDomain.size());
    EXPECT_EQ(std::string(cmGetFullHostName()),
              "ABCDEFGHIJKLMNOP." + std::string(30, 'D') + "." + std::string(33, 'E'));
}

TEST_F(HostIdentityTest, NoHostName)
{
    configure("", "(none)", "");
    EXPECT_EQ(s17(cmNetBiosGetHostNameSpaced()), std::string(17, ' '));
    EXPECT_EQ(s17(cmNetBiosGetHostNameZeroed()), std::string(17, '\0'));
}

TEST_F(HostIdentityTest, AuthenticationDomainIsCutAt16)
{
    configure("router", "(none)", "");
    std::vector<uint16_t> name = W("AVERYLONGDOMAINNAMEINDEED");
    cmNetBiosSetDomainAuth(name.data());
    EXPECT_EQ(s17(cmNetBiosGetDomainAuth()->name), std::string("AVERYLONGDOMAINN") + '\0');
    name = W("SHORT");
    cmNetBiosSetDomainAuth(name.data());
    EXPECT_EQ(s17(cmNetBiosGetDomainAuth()->name), std::string("SHORT") + std::string(12, '\0'));
    EXPECT_EQ(s17(cmNetBiosGetDomain()->name), std::string("WORKGROUP") + std::string(8, '\0'));
    cmNetBiosSetDomainAuth(nullptr);
    EXPECT_EQ(s17(cmNetBiosGetDomainAuth()->name), std::string(17, '\0'));
}

TEST_F(HostIdentityTest, AllocationFailureKeepsNothing)
{
    cmNetBiosExit();
    ASSERT_EQ(cmMemoryStart(1), 1);
    errno = 0;
    EXPECT_EQ(cmNetBiosInit(), -1);
    EXPECT_EQ(errno, CM_ERR_NOMEM);
    ASSERT_EQ(cmMemoryStart(0), 1);
    EXPECT_STREQ(cmGetFullHostName(), "");
    EXPECT_EQ(cmGetFullDomainName(), nullptr);
}

}  // namespace
