// Own names: registration on every adapter (WINS or broadcast), refresh,
// end-node challenge, defence, release and node status.
#include "nd_internal.h"

#include "cmbuffer.h"
#include "ndpackets.h"
#include "ns_internal.h"
#include "nssocket.h"
#include "udhooks.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <memory>

namespace {

enum State : uint32_t {
    Idle = 0,
    Registered = 1,
    RegisteredWins = 2,
    Released = 3,
    RegisteringWins = 4,
    RegisteringBcast = 5,
    RefusedWins = 6,
    RefusedNode = 7,
    WinsSilent = 8,
    Challenge = 9,
    Claiming = 10,
};

struct PerAdapter {
    NDAdapter *adapter = nullptr;
    uint32_t state = Idle;
    uint32_t retries = 0;
    uint32_t timer = 0;
    uint32_t period = 0;
    uint16_t lastId = 0;
    uint16_t firstId = 0;
    uint32_t outstanding = 0;
};

struct OwnName {
    int32_t index = -1;
    CMNetBiosNameInfo name{};
    uint16_t requesterPort = 0;
    uint16_t requesterId = 0;
    NDAdapter *requester = nullptr;
    PerAdapter records[ND_MAX_ADAPTERS];
    uint32_t registrations = 0;
    uint32_t outstandingWins = 0;
    uint32_t positiveSeen = 0;
    uint32_t fallback = 0;
    uint32_t answerPending = 0;
    uint32_t onWire = 0;
    std::vector<uint16_t> ports;
};

std::unique_ptr<OwnName[]> names;

uint32_t loopbackIp() { return htonl(INADDR_LOOPBACK); }

bool isFree(const OwnName &e) { return e.index < 0; }

OwnName *find(const char *name16)
{
    if (!names)
        return nullptr;
    for (uint32_t i = 0; i < ND_OWN_NAMES; ++i)
        if (!isFree(names[i]) && std::memcmp(names[i].name.name, name16, CM_NB_NAME_SIZE) == 0)
            return &names[i];
    return nullptr;
}

void resetEntry(OwnName &e) { e = OwnName{}; }

// Header: id, flags; the generators write the rest from byte 4.
void putHeader(uint8_t *buffer, uint16_t id, uint16_t flags)
{
    buffer[0] = static_cast<uint8_t>(id >> 8);
    buffer[1] = static_cast<uint8_t>(id);
    buffer[2] = static_cast<uint8_t>(flags >> 8);
    buffer[3] = static_cast<uint8_t>(flags);
}

void sendRegistrationAnswer(NDAdapter *via, uint16_t port, uint16_t id, uint16_t flags,
                            const CMNetBiosNameInfo &name, uint32_t ip)
{
    if (via == nullptr || via->send == nullptr)
        return;
    uint8_t rdata[6] = {0, 0};
    std::memcpy(rdata + 2, &ip, 4);
    int n = ndGenerateNameWhateverResponse(via->send, ND_BUFFER_SIZE, &name, ND_TYPE_NB, rdata, 6);
    if (n < 0)
        return;
    putHeader(via->send, id, flags);
    ndSend(via->nameSocket, via->send, static_cast<uint32_t>(n), loopbackIp(), port);
}

void answerPositive(OwnName &e, uint32_t ip)
{
    if (e.requester == nullptr || e.requester->send == nullptr)
        return;
    if (e.answerPending) {
        e.answerPending = 0;
        ++e.registrations;
    }
    sendRegistrationAnswer(e.requester, e.requesterPort, e.requesterId, 0xA800, e.name, ip);
}

void answerNegative(OwnName &e, uint32_t ip)
{
    if (e.requester == nullptr || e.requester->send == nullptr)
        return;
    sendRegistrationAnswer(e.requester, e.requesterPort, e.requesterId, 0xA803, e.name, ip);
}

void registrationDone(OwnName &e, uint32_t ip)
{
    answerPositive(e, ip);
    for (auto &r : e.records) {
        // A claim after a challenge ends like a plain registration.
        if (r.state == RegisteringWins || r.state == RegisteringBcast || r.state == WinsSilent ||
            r.state == Claiming) {
            r.state = RegisteredWins;
            r.timer = r.period;
            r.firstId = r.lastId = 0;
            r.outstanding = 0;
        }
    }
}

// One request to ip; records the transaction id in the record.
bool sendRequest(OwnName &e, PerAdapter &r, uint16_t flags, uint32_t ip, bool firstOfPass, bool count)
{
    NDAdapter *a = r.adapter;
    int n = ndGenerateNameWhateverRequest(a->send, ND_BUFFER_SIZE, &e.name, &a->ip, a->bNode, e.name.isGroup);
    if (n < 0)
        return false;
    uint16_t id = cmNetBiosGetNextTranId();
    putHeader(a->send, id, flags);
    r.lastId = id;
    if (firstOfPass)
        r.firstId = id;
    if (!ndSend(a->nameSocket, a->send, static_cast<uint32_t>(n), ip, ndPort(137)))
        return false;
    if (count) {
        ++r.outstanding;
        ++e.outstandingWins;
    }
    return true;
}

void sendRegistration(OwnName &e, PerAdapter &r)
{
    const bool multiHomed = ndGetNumAdapters() >= 2 && !e.name.isGroup;
    if (r.state == RegisteringBcast) {
        // Multi-homed registrations are for name servers only: a defending
        // node drops one that is broadcast, and the conflict goes unseen.
        sendRequest(e, r, 0x2810, r.adapter->bcast, true, true);
        return;
    }
    uint32_t n = cmNetBiosGetNumWinsServers();
    for (uint32_t i = 0; i < n; ++i)
        if (!sendRequest(e, r, multiHomed ? 0x7800 : 0x2800, cmNetBiosGetWins(i), i == 0, true))
            break;
}

void sendRefresh(OwnName &e, PerAdapter &r)
{
    if (r.state == Registered) {
        sendRequest(e, r, 0x4000, r.adapter->bcast, true, false);
        return;
    }
    uint32_t n = cmNetBiosGetNumWinsServers();
    for (uint32_t i = 0; i < n; ++i)
        if (!sendRequest(e, r, 0x4000, cmNetBiosGetWins(i), i == 0, false))
            break;
}

void registerOnAdapter(NDAdapter *requester, NDAdapter *adapter, OwnName &e)
{
    PerAdapter &r = e.records[adapter->ordinal];
    r.adapter = adapter;
    e.requester = requester;
    if (requester != nullptr) {
        e.requesterPort = requester->srcPort;
        e.requesterId = requester->tranId;
    }
    uint8_t suffix = static_cast<uint8_t>(e.name.name[15]);
    if (suffix == 0x01 || suffix == 0xFF) {
        e.onWire = 0;
        r.state = Registered;
        answerPositive(e, adapter->ip);
        return;
    }
    e.onWire = 1;
    switch (r.state) {
    case Idle:
    case Released:
        if (adapter->bNode) {
            r.state = RegisteringBcast;
            r.timer = 1;
        } else {
            r.state = RegisteringWins;
            r.timer = 2;
        }
        r.retries = 2;
        r.period = 2;
        sendRegistration(e, r);
        break;
    case Registered:
    case RegisteredWins:
        answerPositive(e, adapter->ip);
        break;
    case RefusedWins:
    case RefusedNode:
        answerNegative(e, adapter->ip);
        break;
    default:
        break;  // the running registration answers later
    }
}

// The record of e whose sending pass holds the message's transaction id.
PerAdapter *findTransaction(const NDMessage &m, OwnName **entry)
{
    OwnName *e = find(m.name.name);
    if (e == nullptr)
        return nullptr;
    for (auto &r : e->records) {
        if (r.adapter != nullptr && r.firstId != 0 && m.id >= r.firstId && m.id <= r.lastId) {
            *entry = e;
            return &r;
        }
    }
    return nullptr;
}

void sendReleaseAnswer(NDAdapter *requester, bool positive, const CMNetBiosNameInfo &name, uint32_t ip)
{
    if (requester == nullptr)
        return;
    sendRegistrationAnswer(requester, requester->srcPort, requester->tranId, positive ? 0xB000 : 0xB003, name,
                           ip);
}

void positiveRegistration(NDAdapter *adapter, const NDMessage &m)
{
    OwnName *e = nullptr;
    PerAdapter *r = findTransaction(m, &e);
    if (r == nullptr || (r->state != RegisteringWins && r->state != Claiming))
        return;
    NDRecord rec;
    if (!ndReadRecord(adapter, m.behindName, &rec))
        return;
    if ((m.flags & 0x0080) == 0) {
        // End-node challenge: ask the owner named in the answer.
        if (rec.rdLength < 6)
            return;
        uint32_t owner;
        std::memcpy(&owner, rec.rdata + rec.rdLength - 4, 4);
        r->state = Challenge;
        r->retries = 3;
        NDAdapter *a = r->adapter;
        int n = ndGenerateNameQueryRequest(a->send, ND_BUFFER_SIZE, &e->name);
        if (n < 0)
            return;
        putHeader(a->send, r->lastId, 0x0000);
        ndSend(a->nameSocket, a->send, static_cast<uint32_t>(n), owner, ndPort(137));
        return;
    }
    // TTL 0 means no refresh, not a period of 0xFFFFFFFF.
    r->period = rec.ttl == 0 ? 0 : rec.ttl - 1;
    if (r->outstanding > 0)
        --r->outstanding;
    e->positiveSeen = 1;
    if (e->outstandingWins > 0)
        --e->outstandingWins;
    if (e->outstandingWins == 0)
        registrationDone(*e, r->adapter->ip);
}

void negativeRegistration(NDAdapter *adapter, const NDMessage &m)
{
    OwnName *e = nullptr;
    PerAdapter *r = findTransaction(m, &e);
    if (r == nullptr || r->state < RegisteringWins || r->state > RefusedNode)
        return;
    answerNegative(*e, adapter->ip);
    e->onWire = 0;
    if (r->state == RegisteringWins)
        r->state = RefusedWins;
    else if (r->state == RegisteringBcast)
        r->state = RefusedNode;
}

void wack(NDAdapter *adapter, const NDMessage &m)
{
    OwnName *e = nullptr;
    PerAdapter *r = findTransaction(m, &e);
    if (r == nullptr || (r->state != RegisteringWins && r->state != Claiming))
        return;
    NDRecord rec;
    // A WACK of TTL 0 would stall the record for 2^32 runs.
    if (!ndReadRecord(adapter, m.behindName, &rec) || rec.ttl == 0)
        return;
    r->timer = r->period = rec.ttl - 1;
}

void challengeAnswer(const NDMessage &m, bool ownerHolds)
{
    OwnName *e = nullptr;
    PerAdapter *r = findTransaction(m, &e);
    if (r == nullptr || r->state != Challenge)
        return;
    if (ownerHolds) {
        r->state = Released;
        answerNegative(*e, r->adapter->ip);
        return;
    }
    r->state = Claiming;
    r->retries = 3;
    sendRefresh(*e, *r);
}

void checkConflict(NDAdapter *adapter, const NDMessage &m)
{
    OwnName *e = find(m.name.name);
    if (e == nullptr || adapter->srcIp == adapter->ip || !e->onWire || e->name.isGroup || !adapter->bNode)
        return;
    uint8_t rdata[6] = {0, 0};
    std::memcpy(rdata + 2, &adapter->ip, 4);
    int n = ndGenerateNameWhateverResponse(adapter->send, ND_BUFFER_SIZE, &e->name, ND_TYPE_NB, rdata, 6);
    if (n < 0)
        return;
    putHeader(adapter->send, m.id, 0xA807);
    ndSend(adapter->nameSocket, adapter->send, static_cast<uint32_t>(n), adapter->srcIp, adapter->srcPort);
}

bool listedInStatus(uint32_t state, uint16_t *flags)
{
    switch (state) {
    case Registered:
    case RegisteredWins:
    case WinsSilent:
    case Claiming:
        *flags = 0;
        return true;
    case Challenge:
        *flags = 0x0800;  // conflict
        return true;
    case RefusedWins:
    case RefusedNode:
        *flags = 0x1000;  // deregistering
        return true;
    default:
        return false;
    }
}

void nodeStatus(NDAdapter *adapter, const NDMessage &m)
{
    if (m.name.name[0] != '*' && find(m.name.name) == nullptr)
        return;
    CMBufferWriter w = ns::writer(adapter->send, ND_BUFFER_SIZE);
    cmBufferWriteUint16(&w, m.id);
    cmBufferWriteUint16(&w, 0x8400);
    cmBufferWriteUint16(&w, 0);
    cmBufferWriteUint16(&w, 1);
    cmBufferWriteUint16(&w, 0);
    cmBufferWriteUint16(&w, 0);
    // Answer record: the asked name
    if (!ns::writeName(&w, &m.name))
        return;
    cmBufferWriteUint16(&w, ND_TYPE_NBSTAT);
    cmBufferWriteUint16(&w, ND_CLASS_IN);
    cmBufferWriteUint32(&w, 0);
    uint8_t *rdLength = cmBufferWriterGetPosition(&w);
    cmBufferWriteUint16(&w, 0);
    uint8_t *count = cmBufferWriterGetPosition(&w);
    cmBufferWriteByte(&w, 0);
    uint8_t listed = 0;
    for (uint32_t i = 0; i < ND_OWN_NAMES; ++i) {
        const OwnName &e = names[i];
        uint16_t extra;
        if (isFree(e) || !listedInStatus(e.records[adapter->ordinal].state, &extra) ||
            e.records[adapter->ordinal].adapter != adapter)
            continue;
        // Node name: 16 bytes and NAME_FLAGS (active)
        cmBufferWriteBytes(&w, e.name.name, CM_NB_NAME_SIZE);
        cmBufferWriteUint16(
            &w, static_cast<uint16_t>(ndNameFlags(adapter->bNode, e.name.isGroup) | 0x0400 | extra));
        ++listed;
    }
    // Statistics: the unit id (MAC), the counters zero
    cmBufferWriteBytes(&w, adapter->mac, 6);
    cmBufferWriteZeroes(&w, 40);
    if (cmBufferWriterIsOverrun(&w))
        return;
    uint32_t total = cmBufferWriterGetDataCount(&w);
    uint32_t rdl = static_cast<uint32_t>(adapter->send + total - count);
    rdLength[0] = static_cast<uint8_t>(rdl >> 8);
    rdLength[1] = static_cast<uint8_t>(rdl);
    *count = listed;
    ndSend(adapter->nameSocket, adapter->send, total, adapter->srcIp, adapter->srcPort);
}

void positiveQueryAnswer(NDAdapter *adapter, const OwnName &e, uint16_t id)
{
    uint8_t rdata[6];
    uint16_t flags = htons(ndNameFlags(adapter->bNode, e.name.isGroup));
    std::memcpy(rdata, &flags, 2);
    std::memcpy(rdata + 2, &adapter->ip, 4);
    int n = ndGenerateNameWhateverResponse(adapter->send, ND_BUFFER_SIZE, &e.name, ND_TYPE_NB, rdata, 6);
    if (n < 0)
        return;
    putHeader(adapter->send, id, 0x8400);
    ndSend(adapter->nameSocket, adapter->send, static_cast<uint32_t>(n), adapter->srcIp, adapter->srcPort);
}

}  // namespace

