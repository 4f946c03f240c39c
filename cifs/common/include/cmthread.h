/* Threads known to the common layer: one record per thread in a
 * process-wide list, found by pthread_self; threads the stack did not start
 * are adopted on their first request. A record owns a context block and up
 * to three condition objects (counting semaphores with timed waits). */
#ifndef CMTHREAD_H
#define CMTHREAD_H

#include "cmlist.h"
#include "cmtypes.h"
#include "sythread.h"

#define CM_THREAD_CONDS 3
#define CM_THREAD_READY 0x1 /* record fully set up */

typedef SYSemaphore CMThreadCond;

typedef struct CMWorkerThread {
    CMItem header; /* release callback: the clean-up */
    pthread_t id;
    CMThreadCond conds[CM_THREAD_CONDS]; /* an adopted thread has the first two */
    void *context;
    uint32_t contextSize;
    CMItem embedded;             /* own guard */
    struct CMWorkerThread *self; /* the embedded item's user data */
    void (*body)(void *argument);
    void *argument;
    uint32_t flags;
    uint32_t condCount; /* condition objects set up */
} CMWorkerThread;

/* Starts the thread list; 1. */
VX_API int cmThreadStart(void);
VX_API void cmThreadShutdown(void);
/* The calling thread's record, adopted when it has none; null when it cannot
 * be made. */
VX_API CMWorkerThread *cmThreadGetCurrent(void);
VX_API CMWorkerThread *cmThreadSubscribe(void);
VX_API void cmThreadUnsubscribe(void);
/* A zero-filled block of at least size bytes kept with the record; a
 * smaller one is replaced. Null when it cannot be had. */
VX_API void *cmThreadGetContext(CMWorkerThread *thread, uint32_t size);
/* The same; a new block starts with a static CMItem header, so that it can
 * go into a list and never be freed by it. */
VX_API void *cmThreadGetContextAsStatItem(CMWorkerThread *thread, uint32_t size);
VX_API void cmThreadStopAndDestroy(CMWorkerThread *thread, int cancel);
/* Prepares the caller's record and runs body(argument) on a detached
 * thread; 1, or 0 when a condition object cannot be made. */
VX_API int cmThreadCreateAndRun(CMWorkerThread *thread, void (*body)(void *), void *argument);

/* Binds a datagram socket to 127.0.0.1 on the first port of the port
 * manager that binds; that port in host order, or 0 after a full cycle. */
VX_API uint16_t cmThreadBindPort(int socket);
VX_API void cmThreadFreePort(uint16_t port);

/* Condition objects: 1 on success, 0 on failure or time-out. */
VX_API int cmThreadCondSet(CMThreadCond *cond);
VX_API int cmThreadCondSignal(CMThreadCond *cond);
VX_API int cmThreadCondWait(CMThreadCond *cond, uint32_t seconds);
/* Forgets earlier signals. */
VX_API void cmThreadCondClear(CMThreadCond *cond);
VX_API int cmThreadCondRelease(CMThreadCond *cond);

#endif
