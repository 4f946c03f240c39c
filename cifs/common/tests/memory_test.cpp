// Allocator: limit accounting, foreign blocks, blobs and string copies.
#include "cmmemory.h"
#include "cmstring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

struct Memory : ::testing::Test {
    void SetUp() override { cmMemoryStart(0); }
    void TearDown() override { cmMemoryStart(0); }
};

TEST_F(Memory, ZeroSizeGivesNullAndChangesNothing)
{
    EXPECT_EQ(cmMemoryAllocNonDebug(0), nullptr);
    EXPECT_EQ(cmMemoryGetTotal(), 0u);
}

TEST_F(Memory, LimitIsInclusiveAndFreedBytesComeBack)
{
    cmMemoryStart(100);
    void *a = cmMemoryAllocNonDebug(100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(cmMemoryGetTotal(), 100u);
    EXPECT_EQ(cmMemoryAllocNonDebug(1), nullptr);
    cmMemoryFreeNonDebug(a);
    EXPECT_EQ(cmMemoryGetTotal(), 0u);
    void *b = cmMemoryAllocNonDebug(1);
    EXPECT_NE(b, nullptr);
    cmMemoryFreeNonDebug(b);
}

TEST_F(Memory, HugeRequestUnderLimitDoesNotWrap)
{
    cmMemoryStart(100);
    EXPECT_EQ(cmMemoryAllocNonDebug(0xFFFFFFF0u), nullptr);
    EXPECT_EQ(cmMemoryGetTotal(), 0u);
}

TEST_F(Memory, BlocksAreAlignedAndCarryTheirHeader)
{
    auto *p = static_cast<uint8_t *>(cmMemoryAllocNonDebug(3));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
    uint32_t header[3];
    std::memcpy(header, p - 12, sizeof header);
    EXPECT_EQ(header[0], 3u);
    EXPECT_EQ(header[1], 0xFED12345u);
    EXPECT_GE(header[2], 1u);
    cmMemoryFreeNonDebug(p);
}

TEST_F(Memory, ForeignBlocksAreFreedWithoutTouchingTheTotal)
{
    void *own = cmMemoryAllocNonDebug(8);
    char *foreign = strdup("x");  // two bytes: nothing in front of it may be read
    cmMemoryFreeNonDebug(foreign);
    void *big = std::malloc(64);
    std::memset(big, 0, 64);
    cmMemoryFreeNonDebug(big);
    EXPECT_EQ(cmMemoryGetTotal(), 8u);
    cmMemoryFreeNonDebug(own);
    cmMemoryFreeNonDebug(nullptr);
    EXPECT_EQ(cmMemoryGetTotal(), 0u);
}

TEST_F(Memory, RestartWithLiveBlocksNeverWrapsTheTotal)
{
    void *a = cmMemoryAllocNonDebug(50);
    cmMemoryStart(10);
    cmMemoryFreeNonDebug(a);
    EXPECT_EQ(cmMemoryGetTotal(), 0u);
    void *b = cmMemoryAllocNonDebug(10);
    EXPECT_NE(b, nullptr);
    cmMemoryFreeNonDebug(b);
}

TEST_F(Memory, BlobCopies)
{
    uint8_t bytes[] = {1, 2, 3};
    CMBlob src{bytes, 3};
    CMBlob copy = cmMemoryCloneBlobNonDebug(&src);
    ASSERT_NE(copy.data, nullptr);
    EXPECT_NE(copy.data, bytes);
    EXPECT_EQ(copy.len, 3u);
    EXPECT_EQ(std::memcmp(copy.data, bytes, 3), 0);
    cmMemoryFreeBlobNonDebug(&copy);
    EXPECT_EQ(copy.data, nullptr);
    EXPECT_EQ(copy.len, 0u);

    CMBlob none{nullptr, 7};
    CMBlob c2 = cmMemoryCloneBlobNonDebug(&none);
    EXPECT_EQ(c2.data, nullptr);
    EXPECT_EQ(c2.len, 7u);
    CMBlob empty{bytes, 0};
    EXPECT_EQ(cmMemoryCloneBlobNonDebug(&empty).data, nullptr);
}

TEST_F(Memory, StringClones)
{
    CMWchar *w = cmMemoryCloneAStringNonDebug("Ab\xe9");
    ASSERT_NE(w, nullptr);
    const CMWchar expect[] = {'A', 'b', 0xe9, 0};
    EXPECT_EQ(std::memcmp(w, expect, sizeof expect), 0);
    EXPECT_EQ(cmMemoryGetTotal(), 8u);

    CMWchar *w2 = cmMemoryCloneWStringNonDebug(w);
    EXPECT_EQ(cmWStrcmp(w, w2), 0);
    char *a = cmMemoryCloneWStringAsAsciiNonDebug(w2);
    EXPECT_STREQ(a, "Ab\xe9");
    EXPECT_EQ(cmMemoryGetTotal(), 8u + 8u + 16u);
    cmMemoryFreeNonDebug(w);
    cmMemoryFreeNonDebug(w2);
    cmMemoryFreeNonDebug(a);

    const CMWchar none[] = {0};
    char *e = cmMemoryCloneWStringAsAsciiNonDebug(none);
    EXPECT_EQ(cmMemoryGetTotal(), 4u);
    EXPECT_STREQ(e, "");
    cmMemoryFreeNonDebug(e);
}

TEST_F(Memory, LimitHoldsAcrossThreads)
{
    cmMemoryStart(4000);
    std::vector<std::thread> threads;
    std::atomic<bool> over{false};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                void *p = cmMemoryAllocNonDebug(100);
                if (cmMemoryGetTotal() > 4000)
                    over = true;
                cmMemoryFreeNonDebug(p);
            }
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_FALSE(over);
    EXPECT_EQ(cmMemoryGetTotal(), 0u);
}

}  // namespace
