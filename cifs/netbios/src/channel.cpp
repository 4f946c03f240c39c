// Client side of the loopback channels to the daemon: two pools of two
// sockets (names, datagrams), request framing and the answers' checks.
#include "nschannel.h"

#include "cmmemory.h"
#include "cmstring.h"
#include "ndpackets.h"
#include "ns_internal.h"
#include "sysockets.h"
#include "sythread.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cstring>
#include <unistd.h>

namespace {

// One pool per channel: at most two requests of a process at a time.
struct Pool {
    std::array<NSInternalSocket, NS_CHANNEL_SOCKETS> records{};
    std::array<NSInternalSocket *, NS_CHANNEL_SOCKETS> ring{};
    uint32_t take = 0;
    uint32_t give = 0;
    SYMutex mutex;
    SYSemaphore free;
    bool started = false;
};

Pool gNamePool, gDatagramPool;
std::atomic<uint32_t> gWait{0};

uint32_t channelWait() { return gWait != 0 ? gWait.load() : NS_CHANNEL_WAIT; }

bool startPool(Pool &p)
{
    if (p.started)
        return true;
    if (syMutexCreate(&p.mutex) != 0)
        return false;
    if (sem_init(&p.free, 0, NS_CHANNEL_SOCKETS) != 0) {
        syMutexDelete(&p.mutex);
        return false;
    }
    for (uint32_t i = 0; i < NS_CHANNEL_SOCKETS; ++i) {
        p.records[i].sySocket = -1;
        p.ring[i] = &p.records[i];
    }
    p.take = p.give = 0;
    p.started = true;
    return true;
}

void stopPool(Pool &p)
{
    if (!p.started)
        return;
    for (auto &r : p.records) {
        if (r.sySocket >= 0)
            syCloseSocket(r.sySocket);
        r.sySocket = -1;
    }
    sem_destroy(&p.free);
    syMutexDelete(&p.mutex);
    p.started = false;
}

NSInternalSocket *takeRecord(Pool &p)
{
    if (!p.started)
        return nullptr;
    while (sem_wait(&p.free) != 0 && errno == EINTR) {
    }
    syMutexTake(&p.mutex);
    NSInternalSocket *r = p.ring[p.take];
    p.take = (p.take + 1) % NS_CHANNEL_SOCKETS;
    syMutexGive(&p.mutex);

    r->sySocket = syCreateSocket(0, 0);
    int code = 0;
    if (r->sySocket < 0)
        code = NS_ERR_NOT_CREATED;
    else if (syBindSocket(r->sySocket, ns::loopback(), 0) != 0)
        code = NS_ERR_BIND;
    else {
        uint32_t ip = 0;
        syGetSocketPortAndIP(r->sySocket, &ip, &r->port);
        if (r->port == 0)
            code = NS_ERR_NO_PORT;
    }
    if (code == 0)
        return r;
    if (r->sySocket >= 0)
        syCloseSocket(r->sySocket);
    r->sySocket = -1;
    syMutexTake(&p.mutex);
    p.ring[p.give] = r;
    p.give = (p.give + 1) % NS_CHANNEL_SOCKETS;
    syMutexGive(&p.mutex);
    sem_post(&p.free);
    return ns::fail(code, static_cast<NSInternalSocket *>(nullptr));
}

void giveRecord(Pool &p, NSInternalSocket *r)
{
    if (r == nullptr || !p.started)
        return;
    if (r->sySocket >= 0)
        syCloseSocket(r->sySocket);
    r->sySocket = -1;
    syMutexTake(&p.mutex);
    p.ring[p.give] = r;
    p.give = (p.give + 1) % NS_CHANNEL_SOCKETS;
    syMutexGive(&p.mutex);
    sem_post(&p.free);
}

// Puts a socket back on every path out of a request.
struct Lease {
    Pool &pool;
    NSInternalSocket *record;
    ~Lease() { giveRecord(pool, record); }
};

// 1 readable, 0 time-out, -1 error.
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

// Header of a name-channel request, then the question.
int frameNameRequest(uint8_t *buffer, const CMNetBiosNameInfo *name, uint16_t flags, bool withAdditional)
{
    if (buffer == nullptr || name == nullptr)
        return ns::fail(NS_ERR_BAD_NAME);
    CMBufferWriter w = ns::writer(buffer, NS_DATAGRAM_BUFFER_SIZE);
    cmBufferWriteUint16(&w, cmNetBiosGetNextTranId());
    cmBufferWriteUint16(&w, flags);
    cmBufferWriteUint16(&w, 1);
    cmBufferWriteUint16(&w, 0);
    cmBufferWriteUint16(&w, 0);
    cmBufferWriteUint16(&w, withAdditional ? 1 : 0);
    // Question
    uint8_t *question = cmBufferWriterGetPosition(&w);
    if (!ns::writeName(&w, name))
        return ns::fail(NS_ERR_BAD_NAME);
    cmBufferWriteUint16(&w, ND_TYPE_NB);
    cmBufferWriteUint16(&w, ND_CLASS_IN);
    if (withAdditional) {
        // Additional record: the requester's process id stands for the address
        uint8_t pointer[2];
        cmNetBiosEncodeNamePointer(buffer, pointer, question);
        cmBufferWriteBytes(&w, pointer, 2);
        cmBufferWriteUint16(&w, ND_TYPE_NB);
        cmBufferWriteUint16(&w, ND_CLASS_IN);
        static const uint8_t kTtlAndLength[] = {0, 0, 0, 2, 6, 0};
        cmBufferWriteBytes(&w, kTtlAndLength, sizeof kTtlAndLength);
        cmBufferWriteUint16(&w, static_cast<uint16_t>(cmNetBiosGetNodeType() | (name->isGroup ? 0x8000 : 0)));
        cmBufferWriteUint32(&w, static_cast<uint32_t>(getpid()));
    }
    if (cmBufferWriterIsOverrun(&w))
        return ns::fail(NS_ERR_BAD_NAME);
    return static_cast<int>(cmBufferWriterGetDataCount(&w));
}

// The datagram-channel requests' user data, little-endian words.
int frameDistributorRequest(uint8_t *buffer, const NSSocket *slot, uint16_t request, uint16_t kind,
                            bool withPort)
{
    if (slot == nullptr)
        return ns::fail(NS_ERR_BAD_NAME);
    uint8_t data[32];
    CMBufferWriter w;
    cmBufferWriterInit(&w, data, sizeof data);
    cmBufferWriterSetByteOrder(&w, 1);
    cmBufferWriteUint16(&w, 1);
    cmBufferWriteUint16(&w, request);
    cmBufferWriteUint16(&w, kind);
    if (withPort) {
        cmBufferWriteBytes(&w, &slot->port, 2);
        cmBufferWriteBytes(&w, NS_LISTEN_PEER, CM_NB_NAME_SIZE);
        cmBufferWriteByte(&w, 0);
    }
    cmBufferWriteUint32(&w, static_cast<uint32_t>(getpid()));
    CMNetBiosNameInfo distributor{};
    std::memcpy(distributor.name, NS_DD_NAME, CM_NB_NAME_SIZE);
    return frameComposeDatagram(buffer, slot, 0x10, &slot->name, &distributor, data,
                                cmBufferWriterGetDataCount(&w));
}

uint16_t socketKind(const NSSocket *slot, uint16_t datagram, uint16_t stream)
{
    return slot->type == NS_SOCKET_DATAGRAM ? datagram : stream;
}

bool startsWithStar(const CMNetBiosNameInfo *name) { return name == nullptr || name->name[0] == '*'; }

int queryFor(int socket, const CMWchar *name, uint8_t suffix, const uint32_t *server)
{
    if (name == nullptr)
        return ns::fail(NS_ERR_BAD_NAME);
    char text[CM_NB_NAME_SIZE + 1] = {};
    cmUnicodeToAnsiN(text, name, CM_NB_NAME_TEXT_MAX + 1);
    text[CM_NB_NAME_TEXT_MAX] = '\0';
    CMNetBiosNameInfo record = ns::nameOf(text, suffix, false);
    if (record.name[0] == '*')
        return ns::fail(NS_ERR_BAD_NAME);
    uint8_t message[NS_DATAGRAM_BUFFER_SIZE];
    int n = frameInternalNameQueryRequest(message, &record);
    if (n < 0)
        return -1;
    const uint32_t *to = server != nullptr ? server : ns::loopback();
    uint16_t port = server != nullptr ? ns::channelPort(137) : ns::channelPort(NS_ND_PORT);
    if (sySendToSocket(socket, message, static_cast<uint32_t>(n), to, port) != n)
        return -1;
    return 1;
}

}  // namespace

