/*
 * Performance-monitoring queries: interval counts computed from the port's
 * validity bitmaps, the PM counter handler, 24-bit chip counters extended
 * to 32 bits, clearing of the counters, and the retrain log.
 */
#include "vdsl_priv.h"

#define NO_INTERVAL 255
#define INTV15_COUNT 96
#define INTV1D_COUNT 30

static int intv15_bit(const struct vdsl_port_info *p, int k)
{
	return (p->intv15_valid[k / 8] >> (k % 8)) & 1;
}

static int intv1d_bit(const struct vdsl_port_info *p, int k)
{
	return (p->intv1d_valid >> k) & 1;
}

static int intv15_count(const struct vdsl_port_info *p)
{
	int k, n = 0;

	for (k = 0; k < INTV15_COUNT; k++)
		n += intv15_bit(p, k);
	return n;
}

static int intv1d_count(const struct vdsl_port_info *p)
{
	int k, n = 0;

	for (k = 0; k < INTV1D_COUNT; k++)
		n += intv1d_bit(p, k);
	return n;
}

/* First word of one logic entry, or -1 when the read fails. */
static long read_first_word(int port, const char *oid)
{
	u8 *answer = kmalloc(MIB_ANSWER_SIZE, GFP_KERNEL);
	long v = -1;

	if (!answer)
		return -1;
	if (get_port_data_logic(port, oid, answer) == 0)
		v = (long)mib_answer_word(answer, 0);
	kfree(answer);
	return v;
}

/* kind is the item of a 2.3 entry; the value, or a negative refusal. */
long mib_handler_pmcounter(int port, int kind, int index)
{
	static const struct {
		const char *oid; /* NULL: the index goes behind the item */
		const char *item;
		int limit;
		int refusal;
	} rows[11] = {
		[1] = { NULL, "0.17.11", 3, -104 },  [2] = { NULL, "0.17.12", 3, -104 },
		[3] = { NULL, "0.22.10", 5, -107 },  [4] = { NULL, "0.22.11", 5, -107 },
		[6] = { "0.22.10.3", NULL, 5, -107 }, [7] = { "0.16.14.2", NULL, 3, -107 },
		[8] = { "0.22.11.3", NULL, 5, -107 }, [10] = { "0.16.15.2", NULL, 3, -107 },
	};
	char oid[24];

	if (kind <= 0 || kind > 10)
		return -104;
	if (kind == 5 || kind == 9)
		return 0xFFFFFF;
	if (index < 0 || index >= rows[kind].limit)
		return rows[kind].refusal;
	if (rows[kind].oid)
		snprintf(oid, sizeof(oid), "%s", rows[kind].oid);
	else
		snprintf(oid, sizeof(oid), "%s.%d", rows[kind].item, index);
	return read_first_word(port, oid);
}

/* Interval counts of the current-counter tables; -1 for other entries. */
static long interval_count(int port, int g, int t, int i, int idx)
{
	static const struct {
		u8 table, valid15, invalid15, valid1d, invalid1d, rows;
	} tables[] = { { 16, 2, 3, 10, 11, 2 }, { 17, 1, 2, 8, 9, 2 }, { 22, 2, 3, 7, 8, 4 } };
	const struct vdsl_port_info *p = &port_info[port];
	unsigned k;

	if (g != 0)
		return -1;
	for (k = 0; k < ARRAY_SIZE(tables); k++) {
		if (tables[k].table != t)
			continue;
		if (i != tables[k].valid15 && i != tables[k].invalid15 && i != tables[k].valid1d &&
		    i != tables[k].invalid1d)
			return -1;
		if (idx < 1 || idx > tables[k].rows)
			return 0;
		if (i == tables[k].valid15)
			return intv15_count(p);
		if (i == tables[k].invalid15)
			return INTV15_COUNT - intv15_count(p);
		if (i == tables[k].valid1d)
			return intv1d_count(p);
		return INTV1D_COUNT - intv1d_count(p);
	}
	return -1;
}

