/*
 * Limits of the retransmission profile entries (table 3.3): a value outside
 * them is refused before anything reaches the chip.
 */
#include "vdsl_priv.h"

#define RATE_MAX 200000u

/* Current value of a 3.3 entry; a failed read counts as 0. */
static u32 current_value(int port, const char *oid)
{
	u8 *answer = kmalloc(MIB_ANSWER_SIZE, GFP_KERNEL);
	u32 v = 0;

	if (!answer)
		return 0;
	if (mib_read_logic(port, oid, answer) == 0)
		v = mib_answer_word(answer, 0);
	kfree(answer);
	return v;
}

static int rate_ok(u32 v)
{
	return v % 8 == 0 && v <= RATE_MAX;
}

/* Runs under the caller's chip semaphore; 0 when the value may be written. */
int threshold_check(int port, const char *name, const char *value)
{
	int g, t, i, idx;
	u32 v;

	if (name[0] == 'm' && name[1] == '.')
		return 0;
	oid2gtip(name, &g, &t, &i, &idx, NULL);
	if (g != 3 || t != 3)
		return 0;
	v = (u32)simple_strtoul(value, NULL, 16);
	switch (i) {
	case 2: case 3:
		return v < 4 ? 0 : -1;
	case 4: case 6:
		return rate_ok(v) && v <= current_value(port, "3.3.8") ? 0 : -1;
	case 5: case 7:
		return rate_ok(v) && v <= current_value(port, "3.3.9") ? 0 : -1;
	case 8: case 9:
		return rate_ok(v) ? 0 : -1;
	case 10: case 11:
		return v >= 1 && v <= 63 ? 0 : -1;
	case 12: case 13: case 14: case 15:
		return v < 64 ? 0 : -1;
	case 16: case 17:
		return v < 128 ? 0 : -1;
	case 18: case 19:
		return v <= 100 ? 0 : -1;
	case 20: case 21:
		return v < 8 ? 0 : -1;
	case 22: case 23:
		return v < 14 ? 0 : -1;
	case 24: case 25:
		return v < 2 ? 0 : -1;
	case 26: case 27:
		return v < 100 ? 0 : -1;
	default: /* items 0, 1 and 28 on */
		return -1;
	}
}
