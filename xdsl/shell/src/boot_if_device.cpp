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

int service_record(int fd, const char *ifname, unsigned char *record, unsigned long)
{
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, ifname, IFNAMSIZ - 1);
    ifr.ifr_data = reinterpret_cast<char *>(record);
    return ::ioctl(fd, SIOCDEVPRIVATE + 4, &ifr);
}
#else
int private_request(int, const char *ifname, unsigned long request)
{
    return chipsim_reset_line(ifname, request == SIOCDEVPRIVATE + 1);
}

int service_record(int, const char *ifname, unsigned char *record, unsigned long size)
{
    return chipsim_service_record(ifname, record, size);
}
#endif

}  // namespace boot_if
