// The DNS and LLMNR client: the domain and servers from the hooks or the
// host, one host-name and one domain-controller method per server, the LLMNR
// method, queries and the reading of their answers. An answer counts only
// when it carries the id of a question this method asked and, from a server,
// when it comes from that server's port 53.
#include "cmdns.h"

#include "cmipaddr.h"
#include "cmmemory.h"
#include "cmnetbios.h"
#include "cmresolver.h"
#include "cmselfip.h"
#include "cmstring.h"
#include "syerror.h"
#include "sysockets.h"
#include "mutex_hold.h"
#include "sythread.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>

namespace {

constexpr uint32_t kServerListUnits = 4096;
constexpr uint32_t kEntryMax = 15;  // an address as text
constexpr uint32_t kMethodTimeoutMs = 1000;
constexpr uint32_t kHostAnswerSize = 1460;
constexpr uint32_t kOtherAnswerSize = 1024;
constexpr uint32_t kMaxHostAddresses = 10;
constexpr uint32_t kServiceWaitSeconds = 4;
constexpr char kDcPrefix[] = "_ldap._tcp.dc._msdcs.";

struct DnsContext {
    char domain[CM_DNS_DOMAIN_MAX + 1];
    uint32_t servers[CM_DNS_MAX_SERVERS];
    uint32_t count;
    uint16_t queryId;
    uint32_t llmnr;
    SYMutex mutex;
    uint32_t configured;
    // The methods run under the resolver's mutex and take only this one,
    // which guards the domain text and the id counter and is never held
    // while calling out: the resolver is called with the mutex above held.
    SYMutex nameMutex;
};

DnsContext *gDns = nullptr;

// What a question leaves for its answers: the ids asked and where.
struct Asked {
    uint16_t ids[2];
    uint32_t idCount;
    uint32_t target;
};

uint32_t llmnrGroup()
{
    uint32_t group = 0;
    cmAsciiToIp(CM_LLMNR_GROUP, &group);
    return group;
}

uint16_t nextId()
{
    MutexHold hold(gDns->nameMutex);
    return ++gDns->queryId;
}

// Sends one question; the id it used in *id. 0, or the error.
int sendQuery(int socket, const char *name, uint16_t type, uint32_t target, uint16_t *id)
{
    uint8_t buffer[CM_DNS_HEADER_SIZE + CM_DNS_NAME_MAX + 2 + 4];
    CMBufferWriter w;
    cmBufferWriterInit(&w, buffer, sizeof buffer);
    cmBufferWriterSetByteOrder(&w, 0);
    *id = nextId();
    CMDnsHeader h{*id, 0x01, 0x00, 1, 0, 0, 0};
    nsWriteDnsHeader(&w, &h);
    if (nsDnsEncodeName(&w, name) != 0)
        return EINVAL;
    cmBufferWriteUint16(&w, type);
    cmBufferWriteUint16(&w, 1);
    if (cmBufferWriterIsOverrun(&w))
        return EINVAL;
    uint32_t size = cmBufferWriterGetDataCount(&w);
    int sent = target == llmnrGroup() ? sySendMulticast(socket, buffer, size, &target, htons(CM_LLMNR_PORT))
                                      : sySendToSocket(socket, buffer, size, &target, htons(CM_DNS_PORT));
    return sent >= 1 ? 0 : (errno != 0 ? errno : EIO);
}

// A question that cannot be asked for want of memory.
int noMemory()
{
    sySetLastVxError(CM_ERR_NOMEM);
    return -1;
}

Asked *askedOf(void **context)
{
    cmMemoryFreeNonDebug(*context);
    auto *asked = static_cast<Asked *>(cmMemoryAllocNonDebug(sizeof(Asked)));
    *context = asked;
    if (asked != nullptr)
        std::memset(asked, 0, sizeof *asked);
    return asked;
}

// Reads one datagram; its length, 0 for one that is no answer to what was
// asked (wrong id, another sender), -1 when nothing could be read.
int receiveAnswer(int socket, void **context, uint8_t *buffer, uint32_t size, uint16_t *id)
{
    uint32_t from = 0;
    uint16_t port = 0;
    int n = syRecvFromSocket(socket, buffer, size, &from, &port);
    if (n < 0)
        return -1;
    const auto *asked = static_cast<const Asked *>(*context);
    if (asked == nullptr || n < static_cast<int>(CM_DNS_HEADER_SIZE))
        return 0;
    if (asked->target != llmnrGroup() && (from != asked->target || port != htons(CM_DNS_PORT)))
        return 0;
    uint16_t got = static_cast<uint16_t>((buffer[0] << 8) | buffer[1]);
    for (uint32_t i = 0; i < asked->idCount; ++i) {
        if (asked->ids[i] == got) {
            *id = got;
            return n;
        }
    }
    return 0;
}

// The name as asked: a single label gets the DNS domain, except over LLMNR,
// whose responders answer their own single-label names.
bool queryName(const CMWchar *wname, uint32_t target, char *out)
{
    if (wname == nullptr || cmWStrlen(wname) > CM_DNS_NAME_MAX)
        return false;
    cmUnicodeToAnsi(out, wname);
    if (target == llmnrGroup() || std::strchr(out, '.') != nullptr)
        return true;
    MutexHold hold(gDns->nameMutex);
    size_t used = std::strlen(out);
    size_t domain = std::strlen(gDns->domain);
    if (domain > 0 && used + 1 + domain <= CM_DNS_NAME_MAX) {
        out[used] = '.';
        std::memcpy(out + used + 1, gDns->domain, domain + 1);
    }
    return true;
}

int hostRequestByName(int socket, const CMWchar *wname, void **context, const uint32_t *server)
{
    if (gDns == nullptr || server == nullptr)
        return -1;
    char name[CM_DNS_NAME_MAX + 1];
    if (!queryName(wname, *server, name))
        return -1;
    Asked *asked = askedOf(context);
    if (asked == nullptr)
        return noMemory();
    asked->target = *server;
    int r = sendQuery(socket, name, CM_DNS_TYPE_A, *server, &asked->ids[0]);
    if (r != 0)
        return -r;
    asked->idCount = 1;
    r = sendQuery(socket, name, CM_DNS_TYPE_AAAA, *server, &asked->ids[1]);
    if (r != 0)
        return 1;
    asked->idCount = 2;
    return 2;
}

int hostResponseByName(int socket, uint32_t **addresses, int *count, void **context)
{
    uint8_t buffer[kHostAnswerSize];
    uint16_t id = 0;
    int n = receiveAnswer(socket, context, buffer, sizeof buffer, &id);
    if (n <= 0)
        return n == 0 ? CM_RESOLVER_PENDING : -1;
    uint32_t found[kMaxHostAddresses];
    uint32_t taken = 0;
    int r = nsDnsParseAnswers(buffer, static_cast<uint32_t>(n), id, CM_DNS_TYPE_A, found, kMaxHostAddresses,
                              &taken, nullptr, 0);
    if (r != 0 || taken == 0)
        return r == CM_DNS_ERR_REFUSED ? r : -1;
    *addresses = static_cast<uint32_t *>(cmMemoryAllocNonDebug(taken * sizeof(uint32_t)));
    if (*addresses == nullptr)
        return CM_ERR_NOMEM;
    std::memcpy(*addresses, found, taken * sizeof(uint32_t));
    *count = static_cast<int>(taken);
    return 0;
}

int hostRequestByIp(int socket, const uint32_t *ip, void **context, const uint32_t *server)
{
    if (gDns == nullptr || server == nullptr || ip == nullptr)
        return -1;
    char *name = nsDnsCreateReversedName(ip);
    Asked *asked = name != nullptr ? askedOf(context) : nullptr;
    if (asked == nullptr) {
        cmMemoryFreeNonDebug(name);
        return noMemory();
    }
    int r = sendQuery(socket, name, CM_DNS_TYPE_PTR, *server, &asked->ids[0]);
    cmMemoryFreeNonDebug(name);
    if (r != 0)
        return -r;
    asked->idCount = 1;
    asked->target = *server;
    return 1;
}

int hostResponseByIp(int socket, CMWchar *wname, void **context, uint32_t *)
{
    uint8_t buffer[kOtherAnswerSize];
    uint16_t id = 0;
    int n = receiveAnswer(socket, context, buffer, sizeof buffer, &id);
    if (n <= 0)
        return n == 0 ? CM_RESOLVER_PENDING : -1;
    char name[CM_DNS_NAME_MAX + 1];
    int r = nsDnsParseAnswers(buffer, static_cast<uint32_t>(n), id, CM_DNS_TYPE_PTR, nullptr, 1, nullptr,
                              name, sizeof name);
    if (r != 0)
        return r;
    cmAnsiToUnicode(wname, name);
    return 0;
}

int dcRequest(int socket, const CMWchar *wdomain, void **context, const uint32_t *server)
{
    if (gDns == nullptr || server == nullptr)
        return -1;
    char name[CM_DNS_NAME_MAX + 1];
    const size_t prefix = sizeof kDcPrefix - 1;
    std::memcpy(name, kDcPrefix, prefix);
    if (wdomain != nullptr && wdomain[0] != 0) {
        if (cmWStrlen(wdomain) > CM_DNS_NAME_MAX - prefix)
            return -1;
        cmUnicodeToAnsi(name + prefix, wdomain);
    } else {
        MutexHold hold(gDns->nameMutex);
        if (gDns->domain[0] == '\0' || std::strlen(gDns->domain) > CM_DNS_NAME_MAX - prefix) {
            sySetLastVxError(CM_DNS_ERR_NO_DOMAIN);
            return -1;
        }
        std::strcpy(name + prefix, gDns->domain);
    }
    Asked *asked = askedOf(context);
    if (asked == nullptr)
        return noMemory();
    asked->target = *server;
    int r = sendQuery(socket, name, CM_DNS_TYPE_SRV, *server, &asked->ids[0]);
    if (r != 0)
        return -r;
    asked->idCount = 1;
    return 1;
}

// The SRV targets as a block of zero-terminated UTF-16 names in *context.
int dcResponse(int socket, CMWchar *, void **context, uint32_t *count)
{
    uint8_t buffer[kOtherAnswerSize];
    uint16_t id = 0;
    int n = receiveAnswer(socket, context, buffer, sizeof buffer, &id);
    if (n <= 0)
        return n == 0 ? CM_RESOLVER_PENDING : -1;
    char names[kOtherAnswerSize];
    uint32_t taken = 0;
    int r = nsDnsParseAnswers(buffer, static_cast<uint32_t>(n), id, CM_DNS_TYPE_SRV, nullptr, 64, &taken,
                              names, sizeof names);
    if (r != 0 || taken == 0)
        return r == CM_DNS_ERR_REFUSED ? r : -1;
    uint32_t units = 0;
    for (uint32_t i = 0, at = 0; i < taken; ++i) {
        size_t len = std::strlen(names + at) + 1;
        units += static_cast<uint32_t>(len);
        at += static_cast<uint32_t>(len);
    }
    auto *block = static_cast<CMWchar *>(cmMemoryAllocNonDebug(units * sizeof(CMWchar)));
    if (block == nullptr)
        return CM_ERR_NOMEM;
    CMWchar *p = block;
    for (uint32_t i = 0, at = 0; i < taken; ++i) {
        cmAnsiToUnicode(p, names + at);
        size_t len = std::strlen(names + at) + 1;
        p += len;
        at += static_cast<uint32_t>(len);
    }
    cmMemoryFreeNonDebug(*context);
    *context = block;
    if (count != nullptr)
        *count = taken;
    return 0;
}

CMResolverMethodDescriptor method(uint32_t type, uint32_t isBroadcast, uint32_t priority)
{
    CMResolverMethodDescriptor d{};
    d.type = type;
    d.isBroadcast = isBroadcast;
    d.priority = priority;
    d.timeout = CMUint64{kMethodTimeoutMs, 0};
    if (type == CM_RESOLVER_DC) {
        d.requestByName = dcRequest;
        d.responseByIp = dcResponse;
    } else {
        d.requestByName = hostRequestByName;
        d.responseByName = hostResponseByName;
        d.requestByIp = hostRequestByIp;
        d.responseByIp = hostResponseByIp;
    }
    return d;
}

void replaceMethod(uint32_t type, uint32_t isBroadcast, uint32_t priority, uint32_t server)
{
    const uint32_t key[2] = {type, isBroadcast};
    cmResolverRemoveMethod(key, &server);
    CMResolverMethodDescriptor d = method(type, isBroadcast, priority);
    cmResolverRegisterMethod(&d, &server);
}

// Both methods of each current server leave the resolver: a server that is
// no longer configured must not be asked about controllers either.
void dropServers(DnsContext &c)
{
    for (uint32_t i = 0; i < c.count; ++i) {
        const uint32_t host[2] = {CM_RESOLVER_HOST, 0};
        const uint32_t dc[2] = {CM_RESOLVER_DC, 0};
        cmResolverRemoveMethod(host, &c.servers[i]);
        cmResolverRemoveMethod(dc, &c.servers[i]);
    }
    c.count = 0;
}

void parseServers(DnsContext &c, const CMWchar *list)
{
    const CMWchar *p = list;
    while (p != nullptr && *p != 0 && c.count < CM_DNS_MAX_SERVERS) {
        const CMWchar *end = p;
        while (*end != 0 && *end != ';')
            ++end;
        uint32_t len = static_cast<uint32_t>(end - p);
        if (len > 0 && len <= kEntryMax) {
            char entry[kEntryMax + 1];
            for (uint32_t i = 0; i < len; ++i)
                entry[i] = static_cast<char>(p[i] & 0xFF);
            entry[len] = '\0';
            uint32_t address = 0;
            if (cmAsciiToIp(entry, &address) == 0) {
                c.servers[c.count++] = address;
                replaceMethod(CM_RESOLVER_HOST, 0, 2, address);
                replaceMethod(CM_RESOLVER_DC, 0, 2, address);
            }
        }
        p = *end == ';' ? end + 1 : end;
    }
}

void loadParameters(DnsContext &c)
{
    if (c.configured)
        return;
    static CMWchar domain[CM_DNS_DOMAIN_MAX + 2];
    static CMWchar servers[kServerListUnits + 1];
    std::memset(domain, 0, sizeof domain);
    std::memset(servers, 0, sizeof servers);
    udGetDnsParams(domain, servers);
    domain[CM_DNS_DOMAIN_MAX] = 0;
    servers[kServerListUnits] = 0;
    {
        MutexHold hold(c.nameMutex);
        cmUnicodeToAnsiN(c.domain, domain, 2 * CM_DNS_DOMAIN_MAX);
    }
    dropServers(c);
    parseServers(c, servers);
    c.llmnr = llmnrGroup();
    replaceMethod(CM_RESOLVER_HOST, 1, 4, c.llmnr);
}

}  // namespace

