// Browser host announcements: an SMB1 mailslot transaction on
// "\MAILSLOT\BROWSE" sent as a group datagram to the workgroup's master
// browser name <1D>, every 5, 10, 20 and then 30 seconds.
#include "csbrowse.h"

#include "cmnetbios.h"
#include "ns_internal.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr uint32_t kPeriodicity = 88;
constexpr uint32_t kServerName = 92;
constexpr uint32_t kServerType = 110;

// Bytes 0-118: the SMB header, the transaction words and the announcement's
// fixed fields; the build step writes the rest.
constexpr uint8_t kTemplate[119] = {
    0xFF, 'S',  'M', 'B', 0x25,  // protocol, TRANSACTION
    0,    0,    0,   0,   0,    0,   0,   0,   0,   0,    0,   0,   0,   0,   0,   0,   0, 0, 0, 0,
    0,    0,    0,   0,   0,    0,   0,       // rest of the header
    17,                                       // word count
    0,    0,    0,   0,   0,    0,   0,   0,  // total parameter and data, max parameter and data
    0,    0,                                  // max setup, reserved
    0,    0,    0,   0,   0,    0,            // flags, timeout
    0,    0,                                  // reserved
    0,    0,    0,   0,   0,    0,   0,   0,  // parameter count and offset, data count and offset
    3,    0,                                  // setup count, reserved
    1,    0,    0,   0,   2,    0,            // mailslot write, priority 0, class 2
    0,    0,                                  // byte count
    '\\', 'M',  'A', 'I', 'L',  'S', 'L', 'O', 'T', '\\', 'B', 'R', 'O', 'W', 'S', 'E', 0, 1, 0,  // host
                                                                                                  // announcement,
                                                                                                  // update
                                                                                                  // count
    0,    0,    0,   0,                                                                // periodicity
    0,    0,    0,   0,   0,    0,   0,   0,   0,   0,    0,   0,   0,   0,   0,   0,  // server name
    2,    0,                                                                           // OS version
    0,    0,    0,   0,                                                                // server type
    4,    0,                                                                           // browser version
    0x55, 0xAA,                                                                        // signature
    0,                                                                                 // empty comment
};

struct Browse {
    uint32_t period = CS_ANNOUNCE_FIRST_PERIOD;
    NSSocket *socket = nullptr;
    CMNetBiosNameInfo target{};
    std::array<uint8_t, CS_ANNOUNCEMENT_SIZE> message{};
    uint32_t built = 0;
};

std::unique_ptr<Browse> gBrowse;

void put16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    put16(p, static_cast<uint16_t>(v));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}

void build(Browse &b)
{
    if (b.built)
        return;
    uint8_t *m = b.message.data();
    std::memcpy(m, kTemplate, sizeof kTemplate);
    put16(m + 35, CS_ANNOUNCEMENT_DATA_SIZE);  // total data count
    put16(m + 43, 0x0002);                     // no response
    put32(m + 45, 1000);                       // timeout
    put16(m + 55, CS_ANNOUNCEMENT_DATA_SIZE);  // data count
    put16(m + 57, CS_ANNOUNCEMENT_DATA);       // data offset
    put16(m + 67, CS_ANNOUNCEMENT_SIZE - 69);  // byte count
    std::memcpy(m + kServerName, cmNetBiosGetHostNameZeroed(), 16);
    put32(m + kServerType, csGetHostType());
    b.built = 1;
}

}  // namespace

int csInitBrowse(void)
{
    std::unique_ptr<Browse> b(new (std::nothrow) Browse);
    if (!b)
        return -1;
    b->socket = csPrepareSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    if (b->socket == nullptr)
        return -1;
    b->target = ns::nameOf(cmNetBiosGetDomain()->name, 0x1D, true);
    gBrowse = std::move(b);
    return 0;
}

void csStopBrowse(void)
{
    if (!gBrowse)
        return;
    nsClose(gBrowse->socket);
    gBrowse.reset();
}

const uint8_t *csGetHostAnnouncement(void)
{
    if (!gBrowse)
        return nullptr;
    build(*gBrowse);
    return gBrowse->message.data();
}

int csAnnounceServer(void)
{
    if (!gBrowse)
        return -1;
    Browse &b = *gBrowse;
    build(b);
    put32(b.message.data() + kPeriodicity, b.period * 1000);
    if (cmNetBiosGetHostNameZeroed()[0] != '\0' &&
        nsSendToName(b.socket, b.message.data(), CS_ANNOUNCEMENT_SIZE, &b.target) != CS_ANNOUNCEMENT_SIZE)
        return -1;
    uint32_t used = b.period;
    b.period = b.period * 2 < CS_ANNOUNCE_MAX_PERIOD ? b.period * 2 : CS_ANNOUNCE_MAX_PERIOD;
    return static_cast<int>(used);
}
