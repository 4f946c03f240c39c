/* Kernel packet sockets. Bound to a host interface they are AF_PACKET
 * sockets; bound to a virtual test device they read from an in-memory
 * queue whose frames become visible at their delivery time, so receive
 * time-outs follow the (possibly fake) clock. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"
#include "kstandin_internal.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

struct rx_frame {
	struct rx_frame *next;
	int64_t at_ns;
	size_t len;
	unsigned char data[];
};

struct kstandin_sock_impl {
	struct socket sock;
	struct sock sk;
	int protocol; /* network byte order, as given */
	int fd;       /* host socket once bound to a host interface */
	int ifindex;  /* virtual device bound to, 0 when none */
	int host_ifindex; /* host interface whose descriptor may be parked */
	struct rx_frame *queue;
	pthread_cond_t cond;
	struct kstandin_sock_impl *next_bound;
};

static pthread_mutex_t sock_lock = PTHREAD_MUTEX_INITIALIZER;
static struct kstandin_sock_impl *bound_list;

/*
 * Closing a host packet socket waits for the host kernel's RCU grace period
 * (tens of milliseconds), which a kernel socket released by a module does
 * not cost the module. A released socket's descriptor is therefore parked
 * and handed to the next socket bound the same way, emptied first so that
 * it sees only frames that arrive after its bind, as a new socket would.
 */
struct parked_fd {
	int fd;
	int ifindex;
	int protocol;
};
#define PARKED_MAX 4
static struct parked_fd parked[PARKED_MAX];
static int parked_count;

static int take_parked(int ifindex, int protocol)
{
	int fd = -1;
	pthread_mutex_lock(&sock_lock);
	for (int i = 0; i < parked_count; i++) {
		if (parked[i].ifindex == ifindex && parked[i].protocol == protocol) {
			fd = parked[i].fd;
			parked[i] = parked[--parked_count];
			break;
		}
	}
	pthread_mutex_unlock(&sock_lock);
	if (fd >= 0) {
		unsigned char frame[ETH_FRAME_LEN + 64];
		while (recv(fd, frame, sizeof frame, MSG_DONTWAIT) >= 0)
			;
	}
	return fd;
}

static void park_or_close(int fd, int ifindex, int protocol)
{
	pthread_mutex_lock(&sock_lock);
	if (parked_count < PARKED_MAX && ifindex > 0) {
		parked[parked_count].fd = fd;
		parked[parked_count].ifindex = ifindex;
		parked[parked_count].protocol = protocol;
		parked_count++;
		fd = -1;
	}
	pthread_mutex_unlock(&sock_lock);
	if (fd >= 0)
		close(fd);
}

int sock_create_kern(int family, int type, int protocol, struct socket **res)
{
	*res = NULL;
	if (family != PF_PACKET)
		return -EAFNOSUPPORT;
	if (type != SOCK_RAW && type != SOCK_DGRAM)
		return -ESOCKTNOSUPPORT;
	struct kstandin_sock_impl *s = calloc(1, sizeof *s);
	if (!s)
		return -ENOMEM;
	s->protocol = protocol;
	s->fd = -1;
	pthread_condattr_t attr;
	pthread_condattr_init(&attr);
	pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
	pthread_cond_init(&s->cond, &attr);
	pthread_condattr_destroy(&attr);
	s->sock.sk = &s->sk;
	s->sock.impl = s;
	*res = &s->sock;
	return 0;
}

