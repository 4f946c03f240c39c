/* The create processing that the SMB1 and SMB2 file commands share: NT
 * access and sharing as a 16-bit open mode, sharing between the opens of one
 * name, opening and creating files, directories, pipes and print jobs.
 * Results are 0 or an error in the client's mode (csErrorReturn). */
#ifndef CSCREATE_H
#define CSCREATE_H

#include "cmtypes.h"
#include "csdb.h"
#include "csfiles.h"
#include "csshares.h"
#include "syfiles.h"

/* Open mode: bits 0-3 access, 4-7 sharing, 11 others may delete, 15 delete. */
#define CS_MODE_ACCESS_MASK 0x000Fu
#define CS_MODE_READ 0x0u
#define CS_MODE_WRITE 0x1u
#define CS_MODE_READ_WRITE 0x2u
#define CS_MODE_EXECUTE 0x3u
#define CS_MODE_NO_DATA 0x4u
#define CS_MODE_FCB 0xFu
#define CS_MODE_SHARING_MASK 0x00F0u
#define CS_MODE_COMPATIBILITY 0x00u
#define CS_MODE_DENY_ALL 0x10u
#define CS_MODE_DENY_WRITE 0x20u
#define CS_MODE_DENY_READ 0x30u
#define CS_MODE_DENY_NONE 0x40u
#define CS_MODE_SHARING_FCB 0xF0u
#define CS_MODE_SHARE_DELETE 0x0800u
#define CS_MODE_DELETE 0x8000u

/* NT create dispositions. */
#define CS_SUPERSEDE 0u
#define CS_OPEN 1u
#define CS_CREATE 2u
#define CS_OPEN_IF 3u
#define CS_OVERWRITE 4u
#define CS_OVERWRITE_IF 5u

/* NT create options. */
#define CS_FILE_DIRECTORY_FILE 0x1u
#define CS_FILE_NON_DIRECTORY_FILE 0x40u

/* Create actions. */
#define CS_ACTION_OPENED 1u
#define CS_ACTION_CREATED 2u
#define CS_ACTION_OVERWRITTEN 3u

typedef struct CSCreateParameters {
    uint16_t tid;
    uint32_t pid; /* PID high << 16 | PID */
    uint16_t uid;
    CSUser *user;
    CSShare *share;
    uint16_t attributes; /* asked for a new file */
    uint32_t unicode;
    uint32_t createOptions;
    uint32_t disposition;
    uint32_t desiredAccess; /* NT mask on entry; the open mode after */
    uint32_t shareAccess;
    CMWchar *path; /* full local path; its case may be rewritten */
    SYFileInformation information;
    CSFile *file;
    uint32_t action;
} CSCreateParameters;

VX_API uint32_t csCreateCommonProcessing(CSCreateParameters *parameters);
VX_API uint16_t csAccessToOpenMode(uint32_t desiredAccess, uint32_t shareAccess);
/* 1 when the mode's sharing and access nibbles are ones the sharing table
 * knows; raw DOS modes of the SMB1 opens are checked with it. */
VX_API int csOpenModeIsValid(uint16_t mode);
VX_API uint32_t csOpenFile(CMWchar *path, uint16_t tid, uint16_t mode, uint16_t *grantedMode, CSFile **file);
VX_API uint32_t csCreateFile(uint32_t isDirectory, CMWchar *path, uint16_t tid, uint16_t mode, CSFile **file);
VX_API uint32_t csOpenPrintFile(const CMWchar *name, CSShare *share, uint16_t tid, uint16_t mode,
                                CSFile **file, CSUser *user);
VX_API uint32_t csOpenPrintFileOnShare(const CMWchar *name, CSShare *share, uint16_t tid, uint16_t mode,
                                       CSFile **file, CSUser *user);
/* 1 when the directory holds an entry besides "." and "..", 0 when it holds
 * none, -1 when it cannot be listed. */
VX_API int csDirectoryHasEntries(const CMWchar *path);

#endif
