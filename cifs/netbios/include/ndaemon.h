/* The NetBIOS name and datagram daemon: UDP 137, 138 and 5355 and the two
 * loopback channels, run by ndStart in the calling thread. ndStop and
 * ndNotifyConfigurationChange may be called from any thread (not from a
 * signal handler): they set a flag and wake the daemon's select. */
#ifndef NDAEMON_H
#define NDAEMON_H

#include "cmtypes.h"

#include <semaphore.h>

/* One adapter of the daemon: an own IPv4 address and the message at hand. */
typedef struct NDAdapter NDAdapter;

/* Posts semaphore (when given) once start-up has finished or failed; runs
 * until stopped; always -1. */
VX_API int ndStart(sem_t *semaphore);
VX_API void ndStop(void);
/* requester, when given, is copied as the record that later registrations
 * answer to. */
VX_API void ndNotifyConfigurationChange(const NDAdapter *requester);

#endif
