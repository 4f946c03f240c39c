/* 64-bit arithmetic on word pairs, FILETIME and SMB date/time words, UUIDs. */
#ifndef CMTIME_H
#define CMTIME_H

#include "cmbuffer.h"
#include "cmtypes.h"

VX_API void cmU64AssignU64(CMUint64 *dst, const CMUint64 *src);
VX_API void cmU64Inc(CMUint64 *value);
VX_API void cmU64AddU32(CMUint64 *value, uint32_t n);
VX_API void cmU64AddU64(CMUint64 *value, const CMUint64 *addend);
VX_API void cmU64SubU64U64(CMUint64 *result, const CMUint64 *a, const CMUint64 *b);
VX_API void cmU64AddS64(CMUint64 *value, const CMInt64 *addend);
VX_API int cmU64Cmp(const CMUint64 *a, const CMUint64 *b);
VX_API void cmU64Min(CMUint64 *result, const CMUint64 *a, const CMUint64 *b);
VX_API void cmU64MultU32U32(CMUint64 *result, uint32_t a, uint32_t b);
VX_API void cmU128MultU64U64(CMUint64 *low, CMUint64 *high, const CMUint64 *a, const CMUint64 *b);
/* low when high is 0, else 0xFFFFFFFF. */
VX_API uint32_t cmU64toU32(uint32_t low, uint32_t high);
VX_API uint32_t cmVX_UINT64toU32(uint32_t low, uint32_t high);

/* Milliseconds since 1970 to FILETIME; 0 ms stays 0 (no time). */
VX_API void cmCifsTimeToUTC(uint32_t msLow, uint32_t msHigh, uint32_t *fileTimeLow, uint32_t *fileTimeHigh);
/* FILETIME to milliseconds since 1970, rounded towards minus infinity. */
VX_API CMUint64 *cmCifsUTCToTime(CMUint64 *result, uint32_t fileTimeLow, uint32_t fileTimeHigh);
VX_API void cmGetCurrentTime(CMUint64 *fileTime);
VX_API void cmTimeConvertSecToMSec(CMUint64 *result, uint32_t seconds);
VX_API uint32_t cmTimeConvertMSecToSec(const CMUint64 *ms);
/* Local SMB time and date words; never before 2 January 1980. */
VX_API void cmCifsTimeToSmbTime(uint32_t msLow, uint32_t msHigh, uint16_t *time, uint16_t *date);
VX_API uint32_t cmCifsSmbTimeToTime(uint16_t time, uint16_t date);
VX_API void cmTimeRead(CMBufferReader *reader, CMUint64 *fileTime);
VX_API void cmTimeWrite(CMBufferWriter *writer, const CMUint64 *fileTime);

/* 16-byte UUIDs: Data1, Data2, Data3 little-endian, then 8 bytes. */
VX_API void cmGenerateUuid(uint8_t *uuid);
VX_API void cmZeroUuid(uint8_t *uuid);
VX_API void cmUuidRead(CMBufferReader *reader, uint8_t *uuid);
VX_API void cmUuidWrite(CMBufferWriter *writer, const uint8_t *uuid);

#endif
