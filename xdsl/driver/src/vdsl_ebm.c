/*
 * EBM management frames: one 8-byte request in a 24-byte frame reads or
 * writes one chip word. Exchanges run on a socket opened for the exchange
 * or on the persistent socket of the management interface.
 */
#include "vdsl_priv.h"

char ebm_mgt_ethif[16];

/* Sequence counters, one per value of the frame's two port bits. */
static u8 ebm_seq[4];

static const u8 chip_mgmt_mac[ETH_ALEN] = EBM_CHIP_MGMT_MAC;

/* The persistent socket on the management interface. */
static struct {
	struct socket *sock;
	struct net_device *dev;
	struct sockaddr_ll addr;
	int shutdown;
} sv_sk;

#define EBM_RX_SIZE 256
#define EBM_SENDS 3
#define EBM_RECEIVES 3

void ebm_reset_sequence(void)
{
	memset(ebm_seq, 0, sizeof(ebm_seq));
}

/* PPP frame check sequence (RFC 1662). */
u16 ebm_fcs16(const u8 *data, int len)
{
	u16 fcs = 0xFFFF;
	int i, bit;

	for (i = 0; i < len; i++) {
		fcs ^= data[i];
		for (bit = 0; bit < 8; bit++)
			fcs = (fcs & 1) ? (fcs >> 1) ^ 0x8408 : fcs >> 1;
	}
	return (u16)~fcs;
}

static void ebm_build_request(u8 *req, int port, int write, int mem, u32 addr, const u8 *word)
{
	u8 p = port & 3;
	u16 fcs;

	ebm_seq[p] = (ebm_seq[p] + 1) & EBM_REQ_SEQ_MASK;
	req[0] = p << EBM_REQ_PORT_SHIFT | (write ? EBM_REQ_WRITE : 0) | (mem & 3) << EBM_REQ_MEM_SHIFT | ebm_seq[p];
	req[1] = (addr >> 8) & 0xFF;
	req[2] = addr & 0xFF;
	if (write) {
		req[3] = word[0];
		req[4] = word[1];
		req[5] = word[2];
	} else {
		req[3] = req[4] = req[5] = 0;
	}
	fcs = ebm_fcs16(req, 6);
	req[6] = fcs & 0xFF;
	req[7] = fcs >> 8;
}

/*
 * A reply answers this request only when it carries the request's sequence
 * bits and address and a sound FCS. Anything else (a late reply to an
 * earlier request, a duplicate, a damaged frame) is dropped. The sender
 * is not checked: the chip may answer from any address on the link.
 */
static int ebm_reply_matches(const u8 *rx, int len, const u8 *req)
{
	const u8 *a = rx + EBM_REQUEST_OFFSET;

	if (len < EBM_FRAME_LEN)
		return 0;
	if (rx[12] != (EBM_ETHERTYPE >> 8) || rx[13] != (EBM_ETHERTYPE & 0xFF))
		return 0;
	if ((a[0] & EBM_REQ_SEQ_MASK) != (req[0] & EBM_REQ_SEQ_MASK) || a[1] != req[1] || a[2] != req[2])
		return 0;
	return ebm_fcs16(a, 6) == (u16)(a[6] | a[7] << 8);
}

/*
 * Up to three sends, each followed by up to three receives whose time-out
 * grows by 10 ms with every time-out of the exchange: 10, 20 ... 90 ms,
 * about 450 ms in all without an answer.
 */
