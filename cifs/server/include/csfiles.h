/* The server database's open names, files and searches, the wildcard walk
 * of the SMB1 delete, rename and copy commands, and the exported list of
 * open files. Lookups by id find only records of the connection being
 * served. */
#ifndef CSFILES_H
#define CSFILES_H

#include "csdb.h"
#include "csdispatch.h"
#include "cmtypes.h"
#include "syfiles.h"

#define CS_MAX_NAMES 320
#define CS_MAX_FILES 320
#define CS_MAX_SEARCHES 30
#define CS_FID_BASE 0x4001
/* An open name's host path: 1027 characters and a terminator. */
#define CS_NAME_PATH_UNITS 1028
#define CS_NAME_CREATE_STATE_SIZE 40
#define CS_PIPE_CONTEXTS 20
/* Path and result buffers of an enumeration context. */
#define CS_ENUM_PATH_UNITS 1024
/* Create options: the handle deletes its file when closed. */
#define CS_DELETE_ON_CLOSE 0x1000u

struct CSFile;

typedef struct CSName {
    uint16_t nid; /* slot index; CS_FREE_ID when free */
    CMWchar path[CS_NAME_PATH_UNITS];
    struct CSFile *first; /* head of the handles open on the path */
    uint16_t uid;         /* of the first opener */
    uint32_t deleteOnClose;
    uint32_t changed;
    uint8_t createState[CS_NAME_CREATE_STATE_SIZE];
} CSName;

typedef struct CSFile {
    uint32_t sessionId;
    uint16_t tid;
    uint16_t uid;
    uint32_t pid; /* PID high and PID of the opening request */
    uint16_t fid; /* slot index + CS_FID_BASE; CS_FREE_ID when free */
    uint32_t pipe;
    int32_t fd; /* -1 none; for a print job the job */
    uint16_t nid;
    uint32_t releaseWord;
    struct CSFile *previous, *next; /* handles of the same name */
    SYDirectory directory;
    uint32_t isDirectory;
    uint16_t access;
    /* Change notification: the third word is set while a request waits. */
    uint32_t notify[3];
    CSLateResponseContext notifyContext;
    uint32_t createOptions;
    uint32_t isPrintJob;
    uint32_t printerHandle;           /* all ones: none */
    uint16_t sid;                     /* search of this handle; CS_FREE_ID none */
    uint32_t asyncIdLow, asyncIdHigh; /* a waiting SMB2 change notify */
    /* Named pipes: presentation contexts (all ones when handed out), the
     * largest response fragment and the call under way. */
    uint32_t pipeContexts[CS_PIPE_CONTEXTS];
    uint16_t maxResponseFragment;
    void *callState;
    /* Where the descriptor stands after the last SMB1 read or write. */
    uint64_t position;
    /* Set by a carrier that reads with a bound of its own (the SMB2 pipe
     * transceive): a fragment is at most this long; 0 none. */
    uint32_t pipeOutputLimit;
    /* Oplocks. */
    uint32_t oplockLevel;
    uint32_t oplockState;
    uint32_t pendingBreak[2];
} CSFile;

/* One walk over the names of a directory that match a pattern. */
typedef struct CSEnumeration {
    uint32_t state; /* 1 while a walk runs */
    uint32_t pendingFirstResult;
    uint32_t isWild;
    uint32_t hasDirectory;
    CMWchar path[CS_ENUM_PATH_UNITS];
    const CMWchar *directory; /* "." when the path had no '/' */
    CMWchar *pattern;
    SYDirectory handle;
    CMWchar result[CS_ENUM_PATH_UNITS];
    CMWchar *entry; /* where the entry name goes in result */
    uint32_t attributes;
    uint32_t includeDots;
    uint32_t returnedDot, returnedDotDot;
} CSEnumeration;