namespace ns {

uint16_t channelPort(uint16_t port) { return htons(udGetPort(port)); }

const uint32_t *loopback()
{
    static const uint32_t kLoopback = htonl(0x7F000001);
    return &kLoopback;
}

}  // namespace ns

int nsInitInternalSockets(void)
{
    if (!startPool(gNamePool))
        return -1;
    if (!startPool(gDatagramPool)) {
        stopPool(gNamePool);
        return -1;
    }
    return 0;
}

void nsExitInternalSockets(void)
{
    stopPool(gDatagramPool);
    stopPool(gNamePool);
}

NSInternalSocket *getInternalSocketND(void) { return takeRecord(gNamePool); }
void putInternalSocketND(NSInternalSocket *record) { giveRecord(gNamePool, record); }
NSInternalSocket *getInternalSocketDD(void) { return takeRecord(gDatagramPool); }
void putInternalSocketDD(NSInternalSocket *record) { giveRecord(gDatagramPool, record); }

int nsFrameInternalNameRequest(uint8_t *buffer, const CMNetBiosNameInfo *name)
{
    return frameNameRequest(buffer, name, NS_FLAGS_REGISTER, true);
}

int frameInternalNameRegistrationRequest(uint8_t *buffer, const CMNetBiosNameInfo *name)
{
    return frameNameRequest(buffer, name, NS_FLAGS_REGISTER, true);
}

