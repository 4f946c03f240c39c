// Address to NetBIOS name: a node status question for "*" to UDP 137 and the
// first active <20> name of the answer.
#include "nssocket.h"

#include "cmipaddr.h"
#include "cmmemory.h"
#include "cmstring.h"
#include "nschannel.h"
#include "cmresolver.h"
#include "ndpackets.h"
#include "ns_internal.h"
#include "sysockets.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <cstring>

namespace {

constexpr uint16_t kActive = 0x0400;
constexpr uint32_t kStatusWait = 2;
constexpr uint32_t kMaxWackWait = 60;

struct StatusAnswer {
    int result;            // 0, or -1 with errno
    uint32_t wackSeconds;  // a WACK's TTL: wait that long for the real answer
};

// The node status answer; id < 0 accepts any transaction id.
StatusAnswer parseStatus(const uint8_t *message, uint32_t length, char *name17, int id)
{
    CMBufferReader r = ns::reader(message, length);
    uint16_t tid = 0, flags = 0, counts[4] = {};
    cmBufferReadUint16(&r, &tid);
    cmBufferReadUint16(&r, &flags);
    for (auto &c : counts)
        cmBufferReadUint16(&r, &c);
    if (cmBufferReaderIsOverrun(&r) || (flags & 0x8000) == 0 || (id >= 0 && tid != id))
        return {ns::fail(NS_ERR_NO_ANSWER), 0};
    uint32_t opcode = (flags >> 11) & 0x0F;
    // Answer record: name, type, class, TTL, RDLENGTH
    uint16_t type = 0, klass = 0, rdLength = 0;
    uint32_t ttl = 0;
    bool named = ns::readName(&r, nullptr);
    cmBufferReadUint16(&r, &type);
    cmBufferReadUint16(&r, &klass);
    cmBufferReadUint32(&r, &ttl);
    cmBufferReadUint16(&r, &rdLength);
    if (opcode == 7 && named && !cmBufferReaderIsOverrun(&r))
        return {ns::fail(NS_ERR_NO_ANSWER), ttl < kMaxWackWait ? ttl : kMaxWackWait};
    if (opcode != 0)
        return {ns::fail(NS_ERR_NO_ANSWER), 0};
    if ((flags & 0x000F) != 0 || !named || cmBufferReaderIsOverrun(&r) || type != ND_TYPE_NBSTAT)
        return {ns::fail(NS_ERR_REFUSED), 0};
    // The names as many as the count says, each wholly inside the answer
    uint8_t count = 0;
    cmBufferReadByte(&r, &count);
    if (cmBufferReaderIsOverrun(&r) || rdLength < 1u + 18u * count)
        return {ns::fail(NS_ERR_REFUSED), 0};
    for (uint32_t i = 0; i < count; ++i) {
        char name[CM_NB_NAME_SIZE];
        uint16_t nameFlags = 0;
        cmBufferReadBytes(&r, name, sizeof name);
        cmBufferReadUint16(&r, &nameFlags);
        if (cmBufferReaderIsOverrun(&r))
            break;
        if (static_cast<uint8_t>(name[15]) == 0x20 && (nameFlags & kActive) != 0) {
            std::memcpy(name17, name, CM_NB_NAME_SIZE);
            name17[CM_NB_NAME_SIZE] = '\0';
            return {0, 0};
        }
    }
    return {ns::fail(NS_ERR_REFUSED), 0};
}

int frameStatusRequest(uint8_t *buffer, uint32_t size, uint16_t *id)
{
    CMNetBiosNameInfo any{};
    any.name[0] = '*';
    int n = ndGenerateNameQueryRequest(buffer, size, &any);
    if (n < 0)
        return -1;
    *id = cmNetBiosGetNextTranId();
    buffer[0] = static_cast<uint8_t>(*id >> 8);
    buffer[1] = static_cast<uint8_t>(*id);
    buffer[2] = buffer[3] = 0;
    // QTYPE NBSTAT in place of NB
    buffer[n - 4] = 0x00;
    buffer[n - 3] = 0x21;
    return n;
}

}  // namespace

int nsParseNodeStatus(const uint8_t *message, uint32_t length, char *name17)
{
    if (message == nullptr || name17 == nullptr)
        return ns::fail(NS_ERR_REFUSED);
    return parseStatus(message, length, name17, -1).result;
}

int nsRequestByIp(int socket, const uint32_t *ip, void **, const uint32_t *)
{
    if (ip == nullptr)
        return -1;
    uint8_t message[64];
    uint16_t id = 0;
    int n = frameStatusRequest(message, sizeof message, &id);
    if (n < 0)
        return -1;
    return sySendToSocket(socket, message, static_cast<uint32_t>(n), ip, htons(udGetPort(137))) == n ? 0 : -1;
}

