/* Directory listings: one entry per name in the information levels of
 * FIND_FIRST2/FIND_NEXT2 and QUERY_DIRECTORY, and the walks over a search
 * that the SMB1 finds, SEARCH and SMB2 QUERY_DIRECTORY share. */
#ifndef CSFIND_H
#define CSFIND_H

#include "cmtypes.h"
#include "csfiles.h"
#include "syfiles.h"

/* csFillFindEntry: the entry does not fit (nothing written). */
#define CS_ENTRY_NO_ROOM 0xFF100000u
/* csFillFindEntry: the name cannot be given in this level. */
#define CS_ENTRY_SKIP 0xFF100001u
#define CS_SEARCH_ENTRY_SIZE 43u

/* Writes one entry of level (SMB2 classes as 1000 + class) at *position,
 * aligned to 8 from dataStart where the level links entries, and moves
 * *position and *room past it; *lastEntry is where it begins. */
VX_API uint32_t csFillFindEntry(const CMWchar *fullName, const SYFileInformation *info, uint8_t **position,
                                uint32_t level, uint32_t entryIndex, uint32_t unicode,
                                const uint8_t *dataStart, uint32_t *room, uint32_t resumeKeys,
                                uint8_t **lastEntry);
/* One 43-byte SEARCH entry; its resume key has only its reserved byte. */
VX_API void csFillSearchEntry(const CMWchar *fullName, uint8_t *entry);

/* One answer's worth of a search's names. */
typedef struct CSFindWalk {
    CSSearch *search;
    uint32_t level;
    uint32_t unicode;
    uint32_t filter;     /* pass the search attributes (SMB1) */
    uint32_t maxEntries; /* 0: as many as fit */
    uint32_t single;     /* one entry */
    uint8_t *data;
    uint32_t room;
    /* Results. */
    uint32_t count;
    uint32_t length;          /* without the last entry's padding */
    uint32_t lastEntryOffset; /* from data */
    uint32_t endOfSearch;     /* the names ran out */
} CSFindWalk;

/* 0 (count 0 and not at the end: the first entry did not fit), or the
 * error of an entry. */
VX_API uint32_t csFindWalk(CSFindWalk *walk);

/* A hash of a name's last component without regard to case: how a search
 * knows the name a client resumes after is the last one it was given. */
VX_API uint32_t csFindNameHash(const CMWchar *name);

/* SMB2 QUERY_DIRECTORY behind its header: the entries of the handle's
 * listing into out (room bytes), their length in *length; 0 or an NT status. */
VX_API uint32_t csQueryDirectoryEntries(CSFile *file, uint16_t tid, uint16_t uid, uint8_t informationClass,
                                        uint8_t flags, const CMWchar *pattern, uint32_t patternUnits,
                                        uint8_t *out, uint32_t room, uint32_t *length);

/* FIND_FIRST2 and FIND_NEXT2 behind their transaction: the entries go to
 * data (room bytes). FIND_NEXT2 resumes after resumeName (the last name of
 * the client's listing) unless the flags ask to continue where the last
 * answer stopped or the name is null or empty. */
typedef struct CSFindResult {
    uint16_t sid;
    uint16_t count;
    uint16_t endOfSearch;
    uint16_t lastNameOffset;
    uint32_t length;
} CSFindResult;

VX_API uint32_t csFindFirst(uint16_t tid, uint16_t uid, uint16_t attributes, uint16_t searchCount,
                            uint16_t flags, uint16_t level, const void *fileName, uint32_t unicode,
                            uint8_t *data, uint32_t room, CSFindResult *result);
VX_API uint32_t csFindNext(uint16_t tid, uint16_t uid, uint16_t sid, uint16_t searchCount, uint16_t level,
                           uint16_t flags, const CMWchar *resumeName, uint32_t unicode, uint8_t *data,
                           uint32_t room, CSFindResult *result);

#endif
