/*
 * The kernel services the driver uses. On the board they come from the
 * kernel's own headers; in a host build from the user-space stand-in.
 */
#ifndef VDSL_OS_H
#define VDSL_OS_H

#ifdef VDSL_HOST_STANDIN
#include <kstandin/kernel.h>
#else
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/fs.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/delay.h>
#include <linux/time.h>
#include <linux/semaphore.h>
#include <linux/bitops.h>
#include <linux/hardirq.h>
#include <linux/netdevice.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/net.h>
#include <linux/socket.h>
#include <linux/uio.h>
#include <net/sock.h>
#include <asm/uaccess.h>
#endif

#endif
