// Thread records: one per thread that uses the stack, found by pthread_self,
// with a context block and condition objects for timed waits on answers.
#include "cmthread.h"

#include "cmmemory.h"
#include "cmselfip.h"
#include "sysockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace {

// Records the layer allocated itself (adopted threads); the others belong
// to whoever called cmThreadCreateAndRun.
constexpr uint32_t kOwnedByLayer = 0x100;
constexpr uint32_t kAdoptedConds = 2;

CMList gThreads = {};

SYMutex *newGuard()
{
    auto *guard = static_cast<SYMutex *>(cmMemoryAllocNonDebug(sizeof(SYMutex)));
    if (guard != nullptr && syMutexCreate(guard) != 0) {
        cmMemoryFreeNonDebug(guard);
        return nullptr;
    }
    return guard;
}

void deleteGuard(SYMutex *&guard)
{
    if (guard == nullptr)
        return;
    syMutexDelete(guard);
    cmMemoryFreeNonDebug(guard);
    guard = nullptr;
}

// The release callback of every record; safe to run twice.
int cleanUp(CMItem *item)
{
    auto *t = reinterpret_cast<CMWorkerThread *>(item);
    for (uint32_t i = 0; i < t->condCount; ++i)
        cmThreadCondRelease(&t->conds[i]);
    t->condCount = 0;
    cmMemoryFreeNonDebug(t->context);
    t->context = nullptr;
    t->contextSize = 0;
    deleteGuard(t->embedded.guard);
    return 0;
}

bool setConds(CMWorkerThread *t, uint32_t count)
{
    for (t->condCount = 0; t->condCount < count; ++t->condCount)
        if (!cmThreadCondSet(&t->conds[t->condCount]))
            return false;
    return true;
}

CMWorkerThread *find(pthread_t self)
{
    CMWorkerThread *found = nullptr;
    CMIterator it;
    cmListIteratorStart(&gThreads, &it);
    while (it.next != nullptr) {
        auto *t = reinterpret_cast<CMWorkerThread *>(cmListIteratorNext(&it));
        if (pthread_equal(t->id, self)) {
            found = t;
            break;
        }
    }
    cmListIteratorTerminate(&it);
    return found;
}

CMWorkerThread *adopt()
{
    CMItem *item = cmListItemCreate(sizeof(CMWorkerThread), nullptr, 0);
    if (item == nullptr)
        return nullptr;
    auto *t = reinterpret_cast<CMWorkerThread *>(item);
    t->id = pthread_self();
    cmListItemInit(&t->embedded);
    t->self = t;
    t->embedded.guard = newGuard();
    if (t->embedded.guard == nullptr || !setConds(t, kAdoptedConds) ||
        !cmListItemAdd(&gThreads, item, cleanUp)) {
        cleanUp(item);
        cmListItemDispose(item);
        return nullptr;
    }
    t->flags = CM_THREAD_READY | kOwnedByLayer;
    return t;
}

void *trampoline(void *)
{
    // The creator holds the list while it stores the new thread's id.
    CMWorkerThread *t = find(pthread_self());
    if (t != nullptr && t->body != nullptr)
        t->body(t->argument);
    return nullptr;
}

void *context(CMWorkerThread *thread, uint32_t size, bool asStatItem)
{
    if (thread == nullptr)
        return nullptr;
    if (asStatItem)
        size = std::max<uint32_t>(size, sizeof(CMItem));
    cmListItemTake(&thread->header);
    if (thread->context == nullptr || thread->contextSize < size) {
        cmMemoryFreeNonDebug(thread->context);
        thread->contextSize = 0;
        thread->context = cmMemoryAllocNonDebug(std::max<uint32_t>(size, 1));
        if (thread->context != nullptr) {
            std::memset(thread->context, 0, std::max<uint32_t>(size, 1));
            thread->contextSize = size;
            if (asStatItem) {
                auto *item = static_cast<CMItem *>(thread->context);
                cmListItemInit(item);
                item->isStatic = 1;
            }
        }
    }
    void *result = thread->context;
    cmListItemGive(&thread->header);
    return result;
}

}  // namespace

