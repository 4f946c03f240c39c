/*
 * Module start and stop, the character device and its request dispatch,
 * the debug print and the port check.
 */
#include "vdsl_priv.h"

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("xDSL chip driver");

struct semaphore vdsl_req_sem;
struct semaphore vdsl_chip_sem;
static unsigned long atomic_ops;
u32 debug_level;
unsigned char auto_reset = 1;
u32 thread_delay = 5;
u32 DELAY = 3000;
static int vdsl_major = VDSL_MAJOR;
static struct tm boot_time;

void PRINTL(u32 mask, const char *fmt, ...)
{
	char small[100];
	char *big;
	va_list ap;
	int n;

	if (!(mask & debug_level))
		return;
	va_start(ap, fmt);
	n = vsnprintf(small, sizeof(small), fmt, ap);
	va_end(ap);
	if (n < 0)
		return;
	if (n < (int)sizeof(small)) {
		printk("%s", small);
		return;
	}
	big = kmalloc(n + 1, GFP_KERNEL);
	if (!big)
		return;
	va_start(ap, fmt);
	vsnprintf(big, n + 1, fmt, ap);
	va_end(ap);
	printk("%s", big);
	kfree(big);
}

int check_param(int kind, int port)
{
	if (kind == 1 && port != 0) {
		PRINTL(PL_PORT, "Invalid portid=%i\n", port);
		return -5;
	}
	return 0;
}

int vdsl_port_refused(int port)
{
	int rc = check_param(1, port);

	if (rc) {
		PRINTL(PL_PARAM, "Error Code = %i", rc);
		return VDSL_ERR_FAILED;
	}
	return 0;
}

void vdsl_busy_take(void)
{
	while (test_and_set_bit(0, &atomic_ops))
		msleep(1);
}

void vdsl_busy_release(void)
{
	clear_bit(0, &atomic_ops);
}

/* One request: its kernel copies and what goes back to the caller. */
struct vdsl_req {
	unsigned int cmd;
	unsigned long arg;
	u8 *b;    /* the 64-byte copy of the block's head */
	u8 *work; /* 2048-byte work buffer */
	char *oid;   /* OID text of the request, VDSL_OID_MAX + 1 bytes */
	char *value; /* value text of a write, VDSL_BLOCK_SIZE bytes */
	const void *answer;
	unsigned long answer_len;
};

#define WORK_SIZE 2048

static void answer(struct vdsl_req *r, const void *data, unsigned long len)
{
	r->answer = data;
	r->answer_len = len;
}

static u32 addr24(const u8 *b)
{
	return (u32)b[1] << 16 | (u32)b[2] << 8 | b[3];
}

/*
 * Text of the caller's block at offset off: measured in the caller's memory
 * and copied with its zero byte. -14 when it leaves the block, -117 when
 * it is longer than max characters.
 */
static int fetch_text(unsigned long arg, unsigned long off, char *to, long max)
{
	long n;

	if (!arg)
		return -EFAULT;
	n = strnlen_user((const char __user *)(arg + off), max + 1);
	if (n == 0)
		return -EFAULT;
	if (n > max + 1)
		return VDSL_ERR_OID_TOO_LONG;
	if (copy_from_user(to, (const void __user *)(arg + off), n))
		return -EFAULT;
	to[n - 1] = 0;
	return (int)(n - 1);
}

/* The OID text (from byte off) and, for writes, the value text behind it;
 * both lie within the 1080 bytes of the block. */
static int fetch_oid(struct vdsl_req *r, unsigned long off, char *oid, char *value)
{
	int len = fetch_text(r->arg, off, oid, VDSL_OID_MAX);
	unsigned long voff;
	int vlen;

	if (len < 0 || !value)
		return len < 0 ? len : 0;
	voff = off + len + 1;
	if (voff >= VDSL_BLOCK_SIZE)
		return VDSL_ERR_OID_TOO_LONG;
	vlen = fetch_text(r->arg, voff, value, VDSL_BLOCK_SIZE - voff - 1);
	return vlen < 0 ? vlen : 0;
}

/* Chunk data of requests 0x7632 and 0x7633: never more than the block
 * holds behind its head fields. */
