/* Microsoft OS descriptors for listed USB modems: the USB core asks the
 * hook during enumeration whether a new device is a WCID device. */
#include "usbfixups_os.h"

struct usb_fixups_modem {
	u16 vendor;
	u16 product;
};

/* Searched in this order. */
static const struct usb_fixups_modem usb_fixups_modems[] = {
	{ 0x15A9, 0x002A }, { 0x15A9, 0x002B }, { 0x15A9, 0x002C }, { 0x15A9, 0x0030 }, { 0x216F, 0x0042 },
	{ 0x216F, 0x0043 }, { 0x216F, 0x0044 }, { 0x216F, 0x0045 }, { 0x1BBB, 0x025E },
};

#define WCID_STRING_INDEX 0xEE
#define WCID_SIGNATURE "MSFT100"
#define WCID_SIGNATURE_LEN 7
#define WCID_VENDOR_REQUEST 0x20
#define WCID_EXT_COMPAT_INDEX 4
#define WCID_HEADER_LEN 16
#define WCID_DESCRIPTOR_LEN 40 /* the header and one function section */
#define WCID_HEADER_INDEX_BYTE 6
#define WCID_SECTION_ONE_BYTE 17
#define WCID_COMPAT_ID_BYTE 18

/* Hook calls that have not returned yet: unloading waits for them, since a
 * call may sleep in a control transfer long after the pointer is cleared. */
static atomic_t usb_fixups_hook_calls = ATOMIC_INIT(0);
static DECLARE_WAIT_QUEUE_HEAD(usb_fixups_hook_idle);

static int usb_fixups_is_listed(const struct usb_device *dev)
{
	u16 vendor = le16_to_cpu(dev->descriptor.idVendor);
	u16 product = le16_to_cpu(dev->descriptor.idProduct);
	size_t i;

	for (i = 0; i < ARRAY_SIZE(usb_fixups_modems); i++)
		if (usb_fixups_modems[i].vendor == vendor && usb_fixups_modems[i].product == product)
			return 1;
	return 0;
}

static int usb_fixups_has_os_string(struct usb_device *dev)
{
	char *s = usb_cache_string(dev, WCID_STRING_INDEX);
	int found;

	if (!s)
		return 0;
	found = strncmp(s, WCID_SIGNATURE, WCID_SIGNATURE_LEN) == 0;
	kfree(s);
	return found;
}

/* Extended Compat ID descriptor, len bytes of it; anything but the whole
 * length counts as a failed request. */
static int usb_fixups_read_ext_compat(struct usb_device *dev, u8 *buf, u16 len)
{
	int rc = usb_control_msg(dev, usb_rcvctrlpipe(dev, 0), WCID_VENDOR_REQUEST,
				 USB_DIR_IN | USB_TYPE_VENDOR | USB_RECIP_DEVICE, 0, WCID_EXT_COMPAT_INDEX,
				 buf, len, USB_CTRL_GET_TIMEOUT);
	return rc == len ? 0 : -EIO;
}

static int usb_fixups_wcid_probe(struct usb_device *dev)
{
	u8 *buf;
	int rc = USB_FIXUPS_NO_FUNCTION;

	if (!usb_fixups_is_listed(dev))
		return USB_FIXUPS_NOT_WCID;
	if (!usb_fixups_has_os_string(dev))
		return USB_FIXUPS_NOT_WCID;

	buf = kzalloc(WCID_DESCRIPTOR_LEN, GFP_KERNEL);
	if (!buf)
		return -ENOMEM;

	/* Header first: is there an Extended Compat ID descriptor at all? */
	if (usb_fixups_read_ext_compat(dev, buf, WCID_HEADER_LEN) ||
	    buf[WCID_HEADER_INDEX_BYTE] != WCID_EXT_COMPAT_INDEX)
		goto out;

	memset(buf, 0, WCID_DESCRIPTOR_LEN);
	if (usb_fixups_read_ext_compat(dev, buf, WCID_DESCRIPTOR_LEN))
		goto out;

	if (buf[WCID_SECTION_ONE_BYTE] == 1 || buf[WCID_COMPAT_ID_BYTE] != 0) {
		/* The compatible id is not terminated when all 8 bytes are used. */
		printk(KERN_INFO "usbfixups: found WCID device %s in %.8s mode\n", dev->product,
		       (const char *)&buf[WCID_COMPAT_ID_BYTE]);
		rc = USB_FIXUPS_WCID;
	}
out:
	kfree(buf);
	return rc;
}

int usb_fixups_wcid_hook(struct usb_device *dev)
{
	int rc;

	atomic_inc(&usb_fixups_hook_calls);
	rc = usb_fixups_wcid_probe(dev);
	if (atomic_dec_and_test(&usb_fixups_hook_calls))
		wake_up(&usb_fixups_hook_idle);
	return rc;
}

int usb_fixups_modem_init(void)
{
	smp_mb();
	usb_get_os_str_desc_hook = usb_fixups_wcid_hook;
	return 0;
}

void usb_fixups_modem_fini(void)
{
	usb_get_os_str_desc_hook = NULL;
	synchronize_net();
	wait_event(usb_fixups_hook_idle, atomic_read(&usb_fixups_hook_calls) == 0);
}
