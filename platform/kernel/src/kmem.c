/* kmalloc and friends on the C heap, counted, and made to fail on demand
 * so that every allocation failure path of a module can be walked. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"

static long live_blocks;
static long fail_countdown = -1; /* allocations left before the one that fails */
static int fail_all;

void kstandin_kmem_fail_after(unsigned skip)
{
	__atomic_store_n(&fail_countdown, (long)skip, __ATOMIC_SEQ_CST);
}

void kstandin_kmem_fail_all(void)
{
	__atomic_store_n(&fail_all, 1, __ATOMIC_SEQ_CST);
}

void kstandin_kmem_fail_reset(void)
{
	__atomic_store_n(&fail_all, 0, __ATOMIC_SEQ_CST);
	__atomic_store_n(&fail_countdown, -1, __ATOMIC_SEQ_CST);
}

long kstandin_kmem_live(void)
{
	return __atomic_load_n(&live_blocks, __ATOMIC_SEQ_CST);
}

static int must_fail(void)
{
	if (__atomic_load_n(&fail_all, __ATOMIC_SEQ_CST))
		return 1;
	long left = __atomic_load_n(&fail_countdown, __ATOMIC_SEQ_CST);
	while (left >= 0) {
		long next = left - 1;
		if (__atomic_compare_exchange_n(&fail_countdown, &left, next, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
			return left == 0;
	}
	return 0;
}

static void *counted(void *p)
{
	if (p)
		__atomic_fetch_add(&live_blocks, 1, __ATOMIC_SEQ_CST);
	return p;
}

void *kmalloc(size_t size, gfp_t flags)
{
	(void)flags;
	if (must_fail())
		return NULL;
	return counted(malloc(size ? size : 1));
}

void *kzalloc(size_t size, gfp_t flags)
{
	(void)flags;
	if (must_fail())
		return NULL;
	return counted(calloc(1, size ? size : 1));
}

void kfree(const void *p)
{
	if (!p)
		return;
	__atomic_fetch_sub(&live_blocks, 1, __ATOMIC_SEQ_CST);
	free((void *)p);
}
