/*
 * MIB entries by logic OID and raw memory name, and single chip words.
 * An entry is one or more 24-bit words at the chip address that the binary
 * driver image gives for it.
 */
#include "vdsl_priv.h"

/* Tables per group, and per table its indexes (rows) and items. */
static const u8 group_tables[4] = { 24, 2, 1, 7 };
static const struct {
	u8 indexes;
	u16 items;
} mib_dims[4][24] = {
	{ { 1, 40 }, { 11, 4 }, { 4, 14 }, { 2, 10 }, { 11, 3 }, { 1, 7 }, { 2, 7 }, { 1, 15 },
	  { 1, 60 }, { 1, 15 }, { 4, 5 }, { 2, 25 }, { 1, 7 }, { 1, 14 }, { 1, 6 }, { 2, 17 },
	  { 2, 14 }, { 2, 9 }, { 2, 9 }, { 2, 7 }, { 2, 7 }, { 4, 11 }, { 4, 6 }, { 4, 6 } },
	{ { 1, 71 }, { 1, 95 } },
	{ { 1, 498 } },
	{ { 2, 55 }, { 2, 61 }, { 1, 27 }, { 2, 20 }, { 1, 7 }, { 2, 7 }, { 2, 7 } },
};

#define FAR_END_BIT 0x80

int mib_table_dims(int group, int table, int *rows, int *items)
{
	if (group < 0 || group >= 4 || table < 1 || table > group_tables[group])
		return -1;
	*rows = mib_dims[group][table - 1].indexes;
	*items = mib_dims[group][table - 1].items;
	return 0;
}

/*
 * The SELT status entry: the SELT commands name it 65535.65535.65535, which
 * no table of the dimensions holds. It is the first item of the image's
 * table with every group and table bit set.
 */
#define SELT_STATUS_OID "65535.65535.65535"

static int selt_status_entry(const char *oid, int *g, int *t, int *i, int *idx)
{
	if (strcmp(oid, SELT_STATUS_OID))
		return 0;
	*g = SELT_GROUP;
	*t = SELT_TABLE;
	*i = 1;
	*idx = 1;
	return 1;
}

/* group.table.item[.index[.interval]], components of up to three digits. */
void oid2gtip(const char *oid, int *group, int *table, int *item, int *index, int *interval)
{
	int v[5] = { 0, 0, 0, 1, 255 };
	int k, digits;

	for (k = 0; k < 5 && *oid; k++) {
		int n = 0;

		for (digits = 0; digits < 3 && *oid >= '0' && *oid <= '9'; digits++)
			n = n * 10 + (*oid++ - '0');
		v[k] = n;
		while (*oid && *oid != '.')
			oid++;
		if (*oid == '.')
			oid++;
	}
	*group = v[0];
	*table = v[1];
	*item = v[2];
	*index = v[3];
	if (interval)
		*interval = v[4];
}

/* The far-end bit of the index names a row like the bit-less index. */
int mib_dimension_check(int group, int table, int item, int index)
{
	int row = index & ~FAR_END_BIT;

	if (group < 0 || group >= 4)
		return VDSL_ERR_GROUP;
	if (table < 1 || table > group_tables[group])
		return VDSL_ERR_TABLE;
	if (item < 1 || item > mib_dims[group][table - 1].items)
		return VDSL_ERR_ITEM;
	if (row < 1 || row > mib_dims[group][table - 1].indexes)
		return VDSL_ERR_INDEX;
	return 0;
}

void mib_answer_preset(u8 *answer)
{
	answer[0] = 0;
	answer[1] = 0;
	memcpy(answer + 2, "000000", 7);
}

static void answer_word(u8 *answer, int k, const u8 *w)
{
	snprintf((char *)answer + 2 + 6 * k, 7, "%02x%02x%02x", w[0], w[1], w[2]);
}

/* Port, dimension and state checks shared by reads and writes. */
int mib_entry_checks(int port, const char *oid, int *g, int *t, int *i, int *idx)
{
	int rc;

	if (port == 1) {
		PRINTL(PL_ERR, "Invalid portid=%i\n", port);
		return VDSL_ERR_PORT_ONE;
	}
	if (!selt_status_entry(oid, g, t, i, idx)) {
		oid2gtip(oid, g, t, i, idx, NULL);
		rc = mib_dimension_check(*g, *t, *i, *idx);
		if (rc)
			return rc;
	}
	if (vdsl_port_refused(port))
		return VDSL_ERR_FAILED;
	if (vdsl_port_disabled(port)) {
		PRINTL(PL_PARAM, "Port %i: Port disabled\n", port);
		return VDSL_ERR_FAILED;
	}
	rc = check_binary_driver(port);
	if (rc)
		PRINTL(PL_ERR, "Error getting MIB2 header\n");
	return rc;
}

