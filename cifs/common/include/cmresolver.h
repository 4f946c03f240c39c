/* The name resolver: host names to IPv4 addresses, addresses to host names
 * and domains to their controllers, through registered methods that each ask
 * on their own datagram socket. Methods of one priority are asked together;
 * the next priority only when none of them answered. Answers are cached. */
#ifndef CMRESOLVER_H
#define CMRESOLVER_H

#include "cmtypes.h"

/* Method types. Host lookups use the registrant's own types. */
#define CM_RESOLVER_HOST 1          /* host lookups by DNS and LLMNR */
#define CM_RESOLVER_EXTERNAL 5      /* registered by the host */
#define CM_RESOLVER_DC 8            /* domain controllers, one stage */
#define CM_RESOLVER_DC_TWO_STAGE 10 /* candidates first, then each candidate */

/* Status of a method that has not answered (also "does not settle it"). */
#define CM_RESOLVER_PENDING 0xFF04D2

#define CM_RESOLVER_NAME_SIZE 256 /* units of a name buffer, terminator included */
#define CM_DC_NAME_MAX 255

/* Every function gets the method's own socket and its context word: a
 * request may hang an allocation there for its answer to read (query id,
 * server asked); the resolver frees it when the lookup starts again. */
/* Sends the question for name; the answers to expect (0 and 1 both mean
 * one), or a negative value when it cannot ask. */
typedef int (*CMResolverRequestByName)(int socket, const CMWchar *name, void **context,
                                       const uint32_t *server);
/* Reads one answer: 0 with an allocated address array (network order) and
 * its count; CM_RESOLVER_PENDING or -1 when it does not settle it; anything
 * else is a failure. A two-stage controller method gives its candidate names
 * here instead: a block of zero-terminated UTF-16 names in *addresses. */
typedef int (*CMResolverResponseByName)(int socket, uint32_t **addresses, int *count, void **context);
/* Sends the question for an address. A two-stage controller method gets a
 * candidate's UTF-16 name here instead (as ip). */
typedef int (*CMResolverRequestByIp)(int socket, const uint32_t *ip, void **context, const uint32_t *server);
/* Reads one answer: 0 with the name in name (CM_RESOLVER_NAME_SIZE units).
 * A controller method instead leaves an allocated block of zero-terminated
 * UTF-16 names in *context and their number in *count (count is null for
 * host methods). */
typedef int (*CMResolverResponseByIp)(int socket, CMWchar *name, void **context, uint32_t *count);

typedef struct CMResolverMethodDescriptor {
    uint32_t type;
    uint32_t isBroadcast; /* asks by broadcast or multicast */
    uint32_t priority;    /* 1 (asked first) to 5 */
    CMUint64 timeout;     /* milliseconds */
    uint32_t flags;
    CMResolverRequestByName requestByName;
    CMResolverResponseByName responseByName;
    CMResolverRequestByIp requestByIp;
    CMResolverResponseByIp responseByIp;
} CMResolverMethodDescriptor;

typedef struct CMResolverExternalMethod {
    uint32_t priorityClass; /* 1 gives priority 1, 2 gives 3, else 5 */
    uint32_t timeoutSeconds;
    const uint32_t *server; /* required */
    CMResolverRequestByName requestByName;
    CMResolverResponseByName responseByName;
    CMResolverRequestByIp requestByIp;
    CMResolverResponseByIp responseByIp;
} CMResolverExternalMethod;

/* External lookups of the host. nameToIp returns 4 while it has address
 * number index (from 0); ipToName writes a name into a 256-unit (or byte)
 * buffer and returns nonzero on success. */
typedef int (*CMResolverNameToIpA)(const char *name, uint32_t *address, int index);
typedef int (*CMResolverNameToIpW)(const CMWchar *name, uint32_t *address, int index);
typedef int (*CMResolverIpToNameA)(char *name, const uint32_t *address, int size);
typedef int (*CMResolverIpToNameW)(CMWchar *name, const uint32_t *address, int size);

/* 1, or 0 when the memory cannot be had. */
VX_API int cmResolverStart(void);
VX_API void cmResolverShutdown(void);

/* 1, or 0 when the record or its socket cannot be had. server may be null. */
VX_API int cmResolverRegisterMethod(const CMResolverMethodDescriptor *method, const uint32_t *server);
VX_API int cmResolverRegisterExternalMethod(const CMResolverExternalMethod *method);
VX_API int cmResolverUpdateExternalMethodsPriority(uint32_t priorityClass);
VX_API void cmResolverEnableMethod(uint32_t type, uint32_t unicastValue, uint32_t broadcastValue);
/* key: {type, isBroadcast}; disposes of the first such method asking server
 * (null or 0.0.0.0 for none). */
VX_API void cmResolverRemoveMethod(const uint32_t key[2], const uint32_t *server);
/* 0 empties the cache and switches it off; else the lifetime in seconds. */
VX_API void cmResolverCacheSet(uint32_t seconds);
VX_API void cmResolverSetExternalA(CMResolverNameToIpA nameToIp, CMResolverIpToNameA ipToName);
VX_API void cmResolverSetExternalW(CMResolverNameToIpW nameToIp, CMResolverIpToNameW ipToName);

/* Allocated address array (network order; free with cmMemoryFreeNonDebug),
 * own networks first; null and *count 0 when none. */
VX_API uint32_t *cmResolverGetHostIps(const CMWchar *name, int *count);
/* Allocated UTF-16 name, or null. */
VX_API CMWchar *cmResolverGetHostName(const uint32_t *ip);
/* Allocated block of zero-terminated UTF-16 controller names, or null. */
VX_API CMWchar *cmResolverGetDCName(const CMWchar *domain, int *count);

/* Domain-controller lookups with their own cache: 0 or -1. */
VX_API int cmFindDCInit(void);
VX_API void cmFindDCExit(void);
/* dc: CM_DC_NAME_MAX + 1 bytes. 0, or -1 with the last error 0xFF03EB (none
 * found) or 0xFF03F0. */
VX_API int cmGetDCNameByDomain(const char *domain, char *dc);
/* The own domain's controller; domainOut (optional) gets the domain asked,
 * CM_NB_FULL_NAME_MAX + 1 bytes. 0, or -1 with 0xFF03EB. */
VX_API int cmGetDCName(char *dc, char *domainOut);

/* 1 when the name ends with the UNC suffix of an IPv6 literal. */
VX_API int cmIsIPv6Literal(const CMWchar *name);

/* Testing: the resolver's clock in seconds (null restores the monotonic one). */
VX_API void cmResolverSetClock(uint32_t (*secondsNow)(void));

#endif
