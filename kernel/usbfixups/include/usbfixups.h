/*
 * usbfixups: USB quirks of the board. Answers the USB core's question for
 * Microsoft OS descriptors on listed modems, and offers
 * /proc/sys/dev/usb/force_usb2 to run the XHCI root hub as USB 2.0.
 */
#ifndef USBFIXUPS_H
#define USBFIXUPS_H

#ifdef USBFIXUPS_HOST_STANDIN
#include <kstandin/kernel.h>
#else
#include <linux/types.h>
#include <linux/usb.h>
#include <linux/sysctl.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the OS-descriptor hook, for the USB core. */
#define USB_FIXUPS_NOT_WCID 0
#define USB_FIXUPS_NO_FUNCTION 1
#define USB_FIXUPS_WCID 2

int init_module(void);
void cleanup_module(void);

int usb_fixups_modem_init(void);
void usb_fixups_modem_fini(void);
int usb_fixups_xhci_init(void);
void usb_fixups_xhci_fini(void);

/* 0 not a listed modem or no OS descriptor, 1 no usable function section,
 * 2 a WCID device, -ENOMEM without a buffer. */
int usb_fixups_wcid_hook(struct usb_device *dev);
int usb_fixups_force_usb2_handler(struct ctl_table *table, int write, void __user *buffer, size_t *lenp,
				  loff_t *ppos);

#ifdef __cplusplus
}
#endif

#endif
