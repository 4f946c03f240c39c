/* The kernel log: every printk lands in one buffer that tests read back;
 * the host process echoes it to its standard error as well. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <stdlib.h>
#include <unistd.h>

static pthread_mutex_t log_lock = PTHREAD_MUTEX_INITIALIZER;
static char *log_buf;
static size_t log_len, log_cap;
static int echo_fd = -1;

/* Older text is dropped beyond this, as a ring buffer would. */
#define LOG_LIMIT (1u << 20)

static void log_append(const char *text, size_t n)
{
	if (log_len + n + 1 > log_cap) {
		size_t cap = log_cap ? log_cap : 4096;
		while (cap < log_len + n + 1)
			cap *= 2;
		char *p = realloc(log_buf, cap);
		if (!p)
			return;
		log_buf = p;
		log_cap = cap;
	}
	memcpy(log_buf + log_len, text, n);
	log_len += n;
	log_buf[log_len] = 0;
	if (log_len > LOG_LIMIT) {
		size_t drop = log_len - LOG_LIMIT / 2;
		memmove(log_buf, log_buf + drop, log_len - drop + 1);
		log_len -= drop;
	}
}

int printk(const char *fmt, ...)
{
	char small[256];
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(small, sizeof small, fmt, ap);
	va_end(ap);
	if (n < 0)
		return 0;
	char *text = small;
	if ((size_t)n >= sizeof small) {
		text = malloc((size_t)n + 1);
		if (!text)
			return 0;
		va_start(ap, fmt);
		vsnprintf(text, (size_t)n + 1, fmt, ap);
		va_end(ap);
	}
	pthread_mutex_lock(&log_lock);
	log_append(text, (size_t)n);
	if (echo_fd >= 0) {
		ssize_t w = write(echo_fd, text, (size_t)n);
		(void)w;
	}
	pthread_mutex_unlock(&log_lock);
	if (text != small)
		free(text);
	return n;
}

void kstandin_log_echo_fd(int fd)
{
	pthread_mutex_lock(&log_lock);
	echo_fd = fd;
	pthread_mutex_unlock(&log_lock);
}

size_t kstandin_log_read(char *out, size_t cap)
{
	pthread_mutex_lock(&log_lock);
	size_t n = log_len;
	if (cap) {
		size_t c = n < cap - 1 ? n : cap - 1;
		if (c)
			memcpy(out, log_buf, c);
		out[c] = 0;
	}
	pthread_mutex_unlock(&log_lock);
	return n;
}

void kstandin_log_clear(void)
{
	pthread_mutex_lock(&log_lock);
	log_len = 0;
	if (log_buf)
		log_buf[0] = 0;
	pthread_mutex_unlock(&log_lock);
}
