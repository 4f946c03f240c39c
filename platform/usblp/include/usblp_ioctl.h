/* Requests of the kernel's USB printer class driver, as its character
 * devices (/dev/usb/lpN) take them. The numbers come from the _IOC macros,
 * so each architecture gets its own encoding (the board's MIPS numbers are
 * 0x41FF5001 and 0x40085006). */
#ifndef USBLP_IOCTL_H
#define USBLP_IOCTL_H

#include <linux/ioctl.h>

/* IEEE 1284 device ID: a 2-byte big-endian length, then the text. */
#define USBLP_DEVICE_ID_BYTES 511
#define USBLP_IOC_GET_DEVICE_ID _IOC(_IOC_READ, 'P', 1, USBLP_DEVICE_ID_BYTES)
/* USB vendor and product ID as two ints. */
#define USBLP_IOC_GET_VID_PID _IOC(_IOC_READ, 'P', 6, 2 * sizeof(int))
/* The parallel-port status byte in an int (not an _IOC number). */
#define USBLP_GET_STATUS 0x060B

/* Port status bits. */
#define USBLP_STATUS_ERROR_CLEAR 0x08
#define USBLP_STATUS_SELECTED 0x10
#define USBLP_STATUS_PAPER_OUT 0x20
#define USBLP_STATUS_NOT_BUSY 0x80

#endif
