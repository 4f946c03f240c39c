/* Intrusive lists, reference-counted items and pools of same-sized items.
 * Lock order: a list's mutex before an item's guard; a repository's guard
 * before its lists. */
#ifndef CMLIST_H
#define CMLIST_H

#include "cmtypes.h"
#include "sythread.h"

struct CMItem;
struct CMList;

/* Runs when an item's last lock goes; typically removes and disposes it. */
typedef int (*CMItemCallback)(struct CMItem *item);

typedef struct CMList {
    SYMutex mutex;
    struct CMItem *first;
    struct CMItem *last;
    uint32_t isStarted;
} CMList;

typedef struct CMItem {
    struct CMItem *next;
    struct CMItem *prev;
    uint32_t locks;
    CMItemCallback callback;
    CMList *master;
    CMList references;
    CMWchar *name;
    uint32_t beingDisposed;
    uint32_t findable;
    uint32_t isStatic;
    SYMutex *guard;
} CMItem;

typedef struct CMIterator {
    CMItem *next;
    CMList *list;
} CMIterator;

/* Item creation flags. */
#define CM_LISTITEM_LOCK 0x1    /* created with lock count 1 */
#define CM_LISTITEM_NOGUARD 0x2 /* no guard mutex */

/* Repository flags. */
#define CM_REPOSITORY_RELEASE_IMMEDIATELY 0x1 /* released items are disposed */

typedef void (*CMRepositoryItemCallback)(void *userData);

typedef struct CMRepository {
    uint32_t poolSize;
    uint32_t freeCount;
    uint32_t itemSize;
    CMRepositoryItemCallback initCallback;
    CMRepositoryItemCallback disposeCallback;
    SYMutex *guard;
    CMList used;
    CMList free;
    uint32_t isStarted;
    uint32_t flags;
} CMRepository;

/* The user data that follows an item's header, and back. */
#define CM_ITEM_DATA(item) ((void *)((CMItem *)(item) + 1))
#define CM_DATA_ITEM(data) ((CMItem *)(data)-1)

VX_API void cmListStart(CMList *list);
VX_API void cmListShutdown(CMList *list);
VX_API void cmListRemoveAndDisposeAll(CMList *list);
VX_API void cmListIteratorStart(CMList *list, CMIterator *iterator);
VX_API CMItem *cmListIteratorNext(CMIterator *iterator);
VX_API void cmListIteratorTerminate(CMIterator *iterator);

VX_API void cmListItemInit(CMItem *item);
/* size includes the header. */
VX_API CMItem *cmListItemCreate(uint32_t size, const CMWchar *name, uint32_t flags);
VX_API CMItem *cmListItemCreateAndAdd(CMList *list, uint32_t size, const CMWchar *name,
                                      CMItemCallback callback, uint32_t flags);
VX_API int cmListItemAdd(CMList *list, CMItem *item, CMItemCallback callback);
VX_API int cmListItemRemove(CMItem *item);
VX_API void cmListItemDispose(CMItem *item);
VX_API int cmListItemRemoveAndDispose(CMItem *item);
VX_API void cmListItemTake(CMItem *item);
VX_API void cmListItemGive(CMItem *item);
VX_API void cmListItemLock(CMItem *item);
VX_API void cmListItemUnlock(CMItem *item);
VX_API void cmListItemCheck(CMItem *item);
VX_API void cmListItemAddReference(CMItem *item, CMItem *referenced);
VX_API void cmListItemRemoveReference(CMItem *item, CMItem *referenced);
VX_API CMItem *cmListItemFind(CMList *list, const CMWchar *name, int ignoreCase, int lock);

VX_API int cmRepositoryInit(CMRepository *repository, uint32_t flags, CMRepositoryItemCallback initCallback,
                            CMRepositoryItemCallback disposeCallback);
VX_API int cmRepositoryItemPoolAlloc(CMRepository *repository, uint32_t count, uint32_t itemSize);
VX_API void *cmRepositoryGetNewItem(CMRepository *repository);
VX_API int cmRepositoryReleaseItem(CMRepository *repository, void *userData);
VX_API int cmRepositoryAddItem(CMRepository *repository, CMItem *item, void *ignored,
                               CMItemCallback callback);
VX_API void cmRepositoryIteratorStart(CMRepository *repository, CMIterator *iterator);
VX_API void *cmRepositoryIteratorNext(CMIterator *iterator);
VX_API void cmRepositoryIteratorTerminate(CMRepository *repository, CMIterator *iterator);
VX_API void cmRepositoryShutdown(CMRepository *repository);

#endif
