// The daemon's adapter table: one record per own IPv4 address, rebuilt at
// start-up and at every configuration change.
#include "nd_internal.h"

#include "cmselfip.h"
#include "nssocket.h"
#include "syadapter.h"

#include <arpa/inet.h>
#include <cstring>
#include <memory>

namespace {

struct AdapterTable {
    uint32_t loaded = 0;
    NDAdapter records[ND_MAX_ADAPTERS]{};
    uint32_t count = 0;
    uint32_t cursor = 0;
};

std::unique_ptr<AdapterTable> table;

void clearSockets(NDAdapter &a)
{
    a.nameSocket = -1;
    a.datagramSocket = -1;
}

// One own address into the table; false when no record is free.
bool take(const NDSelfAddress &self, const char *ifname)
{
    uint32_t loopback = htonl(INADDR_LOOPBACK);
    uint32_t bcast = self.bcast;
    // An address set without "brd" reports none (or itself): messages from
    // its subnet are still recognised by the subnet's broadcast address.
    if ((bcast == 0 || bcast == self.ip) && self.mask != 0)
        bcast = self.ip | ~self.mask;
    if (self.ip == loopback)
        bcast = 255u;
    uint32_t bNode = cmNetBiosGetNumWinsServers() == 0 ? 1 : 0;
    NDAdapter *slot = nullptr;
    for (auto &a : table->records) {
        if (a.status != 0 && a.ip == self.ip && a.bcast == bcast) {
            a.status = 2;
            a.bNode = bNode;
            slot = &a;
            break;
        }
    }
    if (slot == nullptr) {
        for (auto &a : table->records) {
            if (a.status == 0) {
                slot = &a;
                break;
            }
        }
        if (slot == nullptr)
            return false;
        *slot = NDAdapter{};
        slot->ip = self.ip;
        slot->bcast = bcast;
        slot->bNode = bNode;
        slot->status = 1;
        slot->mask = self.mask;
        if (ifname != nullptr)
            syGetMacAddressByName(ifname, slot->mac);
        clearSockets(*slot);
    }
    slot->ordinal = table->count++;
    return true;
}

void beginLoad()
{
    for (auto &a : table->records)
        if (a.status != 0)
            a.status = -1;
    table->count = 0;
}

void endLoad()
{
    table->loaded = 1;
    for (auto &a : table->records) {
        if (a.status == -1) {
            a.status = 0;
            clearSockets(a);
        }
    }
}

}  // namespace

int ndAdapterListInit()
{
    table.reset(new (std::nothrow) AdapterTable);
    return table ? 0 : -1;
}

int ndAdapterListLoad()
{
    if (!table)
        return -1;
    beginLoad();
    cmSelfipIterate();
    const CMSelfIp *self;
    while (table->count < ND_MAX_ADAPTERS && (self = cmSelfipNext()) != nullptr) {
        if (!take(NDSelfAddress{self->ip, self->bcast, self->mask}, self->name)) {
            cmSelfipTerminate();
            return -1;
        }
    }
    endLoad();
    cmSelfipTerminate();
    return 0;
}

int ndAdapterListLoadFrom(const std::vector<NDSelfAddress> &addresses)
{
    if (!table)
        return -1;
    beginLoad();
    for (const auto &self : addresses) {
        if (table->count >= ND_MAX_ADAPTERS)
            break;
        if (!take(self, nullptr))
            return -1;
    }
    endLoad();
    return 0;
}

void ndAdapterListStop()
{
    if (!table)
        return;
    for (auto &a : table->records)
        clearSockets(a);
    table.reset();
}

uint32_t ndGetNumAdapters() { return table ? table->count : 0; }

NDAdapter *ndAdapterGetNext()
{
    if (!table)
        return nullptr;
    while (table->cursor < ND_MAX_ADAPTERS) {
        NDAdapter &a = table->records[table->cursor++];
        if (a.status != 0)
            return &a;
    }
    table->cursor = 0;
    return nullptr;
}

NDAdapter *ndFindAdapter(uint32_t sourceIp, NDAdapter *fallback)
{
    if (!table)
        return fallback;
    table->cursor = 0;
    const bool local = sourceIp == htonl(INADDR_LOOPBACK);
    NDAdapter *found = nullptr;
    for (auto &a : table->records) {
        if (a.status == 0)
            continue;
        uint32_t want = local ? sourceIp : (sourceIp | ~a.mask);
        if (a.bcast == want) {
            found = &a;
            break;
        }
    }
    table->cursor = 0;
    return found != nullptr ? found : fallback;
}
