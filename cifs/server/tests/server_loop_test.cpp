// The server loop: the stop request and its wait, a start that cannot reach
// the NetBIOS daemon, and a running server (with the scripted daemon) whose
// command closes its own connection.
#include "cscommands.h"
#include "csdb.h"
#include "csdispatch.h"
#include "csserver.h"
#include "fake_daemon.h"
#include "nschannel.h"
#include "ud_test_env.h"
#include "syfiles.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <vector>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// LogoffAndX stands in for a command that leaves a session without a user:
// the database asks the loop to close the connection being served.
extern "C" uint32_t csComLogoffAndX(const uint8_t *, uint8_t *, uint8_t **position)
{
    CSSession *session = csGetNewSession();
    CSUser *user = session ? csGetNewUser(session) : nullptr;
    if (user)
        csReleaseUserAndDisconnect(user->uid, 0);
    uint8_t *p = *position;
    std::memset(p, 0, 7);
    p[0] = 2;
    p[1] = 0xFF;
    *position += 7;
    return 0;
}

// The host's transport priorities: both on unless a test turns them off.
namespace {
int gTransportPriority = 1;
}  // namespace
extern "C" int udGetTransportPriority(uint32_t) { return gTransportPriority; }

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

TEST_F(ServerLoopTest, AStartWithBothTransportsOffFailsAndCleansUp)
{
    fakend::Daemon daemon;
    ASSERT_TRUE(daemon.start());
    gTransportPriority = 0;
    const int result = csStart();
    gTransportPriority = 1;
    EXPECT_EQ(result, -1);
    EXPECT_EQ(csGetServerContext(), nullptr);
    EXPECT_NE(access(UD_SERVER_PID_FILE, F_OK), 0);
}

class RunningServerTest : public ServerLoopTest {
protected:
    void SetUp() override
    {
        ServerLoopTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(daemon.start());
        server = std::thread([this] { result = csStart(); });
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (access(UD_SERVER_PID_FILE, F_OK) != 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(access(UD_SERVER_PID_FILE, F_OK), 0);
    }
    void TearDown() override
    {
        if (server.joinable()) {
            csStop();
            server.join();
            EXPECT_EQ(result, 0);
        }
        daemon.stop();
        ServerLoopTest::TearDown();
    }
    static int connect445()
    {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(445);
        timeval tv{3, 0};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            close(s);
            return -1;
        }
        return s;
    }
    // Sends command with an empty AndX block; the answer's length, 0 when
    // the server closed, -1 on time-out.
    static int ask(int s, uint8_t command)
    {
        uint8_t m[4 + 32 + 7] = {0, 0, 0, 39, 0xFF, 'S', 'M', 'B', command};
        m[4 + 11] = 0x40;
        m[4 + 32] = 2;
        m[4 + 33] = 0xFF;
        if (send(s, m, sizeof m, 0) != ssize_t(sizeof m))
            return -1;
        uint8_t head[4];
        ssize_t n = recv(s, head, 4, MSG_WAITALL);
        if (n <= 0)
            return int(n);
        uint32_t length = uint32_t(head[1] << 16 | head[2] << 8 | head[3]);
        std::vector<uint8_t> body(length);
        return recv(s, body.data(), length, MSG_WAITALL) == ssize_t(length) ? int(length) : -1;
    }
    fakend::Daemon daemon;
    std::thread server;
    int result = -1;
};

TEST_F(RunningServerTest, ACommandThatLeavesNoUserClosesItsConnectionAfterItsAnswer)
{
    int bystander = connect445();
    ASSERT_GE(bystander, 0);
    EXPECT_EQ(ask(bystander, 0x0C), 35);
    int s = connect445();
    ASSERT_GE(s, 0);
    EXPECT_EQ(ask(s, 0x74), 39);
    uint8_t byte;
    EXPECT_EQ(recv(s, &byte, 1, 0), 0);
    close(s);
    EXPECT_EQ(ask(bystander, 0x0C), 35);
    for (int i = 0; i < 3; ++i) {
        int again = connect445();
        ASSERT_GE(again, 0);
        EXPECT_EQ(ask(again, 0x0C), 35);
        close(again);
    }
    close(bystander);
}

}  // namespace
