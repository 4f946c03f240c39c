// Domain controllers: the first candidate of the controller methods that has
// an address, cached per domain (found for 60 s, not found for 10 s), and the
// own domain's controller kept for the rest of the process.
#include "cmresolver.h"

#include "cmlist.h"
#include "cmmemory.h"
#include "cmnetbios.h"
#include "cmstring.h"
#include "resolver_internal.h"
#include "syerror.h"
#include "sythread.h"

#include <cstring>

namespace {

constexpr int32_t kNoController = CM_ERRNO(0x03EB);
constexpr uint32_t kFoundLifetime = 60;
constexpr uint32_t kNotFoundLifetime = 10;

struct DcEntry {
    uint32_t stored;
    uint32_t lifetime;
    uint32_t found;
    uint32_t permanent;
    char dc[CM_DC_NAME_MAX + 1];
};

struct DcState {
    SYMutex mutex;
    CMList cache;
    uint32_t ownKnown;
    char ownDc[CM_DC_NAME_MAX + 1];
    char ownDomain[CM_NB_FULL_NAME_MAX + 1];
};

DcState *gState = nullptr;

DcEntry *entryOf(CMItem *item) { return static_cast<DcEntry *>(CM_ITEM_DATA(item)); }

// Text into a fixed buffer of size bytes, cut to fit.
void copyText(char *dest, const char *src, size_t size)
{
    size_t n = strnlen(src, size - 1);
    std::memcpy(dest, src, n);
    dest[n] = '\0';
}

void purge(DcState &s)
{
    uint32_t now = cm::resolverNow();
    CMIterator it;
    cmListIteratorStart(&s.cache, &it);
    while (it.next != nullptr) {
        CMItem *item = cmListIteratorNext(&it);
        DcEntry *e = entryOf(item);
        if (!e->permanent && now - e->stored > e->lifetime)
            cmListItemRemoveAndDispose(item);
    }
    cmListIteratorTerminate(&it);
}

void store(DcState &s, const CMWchar *domain, const char *dc, uint32_t found, uint32_t lifetime,
           uint32_t permanent)
{
    if (CMItem *old = cmListItemFind(&s.cache, domain, 1, 0))
        cmListItemRemoveAndDispose(old);
    CMItem *item = cmListItemCreateAndAdd(&s.cache, sizeof(CMItem) + sizeof(DcEntry), domain, nullptr,
                                          CM_LISTITEM_NOGUARD);
    if (item == nullptr)
        return;
    DcEntry *e = entryOf(item);
    e->stored = cm::resolverNow();
    e->lifetime = lifetime;
    e->found = found;
    e->permanent = permanent;
    copyText(e->dc, dc, sizeof e->dc);
}

// Asks the resolver: the first candidate with an address.
bool lookup(const CMWchar *domain, char *dc)
{
    int count = 0;
    CMWchar *names = cmResolverGetDCName(domain, &count);
    bool found = false;
    const CMWchar *name = names;
    for (int i = 0; names != nullptr && i < count && !found; ++i) {
        int ipCount = 0;
        uint32_t *ips = cmResolverGetHostIps(name, &ipCount);
        if (ips != nullptr && ipCount > 0) {
            char narrow[CM_RESOLVER_NAME_SIZE] = {};
            cmUnicodeToAnsiN(narrow, name, 2 * CM_DC_NAME_MAX);
            copyText(dc, narrow, CM_DC_NAME_MAX + 1);
            found = true;
        }
        cmMemoryFreeNonDebug(ips);
        name += cmWStrlen(name) + 1;
    }
    cmMemoryFreeNonDebug(names);
    return found;
}

}  // namespace