static int fetch_chunk(struct vdsl_req *r, unsigned long off, u32 len, int refuse_long)
{
	u32 room = VDSL_BLOCK_SIZE - off;

	if (len > room) {
		if (refuse_long) {
			PRINTL(PL_ERR, "Chunk of %u bytes exceeds the block\n", len);
			return VDSL_ERR_FAILED;
		}
		len = room;
	}
	if (len && copy_from_user(r->work, (const void __user *)(r->arg + off), len))
		return -EFAULT;
	return 0;
}

/*
 * The request table. Each request names how its argument is fetched from
 * the caller before the handler runs, and how much of which buffer goes
 * back to the caller afterwards (a handler may still answer on its own).
 */
enum vdsl_fetch {
	FETCH_HEAD,		/* the block's 64-byte head only */
	FETCH_OID,		/* the OID text from byte 1 */
	FETCH_OID_VALUE,	/* the OID text from byte 1 and the value behind it */
	FETCH_NAME,		/* the OID text from byte 0 */
};

enum vdsl_answer {
	ANSWER_NONE,
	ANSWER_HEAD,	/* from the block's head copy */
	ANSWER_WORK,	/* from the work buffer */
};

struct vdsl_request_desc {
	unsigned int number;
	enum vdsl_fetch fetch;
	long (*handler)(struct vdsl_req *r);
	enum vdsl_answer answer;
	unsigned long answer_len;
};

#define REQ_PORT(r) ((int)(r)->b[0])

static long req_op_status(struct vdsl_req *r)
{
	return get_op_status(REQ_PORT(r), &r->b[0]);
}

static long req_phy_status(struct vdsl_req *r)
{
	u8 state = r->b[0], connected = r->b[1];
	int rc = get_phy_status(REQ_PORT(r), &state, &connected);

	r->b[0] = state;
	r->b[1] = connected;
	return rc;
}

static long req_driver_version(struct vdsl_req *r)
{
	memset(r->b, 0, VDSL_BLOCK_HEAD);
	snprintf((char *)r->b, VDSL_BLOCK_HEAD, "%s;%s", VDSL_VERSION, VDSL_BUILD_STAMP);
	return 0;
}

static long req_get_entry(struct vdsl_req *r)
{
	int port = REQ_PORT(r);

	switch (r->cmd) {
	case VDSL_GET_MIB:
		return get_port_mib(port, r->oid, r->work);
	case VDSL_GET_DATA_LOGIC:
		return get_port_data_logic(port, r->oid, r->work);
	case VDSL_GET_DATA:
		return get_port_data(port, r->oid, r->work);
	default:
		return get_port_mib32(port, r->oid, r->work);
	}
}

static long req_set_entry(struct vdsl_req *r)
{
	int port = REQ_PORT(r);

	switch (r->cmd) {
	case VDSL_SET_MIB:
		return set_port_mib(port, r->oid, r->value);
	case VDSL_SET_DATA_LOGIC:
		return set_port_data_logic(port, r->oid, r->value);
	default:
		return set_port_data(port, r->oid, r->value);
	}
}

static long req_trans_mib_addr(struct vdsl_req *r)
{
	u8 *b = r->b;
	u32 out[2] = { 0xFFFFFFFFu, 0 };
	int n = trans_mib_addr(b[0], b[1], b[2], b[3], &out[1]);

	if (n >= 0)
		out[0] = (u32)n;
	memcpy(b, out, sizeof(out));
	return 0;
}

static long req_mib2_info(struct vdsl_req *r)
{
	u32 out[3] = { 0, 0, 0 };
	int rc = get_mib2_info(r->oid, &out[0], &out[1], &out[2]);

	memcpy(r->b, out, sizeof(out));
	return rc;
}

static long req_get_mem(struct vdsl_req *r)
{
	u8 *b = r->b;

	if (r->cmd == VDSL_GET_MEM)
		return get_port_mem(REQ_PORT(r), addr24(b), b[4], b);
	return get_port_mem_sk(REQ_PORT(r), addr24(b), b[4], b);
}