int nsResponseByIp(int socket, CMWchar *name, void **, uint32_t *count)
{
    uint8_t message[NS_DATAGRAM_BUFFER_SIZE];
    int n = syRecvFromSocket(socket, message, sizeof message, nullptr, nullptr);
    if (n < 0)
        return -1;
    char found[CM_NB_NAME_SIZE + 1];
    if (parseStatus(message, static_cast<uint32_t>(n), found, -1).result != 0)
        return -1;
    found[CM_NB_NAME_SIZE - 1] = ' ';
    cmNetBiosNameClean(found);
    if (name != nullptr) {
        size_t i = 0;
        for (; found[i] != '\0' && i < CM_RESOLVER_NAME_SIZE - 1; ++i)
            name[i] = static_cast<uint8_t>(found[i]);
        name[i] = 0;
    }
    if (count != nullptr)
        *count = 1;
    return 0;
}

namespace ns {

int responseByNameDC(int socket, uint32_t **block, int *count, void **context)
{
    uint32_t *ips = nullptr;
    int n = 0;
    if (nsResponseByName(socket, &ips, &n, context) != 0)
        return -1;
    char text[16] = {};
    cmIpToAscii(text, ips);
    cmMemoryFreeNonDebug(ips);
    auto *names = static_cast<CMWchar *>(cmMemoryAllocNonDebug(sizeof text * sizeof(CMWchar)));
    if (names == nullptr)
        return fail(CM_ERR_NOMEM);
    std::memset(names, 0, sizeof text * sizeof(CMWchar));
    for (size_t i = 0; text[i] != '\0'; ++i)
        names[i] = static_cast<uint8_t>(text[i]);
    *block = reinterpret_cast<uint32_t *>(names);
    *count = 1;
    return 0;
}

int requestByIpDC(int socket, const uint32_t *candidate, void **context, const uint32_t *server)
{
    uint32_t ip = 0;
    if (candidate == nullptr || cmWcharToIp(reinterpret_cast<const CMWchar *>(candidate), &ip) != 0)
        return -1;
    return nsRequestByIp(socket, &ip, context, server);
}

int responseByIpDC(int socket, CMWchar *, void **context, uint32_t *count)
{
    if (context == nullptr || count == nullptr)
        return -1;
    CMWchar name[CM_RESOLVER_NAME_SIZE] = {};
    if (nsResponseByIp(socket, name, nullptr, nullptr) != 0)
        return -1;
    uint32_t units = cmWStrlen(name) + 2;  // the name and the block's end
    auto *block = static_cast<CMWchar *>(cmMemoryAllocNonDebug(units * sizeof(CMWchar)));
    if (block == nullptr)
        return fail(CM_ERR_NOMEM);
    std::memset(block, 0, units * sizeof(CMWchar));
    cmWStrcpy(block, name);
    if (*context != nullptr)
        cmMemoryFreeNonDebug(*context);
    *context = block;
    *count = 1;
    return 0;
}

}  // namespace ns

int nsGetHostName(const uint32_t *ip, char *name16)
{
    if (ip == nullptr || name16 == nullptr)
        return -1;
    int socket = syCreateSocket(0, 0);
    if (socket < 0)
        return ns::fail(NS_ERR_NOT_CREATED);
    static const uint32_t kAny = 0;
    if (syBindSocket(socket, &kAny, 0) != 0) {
        syCloseSocket(socket);
        return ns::fail(NS_ERR_BIND);
    }
    uint8_t request[64];
    uint16_t id = 0;
    int n = frameStatusRequest(request, sizeof request, &id);
    int result = -1;
    int code = NS_ERR_NO_ANSWER;
    for (int attempt = 0; n > 0 && attempt < 2; ++attempt) {
        if (sySendToSocket(socket, request, static_cast<uint32_t>(n), ip, htons(udGetPort(137))) != n)
            break;
        uint32_t wait = kStatusWait;
        bool settled = false;
        // Datagrams that are not our answer do not end the wait.
        for (int reads = 0; reads < 64 && !settled; ++reads) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(socket, &set);
            if (sySelectSocket(socket + 1, &set, wait) <= 0)
                break;
            uint8_t message[NS_DATAGRAM_BUFFER_SIZE];
            int got = syRecvFromSocket(socket, message, sizeof message, nullptr, nullptr);
            if (got < 0)
                break;
            char found[CM_NB_NAME_SIZE + 1];
            StatusAnswer a = parseStatus(message, static_cast<uint32_t>(got), found, id);
            if (a.result == 0) {
                std::memcpy(name16, found, CM_NB_NAME_SIZE);
                result = 0;
                settled = true;
            } else if (a.wackSeconds > 0) {
                wait = a.wackSeconds;
            } else if (errno == NS_ERR_REFUSED) {
                code = NS_ERR_REFUSED;
                settled = true;
            }
        }
        if (settled)
            break;
    }
    syCloseSocket(socket);
    if (result != 0)
        errno = code;
    return result;
}
