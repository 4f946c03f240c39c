/*
 * User-space stand-in for the kernel interfaces our kernel modules use on
 * the board: character devices, user copies, semaphores, mutexes, wait
 * queues, sleeps, printk, network-device lookup and notifiers, kernel packet
 * sockets, sysctl tables, the USB core calls and the two symbols the board
 * kernel adds to its USB core and XHCI driver.
 *
 * Only what the modules call is here, with the board kernel's names and
 * results (negative errno codes), so the module sources build unchanged.
 * Time runs on an injectable clock (see host.h) so tests of time-outs
 * take no wall time.
 */
#ifndef KSTANDIN_KERNEL_H
#define KSTANDIN_KERNEL_H

#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <endian.h>
#include <sys/types.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- basic types ---- */
typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef int32_t s32;
typedef uint64_t u64;
typedef uint16_t __le16;
#define le16_to_cpu(x) ((u16)le16toh(x))
#define cpu_to_le16(x) ((__le16)htole16(x))

static inline unsigned long simple_strtoul(const char *cp, char **endp, unsigned int base)
{
	return strtoul(cp, endp, (int)base);
}

/* ---- module boilerplate ---- */
#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))
#define __user
#define __init
#define __exit
#define EXPORT_SYMBOL(sym)
#define MODULE_LICENSE(x)
#define MODULE_AUTHOR(x)
#define MODULE_DESCRIPTION(x)
#define MODULE_SOFTDEP(x)
struct module;
#define THIS_MODULE ((struct module *)0)

/* One module per process: the host calls these two. */
int kstandin_module_init(void);
void kstandin_module_exit(void);
#define module_init(fn) \
	int kstandin_module_init(void) { return fn(); }
#define module_exit(fn) \
	void kstandin_module_exit(void) { fn(); }

#define ERESTARTSYS 512

