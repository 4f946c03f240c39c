/* What the kernel objects' check must refuse: a 64-bit division, floating
 * point and a 64-bit atomic, each a call into the compiler's run-time. */
#include <stdint.h>

uint64_t probe_division(uint64_t total, uint32_t parts)
{
	return total / parts;
}

float probe_float(float a, float b)
{
	return a * b;
}

int64_t probe_atomic(int64_t *counter)
{
	return __atomic_fetch_add(counter, 1, __ATOMIC_SEQ_CST);
}
