/* Name service messages the NetBIOS daemon sends, built into a caller's
 * buffer from byte 4 on: the caller writes the transaction id and the flags
 * into bytes 0-3. Each returns the message length, or -1 with errno 0xff0fa1
 * for a name that cannot be encoded or a buffer too small. */
#ifndef NDPACKETS_H
#define NDPACKETS_H

#include "cmnetbios.h"
#include "cmtypes.h"

#define ND_TYPE_NB 0x0020
#define ND_TYPE_NBSTAT 0x0021
#define ND_CLASS_IN 0x0001

/* The NB flags of an own name: unique or group, b-node or other. */
VX_API uint16_t ndNameFlags(int bNode, int isGroup);

VX_API int ndGenerateNameWhateverRequest(uint8_t *buffer, uint32_t size, const CMNetBiosNameInfo *name,
                                         const uint32_t *ip, int bNode, int isGroup);
VX_API int ndGenerateNameWhateverResponse(uint8_t *buffer, uint32_t size, const CMNetBiosNameInfo *name,
                                          uint16_t type, const void *rdata, uint16_t rdataLength);
VX_API int ndGenerateNameQueryRequest(uint8_t *buffer, uint32_t size, const CMNetBiosNameInfo *name);

#endif
