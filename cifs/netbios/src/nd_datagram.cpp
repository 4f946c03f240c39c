// Datagram service: local listeners for datagrams to own names, group and
// broadcast datagrams of local processes sent out on every adapter, and
// the error answer for unique datagrams to names the host does not hold.
#include "nd_internal.h"

#include "cmbuffer.h"
#include "ns_internal.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t kHeaderSize = 14;
constexpr uint8_t kDirectUnique = 0x10;
constexpr uint8_t kDirectGroup = 0x11;
constexpr uint8_t kBroadcast = 0x12;
constexpr uint8_t kError = 0x13;
constexpr uint8_t kNameNotPresent = 0x82;
constexpr uint16_t kListen = 17;
constexpr uint16_t kCancelListen = 25;
constexpr uint16_t kAccepted = 7;
constexpr uint16_t kNotOwn = 0xA4;
const char kDistributor[] = "TARQUENIX NBT DD";

struct Scratch {
    char scope[255];
    char destinationScope[255];
};
std::unique_ptr<Scratch> scratch;

struct Names {
    CMNetBiosNameInfo source{};
    CMNetBiosNameInfo destination{};
    uint32_t userData = 0;  // offset behind both names
};

bool parseNames(const NDAdapter *a, Names *n)
{
    if (!scratch || a->recv == nullptr || a->length < kHeaderSize)
        return false;
    const uint8_t *start = a->recv;
    const uint8_t *end = start + a->length;
    const uint8_t *next = cmNetBiosParseName(start, end, start + kHeaderSize, n->source.name, scratch->scope,
                                             sizeof scratch->scope);
    if (next == nullptr)
        return false;
    next = cmNetBiosParseName(start, end, next, n->destination.name, scratch->destinationScope,
                              sizeof scratch->destinationScope);
    if (next == nullptr)
        return false;
    n->userData = static_cast<uint32_t>(next - start);
    return true;
}

uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

int listenReply(NDAdapter *a, const Names &n)
{
    const uint8_t *user = a->recv + n.userData;
    uint32_t userLength = a->length - n.userData;
    // u16 1, u16 17, u16 kind, port (network order)
    if (userLength < 8)
        return -1;
    uint16_t port;
    std::memcpy(&port, user + 6, 2);
    uint16_t status = ndInternalNameSetPort(n.source.name, port) == 0 ? kAccepted : kNotOwn;
    CMNetBiosNameInfo distributor{};
    std::memcpy(distributor.name, kDistributor, CM_NB_NAME_SIZE);
    // The request's header, the names turned round, {1, the operation, status}
    CMBufferWriter w = ns::writer(a->send, ND_BUFFER_SIZE);
    cmBufferWriteBytes(&w, a->recv, kHeaderSize);
    if (!ns::writeName(&w, &distributor) || !ns::writeName(&w, &n.source))
        return -1;
    cmBufferWriterSetByteOrder(&w, 1);
    cmBufferWriteUint16(&w, 1);
    cmBufferWriteBytes(&w, user + 2, 2);
    cmBufferWriteUint16(&w, status);
    if (cmBufferWriterIsOverrun(&w))
        return -1;
    uint32_t length = cmBufferWriterGetDataCount(&w);
    return ndSend(a->datagramSocket, a->send, length, a->srcIp, a->srcPort) ? 1 : -1;
}

}  // namespace

int ndDatagramInit()
{
    scratch.reset(new (std::nothrow) Scratch);
    return scratch ? 0 : -1;
}

void ndDatagramStop() { scratch.reset(); }

int ndDatagramProcessInternalMessage(NDAdapter *a)
{
    Names n;
    if (!parseNames(a, &n))
        return -1;
    uint8_t type = a->recv[0];
    if (type == kDirectUnique) {
        // Control request to the distributor: u16 1, u16 operation (LE)
        if (a->length - n.userData < 4 || le16(a->recv + n.userData) != 1)
            return -1;
        uint16_t op = le16(a->recv + n.userData + 2);
        if (op == kListen)
            return listenReply(a, n);
        if (op == kCancelListen) {
            ndInternalNameSetPort(n.source.name, 0);
            return 1;
        }
        return -1;
    }
    if (type != kDirectGroup && type != kBroadcast)
        return -1;
    int result = 1;
    uint16_t port = ndPort(138);
    for (NDAdapter *out; (out = ndAdapterGetNext()) != nullptr;) {
        // Source IP and port: this adapter's
        std::memcpy(a->recv + 4, &out->ip, 4);
        std::memcpy(a->recv + 8, &port, 2);
        if (!ndSend(out->datagramSocket, a->recv, a->length, out->bcast, port))
            result = -1;
    }
    return result;
}

int ndDatagramProcessExternalMessage(NDAdapter *a)
{
    Names n;
    if (!parseNames(a, &n))
        return -1;
    uint8_t type = a->recv[0];
    if (type != kDirectUnique && type != kDirectGroup)
        return -1;
    const std::vector<uint16_t> *ports = ndInternalNameGetPort(n.destination.name);
    if (ports != nullptr) {
        for (uint16_t port : *ports)
            ndSend(a->datagramSocket, a->recv, a->length, htonl(INADDR_LOOPBACK), port);
        return 0;
    }
    if (type == kDirectGroup)
        return 0;
    // DATAGRAM ERROR: the sender's header with the type and the code changed
    a->recv[0] = kError;
    a->recv[10] = kNameNotPresent;
    ndSend(a->datagramSocket, a->recv, 11, a->srcIp, a->srcPort);
    return 0;
}
