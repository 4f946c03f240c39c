/* The device host: serves a registered character device to other
 * processes over a UNIX seqpacket socket (see vdsl_dev.h for the client). */
#ifndef KSTANDIN_DEVHOST_H
#define KSTANDIN_DEVHOST_H

#ifdef __cplusplus
extern "C" {
#endif

/* Listens at path and serves requests for the device `major`, one thread
 * per open device, until stop_fd turns readable; then stops accepting and
 * waits for running requests. 0 on a clean stop, -1 when it cannot listen. */
int kstandin_devhost_serve(const char *path, unsigned int major, int stop_fd);

/* Watches the host's interfaces and tells the netdevice notifiers when one
 * is unregistered, until stop_fd turns readable. Runs in its own thread;
 * returns at once. */
int kstandin_devhost_watch_links(int stop_fd);

#ifdef __cplusplus
}
#endif

#endif
