// The name resolver: registered methods asked one priority at a time, each on
// its own datagram socket and all of a priority with one select; the union of
// their answers, own networks first; a short cache and the host's external
// lookups behind them.
#include "cmresolver.h"

#include "cmlist.h"
#include "cmmemory.h"
#include "cmselfip.h"
#include "cmstring.h"
#include "resolver_internal.h"
#include "sysockets.h"
#include "mutex_hold.h"
#include "sythread.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kDefaultLifetime = 10;
constexpr uint32_t kPriorities = 5;
constexpr int kMaxAddresses = 64;
// Datagrams thrown away per method when a lookup starts: a flood cannot hold it.
constexpr int kMaxDrained = 4096;
// The published suffix of an IPv6 address written as a host name in UNC paths.
constexpr char kIpv6LiteralSuffix[] = ".ipv6-literal.net";

struct Method {
    CMResolverMethodDescriptor d;
    int socket;
    uint32_t server;
    void *context;
    int status;
    uint32_t enabled;
};

struct CacheEntry {
    uint32_t stored;
    uint32_t *ips;
    int count;
};

struct Context {
    SYMutex mutex;
    CMList methods;
    CMList cache;
    uint32_t cacheOn;
    uint32_t lifetime;
    CMResolverNameToIpA nameToIpA;
    CMResolverNameToIpW nameToIpW;
    CMResolverIpToNameA ipToNameA;
    CMResolverIpToNameW ipToNameW;
};

Context *gContext = nullptr;
uint32_t (*gClock)(void) = nullptr;

uint64_t nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_nsec) / 1000000;
}

Method *methodOf(CMItem *item) { return static_cast<Method *>(CM_ITEM_DATA(item)); }
CacheEntry *entryOf(CMItem *item) { return static_cast<CacheEntry *>(CM_ITEM_DATA(item)); }

const uint32_t *serverOf(const Method &m) { return &m.server; }

bool isDcMethod(const Method &m)
{
    return m.d.type == CM_RESOLVER_DC || m.d.type == CM_RESOLVER_DC_TWO_STAGE;
}

void disposeMethod(CMItem *item)
{
    Method *m = methodOf(item);
    if (m->socket >= 0)
        syCloseSocket(m->socket);
    cmMemoryFreeNonDebug(m->context);
    cmListItemRemoveAndDispose(item);
}

void disposeEntry(CMItem *item)
{
    cmMemoryFreeNonDebug(entryOf(item)->ips);
    cmListItemRemoveAndDispose(item);
}

// Every item of a list for which pick says so, disposed of by drop.
template <class Pick, class Drop> void removeIf(CMList &list, Pick pick, Drop drop)
{
    CMIterator it;
    cmListIteratorStart(&list, &it);
    while (it.next != nullptr) {
        CMItem *item = cmListIteratorNext(&it);
        if (pick(item))
            drop(item);
    }
    cmListIteratorTerminate(&it);
}

template <class Visit> void forEach(CMList &list, Visit visit)
{
    CMIterator it;
    cmListIteratorStart(&list, &it);
    while (it.next != nullptr) {
        if (!visit(cmListIteratorNext(&it)))
            break;
    }
    cmListIteratorTerminate(&it);
}

void purgeCache(Context &c)
{
    uint32_t now = cm::resolverNow();
    removeIf(
        c.cache, [&](CMItem *item) { return c.lifetime == 0 || now - entryOf(item)->stored > c.lifetime; },
        disposeEntry);
}

// Every method starts the lookup unasked, without context and with nothing
// left waiting on its socket from an earlier one.
void resetMethods(Context &c)
{
    forEach(c.methods, [](CMItem *item) {
        Method *m = methodOf(item);
        m->status = CM_RESOLVER_PENDING;
        cmMemoryFreeNonDebug(m->context);
        m->context = nullptr;
        if (m->socket < 0 || m->socket >= FD_SETSIZE)
            return true;
        for (int i = 0; i < kMaxDrained; ++i) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(m->socket, &set);
            if (sySelectSocket(m->socket, &set, 0) <= 0)
                break;
            uint8_t scrap[2];
            if (syRecvFromSocket(m->socket, scrap, sizeof scrap, nullptr, nullptr) < 0)
                break;
        }
        return true;
    });
}

