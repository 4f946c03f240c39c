/* Loading and unloading. The module needs usbcore and xhci-hcd of the
 * board kernel for the hook pointer and the root hub restart. */
#include "usbfixups_os.h"

int init_module(void)
{
	int rc;

	rc = usb_fixups_modem_init();
	if (rc) {
		printk(KERN_ERR "usbfixups: unable to initialize modem hooks\n");
		return rc;
	}

	rc = usb_fixups_xhci_init();
	if (rc) {
		usb_fixups_modem_fini();
		printk(KERN_ERR "usbfixups: unable to initialize an XHCI controller\n");
		return rc;
	}

	printk(KERN_INFO "usbfixups: loaded\n");
	return 0;
}

void cleanup_module(void)
{
	usb_fixups_xhci_fini();
	usb_fixups_modem_fini();
	printk(KERN_INFO "usbfixups: unloaded\n");
}

MODULE_LICENSE("Proprietary");