/* ---- kernel log ---- */
#define KERN_ERR "<3>"
#define KERN_WARNING "<4>"
#define KERN_INFO "<6>"
#define KERN_DEBUG "<7>"
int printk(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* ---- memory ---- */
typedef unsigned int gfp_t;
#define GFP_KERNEL 0u
#define GFP_ATOMIC 1u
void *kmalloc(size_t size, gfp_t flags);
void *kzalloc(size_t size, gfp_t flags);
void kfree(const void *p);

/* ---- user memory: fails outside the caller's block ---- */
unsigned long copy_from_user(void *to, const void __user *from, unsigned long n);
unsigned long copy_to_user(void __user *to, const void *from, unsigned long n);
/* Length of a user string with its zero byte; 0 on a fault; > n when it
 * has no zero byte within n bytes. */
long strnlen_user(const char __user *s, long n);

/* ---- tasks ---- */
struct task_struct;
struct task_struct *kstandin_current(void);
#ifndef __cplusplus /* C++ tests call kstandin_current() */
#define current kstandin_current()
#endif
int signal_pending(struct task_struct *t);
/* SIGKILL is pending: only killable waits end for it. */
int fatal_signal_pending(struct task_struct *t);
static inline int in_interrupt(void) { return 0; }

/* ---- semaphores ---- */
struct semaphore {
	pthread_mutex_t lock;
	pthread_cond_t cond;
	int count;
};
void sema_init(struct semaphore *sem, int val);
void down(struct semaphore *sem);
int down_interruptible(struct semaphore *sem);
int down_trylock(struct semaphore *sem);
void up(struct semaphore *sem);

/* ---- mutexes ---- */
struct mutex {
	pthread_mutex_t lock;
	pthread_cond_t cond;
	int held;
};
#define DEFINE_MUTEX(name) \
	struct mutex name = { PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0 }
void mutex_init(struct mutex *m);
void mutex_lock(struct mutex *m);
/* -EINTR when a fatal signal comes for the waiting task. */
int mutex_lock_killable(struct mutex *m);
void mutex_unlock(struct mutex *m);
int mutex_is_locked(struct mutex *m);

/* ---- wait queues ---- */
typedef struct {
	pthread_mutex_t lock;
	pthread_cond_t cond;
} wait_queue_head_t;
#define DECLARE_WAIT_QUEUE_HEAD(name) \
	wait_queue_head_t name = { PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER }
void init_waitqueue_head(wait_queue_head_t *q);
/* One short sleep on the queue; a wake_up or a time slice ends it. */
void kstandin_wait_queue_sleep(wait_queue_head_t *q);
#define wait_event(wq, condition) \
	do { \
		while (!(condition)) \
			kstandin_wait_queue_sleep(&(wq)); \
	} while (0)
void wake_up(wait_queue_head_t *q);

/* ---- atomics and barriers ---- */
typedef struct {
	int counter;
} atomic_t;
#define ATOMIC_INIT(i) { (i) }
static inline int atomic_read(const atomic_t *v) { return __atomic_load_n(&v->counter, __ATOMIC_SEQ_CST); }
static inline void atomic_set(atomic_t *v, int i) { __atomic_store_n(&v->counter, i, __ATOMIC_SEQ_CST); }
static inline void atomic_inc(atomic_t *v) { __atomic_fetch_add(&v->counter, 1, __ATOMIC_SEQ_CST); }
static inline void atomic_dec(atomic_t *v) { __atomic_fetch_sub(&v->counter, 1, __ATOMIC_SEQ_CST); }
static inline int atomic_dec_and_test(atomic_t *v) { return __atomic_sub_fetch(&v->counter, 1, __ATOMIC_SEQ_CST) == 0; }
#define smp_mb() __atomic_thread_fence(__ATOMIC_SEQ_CST)
/* Waits for readers under rcu_read_lock in the network stack; nothing here
 * reads under it, so there is nothing to wait for. */
void synchronize_net(void);

/* ---- atomic bit operations ---- */
static inline int test_and_set_bit(int nr, volatile unsigned long *addr)
{
	unsigned long mask = 1UL << (nr % (8 * sizeof(long)));
	unsigned long old = __atomic_fetch_or(addr + nr / (8 * sizeof(long)), mask, __ATOMIC_ACQ_REL);
	return (old & mask) != 0;
}
static inline void clear_bit(int nr, volatile unsigned long *addr)
{
	unsigned long mask = 1UL << (nr % (8 * sizeof(long)));
	__atomic_fetch_and(addr + nr / (8 * sizeof(long)), ~mask, __ATOMIC_RELEASE);
}
static inline int test_bit(int nr, const volatile unsigned long *addr)
{
	return (__atomic_load_n(addr + nr / (8 * sizeof(long)), __ATOMIC_ACQUIRE) >> (nr % (8 * sizeof(long)))) & 1;
}

/* ---- time ---- */
#define HZ 100
unsigned long kstandin_jiffies(void);
#ifndef __cplusplus
#define jiffies kstandin_jiffies()
#endif
#define MAX_SCHEDULE_TIMEOUT 0x7fffffffL
static inline unsigned long msecs_to_jiffies(unsigned int ms) { return (ms * HZ + 999) / 1000; }
void msleep(unsigned int ms);
void udelay(unsigned long us);
void mdelay(unsigned long ms);
void do_gettimeofday(struct timeval *tv);
void time_to_tm(time_t totalsecs, int offset, struct tm *result);

/* ---- character devices ---- */
struct file {
	void *private_data;
};
struct file_operations {
	struct module *owner;
	long (*unlocked_ioctl)(struct file *, unsigned int, unsigned long);
};
int register_chrdev(unsigned int major, const char *name, const struct file_operations *fops);
void unregister_chrdev(unsigned int major, const char *name);

/* ---- network devices ---- */
struct net {
	int unused;
};
extern struct net init_net;
struct net_device {
	char name[IFNAMSIZ];
	unsigned int flags;
	int ifindex;
	unsigned char addr_len;
	unsigned char dev_addr[ETH_ALEN];
	int kstandin_refs; /* held references, stand-in bookkeeping */
};
struct net_device *dev_get_by_name(struct net *net, const char *name);
void dev_put(struct net_device *dev);

#define NETDEV_UP 0x0001
#define NETDEV_DOWN 0x0002
#define NETDEV_CHANGE 0x0004
#define NETDEV_REGISTER 0x0005
#define NETDEV_UNREGISTER 0x0006
#define NOTIFY_DONE 0x0000
struct notifier_block {
	int (*notifier_call)(struct notifier_block *, unsigned long, void *);
	struct notifier_block *next;
	int priority;
};
int register_netdevice_notifier(struct notifier_block *nb);
int unregister_netdevice_notifier(struct notifier_block *nb);

/* ---- kernel sockets ---- */
struct sock {
	long sk_rcvtimeo; /* jiffies; 0 or MAX_SCHEDULE_TIMEOUT waits for ever */
};
struct kstandin_sock_impl;
struct socket {
	struct sock *sk;
	struct kstandin_sock_impl *impl;
};
struct kvec {
	void *iov_base;
	size_t iov_len;
};
int sock_create_kern(int family, int type, int protocol, struct socket **res);
int kernel_bind(struct socket *sock, struct sockaddr *addr, int addrlen);
int kernel_sendmsg(struct socket *sock, struct msghdr *msg, struct kvec *vec, size_t num, size_t len);
int kernel_recvmsg(struct socket *sock, struct msghdr *msg, struct kvec *vec, size_t num, size_t len, int flags);
void sock_release(struct socket *sock);

/* ---- sysctl tables ---- */
struct ctl_table;
typedef int proc_handler(struct ctl_table *table, int write, void __user *buffer, size_t *lenp, loff_t *ppos);
struct ctl_table {
	const char *procname;
	void *data;
	int maxlen;
	unsigned short mode;
	struct ctl_table *child;
	proc_handler *proc_handler;
	void *poll;
	void *extra1;
	void *extra2;
};
struct ctl_path {
	const char *procname;
};
struct ctl_table_header;
/* The path and the table end with an entry without a name; null when the
 * entry exists already or no memory is left. */
struct ctl_table_header *register_sysctl_paths(const struct ctl_path *path, struct ctl_table *table);
void unregister_sysctl_table(struct ctl_table_header *header);
/* Integers as text through the user copies: a read gives the values and a
 * newline from position 0 on, nothing after; a write reads whitespace-
 * separated numbers, -EINVAL when one is missing or outside extra1..extra2. */
int proc_dointvec_minmax(struct ctl_table *table, int write, void __user *buffer, size_t *lenp, loff_t *ppos);
int proc_dointvec(struct ctl_table *table, int write, void __user *buffer, size_t *lenp, loff_t *ppos);

/* ---- USB core ---- */
#define USB_DIR_OUT 0x00
#define USB_DIR_IN 0x80
#define USB_TYPE_STANDARD (0x00 << 5)
#define USB_TYPE_CLASS (0x01 << 5)
#define USB_TYPE_VENDOR (0x02 << 5)
#define USB_RECIP_DEVICE 0x00
#define USB_RECIP_INTERFACE 0x01
#define USB_CTRL_GET_TIMEOUT 5000
#define USB_CTRL_SET_TIMEOUT 5000

struct usb_device_descriptor {
	u8 bLength;
	u8 bDescriptorType;
	__le16 bcdUSB;
	u8 bDeviceClass;
	u8 bDeviceSubClass;
	u8 bDeviceProtocol;
	u8 bMaxPacketSize0;
	__le16 idVendor;
	__le16 idProduct;
	__le16 bcdDevice;
	u8 iManufacturer;
	u8 iProduct;
	u8 iSerialNumber;
	u8 bNumConfigurations;
} __attribute__((packed));

struct kstandin_usb_impl;
struct usb_device {
	int devnum;
	struct usb_device_descriptor descriptor;
	char *product;
	char *manufacturer;
	char *serial;
	struct kstandin_usb_impl *kstandin; /* strings and scripted answers */
};

/* Pipes as the USB core encodes them: type in bits 30-31, device number in
 * 8-14, endpoint in 15-18, direction in bit 7. */
#define PIPE_ISOCHRONOUS 0u
#define PIPE_INTERRUPT 1u
#define PIPE_CONTROL 2u
#define PIPE_BULK 3u
static inline unsigned int kstandin_usb_pipe(const struct usb_device *dev, unsigned int endpoint)
{
	return ((unsigned int)dev->devnum << 8) | (endpoint << 15);
}
#define usb_sndctrlpipe(dev, ep) ((PIPE_CONTROL << 30u) | kstandin_usb_pipe(dev, ep))
#define usb_rcvctrlpipe(dev, ep) ((PIPE_CONTROL << 30u) | kstandin_usb_pipe(dev, ep) | USB_DIR_IN)
#define usb_pipein(pipe) ((pipe) & USB_DIR_IN)
#define usb_pipetype(pipe) (((pipe) >> 30) & 3)
#define usb_pipeendpoint(pipe) (((pipe) >> 15) & 0xf)
#define usb_pipedevice(pipe) (((pipe) >> 8) & 0x7f)

/* The string descriptor at index as text, in a block from kmalloc that the
 * caller frees; null when the device has none or no memory is left. */
char *usb_cache_string(struct usb_device *udev, int index);
/* Bytes transferred, or a negative error; sleeps up to timeout ms. */
int usb_control_msg(struct usb_device *dev, unsigned int pipe, u8 request, u8 requesttype, u16 value, u16 index,
		    void *data, u16 size, int timeout);

/* Added by the board kernel to its USB core: asked during enumeration
 * whether the new device has Microsoft OS descriptors. */
extern int (*usb_get_os_str_desc_hook)(struct usb_device *udev);
/* Added by the board kernel to its XHCI driver: restarts the root hub,
 * in USB 2.0 mode when usb2_only is set. */
int xhci_hub_restart(int usb2_only);

#ifdef __cplusplus
}
#endif

#endif