static int ebm_exchange(struct socket *sock, struct sockaddr_ll *to, const u8 *src_mac, const u8 *req, u8 *reply)
{
	u8 *frame, *rx;
	int k = 1, sends, tries, rc = -EAGAIN;

	frame = kzalloc(EBM_FRAME_LEN, GFP_KERNEL);
	if (!frame) {
		printk("can't allocate memory for vdslpkt\n");
		return -ENOMEM;
	}
	rx = kzalloc(EBM_RX_SIZE, GFP_KERNEL);
	if (!rx) {
		printk("can't allocate memory for rx buffer\n");
		kfree(frame);
		return -ENOMEM;
	}

	memcpy(frame, chip_mgmt_mac, ETH_ALEN);
	memcpy(frame + 6, src_mac, ETH_ALEN);
	frame[12] = EBM_ETHERTYPE >> 8;
	frame[13] = EBM_ETHERTYPE & 0xFF;
	frame[14] = 0x00;
	frame[15] = 0x07;
	memcpy(frame + EBM_REQUEST_OFFSET, req, EBM_REQUEST_LEN);

	for (sends = 0; sends < EBM_SENDS; sends++) {
		struct msghdr msg;
		struct kvec vec = { frame, EBM_FRAME_LEN };

		memset(&msg, 0, sizeof(msg));
		msg.msg_name = to;
		msg.msg_namelen = sizeof(*to);
		rc = kernel_sendmsg(sock, &msg, &vec, 1, EBM_FRAME_LEN);
		if (rc < 0) {
			printk(KERN_ERR "xDSL: sock_sendmsg error: %d\n", rc);
			goto out;
		}
		for (tries = 0; tries < EBM_RECEIVES; tries++) {
			unsigned long until = jiffies + msecs_to_jiffies(k * 10);

			/* Frames that answer something else do not end the wait. */
			for (;;) {
				long left = (long)(until - jiffies);
				struct kvec rv = { rx, EBM_RX_SIZE };

				if (left <= 0) {
					rc = -EAGAIN;
					break;
				}
				memset(&msg, 0, sizeof(msg));
				memset(rx, 0, EBM_RX_SIZE);
				sock->sk->sk_rcvtimeo = left;
				rc = kernel_recvmsg(sock, &msg, &rv, 1, EBM_RX_SIZE, 0);
				if (rc <= 0)
					break;
				if (ebm_reply_matches(rx, rc, req)) {
					memcpy(reply, rx + EBM_REQUEST_OFFSET, EBM_REQUEST_LEN);
					rc = 0;
					goto out;
				}
				PRINTL(PL_ERR, "EBM reply dropped: %02x %02x %02x for %02x %02x %02x\n",
				       rx[16], rx[17], rx[18], req[0], req[1], req[2]);
			}
			if (rc == -EAGAIN)
				k++;
		}
	}
	/* An empty frame is no answer either. */
	if (rc >= 0)
		rc = -EAGAIN;
out:
	kfree(rx);
	kfree(frame);
	return rc;
}

static void ebm_bind_addr(struct sockaddr_ll *addr, int ifindex)
{
	memset(addr, 0, sizeof(*addr));
	addr->sll_family = AF_PACKET;
	addr->sll_protocol = htons(EBM_ETHERTYPE);
	addr->sll_ifindex = ifindex;
}

/* One exchange on a socket of its own. */
static int rw_ebm_packet(const u8 *req, u8 *reply)
{
	struct net_device *dev;
	struct socket *sock = NULL;
	struct sockaddr_ll addr;
	int rc;

	dev = dev_get_by_name(&init_net, ebm_mgt_ethif);
	if (!dev)
		return -ENXIO;
	if (!(dev->flags & IFF_UP)) {
		printk("Device %s is down\n", ebm_mgt_ethif);
		rc = -ENXIO;
		goto out;
	}
	rc = sock_create_kern(PF_PACKET, SOCK_RAW, htons(EBM_ETHERTYPE), &sock);
	if (rc < 0) {
		printk("Could not create a AF_PACKET SOCK_PACKET socket\n");
		sock = NULL;
		goto out;
	}
	ebm_bind_addr(&addr, dev->ifindex);
	rc = kernel_bind(sock, (struct sockaddr *)&addr, sizeof(addr));
	if (rc < 0) {
		printk("the return value for bind = %d\n", rc);
		goto out;
	}
	rc = ebm_exchange(sock, &addr, dev->dev_addr, req, reply);
out:
	if (sock)
		sock_release(sock);
	dev_put(dev);
	return rc;
}

/* One exchange on the persistent socket. */
static int rw_ebm_packet_sk(const u8 *req, u8 *reply)
{
	if (!sv_sk.sock)
		return VDSL_ERR_NO_SOCKET;
	return ebm_exchange(sv_sk.sock, &sv_sk.addr, sv_sk.dev->dev_addr, req, reply);
}

