// Pools of same-sized items on a used and a free list. Items are recycled
// last-released-first so that the most recently touched memory is reused.
#include "cmlist.h"
#include "cmmemory.h"

namespace {

struct Guard {
    explicit Guard(CMRepository *r) : m(r->guard)
    {
        if (m)
            syMutexTake(m);
    }
    ~Guard()
    {
        if (m)
            syMutexGive(m);
    }
    SYMutex *m;
};

CMItem *newItem(CMRepository *r)
{
    CMItem *item = cmListItemCreate((uint32_t)sizeof(CMItem) + r->itemSize, nullptr, 0);
    if (item && r->initCallback)
        r->initCallback(CM_ITEM_DATA(item));
    return item;
}

}  // namespace

extern "C" {

int cmRepositoryInit(CMRepository *r, uint32_t flags, CMRepositoryItemCallback initCallback,
                     CMRepositoryItemCallback disposeCallback)
{
    r->flags = flags;
    r->initCallback = initCallback;
    r->disposeCallback = disposeCallback;
    r->poolSize = 0;
    r->itemSize = 0;
    r->freeCount = 0;
    cmListStart(&r->used);
    cmListStart(&r->free);
    r->guard = static_cast<SYMutex *>(cmMemoryAllocNonDebug(sizeof(SYMutex)));
    if (r->guard && syMutexCreate(r->guard) != 0) {
        cmMemoryFreeNonDebug(r->guard);
        r->guard = nullptr;
    }
    r->isStarted = 1;
    return 1;
}

int cmRepositoryItemPoolAlloc(CMRepository *r, uint32_t count, uint32_t itemSize)
{
    Guard g(r);
    r->poolSize = count;
    r->itemSize = itemSize;
    while (r->freeCount < count) {
        CMItem *item = newItem(r);
        if (!item)
            break;
        cmListItemAdd(&r->free, item, nullptr);
        r->freeCount++;
    }
    return 1;
}

void *cmRepositoryGetNewItem(CMRepository *r)
{
    if (!r->isStarted)
        return nullptr;
    Guard g(r);
    CMItem *item = r->free.last;
    if (item) {
        CMItemCallback callback = item->callback;
        if (!cmListItemRemove(item))
            return nullptr;
        cmListItemAdd(&r->used, item, callback);
        r->freeCount--;
    } else {
        item = newItem(r);
        if (!item)
            return nullptr;
        cmListItemAdd(&r->used, item, nullptr);
    }
    return CM_ITEM_DATA(item);
}

int cmRepositoryReleaseItem(CMRepository *r, void *userData)
{
    if (!r->isStarted || !userData)
        return 0;
    Guard g(r);
    CMItem *item = CM_DATA_ITEM(userData);
    if (item->master != &r->used)
        return 0;
    if (r->flags & CM_REPOSITORY_RELEASE_IMMEDIATELY)
        return cmListItemRemoveAndDispose(item);
    if (!cmListItemRemove(item))
        return 0;
    cmListItemAdd(&r->free, item, nullptr);
    r->freeCount++;
    return 1;
}

int cmRepositoryAddItem(CMRepository *r, CMItem *item, void *, CMItemCallback callback)
{
    if (!r->isStarted)
        return 0;
    Guard g(r);
    return cmListItemAdd(&r->used, item, callback);
}

void cmRepositoryIteratorStart(CMRepository *r, CMIterator *iterator)
{
    if (r->guard)
        syMutexTake(r->guard);
    cmListIteratorStart(&r->used, iterator);
}

void *cmRepositoryIteratorNext(CMIterator *iterator)
{
    CMItem *item = cmListIteratorNext(iterator);
    return item ? CM_ITEM_DATA(item) : nullptr;
}

void cmRepositoryIteratorTerminate(CMRepository *r, CMIterator *iterator)
{
    cmListIteratorTerminate(iterator);
    if (r->guard)
        syMutexGive(r->guard);
}

void cmRepositoryShutdown(CMRepository *r)
{
    if (!r->isStarted)
        return;
    {
        Guard g(r);
        cmListShutdown(&r->used);
        if (r->disposeCallback) {
            for (CMItem *item = r->free.first; item; item = item->next)
                r->disposeCallback(CM_ITEM_DATA(item));
        }
        cmListShutdown(&r->free);
        r->isStarted = 0;
        r->freeCount = 0;
    }
    if (r->guard) {
        syMutexDelete(r->guard);
        cmMemoryFreeNonDebug(r->guard);
        r->guard = nullptr;
    }
}

}  // extern "C"
