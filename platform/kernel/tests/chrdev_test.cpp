#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <gtest/gtest.h>

namespace {

long echo_ioctl(struct file *, unsigned int cmd, unsigned long arg) { return static_cast<long>(cmd + arg); }
const struct file_operations echo_fops = {nullptr, echo_ioctl};

TEST(Chrdev, RegisterCallUnregister)
{
    ASSERT_EQ(register_chrdev(200, "echo", &echo_fops), 0);
    EXPECT_EQ(register_chrdev(200, "again", &echo_fops), -EBUSY);
    EXPECT_EQ(kstandin_chrdev_ioctl(200, 5, 7), 12);
    unregister_chrdev(200, "echo");
    EXPECT_EQ(kstandin_chrdev_ioctl(200, 5, 7), -ENODEV);

    int major = register_chrdev(0, "dyn", &echo_fops);
    ASSERT_GT(major, 0);
    EXPECT_TRUE(kstandin_chrdev_registered(static_cast<unsigned>(major)));
    unregister_chrdev(static_cast<unsigned>(major), "dyn");
}

TEST(Printk, CapturesTheLog)
{
    kstandin_log_clear();
    printk(KERN_INFO "hello %d\n", 42);
    std::string big(600, 'x');
    printk("%s\n", big.c_str());
    char buf[2048];
    size_t n = kstandin_log_read(buf, sizeof buf);
    EXPECT_EQ(n, 12u + 601u);
    EXPECT_EQ(std::string(buf).substr(0, 12), "<6>hello 42\n");
}

}  // namespace
