#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(Semaphore, SerialisesHolders)
{
    struct semaphore sem;
    sema_init(&sem, 1);
    std::atomic<int> inside{0}, most{0};
    auto worker = [&] {
        for (int i = 0; i < 200; i++) {
            ASSERT_EQ(down_interruptible(&sem), 0);
            int now = ++inside;
            int m = most.load();
            while (now > m && !most.compare_exchange_weak(m, now)) {
            }
            --inside;
            up(&sem);
        }
    };
    std::thread a(worker), b(worker), c(worker);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(most.load(), 1);
}

TEST(Semaphore, PendingSignalEndsInterruptibleWaitOnly)
{
    struct semaphore sem;
    sema_init(&sem, 0);
    struct task_struct *waiter = nullptr;
    std::atomic<bool> ready{false};
    int rc = 1;
    std::thread t([&] {
        waiter = kstandin_task_self();
        ready = true;
        rc = down_interruptible(&sem);
    });
    while (!ready)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kstandin_task_interrupt(waiter);
    t.join();
    EXPECT_EQ(rc, -EINTR);
    EXPECT_EQ(down_trylock(&sem), 1);  // still taken: nothing was counted down

    // An uninterruptible wait ignores the signal and takes the semaphore.
    std::thread u([&] {
        kstandin_task_interrupt(kstandin_task_self());
        down(&sem);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    up(&sem);
    u.join();
}

TEST(Clock, FakeClockMovesOnlyBySleeping)
{
    kstandin_clock_use_fake(5'000'000'000);
    EXPECT_EQ(kstandin_now_ns(), 5'000'000'000);
    msleep(450);
    udelay(1000);
    EXPECT_EQ(kstandin_now_ns(), 5'451'000'000);
    EXPECT_EQ(kstandin_jiffies(), 545ul);
    kstandin_clock_set_wall(36450);  // 10:07:30 on the first day
    struct timeval tv;
    do_gettimeofday(&tv);
    struct tm tm;
    time_to_tm(tv.tv_sec, 0, &tm);
    EXPECT_EQ(tm.tm_hour, 10);
    EXPECT_EQ(tm.tm_min, 7);
    EXPECT_EQ(tm.tm_sec, 30);
    kstandin_clock_use_real();
}

}  // namespace
