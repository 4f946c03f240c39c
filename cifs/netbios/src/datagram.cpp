// NetBIOS datagrams (RFC 1002 direct unique and group): compose, parse and
// send to an address, to a name or through the daemon to a group.
#include "nssocket.h"

#include "nschannel.h"
#include "ns_internal.h"
#include "sysockets.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <cstring>

namespace {

constexpr uint32_t kDatagramHeader = 14;
constexpr uint8_t kDirectUnique = 0x10;
constexpr uint8_t kDirectGroup = 0x11;

bool startsWithStar(const CMNetBiosNameInfo *name) { return name == nullptr || name->name[0] == '*'; }

}  // namespace

int frameComposeDatagramBounded(uint8_t *buffer, uint32_t size, const NSSocket *slot, uint8_t type,
                                const CMNetBiosNameInfo *source, const CMNetBiosNameInfo *destination,
                                const void *data, uint32_t length)
{
    if (buffer == nullptr || slot == nullptr || (data == nullptr && length != 0))
        return ns::fail(NS_ERR_BAD_NAME);
    CMBufferWriter w = ns::writer(buffer, size);
    // Header: type, flags, id, source address and port, length, offset
    uint8_t flags = 0x02;
    cmNetBiosSetDatagramFlags(&flags);
    cmBufferWriteByte(&w, type);
    cmBufferWriteByte(&w, flags);
    cmBufferWriteUint16(&w, cmNetBiosGetNextTranId());
    cmBufferWriteBytes(&w, &slot->ip, 4);
    cmBufferWriteBytes(&w, &slot->port, 2);
    CMBufferWriter lengthField;
    cmBufferWriterCloneAndSkip(&w, &lengthField, 2);
    cmBufferWriteUint16(&w, 0);
    if (!ns::writeName(&w, source) || !ns::writeName(&w, destination)) {
        if (cmBufferWriterIsOverrun(&w))
            return ns::fail(NS_ERR_DATAGRAM);
        return ns::fail(NS_ERR_BAD_NAME);
    }
    cmBufferWriteBytes(&w, data, length);
    if (cmBufferWriterIsOverrun(&w))
        return ns::fail(NS_ERR_DATAGRAM);
    uint32_t total = cmBufferWriterGetDataCount(&w);
    cmBufferWriteUint16(&lengthField, static_cast<uint16_t>(total - kDatagramHeader));
    return static_cast<int>(total);
}

int frameComposeDatagram(uint8_t *buffer, const NSSocket *slot, uint8_t type, const CMNetBiosNameInfo *source,
                         const CMNetBiosNameInfo *destination, const void *data, uint32_t length)
{
    return frameComposeDatagramBounded(buffer, NS_DATAGRAM_BUFFER_SIZE, slot, type, source, destination, data,
                                       length);
}

int frameParseDatagram(const uint8_t *buffer, uint32_t length, CMNetBiosNameInfo *source, uint8_t *data,
                       uint32_t maxData, const CMNetBiosNameInfo *expected)
{
    if (buffer == nullptr || length < 1)
        return ns::fail(NS_ERR_DATAGRAM_TYPE);
    if (buffer[0] != kDirectUnique && buffer[0] != kDirectGroup)
        return ns::fail(NS_ERR_DATAGRAM_TYPE);
    CMBufferReader r = ns::reader(buffer, length);
    cmBufferReaderSkip(&r, kDatagramHeader);
    char name[CM_NB_NAME_SIZE + 1] = {};
    if (cmBufferReaderIsOverrun(&r) || !ns::readName(&r, source != nullptr ? name : nullptr))
        return ns::fail(NS_ERR_BAD_SOURCE);
    if (source != nullptr) {
        std::memcpy(source->name, name, sizeof name);
        source->isGroup = 0;
    }
    if (!ns::readName(&r, name) || expected == nullptr ||
        std::memcmp(name, expected->name, CM_NB_NAME_SIZE) != 0)
        return ns::fail(NS_ERR_BAD_DESTINATION);
    uint32_t n = cmBufferReaderGetRemaining(&r);
    if (n > maxData)
        n = maxData;
    if (n > 0 && data != nullptr)
        cmBufferReadBytes(&r, data, n);
    return static_cast<int>(n);
}