int frameInternalNameReleaseRequest(uint8_t *buffer, const CMNetBiosNameInfo *name)
{
    return frameNameRequest(buffer, name, NS_FLAGS_RELEASE, true);
}

int frameInternalNameQueryRequest(uint8_t *buffer, const CMNetBiosNameInfo *name)
{
    return frameNameRequest(buffer, name, NS_FLAGS_QUERY, false);
}

int frameInternalSetWinsRequest(uint8_t *buffer, uint32_t size, const CMWchar *list)
{
    if (buffer == nullptr)
        return -1;
    static const CMWchar kEmpty[] = {0};
    if (list == nullptr)
        list = kEmpty;
    uint32_t chars = cmWStrlen(list);
    uint64_t total = 2ull * (chars + 7);
    if (total > size)
        return ns::fail(NS_ERR_DATAGRAM);
    CMBufferWriter w = ns::writer(buffer, size);
    cmBufferWriteUint16(&w, cmNetBiosGetNextTranId());
    cmBufferWriteUint16(&w, NS_FLAGS_SET_WINS);
    static const uint8_t kCounts[] = {0, 1, 0, 0, 0, 0, 0, 1};
    cmBufferWriteBytes(&w, kCounts, sizeof kCounts);
    // The list as UTF-16 in the host's order, as the daemon reads it back
    cmBufferWriteBytes(&w, list, 2 * (chars + 1));
    return static_cast<int>(cmBufferWriterGetDataCount(&w));
}

int frameInternalListenRequest(uint8_t *buffer, const NSSocket *slot)
{
    if (slot == nullptr)
        return ns::fail(NS_ERR_BAD_NAME);
    return frameDistributorRequest(buffer, slot, 17, socketKind(slot, 1, 3), true);
}

int frameInternalCancelListen(uint8_t *buffer, const NSSocket *slot)
{
    if (slot == nullptr)
        return ns::fail(NS_ERR_BAD_NAME);
    return frameDistributorRequest(buffer, slot, 25, socketKind(slot, 5, 6), false);
}

int nsSendRequestToND(int socket, const void *data, uint32_t length)
{
    int n = sySendToSocket(socket, data, length, ns::loopback(), ns::channelPort(NS_ND_PORT));
    return n == static_cast<int>(length) ? 0 : -1;
}

