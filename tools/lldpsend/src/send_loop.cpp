#include "send_loop.h"

#include "packet_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lldp {

namespace {
constexpr int kAttempts = 6;
constexpr unsigned kRetryMicroseconds = 100;
constexpr int64_t kPeriodMs = 60000;

struct sockaddr_ll link_address(const SendSettings &s)
{
    struct sockaddr_ll sll;
    std::memset(&sll, 0, sizeof sll);
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(kEthertype);
    sll.sll_ifindex = s.announce.ifindex;
    sll.sll_halen = 6;
    std::memcpy(sll.sll_addr, s.announce.chassis.bytes, 6);
    return sll;
}
}  // namespace

int open_send_socket(const SendSettings &settings)
{
    int s = tools::open_packet_socket(0, "send");
    if (s < 0)
        return -1;
    struct sockaddr_ll sll = link_address(settings);
    sll.sll_protocol = 0;  // sends only: no frame of any type is queued for it
    if (bind(s, reinterpret_cast<struct sockaddr *>(&sll), sizeof sll) != 0) {
        zmo_log(ZMO_LOG_ERROR, "unable to bind send socket: %s", zmo_sys_strerror(errno));
        close(s);
        return -1;
    }
    return s;
}

bool send_frame(int s, const SendSettings &settings, const uint8_t *frame, size_t len)
{
    struct sockaddr_ll sll = link_address(settings);
    ssize_t n = -1;
    for (int attempt = 0; attempt < kAttempts; attempt++) {
        n = sendto(s, frame, len, 0, reinterpret_cast<struct sockaddr *>(&sll), sizeof sll);
        if (n >= 0)
            break;
        if (errno != EINTR && errno != EAGAIN) {
            if (settings.debug)
                zmo_log(ZMO_LOG_ERROR, "unable send packet: %s", zmo_sys_strerror(errno));
            break;
        }
        usleep(kRetryMicroseconds);
    }
    if (n != static_cast<ssize_t>(len)) {
        if (settings.debug)
            zmo_log(ZMO_LOG_ERROR, "unable to send LLDPDU");
        return false;
    }
    return true;
}

void lldp_send_loop(int s, const SendSettings &settings)
{
    uint8_t frame[kFrameMax];
    while (!zmo_sys_is_interrupted()) {
        size_t len = build(settings.announce, frame);
        send_frame(s, settings, frame, len);
        zmo_sys_sleep_msec(kPeriodMs, 0);
    }
}

}  // namespace lldp
