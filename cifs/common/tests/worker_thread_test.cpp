// Thread records: adoption by pthread_self, context blocks, condition
// objects with timed waits, threads started by the layer, and loopback ports
// from the port manager.
#include "ud_test_env.h"

#include "cmselfip.h"
#include "cmthread.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class WorkerThreadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(cmThreadStart(), 1); }
    void TearDown() override { cmThreadShutdown(); }
};

TEST_F(WorkerThreadTest, AdoptionIsPerThread)
{
    CMWorkerThread *mine = cmThreadGetCurrent();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(cmThreadGetCurrent(), mine);
    EXPECT_EQ(cmThreadSubscribe(), mine);
    EXPECT_EQ(mine->condCount, 2u);
    EXPECT_TRUE(mine->flags & CM_THREAD_READY);
    EXPECT_EQ(mine->self, mine);
    CMWorkerThread *other = nullptr;
    std::thread([&] {
        other = cmThreadGetCurrent();
        cmThreadUnsubscribe();
    }).join();
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, mine);
    cmThreadUnsubscribe();
    cmThreadUnsubscribe();  // nothing left: nothing happens
    CMWorkerThread *again = cmThreadGetCurrent();
    ASSERT_NE(again, nullptr);
}

TEST_F(WorkerThreadTest, ContextGrowsOnlyWhenAskedForMore)
{
    CMWorkerThread *t = cmThreadGetCurrent();
    ASSERT_NE(t, nullptr);
    auto *big = static_cast<uint8_t *>(cmThreadGetContext(t, 200));
    ASSERT_NE(big, nullptr);
    big[0] = 0x55;
    EXPECT_EQ(cmThreadGetContext(t, 100), big);
    EXPECT_EQ(big[0], 0x55);
    auto *bigger = static_cast<uint8_t *>(cmThreadGetContext(t, 300));
    ASSERT_NE(bigger, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(bigger, bigger + 300), std::vector<uint8_t>(300, 0));

    cmThreadUnsubscribe();
    t = cmThreadGetCurrent();
    auto *item = static_cast<CMItem *>(cmThreadGetContextAsStatItem(t, 8));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->isStatic, 1u);
    EXPECT_EQ(item->name, nullptr);
    CMList list;
    cmListStart(&list);
    ASSERT_TRUE(cmListItemAdd(&list, item, nullptr));
    cmListShutdown(&list);  // the static context is not freed by the list
    EXPECT_EQ(cmThreadGetContext(t, 8), item);
}

TEST_F(WorkerThreadTest, ConditionWaitsAndClears)
{
    CMThreadCond cond;
    ASSERT_EQ(cmThreadCondSet(&cond), 1);
    EXPECT_EQ(cmThreadCondSignal(&cond), 1);
    EXPECT_EQ(cmThreadCondSignal(&cond), 1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cmThreadCondWait(&cond, 2), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    cmThreadCondClear(&cond);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(cmThreadCondWait(&cond, 2), 0);
    // The system layer's deadline is a whole second of the wall clock.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        cmThreadCondSignal(&cond);
    });
    EXPECT_EQ(cmThreadCondWait(&cond, 5), 1);
    signaller.join();
    EXPECT_EQ(cmThreadCondRelease(&cond), 1);
}

std::atomic<int> gBodyRan{0};
CMWorkerThread *gSeenByBody = nullptr;
void body(void *argument)
{
    gSeenByBody = cmThreadGetCurrent();
    gBodyRan = *static_cast<int *>(argument);
}

TEST_F(WorkerThreadTest, CreateAndRunFindsItsOwnRecord)
{
    static CMWorkerThread record;
    static int argument = 42;
    ASSERT_EQ(cmThreadCreateAndRun(&record, body, &argument), 1);
    for (int i = 0; i < 200 && gBodyRan == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(gBodyRan, 42);
    EXPECT_EQ(gSeenByBody, &record);
    EXPECT_EQ(record.condCount, 3u);
    cmThreadStopAndDestroy(&record, 0);
    EXPECT_EQ(record.condCount, 0u);
}

class BindPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace of its own";
        ASSERT_EQ(cmPortManageStart(), 1);
    }
    static int holder(uint16_t port)
    {
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            close(s);
            return -1;
        }
        return s;
    }
};

TEST_F(BindPortTest, SkipsPortsInUse)
{
    int taken = holder(CM_PORT_FIRST);
    ASSERT_GE(taken, 0);
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(cmThreadBindPort(s), CM_PORT_FIRST + 1);
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    EXPECT_EQ(a.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ntohs(a.sin_port), CM_PORT_FIRST + 1);
    close(s);
    cmThreadFreePort(CM_PORT_FIRST + 1);
    s = socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(cmThreadBindPort(s), CM_PORT_FIRST + 1) << "a port handed back is given out again";
    close(s);
    close(taken);
}

TEST_F(BindPortTest, EveryPortInUseGivesZeroAfterOneCycle)
{
    rlimit limit{20000, 20000};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
        GTEST_SKIP() << "can't hold a socket on every port of the range";
    std::vector<int> held;
    for (uint16_t p = CM_PORT_FIRST; p < CM_PORT_END - 1; ++p) {
        int h = holder(p);
        ASSERT_GE(h, 0) << p;
        held.push_back(h);
    }
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(cmThreadBindPort(s), 0);
    close(held[5]);
    EXPECT_EQ(cmThreadBindPort(s), CM_PORT_FIRST + 5);
    close(s);
    for (size_t i = 0; i < held.size(); ++i)
        if (i != 5)
            close(held[i]);
}

}  // namespace
