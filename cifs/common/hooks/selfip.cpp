// Own addresses: a list of CMSelfIp records rebuilt from the interface walk
// each time an iteration starts.
#include "cmselfip.h"

#include "cmlist.h"
#include "cmmemory.h"
#include "syadapter.h"
#include "syerror.h"

#include <cstring>

namespace {

CMList *gList = nullptr;
CMIterator *gIterator = nullptr;

}  // namespace

extern "C" {

int cmSelfipStart(void)
{
    gList = static_cast<CMList *>(cmMemoryAllocNonDebug(sizeof(CMList)));
    gIterator = static_cast<CMIterator *>(cmMemoryAllocNonDebug(sizeof(CMIterator)));
    if (gList == nullptr || gIterator == nullptr) {
        cmMemoryFreeNonDebug(gList);
        cmMemoryFreeNonDebug(gIterator);
        gList = nullptr;
        gIterator = nullptr;
        sySetLastVxError(CM_ERR_NOMEM);
        return 0;
    }
    std::memset(gIterator, 0, sizeof *gIterator);
    cmListStart(gList);
    return 1;
}

void cmSelfipShutdown(void)
{
    if (gList == nullptr)
        return;
    cmListShutdown(gList);
    cmMemoryFreeNonDebug(gList);
    cmMemoryFreeNonDebug(gIterator);
    gList = nullptr;
    gIterator = nullptr;
}

void cmSelfipIterate(void)
{
    if (gList == nullptr)
        return;
    syMutexTake(&gList->mutex);
    cmListRemoveAndDisposeAll(gList);
    int ordinal = 0;
    char name[SY_ADAPTER_NAME_SIZE];
    uint32_t ip = 0, mask = 0, bcast = 0, wins = 0;
    // Interfaces without an IPv4 address get no record but count.
    for (int seen = 0; seen < CM_SELFIP_MAX; ++seen) {
        bcast = 0;
        if (syGetAdapter(seen != 0, &ordinal, name, &ip, nullptr, &mask, &bcast, &wins) != 0)
            break;
        if (ip == 0)
            continue;
        CMItem *item = cmListItemCreateAndAdd(gList, sizeof(CMItem) + sizeof(CMSelfIp), nullptr, nullptr,
                                              CM_LISTITEM_NOGUARD);
        // Out of memory: the records made so far are still iterated, so
        // that every reader can end with cmSelfipTerminate as usual.
        if (item == nullptr)
            break;
        auto *self = static_cast<CMSelfIp *>(CM_ITEM_DATA(item));
        self->ip = ip;
        self->bcast = bcast;
        self->mask = mask;
        std::memset(self->name, 0, sizeof self->name);
        std::strncpy(self->name, name, sizeof self->name - 1);
    }
    cmListIteratorStart(gList, gIterator);
    syMutexGive(&gList->mutex);
}

const CMSelfIp *cmSelfipNext(void)
{
    if (gIterator == nullptr || gIterator->next == nullptr)
        return nullptr;
    CMItem *item = cmListIteratorNext(gIterator);
    return item != nullptr ? static_cast<const CMSelfIp *>(CM_ITEM_DATA(item)) : nullptr;
}

void cmSelfipTerminate(void)
{
    if (gIterator != nullptr && gIterator->list != nullptr) {
        cmListIteratorTerminate(gIterator);
        gIterator->list = nullptr;
        gIterator->next = nullptr;
    }
}

}  // extern "C"