/* History queries with an interval: 0 or 1 to answer, or a refusal. */
static long interval_query(int port, int g, int t, int i, int idx, int n)
{
	static const struct {
		u8 table, day, rows, valid_item;
	} tables[] = { { 18, 0, 2, 9 }, { 19, 1, 2, 9 }, { 20, 0, 2, 7 },
		       { 21, 1, 2, 7 }, { 23, 0, 4, 6 }, { 24, 1, 4, 6 } };
	const struct vdsl_port_info *p = &port_info[port];
	int k = (n == 0 ? 128 : n) - 1;
	unsigned r;

	PRINTL(PL_PORT, "Interval=%i\n", k);
	if (g == 3 && t == 7) {
		int day = i < 2 || i > 4;

		if (k >= (day ? INTV1D_COUNT : INTV15_COUNT) || idx < 1 || idx > 2)
			return -107;
		return (day ? intv1d_bit(p, k) : intv15_bit(p, k)) ? 0 : -106;
	}
	if (g == 0) {
		for (r = 0; r < ARRAY_SIZE(tables); r++) {
			int set;

			if (tables[r].table != t)
				continue;
			if (k >= (tables[r].day ? INTV1D_COUNT : INTV15_COUNT) || idx < 1 ||
			    idx > tables[r].rows)
				return -107;
			set = tables[r].day ? intv1d_bit(p, k) : intv15_bit(p, k);
			if (i == tables[r].valid_item)
				return set;
			if (!set && t == 24)
				PRINTL(PL_PORT, "return param != %d\n", i);
			return set ? 0 : -106;
		}
	}
	PRINTL(PL_PORT, "Only XdslGroup has interval data, interval of other Group must = 0");
	return -104;
}

static void answer_value(u8 *answer, u32 v)
{
	answer[0] = 0;
	answer[1] = 1;
	snprintf((char *)answer + 2, 7, "%06x", v & 0xFFFFFF);
	PRINTL(PL_PORT, "get_port_mib return %d\n", v);
}

/* Port 1 has its own answer; any other port but 0 is refused. */
static int counter_port_check(int port)
{
	if (port == 1) {
		PRINTL(PL_PORT, "Invalid portid=%i\n", port);
		return VDSL_ERR_PORT_ONE;
	}
	return vdsl_port_refused(port) ? VDSL_ERR_FAILED : 0;
}

int get_port_mib(int port, const char *oid, u8 *answer)
{
	int g, t, i, idx, intv, rc;
	long v = -1;

	mib_answer_preset(answer);
	rc = counter_port_check(port);
	if (rc)
		return rc;
	oid2gtip(oid, &g, &t, &i, &idx, &intv);
	if (intv != NO_INTERVAL) {
		v = interval_query(port, g, t, i, idx, intv);
		if (v < 0)
			return (int)v;
	} else if (g == 2 && t == 3) {
		v = mib_handler_pmcounter(port, i, idx);
		if (v < 0)
			v = 0;
		PRINTL(PL_PORT, "mib_handler_pmcounter return %d\n", (int)v);
	} else if (g == 2 && t == 2) {
		v = 0;
	} else {
		v = interval_count(port, g, t, i, idx);
	}
	if (v >= 0) {
		answer_value(answer, (u32)v);
		return 0;
	}
	vdsl_busy_take();
	rc = get_port_data_logic(port, oid, answer);
	vdsl_busy_release();
	return rc;
}
EXPORT_SYMBOL(get_port_mib);

/* 24-bit chip counters kept as 32-bit totals, one slot each. */
struct counter32_row {
	char oid[12];
	u8 slot;
};
struct counter32_slot {
	u32 last;
	u32 total;
};

static const struct counter32_row counter32_table[] = {
	{ "3.4.3.1", 0 },    { "3.4.3.2", 1 },    { "3.4.4.1", 2 },    { "3.4.4.2", 3 },
	{ "3.4.5.1", 4 },    { "3.4.5.2", 5 },    { "3.4.9.1", 6 },    { "3.4.9.2", 7 },
	{ "3.4.10.1", 8 },   { "3.4.10.2", 9 },   { "3.4.13.1", 10 },  { "3.4.13.2", 11 },
	{ "3.4.14.1", 12 },  { "3.4.14.2", 13 },  { "0.17.4.1", 16 },  { "0.17.4.2", 17 },
	{ "0.17.5.1", 18 },  { "0.17.5.2", 19 },  { "0.17.11.1", 20 }, { "0.17.11.2", 21 },
	{ "0.17.12.1", 22 }, { "0.17.12.2", 23 }, { "0.20.3.1", 24 },  { "0.20.3.2", 25 },
	{ "0.20.4.1", 26 },  { "0.20.4.2", 27 },  { "0.21.3.1", 28 },  { "0.21.3.2", 29 },
	{ "0.21.4.1", 30 },  { "0.21.4.2", 31 },  { "0.22.5.1", 32 },  { "0.22.5.2", 33 },
	{ "0.22.5.3", 34 },  { "0.22.5.4", 35 },  { "0.22.6.1", 36 },  { "0.22.6.2", 37 },
	{ "0.22.6.3", 38 },  { "0.22.6.4", 39 },  { "0.22.10.1", 40 }, { "0.22.10.2", 41 },
	{ "0.22.10.3", 42 }, { "0.22.10.4", 43 }, { "0.22.11.1", 44 }, { "0.22.11.2", 45 },
	{ "0.22.11.3", 46 }, { "0.22.11.4", 47 }, { "0.23.4.1", 48 },  { "0.23.4.2", 49 },
	{ "0.23.4.3", 50 },  { "0.23.4.4", 51 },  { "0.23.5.1", 52 },  { "0.23.5.2", 53 },
	{ "0.23.5.3", 54 },  { "0.23.5.4", 55 },  { "0.24.4.1", 56 },  { "0.24.4.2", 57 },
	{ "0.24.4.3", 58 },  { "0.24.4.4", 59 },  { "0.24.5.1", 60 },  { "0.24.5.2", 61 },
	{ "0.24.5.3", 62 },  { "0.24.5.4", 63 },  { "3.1.11", 64 },    { "3.1.12", 65 },
	{ "3.1.11.2", 66 },  { "3.1.12.2", 67 },
};
static struct counter32_slot counter32_slots[68];