// The addresses of one lookup: no duplicates, bounded.
class Addresses {
public:
    void add(const uint32_t *ips, int count)
    {
        for (int i = 0; i < count && static_cast<int>(ips_.size()) < kMaxAddresses; ++i)
            if (std::find(ips_.begin(), ips_.end(), ips[i]) == ips_.end())
                ips_.push_back(ips[i]);
    }
    bool empty() const { return ips_.empty(); }
    std::vector<uint32_t> &ips() { return ips_; }

private:
    std::vector<uint32_t> ips_;
};

// One priority step: the methods asked, the answers still expected, and a
// clock that the second stage of a controller lookup may restart.
struct Step {
    std::vector<Method *> waiting;
    int expected = 0;
    uint64_t timeoutMs = 0;
    uint64_t startMs = 0;
    bool answered = false;
    bool finished = false;
    bool failed = false;

    void extend(uint64_t timeout)
    {
        if (timeout > timeoutMs) {
            timeoutMs = timeout;
            startMs = nowMs();
        }
        timeoutMs += 1;
    }
};

uint64_t timeoutOf(const Method &m)
{
    return (static_cast<uint64_t>(m.d.timeout.high) << 32) | m.d.timeout.low;
}

// Asks every enabled method of this priority that pick accepts.
template <class Pick, class Ask> void ask(Context &c, uint32_t priority, Step &step, Pick pick, Ask request)
{
    forEach(c.methods, [&](CMItem *item) {
        Method *m = methodOf(item);
        if (!m->enabled || m->d.priority != priority || m->status != CM_RESOLVER_PENDING || !pick(*m))
            return true;
        int r = request(*m);
        if (r < 0) {
            m->status = r;
            return true;
        }
        m->status = 0;
        step.expected += r > 1 ? r : 1;
        if (m->socket >= 0 && m->socket < FD_SETSIZE)
            step.waiting.push_back(m);
        step.timeoutMs = std::max(step.timeoutMs, timeoutOf(*m));
        return true;
    });
}

// Waits for the answers of a step. answer(method, step) reads one and gives
// the method's new status; a datagram that the method ignored
// (CM_RESOLVER_PENDING) is no answer and leaves the count expected alone.
template <class Answer> void wait(Step &step, Answer answer)
{
    step.startMs = nowMs();
    while (step.expected > 0 && !step.finished && !step.waiting.empty()) {
        uint64_t elapsed = nowMs() - step.startMs;
        if (elapsed >= step.timeoutMs)
            break;
        uint64_t remaining = step.timeoutMs - elapsed;
        fd_set set;
        FD_ZERO(&set);
        int maxSocket = -1;
        for (Method *m : step.waiting) {
            FD_SET(m->socket, &set);
            maxSocket = std::max(maxSocket, m->socket);
        }
        int ready = sySelectSocket(maxSocket, &set, static_cast<uint32_t>((remaining + 999) / 1000));
        if (ready < 0) {
            step.failed = true;
            break;
        }
        if (ready == 0)
            continue;
        std::vector<Method *> readable;
        for (Method *m : step.waiting)
            if (FD_ISSET(m->socket, &set))
                readable.push_back(m);
        for (Method *m : readable) {
            int r = answer(*m, step);
            m->status = r;
            if (r != CM_RESOLVER_PENDING)
                --step.expected;
            if (r != 0 && r != CM_RESOLVER_PENDING && r != -1)
                step.waiting.erase(std::find(step.waiting.begin(), step.waiting.end(), m));
            if (step.finished)
                break;
        }
    }
}

