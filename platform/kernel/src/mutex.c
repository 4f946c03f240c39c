/* Sleeping locks and wait queues. Waits run in short real-time slices so
 * that a signal marked on the task from another thread is seen. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"

static void slice_deadline(struct timespec *until)
{
	clock_gettime(CLOCK_REALTIME, until);
	until->tv_nsec += 10 * 1000 * 1000;
	if (until->tv_nsec >= 1000000000) {
		until->tv_sec++;
		until->tv_nsec -= 1000000000;
	}
}

void mutex_init(struct mutex *m)
{
	pthread_mutex_init(&m->lock, NULL);
	pthread_cond_init(&m->cond, NULL);
	m->held = 0;
}

static int mutex_wait(struct mutex *m, int killable)
{
	int rc = 0;
	pthread_mutex_lock(&m->lock);
	while (m->held) {
		if (killable && fatal_signal_pending(current)) {
			rc = -EINTR;
			break;
		}
		struct timespec until;
		slice_deadline(&until);
		pthread_cond_timedwait(&m->cond, &m->lock, &until);
	}
	if (!rc)
		m->held = 1;
	pthread_mutex_unlock(&m->lock);
	return rc;
}

void mutex_lock(struct mutex *m)
{
	mutex_wait(m, 0);
}

int mutex_lock_killable(struct mutex *m)
{
	return mutex_wait(m, 1);
}

void mutex_unlock(struct mutex *m)
{
	pthread_mutex_lock(&m->lock);
	m->held = 0;
	pthread_cond_signal(&m->cond);
	pthread_mutex_unlock(&m->lock);
}

int mutex_is_locked(struct mutex *m)
{
	pthread_mutex_lock(&m->lock);
	int held = m->held;
	pthread_mutex_unlock(&m->lock);
	return held;
}

void init_waitqueue_head(wait_queue_head_t *q)
{
	pthread_mutex_init(&q->lock, NULL);
	pthread_cond_init(&q->cond, NULL);
}

void kstandin_wait_queue_sleep(wait_queue_head_t *q)
{
	struct timespec until;
	slice_deadline(&until);
	pthread_mutex_lock(&q->lock);
	pthread_cond_timedwait(&q->cond, &q->lock, &until);
	pthread_mutex_unlock(&q->lock);
}

void wake_up(wait_queue_head_t *q)
{
	pthread_mutex_lock(&q->lock);
	pthread_cond_broadcast(&q->cond);
	pthread_mutex_unlock(&q->lock);
}

void synchronize_net(void)
{
	smp_mb();
}
