// Interfaces that disappear from the host reach the netdevice notifiers as
// an unregistration, as they would in the kernel.
#include "kstandin/devhost.h"
#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include "devhost_wait.h"

#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

void handle_messages(const char *buf, size_t len)
{
    for (auto *nh = reinterpret_cast<const nlmsghdr *>(buf); NLMSG_OK(nh, len); nh = NLMSG_NEXT(nh, len)) {
        if (nh->nlmsg_type != RTM_DELLINK)
            continue;
        auto *ifi = static_cast<const ifinfomsg *>(NLMSG_DATA(nh));
        int alen = static_cast<int>(IFLA_PAYLOAD(nh));
        for (auto *rta = IFLA_RTA(ifi); RTA_OK(rta, alen); rta = RTA_NEXT(rta, alen)) {
            if (rta->rta_type != IFLA_IFNAME)
                continue;
            std::string name(static_cast<const char *>(RTA_DATA(rta)), strnlen(static_cast<const char *>(RTA_DATA(rta)), RTA_PAYLOAD(rta)));
            kstandin_netdev_event(NETDEV_UNREGISTER, name.c_str());
        }
    }
}

void watch(int nl, int stop_fd)
{
    alignas(nlmsghdr) char buf[16384];
    while (kstandin::wait_readable(nl, stop_fd)) {
        ssize_t n = recv(nl, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            handle_messages(buf, static_cast<size_t>(n));
    }
    close(nl);
}

} // namespace

extern "C" int kstandin_devhost_watch_links(int stop_fd)
{
    int nl = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (nl < 0)
        return -1;
    sockaddr_nl sa{};
    sa.nl_family = AF_NETLINK;
    sa.nl_groups = RTMGRP_LINK;
    if (bind(nl, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        close(nl);
        return -1;
    }
    try {
        std::thread(watch, nl, stop_fd).detach();
    } catch (...) {
        close(nl);
        return -1;
    }
    return 0;
}
