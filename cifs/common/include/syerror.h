/* The last error (errno, which also carries the stack's 0xff0000 + n codes),
 * its mappings to SMB and system errors, and the stack's error log. */
#ifndef SYERROR_H
#define SYERROR_H

#include "cmtypes.h"

/* SMB error: code x 65536 + class (1 DOS, 2 server, 3 hardware). */
typedef struct SYSmbErrorPair {
    int32_t systemError;
    uint32_t smbError;
} SYSmbErrorPair;

#define SY_SMB_ERROR_MAP_SIZE 12
#define SY_SMB_GENERAL_ERROR 0x10002u

VX_API const SYSmbErrorPair sysToSmbErrorMap[SY_SMB_ERROR_MAP_SIZE];

VX_API void sySetLastVxError(int32_t code);
/* 0 when errno is 0, else udGetSmbError(errno). */
VX_API uint32_t syGetLastSmbError(void);
VX_API uint32_t udGetSmbError(int32_t err);
/* The system error for a stack code; -1 for an unknown nonzero code, 0 for 0. */
VX_API int32_t udVxToSystemError(int32_t code);

/* One line of at most 1023 bytes to the base library's log at level 2. */
VX_API void logError(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