// Addresses on one of the host's own networks first, each group in its order.
void ownNetworksFirst(std::vector<uint32_t> &ips)
{
    if (ips.size() < 2)
        return;
    std::vector<uint32_t> ordered;
    cmSelfipIterate();
    while (const CMSelfIp *self = cmSelfipNext()) {
        for (uint32_t a : ips)
            if (self->mask != 0 && (a & self->mask) == (self->ip & self->mask) &&
                std::find(ordered.begin(), ordered.end(), a) == ordered.end())
                ordered.push_back(a);
    }
    cmSelfipTerminate();
    for (uint32_t a : ips)
        if (std::find(ordered.begin(), ordered.end(), a) == ordered.end())
            ordered.push_back(a);
    ips.swap(ordered);
}

void cacheStore(Context &c, const CMWchar *name, const uint32_t *ips, int count)
{
    if (!c.cacheOn || count <= 0)
        return;
    auto *copy =
        static_cast<uint32_t *>(cmMemoryAllocNonDebug(static_cast<uint32_t>(count) * sizeof(uint32_t)));
    if (copy == nullptr)
        return;
    CMItem *item = cmListItemCreateAndAdd(&c.cache, sizeof(CMItem) + sizeof(CacheEntry), name, nullptr,
                                          CM_LISTITEM_NOGUARD);
    if (item == nullptr) {
        cmMemoryFreeNonDebug(copy);
        return;
    }
    std::memcpy(copy, ips, static_cast<size_t>(count) * sizeof(uint32_t));
    *entryOf(item) = CacheEntry{cm::resolverNow(), copy, count};
}

uint32_t *copyOut(const std::vector<uint32_t> &ips, int *count)
{
    auto *out =
        static_cast<uint32_t *>(cmMemoryAllocNonDebug(static_cast<uint32_t>(ips.size()) * sizeof(uint32_t)));
    if (out == nullptr)
        return nullptr;
    std::copy(ips.begin(), ips.end(), out);
    *count = static_cast<int>(ips.size());
    return out;
}

uint32_t *hostIps(Context &c, const CMWchar *name, int *count)
{
    purgeCache(c);
    if (c.cacheOn) {
        CMItem *hit = cmListItemFind(&c.cache, name, 1, 0);
        if (hit != nullptr) {
            CacheEntry *e = entryOf(hit);
            return copyOut(std::vector<uint32_t>(e->ips, e->ips + e->count), count);
        }
    }
    resetMethods(c);
    Addresses result;
    bool failed = false;
    for (uint32_t priority = 1; priority <= kPriorities && result.empty() && !failed; ++priority) {
        Step step;
        ask(
            c, priority, step, [](const Method &m) { return !isDcMethod(m) && m.d.requestByName != nullptr; },
            [&](Method &m) { return m.d.requestByName(m.socket, name, &m.context, serverOf(m)); });
        wait(step, [&](Method &m, Step &s) {
            if (m.d.responseByName == nullptr)
                return -2;
            uint32_t *ips = nullptr;
            int n = 0;
            int r = m.d.responseByName(m.socket, &ips, &n, &m.context);
            if (r == 0 && ips != nullptr && n > 0) {
                result.add(ips, n);
                s.answered = true;
            }
            cmMemoryFreeNonDebug(ips);
            return r;
        });
        failed = step.failed;
    }
    if (result.empty()) {
        uint32_t ip = 0;
        if (c.nameToIpW != nullptr) {
            for (int i = 0; i < kMaxAddresses && c.nameToIpW(name, &ip, i) == 4; ++i)
                result.add(&ip, 1);
        } else if (c.nameToIpA != nullptr) {
            char *narrow = cmMemoryCloneWStringAsAsciiNonDebug(name);
            for (int i = 0; narrow != nullptr && i < kMaxAddresses && c.nameToIpA(narrow, &ip, i) == 4; ++i)
                result.add(&ip, 1);
            cmMemoryFreeNonDebug(narrow);
        }
    }
    if (result.empty())
        return nullptr;
    ownNetworksFirst(result.ips());
    cacheStore(c, name, result.ips().data(), static_cast<int>(result.ips().size()));
    return copyOut(result.ips(), count);
}

