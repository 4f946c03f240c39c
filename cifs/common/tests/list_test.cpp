// Lists and items: locking against removal, release callbacks, references,
// lookups by name and iteration.
#include "cmlist.h"
#include "cmmemory.h"
#include "cmstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

std::vector<CMWchar> w(const char *s)
{
    std::vector<CMWchar> v(std::strlen(s) + 1);
    cmAnsiToUnicode(v.data(), s);
    return v;
}

int g_released;
int countRelease(CMItem *) { return ++g_released; }
int disposeOnRelease(CMItem *item)
{
    ++g_released;
    cmListItemRemoveAndDispose(item);
    return 0;
}

struct Lists : ::testing::Test {
    CMList list;
    void SetUp() override
    {
        cmMemoryStart(0);
        g_released = 0;
        cmListStart(&list);
    }
    void TearDown() override
    {
        cmListShutdown(&list);
        EXPECT_EQ(cmMemoryGetTotal(), 0u) << "every item and name freed";
    }
    CMItem *add(const char *name = nullptr, CMItemCallback cb = nullptr)
    {
        auto n = name ? w(name) : std::vector<CMWchar>();
        return cmListItemCreateAndAdd(&list, sizeof(CMItem) + 8, name ? n.data() : nullptr, cb, 0);
    }
    std::vector<CMItem *> contents()
    {
        std::vector<CMItem *> v;
        CMIterator it;
        cmListIteratorStart(&list, &it);
        while (it.next)
            v.push_back(cmListIteratorNext(&it));
        cmListIteratorTerminate(&it);
        return v;
    }
};

TEST_F(Lists, AppendsInOrderAndUnlinksFromAnyPlace)
{
    CMItem *a = add(), *b = add(), *c = add();
    EXPECT_EQ(contents(), (std::vector<CMItem *>{a, b, c}));
    EXPECT_EQ(cmListItemRemoveAndDispose(b), 1);
    EXPECT_EQ(contents(), (std::vector<CMItem *>{a, c}));
    EXPECT_EQ(cmListItemRemoveAndDispose(c), 1);
    EXPECT_EQ(list.last, a);
    EXPECT_EQ(cmListItemRemoveAndDispose(a), 1);
    EXPECT_EQ(list.first, nullptr);
    EXPECT_EQ(list.last, nullptr);
}

TEST_F(Lists, LockedItemCannotBeRemoved)
{
    CMItem *a = add();
    cmListItemLock(a);
    EXPECT_EQ(cmListItemRemove(a), 0);
    EXPECT_EQ(contents().size(), 1u);
    cmListItemUnlock(a);
    EXPECT_EQ(cmListItemRemove(a), 1);
    EXPECT_EQ(a->master, nullptr);
    EXPECT_EQ(cmListItemRemove(a), 0) << "in no list";
    cmListItemDispose(a);
}

TEST_F(Lists, ReleaseCallbackRunsOnceWhenTheLastLockGoes)
{
    CMItem *a = add("a", countRelease);
    cmListItemLock(a);
    cmListItemLock(a);
    cmListItemUnlock(a);
    EXPECT_EQ(g_released, 0);
    cmListItemUnlock(a);
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(a->findable, 0u);
    cmListItemLock(a);
    cmListItemUnlock(a);
    EXPECT_EQ(g_released, 1) << "no longer findable";
}

TEST_F(Lists, CheckReleasesAnItemNobodyHolds)
{
    CMItem *a = add("a", disposeOnRelease);
    cmListItemLock(a);
    cmListItemCheck(a);
    EXPECT_EQ(g_released, 0);
    cmListItemUnlock(a);  // disposes it through the callback
    EXPECT_EQ(g_released, 1);
    EXPECT_TRUE(contents().empty());
    CMItem *b = add("b", disposeOnRelease);
    cmListItemCheck(b);
    EXPECT_EQ(g_released, 2);
    EXPECT_TRUE(contents().empty());
}

