// cm_cfg.txt, the domain name, identity, transports, buffers and event hooks.
#include "fw_test/matchers.h"
#include "ud_test_env.h"

#include <arpa/inet.h>
#include <cstring>
#include <unistd.h>

using fw_test::HasSubstr;

using namespace testenv;

namespace {

class ConfigTest : public HookTest {
protected:
    // Starts the hooks again so that cm_cfg.txt is read anew.
    void restartWith(const std::string &cmConfig)
    {
        udStop();
        ASSERT_EQ(udInit(), 0);
        writeFile(path("cm_cfg.txt"), cmConfig);
    }

    static void setDomain(const char *name) { ASSERT_EQ(setdomainname(name, std::strlen(name)), 0); }
};

TEST_F(ConfigTest, DomainSettingsFile)
{
    const struct {
        const char *text;
        const char *wins;
        const char *scope;
        int isWorkgroup;
    } cases[] = {
        {"DOMAIN=OFFICE:D\n", "0.0.0.0", "", 0},
        {"DOMAIN=OFFICE\n", "0.0.0.0", "", 1},
        {"DOMAIN = OFFICE:W\n", "0.0.0.0", "", 1},
        {"WINS=10.0.0.1\n", "10.0.0.1", "", 1},
        {"WINS=wins.example\n", "0.0.0.0", "", 1},
        {"WINSSERVER=10.1.2.3\n", "10.1.2.3", "", 1},
        {"# WINS=10.0.0.9\n\n  SCOPE_ID=corp\r\nDOMAIN=X:D", "0.0.0.0", "corp", 0},
        {"garbage line\nWINS=10.0.0.2:extra\n", "10.0.0.2", "", 1},
        // The line after a DOMAIN line is read like any other.
        {"DOMAIN=OFFICE\nWINS=10.0.0.3\n", "10.0.0.3", "", 1},
        {"DOMAIN=OFFICE:\nSCOPE_ID=corp\n", "0.0.0.0", "corp", 1},
        {"DOMAIN=OFFICE:D\nWINS=10.0.0.4\nSCOPE_ID=lan\n", "10.0.0.4", "lan", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        restartWith(c.text);
        EXPECT_EQ(udGetWins(), inet_addr(c.wins));
        uint16_t scope[128];
        udGetScopeID(scope);
        EXPECT_EQ(A(scope), c.scope);
        int isWorkgroup = -1;
        uint16_t domain[1028];
        udGetDomain(domain, sizeof domain, &isWorkgroup);
        EXPECT_EQ(isWorkgroup, c.isWorkgroup);
    }
}

TEST_F(ConfigTest, MissingFileIsTriedAgain)
{
    EXPECT_EQ(udGetWins(), 0u);
    writeFile(path("cm_cfg.txt"), "WINS=10.0.0.7\n");
    EXPECT_EQ(udGetWins(), inet_addr("10.0.0.7"));
    // Read once: later changes wait for the next start.
    writeFile(path("cm_cfg.txt"), "WINS=10.0.0.8\n");
    EXPECT_EQ(udGetWins(), inet_addr("10.0.0.7"));
}

TEST_F(ConfigTest, DomainComesFromTheHostUpperCased)
{
    const struct {
        const char *host;
        uint32_t size;
        const char *expected;
    } cases[] = {
        {"office", 2056, "OFFICE"},    {"office", 8, "OFF"},    {"office", 2, ""},
        {"(none)", 2056, "WORKGROUP"}, {"", 2056, "WORKGROUP"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host);
        setDomain(c.host);
        uint16_t dest[1028];
        std::memset(dest, 0xEE, sizeof dest);
        udGetDomain(dest, c.size, nullptr);
        EXPECT_EQ(A(dest), c.expected);
        EXPECT_EQ(dest[c.size / 2 - 1], 0);
    }
}

TEST_F(ConfigTest, DnsParams)
{
    setDomain("(none)");
    uint16_t domain[300], server[64];
    udGetDnsParams(domain, server);
    EXPECT_EQ(A(domain), "WORKGROUP");
    EXPECT_EQ(A(server), "192.168.19.2");
    char narrow[300];
    uint32_t addr = 0;
    syGetDnsParams(narrow, &addr);
    EXPECT_STREQ(narrow, "WORKGROUP");
    EXPECT_EQ(addr, inet_addr("192.168.19.2"));
}

TEST_F(ConfigTest, IdentityAndFixedAnswers)
{
    char id[UD_COMPUTER_ID_SIZE];
    udSetComputerId("001122AABBCC");
    udGetComputerId(id);
    EXPECT_EQ(std::string(id, sizeof id), "001122AABBCC");
    udDefGetComputerId(id);
    EXPECT_EQ(std::string(id, sizeof id), std::string(12, '\xA5'));

    uint16_t text[64];
    udGetServerComment(text);
    EXPECT_EQ(A(text), "VXE SMB Server");
    udGetFileSystemName(nullptr, nullptr, text);
    EXPECT_EQ(A(text), "NTFS");
    char driver[8];
    udGetDriverName(driver);
    EXPECT_STREQ(driver, "/net");
    EXPECT_EQ(udGetTaskPriorities(), 1);
    EXPECT_EQ(udGetPort(445), 445);
    EXPECT_EQ(udGetSecurityDescriptor(3, 4, nullptr), -1);
    EXPECT_EQ(udSetSecurityDescriptor(3, 4, nullptr, 0), -1);
}

TEST_F(ConfigTest, Credentials)
{
    uint16_t user[300], pass[120], domain[300];
    EXPECT_EQ(udGetCredentials(nullptr, user, pass, domain), 1);
    EXPECT_EQ(A(user), "user");
    EXPECT_EQ(A(pass), "pellmorn");
    EXPECT_EQ(A(domain), "WORKGROUP");

    testing::internal::CaptureStdout();
    udSetCredentials(nullptr, "x", nullptr);
    udSetCredentials("u", nullptr, nullptr);
    udSetCredentials("alice", std::string(150, 'p').c_str(), "office");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("You have entered wrong user name. Please try again..."));
    EXPECT_THAT(out, HasSubstr("You have entered wrong password. Please try again..."));
    udGetCredentials(nullptr, user, pass, domain);
    EXPECT_EQ(A(user), "alice");
    EXPECT_EQ(A(pass), std::string(100, 'p'));
    EXPECT_EQ(A(domain), "OFFICE");
}

TEST_F(ConfigTest, TransportsAndBuffers)
{
    uint32_t order[4] = {9, 9, 9, 9};
    cmGetTransportPriorities(order);
    EXPECT_EQ(order[0], 2u);
    EXPECT_EQ(order[1], 1u);
    EXPECT_EQ(order[2], 9u);
    cmGetTransportPriorities(nullptr);
    EXPECT_EQ(cmGetNumOfAvailableTransports(), 2u);
    EXPECT_EQ(udGetTransportPriority(1), 1);

    auto *start = static_cast<uint8_t *>(udAllocateBuffer(0, 4, 65700));
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(static_cast<uint8_t *>(udAllocateBuffer(3, 4, 65700)), start + 197100);
    // Only buffers inside the area are handed out.
    EXPECT_EQ(udAllocateBuffer(4, 4, 65700), nullptr);
    EXPECT_EQ(udAllocateBuffer(0, 1, UD_BUFFER_AREA_SIZE + 1), nullptr);
    std::memset(udAllocateBuffer(3, 4, 65700), 0, 65700);
}

TEST_F(ConfigTest, EventsWriteAndRemovePidFiles)
{
    const struct {
        void (*started)();
        void (*closed)();
        const char *pidFile;
        const char *ready;
        const char *down;
    } cases[] = {
        {udCifsServerStarted, udCifsServerClosed, UD_SERVER_PID_FILE, "VXCS: server is ready\n",
         "\n---- VX Server was shut down ---\n"},
        {udNetBiosDaemonStarted, udNetBiosDaemonClosed, UD_NETBIOS_PID_FILE, "VXND: server is ready\n",
         "\n---- NETBIOS Server was shut down ---\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pidFile);
        writeFile(c.pidFile, "99999999999 stale\n");
        testing::internal::CaptureStdout();
        c.started();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.ready);
        EXPECT_EQ(readFile(c.pidFile), std::to_string(getpid()));
        testing::internal::CaptureStdout();
        c.closed();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.down);
        EXPECT_FALSE(exists(c.pidFile));
    }
}

TEST_F(ConfigTest, PidFileFailureIsReportedAndSurvived)
{
    std::filesystem::create_directory(UD_SERVER_PID_FILE);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    udCifsServerStarted();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "VXCS: server is ready\n");
    EXPECT_EQ(err.rfind("Could not open a lock file '/var/run/vxcs.pid': ", 0), 0u);
    std::filesystem::remove(UD_SERVER_PID_FILE);
}

}  // namespace