CMWchar *hostName(Context &c, const uint32_t *ip)
{
    purgeCache(c);
    if (c.cacheOn) {
        CMWchar *found = nullptr;
        forEach(c.cache, [&](CMItem *item) {
            CacheEntry *e = entryOf(item);
            if (item->name != nullptr && std::find(e->ips, e->ips + e->count, *ip) != e->ips + e->count) {
                found = cmMemoryCloneWStringNonDebug(item->name);
                return false;
            }
            return true;
        });
        if (found != nullptr)
            return found;
    }
    resetMethods(c);
    CMWchar name[CM_RESOLVER_NAME_SIZE] = {};
    bool done = false;
    bool failed = false;
    for (uint32_t priority = 1; priority <= kPriorities && !done && !failed; ++priority) {
        Step step;
        ask(
            c, priority, step, [](const Method &m) { return !isDcMethod(m) && m.d.requestByIp != nullptr; },
            [&](Method &m) { return m.d.requestByIp(m.socket, ip, &m.context, serverOf(m)); });
        wait(step, [&](Method &m, Step &s) {
            if (m.d.responseByIp == nullptr)
                return -2;
            CMWchar answer[CM_RESOLVER_NAME_SIZE] = {};
            int r = m.d.responseByIp(m.socket, answer, &m.context, nullptr);
            answer[CM_RESOLVER_NAME_SIZE - 1] = 0;
            if (r == 0 && answer[0] != 0) {
                cmWStrcpy(name, answer);
                s.finished = true;
            }
            return r;
        });
        done = step.finished;
        failed = step.failed;
    }
    if (!done) {
        if (c.ipToNameW != nullptr) {
            done = c.ipToNameW(name, ip, CM_RESOLVER_NAME_SIZE) != 0;
        } else if (c.ipToNameA != nullptr) {
            char narrow[CM_RESOLVER_NAME_SIZE] = {};
            done = c.ipToNameA(narrow, ip, CM_RESOLVER_NAME_SIZE) != 0;
            narrow[CM_RESOLVER_NAME_SIZE - 1] = '\0';
            cmAnsiToUnicode(name, narrow);
        }
        name[CM_RESOLVER_NAME_SIZE - 1] = 0;
    }
    if (!done || name[0] == 0)
        return nullptr;
    cacheStore(c, name, ip, 1);
    return cmMemoryCloneWStringNonDebug(name);
}

// The number of names in a block of zero-terminated names, bounded by count.
CMWchar *dcNames(Context &c, const CMWchar *domain, int *count)
{
    resetMethods(c);
    CMWchar *names = nullptr;
    bool failed = false;
    for (uint32_t priority = 1; priority <= kPriorities && names == nullptr && !failed; ++priority) {
        Step step;
        bool secondStage = false;
        ask(
            c, priority, step, [](const Method &m) { return isDcMethod(m) && m.d.requestByName != nullptr; },
            [&](Method &m) { return m.d.requestByName(m.socket, domain, &m.context, serverOf(m)); });
        wait(step, [&](Method &m, Step &s) {
            if (m.d.type == CM_RESOLVER_DC_TWO_STAGE && !secondStage) {
                if (m.d.responseByName == nullptr || m.d.requestByIp == nullptr)
                    return -2;
                uint32_t *block = nullptr;
                int n = 0;
                int r = m.d.responseByName(m.socket, &block, &n, &m.context);
                if (r == 0 && block != nullptr) {
                    secondStage = true;
                    const CMWchar *candidate = reinterpret_cast<const CMWchar *>(block);
                    for (int i = 0; i < n; ++i) {
                        if (m.d.requestByIp(m.socket, reinterpret_cast<const uint32_t *>(candidate),
                                            &m.context, serverOf(m)) >= 0) {
                            ++s.expected;
                            s.extend(timeoutOf(m));
                        }
                        candidate += cmWStrlen(candidate) + 1;
                    }
                }
                cmMemoryFreeNonDebug(block);
                return r;
            }
            if (m.d.responseByIp == nullptr)
                return -2;
            CMWchar scrap[CM_RESOLVER_NAME_SIZE] = {};
            uint32_t n = 0;
            int r = m.d.responseByIp(m.socket, scrap, &m.context, &n);
            if (r == 0 && m.context != nullptr && n > 0) {
                names = static_cast<CMWchar *>(m.context);
                m.context = nullptr;
                *count = static_cast<int>(n);
                s.finished = true;
            }
            return r;
        });
        failed = step.failed;
    }
    return names;
}

