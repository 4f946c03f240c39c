/* The XHCI root hub restart of the board kernel: results from a script,
 * every call recorded, and a restart that sleeps until released. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"
#include "kstandin_internal.h"

#define MAX_SCRIPT 16
#define MAX_CALLS 64

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
static int script[MAX_SCRIPT];
static size_t script_first, script_count;
static int calls[MAX_CALLS];
static size_t ncalls;
static int block_next, sleeping, released;

void kstandin_xhci_script_restart(int result)
{
	pthread_mutex_lock(&lock);
	if (script_count < MAX_SCRIPT)
		script[(script_first + script_count++) % MAX_SCRIPT] = result;
	pthread_mutex_unlock(&lock);
}

void kstandin_xhci_block_next_restart(void)
{
	pthread_mutex_lock(&lock);
	block_next = 1;
	pthread_mutex_unlock(&lock);
}

int kstandin_xhci_wait_blocked(int ms)
{
	for (int waited = 0;; waited++) {
		pthread_mutex_lock(&lock);
		int now = sleeping;
		pthread_mutex_unlock(&lock);
		if (now)
			return 0;
		if (waited >= ms)
			return -1;
		kstandin_real_sleep_ms(1);
	}
}

void kstandin_xhci_release(void)
{
	pthread_mutex_lock(&lock);
	released = 1;
	pthread_cond_broadcast(&cond);
	pthread_mutex_unlock(&lock);
}

size_t kstandin_xhci_restarts(int *usb2_only, size_t cap)
{
	pthread_mutex_lock(&lock);
	size_t n = ncalls;
	for (size_t i = 0; i < n && i < cap; i++)
		usb2_only[i] = calls[i];
	pthread_mutex_unlock(&lock);
	return n;
}

void kstandin_xhci_reset(void)
{
	pthread_mutex_lock(&lock);
	script_first = script_count = 0;
	ncalls = 0;
	block_next = sleeping = released = 0;
	pthread_mutex_unlock(&lock);
}

int xhci_hub_restart(int usb2_only)
{
	int rc = 0;
	pthread_mutex_lock(&lock);
	if (ncalls < MAX_CALLS)
		calls[ncalls++] = usb2_only;
	if (script_count) {
		rc = script[script_first];
		script_first = (script_first + 1) % MAX_SCRIPT;
		script_count--;
	}
	if (block_next) {
		block_next = 0;
		sleeping = 1;
		while (!released)
			pthread_cond_wait(&cond, &lock);
		sleeping = released = 0;
	}
	pthread_mutex_unlock(&lock);
	return rc;
}