int ndInternalNameInit()
{
    names.reset(new (std::nothrow) OwnName[ND_OWN_NAMES]);
    return names ? 0 : -1;
}

void ndInternalNameStop() { names.reset(); }

int ndInternalNameFind(const char *name16)
{
    OwnName *e = find(name16);
    return e != nullptr ? e->index : -1;
}

int ndInternalNameState(const char *name16, uint32_t ordinal)
{
    OwnName *e = find(name16);
    if (e == nullptr || ordinal >= ND_MAX_ADAPTERS)
        return -1;
    return static_cast<int>(e->records[ordinal].state);
}

uint32_t ndInternalNameCount(const char *name16)
{
    OwnName *e = find(name16);
    return e != nullptr ? e->registrations : 0;
}

void ndInternalNameRegisterAllAdapters(NDAdapter *requester, const CMNetBiosNameInfo *name)
{
    if (!names)
        return;
    OwnName *e = find(name->name);
    if (e == nullptr) {
        for (uint32_t i = 0; i < ND_OWN_NAMES && e == nullptr; ++i) {
            if (isFree(names[i])) {
                e = &names[i];
                resetEntry(*e);
                e->index = static_cast<int32_t>(i);
                e->name = *name;
            }
        }
        if (e == nullptr)
            return;  // the requester's wait ends by its own time-out
    }
    e->answerPending = 1;
    e->positiveSeen = e->fallback = e->outstandingWins = 0;
    bool any = false;
    for (NDAdapter *a; (a = ndAdapterGetNext()) != nullptr;) {
        any = true;
        e->records[a->ordinal].outstanding = 0;
        registerOnAdapter(requester, a, *e);
    }
    if (!any) {
        e->requester = requester;
        if (requester != nullptr) {
            e->requesterPort = requester->srcPort;
            e->requesterId = requester->tranId;
        }
        answerNegative(*e, 0xFFFFFFFFu);
    }
}