extern "C" {

int nsDnsInit(void)
{
    if (gDns != nullptr)
        return 0;
    auto *c = static_cast<DnsContext *>(cmMemoryAllocNonDebug(sizeof(DnsContext)));
    if (c == nullptr) {
        sySetLastVxError(CM_ERR_NOMEM);
        return -1;
    }
    std::memset(c, 0, sizeof *c);
    if (syMutexCreate(&c->mutex) != 0) {
        cmMemoryFreeNonDebug(c);
        sySetLastVxError(CM_ERR_NOMEM);
        return -1;
    }
    if (syMutexCreate(&c->nameMutex) != 0) {
        syMutexDelete(&c->mutex);
        cmMemoryFreeNonDebug(c);
        sySetLastVxError(CM_ERR_NOMEM);
        return -1;
    }
    c->queryId = 1;
    gDns = c;
    MutexHold hold(c->mutex);
    loadParameters(*c);
    return 0;
}

void nsDnsExit(void)
{
    DnsContext *c = gDns;
    if (c == nullptr)
        return;
    {
        MutexHold hold(c->mutex);
        dropServers(*c);
        const uint32_t llmnr[2] = {CM_RESOLVER_HOST, 1};
        cmResolverRemoveMethod(llmnr, &c->llmnr);
        gDns = nullptr;
    }
    syMutexDelete(&c->nameMutex);
    syMutexDelete(&c->mutex);
    cmMemoryFreeNonDebug(c);
}

int nsDnsClearTargetAddress(void) { return 0; }

int nsDnsSetTargetAddresses(void)
{
    if (cmNetBiosGetHostNameZeroed()[0] == '\0')
        return 0;
    cmSelfipIterate();
    bool any = cmSelfipNext() != nullptr;
    cmSelfipTerminate();
    return any ? 0 : -1;
}

int cmDnsSetDomainA(const char *domain)
{
    if (domain == nullptr || domain[0] == '\0' ||
        strnlen(domain, CM_DNS_DOMAIN_MAX + 2) >= CM_DNS_DOMAIN_MAX + 2)
        return -1;
    if (gDns == nullptr)
        return -1;
    MutexHold hold(gDns->mutex);
    MutexHold names(gDns->nameMutex);
    size_t n = strnlen(domain, CM_DNS_DOMAIN_MAX);
    std::memcpy(gDns->domain, domain, n);
    gDns->domain[n] = '\0';
    gDns->configured = 1;
    return 0;
}

int cmDnsSetDomainW(const CMWchar *domain)
{
    if (domain == nullptr)
        return -1;
    char narrow[CM_DNS_DOMAIN_MAX + 2];
    cmUnicodeToAnsiN(narrow, domain, 2 * (CM_DNS_DOMAIN_MAX + 1));
    return cmDnsSetDomainA(narrow);
}

void cmDnsSetServersW(const CMWchar *list)
{
    if (gDns == nullptr)
        return;
    MutexHold hold(gDns->mutex);
    gDns->configured = 1;
    dropServers(*gDns);
    if (list != nullptr && list[0] != 0)
        parseServers(*gDns, list);
}

void cmDnsSetServersA(const char *list)
{
    if (list == nullptr) {
        cmDnsSetServersW(nullptr);
        return;
    }
    CMWchar *wide = cmMemoryCloneAStringNonDebug(list);
    if (wide != nullptr)
        cmDnsSetServersW(wide);
    cmMemoryFreeNonDebug(wide);
}

int nsDnsGetHostNameByService(const char *service, char *result)
{
    if (gDns == nullptr || service == nullptr || service[0] == '\0' || result == nullptr)
        return -1;
    result[0] = '\0';
    uint32_t address = 0;
    if (std::strlen(service) > 2 && cmAsciiToIp(service + 2, &address) == 0)
        return -1;
    char name[CM_DNS_NAME_MAX + 1];
    std::memset(name, 0, sizeof name);
    std::strncpy(name, service, CM_DNS_NAME_MAX);
    uint32_t servers[CM_DNS_MAX_SERVERS];
    uint32_t count = 0;
    {
        MutexHold hold(gDns->mutex);
        loadParameters(*gDns);
        MutexHold names(gDns->nameMutex);
        size_t used = std::strlen(name);
        size_t domain = std::strlen(gDns->domain);
        if (std::strchr(name, '.') == nullptr && domain > 0 && used + 1 + domain <= CM_DNS_NAME_MAX) {
            name[used] = '.';
            std::memcpy(name + used + 1, gDns->domain, domain + 1);
        }
        count = gDns->count;
        std::memcpy(servers, gDns->servers, count * sizeof(uint32_t));
    }
    bool found = false;
    for (uint32_t i = 0; i < count; ++i) {
        int socket = syCreateSocket(0, 0);
        if (socket < 0)
            continue;
        Asked asked{};
        asked.target = servers[i];
        void *context = nullptr;
        if (sendQuery(socket, name, CM_DNS_TYPE_SRV, servers[i], &asked.ids[0]) == 0 && socket < FD_SETSIZE) {
            asked.idCount = 1;
            fd_set set;
            FD_ZERO(&set);
            FD_SET(socket, &set);
            if (sySelectSocket(socket, &set, kServiceWaitSeconds) > 0) {
                uint8_t buffer[kHostAnswerSize];
                uint16_t id = 0;
                context = &asked;
                int n = receiveAnswer(socket, &context, buffer, sizeof buffer, &id);
                char names[kHostAnswerSize];
                uint32_t taken = 0;
                if (n > 0 && nsDnsParseAnswers(buffer, static_cast<uint32_t>(n), id, CM_DNS_TYPE_SRV, nullptr,
                                               1, &taken, names, sizeof names) == 0) {
                    std::strncpy(result, names, CM_DNS_NAME_MAX);
                    result[CM_DNS_NAME_MAX] = '\0';
                    found = true;
                }
            }
        }
        syCloseSocket(socket);
    }
    return found ? 0 : -1;
}

}  // extern "C"
