// Internal: what SMB2 CREATE and CLOSE share with the oplock machinery.
#pragma once
#include "cs2tables.h"
#include "cscreate.h"
#include "cssmb2.h"

// The answer of one CREATE, kept while it waits on a break.
struct CS2CreateAnswer {
    uint16_t fid;
    uint16_t nid;
    uint8_t oplockLevel;
    uint32_t action;
    SYFileInformation information;
    CS2CreateContextState contexts;  // bits only: positions do not outlive the request
};

extern "C" {

// The CREATE body of 88 bytes and the answered contexts.
void cs2WriteCreateBody(CMBufferWriter *writer, const CS2CreateAnswer *answer);
// 1 when the open of p->file waits on a holder's break (its answer is then
// kept with savedStatus), 0 when it need not, -1 when no holder's break can
// be sent (no oplock is then granted).
int cs2BreakCheck(CSCreateParameters *p, const CS2CreateAnswer *answer, uint32_t savedStatus);
// Answers STATUS_PENDING now; the file keeps the AsyncId. CS2_STATUS_LATE,
// or 0xFFFFFFFF when the interim answer could not be sent (the file is then
// released).
uint32_t cs2DeferCreate(CMSmb2Header *request, CMSmb2Header *response, CSFile *file);
// Records the holder of a granted oplock (level 0: none).
void cs2SetOplockOwner(CSFile *file, CSUser *user, CSTree *tree, const CSShare *share, uint8_t level);
// The holder's file goes: its waiters are answered.
void cs2HolderGone(CSFile *file);
// Waiters held longer than this are answered as if the holder had let go.
constexpr uint32_t kCs2BreakTimeoutMs = 35000;
}

extern "C" {
// Change notification's share of CANCEL: CS2_STATUS_LATE always.
uint32_t cs2CancelNotify(const CMSmb2Header *request, CSUser *user);
}
