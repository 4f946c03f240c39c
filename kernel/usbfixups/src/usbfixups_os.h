/*
 * The kernel services the module uses: the board kernel's headers, or the
 * user-space stand-in in a host build.
 */
#ifndef USBFIXUPS_OS_H
#define USBFIXUPS_OS_H

#ifdef USBFIXUPS_HOST_STANDIN
#include <kstandin/kernel.h>
#else
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/mutex.h>
#include <linux/wait.h>
#include <linux/sched.h>
#include <linux/sysctl.h>
#include <linux/usb.h>
#include <linux/netdevice.h>
#include <asm/atomic.h>
/* Added by the board kernel to usbcore and xhci-hcd. */
extern int (*usb_get_os_str_desc_hook)(struct usb_device *udev);
extern int xhci_hub_restart(int usb2_only);
#endif

#include "usbfixups.h"

#endif
