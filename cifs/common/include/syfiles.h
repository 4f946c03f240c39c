/* Files and directories of the system layer. Names are UTF-16; every
 * name-based operation goes through the access-control library as UTF-8.
 * Results are 0 / -1 with errno unless said otherwise. */
#ifndef SYFILES_H
#define SYFILES_H

#include "cmtypes.h"

#include <dirent.h>
#include <sys/types.h>
#include <time.h>

#define SY_NAME_BUFFER_SIZE 2049
#define SY_ENTRY_NAME_UNITS 1026

typedef DIR *SYDirectory; /* 0 for none */

typedef struct SYFileInformation {
    CMUint64 creationTime; /* earliest of change, modification and access */
    CMUint64 lastWriteTime;
    CMUint64 lastAccessTime;
    CMUint64 lastChangeTime; /* the modification time */
    CMUint64 endOfFile;
    CMUint64 allocationSize;
    uint32_t attributes; /* DOS attributes */
    uint32_t reserved;
    uint32_t isDirectory;
    uint32_t fileIdLow;
    uint32_t fileIdHigh;
} SYFileInformation;

typedef struct SYVolumeInformation {
    uint32_t serialNumber;
    uint32_t creationTime;
    uint32_t fileSystemId;
    uint32_t bytesPerSector;
    uint32_t sectorsPerUnit;
    CMUint64 totalUnits;
    CMUint64 freeUnits;
} SYVolumeInformation;

/* DOS attributes */
#define SY_ATTR_READONLY 0x01
#define SY_ATTR_DIRECTORY 0x10
#define SY_ATTR_ARCHIVE 0x20
#define SY_ATTR_NORMAL 0x80

/* 1 on success, 0 when the context or the signal set-up fails. */
VX_API int syInit(void);
VX_API int syStop(void);

/* The UTF-8 form of name in the layer's name buffer, valid until the next
 * conversion; null (errno EILSEQ, ENAMETOOLONG...) when it cannot be had. */
VX_API const char *filenameToUtf8(const CMWchar *name);
/* The name buffer's UTF-8 text as UTF-16 into dest; 0 or -1. */
VX_API int filenameFromUtf8(CMWchar *dest, uint32_t destBytes);
VX_API int syUTF8ToUnicodeN(CMWchar *dest, const char *src, uint32_t destBytes);
VX_API int syUnicodeToUTF8N(char *dest, const CMWchar *src, uint32_t destBytes);

/* Descriptors or -1 */
VX_API int syOpenFileForRead(const CMWchar *name);
VX_API int syOpenFileForWrite(const CMWchar *name);
VX_API int syOpenFileForReadWrite(const CMWchar *name);
VX_API int syCreateFile(const CMWchar *name, int ignored1, int ignored2, int ignored3);

VX_API int syDeleteFile(const CMWchar *name);
VX_API int syRenameFile(const CMWchar *oldName, const CMWchar *newName);
VX_API int syCreateDirectory(const CMWchar *name);
VX_API int syDeleteDirectory(const CMWchar *name);
VX_API int syGetFileInformationByName(const CMWchar *name, SYFileInformation *info);
/* The physical path that name leads to, UTF-8 into dest: every symbolic
 * link followed, "." and ".." taken as the kernel takes them, a relative
 * name from the current folder. From the first component that is not there
 * on, the name is taken as written (a ".." that takes that component away
 * again walks on from the disk). 1 when all of it is there, 0 when a part
 * is missing (a dangling link's target too), -1 with errno (ELOOP,
 * ENAMETOOLONG, EILSEQ...). */
VX_API int syResolveName(const CMWchar *name, char *dest, uint32_t destBytes);

VX_API SYDirectory syOpenDirectory(const CMWchar *name);
/* The entry name stays valid until the next directory read; null at the end. */
VX_API int syFirstDirectoryFile(const CMWchar *name, SYDirectory *dir, const CMWchar **entryName);
VX_API int syNextDirectoryFile(SYDirectory dir, const CMWchar **entryName);
VX_API int syCloseDirectory(SYDirectory dir);

VX_API int sySetFileInformation(const CMWchar *name, int fd, const SYFileInformation *info);

/* On descriptors */
VX_API int syCloseFile(int fd);
VX_API int syReadFile(int fd, void *buf, uint32_t len);
VX_API int syWriteFile(int fd, const void *buf, uint32_t len);
/* The new position or -1. */
VX_API int64_t sySeekFileStart(int fd, uint32_t low, uint32_t high);
VX_API int64_t sySeekFileCurrent(int fd, uint32_t low, uint32_t high);
VX_API int64_t sySeekFileEnd(int fd, uint32_t low, uint32_t high);
VX_API int syTruncateFile(int fd, uint32_t low, uint32_t high);
VX_API int syGetFileInformation(int fd, const CMWchar *name, SYFileInformation *info);
VX_API int syGetVolumeInformation(const CMWchar *name, SYVolumeInformation *vol);

VX_API uint32_t syUnixMode2DosAttr(uint32_t mode);
VX_API void syConvertTimeSpecToTimeInMsec(CMUint64 *out, const struct timespec *in);

#endif
