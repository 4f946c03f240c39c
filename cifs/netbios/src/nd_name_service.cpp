// Name service messages reaching the daemon: from the network on UDP 137,
// and from local processes on the loopback name channel. Every read is
// bounded by the received length.
#include "nd_internal.h"

#include "cmbuffer.h"
#include "ns_internal.h"
#include "nssocket.h"
#include "sysockets.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <cstring>
#include <unistd.h>

namespace {

// The scope of a parsed name; read, never used.
char scopeScratch[255];

uint16_t keyOf(uint16_t flags)
{
    return static_cast<uint16_t>((flags & 0xF800) | ((flags & 0x000F) != 0 ? 1 : 0));
}

}  // namespace

bool ndSend(int socket, const uint8_t *data, uint32_t length, uint32_t ip, uint16_t port)
{
    if (socket < 0)
        return false;
    return sySendToSocket(socket, data, length, &ip, port) == static_cast<int>(length);
}

uint16_t ndPort(uint16_t hostOrder) { return htons(udGetPort(hostOrder)); }

bool ndParseNameMessage(const NDAdapter *adapter, NDMessage *m)
{
    if (adapter->recv == nullptr || adapter->length < 12)
        return false;
    const uint8_t *start = adapter->recv;
    const uint8_t *end = start + adapter->length;
    m->id = static_cast<uint16_t>(start[0] << 8 | start[1]);
    m->flags = static_cast<uint16_t>(start[2] << 8 | start[3]);
    m->key = keyOf(m->flags);
    std::memset(&m->name, 0, sizeof m->name);
    const uint8_t *next =
        cmNetBiosParseName(start, end, start + 12, m->name.name, scopeScratch, sizeof scopeScratch);
    if (next == nullptr)
        return false;
    m->behindName = static_cast<uint32_t>(next - start);
    return true;
}

bool ndReadRecord(const NDAdapter *adapter, uint32_t offset, NDRecord *record)
{
    CMBufferReader r = ns::reader(adapter->recv, adapter->length);
    cmBufferReaderSetOffset(&r, offset);
    uint16_t klass = 0;
    cmBufferReadUint16(&r, &record->type);
    cmBufferReadUint16(&r, &klass);
    cmBufferReadUint32(&r, &record->ttl);
    cmBufferReadUint16(&r, &record->rdLength);
    if (cmBufferReaderIsOverrun(&r) || cmBufferReaderGetRemaining(&r) < record->rdLength)
        return false;
    record->rdata = cmBufferReaderGetPosition(&r);
    return true;
}

int ndNameInit()
{
    if (ndInternalNameInit() != 0)
        return -1;
    if (ndExternalNameInit() != 0) {
        ndInternalNameStop();
        return -1;
    }
    return 0;
}

void ndNameStop()
{
    ndInternalNameStop();
    ndExternalNameStop();
}

int ndNameProcessExternalMessage(NDAdapter *adapter)
{
    NDMessage m;
    if (!ndParseNameMessage(adapter, &m))
        return -1;
    adapter->tranId = m.id;
    if (m.key == 0x0000 && (m.flags & 0x000F) != 0)
        return -1;
    ndInternalNameOnResponse(adapter, m);
    switch (m.key) {
    case 0x8000:
        ndExternalNamePositiveQuery(adapter, m);
        break;
    case 0x8001:
        ndExternalNameNegativeQuery(adapter, m);
        break;
    case 0xB800:
        ndExternalNameWack(adapter, m);
        break;
    default:
        break;
    }
    return 0;
}

int ndNameProcessInternalMessage(NDAdapter *adapter)
{
    if (adapter->recv == nullptr || adapter->length < 12)
        return -1;
    const uint8_t *b = adapter->recv;
    uint16_t flags = static_cast<uint16_t>(b[2] << 8 | b[3]);
    // Kept as it stands: answers carry it back unchanged.
    adapter->tranId = static_cast<uint16_t>(b[0] << 8 | b[1]);
    uint16_t key = keyOf(flags);
    if (key == 0x6000) {
        // New WINS list as UTF-16 text from byte 12, cut at the message end.
        CMWchar list[(ND_BUFFER_SIZE - 12) / 2 + 1];
        uint32_t n = (adapter->length - 12) / 2;
        std::memcpy(list, b + 12, n * 2);
        list[n] = 0;
        ndInternalNameReleaseAllNames(0);
        sleep(1);
        ndSetWinsW(list);
        ndNotifyConfigurationChange(adapter);
        return 0;
    }
    NDMessage m;
    if (!ndParseNameMessage(adapter, &m))
        return -1;
    switch (key) {
    case 0x2800: {
        // Question type and class, then the additional record behind its name.
        CMBufferReader r = ns::reader(adapter->recv, adapter->length);
        cmBufferReaderSetOffset(&r, m.behindName + 4);
        if (!ns::readName(&r, nullptr))
            return -1;
        // TYPE, CLASS, TTL, RDLENGTH (the clients write it little-endian,
        // so it is not trusted), then the NB flags.
        cmBufferReaderSkip(&r, 10);
        uint16_t nbFlags = 0;
        cmBufferReadUint16(&r, &nbFlags);
        if (cmBufferReaderIsOverrun(&r))
            return -1;
        m.name.isGroup = (nbFlags & 0x8000) != 0 ? 1 : 0;
        ndInternalNameRegisterAllAdapters(adapter, &m.name);
        return 0;
    }
    case 0x3000:
        ndInternalNameReleaseAllAdapters(adapter, &m.name, 1);
        return 0;
    default:
        if (flags < 0x0800 && (flags & 0x000F) == 0) {
            if (ndInternalProcessNameQuery(adapter, &m.name, 1) != 0)
                ndExternalNameQuery(adapter, &m.name);
            return 0;
        }
        return -1;
    }
}
