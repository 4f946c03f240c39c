// The host's own names: NetBIOS host name in its three paddings, workgroup or
// domain, the domain used for authentication, the scope and the full DNS
// names. Built once at start and again when the daemon's configuration changes.
#include "cmnetbios.h"

#include "cmmemory.h"
#include "cmstring.h"
#include "udhooks.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace {

constexpr uint32_t kDomainBufferBytes = 2056;
constexpr uint32_t kScopeBufferUnits = 256;
constexpr char kDefaultWorkgroup[] = "WORKGROUP";

struct Identity {
    char scope[CM_NB_SCOPE_MAX + 1];
    uint32_t scopeLength;
    CMNetBiosNameInfo host;
    char hostZeroed[CM_NB_NAME_SIZE + 1];
    char hostSpaced[CM_NB_NAME_SIZE + 1];
    CMNetBiosNameInfo domain;
    CMNetBiosNameInfo domainAuth;
    uint32_t hasFullDomain;
    char fullDomain[CM_NB_FULL_NAME_MAX + 1];
    char fullHost[CM_NB_FULL_NAME_MAX + 1];
    CMWchar scopeWork[kScopeBufferUnits];
    CMWchar domainWork[kDomainBufferBytes / sizeof(CMWchar)];
};

Identity *gIdentity = nullptr;

// What readers see before the block exists.
const CMNetBiosNameInfo kEmptyRecord = {};

// Narrows at most max units, up to the first zero unit; dest gets max + 1 bytes.
void narrow(char *dest, const CMWchar *src, uint32_t max)
{
    cmUnicodeToAnsiN(dest, src, max * sizeof(CMWchar));
}

bool hasDot(const CMWchar *text)
{
    for (; *text != 0; ++text)
        if (*text == '.')
            return true;
    return false;
}

void build(Identity &id)
{
    // Scope: a configured one longer than the block holds is cut.
    std::memset(id.scopeWork, 0, sizeof id.scopeWork);
    udGetScopeID(id.scopeWork);
    id.scopeWork[kScopeBufferUnits - 1] = 0;
    narrow(id.scope, id.scopeWork, CM_NB_SCOPE_MAX);
    id.scopeLength = static_cast<uint32_t>(std::strlen(id.scope));

    cmNetBiosReadSystemHostName(id.host.name, ' ');
    id.host.isGroup = 0;
    cmNetBiosReadSystemHostName(id.hostZeroed, '\0');
    cmNetBiosReadSystemHostName(id.hostSpaced, ' ');
    if (id.hostSpaced[0] == '\0')
        std::memset(id.hostSpaced, ' ', CM_NB_NAME_SIZE + 1);

    int flag = 1;
    std::memset(id.domainWork, 0, sizeof id.domainWork);
    udGetDomain(id.domainWork, kDomainBufferBytes, &flag);
    id.domainWork[kDomainBufferBytes / sizeof(CMWchar) - 1] = 0;
    std::memset(id.domain.name, 0, sizeof id.domain.name);
    narrow(id.domain.name, id.domainWork, CM_NB_NAME_SIZE);
    id.domain.isGroup = static_cast<uint32_t>(flag);
    if (id.domain.name[0] == '\0') {
        std::memcpy(id.domain.name, kDefaultWorkgroup, sizeof kDefaultWorkgroup);
        id.domain.isGroup = 1;
    }
    id.domainAuth = id.domain;

    flag = 1;
    std::memset(id.domainWork, 0, sizeof id.domainWork);
    udGetDomain(id.domainWork, kDomainBufferBytes, &flag);
    id.domainWork[kDomainBufferBytes / sizeof(CMWchar) - 1] = 0;
    id.hasFullDomain = flag == 0 && hasDot(id.domainWork) ? 1 : 0;
    if (id.hasFullDomain)
        narrow(id.fullDomain, id.domainWork, CM_NB_FULL_NAME_MAX);
    else
        id.fullDomain[0] = '\0';

    char host[CM_NB_NAME_SIZE + 1];
    cmNetBiosReadSystemHostName(host, '\0');
    std::strcpy(id.fullHost, host);
    if (id.hasFullDomain) {
        size_t used = std::strlen(id.fullHost);
        size_t room = CM_NB_FULL_NAME_MAX - used;
        if (room > 0) {
            id.fullHost[used++] = '.';
            std::strncat(id.fullHost + used, id.fullDomain, room - 1);
        }
    }
}

}  // namespace

extern "C" {

void cmNetBiosReadSystemHostName(char *buffer17, char pad)
{
    if (buffer17 == nullptr)
        return;
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        name[0] = '\0';
    size_t len = 0;
    while (len < CM_NB_NAME_SIZE && name[len] != '\0' && name[len] != '.')
        ++len;
    for (size_t i = 0; i < len; ++i)
        buffer17[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    std::memset(buffer17 + len, len == 0 ? '\0' : pad, CM_NB_NAME_SIZE + 1 - len);
}

int cmNetBiosNameInit(void)
{
    auto *fresh = static_cast<Identity *>(cmMemoryAllocNonDebug(sizeof(Identity)));
    if (fresh == nullptr) {
        errno = CM_ERR_NOMEM;
        return -1;
    }
    std::memset(fresh, 0, sizeof *fresh);
    build(*fresh);
    Identity *old = gIdentity;
    gIdentity = fresh;
    cmMemoryFreeNonDebug(old);
    return 0;
}

void cmNetBiosNameExit(void)
{
    cmMemoryFreeNonDebug(gIdentity);
    gIdentity = nullptr;
}

int cmNetBiosInit(void) { return cmNetBiosNameInit(); }

void cmNetBiosExit(void) { cmNetBiosNameExit(); }

const char *cmNetBiosGetScope(void) { return gIdentity != nullptr ? gIdentity->scope : ""; }

uint32_t cmNetBiosGetScopeLength(void) { return gIdentity != nullptr ? gIdentity->scopeLength : 0; }

const CMNetBiosNameInfo *cmNetBiosGetHostNameInfo(void)
{
    return gIdentity != nullptr ? &gIdentity->host : &kEmptyRecord;
}

const char *cmNetBiosGetHostNameZeroed(void)
{
    return gIdentity != nullptr ? gIdentity->hostZeroed : kEmptyRecord.name;
}

const char *cmNetBiosGetHostNameSpaced(void)
{
    return gIdentity != nullptr ? gIdentity->hostSpaced : kEmptyRecord.name;
}

const CMNetBiosNameInfo *cmNetBiosGetDomain(void)
{
    return gIdentity != nullptr ? &gIdentity->domain : &kEmptyRecord;
}

const CMNetBiosNameInfo *cmNetBiosGetDomainAuth(void)
{
    return gIdentity != nullptr ? &gIdentity->domainAuth : &kEmptyRecord;
}

const char *cmGetFullHostName(void) { return gIdentity != nullptr ? gIdentity->fullHost : ""; }

const char *cmGetFullDomainName(void)
{
    return gIdentity != nullptr && gIdentity->hasFullDomain ? gIdentity->fullDomain : nullptr;
}

void cmNetBiosSetDomainAuth(const CMWchar *wname)
{
    if (gIdentity == nullptr)
        return;
    std::memset(gIdentity->domainAuth.name, 0, sizeof gIdentity->domainAuth.name);
    if (wname != nullptr)
        narrow(gIdentity->domainAuth.name, wname, CM_NB_NAME_SIZE);
}

}  // extern "C"