int nsSendTo(NSSocket *slot, const void *data, uint32_t length, CMNetBiosNameInfo *name, const uint32_t *ip)
{
    if (slot == nullptr)
        return ns::fail(NS_ERR_NO_SOCKET);
    if (!slot->isNetBios) {
        if (ip == nullptr)
            return ns::fail(NS_ERR_NO_ADDRESS);
        int n = sySendToSocket(slot->sySocket, data, length, ip, htons(139));
        return n < 1 ? -1 : n;
    }
    if (startsWithStar(name))
        return ns::fail(NS_ERR_BAD_NAME);
    if (ip == nullptr)
        return ns::fail(NS_ERR_NO_ADDRESS);
    uint8_t *buffer = ns::takeComposeBuffer();
    if (buffer == nullptr)
        return ns::fail(NS_ERR_DATAGRAM);
    int total = frameComposeDatagram(buffer, slot, kDirectGroup, &slot->name, name, data, length);
    if (total < 0) {
        ns::giveComposeBuffer();
        return ns::fail(NS_ERR_DATAGRAM);
    }
    int n = sySendToSocket(slot->sySocket, buffer, static_cast<uint32_t>(total), ip, htons(udGetPort(138)));
    ns::giveComposeBuffer();
    return n < 1 ? -1 : n;
}

int nsSendToName(NSSocket *slot, const void *data, uint32_t length, CMNetBiosNameInfo *name)
{
    if (slot == nullptr || !slot->isNetBios)
        return -1;
    if (startsWithStar(name))
        return ns::fail(NS_ERR_BAD_NAME);
    if (!name->isGroup) {
        uint32_t ip = 0;
        if (nsGetHostByName(&ip, name) != 0)
            return ns::fail(NS_ERR_NO_ADDRESS);
        return nsSendTo(slot, data, length, name, &ip);
    }
    // A group datagram leaves through the daemon, which sends it on every adapter.
    NSInternalSocket *channel = getInternalSocketDD();
    if (channel == nullptr)
        return ns::fail(NS_ERR_DATAGRAM);
    uint8_t *buffer = ns::takeComposeBuffer();
    int total = buffer != nullptr
                    ? frameComposeDatagram(buffer, slot, kDirectGroup, &slot->name, name, data, length)
                    : -1;
    int n = total < 0 ? -1
                      : sySendToSocket(channel->sySocket, buffer, static_cast<uint32_t>(total),
                                       ns::loopback(), ns::channelPort(NS_DD_PORT));
    if (buffer != nullptr)
        ns::giveComposeBuffer();
    putInternalSocketDD(channel);
    if (total < 0)
        return ns::fail(NS_ERR_DATAGRAM);
    if (n != total)
        return ns::fail(NS_ERR_SEND);
    return static_cast<int>(length);
}

int nsRecvFromName(NSSocket *slot, uint8_t *buffer, uint32_t size, CMNetBiosNameInfo *source)
{
    if (slot == nullptr || slot->sySocket < 0)
        return ns::fail(NS_ERR_NO_SOCKET);
    uint8_t *datagram = nsGetRecvDatagramBuffer();
    if (datagram == nullptr)
        return ns::fail(NS_ERR_DATAGRAM);
    int n = syRecvFromSocket(slot->sySocket, datagram, NS_DATAGRAM_BUFFER_SIZE, nullptr, nullptr);
    int result =
        n < 0 ? -1
              : frameParseDatagram(datagram, static_cast<uint32_t>(n), source, buffer, size, &slot->name);
    int saved = errno;
    nsPutRecvDatagramBuffer();
    errno = saved;
    return result;
}