int kernel_bind(struct socket *sock, struct sockaddr *addr, int addrlen)
{
	struct kstandin_sock_impl *s = sock->impl;
	if (addrlen < (int)sizeof(struct sockaddr_ll) || addr->sa_family != AF_PACKET)
		return -EINVAL;
	const struct sockaddr_ll *ll = (const struct sockaddr_ll *)addr;
	if (s->fd >= 0 || s->ifindex)
		return -EINVAL;
	if (kstandin_vdev_is_virtual(ll->sll_ifindex)) {
		pthread_mutex_lock(&sock_lock);
		s->ifindex = ll->sll_ifindex;
		if (ll->sll_protocol)
			s->protocol = ll->sll_protocol;
		s->next_bound = bound_list;
		bound_list = s;
		pthread_mutex_unlock(&sock_lock);
		return 0;
	}
	/* A parked descriptor serves only while its interface still exists. */
	char name[IF_NAMESIZE];
	int fd = if_indextoname((unsigned)ll->sll_ifindex, name) ? take_parked(ll->sll_ifindex, s->protocol) : -1;
	if (fd >= 0) {
		s->fd = fd;
		s->host_ifindex = ll->sll_ifindex;
		return 0;
	}
	fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, s->protocol);
	if (fd < 0)
		return -errno;
	if (bind(fd, addr, (socklen_t)addrlen) != 0) {
		int e = errno;
		close(fd);
		return -e;
	}
	s->fd = fd;
	/* Only descriptors bound with the socket's own protocol are reused. */
	if (!ll->sll_protocol || ll->sll_protocol == s->protocol)
		s->host_ifindex = ll->sll_ifindex;
	return 0;
}

static size_t gather(unsigned char *out, size_t cap, const struct kvec *vec, size_t num)
{
	size_t n = 0;
	for (size_t i = 0; i < num && n < cap; i++) {
		size_t c = vec[i].iov_len < cap - n ? vec[i].iov_len : cap - n;
		memcpy(out + n, vec[i].iov_base, c);
		n += c;
	}
	return n;
}

static void scatter(struct kvec *vec, size_t num, const unsigned char *in, size_t len)
{
	for (size_t i = 0; i < num && len; i++) {
		size_t c = vec[i].iov_len < len ? vec[i].iov_len : len;
		memcpy(vec[i].iov_base, in, c);
		in += c;
		len -= c;
	}
}

int kernel_sendmsg(struct socket *sock, struct msghdr *msg, struct kvec *vec, size_t num, size_t len)
{
	struct kstandin_sock_impl *s = sock->impl;
	unsigned char frame[ETH_FRAME_LEN + 64];
	if (len > sizeof frame)
		return -EMSGSIZE;
	size_t n = gather(frame, len, vec, num);
	if (s->ifindex) {
		int rc = kstandin_vdev_xmit(s->ifindex, frame, n);
		return rc < 0 ? rc : (int)n;
	}
	if (s->fd < 0)
		return -ENOTCONN;
	ssize_t w = sendto(s->fd, frame, n, MSG_NOSIGNAL, (const struct sockaddr *)msg->msg_name, msg->msg_namelen);
	return w < 0 ? -errno : (int)w;
}

/* Receive time-out in ns, or -1 for none. */
static int64_t rcv_timeout_ns(const struct socket *sock)
{
	long t = sock->sk->sk_rcvtimeo;
	if (t <= 0 || t >= MAX_SCHEDULE_TIMEOUT)
		return -1;
	return (int64_t)t * (1000000000 / HZ);
}

static int recv_virtual(struct kstandin_sock_impl *s, struct kvec *vec, size_t num, size_t len)
{
	int64_t timeout = rcv_timeout_ns(&s->sock);
	int64_t deadline = timeout < 0 ? INT64_MAX : kstandin_now_ns() + timeout;
	struct rx_frame *f = NULL;
	pthread_mutex_lock(&sock_lock);
	for (;;) {
		int64_t now = kstandin_now_ns();
		struct rx_frame *head = s->queue;
		if (head && head->at_ns <= now) {
			f = head;
			break;
		}
		if (kstandin_clock_is_fake()) {
			/* Jump to whichever comes first: the next frame or the time-out. */
			if (head && head->at_ns <= deadline) {
				kstandin_advance_to(head->at_ns);
				continue;
			}
			if (timeout >= 0) {
				kstandin_advance_to(deadline);
				break;
			}
		} else if (now >= deadline) {
			break;
		}
		int64_t until = deadline;
		if (head && head->at_ns < until)
			until = head->at_ns;
		if (kstandin_clock_is_fake() || until == INT64_MAX) {
			struct timespec ts;
			clock_gettime(CLOCK_MONOTONIC, &ts);
			ts.tv_nsec += 10 * 1000 * 1000;
			if (ts.tv_nsec >= 1000000000) {
				ts.tv_sec++;
				ts.tv_nsec -= 1000000000;
			}
			pthread_cond_timedwait(&s->cond, &sock_lock, &ts);
		} else {
			struct timespec ts = { (time_t)(until / 1000000000), (long)(until % 1000000000) };
			pthread_cond_timedwait(&s->cond, &sock_lock, &ts);
		}
	}
	if (f)
		s->queue = f->next;
	pthread_mutex_unlock(&sock_lock);
	if (!f)
		return -EAGAIN;
	size_t n = f->len < len ? f->len : len;
	scatter(vec, num, f->data, n);
	free(f);
	return (int)n;
}

