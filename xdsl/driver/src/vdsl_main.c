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

static long vdsl_dispatch(unsigned int cmd, struct vdsl_req *r)
{
	u8 *b = r->b;
	char *oid = r->oid;
	char *value = r->value;
	int port = b[0];
	int rc;

	switch (cmd) {
	case VDSL_OP_STATUS:
		rc = get_op_status(port, &b[0]);
		answer(r, b, 1);
		return rc;

	case VDSL_PHY_STATUS: {
		u8 state = b[0], connected = b[1];

		rc = get_phy_status(port, &state, &connected);
		b[0] = state;
		b[1] = connected;
		answer(r, b, VDSL_BLOCK_HEAD);
		return rc;
	}

	case VDSL_DRIVER_VERSION:
		memset(b, 0, VDSL_BLOCK_HEAD);
		snprintf((char *)b, VDSL_BLOCK_HEAD, "%s;%s", VDSL_VERSION, VDSL_BUILD_STAMP);
		answer(r, b, VDSL_BLOCK_HEAD);
		return 0;

	case VDSL_GET_MIB:
	case VDSL_GET_DATA_LOGIC:
		rc = fetch_oid(r, 1, oid, NULL);
		if (rc)
			return rc;
		rc = cmd == VDSL_GET_MIB ? get_port_mib(port, oid, r->work)
					 : get_port_data_logic(port, oid, r->work);
		answer(r, r->work, VDSL_BLOCK_SIZE);
		return rc;

	case VDSL_SET_MIB:
	case VDSL_SET_DATA_LOGIC:
		rc = fetch_oid(r, 1, oid, value);
		if (rc)
			return rc;
		return cmd == VDSL_SET_MIB ? set_port_mib(port, oid, value)
					   : set_port_data_logic(port, oid, value);

	case VDSL_TRANS_MIB_ADDR: {
		u32 out[2] = { 0xFFFFFFFFu, 0 };
		int n = trans_mib_addr(b[0], b[1], b[2], b[3], &out[1]);

		if (n >= 0)
			out[0] = (u32)n;
		memcpy(b, out, sizeof(out));
		answer(r, b, sizeof(out));
		return 0;
	}

	case VDSL_MIB2_INFO: {
		u32 out[3] = { 0, 0, 0 };

		rc = fetch_oid(r, 0, oid, NULL);
		if (rc)
			return rc;
		rc = get_mib2_info(oid, &out[0], &out[1], &out[2]);
		memcpy(b, out, sizeof(out));
		answer(r, b, sizeof(out));
		return rc;
	}

	case VDSL_GET_MEM:
	case VDSL_GET_MEM_SK: {
		u32 a = addr24(b);
		int mem = b[4];

		rc = cmd == VDSL_GET_MEM ? get_port_mem(port, a, mem, b) : get_port_mem_sk(port, a, mem, b);
		answer(r, b, 3);
		return rc;
	}

	case VDSL_SET_MEM:
		return set_port_mem(port, addr24(b), b[4], &b[5]);
	case VDSL_SET_MEM_SK:
		return set_port_mem_sk(port, addr24(b), b[4], &b[5]);

	case VDSL_SET_THREAD_DELAY: {
		char text[VDSL_BLOCK_HEAD + 1];

		memcpy(text, b, VDSL_BLOCK_HEAD);
		text[VDSL_BLOCK_HEAD] = 0;
		thread_delay = (u32)simple_strtoul(text, NULL, 10);
		return 0;
	}

	case VDSL_SET_DEBUG_LEVEL:
		debug_level = (u32)b[0] << 24 | (u32)b[1] << 16 | (u32)b[2] << 8 | b[3];
		return 0;

	case VDSL_DOWNLOAD_FIRMWARE:
		if (port >= 2)
			return 1;
		rc = fetch_chunk(r, 4, (u32)b[2] << 8 | b[3], 0);
		if (rc)
			return rc;
		return download_firmware(port, b[1], (u32)b[2] << 8 | b[3], r->work);

	case VDSL_LOAD_BINDRV: {
		u32 len = (u32)b[1] << 8 | b[2];

		rc = fetch_chunk(r, 3, len, 1);
		if (rc)
			return rc;
		return load_firmware_bindrv(b[0], len, r->work);
	}

	case VDSL_BUS_MARK_1:
		vdsl_bus_mark(0x590000);
		return 0;
	case VDSL_BUS_MARK_2:
		vdsl_bus_mark(0x5A0000);
		return 0;

	case VDSL_CHECK_BINDRV:
		return get_mib2_header(port);

	case VDSL_RESET_CHIP:
		reset_chip(port);
		return 0;
	case VDSL_RESET_CHIP_HIGH:
		reset_chip_high(port);
		return 0;
	case VDSL_RESET_CHIP_LOW:
		reset_chip_low(port);
		return 0;

	case VDSL_AUTO_RESET:
		if (b[0] == 0 || b[0] == 1) {
			auto_reset = b[0];
		} else if (b[0] == 2) {
			b[0] = auto_reset;
			answer(r, b, VDSL_BLOCK_HEAD);
		}
		return 0;

	case VDSL_HPI_TEST:
		hpi_test(port);
		return 0;
	case VDSL_HPI_TEST_READ:
		hpi_test_read_only();
		return 0;
	case VDSL_HPI_TEST_WRITE:
		hpi_test_write_only(port);
		return 0;
	case VDSL_SET_DELAY:
		DELAY = b[0];
		return 0;
	case VDSL_HPI_TEST_READ_FIXSIZE:
		hpi_test_read_only_fixsize(port);
		return 0;
	case VDSL_GPIO_TEST:
		vdsl_gpio_test(b);
		return 0;

	case VDSL_EBM_ACCESS:
		if (b[5] == 1)
			return new_dsp_set(port, addr24(b), b[4], &b[6]);
		rc = new_dsp_get(port, addr24(b), b[4], b);
		answer(r, b, 3);
		return rc;

	case VDSL_SET_MGT_IFACE:
		memcpy(ebm_mgt_ethif, b, sizeof(ebm_mgt_ethif) - 1);
		ebm_mgt_ethif[sizeof(ebm_mgt_ethif) - 1] = 0;
		sv_sk_close();
		sv_sk_open();
		return 0;

	case VDSL_REOPEN_SOCKET:
		sv_sk_close();
		return sv_sk_open();

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
	case VDSL_LOOPBACK_OFF:
		return disable_loopback(port);

	case VDSL_RETRAIN_LOG: {
		u32 *log31 = (u32 *)r->work;

		rc = get_retrain_log(port, log31);
		answer(r, log31, 31 * sizeof(u32));
		return rc;
	}

	case VDSL_GET_DATA:
	case VDSL_GET_MIB32:
	case VDSL_GET_MIB32_B:
		rc = fetch_oid(r, 1, oid, NULL);
		if (rc)
			return rc;
		rc = cmd == VDSL_GET_DATA ? get_port_data(port, oid, r->work) : get_port_mib32(port, oid, r->work);
		answer(r, r->work, VDSL_BLOCK_SIZE);
		return rc;

	case VDSL_SET_DATA:
		rc = fetch_oid(r, 1, oid, value);
		if (rc)
			return rc;
		return set_port_data(port, oid, value);

	case VDSL_CLEAR_MIB32:
		rc = fetch_oid(r, 1, oid, NULL);
		if (rc)
			return rc;
		rc = clear_port_mib32(port, oid);
		memset(r->work, 0, VDSL_BLOCK_SIZE);
		answer(r, r->work, VDSL_BLOCK_SIZE);
		return rc;

	case VDSL_GET_MEM_REMOTE:
		rc = get_port_mem_remote(port, addr24(b), b);
		answer(r, b, 3);
		return rc;

	default:
		printk("no such ioctl case 0x%x\n", cmd);
		return -ENOTTY;
	}
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
