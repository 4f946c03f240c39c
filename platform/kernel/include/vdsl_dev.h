/*
 * The xDSL device for processes on this host. The board's /dev/vdsl is a
 * character device served by the driver in the kernel; here the driver runs
 * in the device host process, and a process reaches it through these calls
 * in place of open, ioctl and close:
 *
 *     int fd = vdsl_dev_open();
 *     int rc = vdsl_dev_ioctl(fd, 0x7616, block, sizeof block);
 *     vdsl_dev_close(fd);
 *
 * The block travels with its real size: the driver can read and write only
 * those bytes, as it could only touch the caller's mapped memory on the
 * board. Every request reads the first 64 bytes, so a block shorter than
 * 64 bytes answers -14. A NULL block passes a null argument.
 */
#ifndef VDSL_DEV_H
#define VDSL_DEV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Where the device host listens; VDSL_DEV_SOCKET in the environment
 * overrides it for both sides. */
#define VDSL_DEV_SOCKET_PATH "/var/run/vdsl.sock"

/* Largest block one request may carry. */
#define VDSL_DEV_MAX_BLOCK 65536u

/* A descriptor for the device, or -1 with errno set (ENOENT or
 * ECONNREFUSED when no device host runs). */
int vdsl_dev_open(void);

/* One request: the driver's result (0, a positive driver code or a
 * negative kernel-style code). The answer is written back into block.
 * -5 (-EIO) when the device host could not be reached or broke off;
 * -22 (-EINVAL) for a block larger than VDSL_DEV_MAX_BLOCK. */
int vdsl_dev_ioctl(int fd, unsigned long request, void *block, size_t size);

int vdsl_dev_close(int fd);

#ifdef __cplusplus
}
#endif

#endif
