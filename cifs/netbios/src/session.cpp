// Stream connections: the NetBIOS session service (port 139) and direct TCP
// (port 445) share the 4-byte header; accept with the session request,
// connect with retargets, and whole messages into and out of buffers.
#include "nssocket.h"

#include "cmipaddr.h"
#include "ns_internal.h"
#include "sysockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace {

constexpr uint8_t kMessage = 0x00;
constexpr uint8_t kRequest = 0x81;
constexpr uint8_t kPositive = 0x82;
constexpr uint8_t kNegative = 0x83;
constexpr uint8_t kRetarget = 0x84;
constexpr uint8_t kKeepAlive = 0x85;
constexpr uint32_t kAcceptWait = 2;
constexpr uint32_t kConnectWait = 2;
constexpr uint32_t kDiscardChunk = 200;
constexpr int kMaxRetargets = 2;

int waitReadable(int socket, uint32_t seconds)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    int n = sySelectSocket(socket + 1, &set, seconds);
    if (n < 0)
        return -1;
    return n > 0 && FD_ISSET(socket, &set) ? 1 : 0;
}

// Reads exactly n bytes; false on a close or an error.
bool readAll(int socket, uint8_t *buffer, uint32_t n)
{
    uint32_t got = 0;
    while (got < n) {
        int r = syRecvSocket(socket, buffer + got, n - got);
        if (r <= 0)
            return false;
        got += static_cast<uint32_t>(r);
    }
    return true;
}

bool sendAll(int socket, const uint8_t *buffer, uint32_t n)
{
    uint32_t sent = 0;
    while (sent < n) {
        int r = sySendSocket(socket, buffer + sent, n - sent);
        if (r <= 0)
            return false;
        sent += static_cast<uint32_t>(r);
    }
    return true;
}

// Holds an accepted slot's mutex for one read or send.
struct SlotLock {
    NSSocket *slot;
    explicit SlotLock(NSSocket *s) : slot(s->isGuarded ? s : nullptr)
    {
        if (slot)
            syMutexTake(&slot->mutex);
    }
    ~SlotLock()
    {
        if (slot)
            syMutexGive(&slot->mutex);
    }
};

void closeAndForget(NSSocket **slot)
{
    nsClose(*slot);
    *slot = nullptr;
}

// The called name of a session request: our own name, "*SMBSERV..." or
// our address as text.
bool acceptsCalledName(const NSSocket *slot, const char *called)
{
    if (std::memcmp(called, slot->name.name, CM_NB_NAME_SIZE) == 0)
        return true;
    if (std::strncmp(called, "*SMBSERV", 8) == 0)
        return true;
    char text[16];
    cmIpToAscii(text, &slot->ip);
    size_t n = std::strlen(text);
    return n > 0 && std::strncmp(called, text, n) == 0;
}

// The session request and its answer on a connected socket: 0, 1 for a
// retarget (address and port out), -1.
int sessionRequest(NSSocket *slot, const CMNetBiosNameInfo *called, uint32_t *ip, uint16_t *port)
{
    uint8_t request[4 + 2 * CM_NB_ENCODED_NAME_MAX];
    int n = frameInternalSessionRequest(request, called, slot);
    if (n < 0)
        return -1;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!sendAll(slot->sySocket, request, static_cast<uint32_t>(n)))
            continue;
        int ready = waitReadable(slot->sySocket, kConnectWait);
        if (ready < 0)
            return -1;
        if (ready == 0)
            continue;
        uint8_t answer[128];
        int got = syRecvSocket(slot->sySocket, answer, sizeof answer);
        if (got < 1)
            continue;
        switch (answer[0]) {
        case kNegative:
            return ns::fail(NS_ERR_REFUSED);
        case kPositive:
            return 0;
        case kRetarget:
            // Address and port follow the header; a short answer is none.
            if (got < 10)
                continue;
            std::memcpy(ip, answer + 4, 4);
            std::memcpy(port, answer + 8, 2);
            return 1;
        default:
            continue;
        }
    }
    return ns::fail(NS_ERR_NO_ANSWER);
}