uint32_t monotonicSeconds() { return static_cast<uint32_t>(nowMs() / 1000); }

}  // namespace

namespace cm {

uint32_t resolverNow() { return gClock != nullptr ? gClock() : monotonicSeconds(); }

}  // namespace cm

extern "C" {

int cmResolverStart(void)
{
    if (gContext != nullptr)
        return 1;
    auto *c = static_cast<Context *>(cmMemoryAllocNonDebug(sizeof(Context)));
    if (c == nullptr)
        return 0;
    std::memset(c, 0, sizeof *c);
    if (syMutexCreate(&c->mutex) != 0) {
        cmMemoryFreeNonDebug(c);
        return 0;
    }
    cmListStart(&c->methods);
    cmListStart(&c->cache);
    c->cacheOn = 1;
    c->lifetime = kDefaultLifetime;
    gContext = c;
    return 1;
}

void cmResolverShutdown(void)
{
    Context *c = gContext;
    if (c == nullptr)
        return;
    {
        MutexHold hold(c->mutex);
        removeIf(
            c->cache, [](CMItem *) { return true; }, disposeEntry);
        removeIf(
            c->methods, [](CMItem *) { return true; }, disposeMethod);
        cmListShutdown(&c->cache);
        cmListShutdown(&c->methods);
        gContext = nullptr;
    }
    syMutexDelete(&c->mutex);
    cmMemoryFreeNonDebug(c);
}

int cmResolverRegisterMethod(const CMResolverMethodDescriptor *method, const uint32_t *server)
{
    Context *c = gContext;
    if (c == nullptr || method == nullptr)
        return 0;
    MutexHold hold(c->mutex);
    CMItem *item = cmListItemCreateAndAdd(&c->methods, sizeof(CMItem) + sizeof(Method), nullptr, nullptr,
                                          CM_LISTITEM_NOGUARD);
    if (item == nullptr)
        return 0;
    Method *m = methodOf(item);
    *m = Method{*method, syCreateSocket(0, 0), server != nullptr ? *server : 0,
                nullptr, CM_RESOLVER_PENDING,  1};
    if (m->socket < 0) {
        disposeMethod(item);
        return 0;
    }
    return 1;
}

int cmResolverRegisterExternalMethod(const CMResolverExternalMethod *method)
{
    if (method == nullptr || method->server == nullptr)
        return 0;
    if (method->requestByName == nullptr && method->requestByIp == nullptr)
        return 0;
    if (method->requestByName != nullptr && method->responseByName == nullptr)
        return 0;
    if (method->requestByIp != nullptr && method->responseByIp == nullptr)
        return 0;
    CMResolverMethodDescriptor d{};
    d.type = CM_RESOLVER_EXTERNAL;
    d.isBroadcast = 0;
    d.priority = method->priorityClass == 1 ? 1 : method->priorityClass == 2 ? 3 : 5;
    uint64_t ms = static_cast<uint64_t>(method->timeoutSeconds) * 1000;
    d.timeout = CMUint64{static_cast<uint32_t>(ms), static_cast<uint32_t>(ms >> 32)};
    d.requestByName = method->requestByName;
    d.responseByName = method->responseByName;
    d.requestByIp = method->requestByIp;
    d.responseByIp = method->responseByIp;
    return cmResolverRegisterMethod(&d, method->server);
}

int cmResolverUpdateExternalMethodsPriority(uint32_t priorityClass)
{
    Context *c = gContext;
    if (c == nullptr)
        return 1;
    uint32_t priority = priorityClass == 1 ? 1 : priorityClass == 2 ? 3 : 5;
    forEach(c->methods, [&](CMItem *item) {
        if (methodOf(item)->d.type == CM_RESOLVER_EXTERNAL)
            methodOf(item)->d.priority = priority;
        return true;
    });
    return 1;
}

void cmResolverEnableMethod(uint32_t type, uint32_t unicastValue, uint32_t broadcastValue)
{
    Context *c = gContext;
    if (c == nullptr)
        return;
    MutexHold hold(c->mutex);
    forEach(c->methods, [&](CMItem *item) {
        Method *m = methodOf(item);
        if (m->d.type == type)
            m->enabled = m->d.isBroadcast ? broadcastValue : unicastValue;
        return true;
    });
}

void cmResolverRemoveMethod(const uint32_t key[2], const uint32_t *server)
{
    Context *c = gContext;
    if (c == nullptr || key == nullptr)
        return;
    uint32_t address = server != nullptr ? *server : 0;
    MutexHold hold(c->mutex);
    CMItem *victim = nullptr;
    forEach(c->methods, [&](CMItem *item) {
        Method *m = methodOf(item);
        if (m->d.type == key[0] && (m->d.isBroadcast != 0) == (key[1] != 0) && m->server == address) {
            victim = item;
            return false;
        }
        return true;
    });
    if (victim != nullptr)
        disposeMethod(victim);
}

void cmResolverCacheSet(uint32_t seconds)
{
    Context *c = gContext;
    if (c == nullptr)
        return;
    MutexHold hold(c->mutex);
    if (seconds == 0) {
        removeIf(
            c->cache, [](CMItem *) { return true; }, disposeEntry);
        c->cacheOn = 0;
        return;
    }
    c->lifetime = seconds;
    c->cacheOn = 1;
}

void cmResolverSetExternalA(CMResolverNameToIpA nameToIp, CMResolverIpToNameA ipToName)
{
    if (Context *c = gContext) {
        MutexHold hold(c->mutex);
        c->nameToIpA = nameToIp;
        c->ipToNameA = ipToName;
    }
}

void cmResolverSetExternalW(CMResolverNameToIpW nameToIp, CMResolverIpToNameW ipToName)
{
    if (Context *c = gContext) {
        MutexHold hold(c->mutex);
        c->nameToIpW = nameToIp;
        c->ipToNameW = ipToName;
    }
}

uint32_t *cmResolverGetHostIps(const CMWchar *name, int *count)
{
    int scrap = 0;
    if (count == nullptr)
        count = &scrap;
    *count = 0;
    Context *c = gContext;
    if (c == nullptr || name == nullptr || name[0] == 0)
        return nullptr;
    MutexHold hold(c->mutex);
    try {
        return hostIps(*c, name, count);
    } catch (const std::bad_alloc &) {
        *count = 0;
        return nullptr;
    }
}

CMWchar *cmResolverGetHostName(const uint32_t *ip)
{
    Context *c = gContext;
    if (c == nullptr || ip == nullptr)
        return nullptr;
    MutexHold hold(c->mutex);
    try {
        return hostName(*c, ip);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

CMWchar *cmResolverGetDCName(const CMWchar *domain, int *count)
{
    int scrap = 0;
    if (count == nullptr)
        count = &scrap;
    *count = 0;
    Context *c = gContext;
    if (c == nullptr || domain == nullptr)
        return nullptr;
    MutexHold hold(c->mutex);
    try {
        return dcNames(*c, domain, count);
    } catch (const std::bad_alloc &) {
        *count = 0;
        return nullptr;
    }
}

int cmIsIPv6Literal(const CMWchar *name)
{
    if (name == nullptr)
        return 0;
    uint32_t len = cmWStrlen(name);
    uint32_t suffix = sizeof kIpv6LiteralSuffix - 1;
    if (len < suffix)
        return 0;
    for (uint32_t i = 0; i < suffix; ++i) {
        CMWchar c = name[len - suffix + i];
        char want = kIpv6LiteralSuffix[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<CMWchar>(c - 'A' + 'a');
        if (c != static_cast<unsigned char>(want))
            return 0;
    }
    return 1;
}

void cmResolverSetClock(uint32_t (*secondsNow)(void)) { gClock = secondsNow; }

}  // extern "C"
