/*
 * Preloaded into one program of a scenario: its relative sleeps last
 * $TIME_WARP times less, so a command that waits minutes on the board runs
 * whole in seconds. Clocks are left alone: a program that measures time
 * sees the shortened waits as they are.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static long long warp(void)
{
	const char *text = getenv("TIME_WARP");
	long long f = text ? strtoll(text, NULL, 10) : 1;

	return f > 0 ? f : 1;
}

static void scale(const struct timespec *in, struct timespec *out, long long by, int down)
{
	long long ns = (long long)in->tv_sec * 1000000000LL + in->tv_nsec;

	ns = down ? ns / by : ns * by;
	out->tv_sec = (time_t)(ns / 1000000000LL);
	out->tv_nsec = (long)(ns % 1000000000LL);
}

int nanosleep(const struct timespec *req, struct timespec *rem)
{
	struct timespec short_req, left;
	long long f = warp();
	long rc;

	if (!req || req->tv_nsec < 0 || req->tv_nsec >= 1000000000L || req->tv_sec < 0) {
		errno = EINVAL;
		return -1;
	}
	scale(req, &short_req, f, 1);
	rc = syscall(SYS_nanosleep, &short_req, &left);
	/* What is left is told in the program's own time. */
	if (rc != 0 && errno == EINTR && rem)
		scale(&left, rem, f, 0);
	return rc == 0 ? 0 : -1;
}
