// The WINS record: servers the name resolver asks by unicast, the flag of
// the domain group name, and the hand-over of a new list to the daemon.
#include "nssocket.h"

#include "cmipaddr.h"
#include "cmmemory.h"
#include "cmresolver.h"
#include "cmstring.h"
#include "nschannel.h"
#include "ns_internal.h"
#include "udhooks.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

struct WinsRecord {
    uint32_t domainGroupRegistered = 0;
    uint32_t servers[NS_MAX_WINS_SERVERS] = {};
    uint32_t count = 0;
};

std::unique_ptr<WinsRecord> gWins;

// The NetBIOS methods of the resolver: by broadcast through the daemon, and
// by unicast to a WINS server.
const CMResolverMethodDescriptor kBroadcast = {
    2, 1, 4, {2000, 0}, 0, nsRequestByNameBcast, nsResponseByName, nsRequestByIp, nsResponseByIp,
};
const CMResolverMethodDescriptor kBroadcastDC = {
    10,
    1,
    4,
    {2000, 0},
    0,
    nsRequestByNameBcastDC,
    ns::responseByNameDC,
    ns::requestByIpDC,
    ns::responseByIpDC,
};
const CMResolverMethodDescriptor kWinsMethod = {
    2, 0, 2, {1000, 0}, 1, nsRequestByNameWins, nsResponseByName, nsRequestByIp, nsResponseByIp,
};
const CMResolverMethodDescriptor kWinsDC = {
    10,
    0,
    2,
    {1000, 0},
    0,
    nsRequestByNameWinsDC,
    ns::responseByNameDC,
    ns::requestByIpDC,
    ns::responseByIpDC,
};

void removeWinsMethods()
{
    if (!gWins)
        return;
    const uint32_t key[2] = {kWinsMethod.type, kWinsMethod.isBroadcast};
    for (uint32_t i = 0; i < gWins->count; ++i)
        cmResolverRemoveMethod(key, &gWins->servers[i]);
    gWins->count = 0;
}

void parseList(const CMWchar *list)
{
    const CMWchar *p = list;
    while (*p != 0 && gWins->count < NS_MAX_WINS_SERVERS) {
        const CMWchar *end = p;
        while (*end != 0 && *end != ';')
            ++end;
        size_t chars = static_cast<size_t>(end - p);
        if (chars > 0 && chars < 16) {
            CMWchar item[16] = {};
            std::memcpy(item, p, chars * sizeof(CMWchar));
            char text[16] = {};
            cmUnicodeToAnsiN(text, item, sizeof text);
            text[15] = '\0';
            uint32_t ip = 0;
            if (cmAsciiToIp(text, &ip) == 0) {
                gWins->servers[gWins->count] = ip;
                if (cmResolverRegisterMethod(&kWinsMethod, &gWins->servers[gWins->count]) != 0)
                    ++gWins->count;
            }
        }
        p = *end == ';' ? end + 1 : end;
    }
}

}  // namespace

namespace ns {

int initSession()
{
    if (gWins)
        return 0;
    gWins.reset(new (std::nothrow) WinsRecord);
    if (!gWins)
        return fail(CM_ERR_NOMEM);
    uint32_t wins = udGetWins();
    if (wins != 0) {
        gWins->servers[0] = wins;
        gWins->count = 1;
    }
    return 0;
}

void exitSession() { gWins.reset(); }

void registerResolverMethods()
{
    cmResolverRegisterMethod(&kBroadcast, nullptr);
    uint32_t wins = udGetWins();
    if (wins == 0) {
        cmResolverRegisterMethod(&kBroadcastDC, nullptr);
        return;
    }
    cmResolverRegisterMethod(&kWinsMethod, &wins);
    cmResolverRegisterMethod(&kBroadcastDC, nullptr);
    cmResolverRegisterMethod(&kWinsDC, &wins);
}

bool domainGroupRegistered() { return gWins && gWins->domainGroupRegistered != 0; }

void setDomainGroupRegistered(bool value)
{
    if (gWins)
        gWins->domainGroupRegistered = value ? 1 : 0;
}

}  // namespace ns

uint32_t cmNetBiosGetNumWinsServers(void) { return gWins ? gWins->count : 0; }

uint32_t cmNetBiosGetWins(uint32_t index)
{
    return gWins && index < gWins->count ? gWins->servers[index] : 0;
}

void ndSetWinsW(const CMWchar *list)
{
    if (!gWins)
        return;
    removeWinsMethods();
    if (list != nullptr && *list != 0)
        parseList(list);
}

void cmNetBiosSetWinsW(const CMWchar *list)
{
    ndSetWinsW(list);
    nsRefreshNetBios(list);
}

void cmNetBiosSetWinsA(const char *list)
{
    if (list == nullptr) {
        cmNetBiosSetWinsW(nullptr);
        return;
    }
    std::vector<CMWchar> wide(std::strlen(list) + 1, 0);
    cmAnsiToUnicode(wide.data(), list);
    cmNetBiosSetWinsW(wide.data());
}
