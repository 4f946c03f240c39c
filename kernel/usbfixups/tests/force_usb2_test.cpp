// /proc/sys/dev/usb/force_usb2 as processes read and write it.
#include "usb_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace usbfixups_test;

namespace {

constexpr const char *kFile = "dev/usb/force_usb2";

std::string read_file()
{
    char buf[64];
    long long pos = 0;
    long n = kstandin_sysctl_read(kFile, buf, sizeof buf, &pos);
    return n < 0 ? "error " + std::to_string(n) : std::string(buf, static_cast<size_t>(n));
}

long write_file(const std::string &text)
{
    long long pos = 0;
    return kstandin_sysctl_write(kFile, text.data(), text.size(), &pos);
}

std::vector<int> restarts()
{
    std::vector<int> v(kstandin_xhci_restarts(nullptr, 0));
    kstandin_xhci_restarts(v.data(), v.size());
    return v;
}

class ForceUsb2 : public ::testing::Test {
protected:
    void SetUp() override
    {
        kstandin_xhci_reset();
        kstandin_kmem_fail_reset();
        ASSERT_EQ(init_module(), 0);
        kstandin_log_clear();
    }
    void TearDown() override
    {
        cleanup_module();
        kstandin_xhci_reset();
    }
    // A writer of "1" held inside the hub restart with the mutex, and a
    // second writer of "0" behind it; back once the second one runs (its
    // task in waiter_).
    void contend()
    {
        kstandin_xhci_block_next_restart();
        holder_ = std::async(std::launch::async, [] { return write_file("1"); });
        ASSERT_EQ(kstandin_xhci_wait_blocked(5000), 0);
        second_ = std::async(std::launch::async, [this] {
            waiter_ = kstandin_task_self();
            long rc = write_file("0");
            kstandin_task_clear_interrupt();
            return rc;
        });
        while (!waiter_)
            std::this_thread::yield();
    }
    std::future<long> holder_, second_;
    std::atomic<struct task_struct *> waiter_{nullptr};
};

TEST_F(ForceUsb2, ReadsZeroOnceFromTheStart)
{
    char buf[8];
    long long pos = 0;
    ASSERT_EQ(kstandin_sysctl_read(kFile, buf, sizeof buf, &pos), 2);
    EXPECT_EQ(std::string(buf, 2), "0\n");
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(kstandin_sysctl_read(kFile, buf, sizeof buf, &pos), 0) << "the second read is the end";
}

TEST_F(ForceUsb2, EachChangeRestartsOnce)
{
    EXPECT_EQ(write_file("1\n"), 2);
    EXPECT_EQ(read_file(), "1\n");
    EXPECT_EQ(write_file("0"), 1);
    EXPECT_EQ(read_file(), "0\n");
    EXPECT_EQ(restarts(), (std::vector<int>{1, 0}));
}

TEST_F(ForceUsb2, SameValueOrRefusedTextRestartsNothing)
{
    ASSERT_EQ(write_file("1"), 1);
    kstandin_xhci_reset();
    struct Case {
        const char *text;
        long result;
    } cases[] = {
        {"1", 1},        {" 1\n", 3},     {"2", -EINVAL},
        {"-1", -EINVAL}, {"x", -EINVAL},  {"1x", -EINVAL},
        {"", 0},         {"\n", -EINVAL}, {"99999999999999999999", -EINVAL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(write_file(c.text), c.result);
        EXPECT_EQ(read_file(), "1\n");
    }
    EXPECT_TRUE(restarts().empty());
}

TEST_F(ForceUsb2, FailedRestartKeepsTheOldValue)
{
    kstandin_xhci_script_restart(-EIO);
    EXPECT_EQ(write_file("1"), -EIO);
    EXPECT_EQ(read_file(), "0\n");
    EXPECT_EQ(kernel_log(), "<3>usbfixups: unable to restart XHCI\n");
    EXPECT_EQ(restarts(), (std::vector<int>{1}));
    // The next try goes through once the hub restarts.
    EXPECT_EQ(write_file("1"), 1);
    EXPECT_EQ(read_file(), "1\n");
}

TEST_F(ForceUsb2, KilledWriterWaitingForTheMutexGivesUp)
{
    ASSERT_NO_FATAL_FAILURE(contend());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(second_.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
        << "the second writer must wait for the mutex";
    kstandin_task_kill(waiter_);
    EXPECT_EQ(second_.get(), -ERESTARTSYS);

    kstandin_xhci_release();
    EXPECT_EQ(holder_.get(), 1);
    EXPECT_EQ(read_file(), "1\n");
    EXPECT_EQ(restarts(), (std::vector<int>{1}));
}

TEST_F(ForceUsb2, PlainSignalDoesNotEndTheWait)
{
    ASSERT_NO_FATAL_FAILURE(contend());
    kstandin_task_interrupt(waiter_);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    kstandin_xhci_release();
    EXPECT_EQ(holder_.get(), 1);
    EXPECT_EQ(second_.get(), 1);
    EXPECT_EQ(restarts(), (std::vector<int>{1, 0}));
}

}  // namespace
