/*
 * MIB getters for other kernel code, and the driver's information text.
 * Each getter reads into a buffer of its own, so concurrent callers never
 * parse each other's answers.
 */
#include "vdsl_priv.h"
#include "vdsl_kapi.h"

static u32 rw_delay = 30000, r_delay, w_delay;
#define GARNEL_PORT 0xBF000000u

/* The answer's whole value text as one hexadecimal number. */
static int read_text_value(int port, const char *oid, u32 *value)
{
	u8 *answer = kmalloc(MIB_ANSWER_SIZE, GFP_KERNEL);
	int rc;

	if (!answer)
		return -ENOMEM;
	vdsl_busy_take();
	rc = get_port_data_logic(port, oid, answer);
	vdsl_busy_release();
	if (rc == 0)
		*value = (u32)simple_strtoul((const char *)answer + 2, NULL, 16);
	kfree(answer);
	return rc;
}

int get_mib2_uint32(int port, const char *oid, unsigned int *value)
{
	return read_text_value(port, oid, value);
}
EXPORT_SYMBOL(get_mib2_uint32);

int get_mib2_int(int port, const char *oid, int *value)
{
	u32 v;
	int rc = read_text_value(port, oid, &v);

	if (rc == 0)
		*value = (v & 0x800000) ? (int)(v | 0xFF000000u) : (int)v;
	return rc;
}
EXPORT_SYMBOL(get_mib2_int);

int get_mib2_int_idx(int port, const char *oid, int *value, int index)
{
	char name[VDSL_OID_MAX + 1];

	if (snprintf(name, sizeof(name), "%s.%d", oid, index) >= (int)sizeof(name))
		return VDSL_ERR_OID_TOO_LONG;
	return get_mib2_int(port, name, value);
}
EXPORT_SYMBOL(get_mib2_int_idx);

static int read_word(int port, u32 addr, int mem, int far, u8 *w)
{
	return far ? get_port_mem_remote(port, addr, w) : get_port_mem(port, addr, mem, w);
}

int get_mib2_uint8(int port, const char *oid, unsigned char *bytes, int size, int *count)
{
	char name[VDSL_OID_MAX + 1];
	int g, t, i, idx, far, dots = 0, stored = 0, rc = 0;
	u32 addr, words, mem, k, whole;
	const char *p;
	u8 w[3];

	for (p = oid; *p; p++)
		dots += *p == '.';
	if (dots < 2 || size < 0)
		return VDSL_ERR_FAILED;
	oid2gtip(oid, &g, &t, &i, &idx, NULL);
	far = dots >= 3 && (idx & 0x80);
	if (dots >= 3)
		snprintf(name, sizeof(name), "%d.%d.%d.%d", g, t, i, idx & ~0x80);
	else
		snprintf(name, sizeof(name), "%d.%d.%d", g, t, i);
	if (down_interruptible(&vdsl_chip_sem))
		return -ERESTARTSYS;
	rc = get_mib2_info(name, &addr, &words, &mem);
	up(&vdsl_chip_sem);
	if (rc)
		return rc;
	whole = words < (u32)size / 3 ? words : (u32)size / 3;
	for (k = 0; k < whole; k++) {
		rc = read_word(port, addr + k, (int)mem, far, w);
		if (rc)
			goto out;
		memcpy(bytes + stored, w, 3);
		stored += 3;
	}
	/* The budget cuts a word: its first one or two bytes. */
	if (words > whole && size % 3) {
		rc = read_word(port, addr + whole, (int)mem, far, w);
		if (rc == 0) {
			memcpy(bytes + stored, w, size % 3);
			stored += size % 3;
		}
	}
out:
	if (count)
		*count = stored;
	return rc;
}
EXPORT_SYMBOL(get_mib2_uint8);

int get_mib2_uint8_idx(int port, const char *oid, unsigned char *bytes, int size, int *count, int index)
{
	char name[VDSL_OID_MAX + 1];

	if (snprintf(name, sizeof(name), "%s.%d", oid, index) >= (int)sizeof(name))
		return VDSL_ERR_OID_TOO_LONG;
	return get_mib2_uint8(port, name, bytes, size, count);
}
EXPORT_SYMBOL(get_mib2_uint8_idx);

void vdsl_proc_msg(char *buf, int *len)
{
	*len += sprintf(buf + *len, "=== xDSL Driver Info ===\n");
	*len += sprintf(buf + *len, "Driver Version\t: %s - %s\n", VDSL_VERSION, VDSL_BUILD_STAMP);
	*len += sprintf(buf + *len, "rw_delay\t: %dus\nr_delay\t\t: %dus\nw_delay\t\t: %dus\n",
			rw_delay / 200, r_delay / 200, w_delay / 200);
	*len += sprintf(buf + *len, "MAX_PORTS\t: %d\n", MAX_PORTS);
	*len += sprintf(buf + *len, "GARNEL_PORT\t: 0x%08x\n", GARNEL_PORT);
}
EXPORT_SYMBOL(vdsl_proc_msg);
