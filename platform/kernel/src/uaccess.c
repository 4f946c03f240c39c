/* The caller's memory during a request. A request's block is the only user
 * memory there is; any copy that reaches outside it faults, as a copy from
 * an unmapped user page would. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"

struct user_region {
	unsigned long base;
	unsigned char *mem;
	size_t size;
};

static __thread struct user_region region;

void kstandin_user_begin(unsigned long uaddr, void *mem, size_t size)
{
	region.base = uaddr;
	region.mem = mem;
	region.size = mem ? size : 0;
}

void kstandin_user_end(void)
{
	region.base = 0;
	region.mem = NULL;
	region.size = 0;
}

/* Bytes reachable from addr, 0 when addr is outside the block. */
static size_t reachable(unsigned long addr)
{
	if (!region.mem || addr < region.base || addr - region.base >= region.size)
		return 0;
	return region.size - (addr - region.base);
}

unsigned long copy_from_user(void *to, const void __user *from, unsigned long n)
{
	unsigned long addr = (unsigned long)from;
	size_t ok = reachable(addr);
	if (ok > n)
		ok = n;
	if (ok)
		memcpy(to, region.mem + (addr - region.base), ok);
	if (ok < n)
		memset((unsigned char *)to + ok, 0, n - ok);
	return n - ok;
}

unsigned long copy_to_user(void __user *to, const void *from, unsigned long n)
{
	unsigned long addr = (unsigned long)to;
	size_t ok = reachable(addr);
	if (ok > n)
		ok = n;
	if (ok)
		memcpy(region.mem + (addr - region.base), from, ok);
	return n - ok;
}

long strnlen_user(const char __user *s, long n)
{
	unsigned long addr = (unsigned long)s;
	size_t ok = reachable(addr);
	if (!ok || n <= 0)
		return 0;
	const unsigned char *p = region.mem + (addr - region.base);
	size_t lim = (size_t)n < ok ? (size_t)n : ok;
	for (size_t i = 0; i < lim; i++)
		if (p[i] == 0)
			return (long)i + 1;
	/* No zero byte: the string runs past n, or into unmapped memory. */
	return (size_t)n <= ok ? n + 1 : 0;
}