static long req_set_mem(struct vdsl_req *r)
{
	u8 *b = r->b;

	if (r->cmd == VDSL_SET_MEM)
		return set_port_mem(REQ_PORT(r), addr24(b), b[4], &b[5]);
	return set_port_mem_sk(REQ_PORT(r), addr24(b), b[4], &b[5]);
}

static long req_set_thread_delay(struct vdsl_req *r)
{
	char text[VDSL_BLOCK_HEAD + 1];

	memcpy(text, r->b, VDSL_BLOCK_HEAD);
	text[VDSL_BLOCK_HEAD] = 0;
	thread_delay = (u32)simple_strtoul(text, NULL, 10);
	return 0;
}

static long req_set_debug_level(struct vdsl_req *r)
{
	u8 *b = r->b;

	debug_level = (u32)b[0] << 24 | (u32)b[1] << 16 | (u32)b[2] << 8 | b[3];
	return 0;
}

static long req_download_firmware(struct vdsl_req *r)
{
	u8 *b = r->b;
	u32 len = (u32)b[2] << 8 | b[3];
	int rc;

	if (REQ_PORT(r) >= 2)
		return 1;
	rc = fetch_chunk(r, 4, len, 0);
	if (rc)
		return rc;
	return download_firmware(REQ_PORT(r), b[1], len, r->work);
}

static long req_load_bindrv(struct vdsl_req *r)
{
	u8 *b = r->b;
	u32 len = (u32)b[1] << 8 | b[2];
	int rc = fetch_chunk(r, 3, len, 1);

	if (rc)
		return rc;
	return load_firmware_bindrv(b[0], len, r->work);
}

static long req_bus_mark(struct vdsl_req *r)
{
	vdsl_bus_mark(r->cmd == VDSL_BUS_MARK_1 ? 0x590000 : 0x5A0000);
	return 0;
}

static long req_check_bindrv(struct vdsl_req *r)
{
	return get_mib2_header(REQ_PORT(r));
}

static long req_reset_chip(struct vdsl_req *r)
{
	int port = REQ_PORT(r);

	if (r->cmd == VDSL_RESET_CHIP)
		reset_chip(port);
	else if (r->cmd == VDSL_RESET_CHIP_HIGH)
		reset_chip_high(port);
	else
		reset_chip_low(port);
	return 0;
}

static long req_auto_reset(struct vdsl_req *r)
{
	u8 *b = r->b;

	if (b[0] == 0 || b[0] == 1) {
		auto_reset = b[0];
	} else if (b[0] == 2) {
		b[0] = auto_reset;
		answer(r, b, VDSL_BLOCK_HEAD);
	}
	return 0;
}

static long req_hpi_test(struct vdsl_req *r)
{
	int port = REQ_PORT(r);

	if (r->cmd == VDSL_HPI_TEST)
		hpi_test(port);
	else if (r->cmd == VDSL_HPI_TEST_READ)
		hpi_test_read_only();
	else if (r->cmd == VDSL_HPI_TEST_WRITE)
		hpi_test_write_only(port);
	else
		hpi_test_read_only_fixsize(port);
	return 0;
}

static long req_set_delay(struct vdsl_req *r)
{
	DELAY = r->b[0];
	return 0;
}

static long req_gpio_test(struct vdsl_req *r)
{
	vdsl_gpio_test(r->b);
	return 0;
}

static long req_ebm_access(struct vdsl_req *r)
{
	u8 *b = r->b;

	if (b[5] == 1)
		return new_dsp_set(REQ_PORT(r), addr24(b), b[4], &b[6]);
	answer(r, b, 3);
	return new_dsp_get(REQ_PORT(r), addr24(b), b[4], b);
}

static long req_set_mgt_iface(struct vdsl_req *r)
{
	memcpy(ebm_mgt_ethif, r->b, sizeof(ebm_mgt_ethif) - 1);
	ebm_mgt_ethif[sizeof(ebm_mgt_ethif) - 1] = 0;
	sv_sk_close();
	sv_sk_open();
	return 0;
}

static long req_reopen_socket(struct vdsl_req *r)
{
	(void)r;
	sv_sk_close();
	return sv_sk_open();
}

