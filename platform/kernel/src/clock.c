/* Time for the modules: a real clock, or a fake one that moves only when
 * somebody sleeps or waits, so time-out tests finish at once. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"
#include "kstandin_internal.h"

#include <sched.h>

static int fake_clock;
static int64_t fake_now_ns;
static int64_t wall_base_s = 1700000000;
static int64_t fake_start_ns;

static int64_t real_now_ns(void)
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

void kstandin_clock_use_fake(int64_t start_ns)
{
	__atomic_store_n(&fake_now_ns, start_ns, __ATOMIC_SEQ_CST);
	fake_start_ns = start_ns;
	__atomic_store_n(&fake_clock, 1, __ATOMIC_SEQ_CST);
}

void kstandin_clock_use_real(void)
{
	__atomic_store_n(&fake_clock, 0, __ATOMIC_SEQ_CST);
}

int kstandin_clock_is_fake(void)
{
	return __atomic_load_n(&fake_clock, __ATOMIC_SEQ_CST);
}

int64_t kstandin_now_ns(void)
{
	if (kstandin_clock_is_fake())
		return __atomic_load_n(&fake_now_ns, __ATOMIC_SEQ_CST);
	return real_now_ns();
}

void kstandin_clock_set_wall(int64_t unix_seconds)
{
	wall_base_s = unix_seconds;
	fake_start_ns = kstandin_now_ns();
}

void kstandin_advance_ns(int64_t ns)
{
	if (ns <= 0)
		return;
	if (kstandin_clock_is_fake()) {
		__atomic_fetch_add(&fake_now_ns, ns, __ATOMIC_SEQ_CST);
		sched_yield();
		return;
	}
	struct timespec ts = { (time_t)(ns / 1000000000), (long)(ns % 1000000000) };
	while (nanosleep(&ts, &ts) != 0 && errno == EINTR)
		;
}

void kstandin_advance_to(int64_t when_ns)
{
	if (!kstandin_clock_is_fake())
		return;
	int64_t now = __atomic_load_n(&fake_now_ns, __ATOMIC_SEQ_CST);
	while (now < when_ns &&
	       !__atomic_compare_exchange_n(&fake_now_ns, &now, when_ns, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
		;
}

void kstandin_real_sleep_ms(int ms)
{
	struct timespec ts = { ms / 1000, (long)(ms % 1000) * 1000000 };
	while (nanosleep(&ts, &ts) != 0 && errno == EINTR)
		;
}

unsigned long kstandin_jiffies(void)
{
	return (unsigned long)(kstandin_now_ns() / (1000000000 / HZ));
}

void msleep(unsigned int ms)
{
	kstandin_advance_ns((int64_t)ms * 1000000);
}

void udelay(unsigned long us)
{
	kstandin_advance_ns((int64_t)us * 1000);
}

void mdelay(unsigned long ms)
{
	kstandin_advance_ns((int64_t)ms * 1000000);
}

void do_gettimeofday(struct timeval *tv)
{
	if (kstandin_clock_is_fake()) {
		int64_t ns = kstandin_now_ns() - fake_start_ns;
		tv->tv_sec = (time_t)(wall_base_s + ns / 1000000000);
		tv->tv_usec = (suseconds_t)((ns % 1000000000) / 1000);
		return;
	}
	gettimeofday(tv, NULL);
}

void time_to_tm(time_t totalsecs, int offset, struct tm *result)
{
	time_t t = totalsecs + offset;
	gmtime_r(&t, result);
}
