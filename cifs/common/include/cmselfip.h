/* The host's own IPv4 addresses, rebuilt at each iteration, and the local
 * port manager for the stack's own outgoing sockets. */
#ifndef CMSELFIP_H
#define CMSELFIP_H

#include "cmtypes.h"

#define CM_SELFIP_MAX 32
#define CM_PORT_FIRST 1036
#define CM_PORT_END 10000

typedef struct CMSelfIp {
    uint32_t ip; /* network byte order */
    uint32_t bcast;
    uint32_t mask;
    char name[16]; /* interface name */
} CMSelfIp;

/* 1, or 0 with the last error 0xFF03F0. */
VX_API int cmSelfipStart(void);
VX_API void cmSelfipShutdown(void);
/* Rebuilds the list and starts an iteration over it: one reader at a time
 * holds the list from here until cmSelfipTerminate. */
VX_API void cmSelfipIterate(void);
/* The next own address, null at the end. */
VX_API const CMSelfIp *cmSelfipNext(void);
VX_API void cmSelfipTerminate(void);

/* Ports run CM_PORT_FIRST .. CM_PORT_END - 2 and start again; a port handed
 * back is given out once more by the next call. */
VX_API int cmPortManageStart(void);
VX_API uint16_t cmPortManage(void);
VX_API void cmManageFreePort(uint16_t port);
VX_API int cmPortManageShutdown(void);

#endif