TEST_F(Lists, ShutdownStopsAtTheFirstLockedItem)
{
    CMItem *a = add(), *b = add(), *c = add();
    (void)a;
    cmListItemLock(b);
    cmListShutdown(&list);
    EXPECT_EQ(list.isStarted, 0u);
    EXPECT_EQ(list.first, b);
    EXPECT_EQ(b->next, c);
    CMItem *late = cmListItemCreate(sizeof(CMItem), nullptr, 0);
    EXPECT_EQ(cmListItemAdd(&list, late, nullptr), 0) << "not started";
    cmListItemDispose(late);
    // Clean up what shutdown left behind.
    b->locks = 0;
    cmListItemDispose(b);
    cmListItemDispose(c);
    cmListStart(&list);
}

TEST_F(Lists, FindByNameWithAndWithoutCase)
{
    add();
    CMItem *share = add("Share");
    add("Other");
    auto upper = w("SHARE"), exact = w("Share");
    EXPECT_EQ(cmListItemFind(&list, upper.data(), 1, 0), share);
    EXPECT_EQ(cmListItemFind(&list, upper.data(), 0, 0), nullptr);
    EXPECT_EQ(cmListItemFind(&list, nullptr, 1, 0), nullptr);
    EXPECT_EQ(cmListItemFind(&list, exact.data(), 0, 1), share);
    EXPECT_EQ(share->locks, 1u);
    cmListItemUnlock(share);
}

TEST_F(Lists, FirstMatchDecidesEvenWhenHidden)
{
    CMItem *first = add("dup", countRelease);
    CMItem *second = add("dup");
    (void)second;
    cmListItemLock(first);
    cmListItemUnlock(first);  // clears findable
    auto dup = w("dup");
    EXPECT_EQ(cmListItemFind(&list, dup.data(), 0, 0), nullptr);
}

TEST_F(Lists, ReferencesKeepTargetsAliveUntilTheReferrerGoes)
{
    CMItem *referrer = add(), *target = add("t", countRelease);
    cmListItemAddReference(referrer, target);
    cmListItemAddReference(referrer, target);
    EXPECT_EQ(target->locks, 2u);
    EXPECT_EQ(cmListItemRemove(target), 0);
    cmListItemRemoveReference(referrer, target);
    EXPECT_EQ(target->locks, 1u);
    cmListItemRemoveReference(referrer, referrer);  // no such reference: nothing
    EXPECT_EQ(target->locks, 1u);
    EXPECT_EQ(cmListItemRemoveAndDispose(referrer), 1);
    EXPECT_EQ(target->locks, 0u);
    EXPECT_EQ(g_released, 1);
}

TEST_F(Lists, StaticItemsAreNeverFreed)
{
    struct Holder {
        CMItem item;
        int data;
    } holder{};
    cmListItemInit(&holder.item);
    holder.item.isStatic = 1;
    ASSERT_EQ(cmListItemAdd(&list, &holder.item, nullptr), 1);
    EXPECT_EQ(cmListItemRemoveAndDispose(&holder.item), 1);
    EXPECT_EQ(holder.item.master, nullptr);
}

TEST_F(Lists, CreateFlags)
{
    CMItem *locked = cmListItemCreate(sizeof(CMItem), nullptr, CM_LISTITEM_LOCK | CM_LISTITEM_NOGUARD);
    ASSERT_NE(locked, nullptr);
    EXPECT_EQ(locked->locks, 1u);
    EXPECT_EQ(locked->guard, nullptr);
    EXPECT_EQ(locked->master, nullptr);
    cmListItemDispose(locked);
    EXPECT_EQ(cmListItemCreate(4, nullptr, 0), nullptr) << "smaller than the header";
}

TEST_F(Lists, IterationHoldsOffOtherThreads)
{
    add();
    CMIterator it;
    cmListIteratorStart(&list, &it);
    std::thread other([&] { add(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    size_t seen = 0;
    while (it.next) {
        cmListIteratorNext(&it);
        ++seen;
    }
    EXPECT_EQ(seen, 1u) << "the add waits for the iteration";
    cmListIteratorTerminate(&it);
    other.join();
    EXPECT_EQ(contents().size(), 2u);
}

TEST_F(Lists, IteratorMayDisposeTheItemJustReturned)
{
    for (int i = 0; i < 4; ++i)
        add();
    CMIterator it;
    cmListIteratorStart(&list, &it);
    while (it.next)
        EXPECT_EQ(cmListItemRemoveAndDispose(cmListIteratorNext(&it)), 1);
    cmListIteratorTerminate(&it);
    EXPECT_TRUE(contents().empty());
}

}  // namespace