static int dsp_get(int port, u32 addr, int mem, u8 *word, int (*xchg)(const u8 *, u8 *))
{
	u8 req[EBM_REQUEST_LEN], reply[EBM_REQUEST_LEN];
	int rc;

	ebm_build_request(req, port, 0, mem, addr, NULL);
	rc = xchg(req, reply);
	if (rc) {
		PRINTL(PL_ERR, "EBM packet read failed\n");
		return rc;
	}
	memcpy(word, reply + 3, 3);
	return 0;
}

static int dsp_set(int port, u32 addr, int mem, const u8 *word, int (*xchg)(const u8 *, u8 *))
{
	u8 req[EBM_REQUEST_LEN], reply[EBM_REQUEST_LEN];

	ebm_build_request(req, port, 1, mem, addr, word);
	return xchg(req, reply);
}

int new_dsp_get(int port, u32 addr, int mem, u8 *word)
{
	return dsp_get(port, addr, mem, word, rw_ebm_packet);
}

int new_dsp_set(int port, u32 addr, int mem, const u8 *word)
{
	return dsp_set(port, addr, mem, word, rw_ebm_packet);
}

int new_dsp_get_sk(int port, u32 addr, int mem, u8 *word)
{
	return dsp_get(port, addr, mem, word, rw_ebm_packet_sk);
}

int new_dsp_set_sk(int port, u32 addr, int mem, const u8 *word)
{
	return dsp_set(port, addr, mem, word, rw_ebm_packet_sk);
}

int sv_sk_open(void)
{
	struct net_device *dev;
	struct socket *sock;

	if (sv_sk.shutdown || !ebm_mgt_ethif[0])
		return -1;
	dev = dev_get_by_name(&init_net, ebm_mgt_ethif);
	if (!dev)
		return -1;
	if (!(dev->flags & IFF_UP)) {
		printk("Device %s is down\n", ebm_mgt_ethif);
		dev_put(dev);
		return -1;
	}
	if (sock_create_kern(PF_PACKET, SOCK_RAW, htons(EBM_ETHERTYPE), &sock) < 0) {
		printk("Could not create a AF_PACKET SOCK_PACKET socket\n");
		dev_put(dev);
		return -1;
	}
	ebm_bind_addr(&sv_sk.addr, dev->ifindex);
	if (kernel_bind(sock, (struct sockaddr *)&sv_sk.addr, sizeof(sv_sk.addr)) < 0) {
		sock_release(sock);
		dev_put(dev);
		return -1;
	}
	sv_sk.sock = sock;
	sv_sk.dev = dev;
	return 0;
}

void sv_sk_close(void)
{
	if (sv_sk.sock) {
		sock_release(sv_sk.sock);
		sv_sk.sock = NULL;
	}
	if (sv_sk.dev) {
		dev_put(sv_sk.dev);
		sv_sk.dev = NULL;
	}
}

void sv_sk_set_shutdown(int on)
{
	sv_sk.shutdown = on;
}

/* The management interface went away: close its socket and forget it,
 * never under a running request. */
static int vdsl_netdev_event(struct notifier_block *nb, unsigned long event, void *ptr)
{
	struct net_device *dev = ptr;

	(void)nb;
	if (event != NETDEV_UNREGISTER || !ebm_mgt_ethif[0] || strncmp(ebm_mgt_ethif, dev->name, 16) != 0)
		return NOTIFY_DONE;
	down(&vdsl_req_sem);
	if (strncmp(ebm_mgt_ethif, dev->name, 16) == 0) {
		sv_sk_close();
		memset(ebm_mgt_ethif, 0, sizeof(ebm_mgt_ethif));
	}
	up(&vdsl_req_sem);
	return NOTIFY_DONE;
}

static struct notifier_block vdsl_netdev_nb = {
	.notifier_call = vdsl_netdev_event,
};

int vdsl_netdev_register(void)
{
	return register_netdevice_notifier(&vdsl_netdev_nb);
}

void vdsl_netdev_unregister(void)
{
	unregister_netdevice_notifier(&vdsl_netdev_nb);
}