typedef struct CSSearch {
    uint32_t sessionId;
    uint16_t sid; /* slot index; CS_FREE_ID when free */
    uint16_t tid;
    CSEnumeration enumeration;
    /* The listing's own state. */
    uint16_t attributes;   /* search attributes */
    uint32_t resumeKeys;   /* entries carry resume keys */
    uint32_t entryPending; /* the last name did not fit: it comes first next time */
    uint32_t entryIndex;   /* entries given so far */
    uint32_t started;      /* an answer was given from it */
    uint32_t lastNameHash; /* of the last name given, case folded (csFindNameHash) */
} CSSearch;

/* Allocation and release. */
VX_API CSName *csGetNewName(const CMWchar *path, uint16_t uid);
VX_API CSFile *csGetNewFile(const CSTree *tree, CSName *name, uint16_t access);
VX_API CSSearch *csGetNewSearch(const CSTree *tree);
VX_API void csReleaseFile(uint16_t fid);
VX_API void csReleaseName(uint16_t nid);
VX_API void csReleaseSearch(uint16_t sid);

/* Lookups. */
VX_API CSFile *csGetFileByFid(uint16_t fid, uint16_t tid, uint16_t uid);
VX_API CSFile *csGetFileByJustFid(uint16_t fid);
VX_API CSFile *csGetFileByContext(uint16_t pid, uint16_t mid, uint16_t tid, uint16_t uid);
VX_API CSFile *cs2GetFileByContext(uint32_t asyncLow, uint32_t asyncHigh, uint16_t uid);
VX_API const CMWchar *csGetFileName(uint16_t fid);
VX_API CSName *csGetNameByNid(uint16_t nid);
VX_API CSName *csGetNameByName(const CMWchar *path);
VX_API int csFileMarkedForDeletion(const CMWchar *path);
VX_API uint16_t csGetNextFileOpen(uint16_t fid);
VX_API CSFile *csGetNextFileByName(uint16_t fid);
VX_API CSFile *csGetNextFileByPid(uint32_t pid, uint16_t fid);
VX_API CSFile *csGetFileByIndex(uint32_t index);
VX_API uint32_t csGetNumberOfUserFiles(const CSUser *user);
VX_API uint32_t csGetNumberOfShareFiles(const void *share);
VX_API CSSearch *csGetSearchBySid(uint16_t sid);
VX_API void csStartNotifyRequestSearch(void);
VX_API CSFile *csEnumerateNotifyRequest(void);

/* The process-wide source and destination of rename and copy: 0 or -1. */
VX_API int csFnamesInit(void);
VX_API void csFnamesExit(void);

/* Wildcard walks. */
VX_API void csSplitPathPattern(CSEnumeration *context, const CMWchar *path);
/* 0, or -1 for a path that does not fit the context. */
VX_API int csEnumerateSourceName(CSEnumeration *context, const CMWchar *path, uint32_t attributes);
/* The next full path that matches; null at the end, which also cancels. */
VX_API const CMWchar *csNextSourceName(CSEnumeration *context);
VX_API void csCancelEnumeration(CSEnumeration *context);
VX_API int csEnumerateSourceAndDestinationName(const CMWchar *source, const CMWchar *destinationMask,
                                               uint32_t attributes);
/* 1 with both paths, 0 at the end. */
VX_API int csNextSourceAndDestinationName(const CMWchar **source, const CMWchar **destination);
VX_API void csCancelDefaultEnumeration(void);
/* Case-insensitive; '*', '?', '<', '>' and '"' as the SMB wildcards. 1 or 0. */
VX_API int csMatchPattern(const CMWchar *pattern, const CMWchar *name);
VX_API const CMWchar *csFindWildcard(const CMWchar *pattern);

/* Open files, for the host. */
typedef struct VXOpenFileInfoW {
    CMWchar path[1026];
    CMWchar user[514];
    CMWchar address[34];
    uint32_t isDirectory;
} VXOpenFileInfoW;

typedef struct VXOpenFileInfoA {
    char path[513];
    char user[257];
    char address[18];
    uint32_t isDirectory;
} VXOpenFileInfoA;

/* 1 with the index-th open file, 0 when there is none. */
VX_API int vxEnumerateOpenFilesW(uint32_t index, VXOpenFileInfoW *record);
VX_API int vxEnumerateOpenFilesA(uint32_t index, VXOpenFileInfoA *record);

#endif
