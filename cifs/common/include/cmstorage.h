/* Storage lists: growable tables of fixed-size records named by (row, index),
 * so that a record fits a pair of small protocol identifiers; and hash lists
 * of 17 CMLists picked by a name hash. */
#ifndef CMSTORAGE_H
#define CMSTORAGE_H

#include "cmlist.h"
#include "cmtypes.h"

/* The first words of every record. */
typedef struct CMStorageItem {
    uint32_t index; /* within the row, from 1 */
    uint32_t row;
    uint32_t isUsed;
    uint32_t isFindable;
    struct CMStorageItem *nextFree;
} CMStorageItem;

typedef struct CMStorageRow {
    uint32_t number;
    uint8_t *block; /* records per row x record size */
    CMStorageItem *firstFree;
    CMStorageItem *lastFree;
    SYMutex *mutex;
    uint16_t usedCount;
} CMStorageRow;

typedef struct CMStorageList {
    uint32_t recordSize; /* header included */
    CMStorageRow *rows;
    uint32_t rowCount;
    uint32_t perRow;
    uint32_t usedCount;
    SYMutex mutex;
} CMStorageList;

typedef struct CMStorageIterator {
    CMStorageList *list;
    uint32_t row;
    uint32_t index; /* from 0 */
    SYMutex mutex;
} CMStorageIterator;

#define CM_STORAGE_HASH_LISTS 17

typedef uint32_t (*CMStorageHashFunction)(const CMWchar *name);

typedef struct CMStorageHashList {
    CMList lists[CM_STORAGE_HASH_LISTS];
    CMStorageHashFunction hash;
    uint32_t isStarted;
} CMStorageHashList;

/* Flags of cmStorageItemGetNew. */
#define CM_STORAGE_ROW0 0x100   /* only row 0 (0x100 or 0x110 exactly) */
#define CM_STORAGE_LIMITED 0x10 /* row numbers stay below 65533 */

VX_API int cmStorageListInit(CMStorageList *list, uint32_t recordSize, uint32_t rows, uint32_t recordsPerRow);
VX_API CMStorageItem *cmStorageItemGetNew(CMStorageList *list, uint32_t flags);
VX_API CMStorageItem *cmStorageItemFind(CMStorageList *list, uint32_t row, uint32_t index, int includeHidden);
VX_API void cmStorageItemRemove(CMStorageList *list, uint32_t row, uint32_t index);
VX_API void cmStorageIteratorStart(CMStorageList *list, CMStorageIterator *iterator);
VX_API int cmStorageIteratorHasNext(CMStorageIterator *iterator);
VX_API CMStorageItem *cmStorageIteratorNext(CMStorageIterator *iterator);
VX_API void cmStorageIteratorTerminate(CMStorageIterator *iterator);
VX_API void cmStorageListShutdown(CMStorageList *list);

/* 0-16 for a UTF-16 name; 1 for an empty one. */
VX_API uint32_t cmStorageNameHash(const CMWchar *name);
VX_API int cmStorageHashListStart(CMStorageHashList *hashList, CMStorageHashFunction hash);
VX_API CMList *cmStorageHashFindList(CMStorageHashList *hashList, const CMWchar *name);
/* Removes and disposes every item. */
VX_API void cmStorageHashListDispose(CMStorageHashList *hashList);
/* Frees every item's name and unlinks it; the items belong to their owner. */
VX_API void cmStorageHashListShutdown(CMStorageHashList *hashList);

#endif
