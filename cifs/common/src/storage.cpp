// Storage lists: rows of fixed-size records with a free chain per row; the
// table doubles its rows when every record is taken.
#include "cmmemory.h"
#include "cmstorage.h"
#include "mutex_hold.h"

#include <cstring>

namespace {

constexpr uint32_t kRowLimit = 65533;

CMStorageItem *record(const CMStorageList *list, uint32_t row, uint32_t index /* from 1 */)
{
    return reinterpret_cast<CMStorageItem *>(list->rows[row].block + (size_t)(index - 1) * list->recordSize);
}

void releaseRow(CMStorageRow *r)
{
    if (r->mutex) {
        syMutexDelete(r->mutex);
        cmMemoryFreeNonDebug(r->mutex);
    }
    cmMemoryFreeNonDebug(r->block);
    r->mutex = nullptr;
    r->block = nullptr;
}

// A row with every record on its free chain, in index order.
bool setUpRow(CMStorageList *list, uint32_t number)
{
    CMStorageRow *r = &list->rows[number];
    std::memset(r, 0, sizeof *r);
    r->number = number;
    uint64_t bytes = (uint64_t)list->perRow * list->recordSize;
    if (bytes == 0 || bytes > UINT32_MAX)
        return false;
    r->block = static_cast<uint8_t *>(cmMemoryAllocNonDebug((uint32_t)bytes));
    r->mutex = static_cast<SYMutex *>(cmMemoryAllocNonDebug(sizeof(SYMutex)));
    if (!r->block || !r->mutex || syMutexCreate(r->mutex) != 0) {
        cmMemoryFreeNonDebug(r->mutex);
        r->mutex = nullptr;
        releaseRow(r);
        return false;
    }
    std::memset(r->block, 0, (size_t)bytes);
    for (uint32_t i = 1; i <= list->perRow; ++i) {
        CMStorageItem *rec = record(list, number, i);
        rec->index = i;
        rec->row = number;
        rec->nextFree = i < list->perRow ? record(list, number, i + 1) : nullptr;
    }
    r->firstFree = record(list, number, 1);
    r->lastFree = record(list, number, list->perRow);
    return true;
}

bool grow(CMStorageList *list)
{
    uint64_t count = (uint64_t)list->rowCount * 2;
    if (count == 0 || count * sizeof(CMStorageRow) > UINT32_MAX)
        return false;
    auto *rows = static_cast<CMStorageRow *>(cmMemoryAllocNonDebug((uint32_t)(count * sizeof(CMStorageRow))));
    if (!rows)
        return false;
    std::memcpy(rows, list->rows, list->rowCount * sizeof(CMStorageRow));
    CMStorageRow *old = list->rows;
    uint32_t oldCount = list->rowCount;
    list->rows = rows;
    for (uint32_t i = oldCount; i < count; ++i) {
        if (!setUpRow(list, i)) {
            for (uint32_t j = oldCount; j < i; ++j)
                releaseRow(&rows[j]);
            list->rows = old;
            cmMemoryFreeNonDebug(rows);
            return false;
        }
    }
    list->rowCount = (uint32_t)count;
    cmMemoryFreeNonDebug(old);
    return true;
}

CMStorageItem *takeFree(CMStorageList *list, CMStorageRow *r)
{
    MutexHold g(*r->mutex);
    CMStorageItem *rec = r->firstFree;
    r->firstFree = rec->nextFree;
    if (!r->firstFree)
        r->lastFree = nullptr;
    rec->nextFree = nullptr;
    r->usedCount++;
    rec->isUsed = rec->isFindable = 1;
    list->usedCount++;
    return rec;
}

bool valid(const CMStorageList *list, uint32_t row, uint32_t index)
{
    return row < list->rowCount && index >= 1 && index <= list->perRow;
}

}  // namespace

