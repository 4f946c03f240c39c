/*
 * User-space stand-in for the kernel interfaces our kernel modules use on
 * the board: character devices, user copies, semaphores, sleeps, printk,
 * network-device lookup and notifiers, kernel packet sockets.
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

#ifdef __cplusplus
}
#endif

#endif
