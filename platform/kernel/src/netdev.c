/* Network devices: look-up by name (virtual test devices first, then the
 * host's own interfaces) and the netdevice notifier chain. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"
#include "kstandin_internal.h"

#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

struct net init_net;

#define MAX_VDEV 16
#define VDEV_IFINDEX_BASE 100000

struct vdev {
	int used;
	char name[IFNAMSIZ];
	unsigned char mac[ETH_ALEN];
	int up;
	kstandin_xmit_fn xmit;
	void *ctx;
};

static pthread_mutex_t vdev_lock = PTHREAD_MUTEX_INITIALIZER;
static struct vdev vdevs[MAX_VDEV];

static pthread_mutex_t chain_lock = PTHREAD_MUTEX_INITIALIZER;
static struct notifier_block *chain;

static struct vdev *vdev_find(const char *name)
{
	for (int i = 0; i < MAX_VDEV; i++)
		if (vdevs[i].used && strncmp(vdevs[i].name, name, IFNAMSIZ) == 0)
			return &vdevs[i];
	return NULL;
}

int kstandin_vdev_add(const char *name, const unsigned char mac[6], kstandin_xmit_fn xmit, void *ctx)
{
	int rc = -ENOSPC;
	if (!name || strlen(name) >= IFNAMSIZ)
		return -EINVAL;
	pthread_mutex_lock(&vdev_lock);
	if (vdev_find(name)) {
		rc = -EEXIST;
	} else {
		for (int i = 0; i < MAX_VDEV; i++) {
			if (vdevs[i].used)
				continue;
			struct vdev *v = &vdevs[i];
			memset(v, 0, sizeof *v);
			v->used = 1;
			snprintf(v->name, sizeof v->name, "%s", name);
			memcpy(v->mac, mac, ETH_ALEN);
			v->up = 1;
			v->xmit = xmit;
			v->ctx = ctx;
			rc = VDEV_IFINDEX_BASE + i;
			break;
		}
	}
	pthread_mutex_unlock(&vdev_lock);
	return rc;
}

void kstandin_vdev_set_up(const char *name, int up)
{
	pthread_mutex_lock(&vdev_lock);
	struct vdev *v = vdev_find(name);
	if (v)
		v->up = up;
	pthread_mutex_unlock(&vdev_lock);
}

void kstandin_vdev_remove(const char *name)
{
	pthread_mutex_lock(&vdev_lock);
	struct vdev *v = vdev_find(name);
	int found = v != NULL;
	if (v)
		v->used = 0;
	pthread_mutex_unlock(&vdev_lock);
	if (found)
		kstandin_netdev_event(NETDEV_UNREGISTER, name);
}

void kstandin_vdev_remove_all(void)
{
	pthread_mutex_lock(&vdev_lock);
	memset(vdevs, 0, sizeof vdevs);
	pthread_mutex_unlock(&vdev_lock);
}

int kstandin_vdev_is_virtual(int ifindex)
{
	return ifindex >= VDEV_IFINDEX_BASE && ifindex < VDEV_IFINDEX_BASE + MAX_VDEV;
}

void kstandin_vdev_rx(const char *name, const unsigned char *frame, size_t len, int64_t delay_ns)
{
	int ifindex = -1;
	pthread_mutex_lock(&vdev_lock);
	struct vdev *v = vdev_find(name);
	if (v)
		ifindex = VDEV_IFINDEX_BASE + (int)(v - vdevs);
	pthread_mutex_unlock(&vdev_lock);
	if (ifindex >= 0)
		kstandin_sock_deliver(ifindex, frame, len, kstandin_now_ns() + (delay_ns > 0 ? delay_ns : 0));
}

int kstandin_vdev_xmit(int ifindex, const unsigned char *frame, size_t len)
{
	kstandin_xmit_fn xmit = NULL;
	void *ctx = NULL;
	int up = 0;
	if (!kstandin_vdev_is_virtual(ifindex))
		return -ENODEV;
	pthread_mutex_lock(&vdev_lock);
	struct vdev *v = &vdevs[ifindex - VDEV_IFINDEX_BASE];
	if (v->used) {
		xmit = v->xmit;
		ctx = v->ctx;
		up = v->up;
	}
	pthread_mutex_unlock(&vdev_lock);
	if (!xmit && !up)
		return -ENODEV;
	if (!up)
		return -ENETDOWN;
	/* Called unlocked: the far end may answer at once through vdev_rx. */
	if (xmit)
		xmit(ctx, frame, len);
	return 0;
}

static struct net_device *host_dev_get(const char *name)
{
	unsigned int idx = if_nametoindex(name);
	if (!idx)
		return NULL;
	int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return NULL;
	struct ifreq ifr;
	memset(&ifr, 0, sizeof ifr);
	snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", name);
	struct net_device *dev = NULL;
	if (ioctl(fd, SIOCGIFFLAGS, &ifr) == 0) {
		dev = calloc(1, sizeof *dev);
		if (dev) {
			snprintf(dev->name, sizeof dev->name, "%s", name);
			dev->flags = (unsigned short)ifr.ifr_flags;
			dev->ifindex = (int)idx;
			dev->addr_len = ETH_ALEN;
			if (ioctl(fd, SIOCGIFHWADDR, &ifr) == 0)
				memcpy(dev->dev_addr, ifr.ifr_hwaddr.sa_data, ETH_ALEN);
			dev->kstandin_refs = 1;
		}
	}
	close(fd);
	return dev;
}

struct net_device *dev_get_by_name(struct net *net, const char *name)
{
	(void)net;
	if (!name || !name[0])
		return NULL;
	struct net_device *dev = NULL;
	pthread_mutex_lock(&vdev_lock);
	struct vdev *v = vdev_find(name);
	if (v) {
		dev = calloc(1, sizeof *dev);
		if (dev) {
			snprintf(dev->name, sizeof dev->name, "%s", v->name);
			dev->flags = v->up ? IFF_UP : 0;
			dev->ifindex = VDEV_IFINDEX_BASE + (int)(v - vdevs);
			dev->addr_len = ETH_ALEN;
			memcpy(dev->dev_addr, v->mac, ETH_ALEN);
			dev->kstandin_refs = 1;
		}
	}
	pthread_mutex_unlock(&vdev_lock);
	if (v)
		return dev;
	return host_dev_get(name);
}

void dev_put(struct net_device *dev)
{
	if (dev && --dev->kstandin_refs == 0)
		free(dev);
}

int register_netdevice_notifier(struct notifier_block *nb)
{
	pthread_mutex_lock(&chain_lock);
	nb->next = chain;
	chain = nb;
	pthread_mutex_unlock(&chain_lock);
	return 0;
}

int unregister_netdevice_notifier(struct notifier_block *nb)
{
	int rc = -ENOENT;
	pthread_mutex_lock(&chain_lock);
	for (struct notifier_block **pp = &chain; *pp; pp = &(*pp)->next) {
		if (*pp == nb) {
			*pp = nb->next;
			rc = 0;
			break;
		}
	}
	pthread_mutex_unlock(&chain_lock);
	return rc;
}

void kstandin_netdev_event(unsigned long event, const char *name)
{
	struct net_device dev;
	memset(&dev, 0, sizeof dev);
	snprintf(dev.name, sizeof dev.name, "%s", name);
	dev.kstandin_refs = 1;
	pthread_mutex_lock(&chain_lock);
	for (struct notifier_block *nb = chain; nb; nb = nb->next)
		nb->notifier_call(nb, event, &dev);
	pthread_mutex_unlock(&chain_lock);
}
