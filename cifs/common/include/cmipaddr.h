/* IPv4 addresses (network byte order) as dotted text. */
#ifndef CMIPADDR_H
#define CMIPADDR_H

#include "cmtypes.h"

/* text needs 16 bytes; returns 0. */
VX_API int cmIpToAscii(char *text, const uint32_t *address);
/* Exactly four dot-separated decimal parts 0-255: 0, else -1. */
VX_API int cmAsciiToIp(const char *text, uint32_t *address);
VX_API int cmWcharToIp(const CMWchar *wtext, uint32_t *address);
VX_API const char *cmIPDump(void);

#endif
