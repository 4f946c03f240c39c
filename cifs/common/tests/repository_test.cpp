// Repositories: preallocation, last-released-first reuse, foreign items,
// immediate disposal and the init and dispose callbacks.
#include "cmlist.h"
#include "cmmemory.h"

#include <gtest/gtest.h>

#include <set>

namespace {

int g_inits, g_disposes;
void onInit(void *) { ++g_inits; }
void onDispose(void *) { ++g_disposes; }

struct Repo : ::testing::Test {
    CMRepository repo{};
    void SetUp() override
    {
        cmMemoryStart(0);
        g_inits = g_disposes = 0;
    }
    void TearDown() override
    {
        cmRepositoryShutdown(&repo);
        EXPECT_EQ(cmMemoryGetTotal(), 0u);
    }
};

TEST_F(Repo, PoolFirstThenGrowth)
{
    cmRepositoryInit(&repo, 0, onInit, onDispose);
    cmRepositoryItemPoolAlloc(&repo, 5, 32);
    EXPECT_EQ(g_inits, 5);
    EXPECT_EQ(repo.freeCount, 5u);
    std::set<void *> got;
    for (int i = 0; i < 5; ++i)
        got.insert(cmRepositoryGetNewItem(&repo));
    EXPECT_EQ(got.size(), 5u);
    EXPECT_EQ(g_inits, 5) << "the pool served them";
    void *extra = cmRepositoryGetNewItem(&repo);
    EXPECT_EQ(got.count(extra), 0u);
    EXPECT_EQ(g_inits, 6);
    cmRepositoryReleaseItem(&repo, extra);
    cmRepositoryShutdown(&repo);
    EXPECT_EQ(g_disposes, 1) << "dispose callback for the free items only";
}

TEST_F(Repo, ReleasedLastComesBackFirst)
{
    cmRepositoryInit(&repo, 0, nullptr, nullptr);
    cmRepositoryItemPoolAlloc(&repo, 5, 16);
    void *a = cmRepositoryGetNewItem(&repo);
    void *b = cmRepositoryGetNewItem(&repo);
    EXPECT_EQ(cmRepositoryReleaseItem(&repo, a), 1);
    EXPECT_EQ(cmRepositoryReleaseItem(&repo, b), 1);
    EXPECT_EQ(cmRepositoryGetNewItem(&repo), b);
    EXPECT_EQ(cmRepositoryGetNewItem(&repo), a);
    EXPECT_EQ(cmRepositoryReleaseItem(&repo, a), 1);
    EXPECT_EQ(cmRepositoryReleaseItem(&repo, a), 0) << "already free";
}

TEST_F(Repo, ItemsOfAnotherRepositoryAreRefused)
{
    CMRepository other{};
    cmRepositoryInit(&repo, 0, nullptr, nullptr);
    cmRepositoryInit(&other, 0, nullptr, nullptr);
    void *mine = cmRepositoryGetNewItem(&other);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(cmRepositoryReleaseItem(&repo, mine), 0);
    EXPECT_EQ(repo.freeCount, 0u);
    EXPECT_EQ(cmRepositoryReleaseItem(&other, mine), 1);
    cmRepositoryShutdown(&other);
}

TEST_F(Repo, ImmediateReleaseDisposes)
{
    cmRepositoryInit(&repo, CM_REPOSITORY_RELEASE_IMMEDIATELY, nullptr, nullptr);
    cmRepositoryItemPoolAlloc(&repo, 0, 100);
    void *a = cmRepositoryGetNewItem(&repo);
    uint32_t withItem = cmMemoryGetTotal();
    EXPECT_EQ(cmRepositoryReleaseItem(&repo, a), 1);
    EXPECT_LT(cmMemoryGetTotal(), withItem);
    EXPECT_EQ(repo.freeCount, 0u);
}

TEST_F(Repo, LockedItemStaysInUse)
{
    cmRepositoryInit(&repo, 0, nullptr, nullptr);
    cmRepositoryItemPoolAlloc(&repo, 1, 8);
    void *a = cmRepositoryGetNewItem(&repo);
    cmListItemLock(CM_DATA_ITEM(a));
    EXPECT_EQ(cmRepositoryReleaseItem(&repo, a), 0);
    cmListItemUnlock(CM_DATA_ITEM(a));
    EXPECT_EQ(cmRepositoryReleaseItem(&repo, a), 1);
}

TEST_F(Repo, IterationVisitsUsedItemsOnly)
{
    cmRepositoryInit(&repo, 0, nullptr, nullptr);
    cmRepositoryItemPoolAlloc(&repo, 3, 8);
    void *a = cmRepositoryGetNewItem(&repo);
    void *b = cmRepositoryGetNewItem(&repo);
    CMIterator it;
    std::set<void *> seen;
    cmRepositoryIteratorStart(&repo, &it);
    while (it.next)
        seen.insert(cmRepositoryIteratorNext(&it));
    cmRepositoryIteratorTerminate(&repo, &it);
    EXPECT_EQ(seen, (std::set<void *>{a, b}));
}

TEST_F(Repo, StoppedRepositoryGivesNothing)
{
    EXPECT_EQ(cmRepositoryGetNewItem(&repo), nullptr);
    EXPECT_EQ(cmRepositoryAddItem(&repo, nullptr, nullptr, nullptr), 0);
}

}  // namespace