void ndConfigChangeRegisterAllNames(NDAdapter *savedRequester)
{
    if (!names)
        return;
    for (uint32_t i = 0; i < ND_OWN_NAMES; ++i) {
        OwnName &e = names[i];
        if (isFree(e))
            continue;
        e.outstandingWins = e.positiveSeen = e.fallback = 0;
        for (NDAdapter *a; (a = ndAdapterGetNext()) != nullptr;) {
            e.records[a->ordinal].outstanding = 0;
            NDAdapter *requester = e.name.isGroup ? nullptr : savedRequester;
            registerOnAdapter(requester != nullptr && requester->send != nullptr ? requester : nullptr, a, e);
        }
    }
}

void ndInternalNameReleaseAllAdapters(NDAdapter *requester, const CMNetBiosNameInfo *name, int final)
{
    OwnName *e = find(name->name);
    if (e == nullptr) {
        if (requester != nullptr)
            sendReleaseAnswer(requester, false, *name, requester->ip);
        return;
    }
    if (requester != nullptr) {
        e->requester = requester;
        e->requesterPort = requester->srcPort;
        e->requesterId = requester->tranId;
    } else {
        e->requesterPort = 0;
    }
    if (e->registrations != 0) {
        --e->registrations;
        if (e->registrations != 0 && final) {
            sendReleaseAnswer(requester, true, *name, requester != nullptr ? requester->ip : 0);
            return;
        }
    }
    for (NDAdapter *a; (a = ndAdapterGetNext()) != nullptr;) {
        PerAdapter &r = e->records[a->ordinal];
        r.adapter = a;
        switch (r.state) {
        case Idle:
            sendReleaseAnswer(requester, false, *name, a->ip);
            break;
        case Released:
            sendReleaseAnswer(requester, true, *name, a->ip);
            break;
        case Registered:
        case RegisteringBcast:
            if (e->onWire)
                sendRequest(*e, r, 0x3010, a->bcast, true, false);
            break;
        case RegisteredWins:
        case RegisteringWins:
            if (e->onWire) {
                uint32_t n = cmNetBiosGetNumWinsServers();
                for (uint32_t i = 0; i < n; ++i)
                    if (!sendRequest(*e, r, 0x3000, cmNetBiosGetWins(i), i == 0, false))
                        break;
            }
            break;
        default:
            continue;  // states 6 to 10 stay
        }
        r.state = Idle;
    }
    if (requester != nullptr)
        sendReleaseAnswer(requester, ndGetNumAdapters() > 0, *name, requester->ip);
    if (final)
        resetEntry(*e);
}

