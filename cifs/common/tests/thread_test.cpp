// Recursive mutexes, detached threads and semaphore waits with a time-out.
#include "sythread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

TEST(Threads, MutexIsRecursive)
{
    SYMutex m;
    ASSERT_EQ(syMutexCreate(&m), 0);
    syMutexTake(&m);
    syMutexTake(&m);
    syMutexGive(&m);
    syMutexGive(&m);
    EXPECT_EQ(pthread_mutex_trylock(&m), 0);
    syMutexGive(&m);
    syMutexDelete(&m);
}

SYSemaphore g_started;
void *body(void *arg)
{
    EXPECT_EQ(arg, nullptr);
    sem_post(&g_started);
    return nullptr;
}

TEST(Threads, StartRunsDetachedAndTimedTakeWaits)
{
    sem_init(&g_started, 0, 0);
    SYThread t;
    EXPECT_EQ(syThreadStart(&t, body, &t), 0);
    EXPECT_EQ(sySemaphoreTimedTake(&g_started, 5), 0);

    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(sySemaphoreTimedTake(&g_started, 1), -1);
    auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_LE(waited, std::chrono::milliseconds(1100)) << "whole seconds from now, at most";
    sem_post(&g_started);
    EXPECT_EQ(sySemaphoreTimedTake(&g_started, 0), 0) << "already signalled: no wait";
    sem_destroy(&g_started);
}

}  // namespace