extern "C" {

int cmStorageListInit(CMStorageList *list, uint32_t recordSize, uint32_t rows, uint32_t recordsPerRow)
{
    std::memset(list, 0, sizeof *list);
    if (recordSize < sizeof(CMStorageItem) || rows == 0 || recordsPerRow == 0 || recordsPerRow > 0xFFFF)
        return 0;
    // Records keep the alignment of their header.
    list->recordSize = (recordSize + alignof(CMStorageItem) - 1) & ~(uint32_t)(alignof(CMStorageItem) - 1);
    list->perRow = recordsPerRow;
    uint64_t bytes = (uint64_t)rows * sizeof(CMStorageRow);
    list->rows =
        bytes > UINT32_MAX ? nullptr : static_cast<CMStorageRow *>(cmMemoryAllocNonDebug((uint32_t)bytes));
    if (!list->rows)
        return 0;
    for (uint32_t i = 0; i < rows; ++i) {
        if (!setUpRow(list, i)) {
            for (uint32_t j = 0; j < i; ++j)
                releaseRow(&list->rows[j]);
            cmMemoryFreeNonDebug(list->rows);
            list->rows = nullptr;
            return 0;
        }
    }
    list->rowCount = rows;
    syMutexCreate(&list->mutex);
    return 1;
}

CMStorageItem *cmStorageItemGetNew(CMStorageList *list, uint32_t flags)
{
    MutexHold g(list->mutex);
    if (flags == CM_STORAGE_ROW0 || flags == (CM_STORAGE_ROW0 | CM_STORAGE_LIMITED)) {
        CMStorageRow *r = &list->rows[0];
        if (!r->firstFree || r->usedCount >= kRowLimit)
            return nullptr;
        return takeFree(list, r);
    }
    const bool limited = (flags & CM_STORAGE_LIMITED) != 0;
    for (uint32_t i = 1; i < list->rowCount; ++i) {
        if (limited && i >= kRowLimit)
            break;
        if (list->rows[i].firstFree && list->rows[i].usedCount < 0xFFFF)
            return takeFree(list, &list->rows[i]);
    }
    if (limited && list->rowCount >= kRowLimit)
        return nullptr;
    uint32_t first = list->rowCount;
    if (!grow(list))
        return nullptr;
    return takeFree(list, &list->rows[first]);
}

CMStorageItem *cmStorageItemFind(CMStorageList *list, uint32_t row, uint32_t index, int includeHidden)
{
    MutexHold g(list->mutex);
    if (!valid(list, row, index))
        return nullptr;
    CMStorageItem *rec = record(list, row, index);
    return rec->isUsed && (rec->isFindable || includeHidden) ? rec : nullptr;
}

void cmStorageItemRemove(CMStorageList *list, uint32_t row, uint32_t index)
{
    MutexHold g(list->mutex);
    if (!valid(list, row, index))
        return;
    CMStorageItem *rec = record(list, row, index);
    if (!rec->isUsed)
        return;
    rec->isUsed = rec->isFindable = 0;
    CMStorageRow *r = &list->rows[row];
    MutexHold rowLock(*r->mutex);
    rec->nextFree = nullptr;
    if (r->lastFree)
        r->lastFree->nextFree = rec;
    else
        r->firstFree = rec;
    r->lastFree = rec;
    if (r->usedCount > 0)
        r->usedCount--;
    if (list->usedCount > 0)
        list->usedCount--;
}

void cmStorageIteratorStart(CMStorageList *list, CMStorageIterator *it)
{
    syMutexCreate(&it->mutex);
    syMutexTake(&it->mutex);
    syMutexTake(&list->mutex);
    it->list = list;
    it->row = 0;
    it->index = 0;
}

int cmStorageIteratorHasNext(CMStorageIterator *it)
{
    CMStorageList *list = it->list;
    while (list && it->row < list->rowCount) {
        if (list->rows[it->row].usedCount == 0 || it->index >= list->perRow) {
            it->row++;
            it->index = 0;
            continue;
        }
        CMStorageItem *rec = record(list, it->row, it->index + 1);
        if (rec->isUsed && rec->isFindable)
            return 1;
        it->index++;
    }
    return 0;
}

CMStorageItem *cmStorageIteratorNext(CMStorageIterator *it)
{
    CMStorageList *list = it->list;
    if (!list || it->row >= list->rowCount || it->index >= list->perRow)
        return nullptr;
    CMStorageItem *rec = record(list, it->row, it->index + 1);
    if (++it->index >= list->perRow) {
        it->row++;
        it->index = 0;
    }
    return rec;
}

void cmStorageIteratorTerminate(CMStorageIterator *it)
{
    if (it->list)
        syMutexGive(&it->list->mutex);
    it->list = nullptr;
    it->row = it->index = 0;
    syMutexGive(&it->mutex);
    syMutexDelete(&it->mutex);
}

void cmStorageListShutdown(CMStorageList *list)
{
    if (!list->rows)
        return;
    for (uint32_t i = 0; i < list->rowCount; ++i)
        releaseRow(&list->rows[i]);
    cmMemoryFreeNonDebug(list->rows);
    list->rows = nullptr;
    list->rowCount = 0;
    syMutexDelete(&list->mutex);
}

}  // extern "C"
