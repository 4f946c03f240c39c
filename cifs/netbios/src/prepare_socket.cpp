// The server's listening slots: the session service under the host name
// <20>, direct TCP on 445.
#include "csbrowse.h"

#include "ns_internal.h"

#include <arpa/inet.h>

NSSocket *csPrepareSocket(uint32_t type, uint32_t transport)
{
    NSSocket *slot = nsSocket(type, transport);
    if (slot == nullptr)
        return nullptr;
    int bound = -1;
    if (transport == NS_TRANSPORT_NETBIOS) {
        CMNetBiosNameInfo name = ns::nameOf(cmNetBiosGetHostNameInfo()->name, 0x20, false);
        bound = nsBindNetBios(slot, &name, 0);
    } else if (transport == NS_TRANSPORT_IP) {
        static const uint32_t kAny = 0;
        bound = nsBindInet(slot, &kAny, htons(445));
    }
    if (bound != 0 || nsListen(slot, 10) != 0) {
        nsClose(slot);
        return nullptr;
    }
    return slot;
}