/* Runs under the caller's chip semaphore; far: serve far-end entries. */
static int mib_read(int port, const char *oid, u8 *answer, int far)
{
	int g, t, i, idx, n, k, rc;
	u32 addr;
	u8 w[3];

	mib_answer_preset(answer);
	rc = mib_entry_checks(port, oid, &g, &t, &i, &idx);
	if (rc)
		return rc;
	n = trans_mib_addr(g, t, idx & ~FAR_END_BIT, i, &addr);
	if (n < 0)
		return VDSL_ERR_NOT_FOUND;
	/* 180 words and more would not leave the answer terminated inside the
	 * caller's 1080 bytes. */
	if (n >= MIB_MAX_WORDS)
		return VDSL_ERR_TOO_LONG;
	if (far && (idx & FAR_END_BIT)) {
		/* Only the first word of a far-end entry is fetched. */
		PRINTL(PL_ERR, "remote!!\n");
		rc = gpmr_bdy(port, addr, w);
		answer[1] = (u8)n;
		for (k = 0; k < n; k++)
			snprintf((char *)answer + 2 + 6 * k, 7, "%06x", 0);
		if (rc == 0)
			answer_word(answer, 0, w);
		return rc;
	}
	for (k = 0; k < n; k++) {
		rc = new_dsp_get(port, addr + k, EBM_MEM_X, w);
		if (rc) {
			PRINTL(PL_ERR, "Port%i MIB2 access error\n", port);
			answer[1] = (u8)k;
			return rc;
		}
		answer_word(answer, k, w);
	}
	answer[1] = (u8)n;
	return 0;
}

int mib_read_logic(int port, const char *oid, u8 *answer)
{
	return mib_read(port, oid, answer, 1);
}

int mib_read_near(int port, const char *oid, u8 *answer)
{
	return mib_read(port, oid, answer, 0);
}

/* Six hex digits (or fewer, for a one-word text) to a word; -1 when the
 * text holds anything else. */
static int hex_word(const char *text, int len, u8 *w)
{
	u32 v = 0;
	int i;

	for (i = 0; i < len; i++) {
		char c = text[i];
		int d;

		if (c >= '0' && c <= '9')
			d = c - '0';
		else if (c >= 'a' && c <= 'f')
			d = c - 'a' + 10;
		else if (c >= 'A' && c <= 'F')
			d = c - 'A' + 10;
		else
			return -1;
		v = v << 4 | (u32)d;
	}
	w[0] = (v >> 16) & 0xFF;
	w[1] = (v >> 8) & 0xFF;
	w[2] = v & 0xFF;
	return 0;
}

/* Runs under the caller's chip semaphore. */
int mib_write_logic(int port, const char *oid, const char *value)
{
	int g, t, i, idx, n, k, len, rc;
	u32 addr;
	u8 w[3];

	rc = mib_entry_checks(port, oid, &g, &t, &i, &idx);
	if (rc)
		return rc;
	n = trans_mib_addr(g, t, idx & ~FAR_END_BIT, i, &addr);
	if (n < 0)
		return VDSL_ERR_NOT_FOUND;
	len = (int)strlen(value);
	if (len > 6 * n)
		return VDSL_ERR_TOO_LONG;
	if (len > 6 && len % 6)
		return VDSL_ERR_VALUE_LENGTH;
	/* Nothing is written unless the whole text is hexadecimal. */
	for (k = 0; k * 6 < len; k++) {
		int part = len - k * 6 < 6 ? len - k * 6 : 6;

		if (hex_word(value + k * 6, part, w))
			return VDSL_ERR_FAILED;
	}
	k = 0;
	do {
		int part = len - k * 6 < 6 ? len - k * 6 : 6;

		hex_word(value + k * 6, part, w);
		rc = new_dsp_set(port, addr + k, EBM_MEM_X, w);
		if (rc) {
			PRINTL(PL_ERR, "Port%i MIB2 access error\n", port);
			return rc;
		}
		k++;
	} while (k * 6 < len);
	return 0;
}

