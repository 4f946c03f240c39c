#include "boot_if_device.h"

#include <cstring>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>

#ifndef DRUVEL_BOARD
#include "chipsim_bench.h"
#endif

namespace boot_if {

#ifdef DRUVEL_BOARD
int private_request(int fd, const char *ifname, unsigned long request)
{
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, ifname, IFNAMSIZ - 1);
    return ::ioctl(fd, request, &ifr);
}
#else
int private_request(int, const char *ifname, unsigned long request)
{
    return chipsim_reset_line(ifname, request == SIOCDEVPRIVATE + 1);
}
#endif

}  // namespace boot_if