void ndInternalNameReleaseAllNames(int final)
{
    if (!names)
        return;
    for (uint32_t i = 0; i < ND_OWN_NAMES; ++i)
        if (!isFree(names[i])) {
            CMNetBiosNameInfo name = names[i].name;
            ndInternalNameReleaseAllAdapters(nullptr, &name, final);
        }
}

uint32_t ndInternalNameTimeout(uint32_t elapsed)
{
    uint32_t next = 1;
    if (!names)
        return next;
    for (uint32_t i = 0; i < ND_OWN_NAMES; ++i) {
        OwnName &e = names[i];
        if (isFree(e))
            continue;
        for (auto &r : e.records) {
            if (r.adapter == nullptr)
                continue;
            switch (r.state) {
            case RegisteredWins:
                if (r.period == 0)
                    break;
                // A run that passes more seconds than remain still refreshes.
                if (elapsed >= r.timer) {
                    r.timer = r.period;
                    sendRefresh(e, r);
                    next = r.period;
                } else {
                    r.timer -= elapsed;
                }
                break;
            case RegisteringWins:
                next = 1;
                if (r.period == 0)
                    break;
                if (r.timer != 0) {
                    --r.timer;
                    break;
                }
                e.outstandingWins -= std::min(e.outstandingWins, r.outstanding);
                r.outstanding = 0;
                if (e.positiveSeen) {
                    if (e.outstandingWins == 0)
                        registrationDone(e, r.adapter->ip);
                } else if (r.retries != 0) {
                    --r.retries;
                    r.timer = r.period;
                    if (r.retries != 0)
                        sendRegistration(e, r);
                } else if (e.outstandingWins != 0) {
                    r.state = WinsSilent;
                    r.retries = 0;
                    r.timer = r.period;
                } else {
                    e.fallback = 1;
                    r.state = RegisteringBcast;
                    r.retries = 2;
                    r.timer = r.period;
                    sendRegistration(e, r);
                }
                break;
            case RegisteringBcast:
                next = 1;
                if (r.period == 0)
                    break;
                if (r.timer != 0)
                    --r.timer;
                if (r.timer == 0) {
                    --r.retries;
                    if (r.retries != 0) {
                        r.period = 2;
                        r.timer = 1;
                        sendRegistration(e, r);
                    } else {
                        r.state = Registered;
                        answerPositive(e, r.adapter->ip);
                    }
                }
                break;
            case WinsSilent:
                if (e.fallback) {
                    r.state = RegisteringBcast;
                    r.retries = 2;
                    r.timer = r.period;
                    sendRegistration(e, r);
                }
                break;
            case Claiming:
                next = 1;
                if (r.period == 0)
                    break;
                if (r.timer != 0) {
                    --r.timer;
                } else if (r.retries != 0) {
                    --r.retries;
                    r.timer = r.period;
                    sendRefresh(e, r);
                } else {
                    r.state = Released;
                    answerNegative(e, r.adapter->ip);
                }
                break;
            default:
                break;
            }
        }
    }
    return next;
}