/* Readings that mean the chip had no count to give. */
#define COUNTER_NONE 0xFFFFFFu
#define COUNTER_UNSET 0xC69A53u

static struct counter32_slot *counter32_find(const char *oid)
{
	struct counter32_slot *slot = NULL;
	unsigned k;

	for (k = 0; k < ARRAY_SIZE(counter32_table); k++)
		if (!strcmp(counter32_table[k].oid, oid))
			slot = &counter32_slots[counter32_table[k].slot];
	return slot;
}

void counter32_reset_all(void)
{
	memset(counter32_slots, 0, sizeof(counter32_slots));
}

static int get_port_data_logic32(int port, const char *oid, u8 *answer)
{
	struct counter32_slot *slot;
	u32 r, shown;
	int rc;

	if (down_interruptible(&vdsl_chip_sem))
		return -ERESTARTSYS;
	slot = counter32_find(oid);
	if (!slot) {
		rc = 107;
		goto out;
	}
	rc = mib_read_logic(port, oid, answer);
	/* A failed read leaves the total alone. */
	if (rc)
		goto out;
	r = mib_answer_word(answer, 0);
	if (r == 0 || r == COUNTER_NONE || r == COUNTER_UNSET) {
		/* No reading: the total stands; dropping it to the last 24-bit
		 * reading would lose every wrap counted so far. */
		shown = slot->total;
	} else {
		slot->total += r - slot->last;
		if (r < slot->last)
			slot->total += 0x1000000u;
		slot->last = r;
		shown = slot->total;
	}
	snprintf((char *)answer + 2, 9, "%.8lx", (unsigned long)shown);
out:
	up(&vdsl_chip_sem);
	return rc;
}

int get_port_mib32(int port, const char *oid, u8 *answer)
{
	int rc;

	mib_answer_preset(answer);
	rc = counter_port_check(port);
	if (rc)
		return rc;
	vdsl_busy_take();
	rc = get_port_data_logic32(port, oid, answer);
	vdsl_busy_release();
	return rc;
}

int clear_port_mib32(int port, const char *oid)
{
	struct counter32_slot *slot;

	(void)port;
	if (down_interruptible(&vdsl_chip_sem))
		return -ERESTARTSYS;
	slot = counter32_find(oid);
	if (slot)
		slot->last = slot->total = 0;
	up(&vdsl_chip_sem);
	return slot ? 0 : VDSL_ERR_FAILED;
}

static const struct {
	u8 table, items, rows;
} pm_tables[] = { { 16, 17, 2 }, { 17, 14, 2 }, { 18, 9, 2 }, { 19, 9, 2 }, { 20, 7, 2 },
		  { 21, 7, 2 },  { 22, 11, 4 }, { 23, 6, 4 }, { 24, 6, 4 } };

/* Writes 0 to every item of pm_tables[from..to) row by row. */
static int clear_pm_tables(int port, unsigned from, unsigned to, int rows)
{
	char oid[24];
	unsigned k;
	int idx, i, rc;

	for (idx = 1; idx <= rows; idx++)
		for (k = from; k < to; k++)
			for (i = 1; i <= pm_tables[k].items; i++) {
				snprintf(oid, sizeof(oid), "0.%d.%d.%d", pm_tables[k].table, i, idx);
				rc = set_port_mib(port, oid, "0");
				if (rc)
					return rc;
			}
	return 0;
}

int clear_port_stats(int port)
{
	int rc;

	if (port >= 0 && port < MAX_PORTS) {
		memset(port_info[port].intv15_valid, 0, sizeof(port_info[port].intv15_valid));
		port_info[port].intv1d_valid = 0;
	}
	rc = clear_pm_tables(port, 0, 6, 2);
	return rc ? rc : clear_pm_tables(port, 6, ARRAY_SIZE(pm_tables), 4);
}

int get_retrain_log(int port, u32 *log31)
{
	int k;

	log31[0] = port >= 0 && port < MAX_PORTS ? port_info[port].retrain_count : 0;
	for (k = 1; k < 31; k++)
		log31[k] = 0xFFFFFFFFu;
	return 0;
}
