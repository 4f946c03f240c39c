/*
 * The other side of the kernel stand-in: what the host process and the tests
 * use to drive it (clock, captured log, the caller's memory of a request,
 * character-device calls, virtual network devices, device events, memory
 * accounting, USB devices, the XHCI restart, sysctl files).
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
/* A fatal signal (SIGKILL) for the task: killable waits end as well. */
void kstandin_task_kill(struct task_struct *t);

/* ---- kernel memory: kmalloc/kzalloc failures on demand, live blocks ---- */
/* The allocation after the next `skip` ones fails (once). */
void kstandin_kmem_fail_after(unsigned skip);
/* Every allocation fails until reset. */
void kstandin_kmem_fail_all(void);
void kstandin_kmem_fail_reset(void);
/* Blocks from kmalloc/kzalloc not given back to kfree yet. */
long kstandin_kmem_live(void);

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

/* ---- USB devices ---- */
struct usb_device;
/* A device with its descriptor's ids, a product name (null for none) and
 * no strings or answers yet. */
struct usb_device *kstandin_usb_device_new(uint16_t vendor, uint16_t product, const char *product_name);
void kstandin_usb_device_free(struct usb_device *dev);
/* The string at index, or none when text is null. */
void kstandin_usb_set_string(struct usb_device *dev, int index, const char *text);
/* Scripted answers to control transfers, used in order; a transfer with
 * no answer left fails with -EPIPE (a stall). Bytes beyond the request's
 * length are dropped; fewer bytes make a short answer. */
void kstandin_usb_answer_bytes(struct usb_device *dev, const void *bytes, size_t len);
void kstandin_usb_answer_error(struct usb_device *dev, int negative_errno);
/* The answer given when kstandin_usb_release is called; until then the
 * transfer sleeps, as one waiting for a silent device does. */
void kstandin_usb_answer_blocked(struct usb_device *dev, const void *bytes, size_t len);
/* Waits until a transfer sleeps in a blocked answer; 0, or -1 after ms. */
int kstandin_usb_wait_blocked(struct usb_device *dev, int ms);
void kstandin_usb_release(struct usb_device *dev);

struct kstandin_usb_ctrl_call {
	unsigned int pipe;
	uint8_t request;
	uint8_t requesttype;
	uint16_t value;
	uint16_t index;
	uint16_t size;
	int timeout;
};
/* Control transfers made on the device so far, oldest first; returns the
 * number made and copies up to cap of them. */
size_t kstandin_usb_calls(struct usb_device *dev, struct kstandin_usb_ctrl_call *out, size_t cap);
/* Enumeration as the board's USB core does it: read the hook pointer and,
 * when one is set, ask it about the device; 0 without a hook. */
int kstandin_usb_enumerate(struct usb_device *dev);

/* ---- XHCI root hub restarts ---- */
/* Results of the next restarts, in order; 0 once none is left. */
void kstandin_xhci_script_restart(int result);
/* The next restart sleeps until kstandin_xhci_release. */
void kstandin_xhci_block_next_restart(void);
int kstandin_xhci_wait_blocked(int ms);
void kstandin_xhci_release(void);
/* Restarts asked for so far with their argument; returns the count. */
size_t kstandin_xhci_restarts(int *usb2_only, size_t cap);
/* Forgets calls, scripts and blocks. */
void kstandin_xhci_reset(void);

/* ---- sysctl files, as a process reads and writes /proc/sys ----
 * path is relative to /proc/sys ("dev/usb/force_usb2"). The process's
 * buffer is its user memory for the call; pos is its file position, moved
 * on as read(2) and write(2) do. The result is the byte count or a
 * negative errno: -ENOENT for no such file, -EACCES when its mode forbids. */
long kstandin_sysctl_read(const char *path, char *buf, size_t len, long long *pos);
long kstandin_sysctl_write(const char *path, const char *text, size_t len, long long *pos);
int kstandin_sysctl_exists(const char *path);

#ifdef __cplusplus
}
#endif

#endif
