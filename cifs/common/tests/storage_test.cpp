// Storage lists (rows of records named by row and index) and hash lists.
#include "cmmemory.h"
#include "cmstorage.h"
#include "cmstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace {

struct Record {
    CMStorageItem header;
    uint32_t payload;
};

using Place = std::pair<uint32_t, uint32_t>;
Place at(const CMStorageItem *r) { return {r->row, r->index}; }

struct Storage : ::testing::Test {
    CMStorageList list;
    void SetUp() override
    {
        cmMemoryStart(0);
        ASSERT_EQ(cmStorageListInit(&list, sizeof(Record), 1, 4), 1);
    }
    void TearDown() override
    {
        cmStorageListShutdown(&list);
        EXPECT_EQ(cmMemoryGetTotal(), 0u);
    }
};

TEST_F(Storage, GrowsPastRowZeroAndReusesAtTheChainEnd)
{
    CMStorageItem *a = cmStorageItemGetNew(&list, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(list.rowCount, 2u) << "row 0 serves only the row-0 flags";
    EXPECT_EQ(at(a), Place(1, 1));
    CMStorageItem *b = cmStorageItemGetNew(&list, 0);
    EXPECT_EQ(at(b), Place(1, 2));
    cmStorageItemGetNew(&list, 0);
    cmStorageItemGetNew(&list, 0);
    cmStorageItemRemove(&list, 1, 2);
    cmStorageItemRemove(&list, 1, 1);
    EXPECT_EQ(at(cmStorageItemGetNew(&list, 0)), Place(1, 2));
    EXPECT_EQ(at(cmStorageItemGetNew(&list, 0)), Place(1, 1));
    // Row 1 full: the table doubles again.
    CMStorageItem *c = cmStorageItemGetNew(&list, 0);
    EXPECT_EQ(list.rowCount, 4u);
    EXPECT_EQ(at(c), Place(2, 1));
    EXPECT_EQ(list.usedCount, 5u);
}

TEST_F(Storage, RowZeroFlags)
{
    for (uint32_t flags : {0x100u, 0x110u}) {
        CMStorageItem *r = cmStorageItemGetNew(&list, flags);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->row, 0u);
    }
    cmStorageItemGetNew(&list, 0x100);
    cmStorageItemGetNew(&list, 0x100);
    EXPECT_EQ(cmStorageItemGetNew(&list, 0x100), nullptr) << "row 0 full, it never grows";
    EXPECT_EQ(list.rowCount, 1u);
}

TEST_F(Storage, FindNeedsAValidPlaceInUse)
{
    CMStorageItem *a = cmStorageItemGetNew(&list, 0);
    reinterpret_cast<Record *>(a)->payload = 42;
    EXPECT_EQ(cmStorageItemFind(&list, 1, 1, 0), a);
    EXPECT_EQ(cmStorageItemFind(&list, 1, 0, 0), nullptr) << "indexes start at 1";
    EXPECT_EQ(cmStorageItemFind(&list, 1, 5, 0), nullptr);
    EXPECT_EQ(cmStorageItemFind(&list, 9, 1, 0), nullptr);
    EXPECT_EQ(cmStorageItemFind(&list, 1, 2, 0), nullptr) << "free";
    a->isFindable = 0;
    EXPECT_EQ(cmStorageItemFind(&list, 1, 1, 0), nullptr);
    EXPECT_EQ(cmStorageItemFind(&list, 1, 1, 1), a);
    cmStorageItemRemove(&list, 1, 1);
    cmStorageItemRemove(&list, 1, 1);  // twice: nothing
    EXPECT_EQ(cmStorageItemFind(&list, 1, 1, 1), nullptr);
    EXPECT_EQ(list.usedCount, 0u);
    EXPECT_EQ(list.rows[1].usedCount, 0u);
}

TEST_F(Storage, IteratorVisitsFindableRecordsInOrder)
{
    std::vector<CMStorageItem *> made;
    for (int i = 0; i < 6; ++i)
        made.push_back(cmStorageItemGetNew(&list, 0));
    made[1]->isFindable = 0;
    cmStorageItemRemove(&list, made[2]->row, made[2]->index);
    CMStorageIterator it;
    std::vector<CMStorageItem *> seen;
    cmStorageIteratorStart(&list, &it);
    while (cmStorageIteratorHasNext(&it))
        seen.push_back(cmStorageIteratorNext(&it));
    cmStorageIteratorTerminate(&it);
    EXPECT_EQ(seen, (std::vector<CMStorageItem *>{made[0], made[3], made[4], made[5]}));
}

TEST(StorageInit, RefusesImpossibleShapes)
{
    CMStorageList l;
    EXPECT_EQ(cmStorageListInit(&l, 4, 1, 4), 0) << "smaller than the record header";
    EXPECT_EQ(cmStorageListInit(&l, sizeof(Record), 0, 4), 0);
    EXPECT_EQ(cmStorageListInit(&l, sizeof(Record), 1, 0), 0);
}

std::vector<CMWchar> w(const char *s)
{
    std::vector<CMWchar> v(std::strlen(s) + 1);
    cmAnsiToUnicode(v.data(), s);
    return v;
}

TEST(NameHash, FixedValues)
{
    EXPECT_EQ(cmStorageNameHash(w("").data()), 1u);
    // FNV-style over the units from the last to the first, modulo 17.
    uint32_t h = 0x811C9DC5u;
    h = (h * 16777619u) ^ 'b';
    h = (h * 16777619u) ^ 'a';
    EXPECT_EQ(cmStorageNameHash(w("ab").data()), h % 17) << "units last to first";
    for (const char *name : {"share", "SHARE", "x", "a much longer name than usual"}) {
        uint32_t v = cmStorageNameHash(w(name).data());
        EXPECT_LT(v, 17u);
        EXPECT_EQ(cmStorageNameHash(w(name).data()), v);
    }
}

TEST(HashList, PicksListsAndDisposes)
{
    cmMemoryStart(0);
    CMStorageHashList hl;
    std::memset(&hl, 0, sizeof hl);
    auto name = w("share");
    EXPECT_EQ(cmStorageHashFindList(&hl, name.data()), nullptr) << "not started";
    EXPECT_EQ(cmStorageHashListStart(&hl, cmStorageNameHash), 1);
    CMList *l = cmStorageHashFindList(&hl, name.data());
    ASSERT_EQ(l, &hl.lists[cmStorageNameHash(name.data())]);
    cmListItemCreateAndAdd(l, sizeof(CMItem), name.data(), nullptr, 0);
    cmListItemCreateAndAdd(&hl.lists[3], sizeof(CMItem), nullptr, nullptr, 0);
    EXPECT_EQ(cmListItemFind(l, name.data(), 0, 0)->master, l);
    cmStorageHashListDispose(&hl);
    EXPECT_EQ(hl.isStarted, 0u);
    EXPECT_EQ(cmMemoryGetTotal(), 0u);
}

TEST(HashList, ShutdownLeavesItemsToTheirOwner)
{
    cmMemoryStart(0);
    CMStorageHashList hl;
    cmStorageHashListStart(&hl, cmStorageNameHash);
    auto name = w("x");
    CMItem *item = cmListItemCreate(sizeof(CMItem), name.data(), CM_LISTITEM_NOGUARD);
    cmListItemAdd(cmStorageHashFindList(&hl, name.data()), item, nullptr);
    cmStorageHashListShutdown(&hl);
    EXPECT_EQ(item->master, nullptr);
    EXPECT_EQ(item->name, nullptr) << "its name is freed";
    cmListItemDispose(item);
    EXPECT_EQ(cmMemoryGetTotal(), 0u);
}

}  // namespace
