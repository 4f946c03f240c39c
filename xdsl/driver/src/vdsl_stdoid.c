/*
 * Entries by standard OID: the line MIB's table prefix is rewritten into
 * the logic OID's group and table, the rest of the text kept.
 */
#include "vdsl_priv.h"

static const struct {
	const char *std;
	const char *logic;
} std_prefixes[30] = {
	{ "1.1.1.1", "0.1" },	 { "1.1.2.1", "0.2" },	  { "1.2.2.1", "0.3" },	   { "1.2.3.1", "0.4" },
	{ "1.2.4.1", "0.5" },	 { "1.2.5.1", "0.6" },	  { "1.3.1.1", "0.7" },	   { "1.5.1.1.1", "0.8" },
	{ "1.5.1.2.1", "0.9" },	 { "1.5.1.3.1", "0.10" }, { "1.5.1.4.1", "0.11" }, { "1.5.2.1.1", "0.12" },
	{ "1.5.3.1.1", "0.13" }, { "1.5.3.2.1", "0.14" }, { "1.5.3.3.1", "0.15" }, { "1.4.1.1.1", "0.16" },
	{ "1.4.1.2.1", "0.17" }, { "1.4.1.3.1", "0.18" }, { "1.4.1.4.1", "0.19" }, { "1.4.1.5.1", "0.20" },
	{ "1.4.1.6.1", "0.21" }, { "1.4.2.1.1", "0.22" }, { "1.4.2.2.1", "0.23" }, { "1.4.2.3.1", "0.24" },
	{ "0.0.0", "0.0" },	 { "1.1", "1.1" },	  { "1.2", "1.2" },	   { "2.1", "2.1" },
	{ "3.1", "3.1" },	 { "3.2", "3.2" },
};

/* The logic OID for a standard one into out (VDSL_OID_MAX + 1 bytes); 0 or
 * 100 after "Incompatible OID". */
int std_oid_rewrite(const char *std, char *out)
{
	size_t len = strnlen(std, VDSL_OID_MAX + 1);
	unsigned k;

	if (len <= VDSL_OID_MAX) {
		for (k = 0; k < ARRAY_SIZE(std_prefixes); k++) {
			size_t n = strlen(std_prefixes[k].std);

			if (!strncmp(std, std_prefixes[k].std, n)) {
				/* The logic prefix is never longer than the standard one. */
				snprintf(out, VDSL_OID_MAX + 1, "%s%s", std_prefixes[k].logic, std + n);
				return 0;
			}
		}
	}
	PRINTL(PL_ERR, "Incompatible OID\n");
	return VDSL_ERR_FAILED;
}

/*
 * Rewrites the standard OID under the chip semaphore and runs op on the
 * logic OID; value is the write's value text, NULL for a read.
 */
static int with_logic_oid(int port, const char *std, int (*op)(int, const char *, u8 *, const char *),
			  u8 *answer, const char *value)
{
	char *logic = kmalloc(VDSL_OID_MAX + 1, GFP_KERNEL);
	int rc;

	if (!logic)
		return -ENOMEM;
	if (down_interruptible(&vdsl_chip_sem)) {
		kfree(logic);
		return -ERESTARTSYS;
	}
	if (port == 1) {
		PRINTL(PL_ERR, "Invalid portid=%i\n", port);
		rc = VDSL_ERR_PORT_ONE;
	} else {
		rc = std_oid_rewrite(std, logic);
	}
	if (rc == 0)
		rc = op(port, logic, answer, value);
	up(&vdsl_chip_sem);
	kfree(logic);
	return rc;
}

/* Standard OIDs never name far-end entries. */
static int read_op(int port, const char *logic, u8 *answer, const char *value)
{
	(void)value;
	return mib_read_near(port, logic, answer);
}

static int write_op(int port, const char *logic, u8 *answer, const char *value)
{
	int g, t, i, idx;

	(void)answer;
	/* An empty value writes nothing, once the entry passed its checks. */
	if (!*value)
		return mib_entry_checks(port, logic, &g, &t, &i, &idx);
	return mib_write_logic(port, logic, value);
}

int get_port_data(int port, const char *std, u8 *answer)
{
	mib_answer_preset(answer);
	return with_logic_oid(port, std, read_op, answer, NULL);
}

int set_port_data(int port, const char *std, const char *value)
{
	return with_logic_oid(port, std, write_op, NULL, value);
}
