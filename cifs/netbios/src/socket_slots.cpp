// Socket slots: a pool of 35 handles over system sockets, bound under a
// NetBIOS name held by the daemon or plainly to an address.
#include "nssocket.h"

#include "cmdns.h"
#include "cmlist.h"
#include "nschannel.h"
#include "ns_internal.h"
#include "sysockets.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <cstring>

namespace {

CMRepository gSlots;
bool gSlotsStarted = false;

void initSlot(void *data)
{
    auto *slot = static_cast<NSSocket *>(data);
    std::memset(slot, 0, sizeof *slot);
    slot->sySocket = -1;
}

void disposeSlot(void *data)
{
    auto *slot = static_cast<NSSocket *>(data);
    if (slot->sySocket >= 0)
        syCloseSocket(slot->sySocket);
    slot->sySocket = -1;
}

void releaseSlot(NSSocket *slot)
{
    if (slot->isGuarded)
        syMutexDelete(&slot->mutex);
    slot->isGuarded = 0;
    cmRepositoryReleaseItem(&gSlots, slot);
}

void setSpaces(CMNetBiosNameInfo *name)
{
    std::memset(name->name, ' ', CM_NB_NAME_SIZE);
    name->name[CM_NB_NAME_SIZE] = '\0';
    name->isGroup = 0;
}

// The domain's name <00> as a group, once per process until it holds.
void registerDomainGroup()
{
    if (ns::domainGroupRegistered())
        return;
    CMNetBiosNameInfo domain = ns::nameOf(cmNetBiosGetDomain()->name, 0x00, true);
    if (nsRegisterName(&domain) == 0)
        ns::setDomainGroupRegistered(true);
}

}  // namespace

namespace ns {

CMNetBiosNameInfo nameOf(const char *text, uint8_t suffix, bool group)
{
    CMNetBiosNameInfo record{};
    std::strncpy(record.name, text != nullptr ? text : "", CM_NB_NAME_SIZE);
    record.name[CM_NB_NAME_SIZE] = '\0';
    // A record's text may carry its old padding and suffix: keep 15 characters.
    size_t len = strnlen(record.name, CM_NB_NAME_TEXT_MAX);
    record.name[len] = '\0';
    cmNetBiosNameClean(record.name);
    cmNetBiosNameFormat(record.name, suffix);
    record.isGroup = group ? 1 : 0;
    return record;
}

int initSocketPool()
{
    if (gSlotsStarted)
        return 0;
    if (cmRepositoryInit(&gSlots, 0, initSlot, disposeSlot) == 0)
        return -1;
    if (cmRepositoryItemPoolAlloc(&gSlots, NS_SOCKET_POOL, sizeof(NSSocket)) == 0) {
        cmRepositoryShutdown(&gSlots);
        return -1;
    }
    gSlotsStarted = true;
    return 0;
}

void exitSocketPool()
{
    if (!gSlotsStarted)
        return;
    cmRepositoryShutdown(&gSlots);
    gSlotsStarted = false;
}

}  // namespace ns

NSSocket *nsSocket(uint32_t type, uint32_t transport)
{
    auto *slot = gSlotsStarted ? static_cast<NSSocket *>(cmRepositoryGetNewItem(&gSlots)) : nullptr;
    if (slot == nullptr)
        return ns::fail(NS_ERR_NO_SLOT, static_cast<NSSocket *>(nullptr));
    if (slot->sySocket >= 0)
        syCloseSocket(slot->sySocket);
    std::memset(slot, 0, sizeof *slot);
    slot->sySocket = syCreateSocket(type == NS_SOCKET_STREAM, 0);
    if (slot->sySocket < 0) {
        releaseSlot(slot);
        return ns::fail(NS_ERR_NOT_CREATED, static_cast<NSSocket *>(nullptr));
    }
    slot->transport = transport;
    slot->type = type;
    slot->name = ns::nameOf(cmNetBiosGetHostNameInfo()->name, 0x00, false);
    setSpaces(&slot->peerName);
    return slot;
}

