/* Tasks and counting semaphores. A task is the calling thread; another
 * thread may mark a signal pending on it, which ends its interruptible
 * waits with -EINTR as a signal to a sleeping process would. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"

struct task_struct {
	int sigpending;
	int fatal;
};

static __thread struct task_struct self_task;

struct task_struct *kstandin_current(void)
{
	return &self_task;
}

struct task_struct *kstandin_task_self(void)
{
	return &self_task;
}

void kstandin_task_interrupt(struct task_struct *t)
{
	__atomic_store_n(&t->sigpending, 1, __ATOMIC_SEQ_CST);
}

void kstandin_task_kill(struct task_struct *t)
{
	__atomic_store_n(&t->fatal, 1, __ATOMIC_SEQ_CST);
	__atomic_store_n(&t->sigpending, 1, __ATOMIC_SEQ_CST);
}

void kstandin_task_clear_interrupt(void)
{
	__atomic_store_n(&self_task.fatal, 0, __ATOMIC_SEQ_CST);
	__atomic_store_n(&self_task.sigpending, 0, __ATOMIC_SEQ_CST);
}

int fatal_signal_pending(struct task_struct *t)
{
	return __atomic_load_n(&t->fatal, __ATOMIC_SEQ_CST);
}

int signal_pending(struct task_struct *t)
{
	return __atomic_load_n(&t->sigpending, __ATOMIC_SEQ_CST);
}

void sema_init(struct semaphore *sem, int val)
{
	pthread_mutex_init(&sem->lock, NULL);
	pthread_cond_init(&sem->cond, NULL);
	sem->count = val;
}

/* Waits in short real-time slices so that a pending signal is seen. */
static int sem_wait(struct semaphore *sem, int interruptible)
{
	int rc = 0;
	pthread_mutex_lock(&sem->lock);
	while (sem->count <= 0) {
		if (interruptible && signal_pending(current)) {
			rc = -EINTR;
			break;
		}
		struct timespec until;
		clock_gettime(CLOCK_REALTIME, &until);
		until.tv_nsec += 10 * 1000 * 1000;
		if (until.tv_nsec >= 1000000000) {
			until.tv_sec++;
			until.tv_nsec -= 1000000000;
		}
		pthread_cond_timedwait(&sem->cond, &sem->lock, &until);
	}
	if (!rc)
		sem->count--;
	pthread_mutex_unlock(&sem->lock);
	return rc;
}

void down(struct semaphore *sem)
{
	sem_wait(sem, 0);
}

int down_interruptible(struct semaphore *sem)
{
	return sem_wait(sem, 1);
}

int down_trylock(struct semaphore *sem)
{
	int busy;
	pthread_mutex_lock(&sem->lock);
	busy = sem->count <= 0;
	if (!busy)
		sem->count--;
	pthread_mutex_unlock(&sem->lock);
	return busy;
}

void up(struct semaphore *sem)
{
	pthread_mutex_lock(&sem->lock);
	sem->count++;
	pthread_cond_signal(&sem->cond);
	pthread_mutex_unlock(&sem->lock);
}