static long req_port_op(struct vdsl_req *r)
{
	int port = REQ_PORT(r);

	switch (r->cmd) {
	case VDSL_INIT_MODEM:
		return init_modem(port);
	case VDSL_RESET_MODEM:
		return reset_modem(port);
	case VDSL_CONNECT_PORT:
		return connect_port(port);
	case VDSL_DISCONNECT_PORT:
		return disconnect_port(port);
	case VDSL_CLEAR_PORT_STATS:
		return clear_port_stats(port);
	case VDSL_SHUTDOWN_SYSTEM:
		return shutdown_system(0);
	case VDSL_SHUTDOWN_CHIP:
		return shutdown_chip(port);
	case VDSL_LOOPBACK_ON:
		return enable_loopback(port);
	default:
		return disable_loopback(port);
	}
}

static long req_retrain_log(struct vdsl_req *r)
{
	return get_retrain_log(REQ_PORT(r), (u32 *)r->work);
}

static long req_clear_mib32(struct vdsl_req *r)
{
	int rc = clear_port_mib32(REQ_PORT(r), r->oid);

	memset(r->work, 0, VDSL_BLOCK_SIZE);
	return rc;
}

static long req_get_mem_remote(struct vdsl_req *r)
{
	return get_port_mem_remote(REQ_PORT(r), addr24(r->b), r->b);
}

