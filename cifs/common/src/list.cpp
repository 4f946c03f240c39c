// Intrusive lists and reference-counted items. A list's recursive mutex is
// held across a whole iteration; an item's guard protects its lock count and
// findable flag, and its release callback runs after the guard is let go.
#include "cmlist.h"
#include "cmmemory.h"
#include "cmstring.h"

#include <cstring>

namespace {

void takeList(CMList *list) { syMutexTake(&list->mutex); }
void giveList(CMList *list) { syMutexGive(&list->mutex); }

// A reference item's user data is the referenced item.
CMItem *&referenceTarget(CMItem *ref) { return *static_cast<CMItem **>(CM_ITEM_DATA(ref)); }

}  // namespace

extern "C" {

void cmListStart(CMList *list)
{
    list->first = list->last = nullptr;
    syMutexCreate(&list->mutex);
    list->isStarted = 1;
}

void cmListShutdown(CMList *list)
{
    if (!list->isStarted)
        return;
    takeList(list);
    cmListRemoveAndDisposeAll(list);
    list->isStarted = 0;
    giveList(list);
    syMutexDelete(&list->mutex);
}

void cmListRemoveAndDisposeAll(CMList *list)
{
    if (!list->isStarted)
        return;
    takeList(list);
    while (list->first && cmListItemRemoveAndDispose(list->first)) {
    }
    giveList(list);
}

void cmListIteratorStart(CMList *list, CMIterator *iterator)
{
    iterator->list = list;
    if (list->isStarted)
        takeList(list);
    iterator->next = list->isStarted ? list->first : nullptr;
}

CMItem *cmListIteratorNext(CMIterator *iterator)
{
    CMItem *item = iterator->next;
    if (item)
        iterator->next = item->next;
    return item;
}

void cmListIteratorTerminate(CMIterator *iterator)
{
    if (iterator->list && iterator->list->isStarted)
        giveList(iterator->list);
    iterator->next = nullptr;
}

void cmListItemInit(CMItem *item)
{
    item->next = item->prev = nullptr;
    item->locks = 0;
    item->callback = nullptr;
    item->master = nullptr;
    item->name = nullptr;
    item->beingDisposed = 0;
    item->findable = 0;
    item->isStatic = 0;
    item->guard = nullptr;
}

CMItem *cmListItemCreate(uint32_t size, const CMWchar *name, uint32_t flags)
{
    if (size < sizeof(CMItem))
        return nullptr;
    auto *item = static_cast<CMItem *>(cmMemoryAllocNonDebug(size));
    if (!item)
        return nullptr;
    std::memset(item, 0, size);
    cmListItemInit(item);
    if (name && !(item->name = cmMemoryCloneWStringNonDebug(name))) {
        cmMemoryFreeNonDebug(item);
        return nullptr;
    }
    if (!(flags & CM_LISTITEM_NOGUARD)) {
        item->guard = static_cast<SYMutex *>(cmMemoryAllocNonDebug(sizeof(SYMutex)));
        if (!item->guard || syMutexCreate(item->guard) != 0) {
            cmMemoryFreeNonDebug(item->guard);
            cmMemoryFreeNonDebug(item->name);
            cmMemoryFreeNonDebug(item);
            return nullptr;
        }
    }
    if (flags & CM_LISTITEM_LOCK)
        cmListItemLock(item);
    item->isStatic = 0;
    cmListStart(&item->references);
    return item;
}

CMItem *cmListItemCreateAndAdd(CMList *list, uint32_t size, const CMWchar *name, CMItemCallback callback,
                               uint32_t flags)
{
    CMItem *item = cmListItemCreate(size, name, flags);
    if (item && !cmListItemAdd(list, item, callback)) {
        cmListItemDispose(item);
        return nullptr;
    }
    return item;
}

int cmListItemAdd(CMList *list, CMItem *item, CMItemCallback callback)
{
    if (!item || !list->isStarted)
        return 0;
    takeList(list);
    cmListItemTake(item);
    item->prev = list->last;
    item->next = nullptr;
    if (list->last)
        list->last->next = item;
    else
        list->first = item;
    list->last = item;
    item->master = list;
    item->callback = callback;
    item->findable = 1;
    item->beingDisposed = 0;
    cmListItemGive(item);
    giveList(list);
    return 1;
}

int cmListItemRemove(CMItem *item)
{
    if (!item || item->locks != 0 || !item->master || !item->master->isStarted)
        return 0;
    CMList *list = item->master;
    takeList(list);
    cmListItemTake(item);
    int removed = 0;
    if (item->locks == 0 && item->master == list) {
        if (item->prev)
            item->prev->next = item->next;
        else
            list->first = item->next;
        if (item->next)
            item->next->prev = item->prev;
        else
            list->last = item->prev;
        item->master = nullptr;
        item->next = item->prev = nullptr;
        removed = 1;
    }
    cmListItemGive(item);
    giveList(list);
    return removed;
}

void cmListItemDispose(CMItem *item)
{
    if (!item)
        return;
    cmListItemTake(item);
    if (item->beingDisposed || item->isStatic) {
        cmListItemGive(item);
        return;
    }
    item->findable = 0;
    item->beingDisposed = 1;
    if (item->guard)
        syMutexGive(item->guard);

    if (item->references.isStarted) {
        while (CMItem *ref = item->references.first) {
            CMItem *target = referenceTarget(ref);
            if (!cmListItemRemoveAndDispose(ref))
                break;
            cmListItemUnlock(target);
        }
        cmListShutdown(&item->references);
    }
    cmMemoryFreeNonDebug(item->name);
    if (item->guard) {
        syMutexDelete(item->guard);
        cmMemoryFreeNonDebug(item->guard);
    }
    cmMemoryFreeNonDebug(item);
}

int cmListItemRemoveAndDispose(CMItem *item)
{
    if (!cmListItemRemove(item))
        return 0;
    cmListItemDispose(item);
    return 1;
}

void cmListItemTake(CMItem *item)
{
    if (item->guard && !item->beingDisposed)
        syMutexTake(item->guard);
}

void cmListItemGive(CMItem *item)
{
    if (item->guard && !item->beingDisposed)
        syMutexGive(item->guard);
}

void cmListItemLock(CMItem *item)
{
    cmListItemTake(item);
    item->locks++;
    cmListItemGive(item);
}

void cmListItemUnlock(CMItem *item)
{
    cmListItemTake(item);
    if (item->locks > 0 && --item->locks > 0) {
        cmListItemGive(item);
        return;
    }
    if (item->callback && item->findable) {
        item->findable = 0;
        cmListItemGive(item);
        item->callback(item);
        return;
    }
    cmListItemGive(item);
}

void cmListItemCheck(CMItem *item)
{
    cmListItemTake(item);
    if (item->locks != 0) {
        cmListItemGive(item);
        return;
    }
    cmListItemGive(item);
    if (item->callback && !item->beingDisposed) {
        item->findable = 0;
        item->callback(item);
    }
}

void cmListItemAddReference(CMItem *item, CMItem *referenced)
{
    CMItem *ref =
        cmListItemCreateAndAdd(&item->references, sizeof(CMItem) + sizeof(CMItem *), nullptr, nullptr, 0);
    if (!ref)
        return;
    referenceTarget(ref) = referenced;
    cmListItemLock(referenced);
}

void cmListItemRemoveReference(CMItem *item, CMItem *referenced)
{
    CMIterator it;
    CMItem *match = nullptr;
    cmListIteratorStart(&item->references, &it);
    while (it.next) {
        CMItem *ref = cmListIteratorNext(&it);
        if (referenceTarget(ref) == referenced) {
            match = ref;
            break;
        }
    }
    cmListIteratorTerminate(&it);
    if (match && cmListItemRemoveAndDispose(match))
        cmListItemUnlock(referenced);
}

CMItem *cmListItemFind(CMList *list, const CMWchar *name, int ignoreCase, int lock)
{
    if (!name)
        return nullptr;
    CMIterator it;
    CMItem *result = nullptr;
    cmListIteratorStart(list, &it);
    while (it.next) {
        CMItem *item = cmListIteratorNext(&it);
        if (!item->name)
            continue;
        int diff = ignoreCase ? cmWStricmp(item->name, name) : cmWStrcmp(item->name, name);
        if (diff != 0)
            continue;
        if (item->findable) {
            result = item;
            if (lock)
                cmListItemLock(item);
        }
        break;
    }
    cmListIteratorTerminate(&it);
    return result;
}

}  // extern "C"
