// Hash lists: 17 CMLists, one picked per name by the hash function.
#include "cmmemory.h"
#include "cmstorage.h"
#include "cmstring.h"

namespace {

// Removes every item that can be removed; dispose decides whether it is freed.
void drain(CMList *list, bool dispose)
{
    if (!list->isStarted)
        return;
    CMIterator it;
    cmListIteratorStart(list, &it);
    while (it.next) {
        CMItem *item = cmListIteratorNext(&it);
        if (dispose) {
            cmListItemRemoveAndDispose(item);
        } else {
            cmMemoryFreeNonDebug(item->name);
            item->name = nullptr;
            cmListItemRemove(item);
        }
    }
    cmListIteratorTerminate(&it);
    list->isStarted = 0;
    syMutexDelete(&list->mutex);
}

void stop(CMStorageHashList *hl, bool dispose)
{
    for (CMList &list : hl->lists)
        drain(&list, dispose);
    hl->hash = nullptr;
    hl->isStarted = 0;
}

}  // namespace

extern "C" {

uint32_t cmStorageNameHash(const CMWchar *name)
{
    uint32_t n = cmWStrlen(name);
    if (n == 0)
        return 1;
    // Same string, same list: the units are taken last to first.
    const CMWchar *w = cmWStrchr(name, 0) - n;
    uint32_t h = 0x811C9DC5u;
    for (uint32_t i = n; i-- > 0;)
        h = (h * 16777619u) ^ w[i];
    return h % CM_STORAGE_HASH_LISTS;
}

int cmStorageHashListStart(CMStorageHashList *hl, CMStorageHashFunction hash)
{
    for (CMList &list : hl->lists)
        cmListStart(&list);
    hl->hash = hash;
    hl->isStarted = 1;
    return 1;
}

CMList *cmStorageHashFindList(CMStorageHashList *hl, const CMWchar *name)
{
    if (!hl->isStarted || !hl->hash)
        return nullptr;
    return &hl->lists[hl->hash(name) % CM_STORAGE_HASH_LISTS];
}

void cmStorageHashListDispose(CMStorageHashList *hl) { stop(hl, true); }
void cmStorageHashListShutdown(CMStorageHashList *hl) { stop(hl, false); }

}  // extern "C"