int nsParseResponseFromND(const uint8_t *message, uint32_t length, uint8_t *out6)
{
    if (message == nullptr)
        return ns::fail(NS_ERR_INVALID);
    CMBufferReader r = ns::reader(message, length);
    uint16_t id = 0, flags = 0, counts[4] = {};
    cmBufferReadUint16(&r, &id);
    cmBufferReadUint16(&r, &flags);
    for (auto &c : counts)
        cmBufferReadUint16(&r, &c);
    if (cmBufferReaderIsOverrun(&r))
        return ns::fail(NS_ERR_INVALID);
    if ((flags & 0x8000) == 0)
        return ns::fail(NS_ERR_INVALID);
    if ((flags & 0x000F) != 0)
        return ns::fail(NS_ERR_REFUSED);
    switch ((flags >> 11) & 0x0F) {
    case 5:  // registration
    case 6:  // release
        return 0;
    case 0: {  // query
        if (out6 == nullptr)
            return 0;
        // Answer record: name, type, class, TTL, RDLENGTH, then NB flags and address
        if (!ns::readName(&r, nullptr))
            return ns::fail(NS_ERR_BAD_NAME);
        uint16_t rdLength = 0;
        cmBufferReaderSkip(&r, 8);
        cmBufferReadUint16(&r, &rdLength);
        uint8_t rdata[6];
        cmBufferReadBytes(&r, rdata, sizeof rdata);
        if (cmBufferReaderIsOverrun(&r) || rdLength < sizeof rdata)
            return ns::fail(NS_ERR_BAD_NAME);
        std::memcpy(out6, rdata, sizeof rdata);
        return 0;
    }
    case 7:  // WACK
        return ns::fail(NS_ERR_NO_ANSWER);
    default:
        return ns::fail(NS_ERR_INVALID);
    }
}

int nsReceiveResponseFromND(int socket, uint8_t *out6)
{
    uint8_t *buffer = nsGetRecvDatagramBuffer();
    if (buffer == nullptr)
        return ns::fail(NS_ERR_DATAGRAM);
    int n = syRecvFromSocket(socket, buffer, NS_DATAGRAM_BUFFER_SIZE, nullptr, nullptr);
    int result = n < 0 ? -1 : nsParseResponseFromND(buffer, static_cast<uint32_t>(n), out6);
    int saved = errno;
    nsPutRecvDatagramBuffer();
    errno = saved;
    return result;
}

int nsProceedRequestToND(const void *data, uint32_t length, uint8_t *out6)
{
    Lease lease{gNamePool, getInternalSocketND()};
    if (lease.record == nullptr)
        return -1;
    int socket = lease.record->sySocket;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (nsSendRequestToND(socket, data, length) != 0)
            return -1;
        int ready = waitReadable(socket, channelWait());
        if (ready < 0)
            return -1;
        if (ready == 0)
            return ns::fail(NS_ERR_NO_ANSWER);
        if (nsReceiveResponseFromND(socket, out6) == 0)
            return 0;
    }
    return -1;
}

int nsProceedRequestToDD(const void *data, uint32_t length, const CMNetBiosNameInfo *expected)
{
    Lease lease{gDatagramPool, getInternalSocketDD()};
    if (lease.record == nullptr)
        return ns::fail(NS_ERR_DATAGRAM);
    int socket = lease.record->sySocket;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (sySendToSocket(socket, data, length, ns::loopback(), ns::channelPort(NS_DD_PORT)) !=
            static_cast<int>(length))
            return -1;
        if (waitReadable(socket, channelWait()) != 1)
            continue;
        uint8_t *buffer = nsGetRecvDatagramBuffer();
        if (buffer == nullptr)
            return ns::fail(NS_ERR_DATAGRAM);
        int n = syRecvFromSocket(socket, buffer, NS_DATAGRAM_BUFFER_SIZE, nullptr, nullptr);
        CMNetBiosNameInfo source{};
        uint8_t answer[6] = {};
        int got = n < 0 ? -1
                        : frameParseDatagram(buffer, static_cast<uint32_t>(n), &source, answer, sizeof answer,
                                             expected);
        nsPutRecvDatagramBuffer();
        if (got < 0 || std::memcmp(source.name, NS_DD_NAME, CM_NB_NAME_SIZE) != 0)
            continue;
        // {u16 1, 2 bytes, u16 status}, little-endian; a short answer is no status
        if (got < 6)
            return ns::fail(NS_ERR_REFUSED);
        uint16_t status = static_cast<uint16_t>(answer[4] | (answer[5] << 8));
        return status == NS_DD_STATUS_ACCEPTED ? 0 : ns::fail(NS_ERR_REFUSED);
    }
    return ns::fail(NS_ERR_NO_ANSWER);
}

