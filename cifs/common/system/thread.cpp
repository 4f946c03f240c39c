// Thread, mutex and semaphore primitives of the system layer.
#include "sythread.h"

#include <cerrno>
#include <ctime>

extern "C" {

int syMutexCreate(SYMutex *mutex)
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return -1;
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc == 0 ? 0 : -1;
}

void syMutexDelete(SYMutex *mutex) { pthread_mutex_destroy(mutex); }
void syMutexTake(SYMutex *mutex) { pthread_mutex_lock(mutex); }
void syMutexGive(SYMutex *mutex) { pthread_mutex_unlock(mutex); }

int syThreadStart(SYThread *thread, void *(*start)(void *), void *)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_create(thread, &attr, start, nullptr);
    pthread_attr_destroy(&attr);
    return 0;
}

int sySemaphoreTimedTake(SYSemaphore *sem, uint32_t seconds)
{
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += seconds;
    deadline.tv_nsec = 0;
    int rc;
    while ((rc = sem_timedwait(sem, &deadline)) != 0 && errno == EINTR) {
    }
    return rc == 0 ? 0 : -1;
}

}  // extern "C"