int connectSession(NSSocket *slot, uint32_t *ip, uint16_t port, const CMNetBiosNameInfo *called, int depth)
{
    if (depth == kMaxRetargets)
        return -1;
    if (syConnectSocket(slot->sySocket, ip, port) != 0)
        return -1;
    uint32_t newIp = 0;
    uint16_t newPort = 0;
    int r = sessionRequest(slot, called, &newIp, &newPort);
    if (r <= 0)
        return r;
    *ip = newIp;
    syCloseSocket(slot->sySocket);
    slot->sySocket = syCreateSocket(1, 0);
    if (slot->sySocket < 0)
        return ns::fail(NS_ERR_NOT_CREATED);
    return connectSession(slot, ip, newPort, called, depth + 1);
}

}  // namespace

NSSocket *nsAccept(NSSocket *listening, uint32_t *peerIp)
{
    if (listening == nullptr)
        return ns::fail(NS_ERR_NO_SOCKET, static_cast<NSSocket *>(nullptr));
    uint32_t ip = 0;
    uint16_t port = 0;
    int s = syAcceptSocket(listening->sySocket, &ip, &port);
    if (s < 0)
        return nullptr;
    sySetClientSocketOptions(s);
    NSSocket *slot = nsSocket(listening->type, listening->transport);
    if (slot == nullptr) {
        syCloseSocket(s);
        return nullptr;
    }
    syCloseSocket(slot->sySocket);
    slot->sySocket = s;
    slot->isNetBios = 1;
    slot->name = listening->name;
    slot->peerIp = ip;
    slot->isBound = 0;
    slot->spare = 0;
    if (syMutexCreate(&slot->mutex) == 0)
        slot->isGuarded = 1;
    syGetSocketPortAndIP(s, &slot->ip, &slot->port);
    if (peerIp != nullptr)
        *peerIp = ip;
    return slot;
}

int nsPostAccept(NSSocket **slotRef)
{
    if (slotRef == nullptr || *slotRef == nullptr)
        return ns::fail(NS_ERR_NO_SOCKET);
    NSSocket *slot = *slotRef;
    if (waitReadable(slot->sySocket, kAcceptWait) != 1) {
        closeAndForget(slotRef);
        return -1;
    }
    uint8_t *buffer = nsGetRecvDatagramBuffer();
    if (buffer == nullptr) {
        closeAndForget(slotRef);
        return -1;
    }
    int n = syRecvSocket(slot->sySocket, buffer, NS_DATAGRAM_BUFFER_SIZE);
    char called[CM_NB_NAME_SIZE + 1] = {}, calling[CM_NB_NAME_SIZE + 1] = {};
    int parsed = nsParseSessionRequest(buffer, n > 0 ? static_cast<uint32_t>(n) : 0, called, calling);
    nsPutRecvDatagramBuffer();
    if (parsed < 0) {
        closeAndForget(slotRef);
        return -1;
    }
    if (!acceptsCalledName(slot, called)) {
        uint8_t negative[5];
        frameNegativeSessionResponse(negative);
        sendAll(slot->sySocket, negative, sizeof negative);
        closeAndForget(slotRef);
        return -1;
    }
    uint8_t positive[4];
    if (parsed == 0 || !sendAll(slot->sySocket, positive, framePositiveSessionResponse(positive))) {
        closeAndForget(slotRef);
        return -1;
    }
    std::memcpy(slot->peerName.name, calling, sizeof calling);
    slot->peerName.isGroup = 0;
    return 0;
}

int nsParseSessionRequest(const uint8_t *message, uint32_t length, char *called17, char *calling17)
{
    if (message == nullptr || called17 == nullptr || calling17 == nullptr || length < NS_SESSION_HEADER ||
        message[0] != kRequest)
        return -1;
    const uint8_t *end = message + length;
    const uint8_t *next = cmNetBiosParseName(message, end, message + NS_SESSION_HEADER, called17, nullptr, 0);
    if (next == nullptr)
        return -1;
    return cmNetBiosParseName(message, end, next, calling17, nullptr, 0) != nullptr ? 1 : 0;
}