int nsRegisterName(const CMNetBiosNameInfo *name)
{
    if (startsWithStar(name))
        return ns::fail(NS_ERR_BAD_NAME);
    uint8_t message[NS_DATAGRAM_BUFFER_SIZE];
    int n = frameInternalNameRegistrationRequest(message, name);
    if (n < 0)
        return -1;
    return nsProceedRequestToND(message, static_cast<uint32_t>(n), nullptr);
}

int nsReleaseName(const CMNetBiosNameInfo *name)
{
    uint8_t message[NS_DATAGRAM_BUFFER_SIZE];
    int n = name != nullptr ? frameInternalNameReleaseRequest(message, name) : -1;
    if (n < 0 || nsProceedRequestToND(message, static_cast<uint32_t>(n), nullptr) != 0)
        return ns::fail(NS_ERR_RELEASE);
    return 0;
}

int nsGetHostByName(uint32_t *ip, CMNetBiosNameInfo *name)
{
    if (ip == nullptr || startsWithStar(name))
        return -1;
    uint8_t message[NS_DATAGRAM_BUFFER_SIZE];
    int n = frameInternalNameQueryRequest(message, name);
    if (n < 0)
        return -1;
    uint8_t rdata[6];
    if (nsProceedRequestToND(message, static_cast<uint32_t>(n), rdata) != 0)
        return -1;
    std::memcpy(ip, rdata + 2, 4);
    name->isGroup = (rdata[0] & 0x80) != 0 ? 1 : 0;
    return 0;
}

void nsRefreshNetBios(const CMWchar *list)
{
    // The daemon never answers this one: send it and go on.
    uint8_t message[NS_DATAGRAM_BUFFER_SIZE];
    int n = frameInternalSetWinsRequest(message, sizeof message, list);
    if (n < 0)
        return;
    Lease lease{gNamePool, getInternalSocketND()};
    if (lease.record != nullptr)
        nsSendRequestToND(lease.record->sySocket, message, static_cast<uint32_t>(n));
}

int nsRequestByNameBcast(int socket, const CMWchar *name, void **, const uint32_t *)
{
    return queryFor(socket, name, 0x20, nullptr);
}

int nsRequestByNameBcastDC(int socket, const CMWchar *name, void **, const uint32_t *)
{
    return queryFor(socket, name, 0x1B, nullptr);
}

int nsRequestByNameWins(int socket, const CMWchar *name, void **, const uint32_t *server)
{
    if (server == nullptr)
        return ns::fail(NS_ERR_NO_ADDRESS);
    return queryFor(socket, name, 0x20, server);
}

int nsRequestByNameWinsDC(int socket, const CMWchar *name, void **, const uint32_t *server)
{
    if (server == nullptr)
        return ns::fail(NS_ERR_NO_ADDRESS);
    return queryFor(socket, name, 0x1C, server);
}

int nsResponseByName(int socket, uint32_t **addresses, int *count, void **)
{
    if (addresses == nullptr || count == nullptr)
        return -1;
    uint8_t rdata[6];
    if (nsReceiveResponseFromND(socket, rdata) != 0)
        return -1;
    auto *ip = static_cast<uint32_t *>(cmMemoryAllocNonDebug(sizeof(uint32_t)));
    if (ip == nullptr)
        return ns::fail(NS_ERR_DATAGRAM);
    std::memcpy(ip, rdata + 2, 4);
    *addresses = ip;
    *count = 1;
    return 0;
}

void nsChannelSetWait(uint32_t seconds) { gWait = seconds; }
