// The device host and its client: blocks travel with their real size, so
// the served module can reach exactly the caller's block.
#include "kstandin/devhost.h"
#include "kstandin/host.h"
#include "kstandin/kernel.h"
#include "vdsl_dev.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kMajor = 201;
struct semaphore gate;

// Request 1: copy 64 bytes in, add 1 to each, copy them out.
// Request 2: hold the gate for 50 ms, answer the caller's first byte.
long test_ioctl(struct file *, unsigned int cmd, unsigned long arg)
{
    unsigned char b[64];
    switch (cmd) {
    case 1:
        if (copy_from_user(b, reinterpret_cast<void *>(arg), sizeof b))
            return -EFAULT;
        for (unsigned char &c : b)
            c++;
        return copy_to_user(reinterpret_cast<void *>(arg), b, sizeof b) ? -EFAULT : 0;
    case 2:
        if (copy_from_user(b, reinterpret_cast<void *>(arg), 1))
            return -EFAULT;
        down(&gate);
        msleep(50);
        up(&gate);
        return b[0];
    default:
        return -ENOTTY;
    }
}
const struct file_operations test_fops = {nullptr, test_ioctl};

struct DevHost : ::testing::Test {
    int stop[2] = {-1, -1};
    std::thread server;
    std::string path;
    void SetUp() override
    {
        sema_init(&gate, 1);
        ASSERT_EQ(register_chrdev(kMajor, "t", &test_fops), 0);
        path = "/tmp/kstandin-devhost-" + std::to_string(getpid()) + ".sock";
        setenv("VDSL_DEV_SOCKET", path.c_str(), 1);
        ASSERT_EQ(pipe(stop), 0);
        server = std::thread([this] { kstandin_devhost_serve(path.c_str(), kMajor, stop[0]); });
        for (int i = 0; i < 200 && access(path.c_str(), F_OK) != 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    void TearDown() override
    {
        ASSERT_EQ(write(stop[1], "x", 1), 1);
        server.join();
        close(stop[0]);
        close(stop[1]);
        unregister_chrdev(kMajor, "t");
        unsetenv("VDSL_DEV_SOCKET");
    }
};

TEST_F(DevHost, BlockTravelsBothWays)
{
    int fd = vdsl_dev_open();
    ASSERT_GE(fd, 0);
    std::vector<unsigned char> block(64, 7);
    EXPECT_EQ(vdsl_dev_ioctl(fd, 1, block.data(), block.size()), 0);
    EXPECT_EQ(block[0], 8);
    EXPECT_EQ(block[63], 8);
    // Several requests on one open device.
    EXPECT_EQ(vdsl_dev_ioctl(fd, 1, block.data(), block.size()), 0);
    EXPECT_EQ(block[10], 9);
    EXPECT_EQ(vdsl_dev_ioctl(fd, 99, block.data(), block.size()), -ENOTTY);
    vdsl_dev_close(fd);
}

TEST_F(DevHost, ShortOrMissingBlockFaults)
{
    int fd = vdsl_dev_open();
    ASSERT_GE(fd, 0);
    std::vector<unsigned char> small(8, 1);
    EXPECT_EQ(vdsl_dev_ioctl(fd, 1, small.data(), small.size()), -EFAULT);
    EXPECT_EQ(small[0], 1);  // nothing written back
    EXPECT_EQ(vdsl_dev_ioctl(fd, 1, nullptr, 64), -EFAULT);
    std::vector<unsigned char> huge(VDSL_DEV_MAX_BLOCK + 1);
    EXPECT_EQ(vdsl_dev_ioctl(fd, 1, huge.data(), huge.size()), -EINVAL);
    vdsl_dev_close(fd);
}

TEST_F(DevHost, ClientsAreServedAtOnceWithTheirOwnAnswers)
{
    std::vector<std::thread> clients;
    std::vector<int> results(4, -1);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; i++) {
        clients.emplace_back([i, &results] {
            int fd = vdsl_dev_open();
            unsigned char b[64] = {static_cast<unsigned char>(10 + i)};
            results[i] = vdsl_dev_ioctl(fd, 2, b, sizeof b);
            vdsl_dev_close(fd);
        });
    }
    for (auto &t : clients)
        t.join();
    auto took = std::chrono::steady_clock::now() - t0;
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(results[i], 10 + i);
    // The gate serialised them: four holds of 50 ms.
    EXPECT_GE(took, std::chrono::milliseconds(195));
}

TEST(DevClient, NoHostMeansOpenFails)
{
    setenv("VDSL_DEV_SOCKET", "/tmp/kstandin-nobody-here.sock", 1);
    EXPECT_EQ(vdsl_dev_open(), -1);
    unsetenv("VDSL_DEV_SOCKET");
}

}  // namespace