int kernel_recvmsg(struct socket *sock, struct msghdr *msg, struct kvec *vec, size_t num, size_t len, int flags)
{
	(void)msg;
	(void)flags;
	struct kstandin_sock_impl *s = sock->impl;
	if (s->ifindex)
		return recv_virtual(s, vec, num, len);
	if (s->fd < 0)
		return -ENOTCONN;
	int64_t timeout = rcv_timeout_ns(sock);
	struct pollfd p = { s->fd, POLLIN, 0 };
	int ms = timeout < 0 ? -1 : (int)((timeout + 999999) / 1000000);
	int r;
	while ((r = poll(&p, 1, ms)) < 0 && errno == EINTR)
		;
	if (r < 0)
		return -errno;
	if (r == 0)
		return -EAGAIN;
	unsigned char frame[ETH_FRAME_LEN + 64];
	ssize_t n = recv(s->fd, frame, sizeof frame, MSG_DONTWAIT);
	if (n < 0)
		return -errno;
	size_t c = (size_t)n < len ? (size_t)n : len;
	scatter(vec, num, frame, c);
	return (int)c;
}

void sock_release(struct socket *sock)
{
	if (!sock)
		return;
	struct kstandin_sock_impl *s = sock->impl;
	pthread_mutex_lock(&sock_lock);
	for (struct kstandin_sock_impl **pp = &bound_list; *pp; pp = &(*pp)->next_bound) {
		if (*pp == s) {
			*pp = s->next_bound;
			break;
		}
	}
	pthread_mutex_unlock(&sock_lock);
	while (s->queue) {
		struct rx_frame *f = s->queue;
		s->queue = f->next;
		free(f);
	}
	if (s->fd >= 0 && s->host_ifindex)
		park_or_close(s->fd, s->host_ifindex, s->protocol);
	else if (s->fd >= 0)
		close(s->fd);
	pthread_cond_destroy(&s->cond);
	free(s);
}

void kstandin_sock_deliver(int ifindex, const unsigned char *frame, size_t len, int64_t at_ns)
{
	uint16_t ethertype = len >= 14 ? (uint16_t)(frame[12] << 8 | frame[13]) : 0;
	pthread_mutex_lock(&sock_lock);
	for (struct kstandin_sock_impl *s = bound_list; s; s = s->next_bound) {
		if (s->ifindex != ifindex)
			continue;
		int proto = ntohs((uint16_t)s->protocol);
		if (proto != ETH_P_ALL && proto != ethertype)
			continue;
		struct rx_frame *f = malloc(sizeof *f + len);
		if (!f)
			continue;
		f->at_ns = at_ns;
		f->len = len;
		memcpy(f->data, frame, len);
		/* Keep the queue in delivery order; equal times stay in send order. */
		struct rx_frame **pp = &s->queue;
		while (*pp && (*pp)->at_ns <= at_ns)
			pp = &(*pp)->next;
		f->next = *pp;
		*pp = f;
		pthread_cond_broadcast(&s->cond);
	}
	pthread_mutex_unlock(&sock_lock);
}
