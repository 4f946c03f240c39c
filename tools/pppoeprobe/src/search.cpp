#include "search.h"

#include "report.h"

#include <cerrno>
#include <net/if.h>
#include <new>

namespace pppoe {

namespace {
int wait_ms(const zmo_time_t &until)
{
    int64_t left = zmo_time_left_monotonic_msec(&until);
    return left < 1 ? 1 : static_cast<int>(left);
}
}  // namespace

bool padi_send(const Link &link, FILE *err)
{
    uint8_t frame[kPadiLen];
    padi_build(frame, link.own_mac);
    ssize_t n =
        zmo_mac_socket_send(link.socket, frame, sizeof frame, 0, link.ifindex, ZMO_MAC_ADDR_BROADCAST);
    if (n != static_cast<ssize_t>(sizeof frame)) {
        std::fprintf(err, "Failed to send a PADI packet: %s.\n", zmo_sys_strerror(n < 0 ? errno : EMSGSIZE));
        return false;
    }
    return true;
}

Received pado_receive(const Link &link, Offer *offer, FILE *err)
{
    uint8_t buf[kReceiveBuffer];
    zmo_mac_recv_info_t info;
    ssize_t n = zmo_mac_socket_recv(link.socket, buf, sizeof buf, MSG_DONTWAIT, &info);
    if (n < 1) {
        // Nothing after all, or a runt that is no frame of anybody's.
        if (errno == EAGAIN || errno == EINTR || errno == EBADMSG)
            return Received::Nothing;
        std::fprintf(err, "Failed to receive a PADO packet: %s.\n", zmo_sys_strerror(errno));
        return Received::Failed;
    }
    char ifname[IF_NAMESIZE];
    if (!if_indextoname(static_cast<unsigned>(info.ifindex), ifname))
        return Received::Nothing;
    if (!pado_parse(buf, static_cast<size_t>(n), offer, err))
        return Received::Nothing;
    offer->ifname = ifname;
    return Received::Offer;
}

bool search(const Link &link, unsigned long wait_s, unsigned long period_ms, OfferList *list, FILE *out,
            FILE *err)
{
    zmo_time_t end;
    zmo_time_get_monotonic_plus_msec(&end, static_cast<int64_t>(wait_s) * 1000);
    bool full_said = false;
    while (!zmo_sys_is_interrupted() && zmo_time_left_monotonic_msec(&end) > 0) {
        zmo_time_t cycle_end;
        zmo_time_get_monotonic_plus_msec(&cycle_end, static_cast<int64_t>(period_ms));

        struct pollfd pfd = {link.socket, POLLOUT, 0};
        int rc = zmo_poll(&pfd, 1, wait_ms(cycle_end));
        if (rc < 0 && errno != EINTR) {
            std::fprintf(err, "Failed to wait a socket ready state: %s.\n", zmo_sys_strerror(errno));
            return false;
        }
        if (rc == 0)
            continue;  // not writable in time: this cycle is lost
        if (rc > 0 && !padi_send(link, err))
            return false;

        while (!zmo_sys_is_interrupted() && zmo_time_left_monotonic_msec(&cycle_end) > 0) {
            pfd = {link.socket, POLLIN, 0};
            rc = zmo_poll(&pfd, 1, wait_ms(cycle_end));
            if (rc < 0 && errno != EINTR) {
                std::fprintf(err, "Failed to wait a PADO packet: %s.\n", zmo_sys_strerror(errno));
                return false;
            }
            if (rc <= 0)
                continue;
            try {
                Offer offer;
                Received r = pado_receive(link, &offer, err);
                if (r == Received::Failed)
                    return false;
                if (r == Received::Nothing)
                    continue;
                Offer shown = offer;
                OfferList::Added added = list->add(std::move(offer));
                if (added == OfferList::Added::New || added == OfferList::Added::Changed) {
                    print_offer(out, shown);
                } else if (added == OfferList::Added::Full && !full_said) {
                    char mac[ZMO_MAC_ADDR_STRLEN];
                    std::fprintf(err,
                                 "Too many access concentrators: the offer from %s and later new ones are "
                                 "ignored.\n",
                                 zmo_mac_addr_as_string(&shown.mac, mac));
                    full_said = true;
                }
            } catch (const std::bad_alloc &) {
                std::fputs("Failed to allocate memory for AC desription.\n", err);
                return false;
            }
        }
    }
    return true;
}

}  // namespace pppoe
