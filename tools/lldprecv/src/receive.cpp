#include "receive.h"

#include "lldpdu.h"
#include "packet_socket.h"

#include "zmo.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <csignal>
#include <cstring>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lldp {

namespace {
constexpr int kPollMs = 61440;
constexpr int64_t kBackoffMs = 333;
// sockaddr_ll up to a 6-byte address; later kernels than the board's pad
// the length to the whole structure.
constexpr socklen_t kLinkAddressLen = offsetof(struct sockaddr_ll, sll_addr) + 6;
}  // namespace

bool report_neighbour(const Neighbour &n, bool debug, const char *file)
{
    zmo_mac_addr_t mac;
    zmo_mac_addr_assign_array(&mac, n.mac, 6);
    char mac_text[ZMO_MAC_ADDR_STRLEN];
    const char *words[] = {file, "lldp", nullptr};
    if (!zmo_feedback(15000, 0, words, "%s=%s\n%s=%u\n%s=%s\n%s=%s\n%s=%u\n%s=%d\n%s=%s\n%s=%s\n%s=%s", "mac",
                      zmo_mac_addr_as_string(&mac, mac_text), "ip", n.ip, "desc", n.desc.c_str(), "mode",
                      n.mode.c_str(), "http_port", unsigned(n.http_port), "interface_idx",
                      int(n.interface_idx), "fw_version", n.fw_version.c_str(), "cid", n.cid.c_str(),
                      "controller_cid", n.controller_cid.c_str())) {
        if (debug)
            zmo_log(ZMO_LOG_ERROR, "unable to communicate with zmo: \"%s\"", zmo_sys_strerror(errno));
        return false;
    }
    return true;
}

int open_recv_socket() { return tools::open_packet_socket(htons(kEthertype), "recv"); }

void lldp_receive(int s, bool debug)
{
    uint8_t buf[kReceiveMax];
    struct sockaddr_ll sll;
    socklen_t alen = sizeof sll;
    std::memset(&sll, 0, sizeof sll);
    ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<struct sockaddr *>(&sll), &alen);
    if (n < 0) {
        if (errno != EINTR && errno != EAGAIN && debug)
            zmo_log(ZMO_LOG_ERROR, "unable receive packet: %s", zmo_sys_strerror(errno));
        return;
    }
    size_t len = static_cast<size_t>(n);
    if (alen < kLinkAddressLen || alen > sizeof sll || sll.sll_halen != 6) {
        if (debug)
            zmo_log(ZMO_LOG_ERROR, "invalid address size");
        return;
    }
    if (len == 0) {
        if (debug)
            zmo_log(ZMO_LOG_ERROR, "unable to receive LLDP packet: %zu", len);
        return;
    }
    if (len == sizeof buf && debug)
        zmo_log(ZMO_LOG_ERROR, "packet is truncated");
    if (ntohs(sll.sll_protocol) != kEthertype ||
        (len >= kEthHeader && (buf[12] << 8 | buf[13]) != kEthertype))
        return;

    Neighbour neighbour;
    auto diag = [debug](const char *line) {
        if (debug)
            zmo_log(ZMO_LOG_ERROR, "%s", line);
    };
    if (!parse_lldpdu(buf, len, &neighbour, diag))
        return;
    neighbour.interface_idx = sll.sll_ifindex;
    report_neighbour(neighbour, debug);
}

void lldp_receive_loop(int s, bool debug)
{
    // Termination signals get in only inside ppoll: one that comes just
    // before the wait still ends it instead of waiting a minute.
    sigset_t term, open_mask;
    sigemptyset(&term);
    for (int sig : {SIGINT, SIGTERM, SIGQUIT})
        sigaddset(&term, sig);
    pthread_sigmask(SIG_BLOCK, &term, &open_mask);
    struct timespec timeout = {kPollMs / 1000, (kPollMs % 1000) * 1000000L};

    while (!zmo_sys_is_interrupted()) {
        struct pollfd pfd = {s, POLLIN, 0};
        int rc = ppoll(&pfd, 1, &timeout, &open_mask);
        if (rc == 0)
            continue;
        if (rc < 0) {
            if (errno == EINTR || errno == EAGAIN)
                break;
            if (debug)
                zmo_log(ZMO_LOG_ERROR, "poll error: %s", zmo_sys_strerror(errno));
            zmo_sys_sleep_msec(kBackoffMs, 0);
            continue;
        }
        if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            int err = 0;
            socklen_t elen = sizeof err;
            if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &elen) != 0)
                err = errno;
            if (err == ENETDOWN) {
                if (debug)
                    zmo_log(ZMO_LOG_INFO, "the interface went down");
                zmo_sys_sleep_msec(kBackoffMs, 0);
                continue;
            }
            if (debug)
                zmo_log(ZMO_LOG_ERROR, "failed to poll: %s[%d]", zmo_sys_strerror(err), err);
            if (debug || (pfd.revents & POLLNVAL)) {
                if (debug)
                    zmo_log(ZMO_LOG_ERROR, "socket was unexpectedly closed");
                zmo_sys_sleep_msec(kBackoffMs, 0);
            }
            continue;
        }
        if (pfd.revents & POLLIN)
            lldp_receive(s, debug);
    }
    pthread_sigmask(SIG_SETMASK, &open_mask, nullptr);
}

}  // namespace lldp