int nsConnect(NSSocket *slot, uint32_t *peerIp, const CMNetBiosNameInfo *called)
{
    if (slot == nullptr || peerIp == nullptr || called == nullptr)
        return ns::fail(NS_ERR_NO_SOCKET);
    int result;
    switch (slot->transport) {
    case NS_TRANSPORT_NETBIOS:
        if (called->name[0] == '*')
            return ns::fail(NS_ERR_BAD_NAME);
        slot->isNetBios = 1;
        slot->peerPort = 139;
        result = connectSession(slot, peerIp, htons(139), called, 0);
        break;
    case NS_TRANSPORT_IP:
    case 3:
        slot->isNetBios = 1;
        slot->peerPort = 445;
        result = syConnectSocket(slot->sySocket, peerIp, htons(445));
        break;
    default:
        return ns::fail(NS_ERR_INVALID);
    }
    int code = errno;
    slot->peerName = *called;
    slot->peerIp = *peerIp;
    if (slot->sySocket >= 0)
        syGetSocketPortAndIP(slot->sySocket, &slot->ip, &slot->port);
    errno = code;
    return result;
}

uint32_t frameSessionMessage(uint8_t *buffer, const void *payload, uint32_t length)
{
    length = std::min<uint32_t>(length, NS_SESSION_PAYLOAD_MAX);
    buffer[0] = kMessage;
    buffer[1] = static_cast<uint8_t>((length >> 16) & 0x01);
    buffer[2] = static_cast<uint8_t>(length >> 8);
    buffer[3] = static_cast<uint8_t>(length);
    if (length > 0)
        std::memmove(buffer + NS_SESSION_HEADER, payload, length);
    return length + NS_SESSION_HEADER;
}

int frameInternalSessionRequest(uint8_t *buffer, const CMNetBiosNameInfo *called, const NSSocket *slot)
{
    if (buffer == nullptr || called == nullptr || slot == nullptr)
        return ns::fail(NS_ERR_BAD_NAME);
    CMBufferWriter w = ns::writer(buffer, 4 + 2 * CM_NB_ENCODED_NAME_MAX);
    cmBufferWriterSkip(&w, NS_SESSION_HEADER);
    if (!ns::writeName(&w, called) || !ns::writeName(&w, &slot->name))
        return ns::fail(NS_ERR_BAD_NAME);
    uint32_t length = cmBufferWriterGetDataCount(&w) - NS_SESSION_HEADER;
    buffer[0] = kRequest;
    buffer[1] = static_cast<uint8_t>((length >> 16) & 0x01);
    buffer[2] = static_cast<uint8_t>(length >> 8);
    buffer[3] = static_cast<uint8_t>(length);
    return static_cast<int>(length + NS_SESSION_HEADER);
}

uint32_t framePositiveSessionResponse(uint8_t *buffer)
{
    static const uint8_t kBytes[] = {kPositive, 0, 0, 0};
    std::memcpy(buffer, kBytes, sizeof kBytes);
    return sizeof kBytes;
}

uint32_t frameNegativeSessionResponse(uint8_t *buffer)
{
    // Error 0x82: called name not present
    static const uint8_t kBytes[] = {kNegative, 0, 0, 1, 0x82};
    std::memcpy(buffer, kBytes, sizeof kBytes);
    return sizeof kBytes;
}

uint32_t nsPrepareNBBuffer(uint8_t *buffer, uint32_t length, uint32_t size)
{
    if (length == 0)
        return ns::fail(NS_ERR_INVALID, 0u);
    buffer[0] = kMessage;
    buffer[1] = static_cast<uint8_t>(length >> 16);
    buffer[2] = static_cast<uint8_t>(length >> 8);
    buffer[3] = static_cast<uint8_t>(length);
    return size + NS_SESSION_HEADER;
}

uint8_t *nsSkipHeader(const NSSocket *slot, uint8_t *buffer)
{
    if (slot != nullptr && !slot->isNetBios)
        return buffer;
    return buffer + NS_SESSION_HEADER;
}