static const struct vdsl_request_desc vdsl_requests[] = {
	{ VDSL_OP_STATUS, FETCH_HEAD, req_op_status, ANSWER_HEAD, 1 },
	{ VDSL_PHY_STATUS, FETCH_HEAD, req_phy_status, ANSWER_HEAD, VDSL_BLOCK_HEAD },
	{ VDSL_DRIVER_VERSION, FETCH_HEAD, req_driver_version, ANSWER_HEAD, VDSL_BLOCK_HEAD },
	{ VDSL_GET_MIB, FETCH_OID, req_get_entry, ANSWER_WORK, VDSL_BLOCK_SIZE },
	{ VDSL_GET_DATA_LOGIC, FETCH_OID, req_get_entry, ANSWER_WORK, VDSL_BLOCK_SIZE },
	{ VDSL_GET_DATA, FETCH_OID, req_get_entry, ANSWER_WORK, VDSL_BLOCK_SIZE },
	{ VDSL_GET_MIB32, FETCH_OID, req_get_entry, ANSWER_WORK, VDSL_BLOCK_SIZE },
	{ VDSL_GET_MIB32_B, FETCH_OID, req_get_entry, ANSWER_WORK, VDSL_BLOCK_SIZE },
	{ VDSL_SET_MIB, FETCH_OID_VALUE, req_set_entry, ANSWER_NONE, 0 },
	{ VDSL_SET_DATA_LOGIC, FETCH_OID_VALUE, req_set_entry, ANSWER_NONE, 0 },
	{ VDSL_SET_DATA, FETCH_OID_VALUE, req_set_entry, ANSWER_NONE, 0 },
	{ VDSL_TRANS_MIB_ADDR, FETCH_HEAD, req_trans_mib_addr, ANSWER_HEAD, 2 * sizeof(u32) },
	{ VDSL_MIB2_INFO, FETCH_NAME, req_mib2_info, ANSWER_HEAD, 3 * sizeof(u32) },
	{ VDSL_GET_MEM, FETCH_HEAD, req_get_mem, ANSWER_HEAD, 3 },
	{ VDSL_GET_MEM_SK, FETCH_HEAD, req_get_mem, ANSWER_HEAD, 3 },
	{ VDSL_SET_MEM, FETCH_HEAD, req_set_mem, ANSWER_NONE, 0 },
	{ VDSL_SET_MEM_SK, FETCH_HEAD, req_set_mem, ANSWER_NONE, 0 },
	{ VDSL_SET_THREAD_DELAY, FETCH_HEAD, req_set_thread_delay, ANSWER_NONE, 0 },
	{ VDSL_SET_DEBUG_LEVEL, FETCH_HEAD, req_set_debug_level, ANSWER_NONE, 0 },
	{ VDSL_DOWNLOAD_FIRMWARE, FETCH_HEAD, req_download_firmware, ANSWER_NONE, 0 },
	{ VDSL_LOAD_BINDRV, FETCH_HEAD, req_load_bindrv, ANSWER_NONE, 0 },
	{ VDSL_BUS_MARK_1, FETCH_HEAD, req_bus_mark, ANSWER_NONE, 0 },
	{ VDSL_BUS_MARK_2, FETCH_HEAD, req_bus_mark, ANSWER_NONE, 0 },
	{ VDSL_CHECK_BINDRV, FETCH_HEAD, req_check_bindrv, ANSWER_NONE, 0 },
	{ VDSL_RESET_CHIP, FETCH_HEAD, req_reset_chip, ANSWER_NONE, 0 },
	{ VDSL_RESET_CHIP_HIGH, FETCH_HEAD, req_reset_chip, ANSWER_NONE, 0 },
	{ VDSL_RESET_CHIP_LOW, FETCH_HEAD, req_reset_chip, ANSWER_NONE, 0 },
	/* Answers only when asked for the setting (mode 2). */
	{ VDSL_AUTO_RESET, FETCH_HEAD, req_auto_reset, ANSWER_NONE, 0 },
	{ VDSL_HPI_TEST, FETCH_HEAD, req_hpi_test, ANSWER_NONE, 0 },
	{ VDSL_HPI_TEST_READ, FETCH_HEAD, req_hpi_test, ANSWER_NONE, 0 },
	{ VDSL_HPI_TEST_WRITE, FETCH_HEAD, req_hpi_test, ANSWER_NONE, 0 },
	{ VDSL_HPI_TEST_READ_FIXSIZE, FETCH_HEAD, req_hpi_test, ANSWER_NONE, 0 },
	{ VDSL_SET_DELAY, FETCH_HEAD, req_set_delay, ANSWER_NONE, 0 },
	{ VDSL_GPIO_TEST, FETCH_HEAD, req_gpio_test, ANSWER_NONE, 0 },
	/* Answers the word of a read only. */
	{ VDSL_EBM_ACCESS, FETCH_HEAD, req_ebm_access, ANSWER_NONE, 0 },
	{ VDSL_SET_MGT_IFACE, FETCH_HEAD, req_set_mgt_iface, ANSWER_NONE, 0 },
	{ VDSL_REOPEN_SOCKET, FETCH_HEAD, req_reopen_socket, ANSWER_NONE, 0 },
	{ VDSL_INIT_MODEM, FETCH_HEAD, req_port_op, ANSWER_NONE, 0 },
	{ VDSL_RESET_MODEM, FETCH_HEAD, req_port_op, ANSWER_NONE, 0 },
	{ VDSL_CONNECT_PORT, FETCH_HEAD, req_port_op, ANSWER_NONE, 0 },
	{ VDSL_DISCONNECT_PORT, FETCH_HEAD, req_port_op, ANSWER_NONE, 0 },
	{ VDSL_CLEAR_PORT_STATS, FETCH_HEAD, req_port_op, ANSWER_NONE, 0 },
	{ VDSL_SHUTDOWN_SYSTEM, FETCH_HEAD, req_port_op, ANSWER_NONE, 0 },
	{ VDSL_SHUTDOWN_CHIP, FETCH_HEAD, req_port_op, ANSWER_NONE, 0 },
	{ VDSL_LOOPBACK_ON, FETCH_HEAD, req_port_op, ANSWER_NONE, 0 },
	{ VDSL_LOOPBACK_OFF, FETCH_HEAD, req_port_op, ANSWER_NONE, 0 },
	{ VDSL_RETRAIN_LOG, FETCH_HEAD, req_retrain_log, ANSWER_WORK, 31 * sizeof(u32) },
	{ VDSL_CLEAR_MIB32, FETCH_OID, req_clear_mib32, ANSWER_WORK, VDSL_BLOCK_SIZE },
	{ VDSL_GET_MEM_REMOTE, FETCH_HEAD, req_get_mem_remote, ANSWER_HEAD, 3 },
};

static const struct vdsl_request_desc *find_request(unsigned int cmd)
{
	size_t i;

	for (i = 0; i < ARRAY_SIZE(vdsl_requests); i++)
		if (vdsl_requests[i].number == cmd)
			return &vdsl_requests[i];
	return NULL;
}

