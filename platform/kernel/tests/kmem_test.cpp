#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <gtest/gtest.h>

namespace {

TEST(Kmem, CountsLiveBlocksAndFailsOnDemand)
{
    long base = kstandin_kmem_live();
    void *a = kmalloc(10, GFP_KERNEL);
    void *b = kzalloc(0, GFP_KERNEL);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(kstandin_kmem_live(), base + 2);
    kfree(a);
    kfree(nullptr);
    EXPECT_EQ(kstandin_kmem_live(), base + 1);

    kstandin_kmem_fail_after(1);
    void *ok = kzalloc(4, GFP_KERNEL);
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(kmalloc(4, GFP_KERNEL), nullptr);
    void *again = kmalloc(4, GFP_KERNEL);
    EXPECT_NE(again, nullptr) << "only one allocation fails";
    kstandin_kmem_fail_all();
    EXPECT_EQ(kzalloc(4, GFP_KERNEL), nullptr);
    EXPECT_EQ(kmalloc(4, GFP_KERNEL), nullptr);
    kstandin_kmem_fail_reset();
    kfree(ok);
    kfree(again);
    kfree(b);
    EXPECT_EQ(kstandin_kmem_live(), base);
}

TEST(Kmem, ZeroedBlockIsZero)
{
    unsigned char *p = static_cast<unsigned char *>(kzalloc(40, GFP_KERNEL));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 40; i++)
        EXPECT_EQ(p[i], 0);
    kfree(p);
}

}  // namespace