int ndInternalProcessNameQuery(NDAdapter *adapter, const CMNetBiosNameInfo *name, int)
{
    if (!names)
        return -1;
    if (name->name[0] == '*') {
        for (uint32_t i = 0; i < ND_OWN_NAMES; ++i) {
            const OwnName &e = names[i];
            uint32_t s = e.records[adapter->ordinal].state;
            if (!isFree(e) && e.records[adapter->ordinal].adapter == adapter &&
                (s == Registered || s == RegisteredWins))
                positiveQueryAnswer(adapter, e, adapter->tranId);
        }
        return 0;
    }
    OwnName *e = find(name->name);
    if (e == nullptr || !e->onWire)
        return -1;
    for (const auto &r : e->records) {
        if (r.adapter == adapter && (r.state == Registered || r.state == RegisteredWins ||
                                     r.state == RegisteringWins || r.state == RegisteringBcast)) {
            positiveQueryAnswer(adapter, *e, adapter->tranId);
            return 0;
        }
    }
    return -1;
}

void ndInternalNameOnResponse(NDAdapter *adapter, const NDMessage &m)
{
    switch (m.key) {
    case 0x0000: {
        // Question: QTYPE, QCLASS
        CMBufferReader r = ns::reader(adapter->recv, adapter->length);
        cmBufferReaderSetOffset(&r, m.behindName);
        uint16_t type = 0;
        cmBufferReadUint16(&r, &type);
        if (cmBufferReaderIsOverrun(&r))
            return;
        if (type == ND_TYPE_NB)
            ndInternalProcessNameQuery(adapter, &m.name, 1);
        else if (type == ND_TYPE_NBSTAT)
            nodeStatus(adapter, m);
        break;
    }
    case 0x2800:
        checkConflict(adapter, m);
        break;
    case 0x8000:
        challengeAnswer(m, true);
        break;
    case 0x8001:
        challengeAnswer(m, false);
        break;
    case 0xA800:
        positiveRegistration(adapter, m);
        break;
    case 0xA801:
        negativeRegistration(adapter, m);
        break;
    case 0xB800:
        wack(adapter, m);
        break;
    default:
        break;
    }
}

int ndInternalNameSetPort(const char *name16, uint16_t port)
{
    OwnName *e = find(name16);
    if (e == nullptr)
        return -1;
    // A listener asking twice is recorded once; the list stays bounded.
    if (port != 0 && e->ports.size() < ND_MAX_LISTENERS &&
        std::find(e->ports.begin(), e->ports.end(), port) == e->ports.end())
        e->ports.push_back(port);
    return 0;
}

const std::vector<uint16_t> *ndInternalNameGetPort(const char *name16)
{
    OwnName *e = find(name16);
    return e != nullptr ? &e->ports : nullptr;
}