int nsStartRecvIntoBuffer(NSSocket *slot, NSRecvContext *context)
{
    if (slot == nullptr || context == nullptr || slot->sySocket < 0)
        return ns::fail(NS_ERR_INVALID);
    context->socket = slot;
    context->remaining = 0;
    uint8_t header[NS_SESSION_HEADER];
    {
        SlotLock lock(slot);
        if (!readAll(slot->sySocket, header, sizeof header))
            return -1;
    }
    if (header[0] == kKeepAlive)
        return 0;
    if (header[0] != kMessage)
        return -1;
    uint32_t length = (static_cast<uint32_t>(header[1]) << 16) | (header[2] << 8) | header[3];
    if (length == 0)
        return -1;
    context->remaining = length;
    return static_cast<int>(length);
}

int nsRecvIntoBuffer(NSRecvContext *context, uint8_t *buffer, uint32_t size)
{
    if (context == nullptr || context->socket == nullptr || context->socket->sySocket < 0)
        return ns::fail(NS_ERR_INVALID);
    NSSocket *slot = context->socket;
    if (size == 0 || context->remaining == 0)
        return 0;
    uint32_t want = std::min(size, context->remaining);
    if (!slot->isNetBios) {
        int r = syRecvSocket(slot->sySocket, buffer, want);
        if (r > 0)
            context->remaining -= static_cast<uint32_t>(r);
        return r;
    }
    SlotLock lock(slot);
    uint32_t got = 0;
    while (got < want) {
        int r = syRecvSocket(slot->sySocket, buffer + got, want - got);
        if (r <= 0)
            return -1;
        got += static_cast<uint32_t>(r);
        context->remaining -= static_cast<uint32_t>(r);
    }
    return static_cast<int>(got);
}

int nsEndRecvIntoBuffer(NSRecvContext *context)
{
    if (context == nullptr || context->socket == nullptr)
        return ns::fail(NS_ERR_INVALID);
    uint8_t scratch[kDiscardChunk];
    while (context->remaining > 0) {
        if (nsRecvIntoBuffer(context, scratch, sizeof scratch) <= 0)
            return -1;
    }
    return 0;
}

int nsStartRecvIntoRpcBuffer(NSSocket *slot, NSRecvContext *context, uint8_t *buffer)
{
    if (slot == nullptr || context == nullptr || buffer == nullptr || slot->sySocket < 0)
        return ns::fail(NS_ERR_INVALID);
    context->socket = slot;
    context->remaining = 0;
    {
        SlotLock lock(slot);
        if (!readAll(slot->sySocket, buffer, 10))
            return -1;
    }
    // The fragment length of the DCE/RPC header, little-endian as the data
    // representation of every peer we serve says.
    uint32_t length = static_cast<uint32_t>(buffer[8] | (buffer[9] << 8));
    if (length == 0)
        return -1;
    context->remaining = length;
    return static_cast<int>(length);
}

int nsSendFromBuffer(NSSocket *slot, uint8_t *buffer, uint32_t packetLength, uint32_t length,
                     void (*release)(uint8_t *buffer))
{
    if (packetLength == 0 || slot == nullptr || slot->sySocket < 0) {
        if (release != nullptr)
            release(buffer);
        return ns::fail(NS_ERR_INVALID);
    }
    uint32_t sent = 0;
    {
        SlotLock lock(slot);
        while (sent < length) {
            int r = sySendSocket(slot->sySocket, buffer + sent, length - sent);
            if (r <= 0)
                break;
            sent += static_cast<uint32_t>(r);
        }
    }
    if (release != nullptr)
        release(buffer);
    return static_cast<int>(sent);
}

int nsRecv(NSSocket *slot, uint8_t *buffer, uint32_t size)
{
    if (slot == nullptr || slot->sySocket < 0)
        return ns::fail(NS_ERR_NO_SOCKET);
    if (!slot->isNetBios)
        return syRecvSocket(slot->sySocket, buffer, size);
    if (slot->type == NS_SOCKET_DATAGRAM)
        return nsRecvFromName(slot, buffer, size, nullptr);
    // One message: as much as fits, the rest dropped so the next starts clean.
    NSRecvContext context{};
    int length = nsStartRecvIntoBuffer(slot, &context);
    if (length <= 0)
        return length;
    int got = nsRecvIntoBuffer(&context, buffer, size);
    if (got < 0 || nsEndRecvIntoBuffer(&context) != 0)
        return -1;
    return got;
}
