/* /proc/sys/dev/usb/force_usb2: writing 1 restarts the XHCI root hub in
 * USB 2.0 mode, writing 0 restarts it normally. */
#include "usbfixups_os.h"

static int usb_fixups_force_usb2;
static int usb_fixups_min;
static int usb_fixups_max = 1;
static DEFINE_MUTEX(usb_fixups_mutex);
static struct ctl_table_header *usb_fixups_sysctl;

static struct ctl_table usb_fixups_table[] = {
	{
		.procname = "force_usb2",
		.data = &usb_fixups_force_usb2,
		.maxlen = sizeof(int),
		.mode = 0644,
		.proc_handler = usb_fixups_force_usb2_handler,
		.extra1 = &usb_fixups_min,
		.extra2 = &usb_fixups_max,
	},
	{},
};

static const struct ctl_path usb_fixups_path[] = {
	{ .procname = "dev" },
	{ .procname = "usb" },
	{},
};

int usb_fixups_force_usb2_handler(struct ctl_table *table, int write, void __user *buffer, size_t *lenp,
				  loff_t *ppos)
{
	int old;
	int rc;

	if (mutex_lock_killable(&usb_fixups_mutex))
		return -ERESTARTSYS;

	old = usb_fixups_force_usb2;
	rc = proc_dointvec_minmax(table, write, buffer, lenp, ppos);
	if (write && !rc && usb_fixups_force_usb2 != old) {
		rc = xhci_hub_restart(usb_fixups_force_usb2);
		if (rc) {
			usb_fixups_force_usb2 = old;
			printk(KERN_ERR "usbfixups: unable to restart XHCI\n");
		}
	}

	mutex_unlock(&usb_fixups_mutex);
	return rc;
}

int usb_fixups_xhci_init(void)
{
	usb_fixups_force_usb2 = 0;
	usb_fixups_sysctl = register_sysctl_paths(usb_fixups_path, usb_fixups_table);
	if (!usb_fixups_sysctl) {
		printk(KERN_ERR "usbfixups: unable to register a sysctl control file\n");
		return -1;
	}
	return 0;
}

void usb_fixups_xhci_fini(void)
{
	if (usb_fixups_sysctl) {
		unregister_sysctl_table(usb_fixups_sysctl);
		usb_fixups_sysctl = NULL;
	}
}
