/* Threads, mutexes and semaphores of the system layer. Every mutex of the
 * stack is recursive. */
#ifndef SYTHREAD_H
#define SYTHREAD_H

#include "cmtypes.h"

#include <pthread.h>
#include <semaphore.h>

typedef pthread_mutex_t SYMutex;
typedef sem_t SYSemaphore;
typedef pthread_t SYThread;

/* 0 on success, -1 on failure. */
VX_API int syMutexCreate(SYMutex *mutex);
VX_API void syMutexDelete(SYMutex *mutex);
VX_API void syMutexTake(SYMutex *mutex);
VX_API void syMutexGive(SYMutex *mutex);

/* Starts start(NULL) as a detached thread; always 0. */
VX_API int syThreadStart(SYThread *thread, void *(*start)(void *), void *ignored);

/* Waits until now + seconds; 0 when taken, -1 on time-out or error. */
VX_API int sySemaphoreTimedTake(SYSemaphore *sem, uint32_t seconds);

#endif
