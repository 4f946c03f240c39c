#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

TEST(Mutex, SerialisesHolders)
{
    static DEFINE_MUTEX(m);
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    auto worker = [&] {
        for (int i = 0; i < 200; i++) {
            mutex_lock(&m);
            if (++inside > 1)
                overlap = true;
            --inside;
            mutex_unlock(&m);
        }
    };
    std::thread a(worker), b(worker);
    a.join();
    b.join();
    EXPECT_FALSE(overlap);
    EXPECT_FALSE(mutex_is_locked(&m));
}

TEST(Mutex, OnlyAFatalSignalEndsAKillableWait)
{
    struct mutex m;
    mutex_init(&m);
    mutex_lock(&m);
    std::atomic<struct task_struct *> waiter{nullptr};
    std::atomic<bool> interrupt_only{true};
    auto w = std::async(std::launch::async, [&] {
        waiter = kstandin_task_self();
        int rc = mutex_lock_killable(&m);
        kstandin_task_clear_interrupt();
        return rc;
    });
    while (!waiter)
        std::this_thread::yield();
    kstandin_task_interrupt(waiter);
    EXPECT_EQ(w.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    kstandin_task_kill(waiter);
    EXPECT_EQ(w.get(), -EINTR);
    EXPECT_TRUE(mutex_is_locked(&m)) << "the killed waiter took nothing";
    mutex_unlock(&m);
    EXPECT_EQ(mutex_lock_killable(&m), 0);
    mutex_unlock(&m);
}

TEST(WaitQueue, WaitEventReturnsOnceTheConditionHolds)
{
    static DECLARE_WAIT_QUEUE_HEAD(q);
    static atomic_t count = ATOMIC_INIT(1);
    auto w = std::async(std::launch::async, [] { wait_event(q, atomic_read(&count) == 0); });
    EXPECT_EQ(w.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
    if (atomic_dec_and_test(&count))
        wake_up(&q);
    EXPECT_EQ(w.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
