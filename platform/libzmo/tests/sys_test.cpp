#include <gtest/gtest.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "zmo.h"

namespace {
using Clock = std::chrono::steady_clock;

// Sends sig to the calling thread after delay_ms, from another thread.
std::thread signal_me_later(int sig, int delay_ms)
{
    pthread_t me = pthread_self();
    return std::thread([me, sig, delay_ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        pthread_kill(me, sig);
    });
}

struct Sys : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(zmo_sys_init());
        ASSERT_TRUE(zmo_sys_set_default_signals());
        zmo_sys_reset_interrupted();
    }
    void TearDown() override { zmo_sys_reset_interrupted(); }
};

TEST_F(Sys, HandlersDoNotRestartSystemCalls)
{
    for (int sig : {SIGINT, SIGTERM, SIGQUIT}) {
        struct sigaction sa;
        ASSERT_EQ(sigaction(sig, nullptr, &sa), 0);
        EXPECT_EQ(sa.sa_flags & SA_RESTART, 0) << sig;
        EXPECT_NE(sa.sa_handler, SIG_DFL) << sig;
    }
    struct sigaction pipe_sa;
    sigaction(SIGPIPE, nullptr, &pipe_sa);
    EXPECT_EQ(pipe_sa.sa_handler, SIG_IGN);
}

TEST_F(Sys, TerminationSignalEndsSleepEarly)
{
    auto start = Clock::now();
    std::thread t = signal_me_later(SIGTERM, 50);
    EXPECT_FALSE(zmo_sys_sleep_msec(5000, 0));
    t.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(zmo_sys_is_interrupted());
    EXPECT_EQ(zmo_sys_interrupted_signal(), SIGTERM);
    // Once interrupted, further sleeps return at once.
    EXPECT_FALSE(zmo_sys_sleep_msec(5000));
}

TEST_F(Sys, TerminationSignalEndsPollEarly)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    struct pollfd p = {fds[0], POLLIN, 0};
    auto start = Clock::now();
    std::thread t = signal_me_later(SIGINT, 50);
    errno = 0;
    EXPECT_EQ(zmo_poll(&p, 1, 5000), -1);
    EXPECT_EQ(errno, EINTR);
    t.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(zmo_sys_is_interrupted());
    close(fds[0]);
    close(fds[1]);
}

TEST_F(Sys, SleepRunsItsCourse)
{
    auto start = Clock::now();
    EXPECT_TRUE(zmo_sys_sleep_msec(30, 0));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_TRUE(zmo_sys_sleep_msec(0, 0));
}

TEST_F(Sys, Strerror)
{
    EXPECT_STREQ(zmo_sys_strerror(ENOENT), "No such file or directory");
    EXPECT_NE(zmo_sys_strerror(123456), nullptr);
}
}  // namespace