int nsBindNetBios(NSSocket *slot, const CMNetBiosNameInfo *name, int loopbackOnly)
{
    if (slot == nullptr || name == nullptr)
        return ns::fail(NS_ERR_NO_SOCKET);
    slot->isNetBios = 1;
    slot->name = *name;
    static const uint32_t kAny = 0;
    const uint32_t *address = loopbackOnly == 1 ? ns::loopback() : &kAny;
    uint16_t port = slot->type == NS_SOCKET_DATAGRAM ? 0 : htons(udGetPort(139));
    if (syBindSocket(slot->sySocket, address, port) != 0) {
        syCloseSocket(slot->sySocket);
        slot->sySocket = -1;
        return ns::fail(NS_ERR_BIND);
    }
    if (nsRegisterName(&slot->name) != 0) {
        int code = errno;
        if (code != NS_ERR_NO_ANSWER && code != NS_ERR_REFUSED) {
            // Some other fault: start again with a fresh, unbound socket.
            syCloseSocket(slot->sySocket);
            slot->sySocket = syCreateSocket(slot->type == NS_SOCKET_STREAM, 0);
            if (slot->sySocket < 0)
                releaseSlot(slot);
        }
        errno = code;
        return -1;
    }
    registerDomainGroup();
    syGetSocketPortAndIP(slot->sySocket, &slot->ip, &slot->port);
    if (slot->port == 0)
        return ns::fail(NS_ERR_NO_PORT);
    slot->isBound = 1;
    return 0;
}

int nsBindInet(NSSocket *slot, const uint32_t *address, uint16_t port)
{
    if (slot == nullptr)
        return ns::fail(NS_ERR_NO_SOCKET);
    slot->isNetBios = 0;
    static const uint32_t kAny = 0;
    if (syBindSocket(slot->sySocket, address != nullptr ? address : &kAny, port) != 0) {
        int code = errno;
        syCloseSocket(slot->sySocket);
        slot->sySocket = -1;
        errno = code;
        return -1;
    }
    syGetSocketPortAndIP(slot->sySocket, &slot->ip, &slot->port);
    if (slot->port == 0)
        return ns::fail(NS_ERR_NO_PORT);
    slot->isBound = 1;
    nsDnsSetTargetAddresses();
    return 0;
}

int nsListen(NSSocket *slot, int backlog)
{
    if (slot == nullptr)
        return ns::fail(NS_ERR_NO_SOCKET);
    if (!slot->isBound)
        return ns::fail(NS_ERR_NOT_BOUND);
    if (slot->isNetBios && slot->type == NS_SOCKET_DATAGRAM) {
        uint8_t *buffer = nsGetSendDatagramBuffer();
        if (buffer == nullptr)
            return ns::fail(NS_ERR_LISTEN_REQUEST);
        int n = frameInternalListenRequest(buffer, slot);
        if (n < 0) {
            nsPutSendDatagramBuffer();
            return ns::fail(NS_ERR_LISTEN_REQUEST);
        }
        int r = nsProceedRequestToDD(buffer, static_cast<uint32_t>(n), &slot->name);
        nsPutSendDatagramBuffer();
        if (r != 0) {
            syShutdownSocket(slot->sySocket);
            return ns::fail(NS_ERR_NO_ANSWER);
        }
        std::memcpy(slot->peerName.name, NS_LISTEN_PEER, CM_NB_NAME_SIZE);
        slot->peerName.isGroup = 0;
        return 0;
    }
    if (slot->isNetBios && slot->type != NS_SOCKET_STREAM)
        return -1;
    if (syListenSocket(slot->sySocket, backlog) != 0)
        return ns::fail(NS_ERR_LISTEN);
    return 0;
}

