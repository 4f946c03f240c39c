/*
 * The other side of the kernel stand-in: what the host process and the tests
 * use to drive it (clock, captured log, the caller's memory of a request,
 * character-device calls, virtual network devices, device events).
 */
#ifndef KSTANDIN_HOST_H
#define KSTANDIN_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct task_struct;

/* ---- the module linked into this process (its module_init/module_exit) ---- */
int kstandin_module_init(void);
void kstandin_module_exit(void);

/* ---- clock: real by default; a fake clock advances only by sleeping ---- */
void kstandin_clock_use_fake(int64_t start_ns);
void kstandin_clock_use_real(void);
int64_t kstandin_now_ns(void);
/* Moves the fake clock on (a sleep of that long under the real one). */
void kstandin_advance_ns(int64_t ns);
/* Wall clock seconds seen by do_gettimeofday under the fake clock. */
void kstandin_clock_set_wall(int64_t unix_seconds);

/* ---- kernel log: kept in memory, optionally echoed to a descriptor ---- */
void kstandin_log_echo_fd(int fd);
/* Copies the whole log (zero-terminated, cut to cap) and returns its length. */
size_t kstandin_log_read(char *out, size_t cap);
void kstandin_log_clear(void);

/* ---- the calling process's memory during one request ----
 * User addresses uaddr..uaddr+size map onto mem; every other address
 * faults. uaddr is not a host pointer, so a module that dereferences a user
 * address instead of copying crashes in tests. */
#define KSTANDIN_USER_BASE 0x10000000UL
void kstandin_user_begin(unsigned long uaddr, void *mem, size_t size);
void kstandin_user_end(void);

/* ---- character devices ---- */
/* Calls the device's ioctl as a process would; -ENODEV when nothing is
 * registered under the major. */
long kstandin_chrdev_ioctl(unsigned int major, unsigned int cmd, unsigned long arg);
int kstandin_chrdev_registered(unsigned int major);

/* ---- tasks ---- */
struct task_struct *kstandin_task_self(void);
/* Marks a signal pending for the task; its interruptible waits end. */
void kstandin_task_interrupt(struct task_struct *t);
void kstandin_task_clear_interrupt(void);

/* ---- virtual network devices for tests ----
 * Frames sent by a socket bound to the device go to xmit; frames given to
 * kstandin_vdev_rx reach the bound sockets after delay_ns (fake-clock time
 * when the fake clock runs). */
typedef void (*kstandin_xmit_fn)(void *ctx, const unsigned char *frame, size_t len);
int kstandin_vdev_add(const char *name, const unsigned char mac[6], kstandin_xmit_fn xmit, void *ctx);
void kstandin_vdev_set_up(const char *name, int up);
/* Removes the device and tells the notifiers that it is gone. */
void kstandin_vdev_remove(const char *name);
void kstandin_vdev_rx(const char *name, const unsigned char *frame, size_t len, int64_t delay_ns);
void kstandin_vdev_remove_all(void);

/* ---- device events from the host (a real interface went away) ---- */
void kstandin_netdev_event(unsigned long event, const char *name);

#ifdef __cplusplus
}
#endif

#endif