extern "C" {

int cmFindDCInit(void)
{
    if (gState != nullptr)
        return 0;
    auto *s = static_cast<DcState *>(cmMemoryAllocNonDebug(sizeof(DcState)));
    if (s == nullptr) {
        sySetLastVxError(CM_ERR_NOMEM);
        return -1;
    }
    std::memset(s, 0, sizeof *s);
    if (syMutexCreate(&s->mutex) != 0) {
        cmMemoryFreeNonDebug(s);
        return -1;
    }
    cmListStart(&s->cache);
    gState = s;
    return 0;
}

void cmFindDCExit(void)
{
    DcState *s = gState;
    if (s == nullptr)
        return;
    syMutexTake(&s->mutex);
    gState = nullptr;
    cmListShutdown(&s->cache);
    syMutexGive(&s->mutex);
    syMutexDelete(&s->mutex);
    cmMemoryFreeNonDebug(s);
}

int cmGetDCNameByDomain(const char *domain, char *dc)
{
    if (domain == nullptr || dc == nullptr) {
        sySetLastVxError(kNoController);
        return -1;
    }
    CMWchar *wdomain = cmMemoryCloneAStringNonDebug(domain);
    if (wdomain == nullptr) {
        sySetLastVxError(CM_ERR_NOMEM);
        return -1;
    }
    DcState *s = gState;
    int result = -1;
    if (s != nullptr)
        syMutexTake(&s->mutex);
    bool cached = false;
    if (s != nullptr) {
        purge(*s);
        if (CMItem *hit = cmListItemFind(&s->cache, wdomain, 1, 0)) {
            cached = true;
            DcEntry *e = entryOf(hit);
            copyText(dc, e->found ? e->dc : "", CM_DC_NAME_MAX + 1);
            result = e->found ? 0 : -1;
        }
    }
    if (!cached) {
        dc[0] = '\0';
        result = lookup(wdomain, dc) ? 0 : -1;
        if (s != nullptr)
            store(*s, wdomain, dc, result == 0, result == 0 ? kFoundLifetime : kNotFoundLifetime, 0);
    }
    if (s != nullptr)
        syMutexGive(&s->mutex);
    cmMemoryFreeNonDebug(wdomain);
    if (result != 0)
        sySetLastVxError(kNoController);
    return result;
}

int cmGetDCName(char *dc, char *domainOut)
{
    if (dc == nullptr) {
        sySetLastVxError(kNoController);
        return -1;
    }
    DcState *s = gState;
    if (s == nullptr || !s->ownKnown) {
        const char *full = cmGetFullDomainName();
        char domain[CM_NB_FULL_NAME_MAX + 1];
        copyText(domain, full != nullptr ? full : cmNetBiosGetDomain()->name, sizeof domain);
        char found[CM_DC_NAME_MAX + 1] = {};
        if (cmGetDCNameByDomain(domain, found) != 0) {
            sySetLastVxError(kNoController);
            return -1;
        }
        if (s == nullptr) {
            copyText(dc, found, CM_DC_NAME_MAX + 1);
            if (domainOut != nullptr)
                copyText(domainOut, domain, CM_NB_FULL_NAME_MAX + 1);
            return 0;
        }
        syMutexTake(&s->mutex);
        s->ownKnown = 1;
        copyText(s->ownDc, found, sizeof s->ownDc);
        copyText(s->ownDomain, domain, sizeof s->ownDomain);
        CMWchar wname[CM_NB_FULL_NAME_MAX + 1];
        cmAnsiToUnicode(wname, domain);
        store(*s, wname, found, 1, kFoundLifetime, 1);
        char auth[CM_NB_NAME_SIZE + 1];
        copyText(auth, cmNetBiosGetDomainAuth()->name, sizeof auth);
        if (auth[0] != '\0') {
            cmAnsiToUnicode(wname, auth);
            store(*s, wname, found, 1, kFoundLifetime, 1);
        }
        syMutexGive(&s->mutex);
    }
    syMutexTake(&s->mutex);
    copyText(dc, s->ownDc, CM_DC_NAME_MAX + 1);
    if (domainOut != nullptr)
        copyText(domainOut, s->ownDomain, CM_NB_FULL_NAME_MAX + 1);
    syMutexGive(&s->mutex);
    return 0;
}

}  // extern "C"
