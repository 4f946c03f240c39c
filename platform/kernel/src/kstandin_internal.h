/* Shared inside the kernel stand-in only. */
#ifndef KSTANDIN_INTERNAL_H
#define KSTANDIN_INTERNAL_H

#include <stdint.h>

int kstandin_clock_is_fake(void);
/* Sleeps (or moves the fake clock) by ns. */
void kstandin_advance_ns(int64_t ns);
/* Moves the fake clock forward to when_ns; nothing on the real clock. */
void kstandin_advance_to(int64_t when_ns);
/* Wall-time sleep whatever the module clock is, for the host side's own
 * polling waits. */
void kstandin_real_sleep_ms(int ms);

struct net_device;
/* Packet sockets: frames arriving on a virtual device. */
void kstandin_sock_deliver(int ifindex, const unsigned char *frame, size_t len, int64_t at_ns);
/* Virtual devices: transmit a frame out of ifindex; -ENODEV when none. */
int kstandin_vdev_xmit(int ifindex, const unsigned char *frame, size_t len);
int kstandin_vdev_is_virtual(int ifindex);

#endif
