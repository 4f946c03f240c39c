/* The host's usable network interfaces and their hardware addresses. */
#ifndef SYADAPTER_H
#define SYADAPTER_H

#include "cmtypes.h"

/* Interface names are at most 15 characters. */
#define SY_ADAPTER_NAME_SIZE 16

/* The first usable interface (next 0) or the first after *ordinal; 0 when one
 * was found, -1 otherwise. Addresses are in network byte order; an interface
 * without an IPv4 address reports ip and mask 0 and leaves broadcast alone. */
VX_API int syGetAdapter(int next, int *ordinal, char *name, uint32_t *ip, void *ignored, uint32_t *mask,
                        uint32_t *broadcast, uint32_t *wins);
/* All zeros and nonzero on failure. */
VX_API int syGetMacAddressByName(const char *name, uint8_t *mac);
VX_API int syGetMacAddress(int index, uint8_t *mac);
VX_API void syPlatformInit(void);
VX_API void syCompilerInit(void);

#endif
