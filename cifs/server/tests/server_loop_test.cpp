// What of the server loop runs without the NetBIOS daemon: the stop request
// and its wait, and a start that cannot reach the daemon.
#include "csserver.h"
#include "nschannel.h"
#include "ud_test_env.h"
#include "syfiles.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class ServerLoopTest : public testenv::HookTest {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace";
        testenv::HookTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(syInit(), 1);
        // A daemon that is not there is given up after a second.
        nsChannelSetWait(1);
    }
    void TearDown() override
    {
        nsChannelSetWait(0);
        testenv::HookTest::TearDown();
    }
};

double secondsOf(int (*call)(void), int *result)
{
    auto start = std::chrono::steady_clock::now();
    *result = call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(ServerLoopTest, StopWithoutAServerWaitsASecondAtMost)
{
    int result = -1;
    double took = secondsOf(csStop, &result);
    EXPECT_EQ(result, 0);
    EXPECT_LT(took, 1.5);
}

TEST_F(ServerLoopTest, StopSendsCodeOneAndTakesTheReply)
{
    int server = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(CS_CONTROL_PORT);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    std::thread answer([server] {
        uint8_t m[16];
        sockaddr_in from{};
        socklen_t n = sizeof from;
        ssize_t got = recvfrom(server, m, sizeof m, 0, reinterpret_cast<sockaddr *>(&from), &n);
        EXPECT_EQ(got, 4);
        EXPECT_EQ(m[0], 1);
        EXPECT_EQ(m[1] | m[2] | m[3], 0);
        const uint8_t ok[4] = {};
        sendto(server, ok, sizeof ok, 0, reinterpret_cast<sockaddr *>(&from), n);
    });
    int result = -1;
    double took = secondsOf(csStop, &result);
    answer.join();
    close(server);
    EXPECT_EQ(result, 0);
    EXPECT_LT(took, 0.5);
}

TEST_F(ServerLoopTest, AStartWithoutTheNetBiosDaemonFailsAndCleansUp)
{
    EXPECT_EQ(csStart(), -1);
    EXPECT_EQ(csGetServerContext(), nullptr);
    EXPECT_NE(access(UD_SERVER_PID_FILE, F_OK), 0);
    // Nothing of the failed start holds the control port.
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(CS_CONTROL_PORT);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    close(s);
}

}  // namespace