static long vdsl_dispatch(unsigned int cmd, struct vdsl_req *r)
{
	const struct vdsl_request_desc *d = find_request(cmd);
	long rc;

	if (!d) {
		printk("no such ioctl case 0x%x\n", cmd);
		return -ENOTTY;
	}
	switch (d->fetch) {
	case FETCH_OID:
		rc = fetch_oid(r, 1, r->oid, NULL);
		break;
	case FETCH_OID_VALUE:
		rc = fetch_oid(r, 1, r->oid, r->value);
		break;
	case FETCH_NAME:
		rc = fetch_oid(r, 0, r->oid, NULL);
		break;
	default:
		rc = 0;
		break;
	}
	if (rc)
		return rc;
	if (d->answer != ANSWER_NONE)
		answer(r, d->answer == ANSWER_HEAD ? (void *)r->b : (void *)r->work, d->answer_len);
	r->cmd = cmd;
	return d->handler(r);
}

static long vdsl_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	struct vdsl_req r;
	long rc;

	(void)file;
	if (down_interruptible(&vdsl_req_sem))
		return -ERESTARTSYS;

	memset(&r, 0, sizeof(r));
	r.arg = arg;
	r.b = kmalloc(VDSL_BLOCK_HEAD, GFP_KERNEL);
	r.work = kmalloc(WORK_SIZE, GFP_KERNEL);
	r.oid = kmalloc(VDSL_OID_MAX + 1 + VDSL_BLOCK_SIZE, GFP_KERNEL);
	if (!r.b || !r.work || !r.oid) {
		rc = -ENOMEM;
		goto out;
	}
	memset(r.b, 0, VDSL_BLOCK_HEAD);
	memset(r.work, 0, VDSL_BLOCK_SIZE);
	r.value = r.oid + VDSL_OID_MAX + 1;

	if (arg && copy_from_user(r.b, (const void __user *)arg, VDSL_BLOCK_HEAD)) {
		rc = -EFAULT;
		goto out;
	}
	rc = vdsl_dispatch(cmd, &r);
	if (r.answer_len && copy_to_user((void __user *)arg, r.answer, r.answer_len))
		rc = -EFAULT;
out:
	kfree(r.oid);
	kfree(r.work);
	kfree(r.b);
	up(&vdsl_req_sem);
	return rc;
}

static const struct file_operations vdsl_fops = {
	.unlocked_ioctl = vdsl_ioctl,
};

static int __init vdsl_init(void)
{
	struct timeval now;
	int rc;

	memset(ebm_mgt_ethif, 0, sizeof(ebm_mgt_ethif));
	sema_init(&vdsl_req_sem, 1);
	sema_init(&vdsl_chip_sem, 1);
	atomic_ops = 0;
	debug_level = 0;
	auto_reset = 1;
	thread_delay = 5;
	DELAY = 3000;
	ebm_reset_sequence();
	vdsl_firmware_init();
	vdsl_remote_init();
	counter32_reset_all();

	rc = register_chrdev(vdsl_major, "vdsl", &vdsl_fops);
	if (rc < 0) {
		printk(KERN_WARNING "xDSL: Can't get major %d\n", vdsl_major);
		return rc;
	}
	if (vdsl_major == 0)
		vdsl_major = rc;

	rc = vdsl_netdev_register();
	if (rc) {
		unregister_chrdev(vdsl_major, "vdsl");
		return rc;
	}
	sv_sk_set_shutdown(0);
	soc_vdsl_misc_init();

	do_gettimeofday(&now);
	if (now.tv_sec < 0)
		printk("Time transform failed!\n");
	else
		time_to_tm(now.tv_sec, 0, &boot_time);

	init_port_info();
	printk(KERN_INFO "xDSL device driver %s loaded\n", VDSL_VERSION);
	return 0;
}

static void __exit vdsl_exit(void)
{
	unregister_chrdev(vdsl_major, "vdsl");
	sv_sk_set_shutdown(1);
	soc_cleanup();
	vdsl_netdev_unregister();
	sv_sk_close();
	printk(KERN_INFO "xDSL device driver %s unloaded\n", VDSL_VERSION);
}

module_init(vdsl_init);
module_exit(vdsl_exit);
