// Layer-2 packet sockets (AF_PACKET) for one ethertype.
#include "zmo.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23
#endif

namespace {
constexpr size_t kEthHeader = 14;

int interface_mac(int fd, int ifindex, zmo_mac_addr_t *mac)
{
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    if (!if_indextoname(static_cast<unsigned>(ifindex), ifr.ifr_name))
        return 0;
    if (ioctl(fd, SIOCGIFHWADDR, &ifr) != 0)
        return 0;
    std::memcpy(mac->bytes, ifr.ifr_hwaddr.sa_data, sizeof mac->bytes);
    return 1;
}
}  // namespace

extern "C" {

int zmo_mac_socket_open(int *s, uint16_t ethertype, int *ifindex, zmo_mac_addr_t *own_mac)
{
    if (!s || !ifindex || *ifindex < 0) {
        errno = EINVAL;
        return 0;
    }
    *s = -1;
    // Bound to one interface, the socket takes frames only once bound: opened
    // with the ethertype it would queue frames of every interface meanwhile.
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, *ifindex > 0 ? 0 : htons(ethertype));
    if (fd < 0)
        return 0;
    // Our own frames would otherwise come back to every packet socket here.
    int one = 1;
    setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    if (own_mac)
        zmo_mac_addr_init(own_mac);
    if (*ifindex > 0) {
        struct sockaddr_ll sll;
        std::memset(&sll, 0, sizeof sll);
        sll.sll_family = AF_PACKET;
        sll.sll_protocol = htons(ethertype);
        sll.sll_ifindex = *ifindex;
        if (bind(fd, reinterpret_cast<struct sockaddr *>(&sll), sizeof sll) != 0 ||
            (own_mac && !interface_mac(fd, *ifindex, own_mac))) {
            int err = errno;
            close(fd);
            errno = err;
            return 0;
        }
    }
    *s = fd;
    return 1;
}

ssize_t zmo_mac_socket_send(int s, const void *frame, size_t len, int flags, int ifindex,
                            const zmo_mac_addr_t *destination)
{
    if (!frame || len < kEthHeader || ifindex <= 0) {
        errno = EINVAL;
        return -1;
    }
    const uint8_t *bytes = static_cast<const uint8_t *>(frame);
    struct sockaddr_ll sll;
    std::memset(&sll, 0, sizeof sll);
    sll.sll_family = AF_PACKET;
    std::memcpy(&sll.sll_protocol, bytes + 12, 2);
    sll.sll_ifindex = ifindex;
    sll.sll_halen = 6;
    std::memcpy(sll.sll_addr, destination ? destination->bytes : bytes, 6);
    return sendto(s, frame, len, flags, reinterpret_cast<struct sockaddr *>(&sll), sizeof sll);
}

ssize_t zmo_mac_socket_recv(int s, void *buf, size_t size, int flags, zmo_mac_recv_info_t *info)
{
    struct sockaddr_ll sll;
    socklen_t sll_len = sizeof sll;
    for (;;) {
        ssize_t n = recvfrom(s, buf, size, flags, reinterpret_cast<struct sockaddr *>(&sll), &sll_len);
        if (n < 0)
            return n;
        if (sll.sll_pkttype == PACKET_OUTGOING)
            continue;  // kernels without the ignore option
        if (static_cast<size_t>(n) < kEthHeader) {
            errno = EBADMSG;
            return -1;
        }
        if (info) {
            const uint8_t *bytes = static_cast<const uint8_t *>(buf);
            info->ifindex = sll.sll_ifindex;
            std::memcpy(info->destination.bytes, bytes, 6);
            std::memcpy(info->source.bytes, bytes + 6, 6);
            info->ethertype = static_cast<uint16_t>(bytes[12] << 8 | bytes[13]);
        }
        return n;
    }
}

void zmo_mac_socket_close(int *s)
{
    if (s && *s >= 0) {
        close(*s);
        *s = -1;
    }
}

}  // extern "C"