extern "C" {

int cmThreadStart(void)
{
    if (!gThreads.isStarted)
        cmListStart(&gThreads);
    return 1;
}

void cmThreadShutdown(void)
{
    if (!gThreads.isStarted)
        return;
    CMIterator it;
    cmListIteratorStart(&gThreads, &it);
    while (it.next != nullptr) {
        CMItem *item = cmListIteratorNext(&it);
        cleanUp(item);
        // The list frees the records it owns; the callers' records only lose
        // their guard.
        if (item->isStatic) {
            cmListItemRemove(item);
            deleteGuard(item->guard);
        }
    }
    cmListIteratorTerminate(&it);
    cmListShutdown(&gThreads);
}

CMWorkerThread *cmThreadGetCurrent(void)
{
    if (!gThreads.isStarted)
        return nullptr;
    syMutexTake(&gThreads.mutex);
    CMWorkerThread *t = find(pthread_self());
    if (t == nullptr)
        t = adopt();
    syMutexGive(&gThreads.mutex);
    return t;
}

CMWorkerThread *cmThreadSubscribe(void) { return cmThreadGetCurrent(); }

void cmThreadUnsubscribe(void)
{
    if (!gThreads.isStarted)
        return;
    syMutexTake(&gThreads.mutex);
    CMWorkerThread *t = find(pthread_self());
    if (t != nullptr)
        cmThreadStopAndDestroy(t, 0);
    syMutexGive(&gThreads.mutex);
}

void *cmThreadGetContext(CMWorkerThread *thread, uint32_t size) { return context(thread, size, false); }

void *cmThreadGetContextAsStatItem(CMWorkerThread *thread, uint32_t size)
{
    return context(thread, size, true);
}

void cmThreadStopAndDestroy(CMWorkerThread *thread, int cancel)
{
    if (thread == nullptr)
        return;
    cmListItemRemove(&thread->header);
    if (cancel && (thread->flags & CM_THREAD_READY) && !pthread_equal(thread->id, pthread_self()))
        pthread_cancel(thread->id);
    cleanUp(&thread->header);
    if (thread->flags & kOwnedByLayer) {
        cmListItemDispose(&thread->header);
        return;
    }
    deleteGuard(thread->header.guard);
    thread->flags = 0;
}

int cmThreadCreateAndRun(CMWorkerThread *thread, void (*body)(void *), void *argument)
{
    if (thread == nullptr || body == nullptr || !gThreads.isStarted)
        return 0;
    std::memset(thread, 0, sizeof *thread);
    cmListItemInit(&thread->header);
    cmListItemInit(&thread->embedded);
    thread->header.isStatic = 1;
    thread->self = thread;
    thread->body = body;
    thread->argument = argument;
    thread->header.guard = newGuard();
    thread->embedded.guard = newGuard();
    if (thread->header.guard == nullptr || thread->embedded.guard == nullptr ||
        !setConds(thread, CM_THREAD_CONDS)) {
        cleanUp(&thread->header);
        deleteGuard(thread->header.guard);
        return 0;
    }
    syMutexTake(&gThreads.mutex);
    cmListItemAdd(&gThreads, &thread->header, cleanUp);
    thread->flags = CM_THREAD_READY;
    syThreadStart(&thread->id, trampoline, nullptr);
    syMutexGive(&gThreads.mutex);
    return 1;
}

uint16_t cmThreadBindPort(int socket)
{
    uint32_t loopback = htonl(INADDR_LOOPBACK);
    uint16_t first = 0;
    for (;;) {
        uint16_t port = cmPortManage();
        if (port == 0 || port == first)
            return 0;
        if (first == 0)
            first = port;
        if (syBindSocket(socket, &loopback, htons(port)) == 0)
            return port;
    }
}

void cmThreadFreePort(uint16_t port) { cmManageFreePort(port); }

int cmThreadCondSet(CMThreadCond *cond) { return cond != nullptr && sem_init(cond, 0, 0) == 0 ? 1 : 0; }

int cmThreadCondSignal(CMThreadCond *cond) { return cond != nullptr && sem_post(cond) == 0 ? 1 : 0; }

int cmThreadCondWait(CMThreadCond *cond, uint32_t seconds)
{
    return cond != nullptr && sySemaphoreTimedTake(cond, seconds) == 0 ? 1 : 0;
}

void cmThreadCondClear(CMThreadCond *cond)
{
    if (cond == nullptr)
        return;
    int value = 0;
    sem_getvalue(cond, &value);
    for (int i = 0; i < value; ++i)
        sem_trywait(cond);
}

int cmThreadCondRelease(CMThreadCond *cond)
{
    if (cond != nullptr)
        sem_destroy(cond);
    return 1;
}

}  // extern "C"
