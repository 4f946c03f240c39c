// The host's interfaces as the stack sees them: the first usable ones of the
// getifaddrs walk, and hardware addresses by interface name.
#include "syadapter.h"
#include "udhooks.h"

#include <cstring>
#include <initializer_list>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kMaxEntries = 148;

bool usable(const ifaddrs *e)
{
    if (!e->ifa_addr)
        return false;
    // Bit 3 of the family is masked, so both AF_INET (2) and AF_INET6 (10) pass.
    if ((e->ifa_addr->sa_family & ~8) != AF_INET)
        return false;
    if (!(e->ifa_flags & IFF_UP) || !(e->ifa_flags & (IFF_BROADCAST | IFF_LOOPBACK)))
        return false;
    for (const char *skipped : {"ezcfg", "ppp", "ovpn_br"})
        if (std::strncmp(e->ifa_name, skipped, std::strlen(skipped)) == 0)
            return false;
    return true;
}

uint32_t ipv4(const sockaddr *a)
{
    return a && a->sa_family == AF_INET ? reinterpret_cast<const sockaddr_in *>(a)->sin_addr.s_addr : 0;
}

}  // namespace

extern "C" {

int syGetAdapter(int next, int *ordinal, char *name, uint32_t *ip, void *, uint32_t *mask,
                 uint32_t *broadcast, uint32_t *wins)
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0 || !list)
        return -1;
    int first = next ? *ordinal + 1 : 0;
    int result = -1;
    int position = 0;
    for (ifaddrs *e = list; e && position < kMaxEntries; e = e->ifa_next, ++position) {
        if (position < first || !usable(e))
            continue;
        *ordinal = position;
        *wins = udGetWins();
        std::strncpy(name, e->ifa_name, SY_ADAPTER_NAME_SIZE - 1);
        name[SY_ADAPTER_NAME_SIZE - 1] = 0;
        if (e->ifa_addr->sa_family == AF_INET) {
            *ip = ipv4(e->ifa_addr);
            *mask = ipv4(e->ifa_netmask);
            *broadcast = ipv4(e->ifa_broadaddr);
        } else {
            *ip = *mask = 0;
        }
        result = 0;
        break;
    }
    freeifaddrs(list);
    return result;
}

int syGetMacAddressByName(const char *name, uint8_t *mac)
{
    std::memset(mac, 0, 6);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return -1;
    ifreq req{};
    std::strncpy(req.ifr_name, name, IFNAMSIZ - 1);
    int rc = ioctl(fd, SIOCGIFHWADDR, &req);
    close(fd);
    if (rc != 0)
        return rc;
    std::memcpy(mac, req.ifr_hwaddr.sa_data, 6);
    return 0;
}

int syGetMacAddress(int, uint8_t *mac)
{
    std::memset(mac, 0, 6);
    return 0;
}

void syPlatformInit(void) {}
void syCompilerInit(void) {}

}  // extern "C"
