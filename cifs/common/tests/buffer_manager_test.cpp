// Buffer manager: size limit, preallocation, growth and reuse order.
#include "cmbuffer.h"
#include "cmmemory.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

struct BufMan : ::testing::Test {
    void SetUp() override
    {
        cmMemoryStart(0);
        cmBufManStart();
    }
    void TearDown() override
    {
        cmBufManShutdown();
        EXPECT_EQ(cmMemoryGetTotal(), 0u) << "every item freed at shutdown";
    }
};

TEST_F(BufMan, LargestSizeIsTheUsableSize)
{
    uint8_t *b = cmBufManTake(65852);
    ASSERT_NE(b, nullptr);
    b[0] = 1;
    b[65851] = 2;  // the whole usable size is ours
    EXPECT_EQ(cmBufManTake(65853), nullptr);
    cmBufManGive(b);
    cmBufManGive(nullptr);
}

TEST_F(BufMan, GrowsByOneAndReusesTheLastGiven)
{
    const uint32_t preallocated = cmMemoryGetTotal();
    std::set<uint8_t *> seen;
    uint8_t *b[6];
    for (auto &p : b) {
        p = cmBufManTake(100);
        ASSERT_NE(p, nullptr);
        seen.insert(p);
    }
    EXPECT_EQ(seen.size(), 6u);
    EXPECT_GT(cmMemoryGetTotal(), preallocated) << "the sixth is a new item";
    cmBufManGive(b[5]);
    EXPECT_EQ(cmBufManTake(10), b[5]);
    cmBufManGive(b[2]);
    cmBufManGive(b[4]);
    EXPECT_EQ(cmBufManTake(10), b[4]);
    EXPECT_EQ(cmBufManTake(10), b[2]);
    for (auto &p : b)
        cmBufManGive(p);
}

TEST_F(BufMan, AnyThreadTakesAndGives)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                uint8_t *b = cmBufManTake(64);
                ASSERT_NE(b, nullptr);
                b[0] = (uint8_t)t;  // each buffer has one holder at a time
                std::this_thread::yield();
                ASSERT_EQ(b[0], (uint8_t)t);
                cmBufManGive(b);
            }
        });
    }
    for (auto &t : threads)
        t.join();
}

TEST(BufManStopped, TakeBeforeStartGivesNull) { EXPECT_EQ(cmBufManTake(10), nullptr); }

}  // namespace
