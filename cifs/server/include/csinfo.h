/* File information classes: the SMB1 query levels, the NT pass-through
 * classes (level = 1000 + class) that SMB2 QUERY_INFO reaches too, and the
 * file-system levels. Results are 0 or an error in the client's mode. */
#ifndef CSINFO_H
#define CSINFO_H

#include "cmtypes.h"
#include "csfiles.h"
#include "csshares.h"

/* Where a query writes: parameters (the EA error offset) at parameters,
 * then its data; room bounds the file-system levels from parameters on. */
typedef struct CSQueryContext {
    const uint8_t *header; /* the request's header: its protocol id */
    uint8_t *parameters;
    uint32_t parameterCount;
    uint8_t *data;
    uint32_t dataCount;
    uint32_t room;
} CSQueryContext;

/* byteLimit: the bytes the answer may take from the parameter area on. */
VX_API uint32_t csQueryFileInformationByName(CSFile *file, const CMWchar *path, uint32_t shareRootLength,
                                             uint32_t level, uint32_t unicode, uint32_t byteLimit,
                                             CSQueryContext *query);
VX_API uint32_t csQueryFsInformation(const CSShare *share, uint32_t level, uint32_t unicode,
                                     CSQueryContext *query);

/* A set request: the level's data as it came, dataLength bytes of it. */
typedef struct CSSetRequest {
    uint16_t uid;
    uint16_t tid;
    CMWchar *path;
    uint32_t level;
    const uint8_t *data;
    uint32_t dataLength;
} CSSetRequest;

VX_API uint32_t csSetFileInformationByName(CSFile *file, const CSSetRequest *request);
/* Renames old to new (wildcards in old select several files, new gives
 * each its name); search attributes filter the sources. */
VX_API uint32_t csRenameFile(const CSUser *user, const CSShare *share, uint32_t unicode, uint32_t attributes,
                             CMWchar *oldPath, CMWchar *newPath);
/* Deletes the files that path (with wildcards) names and that pass the
 * search attributes. */
VX_API uint32_t csDeleteMatchingFiles(const CSShare *share, CMWchar *path, uint32_t attributes);

#endif