int nsClose(NSSocket *slot)
{
    if (slot == nullptr)
        return ns::fail(NS_ERR_NO_SOCKET);
    if (!slot->isBound) {
        if (slot->sySocket >= 0)
            syCloseSocket(slot->sySocket);
        slot->sySocket = -1;
        releaseSlot(slot);
        return 0;
    }
    uint32_t transport = slot->transport;
    CMNetBiosNameInfo name = slot->name;
    uint32_t isNetBios = slot->isNetBios;
    if (slot->sySocket >= 0) {
        if (syIsSocketAlive(slot->sySocket))
            syShutdownSocket(slot->sySocket);
        syCloseSocket(slot->sySocket);
    }
    slot->sySocket = -1;
    slot->isBound = 0;
    releaseSlot(slot);
    if (transport != NS_TRANSPORT_NETBIOS || !isNetBios)
        return 0;
    if (nsReleaseName(&name) != 0)
        return ns::fail(NS_ERR_RELEASE);
    if (ns::domainGroupRegistered()) {
        CMNetBiosNameInfo domain = ns::nameOf(cmNetBiosGetDomain()->name, 0x00, true);
        if (nsReleaseName(&domain) != 0)
            errno = NS_ERR_RELEASE;
    }
    return 0;
}

int nsGetSySocket(const NSSocket *slot) { return slot != nullptr ? slot->sySocket : -1; }

int nsIsSocketAlive(const NSSocket *slot)
{
    return slot != nullptr && slot->sySocket >= 0 && syIsSocketAlive(slot->sySocket) ? 1 : 0;
}

void nsClearSocketSet(NSSocketSet *set)
{
    if (set != nullptr)
        FD_ZERO(set);
}

void nsClearSocketFromSet(NSSocketSet *set, const NSSocket *slot)
{
    if (set != nullptr && slot != nullptr && slot->sySocket >= 0 && slot->sySocket < FD_SETSIZE)
        FD_CLR(slot->sySocket, set);
}

int nsAddSocketToSet(int *highest, NSSocketSet *set, const NSSocket *slot)
{
    if (set == nullptr || !nsIsSocketAlive(slot) || slot->sySocket >= FD_SETSIZE)
        return 0;
    FD_SET(slot->sySocket, set);
    if (highest != nullptr && slot->sySocket > *highest)
        *highest = slot->sySocket;
    return 1;
}

int nsSocketInSet(const NSSocketSet *set, const NSSocket *slot)
{
    if (set == nullptr || slot == nullptr || slot->sySocket < 0 || slot->sySocket >= FD_SETSIZE)
        return 0;
    return FD_ISSET(slot->sySocket, set) ? 1 : 0;
}

int nsSelect(int highest, NSSocketSet *set, uint32_t seconds)
{
    return sySelectSocket(highest, set, seconds);
}

int vxRegisterNetBiosName(const char *text)
{
    CMNetBiosNameInfo plain = ns::nameOf(text, 0x00, false);
    CMNetBiosNameInfo server = ns::nameOf(text, 0x20, false);
    if (nsRegisterName(&plain) != 0)
        return -1;
    if (nsRegisterName(&server) != 0) {
        int code = errno;
        nsReleaseName(&plain);
        errno = code;
        return -1;
    }
    return 0;
}

int vxRegisterNetBiosNameEx(const char *text, uint32_t flags)
{
    CMNetBiosNameInfo name = ns::nameOf(text, static_cast<uint8_t>(flags & 63), (flags & 0x80) != 0);
    return nsRegisterName(&name);
}

int vxReleaseNetBiosName(const char *text)
{
    CMNetBiosNameInfo plain = ns::nameOf(text, 0x00, false);
    CMNetBiosNameInfo server = ns::nameOf(text, 0x20, false);
    int first = nsReleaseName(&plain);
    if (nsReleaseName(&server) != 0)
        return -1;
    return first;
}

int vxReleaseNetBiosNameEx(const char *text, uint32_t flags)
{
    CMNetBiosNameInfo name = ns::nameOf(text, static_cast<uint8_t>(flags & 63), (flags & 0x80) != 0);
    return nsReleaseName(&name);
}