/* "m.<type>.<address>", both hexadecimal; 1 with both fields present. */
static int raw_name(const char *name, int *mem, u32 *addr)
{
	char *end;
	unsigned long v;

	name += 2;
	if (!*name)
		return 0;
	v = simple_strtoul(name, &end, 16);
	if (end == name || *end != '.' || !end[1])
		return 0;
	*mem = (int)(v & 3);
	name = end + 1;
	v = simple_strtoul(name, &end, 16);
	if (end == name)
		return 0;
	*addr = (u32)v & 0xFFFFFF;
	return 1;
}

static int is_raw_name(const char *name)
{
	return name[0] == 'm' && name[1] == '.';
}

int get_port_data_logic(int port, const char *name, u8 *answer)
{
	int rc = 0, mem;
	u32 addr;
	u8 w[3];

	if (down_interruptible(&vdsl_chip_sem))
		return -ERESTARTSYS;
	if (is_raw_name(name)) {
		mib_answer_preset(answer);
		if (raw_name(name, &mem, &addr)) {
			rc = new_dsp_get(port, addr, mem, w);
			if (rc == 0) {
				answer[1] = 1;
				answer_word(answer, 0, w);
			}
		}
	} else {
		rc = mib_read_logic(port, name, answer);
	}
	up(&vdsl_chip_sem);
	return rc;
}

int set_port_data_logic(int port, const char *name, const char *value)
{
	int rc = 0, mem;
	u32 addr;
	u8 w[3];

	if (down_interruptible(&vdsl_chip_sem))
		return -ERESTARTSYS;
	if (threshold_check(port, name, value)) {
		rc = VDSL_ERR_FAILED;
	} else if (is_raw_name(name)) {
		if (raw_name(name, &mem, &addr)) {
			u32 v = (u32)simple_strtoul(value, NULL, 16);

			w[0] = (v >> 16) & 0xFF;
			w[1] = (v >> 8) & 0xFF;
			w[2] = v & 0xFF;
			rc = new_dsp_set(port, addr, mem, w);
		}
	} else {
		rc = mib_write_logic(port, name, value);
	}
	up(&vdsl_chip_sem);
	return rc;
}

int set_port_mib(int port, const char *oid, const char *value)
{
	int rc;

	if (vdsl_port_refused(port))
		return VDSL_ERR_FAILED;
	vdsl_busy_take();
	rc = set_port_data_logic(port, oid, value);
	vdsl_busy_release();
	return rc;
}

int get_mib2_info(const char *oid, u32 *addr, u32 *count, u32 *mem)
{
	int g, t, i, idx, n, rc;

	rc = check_binary_driver(0);
	if (rc) {
		PRINTL(PL_ERR, "Error getting MIB2 header\n");
		return rc;
	}
	oid2gtip(oid, &g, &t, &i, &idx, NULL);
	n = trans_mib_addr(g, t, idx, i, addr);
	if (n < 0)
		return VDSL_ERR_NOT_FOUND;
	*count = (u32)n;
	*mem = 0;
	return 0;
}

/* Single chip words: port check, state check, busy flag, chip semaphore. */
static int port_mem(int port, u32 addr, int mem, u8 *word, int (*op)(int, u32, int, u8 *))
{
	int rc;

	if (vdsl_port_refused(port))
		return VDSL_ERR_FAILED;
	if (vdsl_port_disabled(port)) {
		PRINTL(PL_PARAM, "Port %i: Port disabled\n", port);
		return VDSL_ERR_FAILED;
	}
	vdsl_busy_take();
	down(&vdsl_chip_sem);
	rc = op(port, addr, mem, word);
	up(&vdsl_chip_sem);
	vdsl_busy_release();
	return rc;
}

static int dsp_set_rw(int port, u32 addr, int mem, u8 *word)
{
	return new_dsp_set(port, addr, mem, word);
}

static int dsp_set_sk_rw(int port, u32 addr, int mem, u8 *word)
{
	return new_dsp_set_sk(port, addr, mem, word);
}

int get_port_mem(int port, u32 addr, int mem, u8 *word)
{
	return port_mem(port, addr, mem, word, new_dsp_get);
}

int set_port_mem(int port, u32 addr, int mem, const u8 *word)
{
	return port_mem(port, addr, mem, (u8 *)word, dsp_set_rw);
}

int get_port_mem_sk(int port, u32 addr, int mem, u8 *word)
{
	return port_mem(port, addr, mem, word, new_dsp_get_sk);
}

int set_port_mem_sk(int port, u32 addr, int mem, const u8 *word)
{
	return port_mem(port, addr, mem, (u8 *)word, dsp_set_sk_rw);
}
